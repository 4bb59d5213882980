// What the stand-in WebView2 runtime library (EmbeddedBrowserWebView.dll) answers, and how tests
// put a stand-in runtime on the machine.
//
// CreateWebViewEnvironmentWithOptionsInternal: records its arguments, returns S_OK and later, from
// the calling thread's message loop, calls the handler with kFakeRuntimeEnvironmentFailure and no
// environment, the way a runtime reports a browser that cannot start.
//
// With CORVEL_FAKE_RUNTIME_LESSON set to a folder, it is a whole runtime instead: the objects of
// the in-process tests' fake (webview/test/fake_webview2_win.h), which answer by the runtime's
// rules (creation, script additions and events later and one at a time from the loop, deferrals,
// settings interfaces by version) and run the host's navigations themselves. The runtime writes
// what the host did to <folder>\runtime.log ("call ...", "post ...", event outcomes, and
// "VIOLATION ..." for a callback that ran a message loop or took longer than 100 ms) and runs
// the commands appended to <folder>\commands.txt (see fake_webview2_runtime.cpp).
//
// FakeRuntimeLastCall (an extra export): the arguments of the last call.
//
// The library carries the file version kFakeRuntimeFileVersion.
#ifndef CORVEL_TESTS_FAKE_WEBVIEW2_RUNTIME_FAKE_WEBVIEW2_RUNTIME_H_
#define CORVEL_TESTS_FAKE_WEBVIEW2_RUNTIME_FAKE_WEBVIEW2_RUNTIME_H_

#include <windows.h>

#define CORVEL_FAKE_RUNTIME_FILE_VERSION 131, 0, 2903, 70
constexpr wchar_t kFakeRuntimeFileVersion[] = L"131.0.2903.70";
constexpr HRESULT kFakeRuntimeEnvironmentFailure = HRESULT_FROM_WIN32(ERROR_BAD_ENVIRONMENT);

// userDataFolder is null when the call passed null (or no call was made); valid until the next
// call.
struct FakeRuntimeCall {
  int calls;
  bool checkRunningInstance;
  int runtimeType;
  const wchar_t* userDataFolder;
  bool hadOptions;
  DWORD threadId;
};
using PFN_FakeRuntimeLastCall = void(__cdecl*)(FakeRuntimeCall* call);

#endif  // CORVEL_TESTS_FAKE_WEBVIEW2_RUNTIME_FAKE_WEBVIEW2_RUNTIME_H_
