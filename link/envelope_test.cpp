// The envelope against both crypto backends (CNG under Wine, OpenSSL natively): published test
// vectors, round trips through the writer, and every failure message the link diagnostics rely on.
#include "link/envelope.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "link/envelope_writer.h"
#include "text/text.h"

namespace {

using Bytes = std::vector<unsigned char>;

const char kMacFailure[] = "MAC verification failed \xE2\x80\x94 data may be tampered";
const char kParseFailure[] = "Failed to parse AES envelope JSON";

Bytes FromHex(const std::string& hex) {
  Bytes out;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
    out.push_back(static_cast<unsigned char>(std::stoi(hex.substr(i, 2), nullptr, 16)));
  }
  return out;
}
std::string Str(const Bytes& bytes) {
  return {bytes.begin(), bytes.end()};
}
Bytes Range(int first, int count) {
  Bytes out;
  for (int i = 0; i < count; ++i)
    out.push_back(static_cast<unsigned char>(first + i));
  return out;
}

// A 32-byte test key (not the configured link key).
const std::string kKey = Str(Range(1, 32));
const Bytes kIv = Range(16, 16);

// NIST SP 800-38A, F.2.5 (CBC-AES256) and F.2.1 (CBC-AES128). The padded form adds one block:
// E(K, C4 xor 10..10), computed once with an independent implementation.
const std::string kNistKey256 = "603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4";
const std::string kNistKey128 = "2b7e151628aed2a6abf7158809cf4f3c";
const std::string kNistIv = "000102030405060708090a0b0c0d0e0f";
const std::string kNistPlain =
    "6bc1bee22e409f96e93d7e117393172aae2d8a571e03ac9c9eb76fac45af8e51"
    "30c81c46a35ce411e5fbc1191a0a52eff69f2445df4f9b17ad2b417be66c3710";
const std::string kNistCipher256 =
    "f58c4c04d6e5f1ba779eabfb5f7bfbd69cfc4e967edb808d679f777bc6702c7d"
    "39f23369a9d9bacfa530e26304231461b2eb05e2c39be9fcda6c19078c6a9d1b";
const std::string kNistPadBlock256 = "3f461796d6b0d6b2e0c2a72b4d80e644";
const std::string kNistCipher128 =
    "7649abac8119b246cee98e9b12e9197d5086cb9b507219ee95db113a917678b2"
    "73bed6b8e3c1743b7116e69e222295163ff1caa1681fac09120eca307586e1a7";

// The members of an envelope, for building variants of it.
struct Members {
  std::string iv, value, mac;
};
Members Open(const std::string& envelope) {
  const Bytes decoded = Base64Decode(envelope);
  const nlohmann::json document = nlohmann::json::parse(decoded.begin(), decoded.end());
  return {document.at("iv").get<std::string>(), document.at("value").get<std::string>(),
          document.value("mac", std::string())};
}
std::string Wrap(const std::string& json) {
  return Base64Encode(json);
}
std::string Seal(const std::string& iv, const std::string& value, const std::string& macMember) {
  return Wrap("{\"iv\":\"" + iv + "\",\"value\":\"" + value + "\"" + macMember + "}");
}
// An envelope with the right tag for `key`, whatever its members hold.
std::string SealTagged(const std::string& iv, const std::string& value, const std::string& key = kKey) {
  return Seal(iv, value, ",\"mac\":\"" + HexEncode(HmacSha256(key, iv + value)) + "\"");
}

// The message DecryptEnvelope fails with, or "" when it succeeds.
std::string FailureOf(const std::string& envelope, const std::string& key = kKey) {
  try {
    DecryptEnvelope(envelope, key);
    return "";
  } catch (const std::exception& e) {
    return e.what();
  }
}
std::string AesFailureOf(const Bytes& ciphertext, const Bytes& key, const Bytes& iv) {
  try {
    AesCbcDecrypt(ciphertext, key, iv);
    return "";
  } catch (const std::exception& e) {
    return e.what();
  }
}

