// Owners for the OpenSSL objects of the Linux build.
#ifndef CORVEL_BASE_OPENSSL_HANDLES_POSIX_H_
#define CORVEL_BASE_OPENSSL_HANDLES_POSIX_H_

#include <openssl/evp.h>
#include <openssl/x509.h>

#include <cstddef>
#include <memory>

namespace base {

struct X509Deleter {
  void operator()(X509* certificate) const noexcept { X509_free(certificate); }
};

using UniqueX509 = std::unique_ptr<X509, X509Deleter>;

// A stack that owns one reference of each certificate in it.
struct X509StackDeleter {
  void operator()(STACK_OF(X509) * stack) const noexcept { sk_X509_pop_free(stack, X509_free); }
};

using UniqueX509Stack = std::unique_ptr<STACK_OF(X509), X509StackDeleter>;

struct X509StoreDeleter {
  void operator()(X509_STORE* store) const noexcept { X509_STORE_free(store); }
};

using UniqueX509Store = std::unique_ptr<X509_STORE, X509StoreDeleter>;

struct X509StoreContextDeleter {
  void operator()(X509_STORE_CTX* context) const noexcept { X509_STORE_CTX_free(context); }
};

using UniqueX509StoreContext = std::unique_ptr<X509_STORE_CTX, X509StoreContextDeleter>;

struct CipherContextDeleter {
  void operator()(EVP_CIPHER_CTX* context) const noexcept { EVP_CIPHER_CTX_free(context); }
};

using UniqueCipherContext = std::unique_ptr<EVP_CIPHER_CTX, CipherContextDeleter>;

// AES in CBC mode for a key of 16, 24 or 32 bytes; null for any other length.
inline const EVP_CIPHER* AesCbcForKey(std::size_t keySize) {
  switch (keySize) {
    case 16:
      return EVP_aes_128_cbc();
    case 24:
      return EVP_aes_192_cbc();
    case 32:
      return EVP_aes_256_cbc();
    default:
      return nullptr;
  }
}

}  // namespace base

#endif  // CORVEL_BASE_OPENSSL_HANDLES_POSIX_H_
