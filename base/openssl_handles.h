// Owners for the OpenSSL objects of the Linux build.
#ifndef CORVEL_BASE_OPENSSL_HANDLES_H_
#define CORVEL_BASE_OPENSSL_HANDLES_H_

#include <openssl/x509.h>

#include <memory>

namespace base {

struct X509Deleter {
  void operator()(X509* certificate) const noexcept { X509_free(certificate); }
};

using UniqueX509 = std::unique_ptr<X509, X509Deleter>;

}  // namespace base

#endif  // CORVEL_BASE_OPENSSL_HANDLES_H_
