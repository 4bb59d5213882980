// A stand-in for the WebView2 runtime's client library: its environment entry point, answering as
// described in fake_webview2_runtime.h. No browser is involved.
#include "tests/fake_webview2_runtime/fake_webview2_runtime.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>

#include "tests/fake_webview2_runtime/posted_completion_win.h"
#include "webview/test/fake_webview2_win.h"
#include "webview/webview2.h"

namespace {

HINSTANCE g_module = nullptr;

// ---- A lesson: the whole runtime, driven from outside --------------------------------------

// The runtime the host works with (the in-process tests' fake), the folder of its log and
// commands, and what it has written and read so far. UI thread only.
struct Lesson {
  host_test::FakeRuntime runtime;
  std::wstring folder;
  std::size_t callsWritten = 0, postedWritten = 0, commandsRead = 0;
  int nestedReported = 0;
  bool slowReported = false;
  std::wstring document;  // the address of the current top document
};
Lesson* g_lesson = nullptr;

std::string Narrow(const std::wstring& text) {
  return Utf16ToUtf8(text);
}

void Log(const std::string& line) {
  std::ofstream out(std::filesystem::path(g_lesson->folder) / L"runtime.log",
                    std::ios::app | std::ios::binary);
  out << line << "\n";
}

// The host's calls and the messages it posted, in order, then the rules it broke.
void WriteWhatHappened() {
  Lesson& l = *g_lesson;
  for (; l.callsWritten < l.runtime.calls.size(); ++l.callsWritten)
    Log("call " + l.runtime.calls[l.callsWritten]);
  for (; l.postedWritten < l.runtime.posted.size(); ++l.postedWritten)
    Log("post " + Narrow(l.runtime.posted[l.postedWritten]));
  if (l.runtime.nestedDeliveries > l.nestedReported) {
    l.nestedReported = l.runtime.nestedDeliveries;
    Log("VIOLATION a callback ran a message loop");
  }
  if (!l.slowReported && l.runtime.longestDeliveryMs > 100) {
    l.slowReported = true;
    Log("VIOLATION a callback ran " + std::to_string(l.runtime.longestDeliveryMs) +
        " ms, started after call " + std::to_string(l.runtime.longestDeliveryCalls));
  }
}

// A top-level navigation as the runtime runs it: NavigationStarting, then, unless cancelled,
// NavigationCompleted; each from the loop.
void RunNavigation(const std::wstring& uri, const std::string& cause) {
  host_test::FakeRuntime& r = g_lesson->runtime;
  auto args = std::make_shared<host_test::FakeNavigationStartingArgs>(uri);
  r.Queue([&r, args, uri, cause] {
    if (!r.navigationStarting)
      return S_OK;
    const HRESULT result = r.navigationStarting->Invoke(r.view.As<ICoreWebView2>(), args->get());
    const bool cancelled = !args->cancelCalls.empty() && args->cancelCalls.back();
    WriteWhatHappened();
    Log("navigation " + std::string(cancelled ? "cancelled " : "allowed ") + cause + " " + Narrow(uri));
    if (!cancelled) {
      g_lesson->document = uri;
      auto done = std::make_shared<host_test::FakeNavigationCompletedArgs>(
          TRUE, COREWEBVIEW2_WEB_ERROR_STATUS_UNKNOWN);
      r.Queue([&r, done] {
        return r.navigationCompleted ? r.navigationCompleted->Invoke(r.view.As<ICoreWebView2>(), done->get())
                                     : S_OK;
      });
    }
    return result;
  });
}

// One command of the test driver:
//   navigate URI          the page navigates its top document
//   message TEXT          the top document posts TEXT (a string)
//   resource URI          the page requests URI (with a deferral to take)
//   process-failed KIND   COREWEBVIEW2_PROCESS_FAILED_KIND
//   download URI          the page starts a download
//   report-window         "window visible 0|1" of the view's parent
//   close-window          the view's parent is asked to close, as by its close button
void RunCommand(const std::string& line) {
  host_test::FakeRuntime& r = g_lesson->runtime;
  const std::size_t space = line.find(' ');
  const std::string verb = line.substr(0, space);
  const std::wstring argument = space == std::string::npos ? L"" : Utf8ToUtf16(line.substr(space + 1));
  if (verb == "navigate") {
    RunNavigation(argument, "by-page");
  } else if (verb == "message") {
    auto args = std::make_shared<host_test::FakeWebMessageArgs>(argument, L"\"" + argument + L"\"");
    args->source = g_lesson->document;
    r.Queue([&r, args] {
      return r.webMessage ? r.webMessage->Invoke(r.view.As<ICoreWebView2>(), args->get()) : S_OK;
    });
  } else if (verb == "resource") {
    // The outcome is logged once the request is answered: when the event returns without a
    // deferral, or when the deferral it took is completed.
    auto args = std::make_shared<host_test::FakeResourceRequestedArgs>(argument);
    args->offerDeferral = true;
    const auto answered = [args, argument] {
      Log("resource " + std::string(args->response != nullptr ? "blocked " : "passed ") + Narrow(argument));
    };
    args->deferral.onComplete = answered;  // holds the arguments for as long as the host may use them
    r.Queue([&r, args, answered] {
      const HRESULT result =
          r.resourceRequested ? r.resourceRequested->Invoke(r.view.As<ICoreWebView2>(), args->get()) : S_OK;
      if (args->deferrals == 0)
        answered();
      return result;
    });
  } else if (verb == "process-failed") {
    auto args = std::make_shared<host_test::FakeProcessFailedArgs>(
        static_cast<COREWEBVIEW2_PROCESS_FAILED_KIND>(std::stoi(Narrow(argument))));
    r.Queue([&r, args] {
      return r.processFailed ? r.processFailed->Invoke(r.view.As<ICoreWebView2>(), args->get()) : S_OK;
    });
  } else if (verb == "download") {
    auto args = std::make_shared<host_test::FakeDownloadArgs>();
    r.Queue([&r, args, argument] {
      const HRESULT result =
          r.downloadStarting ? r.downloadStarting->Invoke(r.view.As<ICoreWebView2>(), args->get()) : S_OK;
      Log("download " +
          std::string(!args->cancelCalls.empty() && args->cancelCalls.back() ? "cancelled " : "allowed ") +
          Narrow(argument));
      return result;
    });
  } else if (verb == "report-window") {
    const HWND parent = r.controllerParents.empty() ? nullptr : r.controllerParents.back();
    Log(std::string("window visible ") + (parent != nullptr && IsWindowVisible(parent) ? "1" : "0"));
  } else if (verb == "close-window") {
    if (!r.controllerParents.empty())
      PostMessageW(r.controllerParents.back(), WM_CLOSE, 0, 0);
  } else {
    Log("unknown command " + line);
  }
}

// Every 50 ms, from the UI thread's loop: what happened goes to the log, new commands run.
void CALLBACK LessonTick(HWND, UINT, UINT_PTR, DWORD) {
  if (g_lesson->runtime.delivering()) {
    ++g_lesson->runtime.nestedDeliveries;  // a timer dispatched inside a callback
  }
  WriteWhatHappened();
  std::ifstream in(std::filesystem::path(g_lesson->folder) / L"commands.txt", std::ios::binary);
  std::string line;
  std::size_t index = 0;
  while (std::getline(in, line)) {
    if (index++ < g_lesson->commandsRead)
      continue;
    ++g_lesson->commandsRead;
    if (!line.empty() && line.back() == '\r')
      line.pop_back();
    if (!line.empty())
      RunCommand(line);
  }
}

// The environment for a lesson: the runtime answers like a real one (creation, scripts and
// events from the loop), and starts its navigations itself.
HRESULT StartLessonEnvironment(const std::wstring& folder,
                               ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler* handler) {
  if (g_lesson == nullptr) {
    g_lesson = new Lesson;  // for the life of the process, as the runtime's objects are
    g_lesson->folder = folder;
    g_lesson->runtime.Build();
    g_lesson->runtime.navigated = [](const std::wstring& uri) {
      if (uri == L"reload")
        RunNavigation(g_lesson->document, "reload");
      else
        RunNavigation(uri, "by-host");
    };
    SetTimer(nullptr, 0, 50, LessonTick);
  }
  Log("environment created");
  Microsoft::WRL::ComPtr<ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler> kept(handler);
  host_test::FakeRuntime& r = g_lesson->runtime;
  r.Queue([&r, kept] { return kept->Invoke(S_OK, r.environment.As<ICoreWebView2Environment>()); });
  return S_OK;
}

struct LastCall {
  int calls = 0;
  bool checkRunningInstance = false;
  int runtimeType = -1;
  std::optional<std::wstring> userDataFolder;
  bool hadOptions = false;
  DWORD threadId = 0;
} g_lastCall;

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH)
    g_module = instance;
  return TRUE;
}

