#include "webview/webview2_loader.h"

#include <objbase.h>

#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "base/module_path_win.h"
#include "base/unique_handle_win.h"
#include "webview/runtime_version.h"

namespace WebView {
namespace {

constexpr wchar_t kLoaderDll[] = L"WebView2Loader.dll";

// The updater's records of the stable WebView2 runtime. The keys live in the 32-bit view of the
// registry (the updater is a 32-bit program), machine-wide for a per-machine install and in the
// user's hive for a per-user one.
constexpr wchar_t kStableRuntimeClientKey[] =
    L"SOFTWARE\\Microsoft\\EdgeUpdate\\Clients\\{F3017226-FE2A-4295-8BDF-00C3A9A7E4C5}";
constexpr wchar_t kStableRuntimeStateKey[] =
    L"SOFTWARE\\Microsoft\\EdgeUpdate\\ClientState\\{F3017226-FE2A-4295-8BDF-00C3A9A7E4C5}";
constexpr wchar_t kInstalledVersionValue[] = L"pv";
constexpr wchar_t kRuntimeFolderValue[] = L"EBWebView";

// Inside a runtime folder (the registered version folder, or a fixed-version folder).
constexpr wchar_t kClientLibrary[] = L"\\EBWebView\\x64\\EmbeddedBrowserWebView.dll";
constexpr wchar_t kBrowserExecutable[] = L"\\msedgewebview2.exe";
constexpr char kCreateEnvironmentEntry[] = "CreateWebViewEnvironmentWithOptionsInternal";

constexpr wchar_t kBrowserFolderVariable[] = L"WEBVIEW2_BROWSER_EXECUTABLE_FOLDER";
constexpr wchar_t kUserDataFolderVariable[] = L"WEBVIEW2_USER_DATA_FOLDER";

constexpr HRESULT kNoRuntime = HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);

// The administrators' choice of a fixed runtime: a value named by the executable's file name (or
// "*" for every program) whose data is the runtime's folder.
constexpr wchar_t kBrowserFolderPolicyKey[] =
    L"Software\\Policies\\Microsoft\\Edge\\WebView2\\BrowserExecutableFolder";

// Only the named file's own folder and System32 serve a library and its dependencies: never the
// current directory or PATH, where anyone could plant one.
constexpr DWORD kLibrarySearch = LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32;

// Overrides a parent process (or the user) may have set; any of them would redirect the runtime,
// the data folder, the channel or the browser's command line.
constexpr const wchar_t* kInheritedOverrides[] = {
    L"WEBVIEW2_BROWSER_EXECUTABLE_FOLDER",    L"WEBVIEW2_USER_DATA_FOLDER",
    L"WEBVIEW2_ADDITIONAL_BROWSER_ARGUMENTS", L"WEBVIEW2_RELEASE_CHANNEL_PREFERENCE",
    L"WEBVIEW2_CHANNEL_SEARCH_KIND",          L"WEBVIEW2_RELEASE_CHANNELS",
};

// How the runtime's entry point is told which runtime it belongs to.
enum RuntimeType : int { kInstalledRuntime = 0, kFixedVersionRuntime = 1 };

using CreateWebViewEnvironmentWithOptionsInternal =
    HRESULT(STDMETHODCALLTYPE*)(bool checkRunningInstance,
                                int runtimeType,
                                PCWSTR userDataFolder,
                                IUnknown* environmentOptions,
                                ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler* handler);

template <typename Function>
Function Export(HMODULE module, const char* name) {
  // Through void(*)() so that g++ accepts the cast between unrelated function pointer types.
  return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

// --- Microsoft's loader ---------------------------------------------------------------------

struct MicrosoftLoader {
  PFN_CreateCoreWebView2EnvironmentWithOptions createEnvironment = nullptr;
  PFN_GetAvailableCoreWebView2BrowserVersionString getVersion = nullptr;
};

std::optional<MicrosoftLoader> LoadMicrosoftLoader() {
  const std::wstring folder = base::ExecutableFolder();
  if (folder.empty())
    return std::nullopt;
  base::UniqueHModule module(LoadLibraryExW((folder + L"\\" + kLoaderDll).c_str(), nullptr, kLibrarySearch));
  if (!module)
    return std::nullopt;
  MicrosoftLoader loader;
  loader.createEnvironment = Export<PFN_CreateCoreWebView2EnvironmentWithOptions>(
      module.get(), "CreateCoreWebView2EnvironmentWithOptions");
  loader.getVersion = Export<PFN_GetAvailableCoreWebView2BrowserVersionString>(
      module.get(), "GetAvailableCoreWebView2BrowserVersionString");
  if (loader.createEnvironment == nullptr || loader.getVersion == nullptr)
    return std::nullopt;  // not a loader; unloaded again, and the built-in one serves
  // Never freed: environments, controllers and their callbacks may run code of the loader until
  // the process ends.
  module.release();
  return loader;
}

const std::optional<MicrosoftLoader>& GetMicrosoftLoader() {
  static const std::optional<MicrosoftLoader> loader = LoadMicrosoftLoader();  // once, thread-safe
  return loader;
}

// --- The built-in loader --------------------------------------------------------------------

struct Runtime {
  std::wstring clientLibrary;
  std::wstring version;
  RuntimeType type = kInstalledRuntime;
};

bool IsFile(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

std::wstring WithoutTrailingSeparators(std::wstring path) {
  while (!path.empty() && (path.back() == L'\\' || path.back() == L'/'))
    path.pop_back();
  return path;
}

// A non-empty environment variable, or nothing.
std::optional<std::wstring> EnvironmentValue(const wchar_t* name) {
  std::wstring value(256, L'\0');
  for (;;) {
    const DWORD length = GetEnvironmentVariableW(name, value.data(), static_cast<DWORD>(value.size()));
    if (length == 0)
      return std::nullopt;
    if (length < value.size()) {
      value.resize(length);
      return value;
    }
    value.resize(length);  // the size the value needs, terminator included
  }
}

// A REG_SZ value of root\subKey (in the 32-bit view unless told otherwise), without its
// terminators; nothing when the key or the value is missing or of another type.
std::optional<std::wstring> ReadRegistryText(HKEY root,
                                             const wchar_t* subKey,
                                             const wchar_t* name,
                                             REGSAM view = KEY_WOW64_32KEY) {
  base::UniqueHKey key;
  if (RegOpenKeyExW(root, subKey, 0, KEY_QUERY_VALUE | view, key.put()) != ERROR_SUCCESS)
    return std::nullopt;
  for (int attempt = 0; attempt < 3; ++attempt) {  // the value may grow between the two calls
    DWORD type = 0;
    DWORD bytes = 0;
    if (RegQueryValueExW(key.get(), name, nullptr, &type, nullptr, &bytes) != ERROR_SUCCESS || type != REG_SZ)
      return std::nullopt;
    std::vector<wchar_t> buffer(bytes / sizeof(wchar_t) + 1, L'\0');
    bytes = static_cast<DWORD>(buffer.size() * sizeof(wchar_t));
    const LSTATUS status =
        RegQueryValueExW(key.get(), name, nullptr, &type, reinterpret_cast<BYTE*>(buffer.data()), &bytes);
    if (status == ERROR_MORE_DATA)
      continue;
    if (status != ERROR_SUCCESS || type != REG_SZ)
      return std::nullopt;
    std::wstring text(buffer.data(), bytes / sizeof(wchar_t));
    text.resize(text.find(L'\0') == std::wstring::npos ? text.size() : text.find(L'\0'));
    return text;
  }
  return std::nullopt;
}

std::optional<RuntimeVersion> FileVersion(const std::wstring& path) {
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
  if (size == 0)
    return std::nullopt;
  std::vector<BYTE> data(size);
  if (!GetFileVersionInfoW(path.c_str(), 0, size, data.data()))
    return std::nullopt;
  VS_FIXEDFILEINFO* info = nullptr;
  UINT length = 0;
  if (!VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&info), &length) || info == nullptr ||
      length < sizeof(VS_FIXEDFILEINFO) || info->dwSignature != VS_FFI_SIGNATURE)
    return std::nullopt;
  return RuntimeVersion{HIWORD(info->dwFileVersionMS), LOWORD(info->dwFileVersionMS),
                        HIWORD(info->dwFileVersionLS), LOWORD(info->dwFileVersionLS)};
}

// A fixed-version runtime: the folder that holds msedgewebview2.exe and EBWebView.
std::optional<Runtime> FindFixedVersionRuntime(const std::wstring& givenFolder) {
  const std::wstring folder = WithoutTrailingSeparators(givenFolder);
  if (folder.empty())
    return std::nullopt;
  Runtime runtime;
  runtime.type = kFixedVersionRuntime;
  runtime.clientLibrary = folder + kClientLibrary;
  if (!IsFile(runtime.clientLibrary))
    return std::nullopt;
  std::optional<RuntimeVersion> version = FileVersion(runtime.clientLibrary);
  if (!version)
    version = FileVersion(folder + kBrowserExecutable);
  if (!version || !IsUsableRuntimeVersion(*version))
    return std::nullopt;
  runtime.version = FormatRuntimeVersion(*version);
  return runtime;
}

// The installed runtime as one hive registers it.
std::optional<Runtime> FindRegisteredRuntime(HKEY root) {
  const std::optional<std::wstring> installed =
      ReadRegistryText(root, kStableRuntimeClientKey, kInstalledVersionValue);
  const std::optional<RuntimeVersion> installedVersion =
      installed ? ParseRuntimeVersion(*installed) : std::nullopt;
  if (!installedVersion || *installedVersion == RuntimeVersion{})
    return std::nullopt;  // no version, or the updater's mark for "not installed"
  const std::optional<std::wstring> registered =
      ReadRegistryText(root, kStableRuntimeStateKey, kRuntimeFolderValue);
  if (!registered)
    return std::nullopt;
  const std::wstring folder = WithoutTrailingSeparators(*registered);
  if (folder.empty())
    return std::nullopt;
  // The folder is the one the runtime runs from; during an update the updater's version may
  // already name the next one.
  const RuntimeVersion version = VersionOfRuntimeFolder(folder).value_or(*installedVersion);
  if (!IsUsableRuntimeVersion(version))
    return std::nullopt;
  Runtime runtime;
  runtime.type = kInstalledRuntime;
  runtime.clientLibrary = folder + kClientLibrary;
  if (!IsFile(runtime.clientLibrary))
    return std::nullopt;  // registered, but removed or broken
  runtime.version = FormatRuntimeVersion(version);
  return runtime;
}

std::optional<Runtime> FindRuntime(const wchar_t* browserFolderOrNull) {
  // As with Microsoft's loader: the policy wins over the variable, which wins over the argument.
  if (std::optional<std::wstring> folder = PolicyBrowserFolder())
    return FindFixedVersionRuntime(*folder);
  if (std::optional<std::wstring> folder = EnvironmentValue(kBrowserFolderVariable))
    return FindFixedVersionRuntime(*folder);
  if (browserFolderOrNull != nullptr && *browserFolderOrNull != L'\0')
    return FindFixedVersionRuntime(browserFolderOrNull);
  for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
    if (std::optional<Runtime> runtime = FindRegisteredRuntime(root))
      return runtime;
  }
  return std::nullopt;
}

