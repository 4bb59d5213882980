// The handlers a WebViewHost registers on its view: it adds the identification header and the
// certificate-pin gate to every request, judges new windows by the owner's policy before the view
// goes there, answers permission requests, refuses downloads, and hands navigations, requests and
// messages on to its owner's callbacks.
#include <windows.h>

#include <objbase.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include "base/com_callback_win.h"
#include "base/unique_handle_win.h"
#include "base/window_task_win.h"
#include "config/config.h"
#include "webview/navigation_policy.h"
#include "webview/pin_gate.h"
#include "webview/webview_host_win.h"

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

// Each handler runs with the host kept alive (CallScope) and lets no exception out: a failed
// interface call ends that handler's work for the event.
template <typename Handler, typename Args>
void WebViewHost::AddHandler(HRESULT (STDMETHODCALLTYPE ICoreWebView2::*add)(Handler*,
                                                                             EventRegistrationToken*),
                             HRESULT (WebViewHost::*member)(Args*)) {
  EventRegistrationToken token{};  // registrations live as long as the view; tokens are not kept
  (webView.Get()->*add)(base::ComCallback<Handler>([this, member](ICoreWebView2*, Args* args) noexcept {
                          CallScope scope(*this);
                          try {
                            return args == nullptr ? S_OK : (this->*member)(args);
                          } catch (...) {
                            return S_OK;
                          }
                        }).Get(),
                        &token);
}

// The event carries no arguments: the state is read from the view.
void WebViewHost::AddFullscreenElementWatch() {
  EventRegistrationToken token{};
  webView->add_ContainsFullScreenElementChanged(
      base::ComCallback<ICoreWebView2ContainsFullScreenElementChangedEventHandler>([this](
                                                                                       ICoreWebView2* sender,
                                                                                       IUnknown*) noexcept {
        CallScope scope(*this);
        BOOL contains = FALSE;
        if (sender == nullptr || FAILED(sender->get_ContainsFullScreenElement(&contains)) ||
            !onFullscreenElement)
          return S_OK;
        try {
          onFullscreenElement(contains != FALSE);
        } catch (...) {
        }
        return S_OK;
      }).Get(),
      &token);
}

void WebViewHost::SetupEventHandlers() {
  if (!webView)
    return;
  AddHandler(&ICoreWebView2::add_NavigationStarting, &WebViewHost::OnNavigationStarting);
  AddHandler(&ICoreWebView2::add_WebMessageReceived, &WebViewHost::OnWebMessageReceived);
  AddHandler(&ICoreWebView2::add_NavigationCompleted, &WebViewHost::OnNavigationCompleted);
  AddHandler(&ICoreWebView2::add_PermissionRequested, &WebViewHost::OnPermissionRequested);
  AddHandler(&ICoreWebView2::add_NewWindowRequested, &WebViewHost::OnNewWindowRequested);
  AddFullscreenElementWatch();
  AddHandler(&ICoreWebView2::add_ProcessFailed, &WebViewHost::OnProcessFailed);
  AddDownloadRefusal();
  AddResourceFilter();
  AddHandler(&ICoreWebView2::add_WebResourceRequested, &WebViewHost::OnWebResourceRequested);
}