TEST(EnvelopeTest, PublishedVectorsHoldOnThisBackend) {
  // AES-256-CBC: decrypting the padded NIST ciphertext gives the NIST plaintext, and encrypting
  // the plaintext gives the NIST blocks followed by the padding block.
  const Bytes key256 = FromHex(kNistKey256);
  const Bytes iv = FromHex(kNistIv);
  const Bytes plain = FromHex(kNistPlain);
  const Bytes padded256 = FromHex(kNistCipher256 + kNistPadBlock256);
  EXPECT_EQ(AesCbcDecrypt(padded256, key256, iv), plain);
  EXPECT_EQ(AesCbcEncrypt(plain, key256, iv), padded256);
  // AES-128 is selected by a 16-byte key; the NIST blocks come out unchanged in front.
  const Bytes cipher128 = AesCbcEncrypt(plain, FromHex(kNistKey128), iv);
  ASSERT_EQ(cipher128.size(), 80u);
  EXPECT_EQ(Bytes(cipher128.begin(), cipher128.begin() + 64), FromHex(kNistCipher128));
  EXPECT_EQ(AesCbcDecrypt(cipher128, FromHex(kNistKey128), iv), plain);

  // HMAC-SHA256, RFC 4231 test cases 1, 2 and 6 (a key longer than the block), plus the empty
  // key and message.
  struct Mac {
    std::string key, message, hex;
  };
  const Mac macs[] = {
      {std::string(20, '\x0b'), "Hi There",
       "b0344c61d8db38535ca8afceaf0bf12b881dc200c9833da726e9376c2e32cff7"},
      {"Jefe", "what do ya want for nothing?",
       "5bdcc146bf60754e6a042426089575c75a003f089d2739839dec58b964ec3843"},
      {std::string(131, '\xaa'), "Test Using Larger Than Block-Size Key - Hash Key First",
       "60e431591ee0b67f0d8a26aacbf5b77f8e0bc6213728c5140546040f0ee37f54"},
      {"", "", "b613679a0814d9ec772f95d778c35fc5ff1697c493715653c6c712144292c5ad"},
  };
  for (const Mac& m : macs)
    EXPECT_EQ(HexEncode(HmacSha256(m.key, m.message)), m.hex) << m.message;
}

TEST(EnvelopeTest, DecryptsAnEnvelopeBuiltFromPublishedNumbers) {
  // Built by hand, independent of the writer: the tag covers the two base64 texts.
  const std::string ivText = "AAECAwQFBgcICQoLDA0ODw==";
  const std::string valueText =
      "9YxMBNbl8bp3nqv7X3v71pz8TpZ+"
      "24CNZ593e8ZwLH058jNpqdm6z6Uw4mMEIxRhsusF4sOb6fzabBkHjGqdGz9GF5bWsNay4MKnK02A5kQ=";
  const std::string tag = "0ce46c11dbe555f8673da2f7afa1531aa8b67fcd2fc9d2aa8bd808bd03d89895";
  const std::string key = Str(FromHex(kNistKey256));
  EXPECT_EQ(DecryptEnvelope(Seal(ivText, valueText, ",\"mac\":\"" + tag + "\""), key),
            Str(FromHex(kNistPlain)));
  // The same through the writer with the same IV: identical members.
  const Members written = Open(EncryptEnvelopeWithIv(Str(FromHex(kNistPlain)), key, FromHex(kNistIv)));
  EXPECT_EQ(written.iv, ivText);
  EXPECT_EQ(written.value, valueText);
  EXPECT_EQ(written.mac, tag);
}

