// The one process-wide record: the player's identity and the content descriptor of the link.
//
// The identity fields are fixed at static initialisation and read-only afterwards (any thread).
// The content fields are written on the main thread by the link parser before any web view
// reads them; platformDomain may change later while the init screen browses.
#ifndef CORVEL_BASE_APP_STATE_H_
#define CORVEL_BASE_APP_STATE_H_

#include <cstdint>
#include <string>

#include "base/version.h"  // generated from project() in CMakeLists.txt

struct AppState {
  // Identity: name, company and version come from the build (base/version.h.in).
  std::wstring displayName = L"" CORVEL_PRODUCT_NAME;
  std::wstring schemeName = L"corvel";
  std::wstring versionText = L"" CORVEL_VERSION_TEXT;
  std::wstring companyName = L"" CORVEL_COMPANY_NAME;

  // Content descriptor.
  std::wstring platformDomain;  // platform site of the link (scheme optional, no trailing "/")
  std::wstring contentUrl;      // address to navigate to or to embed
  std::wstring watermarkText;
  std::wstring contentKind;   // "url_direct", "pdf", "pdf_url" or another server type
  std::int32_t scriptId = 1;  // 0 for a direct link
  std::wstring pageScript;    // fetched for YouTube content; empty unless fetched
};

// The process-wide record.
AppState& GetAppState();

#endif  // CORVEL_BASE_APP_STATE_H_
