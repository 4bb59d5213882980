#include "webview/webview_host_win.h"

#include <objbase.h>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "base/com_callback_win.h"
#include "base/module_path_win.h"
#include "base/stable_names.h"
#include "base/window_messages.h"
#include "base/window_task_win.h"
#include "config/config.h"
#include "net/http_client.h"
#include "net/pinning.h"
#include "webview/navigation_policy.h"
#include "webview/pdf_print_win.h"
#include "webview/print_requests.h"
#include "webview/print_result.h"
#include "webview/printing_win.h"
#include "webview/webview2_loader.h"

namespace WebView {

using Microsoft::WRL::ComPtr;

namespace {

constexpr wchar_t kStageCreateUserDataFolder[] = L"CreateUserDataFolder";
constexpr wchar_t kStageWriteTest[] = L"UserDataFolderWriteTest";
constexpr wchar_t kStageUserDataOverride[] = L"SetUserDataFolderOverride";
constexpr wchar_t kStageBrowserOverride[] = L"SetBrowserFolderOverride";
constexpr wchar_t kStageEnvironmentCall[] = L"CreateEnvironmentCall";
constexpr wchar_t kStageEnvironmentCallback[] = L"CreateEnvironmentCallback";
constexpr wchar_t kStageControllerCall[] = L"CreateControllerCall";
constexpr wchar_t kStageControllerCallback[] = L"CreateControllerCallback";
constexpr wchar_t kStageGetView[] = L"GetCoreWebView2";
constexpr wchar_t kStageQuit[] = L"ApplicationQuitDuringInitialization";
constexpr UINT_PTR kControllerPauseTimer = 1;
constexpr UINT kControllerPauseMs = 100;
constexpr wchar_t kStageComplete[] = L"Complete";
constexpr wchar_t kStagePending[] = L"Pending";

constexpr unsigned kShutdownWaitMs = 5000;

// A positive Win32 error becomes its HRESULT; zero and negative values pass unchanged.
HRESULT HResultFromSystemError(DWORD error) {
  return HRESULT_FROM_WIN32(error);
}

std::wstring FormatHResult(HRESULT value) {
  wchar_t text[16];
  std::swprintf(text, 16, L"0x%08X", static_cast<unsigned>(value));
  return text;
}

// The write test: a temporary file that disappears when it is closed.
DWORD TryWriteIn(const std::wstring& folder) {
  base::UniqueFileHandle file(CreateFileW((folder + L"\\" + kWriteTestFileName).c_str(), GENERIC_WRITE,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                          CREATE_ALWAYS, FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE,
                                          nullptr));
  return file ? ERROR_SUCCESS : GetLastError();
}

// The failures of one Initialize: the first and the last one.
struct FailureRecord {
  explicit FailureRecord(std::wstring baseFolder) : lastFolder(std::move(baseFolder)) {}

  void Record(const std::wstring& stage, HRESULT result, const std::wstring& folder) {
    if (result >= 0)
      result = E_FAIL;
    lastResult = result;
    lastStage = stage;
    lastFolder = folder;
    if (!anyRecorded) {
      anyRecorded = true;
      firstResult = result;
      firstStage = stage;
    }
  }

  HRESULT lastResult = E_FAIL;
  std::wstring lastStage;
  std::wstring lastFolder;
  bool anyRecorded = false;
  HRESULT firstResult = E_FAIL;
  std::wstring firstStage;
};

std::wstring StageOrUnknown(const std::wstring& stage) {
  return stage.empty() ? std::wstring(L"unknown stage") : stage;
}

// The folder of an attempt's data (the first; the others add a recovery suffix).
std::wstring AttemptBaseFolder(const std::wstring& userDataRoot, const std::wstring& browserFolder) {
  return userDataRoot + (browserFolder.empty() ? L"_Evergreen_Env5" : L"_Fixed_Env5");
}

std::wstring RuntimeText(const std::wstring& kind, const std::wstring& version) {
  return version.empty() ? kind : kind + L" " + version;
}

}  // namespace

struct WebViewHost::AttemptState {
  bool done = false;
  HRESULT result = E_PENDING;
  std::wstring stage = kStagePending;
  // The completion the attempt waits for: the stage a time limit ends it in.
  const wchar_t* waitingFor = kStageEnvironmentCallback;
  HWND parent = nullptr;
  std::wstring folder;