TEST(EnvelopeTest, RoundTripsEveryLengthAndByte) {
  std::string allBytes;
  for (int i = 0; i < 256; ++i)
    allBytes += static_cast<char>(i);
  const std::string plaintexts[] = {"",
                                    "x",
                                    std::string(15, 'a'),
                                    std::string(16, 'b'),
                                    std::string(17, 'c'),
                                    std::string(32, 'd'),
                                    std::string("nul\0inside", 10),
                                    "\xD9\x83\xD9\x88\xD8\xAF \xC3\xA9",
                                    "https://platform.example/x?y=1",
                                    allBytes,
                                    std::string(5000, 'z')};
  for (const std::string& plain : plaintexts) {
    EXPECT_EQ(DecryptEnvelope(EncryptEnvelope(plain, kKey), kKey), plain) << plain.size();
    // Without its tag the same envelope is refused.
    EXPECT_EQ(FailureOf(EncryptEnvelope(plain, kKey, false)), kMacFailure) << plain.size();
  }
  // AES-128 and AES-192 keys work as well; the key length picks the variant.
  for (int size : {16, 24})
    EXPECT_EQ(DecryptEnvelope(EncryptEnvelope("short key", Str(Range(7, size))), Str(Range(7, size))),
              "short key");
  // The IV is fresh for every envelope.
  EXPECT_NE(Open(EncryptEnvelope("same", kKey)).iv, Open(EncryptEnvelope("same", kKey)).iv);
}

TEST(EnvelopeTest, OneBlockOfPaddingIsAnEmptyPlaintext) {
  const Members m = Open(EncryptEnvelopeWithIv("", kKey, kIv, false));
  EXPECT_EQ(Base64Decode(m.value).size(), 16u);
  EXPECT_EQ(DecryptEnvelope(SealTagged(m.iv, m.value), kKey), "");
}