// The runtime's library, loaded once per path and never freed: the browser environments it
// creates call back into it for the life of the process.
HMODULE LoadClientLibrary(const std::wstring& path) {
  static std::mutex lock;
  static std::map<std::wstring, HMODULE>* loaded = new std::map<std::wstring, HMODULE>;
  const std::lock_guard<std::mutex> guard(lock);
  if (const auto found = loaded->find(path); found != loaded->end())
    return found->second;
  // The library's own dependencies come from its folder.
  HMODULE module = LoadLibraryExW(path.c_str(), nullptr, kLibrarySearch);
  if (module != nullptr)
    loaded->emplace(path, module);
  return module;
}

HRESULT BuiltInVersion(const wchar_t* browserFolderOrNull, std::wstring& version) {
  const std::optional<Runtime> runtime = FindRuntime(browserFolderOrNull);
  if (!runtime)
    return kNoRuntime;
  version = runtime->version;
  return S_OK;
}

HRESULT BuiltInCreateEnvironment(const wchar_t* browserFolderOrNull,
                                 const wchar_t* userDataFolder,
                                 ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler* handler) {
  const std::optional<Runtime> runtime = FindRuntime(browserFolderOrNull);
  if (!runtime)
    return kNoRuntime;
  HMODULE library = LoadClientLibrary(runtime->clientLibrary);
  if (library == nullptr) {
    const DWORD error = GetLastError();
    return HRESULT_FROM_WIN32(error != ERROR_SUCCESS ? error : ERROR_MOD_NOT_FOUND);
  }
  const auto entry = Export<CreateWebViewEnvironmentWithOptionsInternal>(library, kCreateEnvironmentEntry);
  if (entry == nullptr)
    return HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);

  std::wstring dataFolder;
  if (std::optional<std::wstring> fromEnvironment = EnvironmentValue(kUserDataFolderVariable))
    dataFolder = *fromEnvironment;
  else if (userDataFolder != nullptr && *userDataFolder != L'\0')
    dataFolder = userDataFolder;
  else
    dataFolder = base::ExecutablePath() + L".WebView2";  // where Microsoft's loader puts it too
  return entry(true, runtime->type, dataFolder.c_str(), nullptr, handler);
}

}  // namespace

