// The handlers a WebViewHost registers on its view: it adds the identification header and the
// certificate-pin gate to every request, folds new windows into the view, answers permission
// requests, and hands navigations, requests and messages on to its owner's callbacks.
#include <windows.h>

#include <objbase.h>

#include <optional>
#include <string>
#include <thread>

#include "base/com_callback.h"
#include "base/unique_handle.h"
#include "config/config.h"
#include "webview/navigation_policy.h"
#include "webview/webview_host.h"

namespace WebView {

using Microsoft::WRL::ComPtr;

namespace {

// Takes a string the runtime allocated for us; null reads as empty.
std::wstring TakeString(LPWSTR text) {
  const base::UniqueCoTaskMemString owner(text);
  return text == nullptr ? std::wstring() : std::wstring(text);
}

PagePermission PermissionOf(COREWEBVIEW2_PERMISSION_KIND kind) {
  switch (kind) {
    case COREWEBVIEW2_PERMISSION_KIND_MICROPHONE:
      return PagePermission::kMicrophone;
    case COREWEBVIEW2_PERMISSION_KIND_CAMERA:
      return PagePermission::kCamera;
    case COREWEBVIEW2_PERMISSION_KIND_NOTIFICATIONS:
      return PagePermission::kNotifications;
    default:
      return PagePermission::kOther;
  }
}

}  // namespace

void WebViewHost::SetupEventHandlers() {
  if (!webView)
    return;
  EventRegistrationToken token{};  // registrations live as long as the view; tokens are not kept

  webView->add_NavigationStarting(
      base::ComCallback<ICoreWebView2NavigationStartingEventHandler>(
          [this](ICoreWebView2*, ICoreWebView2NavigationStartingEventArgs* args) noexcept {
            CallScope scope(*this);
            try {
              if (args == nullptr)
                return S_OK;
              LPWSTR raw = nullptr;
              const bool hasUri = SUCCEEDED(args->get_Uri(&raw)) && raw != nullptr;
              // Every start consumes the mark of the host's own page, which the runtime may
              // report as about:blank or as its data: address.
              const std::wstring uri = composedPage_.AddressForPolicy(TakeString(raw));
              if (!onNavigationStarting || !hasUri)
                return S_OK;
              bool cancel = false;
              onNavigationStarting(uri, cancel);
              if (cancel)
                args->put_Cancel(TRUE);
            } catch (...) {
            }
            return S_OK;
          })
          .Get(),
      &token);

  webView->add_WebMessageReceived(
      base::ComCallback<ICoreWebView2WebMessageReceivedEventHandler>(
          [this](ICoreWebView2*, ICoreWebView2WebMessageReceivedEventArgs* args) noexcept {
            CallScope scope(*this);
            try {
              if (!onWebMessage || args == nullptr)
                return S_OK;
              // A posted string arrives as itself, anything else as its JSON text.
              LPWSTR raw = nullptr;
              std::wstring message;
              if (SUCCEEDED(args->TryGetWebMessageAsString(&raw)) && raw != nullptr) {
                message = TakeString(raw);
              } else {
                TakeString(raw);
                raw = nullptr;
                if (FAILED(args->get_WebMessageAsJson(&raw)) || raw == nullptr)
                  return S_OK;
                message = TakeString(raw);
              }
              onWebMessage(message);
            } catch (...) {
            }
            return S_OK;
          })
          .Get(),
      &token);

  webView->add_NavigationCompleted(
      base::ComCallback<ICoreWebView2NavigationCompletedEventHandler>(
          [this](ICoreWebView2*, ICoreWebView2NavigationCompletedEventArgs* args) noexcept {
            CallScope scope(*this);
            try {
              if (!onNavigationCompleted || args == nullptr)
                return S_OK;
              BOOL success = FALSE;
              if (FAILED(args->get_IsSuccess(&success)))
                return S_OK;
              COREWEBVIEW2_WEB_ERROR_STATUS status = COREWEBVIEW2_WEB_ERROR_STATUS_UNKNOWN;
              if (!success && FAILED(args->get_WebErrorStatus(&status)))
                status = COREWEBVIEW2_WEB_ERROR_STATUS_UNKNOWN;
              onNavigationCompleted(success != FALSE, status);
            } catch (...) {
            }
            return S_OK;
          })
          .Get(),
      &token);

  webView->add_PermissionRequested(
      base::ComCallback<ICoreWebView2PermissionRequestedEventHandler>(
          [](ICoreWebView2*, ICoreWebView2PermissionRequestedEventArgs* args) noexcept {
            COREWEBVIEW2_PERMISSION_KIND kind = COREWEBVIEW2_PERMISSION_KIND_UNKNOWN_PERMISSION;
            if (args != nullptr && SUCCEEDED(args->get_PermissionKind(&kind)) &&
                GrantsPagePermission(PermissionOf(kind)))
              args->put_State(COREWEBVIEW2_PERMISSION_STATE_ALLOW);
            return S_OK;
          })
          .Get(),
      &token);

  webView->add_NewWindowRequested(
      base::ComCallback<ICoreWebView2NewWindowRequestedEventHandler>(
          [this](ICoreWebView2*, ICoreWebView2NewWindowRequestedEventArgs* args) noexcept {
            CallScope scope(*this);
            try {
              if (args == nullptr)
                return S_OK;
              // No second window: the student stays in this one, and the policy judges the address.
              args->put_Handled(TRUE);
              LPWSTR raw = nullptr;
              if (FAILED(args->get_Uri(&raw)) || raw == nullptr)
                return S_OK;
              const std::wstring uri = TakeString(raw);
              if (webView)
                webView->Navigate(uri.c_str());
            } catch (...) {
            }
            return S_OK;
          })
          .Get(),
      &token);

  // Every request of the view, workers' included where the runtime can say so.
  ComPtr<ICoreWebView2_22> view22;
  if (SUCCEEDED(webView.As(&view22))) {
    view22->AddWebResourceRequestedFilterWithRequestSourceKinds(
        L"*", COREWEBVIEW2_WEB_RESOURCE_CONTEXT_ALL, COREWEBVIEW2_WEB_RESOURCE_REQUEST_SOURCE_KINDS_ALL);
  } else {
    webView->AddWebResourceRequestedFilter(L"*", COREWEBVIEW2_WEB_RESOURCE_CONTEXT_ALL);
  }

  webView->add_WebResourceRequested(
      base::ComCallback<ICoreWebView2WebResourceRequestedEventHandler>(
          [this](ICoreWebView2*, ICoreWebView2WebResourceRequestedEventArgs* args) noexcept {
            CallScope scope(*this);
            try {
              if (args == nullptr)
                return S_OK;
              ComPtr<ICoreWebView2WebResourceRequest> request;
              if (FAILED(args->get_Request(&request)) || !request)
                return S_OK;
              ComPtr<ICoreWebView2HttpRequestHeaders> headers;
              if (FAILED(request->get_Headers(&headers)) || !headers)
                return S_OK;
              headers->SetHeader(config::IdentificationHeaderName().c_str(),
                                 config::IdentificationHeaderValue().c_str());

              LPWSTR raw = nullptr;
              if (FAILED(request->get_Uri(&raw)) || raw == nullptr)
                return S_OK;
              const std::wstring uri = TakeString(raw);

              // The pin gate: the browser never loads from a pinned host whose keys do not match
              // (an intercepting proxy); the request is answered here and the user is warned.
              if (const std::optional<std::wstring> host = PinGateHost(uri)) {
                const PinGateAnswer answer =
                    platform_.checkHostPins ? platform_.checkHostPins(*host) : PinGateAnswer::kAllow;
                if (answer != PinGateAnswer::kAllow) {
                  if (environment) {
                    ComPtr<ICoreWebView2WebResourceResponse> response;
                    if (SUCCEEDED(environment->CreateWebResourceResponse(
                            nullptr, 403, L"Blocked", L"Content-Type: text/plain", &response)) &&
                        response) {
                      args->put_Response(response.Get());
                    }
                  }
                  if (answer == PinGateAnswer::kBlockAndWarn && platform_.pinFailureNotice) {
                    // Detached, so that the refused request is answered first; the warning
                    // ends the process. A host refused before has its warning on the way.
                    std::thread(platform_.pinFailureNotice, *host).detach();
                  }
                  return S_OK;
                }
              }

              if (onWebResourceRequested)
                onWebResourceRequested(uri, args);
            } catch (...) {
            }
            return S_OK;
          })
          .Get(),
      &token);
}

}  // namespace WebView
