// AES-CBC encryption and random bytes on OpenSSL 3.
#include <openssl/evp.h>
#include <openssl/rand.h>

#include <climits>
#include <memory>
#include <stdexcept>

#include "base/openssl_handles_posix.h"
#include "link/envelope_writer.h"

std::vector<unsigned char> AesCbcEncrypt(const std::vector<unsigned char>& plaintext,
                                         const std::vector<unsigned char>& key,
                                         const std::vector<unsigned char>& iv) {
  if (plaintext.size() > INT_MAX - 16 || iv.size() != 16) {
    throw std::runtime_error("AES encryption: bad input size");
  }
  const EVP_CIPHER* cipher = base::AesCbcForKey(key.size());
  if (cipher == nullptr)
    throw std::runtime_error("AES encryption: key not accepted");
  base::UniqueCipherContext context(EVP_CIPHER_CTX_new());
  std::vector<unsigned char> ciphertext((plaintext.size() / 16 + 1) * 16, 0);
  int updateSize = 0;
  int finalSize = 0;
  if (!context || EVP_EncryptInit_ex(context.get(), cipher, nullptr, key.data(), iv.data()) != 1 ||
      EVP_EncryptUpdate(context.get(), ciphertext.data(), &updateSize, plaintext.data(),
                        static_cast<int>(plaintext.size())) != 1 ||
      EVP_EncryptFinal_ex(context.get(), ciphertext.data() + updateSize, &finalSize) != 1) {
    throw std::runtime_error("AES encryption failed");
  }
  ciphertext.resize(static_cast<std::size_t>(updateSize) + static_cast<std::size_t>(finalSize));
  return ciphertext;
}

std::vector<unsigned char> RandomBytes(std::size_t count) {
  std::vector<unsigned char> bytes(count, 0);
  if (count > INT_MAX || (count > 0 && RAND_bytes(bytes.data(), static_cast<int>(count)) != 1)) {
    throw std::runtime_error("random bytes unavailable");
  }
  return bytes;
}