LoaderKind ActiveLoader() {
  return GetMicrosoftLoader() ? LoaderKind::kMicrosoft : LoaderKind::kBuiltIn;
}

HRESULT GetAvailableBrowserVersion(const wchar_t* browserFolderOrNull, std::wstring& version) {
  version.clear();
  const std::optional<MicrosoftLoader>& microsoft = GetMicrosoftLoader();
  if (!microsoft) {
    try {
      return BuiltInVersion(browserFolderOrNull, version);
    } catch (...) {  // out of memory
      version.clear();
      return E_OUTOFMEMORY;
    }
  }
  LPWSTR raw = nullptr;
  const HRESULT hr = microsoft->getVersion(browserFolderOrNull, &raw);
  const base::UniqueCoTaskMemString text(raw);  // freed on every path
  if (SUCCEEDED(hr) && text)
    version = text.get();
  return hr;
}

std::optional<FixedRuntime> FindFixedRuntimeBeside(const std::wstring& executableFolder,
                                                   const BrowserVersionQuery& query) {
  if (executableFolder.empty() || !query)
    return std::nullopt;
  FixedRuntime runtime;
  runtime.folder = executableFolder + L"\\WebView2Runtime";
  if (!IsFile(runtime.folder + L"\\msedgewebview2.exe"))
    return std::nullopt;
  if (FAILED(query(runtime.folder.c_str(), runtime.version)) || runtime.version.empty())
    return std::nullopt;
  return runtime;
}

