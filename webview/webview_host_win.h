// WebView::WebViewHost: one embedded Microsoft Edge WebView2 browser inside a parent window (its
// environment, controller and view), the handlers it registers on the view, and the thin calls
// through which the owning window drives it: the Windows adapter of the portable web-view
// contract (web_view.h). Connect() wires a window's ViewEvents to the host's five callbacks.
//
// Threads: everything runs on the thread that created the parent window, a single-threaded COM
// apartment. Initialize() is synchronous for its caller but runs a nested message pump, so window
// procedures and the host's own callbacks may run while it is in progress.
//
// Lifetime: an owner that wants to free a host while one of the host's calls may still be on the
// stack (a window destroyed during Initialize's pump or inside a print dialog) hands it to
// DestroyWhenIdle(); the host is then freed when its outermost call returns.
//
// Failures never leave as exceptions: Initialize() reports them as lastError, statusMessage and
// onInitialized(false, lastError); the other calls simply do nothing when the view is missing.
#ifndef CORVEL_WEBVIEW_WEBVIEW_HOST_WIN_H_
#define CORVEL_WEBVIEW_WEBVIEW_HOST_WIN_H_

#include <windows.h>

#include <wrl/client.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "base/unique_handle_win.h"
#include "net/pinning.h"
#include "webview/composed_page.h"
#include "webview/navigation_policy.h"
#include "webview/pin_gate.h"
#include "webview/print_requests.h"
#include "webview/web_view.h"
#include "webview/webview2.h"

namespace WebView {

// What the host needs from outside: the WebView2 loader, the certificate-pin gate and the
// printer dialog. DefaultHostPlatform() gives the real ones; tests replace single members.
struct HostPlatform {
  // GetAvailableCoreWebView2BrowserVersionString: version of the runtime in the folder (null:
  // the installed one); an empty version on success means none was found.
  std::function<HRESULT(const wchar_t* browserFolder, std::wstring& version)> getBrowserVersion;
  // CreateCoreWebView2EnvironmentWithOptions with no options. On success the handler is called
  // later, once, from this thread's message loop.
  std::function<HRESULT(const wchar_t* browserFolder,
                        const wchar_t* userDataFolder,
                        ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler* handler)>
      createEnvironment;
  // The certificate-pin gate before every request of the page (pin_gate.h).
  PinGate pinGate;
  // How long Initialize waits for the runtime to complete the environment, then the controller:
  // past it the attempt fails with HRESULT_FROM_WIN32(ERROR_TIMEOUT) at that creation's stage.
  unsigned creationLimitMs = 60000;
  // One print request of the view's page: the printer dialog over `owner` and the silent print
  // (PrintViewPage), which report to the page themselves. Runs a modal loop; called from the
  // host's own message window, never from inside a WebView2 event handler.
  std::function<void(HWND owner, ICoreWebView2Environment* environment, ICoreWebView2* view)> printPage;
  // The same for a PDF lesson, printing its document (PrintPdfLesson); `ended` runs once the
  // outcome has been posted.
  std::function<void(HWND owner,
                     ICoreWebView2Environment* environment,
                     ICoreWebView2* view,
                     const PrintedDocument& document,
                     std::function<void()> ended)>
      printDocument;
};

HostPlatform DefaultHostPlatform();

class WebViewHost final : public BrowserView {
 public:
  WebViewHost();
  explicit WebViewHost(HostPlatform platform);
  ~WebViewHost() override;
  WebViewHost(const WebViewHost&) = delete;
  WebViewHost& operator=(const WebViewHost&) = delete;

  // Callbacks, set by the owner before Initialize and left alone afterwards; empty ones are
  // skipped. All run on the UI thread, from the view's events (or from Initialize).
  std::function<void(const std::wstring& uri, bool& cancel)> onNavigationStarting;
  std::function<void(const std::wstring& uri, ICoreWebView2WebResourceRequestedEventArgs* args)>
      onWebResourceRequested;
  std::function<void(const std::wstring& message)> onWebMessage;
  std::function<void(bool success, HRESULT result)> onInitialized;
  std::function<void(bool success, COREWEBVIEW2_WEB_ERROR_STATUS status)> onNavigationCompleted;
  // ContainsFullScreenElementChanged, with the view's new state.
  std::function<void(bool fullscreen)> onFullscreenElement;
  // ProcessFailed of the page's renderer or of the browser; not while the host closes.
  std::function<void(ViewFailure failure)> onProcessFailed;