  // Ends the attempt and wakes the pump, which may be waiting for a message.
  void Finish(HRESULT value, const wchar_t* stageName) noexcept {
    result = value;
    try {
      stage = stageName;
    } catch (...) {
    }
    done = true;
    if (IsWindow(parent))
      PostMessageW(parent, WM_NULL, 0, 0);
  }
};

// What StartEnvironment began: the first attempt's runtime and folder, the creation call's
// result, and the completion until Initialize takes it over (then it goes to that attempt).
struct WebViewHost::EarlyEnvironment {
  std::wstring userDataRoot;
  RuntimeChoice runtime;
  std::wstring folder;
  std::wstring failedStage;  // empty: the folder is usable and the creation call went out
  HRESULT failure = S_OK;
  HRESULT result = E_PENDING;  // the completion's, when it came before Initialize took the start over
  ComPtr<ICoreWebView2Environment> environment;
  std::shared_ptr<AttemptState> attempt;  // Initialize's first attempt, once it took the start over
  bool abandoned = false;                 // the host shut down or started another way
};

HostPlatform DefaultHostPlatform() {
  HostPlatform platform;
  platform.getBrowserVersion = [](const wchar_t* folder, std::wstring& version) {
    return GetAvailableBrowserVersion(folder, version);
  };
  platform.createEnvironment = [](const wchar_t* browserFolder, const wchar_t* userDataFolder,
                                  ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler* handler) {
    return CreateEnvironment(browserFolder, userDataFolder, handler);
  };
  platform.pinGate = DefaultPinGate();
  platform.printPage = [](HWND owner, ICoreWebView2Environment* env, ICoreWebView2* view) {
    PrintViewPage(owner, env, view);
  };
  platform.printDocument = [](HWND owner, ICoreWebView2Environment* env, ICoreWebView2* view,
                              const PrintedDocument& document, std::function<void()> ended) {
    const PrinterSelector select = SelectPrinter;
    PrintPdfLesson(owner, env, view, document, select, FetchVerified, std::move(ended));
  };
  return platform;
}

WebViewHost::WebViewHost() : WebViewHost(DefaultHostPlatform()) {}

WebViewHost::WebViewHost(HostPlatform platform)
    : browserExitEvent(CreateEventW(nullptr, TRUE, FALSE, nullptr)), platform_(std::move(platform)) {}

WebViewHost::~WebViewHost() {
  if (messageWindow_)
    SetWindowLongPtrW(messageWindow_.get(), GWLP_USERDATA, 0);  // a request still queued finds no host
  Shutdown(kShutdownWaitMs);
  // The event, the remaining interface pointers and the callbacks go with the members.
}

namespace {

void SetRequestHeader(ICoreWebView2WebResourceRequestedEventArgs* args,
                      const std::wstring& name,
                      const std::wstring& value) {
  if (args == nullptr)
    return;
  ComPtr<ICoreWebView2WebResourceRequest> request;
  ComPtr<ICoreWebView2HttpRequestHeaders> headers;
  if (SUCCEEDED(args->get_Request(&request)) && request && SUCCEEDED(request->get_Headers(&headers)) &&
      headers)
    headers->SetHeader(name.c_str(), value.c_str());
}

}  // namespace

void WebViewHost::Connect(ViewEvents events) {
  const auto shared = std::make_shared<const ViewEvents>(std::move(events));
  onNavigationStarting = nullptr;
  if (shared->navigationStarting) {
    onNavigationStarting = [shared](const std::wstring& uri, bool& cancel) {
      if (!shared->navigationStarting(uri))
        cancel = true;
    };
  }
  onWebResourceRequested = nullptr;
  if (shared->request) {
    onWebResourceRequested = [shared](const std::wstring& uri,
                                      ICoreWebView2WebResourceRequestedEventArgs* args) {
      for (const auto& [name, value] : shared->request(uri))
        SetRequestHeader(args, name, value);
    };
  }
  onWebMessage = shared->pageMessage;
  acceptsMessagesFrom = shared->hearsMessagesFrom;
  answerPermission = shared->permission;
  onInitialized = nullptr;
  if (shared->ready)
    onInitialized = [shared](bool success, HRESULT) { shared->ready(success); };
  onNavigationCompleted = nullptr;
  if (shared->loaded)
    onNavigationCompleted = [shared](bool success, COREWEBVIEW2_WEB_ERROR_STATUS) {
      shared->loaded(success);
    };
  onFullscreenElement = shared->fullscreenElement;
  onProcessFailed = shared->processFailed;
}

WebViewHost::CallScope::CallScope(WebViewHost& host) noexcept : host_(host) {
  ++host_.callDepth_;
}

WebViewHost::CallScope::~CallScope() {
  if (--host_.callDepth_ == 0 && host_.destroyWhenIdle_)
    delete &host_;
}

void WebViewHost::DestroyWhenIdle(std::unique_ptr<WebViewHost> host) {
  if (!host)
    return;
  if (host->callDepth_ > 0) {
    host->destroyWhenIdle_ = true;  // the outermost CallScope frees it
    host.release();
  }
}

bool WebViewHost::Initialize(HWND parent, const std::wstring& userDataRoot, int maximumAttempts) {
  CallScope scope(*this);
  try {
    return InitializeAttempts(parent, userDataRoot, maximumAttempts);
  } catch (...) {
    // Only memory can run out here; report it like any other failure.
    lastError = E_OUTOFMEMORY;
    try {
      statusMessage = L"WebView2 initialization failed. First=" + FormatHResult(lastError) +
                      L" at unknown stage; last=" + FormatHResult(lastError) + L" at unknown stage";
    } catch (...) {
    }
    NotifyInitialized(false, lastError);
    return false;
  }
}

WebViewHost::RuntimeChoice WebViewHost::ChooseRuntime() {
  // A runtime shipped beside the executable wins over the installed one.
  RuntimeChoice runtime;
  if (std::optional<FixedRuntime> fixed =
          FindFixedRuntimeBeside(base::ExecutableFolder(), platform_.getBrowserVersion)) {
    runtime.browserFolder = std::move(fixed->folder);
    runtime.version = std::move(fixed->version);
    runtime.kind = L"Fixed";
    return runtime;
  }
  std::wstring installedVersion;
  if (SUCCEEDED(platform_.getBrowserVersion(nullptr, installedVersion)))
    runtime.version = installedVersion;
  return runtime;
}

bool WebViewHost::PrepareAttemptFolder(const std::wstring& folder,
                                       const RuntimeChoice& runtime,
                                       std::wstring& failedStage,
                                       HRESULT& failure) {
  const auto fail = [&](const wchar_t* stage, DWORD error) {
    failedStage = stage;
    failure = HResultFromSystemError(error);
    return false;
  };
  if (!CreateDirectoryW(folder.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
    return fail(kStageCreateUserDataFolder, GetLastError());
  if (const DWORD error = TryWriteIn(folder); error != ERROR_SUCCESS)
    return fail(kStageWriteTest, error);
  // These stay set after Initialize: the browser processes started later read them too.
  if (!SetEnvironmentVariableW(L"WEBVIEW2_USER_DATA_FOLDER", folder.c_str()))
    return fail(kStageUserDataOverride, GetLastError());
  if (!runtime.browserFolder.empty() &&
      !SetEnvironmentVariableW(L"WEBVIEW2_BROWSER_EXECUTABLE_FOLDER", runtime.browserFolder.c_str()))
    return fail(kStageBrowserOverride, GetLastError());
  return true;
}

void WebViewHost::StartEnvironment(const std::wstring& userDataRoot) {
  if (early_ || webView || userDataRoot.empty())
    return;
  try {
    auto early = std::make_shared<EarlyEnvironment>();
    early->userDataRoot = userDataRoot;
    ClearInheritedOverrides();
    early->runtime = ChooseRuntime();
    early->folder = AttemptBaseFolder(userDataRoot, early->runtime.browserFolder);
    if (PrepareAttemptFolder(early->folder, early->runtime, early->failedStage, early->failure)) {
      const HRESULT call = CreateAttemptEnvironment(early->runtime, early->folder, nullptr, early);
      if (FAILED(call)) {
        early->failedStage = kStageEnvironmentCall;
        early->failure = call;
      }
    }
    early_ = std::move(early);
  } catch (...) {
    early_.reset();  // Initialize starts the ordinary way
  }
}

HRESULT WebViewHost::CreateAttemptEnvironment(const RuntimeChoice& runtime,
                                              const std::wstring& folder,
                                              const std::shared_ptr<AttemptState>& state,
                                              const std::shared_ptr<EarlyEnvironment>& early) {
  // An early start's completion may come after the host is gone (a start-up that ended first).
  const std::weak_ptr<int> alive = lifetime_;
  auto handler = base::ComCallback<ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler>(
      [this, alive, state, early](HRESULT result, ICoreWebView2Environment* created) noexcept {
        if (alive.expired() || (early && early->abandoned))
          return S_OK;
        if (early && !early->attempt) {  // Initialize takes it over later
          early->result = result;
          early->environment = created;
          return S_OK;
        }
        return OnEnvironmentCreated(early ? early->attempt : state, result, created);
      });
  if (!handler)
    return E_OUTOFMEMORY;
  return platform_.createEnvironment(runtime.browserFolder.empty() ? nullptr : runtime.browserFolder.c_str(),
                                     folder.c_str(), handler.Get());
}

bool WebViewHost::PumpUntilDone(AttemptState& state) {
  // The completion handlers run from this pump. It ends when the attempt is done, or when the
  // runtime has not completed a creation within the time limit (a completion that never comes
  // would otherwise leave "Loading" on screen for good); each creation gets the whole limit.
  const ULONGLONG limit = platform_.creationLimitMs;
  const wchar_t* waitingFor = state.waitingFor;
  ULONGLONG deadline = GetTickCount64() + limit;
  while (!state.done) {
    ULONGLONG now = GetTickCount64();
    if (state.waitingFor != waitingFor) {
      waitingFor = state.waitingFor;
      deadline = now + limit;
    }
    if (now >= deadline) {
      state.result = HRESULT_FROM_WIN32(ERROR_TIMEOUT);
      state.stage = state.waitingFor;
      state.done = true;
      break;
    }
    MSG message;
    if (!PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      const ULONGLONG wait = deadline - now < 1000 ? deadline - now : 1000;
      MsgWaitForMultipleObjectsEx(0, nullptr, static_cast<DWORD>(wait), QS_ALLINPUT, MWMO_INPUTAVAILABLE);
      continue;
    }
    if (message.message == WM_QUIT) {
      state.result = E_ABORT;
      state.stage = kStageQuit;
      state.done = true;
      // The caller's own message loop must see the quit message too.
      PostQuitMessage(static_cast<int>(message.wParam));
      return false;
    }
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  return true;
}

bool WebViewHost::InitializeAttempts(HWND parent, const std::wstring& userDataRoot, int maximumAttempts) {
  closing = false;
  parentWindow = parent;
  lastError = S_OK;
  statusMessage.clear();

  if (!IsWindow(parent) || userDataRoot.empty()) {
    lastError = E_INVALIDARG;
    statusMessage = L"Invalid parent window or user-data folder.";
    NotifyInitialized(false, lastError);
    return false;
  }

  // The first attempt takes over an environment started ahead for the same folder.
  std::shared_ptr<EarlyEnvironment> early = std::move(early_);
  if (early && early->userDataRoot != userDataRoot) {
    early->abandoned = true;
    early.reset();
  }
  if (!early)
    ClearInheritedOverrides();
  const RuntimeChoice runtime = early ? early->runtime : ChooseRuntime();
  const std::wstring baseFolder = AttemptBaseFolder(userDataRoot, runtime.browserFolder);
  const int attempts = maximumAttempts > 1 ? maximumAttempts : 1;
  const std::wstring recoveryTag =
      std::to_wstring(GetCurrentProcessId()) + L"_" + std::to_wstring(GetTickCount64());

  FailureRecord failures(baseFolder);
  for (int i = 0; i < attempts; ++i) {
    const std::wstring folder =
        i == 0 ? baseFolder : baseFolder + L"_Recovery_" + recoveryTag + L"_" + std::to_wstring(i);
    const bool adopted = i == 0 && early;
    std::wstring failedStage = adopted ? early->failedStage : std::wstring();
    HRESULT failure = adopted ? early->failure : S_OK;
    if (adopted ? !failedStage.empty() : !PrepareAttemptFolder(folder, runtime, failedStage, failure)) {
      failures.Record(failedStage, failure, folder);
      continue;
    }

    auto state = std::make_shared<AttemptState>();
    state->parent = parent;
    state->folder = folder;
    HRESULT call = S_OK;
    if (adopted) {
      early->attempt = state;
      if (early->result != E_PENDING)
        OnEnvironmentCreated(state, early->result, early->environment.Get());
      early->environment.Reset();
    } else {
      call = CreateAttemptEnvironment(runtime, folder, state, nullptr);
    }
    bool quit = false;
    if (FAILED(call)) {
      failures.Record(kStageEnvironmentCall, call, folder);
    } else {
      quit = !PumpUntilDone(*state);
      if (SUCCEEDED(state->result) && webView) {
        lastError = S_OK;
        statusMessage = L"WebView2 initialized with " + RuntimeText(runtime.kind, runtime.version) +
                        L"; userData=" + folder;
        NotifyInitialized(true, S_OK);
        return true;
      }
      failures.Record(state->stage, state->result, folder);
    }

    // Shut down by the owner while the attempt ran (the window was closed), or the application
    // is quitting: another attempt would only start a browser nobody waits for.
    const bool abandoned = closing || quit;
    Shutdown(kShutdownWaitMs);
    if (abandoned)
      break;
    if (i + 1 < attempts)
      closing = false;
  }

  lastError = failures.anyRecorded ? failures.firstResult : failures.lastResult;
  statusMessage = L"WebView2 initialization failed. First=" + FormatHResult(lastError) + L" at " +
                  StageOrUnknown(failures.firstStage) + L"; last=" + FormatHResult(failures.lastResult) +
                  L" at " + StageOrUnknown(failures.lastStage) + L"; runtime=" +
                  RuntimeText(runtime.kind, runtime.version) + L"; lastUserData=" + failures.lastFolder;
  NotifyInitialized(false, lastError);
  return false;
}

void WebViewHost::NotifyInitialized(bool success, HRESULT result) noexcept {
  if (!onInitialized)
    return;
  try {
    onInitialized(success, result);
  } catch (...) {
    // The owner's reaction failed; the outcome itself stands.
  }
}

void WebViewHost::RunPausedControllerStart() noexcept {
  std::function<void()> start = std::move(pausedControllerStart_);
  pausedControllerStart_ = nullptr;
  if (start)
    start();
}

HRESULT WebViewHost::OnEnvironmentCreated(const std::shared_ptr<AttemptState>& state,
                                          HRESULT result,
                                          ICoreWebView2Environment* created) {
  // A completion that arrives after its attempt ended (the pump saw a quit message) belongs to
  // an abandoned attempt; the host may be gone by now.
  if (state->done)
    return S_OK;
  try {
    if (FAILED(result) || created == nullptr) {
      state->Finish(FAILED(result) ? result : E_FAIL, kStageEnvironmentCallback);
      return S_OK;
    }
    if (closing) {  // shut down while the environment was being made
      state->Finish(E_ABORT, kStageEnvironmentCallback);
      return S_OK;
    }
    environment = created;
    RegisterBrowserProcessExitHandler();

    // A fixed pause between the environment and its controller, as the player has always made
    // it; no runtime is known to need it, but taking it out changes the start-up timing on real
    // runtimes, which only a Windows machine can tell. It runs on the loop (a timer of the
    // host's message window): the runtime's callback returns at once.
    const ComPtr<ICoreWebView2Environment> kept(created);
    pausedControllerStart_ = [this, state, kept] {
      if (state->done)
        return;
      try {
        auto handler = base::ComCallback<ICoreWebView2CreateCoreWebView2ControllerCompletedHandler>(
            [this, state](HRESULT controllerResult, ICoreWebView2Controller* createdController) noexcept {
              return OnControllerCreated(state, controllerResult, createdController);
            });
        const HRESULT call =
            handler ? kept->CreateCoreWebView2Controller(parentWindow, handler.Get()) : E_OUTOFMEMORY;
        if (FAILED(call) && !state->done)
          state->Finish(call, kStageControllerCall);
        else
          state->waitingFor = kStageControllerCallback;
      } catch (...) {
        if (!state->done)
          state->Finish(E_OUTOFMEMORY, kStageControllerCall);
      }
    };
    const HWND window = MessageWindow();
    if (window == nullptr || SetTimer(window, kControllerPauseTimer, kControllerPauseMs, nullptr) == 0)
      RunPausedControllerStart();  // no timer: without the pause
  } catch (...) {
    if (!state->done)
      state->Finish(E_OUTOFMEMORY, kStageEnvironmentCallback);
  }
  return S_OK;
}

HRESULT WebViewHost::OnControllerCreated(const std::shared_ptr<AttemptState>& state,
                                         HRESULT result,
                                         ICoreWebView2Controller* created) {
  if (state->done) {
    if (created != nullptr)
      created->Close();  // nobody will use this view
    return S_OK;
  }
  try {
    if (FAILED(result) || created == nullptr) {
      state->Finish(FAILED(result) ? result : E_FAIL, kStageControllerCallback);
      return S_OK;
    }
    if (closing) {
      created->Close();
      state->Finish(E_ABORT, kStageControllerCallback);
      return S_OK;
    }
    ComPtr<ICoreWebView2> view;
    const HRESULT got = created->get_CoreWebView2(&view);
    if (FAILED(got) || !view) {
      created->Close();
      state->Finish(FAILED(got) ? got : E_FAIL, kStageGetView);
      return S_OK;
    }
    controller = created;
    webView = view;

    // The page background shows before the first paint: dark, like the window.
    ComPtr<ICoreWebView2Controller2> controller2;
    if (SUCCEEDED(controller.As(&controller2)))
      controller2->put_DefaultBackgroundColor(COREWEBVIEW2_COLOR{255, 0x12, 0x12, 0x12});
    // A file dropped on the view would otherwise be opened in it.
    ComPtr<ICoreWebView2Controller4> controller4;
    if (SUCCEEDED(controller.As(&controller4)))
      controller4->put_AllowExternalDrop(FALSE);

    RECT bounds{};
    GetClientRect(parentWindow, &bounds);
    controller->put_Bounds(bounds);

    SetupEventHandlers();
    state->Finish(S_OK, kStageComplete);
  } catch (...) {
    if (!state->done)
      state->Finish(E_OUTOFMEMORY, kStageControllerCallback);
  }
  return S_OK;
}

void WebViewHost::RegisterBrowserProcessExitHandler() {
  browserExitHandlerRegistered = false;
  if (browserExitEvent)
    ResetEvent(browserExitEvent.get());
  if (!environment || !browserExitEvent)
    return;
  ComPtr<ICoreWebView2Environment5> environment5;
  if (FAILED(environment.As(&environment5)))
    return;
  // The handler owns a handle of its own to the event: the runtime may keep the handler after
  // the host is gone.
  HANDLE duplicate = nullptr;
  if (!DuplicateHandle(GetCurrentProcess(), browserExitEvent.get(), GetCurrentProcess(), &duplicate, 0, FALSE,
                       DUPLICATE_SAME_ACCESS))
    return;
  auto event = std::make_shared<base::UniqueKernelHandle>(duplicate);
  auto handler = base::ComCallback<ICoreWebView2BrowserProcessExitedEventHandler>(
      [event](ICoreWebView2Environment*, ICoreWebView2BrowserProcessExitedEventArgs*) noexcept {
        SetEvent(event->get());
        return S_OK;
      });
  browserExitHandlerRegistered =
      handler && SUCCEEDED(environment5->add_BrowserProcessExited(handler.Get(), &browserExitToken));
}

void WebViewHost::Shutdown(unsigned timeoutMs) {
  if (early_) {  // started ahead, never taken over: its completion finds nobody
    early_->abandoned = true;
    early_.reset();
  }
  if (closing)
    return;
  closing = true;

  base::UniqueKernelHandle browserProcess;
  if (webView) {
    UINT32 processId = 0;
    if (SUCCEEDED(webView->get_BrowserProcessId(&processId)) && processId != 0)
      browserProcess.reset(OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
  }
  if (controller)
    controller->Close();
  ComPtr<ICoreWebView2Environment5> environment5;
  if (environment)
    environment.As(&environment5);
  webView.Reset();
  controller.Reset();
  environment.Reset();

  HANDLE waitFor[2];
  DWORD count = 0;
  if (browserProcess)
    waitFor[count++] = browserProcess.get();
  if (browserExitHandlerRegistered && browserExitEvent)
    waitFor[count++] = browserExitEvent.get();
  if (count > 0 && timeoutMs != 0) {
    // Messages keep flowing while the browser winds down (it talks to this thread).
    DWORD signalled = 0;
    CoWaitForMultipleHandles(COWAIT_DISPATCH_WINDOW_MESSAGES | COWAIT_DISPATCH_CALLS, timeoutMs, count,
                             waitFor, &signalled);
  }

  if (browserExitHandlerRegistered && environment5)
    environment5->remove_BrowserProcessExited(browserExitToken);
  browserExitHandlerRegistered = false;
}

void WebViewHost::Navigate(const std::wstring& url) {
  if (!webView)
    return;
  if (WantsIdentificationHeader(url)) {
    ComPtr<ICoreWebView2Environment2> environment2;
    ComPtr<ICoreWebView2_2> view2;
    if (environment && SUCCEEDED(environment.As(&environment2)) && SUCCEEDED(webView.As(&view2))) {
      ComPtr<ICoreWebView2WebResourceRequest> request;
      if (SUCCEEDED(environment2->CreateWebResourceRequest(url.c_str(), L"GET", nullptr, L"", &request)) &&
          request) {
        ComPtr<ICoreWebView2HttpRequestHeaders> headers;
        if (SUCCEEDED(request->get_Headers(&headers)) && headers) {
          headers->SetHeader(config::IdentificationHeaderName().c_str(),
                             config::IdentificationHeaderValue().c_str());
        }
        view2->NavigateWithWebResourceRequest(request.Get());
        return;
      }
    }
  }
  webView->Navigate(url.c_str());
}

void WebViewHost::NavigateToString(const std::wstring& html) {
  if (!webView)
    return;
  composedPage_.Set(html);  // before the call, in case the runtime reports the start from inside it
  if (FAILED(webView->NavigateToString(html.c_str())))
    composedPage_.Clear();
}

void WebViewHost::AddDocumentScript(const std::wstring& script, std::function<void(bool added)> added) {
  const auto answer = [added](bool ok) {
    if (!added)
      return;
    try {
      added(ok);
    } catch (...) {
    }
  };
  if (!webView) {
    answer(false);
    return;
  }
  // The runtime applies the script asynchronously: it is sure to run only once this completes.
  // A completion after the host went (or closed its view) has nobody to tell.
  const auto completed = base::ComCallback<ICoreWebView2AddScriptToExecuteOnDocumentCreatedCompletedHandler>(
      [this, answer, alive = std::weak_ptr<int>(lifetime_)](HRESULT result, LPCWSTR) {
        if (alive.expired() || closing)
          return;
        CallScope scope(*this);
        answer(SUCCEEDED(result));
      });
  if (!completed || FAILED(webView->AddScriptToExecuteOnDocumentCreated(script.c_str(), completed.Get())))
    answer(false);
}

void WebViewHost::ConfigureSettings() {
  if (!webView)
    return;
  ComPtr<ICoreWebView2Settings> settings;
  if (FAILED(webView->get_Settings(&settings)) || !settings)
    return;
  settings->put_AreDevToolsEnabled(FALSE);
  settings->put_AreDefaultContextMenusEnabled(FALSE);
  settings->put_IsStatusBarEnabled(FALSE);
  settings->put_IsZoomControlEnabled(FALSE);
  ComPtr<ICoreWebView2Settings3> settings3;
  if (SUCCEEDED(settings.As(&settings3)))
    settings3->put_AreBrowserAcceleratorKeysEnabled(FALSE);
  // The PDF viewer's own toolbar is outside the page, where no injected script reaches: its
  // Save buttons would hand out the original file without the watermark, its Print the
  // browser's preview.
  ComPtr<ICoreWebView2Settings7> settings7;
  if (SUCCEEDED(settings.As(&settings7)))
    settings7->put_HiddenPdfToolbarItems(COREWEBVIEW2_PDF_TOOLBAR_ITEMS_SAVE |
                                         COREWEBVIEW2_PDF_TOOLBAR_ITEMS_SAVE_AS |
                                         COREWEBVIEW2_PDF_TOOLBAR_ITEMS_PRINT);
}

void WebViewHost::GoBack() {
  if (!webView)
    return;
  BOOL canGoBack = FALSE;
  if (SUCCEEDED(webView->get_CanGoBack(&canGoBack)) && canGoBack)
    webView->GoBack();
}

void WebViewHost::Reload() {
  if (const std::wstring* page = composedPage_.ToReload())
    NavigateToString(std::wstring(*page));
  else if (webView)
    webView->Reload();
}

void WebViewHost::PostWebMessageAsJson(const std::wstring& json) {
  if (webView)
    webView->PostWebMessageAsJson(json.c_str());
}

void WebViewHost::Print() {
  requestedDocument_.reset();
  ShowSystemPrintDialog();
}

void WebViewHost::PrintDocument(const PrintedDocument& document) {
  if (*printingDocument_ || printRequests_.busy()) {
    PostPrintCancelled();
    return;
  }
  requestedDocument_ = document;
  ShowSystemPrintDialog();
}

void WebViewHost::Close() {
  Shutdown(kShutdownWaitMs);
}

void WebViewHost::ShowSystemPrintDialog() {
  if (!webView || !platform_.printPage)
    return;
  // The dialog runs a nested message loop, which the runtime does not support inside one of
  // its event handlers: it runs from the host's own message window instead.
  printRequests_.Request(
      [this] {
        // Without its window there is nothing to own the dialog.
        if (!IsWindow(parentWindow))
          return false;
        const HWND window = MessageWindow();
        return window != nullptr && PostMessageW(window, WM_APP_RUN_PRINT_REQUEST, 0, 0) != FALSE;
      },
      [this] { PostPrintCancelled(); });
}

void WebViewHost::RunPrintRequest() noexcept {
  CallScope scope(*this);  // the dialog runs a modal loop in which the window may go away
  try {
    printRequests_.RunScheduled([this] {
      if (!webView || !platform_.printPage)
        return;  // shut down since the request came: there is no page to answer
      const ComPtr<ICoreWebView2Environment> keptEnvironment = environment;
      const ComPtr<ICoreWebView2> keptView = webView;
      std::optional<PrintedDocument> document = std::move(requestedDocument_);
      requestedDocument_.reset();
      if (document && platform_.printDocument) {
        *printingDocument_ = true;
        platform_.printDocument(parentWindow, keptEnvironment.Get(), keptView.Get(), *document,
                                [printing = printingDocument_] { *printing = false; });
      } else {
        platform_.printPage(parentWindow, keptEnvironment.Get(), keptView.Get());
      }
    });
  } catch (...) {
  }
}

void WebViewHost::PostPrintCancelled() noexcept {
  try {
    if (webView)
      webView->PostWebMessageAsJson(PrintResultMessage(PrintOutcome::kCancelled).c_str());
  } catch (...) {
  }
}

HWND WebViewHost::MessageWindow() {
  if (messageWindow_)
    return messageWindow_.get();
  static const wchar_t kClassName[] = L"CorvelWebViewHostMessages";
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = &WebViewHost::MessageWindowProc;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.lpszClassName = kClassName;
  RegisterClassExW(&windowClass);  // a second registration fails harmlessly
  messageWindow_.reset(CreateWindowExW(0, kClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                       GetModuleHandleW(nullptr), nullptr));
  if (messageWindow_)
    SetWindowLongPtrW(messageWindow_.get(), GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  return messageWindow_.get();
}

LRESULT CALLBACK WebViewHost::MessageWindowProc(HWND window,
                                                UINT message,
                                                WPARAM wparam,
                                                LPARAM lparam) noexcept {
  if (message == WM_APP_RUN_UI_TASK) {
    // A worker's result, finished on this thread (a page request the pin gate probed).
    base::RunPostedWindowTask(lparam);
    return 0;
  }
  if (message == WM_APP_RUN_PRINT_REQUEST) {
    if (auto* host = reinterpret_cast<WebViewHost*>(GetWindowLongPtrW(window, GWLP_USERDATA)))
      host->RunPrintRequest();
    return 0;
  }
  if (message == WM_TIMER && wparam == kControllerPauseTimer) {
    KillTimer(window, kControllerPauseTimer);
    if (auto* host = reinterpret_cast<WebViewHost*>(GetWindowLongPtrW(window, GWLP_USERDATA))) {
      CallScope scope(*host);
      host->RunPausedControllerStart();
    }
    return 0;
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

void WebViewHost::Resize(int width, int height) {
  if (controller && width > 0 && height > 0)
    controller->put_Bounds(RECT{0, 0, width, height});
}

void WebViewHost::RefreshLayout() {
  if (!controller || !IsWindow(parentWindow) || IsIconic(parentWindow))
    return;
  RECT bounds{};
  if (SUCCEEDED(controller->get_Bounds(&bounds)) && !IsRectEmpty(&bounds))
    controller->put_Bounds(bounds);
  controller->put_IsVisible(TRUE);
  controller->NotifyParentWindowPositionChanged();
}

void WebViewHost::SetVisible(bool visible) {
  if (controller)
    controller->put_IsVisible(visible ? TRUE : FALSE);
}

void WebViewHost::NotifyParentWindowPositionChanged() {
  if (controller)
    controller->NotifyParentWindowPositionChanged();
}

}  // namespace WebView
