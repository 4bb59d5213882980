// Test doubles for WebViewHost under Wine, where there is no WebView2 runtime: an environment,
// controller, view and settings that record what the host does with them, event arguments the
// tests raise events with, and a HostPlatform whose "loader" hands out the fake environment
// from the message loop the way the runtime does. Like the runtime, the fake delivers its
// events and completions serially from the message loop: a callback that is still running (for
// example inside a nested message loop) gets nothing new until it returns. Test-only; used by
// the webview and app tests.
#ifndef CORVEL_WEBVIEW_TEST_FAKE_WEBVIEW2_WIN_H_
#define CORVEL_WEBVIEW_TEST_FAKE_WEBVIEW2_WIN_H_

#include <windows.h>

#include <objbase.h>
#include <wrl/client.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>
#include <vector>

#include "text/text.h"
#include "webview/test/fake_com_win.h"
#include "webview/webview2.h"
#include "webview/webview_host_win.h"

namespace host_test {

using Microsoft::WRL::ComPtr;

using fake_com::FakeCom;
using fake_com::SlotOf;

inline LPWSTR CoTaskCopy(const std::wstring& text) {
  const std::size_t bytes = (text.size() + 1) * sizeof(wchar_t);
  auto* copy = static_cast<LPWSTR>(CoTaskMemAlloc(bytes));
  if (copy != nullptr)
    std::memcpy(copy, text.c_str(), bytes);
  return copy;
}

inline std::string Narrow(const wchar_t* text) {
  return text == nullptr ? std::string("(null)") : Utf16ToUtf8(text);
}

// Runs a task later from this thread's message loop (a message-only window of the thread).
inline void PostToLoop(std::function<void()> task) {
  constexpr UINT kRunTask = WM_APP + 7;
  static HWND window = [] {
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpszClassName = L"CorvelHostTestTasks";
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpfnWndProc = [](HWND w, UINT message, WPARAM wparam, LPARAM lparam) -> LRESULT {
      if (message != kRunTask)
        return DefWindowProcW(w, message, wparam, lparam);
      std::unique_ptr<std::function<void()>> run(reinterpret_cast<std::function<void()>*>(lparam));
      (*run)();
      return 0;
    };
    RegisterClassExW(&windowClass);
    return CreateWindowExW(0, windowClass.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                           windowClass.hInstance, nullptr);
  }();
  PostMessageW(window, kRunTask, 0, reinterpret_cast<LPARAM>(new std::function<void()>(std::move(task))));
}

// Dispatches this thread's messages until `done` or the time is up; false on time-out.
template <typename Done>
bool PumpUntil(Done done, DWORD timeoutMs = 5000) {
  const ULONGLONG deadline = GetTickCount64() + timeoutMs;
  while (!done()) {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
    if (done())
      return true;
    const ULONGLONG now = GetTickCount64();
    if (now >= deadline)
      return false;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(deadline - now), QS_ALLINPUT);
  }
  return true;
}