  // Which pages the host listens to and what they may use, decided by the owner; both are
  // asked from the view's events on the UI thread. Messages of a top document for which
  // acceptsMessagesFrom (its address; whether it is the host's own composed page) is false are
  // dropped; unset, every top document is heard. answerPermission gets the requesting origin;
  // unset, microphone, camera and notifications are denied and other kinds keep the browser's
  // handling.
  std::function<bool(const std::wstring& source, bool composedPage)> acceptsMessagesFrom;
  std::function<PermissionAnswer(PagePermission permission, const std::wstring& origin)> answerPermission;

  // Sets the callbacks above from a window's events (web_view.h): navigationStarting cancels
  // through onNavigationStarting, request sets its headers through onWebResourceRequested,
  // ready and loaded come through onInitialized and onNavigationCompleted, processFailed through
  // onProcessFailed.
  void Connect(ViewEvents events);

  HWND parentWindow = nullptr;
  Microsoft::WRL::ComPtr<ICoreWebView2Environment> environment;
  Microsoft::WRL::ComPtr<ICoreWebView2Controller> controller;
  Microsoft::WRL::ComPtr<ICoreWebView2> webView;  // non-null exactly when a view is ready
  base::UniqueKernelHandle browserExitEvent;      // manual reset; set when the browser process ends
  EventRegistrationToken browserExitToken{};
  bool browserExitHandlerRegistered = false;
  bool closing = false;  // Shutdown has run for the current view
  HRESULT lastError = S_OK;
  std::wstring statusMessage;  // one-line summary of the last Initialize

  // Starts creating the environment of Initialize's first attempt for the same userDataRoot
  // ahead of it, so that the browser gets ready while the owner does other work; returns at once
  // and the completion comes from the thread's message loop. Initialize then takes the
  // environment over (or its failure, as that attempt's). At most once per host, before
  // Initialize; Shutdown abandons it.
  void StartEnvironment(const std::wstring& userDataRoot);

  // Creates the view in `parent` with its data under userDataRoot + a runtime suffix, making up
  // to maximumAttempts attempts (at least one), each in a folder of its own. Returns when the
  // view is ready (true) or every attempt failed (false); calls onInitialized either way.
  bool Initialize(HWND parent, const std::wstring& userDataRoot, int maximumAttempts);

  // Closes the view and waits up to timeoutMs for its browser process to end (0: no wait). Only
  // the first call after a view was made does anything.
  void Shutdown(unsigned timeoutMs);

  // View calls (BrowserView); nothing happens without a view.
  void Navigate(const std::wstring& url) override;
  // Shows the host's own page. Its navigation start reaches onNavigationStarting as
  // "about:blank" whichever address the runtime reports for it (ComposedPageMark).
  void NavigateToString(const std::wstring& html) override;
  using BrowserView::AddDocumentScript;
  void AddDocumentScript(const std::wstring& script, std::function<void(bool added)> added) override;
  // Fixed settings: no developer tools, context menus, status bar, zoom control or browser
  // accelerator keys, and a PDF viewer without Save, Save as and Print (the page's own print
  // button is the way to print, and the watermark is only a layer of the page).
  void ConfigureSettings() override;
  void GoBack() override;
  void Reload() override;
  void PostWebMessageAsJson(const std::wstring& json) override;
  // ShowSystemPrintDialog().
  void Print() override;
  // ShowSystemPrintDialog() for a PDF lesson: HostPlatform::printDocument instead of printPage.
  // One at a time: a request while a document is still being printed is answered "cancelled".
  void PrintDocument(const PrintedDocument& document) override;
  // Shutdown with the owner's wait (5000 ms).
  void Close() override;
  // A print request of the page, made from a page-message callback (inside the runtime's event
  // handler). Returns at once: answered "cancelled" while another request waits or its dialog
  // is open (PrintRequests), otherwise WM_APP_RUN_PRINT_REQUEST is posted to the host's own
  // message window, whose procedure runs the printer dialog and the print
  // (HostPlatform::printPage) from the ordinary message loop.
  void ShowSystemPrintDialog();
  // The posted request, as the host's message window runs it: the printer dialog and the print,
  // which post the outcome to the page. Nothing happens when no request is waiting.
  void RunPrintRequest() noexcept;

  // Layout calls of the owning window; nothing happens without a controller.
  void Resize(int width, int height);
  void RefreshLayout();
  void SetVisible(bool visible);
  void NotifyParentWindowPositionChanged();

  // Frees the host now, or, when one of its calls is still running further up the stack, as
  // soon as the outermost one returns. Call Shutdown first.
  static void DestroyWhenIdle(std::unique_ptr<WebViewHost> host);

  // Keeps the host alive (see DestroyWhenIdle) while an owner still reads it after a call that
  // may run a nested message loop.
  class CallScope {
   public:
    explicit CallScope(WebViewHost& host) noexcept;
    ~CallScope();
    CallScope(const CallScope&) = delete;
    CallScope& operator=(const CallScope&) = delete;

