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
              if (!onNavigationStarting || !hasUri) {
                composedPage_.NavigationAllowed();
                return S_OK;
              }
              bool cancel = false;
              onNavigationStarting(uri, cancel);
              if (cancel)
                args->put_Cancel(TRUE);
              else
                composedPage_.NavigationAllowed();
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
              LPWSTR raw = nullptr;
              if (acceptsMessagesFrom) {
                const std::wstring source =
                    SUCCEEDED(args->get_Source(&raw)) ? TakeString(raw) : std::wstring();
                raw = nullptr;
                if (!acceptsMessagesFrom(source, composedPage_.Showing()))
                  return S_OK;
              }
              // A posted string arrives as itself, anything else as its JSON text.
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
          [this](ICoreWebView2*, ICoreWebView2PermissionRequestedEventArgs* args) noexcept {
            CallScope scope(*this);
            try {
              COREWEBVIEW2_PERMISSION_KIND kind = COREWEBVIEW2_PERMISSION_KIND_UNKNOWN_PERMISSION;
              if (args == nullptr || FAILED(args->get_PermissionKind(&kind)))
                return S_OK;
              LPWSTR raw = nullptr;
              const std::wstring origin = SUCCEEDED(args->get_Uri(&raw)) ? TakeString(raw) : std::wstring();
              const PagePermission permission = PermissionOf(kind);
              PermissionAnswer answer =
                  permission == PagePermission::kOther ? PermissionAnswer::kDefault : PermissionAnswer::kDeny;
              if (answerPermission)
                answer = answerPermission(permission, origin);
              if (answer == PermissionAnswer::kAllow)
                args->put_State(COREWEBVIEW2_PERMISSION_STATE_ALLOW);
              else if (answer == PermissionAnswer::kDeny)
                args->put_State(COREWEBVIEW2_PERMISSION_STATE_DENY);
            } catch (...) {
            }
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
              // No second window: the student stays in this one, where the policy judges the
              // address before the view goes there; a refused one is dropped.
              args->put_Handled(TRUE);
              LPWSTR raw = nullptr;
              if (FAILED(args->get_Uri(&raw)) || raw == nullptr)
                return S_OK;
              const std::wstring uri = TakeString(raw);
              bool cancel = false;
              if (onNavigationStarting)
                onNavigationStarting(uri, cancel);
              if (!cancel && webView)
                webView->Navigate(uri.c_str());
            } catch (...) {
            }
            return S_OK;
          })
          .Get(),
      &token);

  // Nothing leaves as a download, whatever starts it (a link, a script, the PDF viewer): a
  // lesson's files leave the player only as what the page shows, with its watermark, or through
  // the player's own print path. Runtimes without the event have no way to refuse one.
  ComPtr<ICoreWebView2_4> view4;
  if (SUCCEEDED(webView.As(&view4))) {
    view4->add_DownloadStarting(
        base::ComCallback<ICoreWebView2DownloadStartingEventHandler>(
            [](ICoreWebView2*, ICoreWebView2DownloadStartingEventArgs* args) noexcept {
              if (args != nullptr) {
                args->put_Cancel(TRUE);
                args->put_Handled(TRUE);
              }
              return S_OK;
            })
            .Get(),
        &token);
  }

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
              // (an intercepting proxy); the request is answered here and the user is warned. An
              // HTTPS address whose host cannot be read is blocked without a warning.
              if (const std::optional<PinGateTarget> target = PinGateTargetOf(uri)) {
                WebGateAnswer answer = WebGateAnswer::kRefuse;
                if (!target->host.empty())
                  answer = platform_.checkHostPins ? platform_.checkHostPins(target->host, target->port)
                                                   : WebGateAnswer::kAllow;
                if (answer != WebGateAnswer::kAllow) {
                  if (environment) {
                    ComPtr<ICoreWebView2WebResourceResponse> response;
                    if (SUCCEEDED(environment->CreateWebResourceResponse(
                            nullptr, 403, L"Blocked", L"Content-Type: text/plain", &response)) &&
                        response) {
                      args->put_Response(response.Get());
                    }
                  }
                  if (answer == WebGateAnswer::kRefuseAndWarn && platform_.pinFailureNotice) {
                    // Detached, so that the refused request is answered first; the warning
                    // ends the process. A host refused before has its warning on the way.
                    std::thread(platform_.pinFailureNotice, target->host).detach();
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
