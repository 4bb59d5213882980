// Fuzzes the envelope: raw envelope texts, documents with fuzzed members (with and without a
// correct tag), and writer -> reader round trips. Inputs are capped at 4 KiB.
//
// The last input byte picks the mode (FuzzedDataProvider reads integers from the end), so a
// seed is an envelope text followed by one zero byte.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "link/envelope.h"
#include "link/envelope_writer.h"
#include "text/text.h"

namespace {

constexpr std::size_t kMaxInput = 4096;
constexpr char kMacFailure[] = "MAC verification failed \xE2\x80\x94 data may be tampered";

const std::string& Key() {
  static const std::string key = [] {
    std::string k;
    for (int i = 0; i < 32; ++i)
      k += static_cast<char>(0xA0 + i);
    return k;
  }();
  return key;
}

std::string ValidUtf8(const std::string& bytes) {
  return Utf16ToUtf8(Utf8ToUtf16(bytes));
}

void Check(bool condition) {
  if (!condition)
    std::abort();
}

// True with the plaintext, or false with the failure message.
bool TryDecrypt(const std::string& envelope,
                const std::string& key,
                std::string& plaintext,
                std::string& failure) {
  try {
    plaintext = DecryptEnvelope(envelope, key);
    return true;
  } catch (const std::exception& e) {
    failure = e.what();
    return false;
  }
}

void RawEnvelope(FuzzedDataProvider& provider) {
  std::string plaintext, failure;
  TryDecrypt(provider.ConsumeRemainingBytesAsString(), Key(), plaintext, failure);
}

// A document with fuzzed members, so the fuzzer spends its time past the base64 and JSON layers.
void FuzzedDocument(FuzzedDataProvider& provider) {
  const bool correctTag = provider.ConsumeBool();
  const bool withTag = provider.ConsumeBool();
  // Member texts are made valid UTF-8 first, so the JSON document carries them unchanged.
  const std::string ivText = ValidUtf8(provider.ConsumeRandomLengthString(64));
  const std::string valueText = ValidUtf8(provider.ConsumeRandomLengthString(1024));
  std::string tag = ValidUtf8(provider.ConsumeRandomLengthString(80));
  if (correctTag) {
    tag = HexEncode(HmacSha256(Key(), ivText + valueText));
    if (provider.ConsumeBool()) {
      for (char& c : tag)
        c = static_cast<char>(c >= 'a' && c <= 'f' ? c - 32 : c);
    }
  }
  nlohmann::json document = nlohmann::json::object();
  document["iv"] = ivText;
  document["value"] = valueText;
  if (withTag)
    document["mac"] = tag;
  if (provider.ConsumeBool())
    document["tag"] = ValidUtf8(provider.ConsumeRandomLengthString(16));
  const std::string json = document.dump();
  std::string plaintext, failure;
  const bool ok = TryDecrypt(Base64Encode(json), Key(), plaintext, failure);
  // A correct tag never fails the integrity check; no tag, or an empty one, always does.
  if (!ok && correctTag && withTag)
    Check(failure != kMacFailure);
  if (!withTag || tag.empty())
    Check(!ok && failure == kMacFailure);
  // With a wrong non-empty tag the envelope never decrypts.
  if (withTag && !tag.empty()) {
    std::string lowered = tag;
    for (char& c : lowered)
      c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
    if (lowered != HexEncode(HmacSha256(Key(), ivText + valueText)))
      Check(!ok && failure == kMacFailure);
  }
}

// Whatever goes in comes out, for every key length AES takes; without its tag nothing does.
void RoundTrip(FuzzedDataProvider& provider) {
  static const std::size_t kKeySizes[] = {16, 24, 32};
  const std::string key = Key().substr(0, kKeySizes[provider.ConsumeIntegralInRange<int>(0, 2)]);
  const bool withMac = provider.ConsumeBool();
  std::vector<unsigned char> iv = provider.ConsumeBytes<unsigned char>(16);
  iv.resize(16, 0);
  const std::string plaintext = provider.ConsumeRemainingBytesAsString();
  const std::string envelope = EncryptEnvelopeWithIv(plaintext, key, iv, withMac);
  std::string decrypted, failure;
  const bool ok = TryDecrypt(envelope, key, decrypted, failure);
  Check(withMac ? ok && decrypted == plaintext : !ok && failure == kMacFailure);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > kMaxInput)
    return 0;
  FuzzedDataProvider provider(data, size);
  switch (provider.ConsumeIntegralInRange<int>(0, 2)) {
    case 0:
      RawEnvelope(provider);
      break;
    case 1:
      FuzzedDocument(provider);
      break;
    default:
      RoundTrip(provider);
      break;
  }
  return 0;
}