   private:
    WebViewHost& host_;
  };

 private:
  friend class WebViewHostTestAccess;
  struct AttemptState;
  struct EarlyEnvironment;

  bool InitializeAttempts(HWND parent, const std::wstring& userDataRoot, int maximumAttempts);
  void NotifyInitialized(bool success, HRESULT result) noexcept;
  HRESULT OnEnvironmentCreated(const std::shared_ptr<AttemptState>& state,
                               HRESULT result,
                               ICoreWebView2Environment* createdEnvironment);
  // The controller's creation after the pause that follows the environment (a timer of the
  // message window).
  void RunPausedControllerStart() noexcept;
  HRESULT OnControllerCreated(const std::shared_ptr<AttemptState>& state,
                              HRESULT result,
                              ICoreWebView2Controller* createdController);
  // The runtime choice of Initialize: a fixed-version runtime beside the executable, else the
  // installed one.
  struct RuntimeChoice {
    std::wstring kind = L"Evergreen";
    std::wstring browserFolder;  // empty: the installed runtime
    std::wstring version;
  };
  RuntimeChoice ChooseRuntime();
  // Makes an attempt's folder usable (created, written to, named in the environment); the
  // failing stage and its result otherwise.
  bool PrepareAttemptFolder(const std::wstring& folder,
                            const RuntimeChoice& runtime,
                            std::wstring& failedStage,
                            HRESULT& failure);
  // Starts the environment of an attempt in `folder`: the runtime's creation call, whose
  // completion goes to OnEnvironmentCreated for `state`, or to the early environment when
  // Initialize has not taken it over yet. The call's result.
  HRESULT CreateAttemptEnvironment(const RuntimeChoice& runtime,
                                   const std::wstring& folder,
                                   const std::shared_ptr<AttemptState>& state,
                                   const std::shared_ptr<EarlyEnvironment>& early);
  // Pumps the thread's messages until the attempt is done; false when a quit message ended it.
  bool PumpUntilDone(AttemptState& state);

  void SetupEventHandlers();
  // One member per view event, registered by SetupEventHandlers.
  template <typename Handler, typename Args>
  void AddHandler(HRESULT (STDMETHODCALLTYPE ICoreWebView2::*add)(Handler*, EventRegistrationToken*),
                  HRESULT (WebViewHost::*member)(Args*));
  void AddFullscreenElementWatch();
  // A page's request after the pin gate: blocked with 403, or given the owner's headers.
  void FinishResourceRequest(ICoreWebView2WebResourceRequestedEventArgs* args,
                             const std::wstring& uri,
                             bool passes);
  HRESULT OnNavigationStarting(ICoreWebView2NavigationStartingEventArgs* args);
  HRESULT OnWebMessageReceived(ICoreWebView2WebMessageReceivedEventArgs* args);
  HRESULT OnNavigationCompleted(ICoreWebView2NavigationCompletedEventArgs* args);
  HRESULT OnPermissionRequested(ICoreWebView2PermissionRequestedEventArgs* args);
  HRESULT OnNewWindowRequested(ICoreWebView2NewWindowRequestedEventArgs* args);
  HRESULT OnWebResourceRequested(ICoreWebView2WebResourceRequestedEventArgs* args);
  HRESULT OnProcessFailed(ICoreWebView2ProcessFailedEventArgs* args);
  void AddDownloadRefusal();
  void AddResourceFilter();

  void RegisterBrowserProcessExitHandler();
  void PostPrintCancelled() noexcept;
  // The host's own message-only window, made on first use, for work deferred out of the
  // runtime's event handlers (the print request).
  HWND MessageWindow();
  static LRESULT CALLBACK MessageWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) noexcept;

  HostPlatform platform_;
  base::UniqueWindow messageWindow_;
  std::function<void()> pausedControllerStart_;
  std::shared_ptr<EarlyEnvironment> early_;  // StartEnvironment's, until Initialize or Shutdown
  PrintRequests printRequests_;
  std::optional<PrintedDocument> requestedDocument_;  // what the waiting request prints
  std::shared_ptr<bool> printingDocument_ = std::make_shared<bool>(false);
  // Gone with the host: completions that come later find it expired and do nothing.
  std::shared_ptr<int> lifetime_ = std::make_shared<int>(0);
  ComposedPageMark composedPage_;
  int callDepth_ = 0;
  bool destroyWhenIdle_ = false;
};

}  // namespace WebView

#endif  // CORVEL_WEBVIEW_WEBVIEW_HOST_WIN_H_
