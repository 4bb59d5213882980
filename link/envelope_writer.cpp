#include "link/envelope_writer.h"

#include "config/config.h"
#include "link/envelope.h"
#include "text/text.h"

namespace {

constexpr std::size_t kIvSize = 16;

}  // namespace

std::string EncryptEnvelope(const std::string& plaintext, const std::string& key, bool withMac) {
  return EncryptEnvelopeWithIv(plaintext, key, RandomBytes(kIvSize), withMac);
}

std::string EncryptEnvelopeWithIv(const std::string& plaintext,
                                  const std::string& key,
                                  const std::vector<unsigned char>& iv,
                                  bool withMac) {
  std::vector<unsigned char> keyBytes(key.begin(), key.end());
  std::vector<unsigned char> plainBytes(plaintext.begin(), plaintext.end());
  std::vector<unsigned char> ciphertext;
  try {
    ciphertext = AesCbcEncrypt(plainBytes, keyBytes, iv);
  } catch (...) {
    config::SecureWipe(keyBytes.data(), keyBytes.size());
    config::SecureWipe(plainBytes.data(), plainBytes.size());
    throw;
  }
  config::SecureWipe(keyBytes.data(), keyBytes.size());
  config::SecureWipe(plainBytes.data(), plainBytes.size());

  const std::string ivText = Base64Encode(iv);
  const std::string valueText = Base64Encode(ciphertext);
  // Base64 and hex need no JSON escaping, so the document is written directly, in the member
  // order the platform's server uses.
  std::string document = "{\"iv\":\"" + ivText + "\",\"value\":\"" + valueText + "\"";
  if (withMac)
    document += ",\"mac\":\"" + HexEncode(HmacSha256(key, ivText + valueText)) + "\"";
  document += "}";
  return Base64Encode(document);
}
