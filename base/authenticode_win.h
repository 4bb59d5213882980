// The one Authenticode check of the player: whether a file carries a valid signature, and who
// signed it. Used for the known security products' executables (net/pinning_win.cpp) and for a
// downloaded runtime installer (app/runtime_bootstrap_win.cpp). Links wintrust and crypt32.
#ifndef CORVEL_BASE_AUTHENTICODE_WIN_H_
#define CORVEL_BASE_AUTHENTICODE_WIN_H_

#include <windows.h>

#include <softpub.h>
#include <wincrypt.h>
#include <wintrust.h>

#include <cwchar>
#include <string>
#include <vector>

namespace base {

struct AuthenticodeSignature {
  bool valid = false;   // the signature verifies and chains to a root the system trusts
  std::wstring signer;  // the simple display name of the first signer's certificate; empty if none
};

// Verifies `path` (read through `openFile` when it is open, so that the file checked is the file
// that stays open). Flags: no user interface (the player decides what to tell); no revocation
// check (WTD_REVOKE_NONE and WTD_REVOCATION_CHECK_NONE: a school network that blocks the
// certificate authorities' servers must not make every signature fail); WTD_SAFER_FLAG, which
// the platform's earlier clients passed and current Windows ignores.
inline AuthenticodeSignature VerifyAuthenticode(const std::wstring& path,
                                                HANDLE openFile = INVALID_HANDLE_VALUE) {
  WINTRUST_FILE_INFO file{};
  file.cbStruct = sizeof(file);
  file.pcwszFilePath = path.c_str();
  file.hFile = openFile == INVALID_HANDLE_VALUE ? nullptr : openFile;
  WINTRUST_DATA data{};
  data.cbStruct = sizeof(data);
  data.dwUIChoice = WTD_UI_NONE;
  data.fdwRevocationChecks = WTD_REVOKE_NONE;
  data.dwUnionChoice = WTD_CHOICE_FILE;
  data.pFile = &file;
  data.dwStateAction = WTD_STATEACTION_VERIFY;
  data.dwProvFlags = WTD_SAFER_FLAG | WTD_REVOCATION_CHECK_NONE;
  GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
  const HWND noInterface = static_cast<HWND>(INVALID_HANDLE_VALUE);

  AuthenticodeSignature result;
  result.valid = WinVerifyTrust(noInterface, &action, &data) == ERROR_SUCCESS;
  if (result.valid) {
    CRYPT_PROVIDER_DATA* provider = WTHelperProvDataFromStateData(data.hWVTStateData);
    CRYPT_PROVIDER_SGNR* signer =
        provider != nullptr ? WTHelperGetProvSignerFromChain(provider, 0, FALSE, 0) : nullptr;
    if (signer != nullptr && signer->csCertChain > 0 && signer->pasCertChain != nullptr &&
        signer->pasCertChain[0].pCert != nullptr) {
      PCCERT_CONTEXT certificate = signer->pasCertChain[0].pCert;
      const DWORD length =
          CertGetNameStringW(certificate, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, nullptr, 0);
      if (length > 1) {
        std::vector<wchar_t> name(length, L'\0');
        CertGetNameStringW(certificate, CERT_NAME_SIMPLE_DISPLAY_TYPE, 0, nullptr, name.data(), length);
        result.signer.assign(name.data(), wcsnlen(name.data(), length));
      }
    }
  }
  data.dwStateAction = WTD_STATEACTION_CLOSE;  // frees the state the verification kept
  WinVerifyTrust(noInterface, &action, &data);
  return result;
}

}  // namespace base

#endif  // CORVEL_BASE_AUTHENTICODE_WIN_H_
