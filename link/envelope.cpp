#include "link/envelope.h"

#include <cstddef>
#include <stdexcept>

#include <nlohmann/json.hpp>

#include "config/config.h"
#include "text/text.h"

namespace {

// Lower-cases an ASCII letter without a data-dependent branch.
unsigned AsciiLower(unsigned char c) {
  const unsigned isUpper = static_cast<unsigned>(static_cast<unsigned>(c) - 'A' < 26u);
  return c | (isUpper << 5);
}

// True when the tag equals the lower-case hex digest, ignoring ASCII letter case. Both are read
// as NUL-terminated texts, as the platform's other clients compare them, so a NUL in the tag ends
// it. The time taken depends only on the (public) lengths, never on where the first difference
// lies, so a forger cannot learn the digest digit by digit.
bool TagMatches(const std::string& digestHex, const std::string& fullTag) {
  const std::string tag = fullTag.substr(0, fullTag.find('\0'));
  unsigned difference = digestHex.size() == tag.size() ? 0u : 1u;
  for (std::size_t i = 0; i < digestHex.size(); ++i) {
    const unsigned char t = i < tag.size() ? static_cast<unsigned char>(tag[i]) : 0;
    difference |= AsciiLower(static_cast<unsigned char>(digestHex[i])) ^ AsciiLower(t);
  }
  return difference == 0;
}

struct WipeOnExit {
  std::vector<unsigned char>& bytes;
  ~WipeOnExit() { config::SecureWipe(bytes.data(), bytes.size()); }
};

}  // namespace

std::string DecryptEnvelope(const std::string& envelope, const std::string& key) {
  const std::vector<unsigned char> decoded = Base64Decode(envelope);
  // Non-const on purpose: keyed access through operator[] is what turns a missing member, a
  // member of the wrong type and a document that is not an object into the library's type
  // error, whose message the caller reports as it stands.
  nlohmann::json document = nlohmann::json::parse(decoded.begin(), decoded.end(), nullptr,
                                                  /*allow_exceptions=*/false);
  if (document.is_discarded())
    throw std::runtime_error("Failed to parse AES envelope JSON");

  const std::string ivText = document["iv"].get<std::string>();
  const std::string valueText = document["value"].get<std::string>();
  std::string tag;
  if (document.is_object() && document.contains("mac"))
    tag = document["mac"].get<std::string>();

  // The platform's server tags the base64 texts as they stand in the document, not the bytes
  // they decode to. Every envelope must carry the tag: without it anyone who has seen one link
  // could flip bits of its IV (CBC, known plaintext) and make the platform domain read as a
  // server of their own, which would then receive the token and X-Secret.
  const std::string digestHex = HexEncode(HmacSha256(key, ivText + valueText));
  if (tag.empty() || !TagMatches(digestHex, tag))
    throw std::runtime_error("MAC verification failed \xE2\x80\x94 data may be tampered");

  const std::vector<unsigned char> iv = Base64Decode(ivText);
  const std::vector<unsigned char> ciphertext = Base64Decode(valueText);
  // The key bytes are copied for the cipher; the copy is wiped on every path.
  std::vector<unsigned char> keyBytes(key.begin(), key.end());
  const WipeOnExit wipeKey{keyBytes};
  const std::vector<unsigned char> plaintext = AesCbcDecrypt(ciphertext, keyBytes, iv);
  return std::string(plaintext.begin(), plaintext.end());
}