// The owner hears of the processes whose failure leaves the student without the page: the
// renderer of the page (or of one of its frames) and the browser itself. The runtime restarts
// the others (GPU, utility) on its own. The owner reloads or replaces the view: from the loop,
// after this event has returned.
HRESULT WebViewHost::OnProcessFailed(ICoreWebView2ProcessFailedEventArgs* args) {
  COREWEBVIEW2_PROCESS_FAILED_KIND kind{};
  if (closing || !onProcessFailed || FAILED(args->get_ProcessFailedKind(&kind)))
    return S_OK;
  ViewFailure failure{};
  switch (kind) {
    case COREWEBVIEW2_PROCESS_FAILED_KIND_BROWSER_PROCESS_EXITED:
      failure = ViewFailure::kBrowserExited;
      break;
    case COREWEBVIEW2_PROCESS_FAILED_KIND_RENDER_PROCESS_EXITED:
    case COREWEBVIEW2_PROCESS_FAILED_KIND_FRAME_RENDER_PROCESS_EXITED:
      failure = ViewFailure::kRendererExited;
      break;
    case COREWEBVIEW2_PROCESS_FAILED_KIND_RENDER_PROCESS_UNRESPONSIVE:
      failure = ViewFailure::kRendererUnresponsive;
      break;
    default:
      return S_OK;
  }
  base::PostWindowTask(MessageWindow(), [this, alive = std::weak_ptr<int>(lifetime_), failure] {
    if (alive.expired() || closing || !onProcessFailed)
      return;
    CallScope scope(*this);
    onProcessFailed(failure);
  });
  return S_OK;
}

HRESULT WebViewHost::OnNavigationStarting(ICoreWebView2NavigationStartingEventArgs* args) {
  LPWSTR raw = nullptr;
  const bool hasUri = SUCCEEDED(args->get_Uri(&raw)) && raw != nullptr;
  // Every start consumes the mark of the host's own page, which the runtime may report as
  // about:blank or as its data: address.
  const std::wstring uri = composedPage_.AddressForPolicy(TakeString(raw));
  bool cancel = false;
  if (onNavigationStarting && hasUri)
    onNavigationStarting(uri, cancel);
  if (cancel)
    args->put_Cancel(TRUE);
  else
    composedPage_.NavigationAllowed();
  return S_OK;
}

