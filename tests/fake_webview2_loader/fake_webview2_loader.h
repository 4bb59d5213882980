// What the stand-in WebView2Loader.dll answers, shared with the tests that load it.
//
// GetAvailableCoreWebView2BrowserVersionString: for a null folder (the installed runtime)
// kFakeInstalledVersion; for kFakeFolderWithoutVersion success without a version; for any other
// folder HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND).
//
// CreateCoreWebView2EnvironmentWithOptions: returns S_OK and later, from the calling thread's
// message loop (a message posted to a message-only window of that thread), calls the handler
// with kFakeEnvironmentFailure and no environment, the way the real loader reports a runtime that
// cannot start. Built with CORVEL_FAKE_LOADER_WITHOUT_ENVIRONMENT, the DLL lacks this export.
//
// FakeLoaderLastEnvironmentCall (an extra export): the arguments of the last
// CreateCoreWebView2EnvironmentWithOptions call, so tests can see what the player passed.
#ifndef CORVEL_TESTS_FAKE_WEBVIEW2_LOADER_FAKE_WEBVIEW2_LOADER_H_
#define CORVEL_TESTS_FAKE_WEBVIEW2_LOADER_FAKE_WEBVIEW2_LOADER_H_

#include <windows.h>

constexpr wchar_t kFakeInstalledVersion[] = L"120.0.2210.91";
constexpr wchar_t kFakeFolderWithoutVersion[] = L"C:\\FakeRuntimeWithoutVersion";
constexpr HRESULT kFakeEnvironmentFailure = HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);

// browserFolder and userDataFolder are null when the call passed null (or no call was made);
// the texts stay valid until the next call.
struct FakeLoaderEnvironmentCall {
  int calls;
  const wchar_t* browserFolder;
  const wchar_t* userDataFolder;
  bool hadOptions;
  DWORD threadId;
};
using PFN_FakeLoaderLastEnvironmentCall = void(__cdecl*)(FakeLoaderEnvironmentCall* call);

#endif  // CORVEL_TESTS_FAKE_WEBVIEW2_LOADER_FAKE_WEBVIEW2_LOADER_H_
