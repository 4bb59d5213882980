// A stand-in WebView2Loader.dll for tests: the two loader entry points, answering as described in
// fake_webview2_loader.h. No browser is involved.
#include "tests/fake_webview2_loader/fake_webview2_loader.h"

#include <objbase.h>

#include <cstring>
#include <optional>
#include <string>
#include <type_traits>

#include "webview/webview2.h"

#define FAKE_LOADER_EXPORT extern "C" __declspec(dllexport)
#ifdef CORVEL_FAKE_LOADER_WITHOUT_ENVIRONMENT
#define FAKE_LOADER_ENVIRONMENT_EXPORT extern "C"  // compiled but not exported
#else
#define FAKE_LOADER_ENVIRONMENT_EXPORT FAKE_LOADER_EXPORT
#endif

namespace {

constexpr UINT kCompleteMessage = WM_APP + 1;
constexpr wchar_t kWindowClass[] = L"CorvelFakeWebView2LoaderCompletion";

HINSTANCE g_module = nullptr;

struct LastCall {
  int calls = 0;
  std::optional<std::wstring> browserFolder;
  std::optional<std::wstring> userDataFolder;
  bool hadOptions = false;
  DWORD threadId = 0;
} g_lastCall;

std::optional<std::wstring> Copy(const wchar_t* text) {
  return text ? std::optional<std::wstring>(text) : std::nullopt;
}

// Runs on the thread that asked for the environment, when its message loop dispatches the
// posted completion.
LRESULT CALLBACK CompletionWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message != kCompleteMessage)
    return DefWindowProcW(window, message, wparam, lparam);
  auto* handler = reinterpret_cast<ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler*>(lparam);
  handler->Invoke(static_cast<HRESULT>(static_cast<ULONG>(wparam)), nullptr);
  handler->Release();
  DestroyWindow(window);
  return 0;
}

HWND CreateCompletionWindow() {
  WNDCLASSEXW windowClass{};
  windowClass.cbSize = sizeof windowClass;
  windowClass.lpfnWndProc = CompletionWindowProc;
  windowClass.hInstance = g_module;
  windowClass.lpszClassName = kWindowClass;
  if (!RegisterClassExW(&windowClass) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
    return nullptr;
  return CreateWindowExW(0, kWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, g_module, nullptr);
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH)
    g_module = instance;
  return TRUE;
}

FAKE_LOADER_EXPORT HRESULT STDAPICALLTYPE GetAvailableCoreWebView2BrowserVersionString(PCWSTR browserFolder,
                                                                                       LPWSTR* version) {
  if (version == nullptr)
    return E_POINTER;
  *version = nullptr;
  if (browserFolder != nullptr) {
    return std::wcscmp(browserFolder, kFakeFolderWithoutVersion) == 0
               ? S_OK
               : HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
  }
  auto* copy = static_cast<LPWSTR>(CoTaskMemAlloc(sizeof kFakeInstalledVersion));
  if (copy == nullptr)
    return E_OUTOFMEMORY;
  std::memcpy(copy, kFakeInstalledVersion, sizeof kFakeInstalledVersion);
  *version = copy;
  return S_OK;
}
static_assert(std::is_same_v<decltype(&GetAvailableCoreWebView2BrowserVersionString),
                             PFN_GetAvailableCoreWebView2BrowserVersionString>);

FAKE_LOADER_ENVIRONMENT_EXPORT HRESULT STDAPICALLTYPE CreateCoreWebView2EnvironmentWithOptions(
    PCWSTR browserFolder,
    PCWSTR userDataFolder,
    ICoreWebView2EnvironmentOptions* options,
    ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler* handler) {
  try {
    g_lastCall.calls++;
    g_lastCall.browserFolder = Copy(browserFolder);
    g_lastCall.userDataFolder = Copy(userDataFolder);
    g_lastCall.hadOptions = options != nullptr;
    g_lastCall.threadId = GetCurrentThreadId();
  } catch (...) {
    return E_OUTOFMEMORY;
  }
  if (handler == nullptr)
    return E_POINTER;
  HWND window = CreateCompletionWindow();
  if (window == nullptr)
    return HRESULT_FROM_WIN32(GetLastError());
  handler->AddRef();  // released after the completion ran
  const WPARAM result = static_cast<ULONG>(kFakeEnvironmentFailure);
  if (!PostMessageW(window, kCompleteMessage, result, reinterpret_cast<LPARAM>(handler))) {
    const HRESULT hr = HRESULT_FROM_WIN32(GetLastError());
    handler->Release();
    DestroyWindow(window);
    return hr;
  }
  return S_OK;
}
static_assert(std::is_same_v<decltype(&CreateCoreWebView2EnvironmentWithOptions),
                             PFN_CreateCoreWebView2EnvironmentWithOptions>);

FAKE_LOADER_EXPORT void __cdecl FakeLoaderLastEnvironmentCall(FakeLoaderEnvironmentCall* call) {
  call->calls = g_lastCall.calls;
  call->browserFolder = g_lastCall.browserFolder ? g_lastCall.browserFolder->c_str() : nullptr;
  call->userDataFolder = g_lastCall.userDataFolder ? g_lastCall.userDataFolder->c_str() : nullptr;
  call->hadOptions = g_lastCall.hadOptions;
  call->threadId = g_lastCall.threadId;
}
static_assert(std::is_same_v<decltype(&FakeLoaderLastEnvironmentCall), PFN_FakeLoaderLastEnvironmentCall>);