// Dispatches this thread's messages until a quit message arrives; its code, or -1 after
// timeoutMs without one.
inline int WaitForQuit(DWORD timeoutMs = 5000) {
  const ULONGLONG deadline = GetTickCount64() + timeoutMs;
  while (GetTickCount64() < deadline) {
    MSG message;
    if (!PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
      continue;
    }
    if (message.message == WM_QUIT)
      return static_cast<int>(message.wParam);
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  return -1;
}

// ---- Request headers ----------------------------------------------------------------------

struct FakeHeaders {
  std::map<std::wstring, std::wstring> values;
  std::vector<std::wstring> setOrder;
  FakeCom com{SlotOf(&ICoreWebView2HttpRequestHeaders::GetIterator) + 1, this};

  FakeHeaders() {
    com.Answer(__uuidof(ICoreWebView2HttpRequestHeaders));
    com.Implement(&ICoreWebView2HttpRequestHeaders::SetHeader, &SetHeader);
  }
  static HRESULT STDMETHODCALLTYPE SetHeader(FakeCom* self, LPCWSTR name, LPCWSTR value) {
    FakeHeaders& h = self->context<FakeHeaders>();
    h.values[name] = value;
    h.setOrder.push_back(name);
    return S_OK;
  }
};

struct FakeRequest {
  std::optional<std::wstring> uri;  // nullopt: get_Uri gives null
  bool offerHeaders = true;
  FakeHeaders headers;
  FakeCom com{SlotOf(&ICoreWebView2WebResourceRequest::get_Headers) + 1, this};

  FakeRequest() {
    com.Answer(__uuidof(ICoreWebView2WebResourceRequest));
    com.Implement(&ICoreWebView2WebResourceRequest::get_Uri, &GetUri);
    com.Implement(&ICoreWebView2WebResourceRequest::get_Headers, &GetHeaders);
  }
  static HRESULT STDMETHODCALLTYPE GetUri(FakeCom* self, LPWSTR* out) {
    FakeRequest& r = self->context<FakeRequest>();
    *out = r.uri ? CoTaskCopy(*r.uri) : nullptr;
    return S_OK;
  }
  static HRESULT STDMETHODCALLTYPE GetHeaders(FakeCom* self, ICoreWebView2HttpRequestHeaders** out) {
    FakeRequest& r = self->context<FakeRequest>();
    *out = nullptr;
    if (!r.offerHeaders)
      return E_NOINTERFACE;
    *out = r.headers.com.As<ICoreWebView2HttpRequestHeaders>();
    (*out)->AddRef();
    return S_OK;
  }
};

// ---- Event arguments -----------------------------------------------------------------------

// A deferral: the request is answered once Complete is called.
struct FakeDeferral {
  int completed = 0;
  std::function<void()> onComplete;  // run at each Complete
  FakeCom com{SlotOf(&ICoreWebView2Deferral::Complete) + 1, this};
  FakeDeferral() {
    com.Answer(__uuidof(ICoreWebView2Deferral));
    com.Implement(&ICoreWebView2Deferral::Complete, &Complete);
  }
  static HRESULT STDMETHODCALLTYPE Complete(FakeCom* self) {
    FakeDeferral& d = self->context<FakeDeferral>();
    ++d.completed;
    if (d.onComplete)
      d.onComplete();
    return S_OK;
  }
};

struct FakeResourceRequestedArgs {
  bool offerRequest = true;
  FakeRequest request;
  ICoreWebView2WebResourceResponse* response = nullptr;  // what put_Response received
  bool offerDeferral = false;  // otherwise GetDeferral fails, and the host decides at once
  FakeDeferral deferral;
  int deferrals = 0;  // GetDeferral calls
  FakeCom com{SlotOf(&ICoreWebView2WebResourceRequestedEventArgs::get_ResourceContext) + 1, this};

  explicit FakeResourceRequestedArgs(std::optional<std::wstring> uri) {
    request.uri = std::move(uri);
    com.Answer(__uuidof(ICoreWebView2WebResourceRequestedEventArgs));
    com.Implement(&ICoreWebView2WebResourceRequestedEventArgs::get_Request, &GetRequest);
    com.Implement(&ICoreWebView2WebResourceRequestedEventArgs::put_Response, &PutResponse);
    com.Implement(&ICoreWebView2WebResourceRequestedEventArgs::GetDeferral, &GetDeferral);
  }
  static HRESULT STDMETHODCALLTYPE GetDeferral(FakeCom* self, ICoreWebView2Deferral** out) {
    FakeResourceRequestedArgs& a = self->context<FakeResourceRequestedArgs>();
    ++a.deferrals;
    *out = nullptr;
    if (!a.offerDeferral)
      return E_NOTIMPL;
    *out = a.deferral.com.As<ICoreWebView2Deferral>();
    (*out)->AddRef();
    return S_OK;
  }
  ICoreWebView2WebResourceRequestedEventArgs* get() {
    return com.As<ICoreWebView2WebResourceRequestedEventArgs>();
  }
  static HRESULT STDMETHODCALLTYPE GetRequest(FakeCom* self, ICoreWebView2WebResourceRequest** out) {
    FakeResourceRequestedArgs& a = self->context<FakeResourceRequestedArgs>();
    *out = nullptr;
    if (!a.offerRequest)
      return E_FAIL;
    *out = a.request.com.As<ICoreWebView2WebResourceRequest>();
    (*out)->AddRef();
    return S_OK;
  }
  static HRESULT STDMETHODCALLTYPE PutResponse(FakeCom* self, ICoreWebView2WebResourceResponse* response) {
    self->context<FakeResourceRequestedArgs>().response = response;
    return S_OK;
  }
};

struct FakeNavigationStartingArgs {
  std::optional<std::wstring> uri;
  std::vector<BOOL> cancelCalls;
  FakeCom com{SlotOf(&ICoreWebView2NavigationStartingEventArgs::get_NavigationId) + 1, this};

  explicit FakeNavigationStartingArgs(std::optional<std::wstring> u) : uri(std::move(u)) {
    com.Answer(__uuidof(ICoreWebView2NavigationStartingEventArgs));
    com.Implement(&ICoreWebView2NavigationStartingEventArgs::get_Uri, &GetUri);
    com.Implement(&ICoreWebView2NavigationStartingEventArgs::put_Cancel, &PutCancel);
  }
  ICoreWebView2NavigationStartingEventArgs* get() {
    return com.As<ICoreWebView2NavigationStartingEventArgs>();
  }
  static HRESULT STDMETHODCALLTYPE GetUri(FakeCom* self, LPWSTR* out) {
    FakeNavigationStartingArgs& a = self->context<FakeNavigationStartingArgs>();
    *out = a.uri ? CoTaskCopy(*a.uri) : nullptr;
    return S_OK;
  }
  static HRESULT STDMETHODCALLTYPE PutCancel(FakeCom* self, BOOL cancel) {
    self->context<FakeNavigationStartingArgs>().cancelCalls.push_back(cancel);
    return S_OK;
  }
};

struct FakeWebMessageArgs {
  std::optional<std::wstring> asString;  // nullopt: the message is not a string
  std::wstring json;
  std::wstring source = L"https://school.example/lesson";  // the posting document's address
  FakeCom com{SlotOf(&ICoreWebView2WebMessageReceivedEventArgs::TryGetWebMessageAsString) + 1, this};

  FakeWebMessageArgs(std::optional<std::wstring> string, std::wstring jsonText)
      : asString(std::move(string)), json(std::move(jsonText)) {
    com.Answer(__uuidof(ICoreWebView2WebMessageReceivedEventArgs));
    com.Implement(&ICoreWebView2WebMessageReceivedEventArgs::get_Source, &GetSource);
    com.Implement(&ICoreWebView2WebMessageReceivedEventArgs::get_WebMessageAsJson, &GetJson);
    com.Implement(&ICoreWebView2WebMessageReceivedEventArgs::TryGetWebMessageAsString, &TryGetString);
  }
  ICoreWebView2WebMessageReceivedEventArgs* get() {
    return com.As<ICoreWebView2WebMessageReceivedEventArgs>();
  }
  static HRESULT STDMETHODCALLTYPE GetJson(FakeCom* self, LPWSTR* out) {
    *out = CoTaskCopy(self->context<FakeWebMessageArgs>().json);
    return S_OK;
  }
  static HRESULT STDMETHODCALLTYPE GetSource(FakeCom* self, LPWSTR* out) {
    *out = CoTaskCopy(self->context<FakeWebMessageArgs>().source);
    return S_OK;
  }
  static HRESULT STDMETHODCALLTYPE TryGetString(FakeCom* self, LPWSTR* out) {
    FakeWebMessageArgs& a = self->context<FakeWebMessageArgs>();
    *out = nullptr;
    if (!a.asString)
      return E_INVALIDARG;  // what the runtime answers for a non-string message
    *out = CoTaskCopy(*a.asString);
    return S_OK;
  }
};

struct FakeNavigationCompletedArgs {
  BOOL success;
  COREWEBVIEW2_WEB_ERROR_STATUS status;
  FakeCom com{SlotOf(&ICoreWebView2NavigationCompletedEventArgs::get_NavigationId) + 1, this};

  FakeNavigationCompletedArgs(BOOL ok, COREWEBVIEW2_WEB_ERROR_STATUS s) : success(ok), status(s) {
    com.Answer(__uuidof(ICoreWebView2NavigationCompletedEventArgs));
    com.Implement(&ICoreWebView2NavigationCompletedEventArgs::get_IsSuccess, &GetIsSuccess);
    com.Implement(&ICoreWebView2NavigationCompletedEventArgs::get_WebErrorStatus, &GetStatus);
  }
  ICoreWebView2NavigationCompletedEventArgs* get() {
    return com.As<ICoreWebView2NavigationCompletedEventArgs>();
  }
  static HRESULT STDMETHODCALLTYPE GetIsSuccess(FakeCom* self, BOOL* out) {
    *out = self->context<FakeNavigationCompletedArgs>().success;
    return S_OK;
  }
  static HRESULT STDMETHODCALLTYPE GetStatus(FakeCom* self, COREWEBVIEW2_WEB_ERROR_STATUS* out) {
    *out = self->context<FakeNavigationCompletedArgs>().status;
    return S_OK;
  }
};

struct FakePermissionArgs {
  COREWEBVIEW2_PERMISSION_KIND kind;
  std::wstring origin;
  std::vector<COREWEBVIEW2_PERMISSION_STATE> states;
  FakeCom com{SlotOf(&ICoreWebView2PermissionRequestedEventArgs::GetDeferral) + 1, this};

  explicit FakePermissionArgs(COREWEBVIEW2_PERMISSION_KIND k, std::wstring o = L"https://school.example/")
      : kind(k), origin(std::move(o)) {
    com.Answer(__uuidof(ICoreWebView2PermissionRequestedEventArgs));
    com.Implement(&ICoreWebView2PermissionRequestedEventArgs::get_Uri, &GetUri);
    com.Implement(&ICoreWebView2PermissionRequestedEventArgs::get_PermissionKind, &GetKind);
    com.Implement(&ICoreWebView2PermissionRequestedEventArgs::put_State, &PutState);
  }
  ICoreWebView2PermissionRequestedEventArgs* get() {
    return com.As<ICoreWebView2PermissionRequestedEventArgs>();
  }
  static HRESULT STDMETHODCALLTYPE GetKind(FakeCom* self, COREWEBVIEW2_PERMISSION_KIND* out) {
    *out = self->context<FakePermissionArgs>().kind;
    return S_OK;
  }
  static HRESULT STDMETHODCALLTYPE GetUri(FakeCom* self, LPWSTR* out) {
    *out = CoTaskCopy(self->context<FakePermissionArgs>().origin);
    return S_OK;
  }
  static HRESULT STDMETHODCALLTYPE PutState(FakeCom* self, COREWEBVIEW2_PERMISSION_STATE state) {
    self->context<FakePermissionArgs>().states.push_back(state);
    return S_OK;
  }
};

struct FakeNewWindowArgs {
  std::optional<std::wstring> uri;
  std::vector<BOOL> handledCalls;
  FakeCom com{SlotOf(&ICoreWebView2NewWindowRequestedEventArgs::get_WindowFeatures) + 1, this};

  explicit FakeNewWindowArgs(std::optional<std::wstring> u) : uri(std::move(u)) {
    com.Answer(__uuidof(ICoreWebView2NewWindowRequestedEventArgs));
    com.Implement(&ICoreWebView2NewWindowRequestedEventArgs::get_Uri, &GetUri);
    com.Implement(&ICoreWebView2NewWindowRequestedEventArgs::put_Handled, &PutHandled);
  }
  ICoreWebView2NewWindowRequestedEventArgs* get() {
    return com.As<ICoreWebView2NewWindowRequestedEventArgs>();
  }
  static HRESULT STDMETHODCALLTYPE GetUri(FakeCom* self, LPWSTR* out) {
    FakeNewWindowArgs& a = self->context<FakeNewWindowArgs>();
    *out = a.uri ? CoTaskCopy(*a.uri) : nullptr;
    return S_OK;
  }
  static HRESULT STDMETHODCALLTYPE PutHandled(FakeCom* self, BOOL handled) {
    self->context<FakeNewWindowArgs>().handledCalls.push_back(handled);
    return S_OK;
  }
};

struct FakeDownloadArgs {
  std::vector<BOOL> cancelCalls, handledCalls;
  FakeCom com{SlotOf(&ICoreWebView2DownloadStartingEventArgs::GetDeferral) + 1, this};

  FakeDownloadArgs() {
    com.Answer(__uuidof(ICoreWebView2DownloadStartingEventArgs));
    com.Implement(&ICoreWebView2DownloadStartingEventArgs::put_Cancel, &PutCancel);
    com.Implement(&ICoreWebView2DownloadStartingEventArgs::put_Handled, &PutHandled);
  }
  ICoreWebView2DownloadStartingEventArgs* get() { return com.As<ICoreWebView2DownloadStartingEventArgs>(); }
  static HRESULT STDMETHODCALLTYPE PutCancel(FakeCom* self, BOOL cancel) {
    self->context<FakeDownloadArgs>().cancelCalls.push_back(cancel);
    return S_OK;
  }
  static HRESULT STDMETHODCALLTYPE PutHandled(FakeCom* self, BOOL handled) {
    self->context<FakeDownloadArgs>().handledCalls.push_back(handled);
    return S_OK;
  }
};

struct FakeProcessFailedArgs {
  COREWEBVIEW2_PROCESS_FAILED_KIND kind;
  FakeCom com{SlotOf(&ICoreWebView2ProcessFailedEventArgs::get_ProcessFailedKind) + 1, this};

  explicit FakeProcessFailedArgs(COREWEBVIEW2_PROCESS_FAILED_KIND failed) : kind(failed) {
    com.Answer(__uuidof(ICoreWebView2ProcessFailedEventArgs));
    com.Implement(&ICoreWebView2ProcessFailedEventArgs::get_ProcessFailedKind, &GetKind);
  }
  ICoreWebView2ProcessFailedEventArgs* get() { return com.As<ICoreWebView2ProcessFailedEventArgs>(); }
  static HRESULT STDMETHODCALLTYPE GetKind(FakeCom* self, COREWEBVIEW2_PROCESS_FAILED_KIND* out) {
    *out = self->context<FakeProcessFailedArgs>().kind;
    return S_OK;
  }
};

// ---- Environment, controller, view and settings ------------------------------------------

struct FakeRuntime {
  // What the runtime answers.
  std::wstring installedVersion = L"121.0.2277.83";  // for a null browser folder; empty: none
  std::function<HRESULT(const wchar_t* folder, std::wstring& version)> versionFor;  // overrides the above
  HRESULT createEnvironmentCall = S_OK;  // result of the loader call itself
  HRESULT environmentResult = S_OK;      // passed to the environment-completed handler
  bool giveEnvironment = true;
  bool completeEnvironment = true;  // false: the completion never comes
  bool completeController = true;
  unsigned creationLimitMs = 60000;  // the host's time limit for each
  bool offerEnvironment2 = true;
  bool offerEnvironment5 = true;
  HRESULT controllerCall = S_OK;  // result of CreateCoreWebView2Controller
  HRESULT controllerResult = S_OK;
  bool giveController = true;
  HRESULT getViewResult = S_OK;
  bool giveView = true;
  bool offerController2 = true;
  bool offerController4 = true;
  bool offerView2 = true;
  bool offerView4 = true;
  bool offerView22 = true;
  bool offerSettings3 = true;
  bool offerSettings7 = true;
  HRESULT createRequestResult = S_OK;
  HRESULT addScriptCall = S_OK;    // result of AddScriptToExecuteOnDocumentCreated itself
  HRESULT addScriptResult = S_OK;  // passed to its completion
  UINT32 browserProcessId = 0;
  BOOL canGoBack = TRUE;
  RECT reportedBounds{};  // what get_Bounds answers
  // The browser process ends as soon as the controller is closed (reported to a registered
  // browser-process-exited handler from inside Close).
  bool browserExitsOnClose = true;

  // What the host did.
  std::vector<std::string> calls;
  std::vector<std::wstring> environmentFolders;  // user-data folders asked for
  std::vector<std::optional<std::wstring>> browserFolders;
  std::vector<HWND> controllerParents;
  std::optional<COREWEBVIEW2_COLOR> background;
  std::optional<BOOL> allowExternalDrop;
  std::vector<RECT> bounds;
  std::vector<BOOL> visibility;
  std::vector<std::wstring> posted;    // PostWebMessageAsJson, in order
  std::vector<std::wstring> executed;  // ExecuteScript, in order
  // A navigation the host started (Navigate, NavigateToString as "about:blank", Reload as
  // "reload"); unset: nothing follows, the tests raise the events themselves.
  std::function<void(const std::wstring& uri)> navigated;
  // The runtime's rules, watched: deliveries that came while a callback was still running (its
  // nested message loop), and the longest a callback took.
  int nestedDeliveries = 0;
  ULONGLONG longestDeliveryMs = 0;
  std::size_t longestDeliveryCalls = 0;  // how many calls the host had made when it started
  // The JSON value an executed script completes with, later from the loop; unset: null.
  std::function<std::wstring(const std::wstring& script)> scriptValue;
  ComPtr<ICoreWebView2NavigationStartingEventHandler> navigationStarting;
  ComPtr<ICoreWebView2WebMessageReceivedEventHandler> webMessage;
  ComPtr<ICoreWebView2NavigationCompletedEventHandler> navigationCompleted;
  ComPtr<ICoreWebView2PermissionRequestedEventHandler> permissionRequested;
  ComPtr<ICoreWebView2NewWindowRequestedEventHandler> newWindowRequested;
  ComPtr<ICoreWebView2ContainsFullScreenElementChangedEventHandler> fullscreenChanged;
  BOOL containsFullScreenElement = FALSE;
  ComPtr<ICoreWebView2ProcessFailedEventHandler> processFailed;
  ComPtr<ICoreWebView2WebResourceRequestedEventHandler> resourceRequested;
  ComPtr<ICoreWebView2DownloadStartingEventHandler> downloadStarting;
  ComPtr<ICoreWebView2BrowserProcessExitedEventHandler> browserExited;
  std::optional<std::wstring> responseReason;
  std::optional<std::wstring> responseHeaders;
  std::optional<int> responseStatus;
  std::optional<std::wstring> requestHeadersText;

  FakeCom environment{SlotOf(&ICoreWebView2Environment6::CreatePrintSettings) + 1, this};
  FakeCom controller{SlotOf(&ICoreWebView2Controller4::put_AllowExternalDrop) + 1, this};
  FakeCom view{SlotOf(&ICoreWebView2_22::RemoveWebResourceRequestedFilterWithRequestSourceKinds) + 1, this};
  FakeCom settings{SlotOf(&ICoreWebView2Settings7::put_HiddenPdfToolbarItems) + 1, this};
  FakeCom response{SlotOf(&ICoreWebView2WebResourceResponse::put_ReasonPhrase) + 1, this};
  FakeRequest navigationRequest;

  FakeRuntime() = default;
  FakeRuntime(const FakeRuntime&) = delete;
  FakeRuntime& operator=(const FakeRuntime&) = delete;

  // Call after setting the knobs above.
  void Build() {
    environment.Answer(__uuidof(ICoreWebView2Environment));
    if (offerEnvironment2)
      environment.Answer(__uuidof(ICoreWebView2Environment2));
    if (offerEnvironment5)
      environment.Answer(__uuidof(ICoreWebView2Environment5));
    environment.Implement(&ICoreWebView2Environment::CreateCoreWebView2Controller, &CreateController);
    environment.Implement(&ICoreWebView2Environment::CreateWebResourceResponse, &CreateResponse);
    environment.Implement(&ICoreWebView2Environment2::CreateWebResourceRequest, &CreateRequest);
    environment.Implement(&ICoreWebView2Environment5::add_BrowserProcessExited, &AddBrowserExited);
    environment.Implement(&ICoreWebView2Environment5::remove_BrowserProcessExited, &RemoveBrowserExited);

    controller.Answer(__uuidof(ICoreWebView2Controller));
    if (offerController2)
      controller.Answer(__uuidof(ICoreWebView2Controller2));
    if (offerController4)
      controller.Answer(__uuidof(ICoreWebView2Controller4));
    controller.Implement(&ICoreWebView2Controller::put_IsVisible, &PutIsVisible);
    controller.Implement(&ICoreWebView2Controller::get_Bounds, &GetBounds);
    controller.Implement(&ICoreWebView2Controller::put_Bounds, &PutBounds);
    controller.Implement(&ICoreWebView2Controller::NotifyParentWindowPositionChanged, &NotifyPosition);
    controller.Implement(&ICoreWebView2Controller::Close, &CloseController);
    controller.Implement(&ICoreWebView2Controller::get_CoreWebView2, &GetView);
    controller.Implement(&ICoreWebView2Controller2::put_DefaultBackgroundColor, &PutBackground);
    controller.Implement(&ICoreWebView2Controller4::put_AllowExternalDrop, &PutAllowExternalDrop);

    view.Answer(__uuidof(ICoreWebView2));
    if (offerView2)
      view.Answer(__uuidof(ICoreWebView2_2));
    if (offerView4)
      view.Answer(__uuidof(ICoreWebView2_4));
    if (offerView22)
      view.Answer(__uuidof(ICoreWebView2_22));
    view.Implement(&ICoreWebView2::get_Settings, &GetSettings);
    view.Implement(&ICoreWebView2::Navigate, &Navigate);
    view.Implement(&ICoreWebView2::NavigateToString, &NavigateToString);
    view.Implement(&ICoreWebView2::add_NavigationStarting, &AddNavigationStarting);
    view.Implement(&ICoreWebView2::add_NavigationCompleted, &AddNavigationCompleted);
    view.Implement(&ICoreWebView2::add_PermissionRequested, &AddPermissionRequested);
    view.Implement(&ICoreWebView2::AddScriptToExecuteOnDocumentCreated, &AddScript);
    view.Implement(&ICoreWebView2::Reload, &Reload);
    view.Implement(&ICoreWebView2::add_WebMessageReceived, &AddWebMessage);
    view.Implement(&ICoreWebView2::PostWebMessageAsJson, &PostJson);
    view.Implement(&ICoreWebView2::ExecuteScript, &ExecuteScript);
    view.Implement(&ICoreWebView2::get_BrowserProcessId, &GetBrowserProcessId);
    view.Implement(&ICoreWebView2::get_CanGoBack, &GetCanGoBack);
    view.Implement(&ICoreWebView2::GoBack, &GoBack);
    view.Implement(&ICoreWebView2::add_NewWindowRequested, &AddNewWindow);
    view.Implement(&ICoreWebView2::add_ContainsFullScreenElementChanged, &AddFullscreenChanged);
    view.Implement(&ICoreWebView2::get_ContainsFullScreenElement, &GetContainsFullScreen);
    view.Implement(&ICoreWebView2::add_ProcessFailed, &AddProcessFailed);
    view.Implement(&ICoreWebView2::add_WebResourceRequested, &AddResourceRequested);
    view.Implement(&ICoreWebView2::AddWebResourceRequestedFilter, &AddFilter);
    view.Implement(&ICoreWebView2_2::NavigateWithWebResourceRequest, &NavigateWithRequest);
    view.Implement(&ICoreWebView2_4::add_DownloadStarting, &AddDownloadStarting);
    view.Implement(&ICoreWebView2_22::AddWebResourceRequestedFilterWithRequestSourceKinds,
                   &AddFilterWithKinds);

    settings.Answer(__uuidof(ICoreWebView2Settings));
    if (offerSettings3)
      settings.Answer(__uuidof(ICoreWebView2Settings3));
    if (offerSettings7)
      settings.Answer(__uuidof(ICoreWebView2Settings7));
    settings.Implement(&ICoreWebView2Settings::put_IsStatusBarEnabled, &PutSetting<0>);
    settings.Implement(&ICoreWebView2Settings::put_AreDevToolsEnabled, &PutSetting<1>);
    settings.Implement(&ICoreWebView2Settings::put_AreDefaultContextMenusEnabled, &PutSetting<2>);
    settings.Implement(&ICoreWebView2Settings::put_IsZoomControlEnabled, &PutSetting<3>);
    settings.Implement(&ICoreWebView2Settings3::put_AreBrowserAcceleratorKeysEnabled, &PutSetting<4>);
    settings.Implement(&ICoreWebView2Settings7::put_HiddenPdfToolbarItems, &PutPdfToolbar);

    response.Answer(__uuidof(ICoreWebView2WebResourceResponse));
  }

  // The loader, for a WebViewHost: versions as configured; the environment arrives from the
  // message loop.
  WebView::HostPlatform Platform() {
    WebView::HostPlatform platform = WebView::DefaultHostPlatform();
    platform.getBrowserVersion = [this](const wchar_t* folder, std::wstring& version) -> HRESULT {
      version.clear();
      if (versionFor)
        return versionFor(folder, version);
      if (folder != nullptr)
        return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
      version = installedVersion;
      return S_OK;
    };
    platform.createEnvironment = [this](const wchar_t* browserFolder, const wchar_t* userDataFolder,
                                        ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler* handler) {
      environmentFolders.push_back(userDataFolder != nullptr ? userDataFolder : L"(null)");
      browserFolders.push_back(browserFolder != nullptr ? std::optional<std::wstring>(browserFolder)
                                                        : std::nullopt);
      if (FAILED(createEnvironmentCall))
        return createEnvironmentCall;
      ComPtr<ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler> kept(handler);
      if (!completeEnvironment)
        return S_OK;
      Queue([this, kept] {
        return kept->Invoke(environmentResult,
                            giveEnvironment ? environment.As<ICoreWebView2Environment>() : nullptr);
      });
      return S_OK;
    };
    platform.creationLimitMs = creationLimitMs;
    platform.pinGate.check = [](const std::wstring&, std::uint16_t) { return WebGateAnswer::kAllow; };
    platform.pinGate.known = nullptr;  // every answer from `check`, which tests replace
    platform.pinGate.warn = [](const std::wstring&) {};
    platform.printPage = [this](HWND, ICoreWebView2Environment*, ICoreWebView2*) {
      calls.push_back("print");
    };
    return platform;
  }

  int unexpectedCalls() const {
    return environment.unexpectedCalls() + controller.unexpectedCalls() + view.unexpectedCalls() +
           settings.unexpectedCalls() + response.unexpectedCalls();
  }

  // Raising events on the view, as the runtime would: the event is queued and delivered from
  // the message loop, which this call runs until the event has been handled (and no further:
  // what the handler posts stays queued), returning the handler's result. Raised while a
  // callback is running (from inside it, or from a nested loop it runs), the event waits until
  // that callback has returned and the call answers E_PENDING at once. The arguments must
  // outlive the delivery.
  HRESULT RaiseNavigationStarting(FakeNavigationStartingArgs& args) {
    return Raise([this, &args] { return navigationStarting->Invoke(view.As<ICoreWebView2>(), args.get()); });
  }
  HRESULT RaiseWebMessage(FakeWebMessageArgs& args) {
    return Raise([this, &args] { return webMessage->Invoke(view.As<ICoreWebView2>(), args.get()); });
  }
  HRESULT RaiseNavigationCompleted(FakeNavigationCompletedArgs& args) {
    return Raise([this, &args] { return navigationCompleted->Invoke(view.As<ICoreWebView2>(), args.get()); });
  }
  HRESULT RaisePermission(FakePermissionArgs& args) {
    return Raise([this, &args] { return permissionRequested->Invoke(view.As<ICoreWebView2>(), args.get()); });
  }
  // The page's element entered or left full screen (the event has no arguments).
  HRESULT RaiseFullscreenChanged(bool contains) {
    containsFullScreenElement = contains ? TRUE : FALSE;
    return Raise([this] { return fullscreenChanged->Invoke(view.As<ICoreWebView2>(), nullptr); });
  }
  HRESULT RaiseProcessFailed(FakeProcessFailedArgs& args) {
    return Raise([this, &args] { return processFailed->Invoke(view.As<ICoreWebView2>(), args.get()); });
  }
  HRESULT RaiseNewWindow(FakeNewWindowArgs& args) {
    return Raise([this, &args] { return newWindowRequested->Invoke(view.As<ICoreWebView2>(), args.get()); });
  }
  HRESULT RaiseResourceRequested(FakeResourceRequestedArgs& args) {
    return Raise([this, &args] { return resourceRequested->Invoke(view.As<ICoreWebView2>(), args.get()); });
  }
  HRESULT RaiseDownload(FakeDownloadArgs& args) {
    return Raise([this, &args] { return downloadStarting->Invoke(view.As<ICoreWebView2>(), args.get()); });
  }

  // True while one of the runtime's callbacks (an event handler or a completion) is running.
  bool delivering() const { return delivering_; }

  // Queues a callback for serial delivery from the message loop; returns at once.
  void Queue(std::function<HRESULT()> callback) { Enqueue(std::move(callback)); }

 private:
  struct Delivery {
    std::function<HRESULT()> invoke;
    std::shared_ptr<std::optional<HRESULT>> result;
  };

  std::shared_ptr<std::optional<HRESULT>> Enqueue(std::function<HRESULT()> invoke) {
    auto result = std::make_shared<std::optional<HRESULT>>();
    pending_.push_back({std::move(invoke), result});
    ScheduleDelivery();
    return result;
  }

  HRESULT Raise(std::function<HRESULT()> invoke) {
    const std::shared_ptr<std::optional<HRESULT>> result = Enqueue(std::move(invoke));
    if (delivering_)
      return E_PENDING;  // delivered once the running callback returns
    // One message at a time, stopping as soon as this event has been handled.
    const ULONGLONG deadline = GetTickCount64() + 5000;
    while (!result->has_value() && GetTickCount64() < deadline) {
      MSG message;
      if (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
      } else {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
      }
    }
    return result->value_or(E_PENDING);
  }

  void ScheduleDelivery() {
    std::weak_ptr<int> alive = alive_;
    PostToLoop([this, alive] {
      if (!alive.expired())
        DeliverNext();
    });
  }

  // Delivers the oldest waiting callback, unless one is still running: a nested loop inside a
  // callback dispatches this too, and must not get the next event.
  void DeliverNext() {
    if (delivering_)
      ++nestedDeliveries;
    if (delivering_ || pending_.empty())
      return;
    Delivery next = std::move(pending_.front());
    pending_.pop_front();
    delivering_ = true;
    const ULONGLONG started = GetTickCount64();
    const std::size_t callsBefore = calls.size();
    const HRESULT result = next.invoke();
    if (GetTickCount64() - started > longestDeliveryMs) {
      longestDeliveryMs = GetTickCount64() - started;
      longestDeliveryCalls = callsBefore;
    }
    delivering_ = false;
    *next.result = result;
    if (!pending_.empty())
      ScheduleDelivery();
  }

  std::deque<Delivery> pending_;
  bool delivering_ = false;
  std::shared_ptr<int> alive_ = std::make_shared<int>(0);  // late deliveries find it gone
  static FakeRuntime& Of(FakeCom* self) { return self->context<FakeRuntime>(); }

  static HRESULT STDMETHODCALLTYPE
  CreateController(FakeCom* self,
                   HWND parent,
                   ICoreWebView2CreateCoreWebView2ControllerCompletedHandler* handler) {
    FakeRuntime& r = Of(self);
    r.calls.push_back("env.CreateCoreWebView2Controller");
    r.controllerParents.push_back(parent);
    if (FAILED(r.controllerCall))
      return r.controllerCall;
    ComPtr<ICoreWebView2CreateCoreWebView2ControllerCompletedHandler> kept(handler);
    if (!r.completeController)
      return S_OK;
    r.Queue([&r, kept] {
      return kept->Invoke(r.controllerResult,
                          r.giveController ? r.controller.As<ICoreWebView2Controller>() : nullptr);
    });
    return S_OK;
  }
  static HRESULT STDMETHODCALLTYPE CreateResponse(FakeCom* self,
                                                  IStream* content,
                                                  int status,
                                                  LPCWSTR reason,
                                                  LPCWSTR headers,
                                                  ICoreWebView2WebResourceResponse** out) {
    FakeRuntime& r = Of(self);
    r.calls.push_back(std::string("env.CreateWebResourceResponse") + (content ? " with content" : ""));
    r.responseStatus = status;
    r.responseReason = reason ? reason : L"(null)";
    r.responseHeaders = headers ? headers : L"(null)";
    *out = r.response.As<ICoreWebView2WebResourceResponse>();
    (*out)->AddRef();
    return S_OK;
  }
  static HRESULT STDMETHODCALLTYPE CreateRequest(FakeCom* self,
                                                 LPCWSTR uri,
                                                 LPCWSTR method,
                                                 IStream* body,
                                                 LPCWSTR headers,
                                                 ICoreWebView2WebResourceRequest** out) {
    FakeRuntime& r = Of(self);
    r.calls.push_back("env.CreateWebResourceRequest " + Narrow(uri) + " " + Narrow(method) +
                      (body ? " with body" : ""));
    r.requestHeadersText = headers ? headers : L"(null)";
    *out = nullptr;
    if (FAILED(r.createRequestResult))
      return r.createRequestResult;
    r.navigationRequest.uri = uri;
    *out = r.navigationRequest.com.As<ICoreWebView2WebResourceRequest>();
    (*out)->AddRef();
    return S_OK;
  }
  static HRESULT STDMETHODCALLTYPE AddBrowserExited(FakeCom* self,
                                                    ICoreWebView2BrowserProcessExitedEventHandler* h,
                                                    EventRegistrationToken* token) {
    FakeRuntime& r = Of(self);
    r.calls.push_back("env.add_BrowserProcessExited");
    r.browserExited = h;
    token->value = 77;
    return S_OK;
  }
  static HRESULT STDMETHODCALLTYPE RemoveBrowserExited(FakeCom* self, EventRegistrationToken token) {
    FakeRuntime& r = Of(self);
    r.calls.push_back("env.remove_BrowserProcessExited " + std::to_string(token.value));
    r.browserExited.Reset();
    return S_OK;
  }

  static HRESULT STDMETHODCALLTYPE PutIsVisible(FakeCom* self, BOOL visible) {
    Of(self).visibility.push_back(visible);
    return S_OK;
  }
  static HRESULT STDMETHODCALLTYPE GetBounds(FakeCom* self, RECT* out) {
    *out = Of(self).reportedBounds;
    return S_OK;
  }
  static HRESULT STDMETHODCALLTYPE PutBounds(FakeCom* self, RECT bounds) {
    Of(self).bounds.push_back(bounds);
    return S_OK;
  }
  static HRESULT STDMETHODCALLTYPE NotifyPosition(FakeCom* self) {
    Of(self).calls.push_back("controller.NotifyParentWindowPositionChanged");
    return S_OK;
  }
  static HRESULT STDMETHODCALLTYPE CloseController(FakeCom* self) {
    FakeRuntime& r = Of(self);
    r.calls.push_back("controller.Close");
    if (r.browserExitsOnClose && r.browserExited)
      r.browserExited->Invoke(r.environment.As<ICoreWebView2Environment>(), nullptr);
    return S_OK;
  }
  static HRESULT STDMETHODCALLTYPE GetView(FakeCom* self, ICoreWebView2** out) {
    FakeRuntime& r = Of(self);
    *out = nullptr;
    if (FAILED(r.getViewResult))
      return r.getViewResult;
    if (r.giveView) {
      *out = r.view.As<ICoreWebView2>();
      (*out)->AddRef();
    }
    return S_OK;
  }
  static HRESULT STDMETHODCALLTYPE PutBackground(FakeCom* self, COREWEBVIEW2_COLOR color) {
    Of(self).background = color;
    return S_OK;
  }
  static HRESULT STDMETHODCALLTYPE PutAllowExternalDrop(FakeCom* self, BOOL allow) {
    Of(self).allowExternalDrop = allow;
    return S_OK;
  }

  static HRESULT STDMETHODCALLTYPE GetSettings(FakeCom* self, ICoreWebView2Settings** out) {
    FakeRuntime& r = Of(self);
    *out = r.settings.As<ICoreWebView2Settings>();
    (*out)->AddRef();
    return S_OK;
  }
  static HRESULT STDMETHODCALLTYPE Navigate(FakeCom* self, LPCWSTR uri) {
    Of(self).calls.push_back("view.Navigate " + Narrow(uri));
    if (Of(self).navigated && uri != nullptr)
      Of(self).navigated(uri);
    return S_OK;
  }
  static HRESULT STDMETHODCALLTYPE PostJson(FakeCom* self, LPCWSTR json) {
    Of(self).posted.push_back(json != nullptr ? json : L"(null)");
    return S_OK;
  }
  static HRESULT STDMETHODCALLTYPE ExecuteScript(FakeCom* self,
                                                 LPCWSTR script,
                                                 ICoreWebView2ExecuteScriptCompletedHandler* handler) {
    FakeRuntime& r = Of(self);
    r.executed.push_back(script != nullptr ? script : L"");
    const std::wstring value = r.scriptValue ? r.scriptValue(r.executed.back()) : L"null";
    ComPtr<ICoreWebView2ExecuteScriptCompletedHandler> kept(handler);
    r.Queue([kept, value] { return kept->Invoke(S_OK, value.c_str()); });
    return S_OK;
  }
  static HRESULT STDMETHODCALLTYPE NavigateToString(FakeCom* self, LPCWSTR html) {
    Of(self).calls.push_back("view.NavigateToString " + Narrow(html));
    if (Of(self).navigated)
      Of(self).navigated(L"about:blank");
    return S_OK;
  }
  static HRESULT STDMETHODCALLTYPE
  AddScript(FakeCom* self,
            LPCWSTR script,
            ICoreWebView2AddScriptToExecuteOnDocumentCreatedCompletedHandler* h) {
    FakeRuntime& r = Of(self);
    r.calls.push_back("view.AddScriptToExecuteOnDocumentCreated " + Narrow(script) + (h ? " +handler" : ""));
    if (FAILED(r.addScriptCall))
      return r.addScriptCall;
    // Applied later, as the runtime applies it: the completion comes from the message loop.
    if (h != nullptr) {
      ComPtr<ICoreWebView2AddScriptToExecuteOnDocumentCreatedCompletedHandler> kept(h);
      const HRESULT result = r.addScriptResult;
      r.Queue([kept, result] { return kept->Invoke(result, SUCCEEDED(result) ? L"script-id" : nullptr); });
    }
    return S_OK;
  }
  static HRESULT STDMETHODCALLTYPE Reload(FakeCom* self) {
    Of(self).calls.push_back("view.Reload");
    if (Of(self).navigated)
      Of(self).navigated(L"reload");
    return S_OK;
  }
  static HRESULT STDMETHODCALLTYPE GetBrowserProcessId(FakeCom* self, UINT32* out) {
    *out = Of(self).browserProcessId;
    return S_OK;
  }
  static HRESULT STDMETHODCALLTYPE GetCanGoBack(FakeCom* self, BOOL* out) {
    *out = Of(self).canGoBack;
    return S_OK;
  }
  static HRESULT STDMETHODCALLTYPE GoBack(FakeCom* self) {
    Of(self).calls.push_back("view.GoBack");
    return S_OK;
  }
  template <typename Handler>
  static HRESULT Keep(FakeCom* self,
                      const char* name,
                      ComPtr<Handler> FakeRuntime::*slot,
                      Handler* handler,
                      EventRegistrationToken* token) {
    FakeRuntime& r = Of(self);
    r.calls.push_back(std::string("view.") + name);
    r.*slot = handler;
    token->value = static_cast<std::int64_t>(r.calls.size());
    return S_OK;
  }
  static HRESULT STDMETHODCALLTYPE AddNavigationStarting(FakeCom* self,
                                                         ICoreWebView2NavigationStartingEventHandler* h,
                                                         EventRegistrationToken* token) {
    return Keep(self, "add_NavigationStarting", &FakeRuntime::navigationStarting, h, token);
  }
  static HRESULT STDMETHODCALLTYPE AddWebMessage(FakeCom* self,
                                                 ICoreWebView2WebMessageReceivedEventHandler* h,
                                                 EventRegistrationToken* token) {
    return Keep(self, "add_WebMessageReceived", &FakeRuntime::webMessage, h, token);
  }
  static HRESULT STDMETHODCALLTYPE AddNavigationCompleted(FakeCom* self,
                                                          ICoreWebView2NavigationCompletedEventHandler* h,
                                                          EventRegistrationToken* token) {
    return Keep(self, "add_NavigationCompleted", &FakeRuntime::navigationCompleted, h, token);
  }
  static HRESULT STDMETHODCALLTYPE AddPermissionRequested(FakeCom* self,
                                                          ICoreWebView2PermissionRequestedEventHandler* h,
                                                          EventRegistrationToken* token) {
    return Keep(self, "add_PermissionRequested", &FakeRuntime::permissionRequested, h, token);
  }
  static HRESULT STDMETHODCALLTYPE AddNewWindow(FakeCom* self,
                                                ICoreWebView2NewWindowRequestedEventHandler* h,
                                                EventRegistrationToken* token) {
    return Keep(self, "add_NewWindowRequested", &FakeRuntime::newWindowRequested, h, token);
  }
  static HRESULT STDMETHODCALLTYPE
  AddFullscreenChanged(FakeCom* self,
                       ICoreWebView2ContainsFullScreenElementChangedEventHandler* h,
                       EventRegistrationToken* token) {
    return Keep(self, "add_ContainsFullScreenElementChanged", &FakeRuntime::fullscreenChanged, h, token);
  }
  static HRESULT STDMETHODCALLTYPE AddProcessFailed(FakeCom* self,
                                                    ICoreWebView2ProcessFailedEventHandler* h,
                                                    EventRegistrationToken* token) {
    return Keep(self, "add_ProcessFailed", &FakeRuntime::processFailed, h, token);
  }
  static HRESULT STDMETHODCALLTYPE GetContainsFullScreen(FakeCom* self, BOOL* out) {
    *out = Of(self).containsFullScreenElement;
    return S_OK;
  }
  static HRESULT STDMETHODCALLTYPE AddDownloadStarting(FakeCom* self,
                                                       ICoreWebView2DownloadStartingEventHandler* h,
                                                       EventRegistrationToken* token) {
    return Keep(self, "add_DownloadStarting", &FakeRuntime::downloadStarting, h, token);
  }
  static HRESULT STDMETHODCALLTYPE AddResourceRequested(FakeCom* self,
                                                        ICoreWebView2WebResourceRequestedEventHandler* h,
                                                        EventRegistrationToken* token) {
    return Keep(self, "add_WebResourceRequested", &FakeRuntime::resourceRequested, h, token);
  }
  static HRESULT STDMETHODCALLTYPE AddFilter(FakeCom* self,
                                             LPCWSTR uri,
                                             COREWEBVIEW2_WEB_RESOURCE_CONTEXT context) {
    Of(self).calls.push_back("view.AddWebResourceRequestedFilter " + Narrow(uri) + " " +
                             std::to_string(static_cast<int>(context)));
    return S_OK;
  }
  static HRESULT STDMETHODCALLTYPE AddFilterWithKinds(FakeCom* self,
                                                      LPCWSTR uri,
                                                      COREWEBVIEW2_WEB_RESOURCE_CONTEXT context,
                                                      COREWEBVIEW2_WEB_RESOURCE_REQUEST_SOURCE_KINDS kinds) {
    Of(self).calls.push_back("view.AddWebResourceRequestedFilterWithRequestSourceKinds " + Narrow(uri) + " " +
                             std::to_string(static_cast<int>(context)) + " " +
                             std::to_string(static_cast<std::uint32_t>(kinds)));
    return S_OK;
  }
  static HRESULT STDMETHODCALLTYPE NavigateWithRequest(FakeCom* self,
                                                       ICoreWebView2WebResourceRequest* request) {
    FakeRuntime& r = Of(self);
    const bool ours = request == r.navigationRequest.com.As<ICoreWebView2WebResourceRequest>();
    r.calls.push_back(ours ? "view.NavigateWithWebResourceRequest"
                           : "view.NavigateWithWebResourceRequest (another request)");
    if (ours && r.navigated && r.navigationRequest.uri)
      r.navigated(*r.navigationRequest.uri);
    return S_OK;
  }

  template <int kSetting>
  static HRESULT STDMETHODCALLTYPE PutSetting(FakeCom* self, BOOL value) {
    static const char* const kNames[] = {"IsStatusBarEnabled", "AreDevToolsEnabled",
                                         "AreDefaultContextMenusEnabled", "IsZoomControlEnabled",
                                         "AreBrowserAcceleratorKeysEnabled"};
    Of(self).calls.push_back(std::string("settings.") + kNames[kSetting] + " " + std::to_string(value));
    return S_OK;
  }
  static HRESULT STDMETHODCALLTYPE PutPdfToolbar(FakeCom* self, COREWEBVIEW2_PDF_TOOLBAR_ITEMS items) {
    Of(self).calls.push_back("settings.HiddenPdfToolbarItems " + std::to_string(static_cast<int>(items)));
    return S_OK;
  }
};

}  // namespace host_test

#endif  // CORVEL_WEBVIEW_TEST_FAKE_WEBVIEW2_WIN_H_
