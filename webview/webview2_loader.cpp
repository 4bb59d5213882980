#include "webview/webview2_loader.h"

#include <objbase.h>

#include <memory>
#include <string>

#include "base/module_path.h"
#include "base/unique_handle.h"

namespace WebView {
namespace {

constexpr wchar_t kLoaderDll[] = L"WebView2Loader.dll";

struct Loader {
  HRESULT status = HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND);
  PFN_CreateCoreWebView2EnvironmentWithOptions createEnvironment = nullptr;
  PFN_GetAvailableCoreWebView2BrowserVersionString getVersion = nullptr;
};

// The full path next to the executable comes first, so the loader shipped with the player wins
// over any other copy. The fallback searches only the application folder, System32 and folders
// added with AddDllDirectory: a plain LoadLibraryW would also try the current directory and
// PATH, where anyone could plant a WebView2Loader.dll for the player to run.
HMODULE LoadLoaderModule() {
  const std::wstring folder = base::ExecutableFolder();
  if (!folder.empty()) {
    if (HMODULE module = LoadLibraryW((folder + L"\\" + kLoaderDll).c_str()))
      return module;
  }
  return LoadLibraryExW(kLoaderDll, nullptr, LOAD_LIBRARY_SEARCH_DEFAULT_DIRS);
}

template <typename Function>
Function Export(HMODULE module, const char* name) {
  // Through void(*)() so that g++ accepts the cast between unrelated function pointer types.
  return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

Loader Load() {
  Loader loader;
  base::UniqueHModule module(LoadLoaderModule());
  if (!module) {
    const DWORD error = GetLastError();
    loader.status = HRESULT_FROM_WIN32(error != ERROR_SUCCESS ? error : ERROR_MOD_NOT_FOUND);
    return loader;
  }
  loader.createEnvironment = Export<PFN_CreateCoreWebView2EnvironmentWithOptions>(
      module.get(), "CreateCoreWebView2EnvironmentWithOptions");
  loader.getVersion = Export<PFN_GetAvailableCoreWebView2BrowserVersionString>(
      module.get(), "GetAvailableCoreWebView2BrowserVersionString");
  if (loader.createEnvironment == nullptr || loader.getVersion == nullptr) {
    loader = Loader{};
    loader.status = HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);
    return loader;  // an incomplete loader is unloaded again
  }
  // Never freed: environments, controllers and their callbacks may run code of the loader until
  // the process ends.
  module.release();
  loader.status = S_OK;
  return loader;
}

const Loader& GetLoader() {
  static const Loader loader = Load();  // thread-safe one-time initialisation
  return loader;
}

struct CoTaskMemFreeDeleter {
  void operator()(wchar_t* text) const noexcept { CoTaskMemFree(text); }
};

}  // namespace

HRESULT LoaderStatus() {
  return GetLoader().status;
}

HRESULT GetAvailableBrowserVersion(const wchar_t* browserFolderOrNull, std::wstring& version) {
  version.clear();
  const Loader& loader = GetLoader();
  if (FAILED(loader.status))
    return loader.status;
  LPWSTR raw = nullptr;
  const HRESULT hr = loader.getVersion(browserFolderOrNull, &raw);
  const std::unique_ptr<wchar_t, CoTaskMemFreeDeleter> text(raw);  // freed on every path
  if (SUCCEEDED(hr) && text)
    version = text.get();
  return hr;
}

HRESULT CreateEnvironment(const wchar_t* browserFolderOrNull,
                          const wchar_t* userDataFolder,
                          ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler* handler) {
  if (handler == nullptr)
    return E_POINTER;
  const Loader& loader = GetLoader();
  if (FAILED(loader.status))
    return loader.status;
  return loader.createEnvironment(browserFolderOrNull, userDataFolder, nullptr, handler);
}

}  // namespace WebView
