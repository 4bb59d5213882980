// Owners for CNG and CryptoAPI handles.
#ifndef CORVEL_BASE_CRYPTO_HANDLES_WIN_H_
#define CORVEL_BASE_CRYPTO_HANDLES_WIN_H_

#include <bcrypt.h>
#include <wincrypt.h>
#include <windows.h>

#include "base/unique_handle_win.h"

namespace base {

struct BcryptAlgTraits {
  using Handle = BCRYPT_ALG_HANDLE;
  static Handle Invalid() noexcept { return nullptr; }
  static void Close(Handle h) noexcept { BCryptCloseAlgorithmProvider(h, 0); }
};

struct BcryptKeyTraits {
  using Handle = BCRYPT_KEY_HANDLE;
  static Handle Invalid() noexcept { return nullptr; }
  static void Close(Handle h) noexcept { BCryptDestroyKey(h); }
};

struct BcryptHashTraits {
  using Handle = BCRYPT_HASH_HANDLE;
  static Handle Invalid() noexcept { return nullptr; }
  static void Close(Handle h) noexcept { BCryptDestroyHash(h); }
};

struct CertContextTraits {
  using Handle = PCCERT_CONTEXT;
  static Handle Invalid() noexcept { return nullptr; }
  static void Close(Handle h) noexcept { CertFreeCertificateContext(h); }
};

struct CertChainTraits {
  using Handle = PCCERT_CHAIN_CONTEXT;
  static Handle Invalid() noexcept { return nullptr; }
  static void Close(Handle h) noexcept { CertFreeCertificateChain(h); }
};

struct CertStoreTraits {
  using Handle = HCERTSTORE;
  static Handle Invalid() noexcept { return nullptr; }
  static void Close(Handle h) noexcept { CertCloseStore(h, 0); }
};

using UniqueBcryptAlg = UniqueHandle<BcryptAlgTraits>;
using UniqueBcryptKey = UniqueHandle<BcryptKeyTraits>;
using UniqueBcryptHash = UniqueHandle<BcryptHashTraits>;
using UniqueCertContext = UniqueHandle<CertContextTraits>;
using UniqueCertChain = UniqueHandle<CertChainTraits>;
using UniqueCertStore = UniqueHandle<CertStoreTraits>;

}  // namespace base

#endif  // CORVEL_BASE_CRYPTO_HANDLES_WIN_H_
