#include "tests/test_trust_store.h"

#include <windows.h>

#include <wincrypt.h>

#include "base/crypto_handles_win.h"
#include "net/pki_test_util.h"

namespace {

// Every root of the test PKI, whether a test trusted it or not.
const char* const kTestRoots[] = {"root-a.pem", "root-c.pem", "root-k.pem", "root-x.pem"};

// The current user's own Root store in the registry (the "Root" system store is a collection
// over it and the machine's, from which nothing can be deleted).
base::UniqueCertStore OpenRootStore() {
  return base::UniqueCertStore(
      CertOpenStore(CERT_STORE_PROV_SYSTEM_REGISTRY_W, 0, 0, CERT_SYSTEM_STORE_CURRENT_USER, L"Root"));
}

void ForgetTestRoots() {
  base::UniqueCertStore store = OpenRootStore();
  if (!store)
    return;
  for (const char* file : kTestRoots) {
    for (const std::string& der : ReadPkiCertificates(file)) {
      base::UniqueCertContext wanted(CertCreateCertificateContext(
          X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(der.data()), static_cast<DWORD>(der.size())));
      if (!wanted)
        continue;
      // CertDeleteCertificateFromStore frees the context it is given, also on failure.
      while (PCCERT_CONTEXT found = CertFindCertificateInStore(store.get(), X509_ASN_ENCODING, 0,
                                                               CERT_FIND_EXISTING, wanted.get(), nullptr)) {
        if (!CertDeleteCertificateFromStore(found))
          break;
      }
    }
  }
}

}  // namespace

TestTrustStore::TestTrustStore(const std::vector<std::string>& pemFiles) {
  ForgetTestRoots();
  base::UniqueCertStore store = OpenRootStore();
  if (!store)
    return;
  for (const std::string& file : pemFiles) {
    for (const std::string& der : ReadPkiCertificates(file)) {
      CertAddEncodedCertificateToStore(
          store.get(), X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(der.data()),
          static_cast<DWORD>(der.size()), CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
    }
  }
}

TestTrustStore::~TestTrustStore() {
  ForgetTestRoots();
}

bool RefusedRequestsStaySilent() {
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  return ntdll == nullptr || GetProcAddress(ntdll, "wine_get_version") == nullptr;
}