extern "C" __declspec(dllexport) HRESULT STDMETHODCALLTYPE CreateWebViewEnvironmentWithOptionsInternal(
    bool checkRunningInstance,
    int runtimeType,
    PCWSTR userDataFolder,
    IUnknown* environmentOptions,
    ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler* handler) {
  try {
    g_lastCall.calls++;
    g_lastCall.checkRunningInstance = checkRunningInstance;
    g_lastCall.runtimeType = runtimeType;
    g_lastCall.userDataFolder = userDataFolder ? std::optional<std::wstring>(userDataFolder) : std::nullopt;
    g_lastCall.hadOptions = environmentOptions != nullptr;
    g_lastCall.threadId = GetCurrentThreadId();
  } catch (...) {
    return E_OUTOFMEMORY;
  }
  if (handler == nullptr)
    return E_POINTER;
  wchar_t folder[MAX_PATH] = {};
  const DWORD length = GetEnvironmentVariableW(L"CORVEL_FAKE_RUNTIME_LESSON", folder, MAX_PATH);
  if (length > 0 && length < MAX_PATH) {
    try {
      return StartLessonEnvironment(folder, handler);
    } catch (...) {
      return E_FAIL;
    }
  }
  return fake_webview2::PostEnvironmentCompletion(g_module, handler, kFakeRuntimeEnvironmentFailure);
}

extern "C" __declspec(dllexport) void __cdecl FakeRuntimeLastCall(FakeRuntimeCall* call) {
  call->calls = g_lastCall.calls;
  call->checkRunningInstance = g_lastCall.checkRunningInstance;
  call->runtimeType = g_lastCall.runtimeType;
  call->userDataFolder = g_lastCall.userDataFolder ? g_lastCall.userDataFolder->c_str() : nullptr;
  call->hadOptions = g_lastCall.hadOptions;
  call->threadId = g_lastCall.threadId;
}