HRESULT CreateEnvironment(const wchar_t* browserFolderOrNull,
                          const wchar_t* userDataFolder,
                          ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler* handler) {
  if (handler == nullptr)
    return E_POINTER;
  const std::optional<MicrosoftLoader>& microsoft = GetMicrosoftLoader();
  if (!microsoft) {
    try {
      return BuiltInCreateEnvironment(browserFolderOrNull, userDataFolder, handler);
    } catch (...) {
      return E_OUTOFMEMORY;
    }
  }
  return microsoft->createEnvironment(browserFolderOrNull, userDataFolder, nullptr, handler);
}

std::optional<std::wstring> PolicyBrowserFolder() {
  const std::wstring path = base::ExecutablePath();
  const std::wstring name = path.substr(path.find_last_of(L'\\') + 1);
  for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
    for (const std::wstring& value : {name, std::wstring(L"*")}) {
      if (value.empty())
        continue;
      std::optional<std::wstring> folder = ReadRegistryText(root, kBrowserFolderPolicyKey, value.c_str(), 0);
      if (folder && !WithoutTrailingSeparators(*folder).empty())
        return WithoutTrailingSeparators(*folder);
    }
  }
  return std::nullopt;
}

void ClearInheritedOverrides() {
  for (const wchar_t* name : kInheritedOverrides) {
    if (GetEnvironmentVariableW(name, nullptr, 0) > 0)
      SetEnvironmentVariableW(name, nullptr);
  }
}

}  // namespace WebView
