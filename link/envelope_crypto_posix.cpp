// AES-CBC and HMAC-SHA256 on OpenSSL 3. Failures carry the same messages as the Windows
// backend, step for step, so a link fails with the same diagnostic text on both platforms.
#include <openssl/core_names.h>
#include <openssl/evp.h>

#include <climits>
#include <memory>
#include <stdexcept>

#include "base/openssl_handles_posix.h"
#include "link/envelope.h"

namespace {

constexpr std::size_t kAesBlockSize = 16;

using base::UniqueCipherContext;

struct MacDeleter {
  void operator()(EVP_MAC* mac) const { EVP_MAC_free(mac); }
};
struct MacContextDeleter {
  void operator()(EVP_MAC_CTX* context) const { EVP_MAC_CTX_free(context); }
};
using UniqueMac = std::unique_ptr<EVP_MAC, MacDeleter>;
using UniqueMacContext = std::unique_ptr<EVP_MAC_CTX, MacContextDeleter>;

}  // namespace

std::vector<unsigned char> AesCbcDecrypt(const std::vector<unsigned char>& ciphertext,
                                         const std::vector<unsigned char>& key,
                                         const std::vector<unsigned char>& iv) {
  UniqueCipherContext context(EVP_CIPHER_CTX_new());
  if (!context)
    throw std::runtime_error("BCryptOpenAlgorithmProvider failed");
  const EVP_CIPHER* cipher = base::AesCbcForKey(key.size());
  if (cipher == nullptr)
    throw std::runtime_error("BCryptGenerateSymmetricKey failed");
  // CNG rejects these before decrypting anything (its size query).
  if (iv.size() != kAesBlockSize || ciphertext.size() % kAesBlockSize != 0 || ciphertext.size() > INT_MAX) {
    throw std::runtime_error("BCryptDecrypt (size query) failed");
  }
  if (EVP_DecryptInit_ex(context.get(), cipher, nullptr, key.data(), iv.data()) != 1) {
    throw std::runtime_error("BCryptGenerateSymmetricKey failed");
  }

  // Room for the ciphertext and one more block, as EVP_DecryptUpdate may need.
  std::vector<unsigned char> plaintext(ciphertext.size() + kAesBlockSize, 0);
  int updateSize = 0;
  int finalSize = 0;
  // The padding check (EVP_DecryptFinal_ex) also refuses an empty ciphertext: there is no
  // padded plaintext of zero blocks.
  if (EVP_DecryptUpdate(context.get(), plaintext.data(), &updateSize, ciphertext.data(),
                        static_cast<int>(ciphertext.size())) != 1 ||
      EVP_DecryptFinal_ex(context.get(), plaintext.data() + updateSize, &finalSize) != 1) {
    throw std::runtime_error("BCryptDecrypt failed");
  }
  plaintext.resize(static_cast<std::size_t>(updateSize) + static_cast<std::size_t>(finalSize));
  return plaintext;
}

std::vector<unsigned char> HmacSha256(const std::string& secret, const std::string& message) {
  UniqueMac mac(EVP_MAC_fetch(nullptr, OSSL_MAC_NAME_HMAC, nullptr));
  if (!mac)
    throw std::runtime_error("BCryptOpenAlgorithmProvider HMAC failed");

  UniqueMacContext context(EVP_MAC_CTX_new(mac.get()));
  char digestName[] = "SHA256";
  const OSSL_PARAM params[] = {
      OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_DIGEST, digestName, 0),
      OSSL_PARAM_construct_end(),
  };
  // A null key would mean "keep the previous key"; an empty secret is a valid HMAC key, so a
  // non-null pointer is always passed.
  static const unsigned char kNoKey = 0;
  const unsigned char* keyData =
      secret.empty() ? &kNoKey : reinterpret_cast<const unsigned char*>(secret.data());
  if (!context || EVP_MAC_init(context.get(), keyData, secret.size(), params) != 1) {
    throw std::runtime_error("BCryptCreateHash failed");
  }
  if (EVP_MAC_update(context.get(), reinterpret_cast<const unsigned char*>(message.data()), message.size()) !=
      1) {
    throw std::runtime_error("BCryptHashData failed");
  }
  std::vector<unsigned char> digest(EVP_MAX_MD_SIZE, 0);
  std::size_t digestSize = 0;
  if (EVP_MAC_final(context.get(), digest.data(), &digestSize, digest.size()) != 1) {
    throw std::runtime_error("BCryptFinishHash failed");
  }
  digest.resize(digestSize);
  return digest;
}