HRESULT WebViewHost::OnWebMessageReceived(ICoreWebView2WebMessageReceivedEventArgs* args) {
  if (!onWebMessage)
    return S_OK;
  LPWSTR raw = nullptr;
  if (acceptsMessagesFrom) {
    const std::wstring source = SUCCEEDED(args->get_Source(&raw)) ? TakeString(raw) : std::wstring();
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
  return S_OK;
}

HRESULT WebViewHost::OnNavigationCompleted(ICoreWebView2NavigationCompletedEventArgs* args) {
  if (!onNavigationCompleted)
    return S_OK;
  BOOL success = FALSE;
  if (FAILED(args->get_IsSuccess(&success)))
    return S_OK;
  COREWEBVIEW2_WEB_ERROR_STATUS status = COREWEBVIEW2_WEB_ERROR_STATUS_UNKNOWN;
  if (!success && FAILED(args->get_WebErrorStatus(&status)))
    status = COREWEBVIEW2_WEB_ERROR_STATUS_UNKNOWN;
  onNavigationCompleted(success != FALSE, status);
  return S_OK;
}

HRESULT WebViewHost::OnPermissionRequested(ICoreWebView2PermissionRequestedEventArgs* args) {
  COREWEBVIEW2_PERMISSION_KIND kind = COREWEBVIEW2_PERMISSION_KIND_UNKNOWN_PERMISSION;
  if (FAILED(args->get_PermissionKind(&kind)))
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
  return S_OK;
}

HRESULT WebViewHost::OnNewWindowRequested(ICoreWebView2NewWindowRequestedEventArgs* args) {
  // No second window: the student stays in this one, where the policy judges the address before
  // the view goes there; a refused one is dropped.
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
  return S_OK;
}

void WebViewHost::AddDownloadRefusal() {
  // Nothing leaves as a download, whatever starts it (a link, a script, the PDF viewer): a
  // lesson's files leave the player only as what the page shows, with its watermark, or through
  // the player's own print path. Runtimes without the event have no way to refuse one.
  ComPtr<ICoreWebView2_4> view4;
  if (FAILED(webView.As(&view4)))
    return;
  EventRegistrationToken token{};
  view4->add_DownloadStarting(base::ComCallback<ICoreWebView2DownloadStartingEventHandler>(
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

void WebViewHost::AddResourceFilter() {
  // Every request of the view, workers' included where the runtime can say so.
  ComPtr<ICoreWebView2_22> view22;
  if (SUCCEEDED(webView.As(&view22))) {
    view22->AddWebResourceRequestedFilterWithRequestSourceKinds(
        L"*", COREWEBVIEW2_WEB_RESOURCE_CONTEXT_ALL, COREWEBVIEW2_WEB_RESOURCE_REQUEST_SOURCE_KINDS_ALL);
  } else {
    webView->AddWebResourceRequestedFilter(L"*", COREWEBVIEW2_WEB_RESOURCE_CONTEXT_ALL);
  }
}

HRESULT WebViewHost::OnWebResourceRequested(ICoreWebView2WebResourceRequestedEventArgs* args) {
  ComPtr<ICoreWebView2WebResourceRequest> request;
  if (FAILED(args->get_Request(&request)) || !request)
    return S_OK;
  ComPtr<ICoreWebView2HttpRequestHeaders> headers;
  if (FAILED(request->get_Headers(&headers)) || !headers)
    return S_OK;
  headers->SetHeader(config::IdentificationHeaderName().c_str(), config::IdentificationHeaderValue().c_str());

  LPWSTR raw = nullptr;
  if (FAILED(request->get_Uri(&raw)) || raw == nullptr)
    return S_OK;
  const std::wstring uri = TakeString(raw);

  // The pin gate: the browser never loads from a pinned host whose keys do not match (an
  // intercepting proxy); the request is answered here, and the gate warns the user.
  if (const std::optional<bool> passes = PinGateAnswerAtOnce(platform_.pinGate, uri)) {
    FinishResourceRequest(args, uri, *passes);
    return S_OK;
  }
  // Deciding takes a probe of the host (seconds on a slow network): the request waits on its
  // deferral while a worker thread probes, and is finished on this thread, so the handler
  // returns at once.
  ComPtr<ICoreWebView2Deferral> deferral;
  const HWND window = MessageWindow();
  if (FAILED(args->GetDeferral(&deferral)) || !deferral || window == nullptr) {
    FinishResourceRequest(args, uri, PassesPinGate(platform_.pinGate, uri));
    return S_OK;
  }
  auto finish = std::make_unique<std::function<void(bool)>>(
      [this, alive = std::weak_ptr<int>(lifetime_),
       kept = ComPtr<ICoreWebView2WebResourceRequestedEventArgs>(args), deferral, uri](bool passes) {
        if (!alive.expired() && !closing) {
          CallScope scope(*this);
          FinishResourceRequest(kept.Get(), uri, passes);
        }
        deferral->Complete();
      });
  try {
    std::thread([gate = platform_.pinGate, uri, window, finish = finish.get()] {
      const bool passes = PassesPinGate(gate, uri);
      // A window that is gone cannot take it: the request's objects are then left alone rather
      // than released on this thread.
      base::PostWindowTask(
          window,
          [finish, passes] {
            const std::unique_ptr<std::function<void(bool)>> owned(finish);
            (*owned)(passes);
          },
          true);
    }).detach();
    finish.release();  // the posted task owns it now
  } catch (...) {
    (*finish)(PassesPinGate(platform_.pinGate, uri));
  }
  return S_OK;
}

void WebViewHost::FinishResourceRequest(ICoreWebView2WebResourceRequestedEventArgs* args,
                                        const std::wstring& uri,
                                        bool passes) {
  if (!passes) {
    if (environment) {
      ComPtr<ICoreWebView2WebResourceResponse> response;
      if (SUCCEEDED(environment->CreateWebResourceResponse(nullptr, 403, L"Blocked",
                                                           L"Content-Type: text/plain", &response)) &&
          response) {
        args->put_Response(response.Get());
      }
    }
    return;
  }
  if (onWebResourceRequested)
    onWebResourceRequested(uri, args);
}

}  // namespace WebView