TEST(EnvelopeTest, MalformedDocumentsFailWithTheirMessages) {
  const std::string iv = Base64Encode(kIv);
  const std::string value = Open(EncryptEnvelopeWithIv("x", kKey, kIv)).value;
  struct Case {
    std::string envelope, message;
  };
  const Case cases[] = {
      {"", kParseFailure},      // no bytes at all
      {"!!!!", kParseFailure},  // nothing of the alphabet
      {Wrap("not json"), kParseFailure},
      {Wrap("{\"iv\":\"" + iv + "\""), kParseFailure},               // truncated
      {Wrap("{\"iv\":\"a\",\"value\":\"b\"} x"), kParseFailure},     // trailing text
      {Wrap("/*c*/{\"iv\":\"a\",\"value\":\"b\"}"), kParseFailure},  // comments are not JSON
      {Wrap("{\"iv\":\"\xff\",\"value\":\"b\"}"), kParseFailure},    // invalid UTF-8
      // The JSON library's own type errors pass through unchanged.
      {Wrap("{}"), "[json.exception.type_error.302] type must be string, but is null"},
      {Wrap("null"), "[json.exception.type_error.302] type must be string, but is null"},
      {Wrap("{\"value\":\"" + value + "\"}"),
       "[json.exception.type_error.302] type must be string, but is null"},
      {Wrap("{\"iv\":\"" + iv + "\"}"), "[json.exception.type_error.302] type must be string, but is null"},
      {Wrap("{\"iv\":16,\"value\":\"" + value + "\"}"),
       "[json.exception.type_error.302] type must be string, but is number"},
      {Wrap("{\"iv\":\"" + iv + "\",\"value\":[1]}"),
       "[json.exception.type_error.302] type must be string, but is array"},
      {Seal(iv, value, ",\"mac\":false"),
       "[json.exception.type_error.302] type must be string, but is boolean"},
      {Wrap("[\"iv\",\"value\"]"),
       "[json.exception.type_error.305] cannot use operator[] with a string argument with array"},
      {Wrap("\"iv\""),
       "[json.exception.type_error.305] cannot use operator[] with a string argument with string"},
      {Wrap("7"), "[json.exception.type_error.305] cannot use operator[] with a string argument with number"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(FailureOf(c.envelope), c.message) << Str(Base64Decode(c.envelope));
}

TEST(EnvelopeTest, TagIsRequiredAndCheckedOverTheTextsIgnoringCase) {
  const Members m = Open(EncryptEnvelopeWithIv("lesson-7731", kKey, kIv));
  std::string upper = m.mac;
  for (char& c : upper)
    c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  std::string mixed = m.mac;
  for (std::size_t i = 0; i < mixed.size(); i += 2)
    mixed[i] = static_cast<char>(std::toupper(static_cast<unsigned char>(mixed[i])));
  std::string oneDigitOff = m.mac;
  oneDigitOff[63] = oneDigitOff[63] == '0' ? '1' : '0';
  const std::string overBytes =
      HexEncode(HmacSha256(kKey, Str(Base64Decode(m.iv)) + Str(Base64Decode(m.value))));
  const std::string reversedOrder = HexEncode(HmacSha256(kKey, m.value + m.iv));
  Bytes tamperedValue = Base64Decode(m.value);
  tamperedValue[0] ^= 1;

  struct Case {
    std::string envelope, failure;
    const char* what;
  };
  const Case cases[] = {
      {Seal(m.iv, m.value, ",\"mac\":\"" + m.mac + "\""), "", "as written"},
      {Seal(m.iv, m.value, ",\"mac\":\"" + upper + "\""), "", "upper-case tag"},
      {Seal(m.iv, m.value, ",\"mac\":\"" + mixed + "\""), "", "mixed-case tag"},
      {Seal(m.iv, m.value, ""), kMacFailure, "no tag"},
      {Seal(m.iv, m.value, ",\"mac\":\"\""), kMacFailure, "empty tag"},
      {Seal(m.iv, m.value, ",\"mac\":null"),
       "[json.exception.type_error.302] type must be string, but is null", "null tag"},
      {Seal(m.iv, m.value, ",\"mac\":\"" + m.mac + "\",\"tag\":\"\",\"extra\":{\"a\":[1,2]}"), "",
       "extra members"},
      {Wrap("{\"value\":\"" + m.value + "\",\"mac\":\"" + m.mac + "\",\"iv\":\"" + m.iv + "\"}"), "",
       "other member order"},
      {Seal(m.iv, m.value, ",\"mac\":\"" + oneDigitOff + "\""), kMacFailure, "last digit changed"},
      {Seal(m.iv, m.value, ",\"mac\":\"" + overBytes + "\""), kMacFailure, "tag over decoded bytes"},
      {Seal(m.iv, m.value, ",\"mac\":\"" + reversedOrder + "\""), kMacFailure, "value before iv"},
      {Seal(m.iv, m.value, ",\"mac\":\"" + m.mac.substr(0, 63) + "\""), kMacFailure, "63 digits"},
      {Seal(m.iv, m.value, ",\"mac\":\"" + m.mac + "0\""), kMacFailure, "65 digits"},
      {Seal(m.iv, m.value, ",\"mac\":\"" + m.mac + "\\u0000junk\""), "", "a NUL ends the tag"},
      {Seal(m.iv, m.value, ",\"mac\":\"" + m.mac.substr(0, 10) + "\\u0000" + m.mac.substr(10) + "\""),
       kMacFailure, "a NUL inside the digest"},
      {Seal(m.iv, m.value, ",\"mac\":\"\\u0000\""), kMacFailure, "only a NUL"},
      {Seal(m.iv, Base64Encode(tamperedValue), ",\"mac\":\"" + m.mac + "\""), kMacFailure, "tampered value"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(FailureOf(c.envelope), c.failure) << c.what;
    if (c.failure.empty()) {
      EXPECT_EQ(DecryptEnvelope(c.envelope, kKey), "lesson-7731") << c.what;
    }
  }

  // With a tag, a wrong key is caught by the tag before any decryption is tried.
  EXPECT_EQ(FailureOf(Seal(m.iv, m.value, ",\"mac\":\"" + m.mac + "\""), std::string(32, '\x5a')),
            kMacFailure);
  // Even a key AES would refuse: the tag check comes first.
  EXPECT_EQ(FailureOf(Seal(m.iv, m.value, ",\"mac\":\"" + m.mac + "\""), kKey.substr(0, 31)), kMacFailure);
}

TEST(EnvelopeTest, LineBreakEndsTheEnvelopeText) {
  const std::string envelope = EncryptEnvelope("lesson", kKey);
  for (const char* brk : {"\n", "\r\n", " "}) {
    const std::string broken = envelope.substr(0, 20) + brk + envelope.substr(20);
    EXPECT_EQ(FailureOf(broken), kParseFailure) << (brk[0] == ' ' ? "space" : "line break");
  }
  // A line break after the complete text changes nothing.
  EXPECT_EQ(DecryptEnvelope(envelope + "\n", kKey), "lesson");
}

TEST(EnvelopeTest, CipherFailuresNameTheStepThatRefused) {
  // Fixed numbers throughout: the wrong-key case is known to leave a final byte of 0xFC, which
  // no padding check accepts, so the test cannot pass or fail by chance.
  const std::string wrongKey(32, '\x5a');
  const Bytes ciphertext = FromHex("8d6121b8d8315412a347a26606e30638");  // "lesson-7731" under kKey, kIv
  ASSERT_EQ(AesCbcDecrypt(ciphertext, Bytes(kKey.begin(), kKey.end()), kIv),
            Bytes({'l', 'e', 's', 's', 'o', 'n', '-', '7', '7', '3', '1'}));
  const std::string ivText = Base64Encode(kIv);

  // A block that decrypts to a final byte of 0x11, one more than any padding can be.
  const Bytes block(16, 0x11);
  const Bytes withPadding = AesCbcEncrypt(block, Bytes(kKey.begin(), kKey.end()), kIv);
  const Bytes badPadding(withPadding.begin(), withPadding.begin() + 16);

  struct Case {
    std::string envelope, key, failure;
    const char* what;
  };
  // Each envelope carries the right tag for the key it is opened with, so the cipher is reached.
  const Case cases[] = {
      {SealTagged(ivText, Base64Encode(ciphertext), wrongKey), wrongKey, "BCryptDecrypt failed", "wrong key"},
      {SealTagged(ivText, Base64Encode(badPadding)), kKey, "BCryptDecrypt failed", "corrupt padding"},
      {SealTagged(Base64Encode(Range(0, 15)), Base64Encode(ciphertext)), kKey,
       "BCryptDecrypt (size query) failed", "15-byte IV"},
      {SealTagged(Base64Encode(Range(0, 17)), Base64Encode(ciphertext)), kKey,
       "BCryptDecrypt (size query) failed", "17-byte IV"},
      {SealTagged("", Base64Encode(ciphertext)), kKey, "BCryptDecrypt (size query) failed", "empty IV"},
      {SealTagged(ivText, Base64Encode(Range(0, 17))), kKey, "BCryptDecrypt (size query) failed",
       "17-byte ciphertext"},
      {SealTagged(ivText, Base64Encode(Range(0, 15))), kKey, "BCryptDecrypt (size query) failed",
       "15-byte ciphertext"},
      {SealTagged(ivText, Base64Encode(ciphertext), kKey.substr(0, 31)), kKey.substr(0, 31),
       "BCryptGenerateSymmetricKey failed", "31-byte key"},
      {SealTagged(ivText, Base64Encode(ciphertext), kKey + "!"), kKey + "!",
       "BCryptGenerateSymmetricKey failed", "33-byte key"},
      // The key is looked at before the IV.
      {SealTagged(Base64Encode(Range(0, 15)), Base64Encode(ciphertext), kKey.substr(0, 31)),
       kKey.substr(0, 31), "BCryptGenerateSymmetricKey failed", "31-byte key and 15-byte IV"},
  };
  for (const Case& c : cases)
    EXPECT_EQ(FailureOf(c.envelope, c.key), c.failure) << c.what;

  // No ciphertext at all holds no padding either.
  EXPECT_EQ(AesFailureOf({}, Bytes(kKey.begin(), kKey.end()), kIv), "BCryptDecrypt failed");

  // The wrappers throw standard runtime errors (the link parser reports their messages).
  EXPECT_THROW(AesCbcDecrypt(ciphertext, Range(0, 31), kIv), std::runtime_error);
}

}  // namespace
