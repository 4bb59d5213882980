// The WebView2 loader: the two entry points through which the player finds a WebView2 runtime and
// starts a browser environment.
//
// Microsoft's WebView2Loader.dll wins when it lies beside the executable (only there: never from
// the current directory, PATH or the system folders, where anyone could plant one; its own
// dependencies come from its folder and System32 only); it is loaded
// on first use and stays loaded. Without it, or when that DLL lacks an entry point, the built-in
// loader finds the runtime itself:
//   - a fixed-version runtime folder (passed in, or named by WEBVIEW2_BROWSER_EXECUTABLE_FOLDER,
//     which overrides the argument, or by the BrowserExecutableFolder policy, which overrides
//     both, as they do for Microsoft's loader) counts when it holds
//     EBWebView\x64\EmbeddedBrowserWebView.dll; its version is that file's version (or that of
//     msedgewebview2.exe);
//   - the installed (Evergreen) runtime of the stable channel is found through the updater's
//     registration, machine-wide first, then for the current user;
//   - runtimes too old for the player (see IsUsableRuntimeVersion) count as none.
// Environments are created through the runtime's own library, which stays loaded for the life of
// the process. The runtime is looked up again on every call, so a runtime installed while the
// player waits is found by the next call.
//
// Any thread may call these.
#ifndef CORVEL_WEBVIEW_WEBVIEW2_LOADER_H_
#define CORVEL_WEBVIEW_WEBVIEW2_LOADER_H_

#include <windows.h>

#include <functional>
#include <optional>
#include <string>

#include "webview/webview2.h"

namespace WebView {

enum class LoaderKind { kMicrosoft, kBuiltIn };

// Which loader serves this process; decided once, on the first call of any function here.
LoaderKind ActiveLoader();

// Version of the runtime in browserFolderOrNull, or of the installed runtime for null. On success
// `version` holds the runtime's version, which Microsoft's loader may leave empty; on failure it
// is empty and the HRESULT says why (HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND): no usable runtime
// there).
HRESULT GetAvailableBrowserVersion(const wchar_t* browserFolderOrNull, std::wstring& version);

// Starts creating an environment for browserFolderOrNull (null: the installed runtime) and
// userDataFolder (WEBVIEW2_USER_DATA_FOLDER overrides it), with no options. On S_OK the runtime
// calls `handler` later, once, on this thread, from its message loop (never from inside this
// call), with the outcome. On failure (no runtime, a runtime library that cannot be loaded, a
// null handler: E_POINTER) the handler is never called.
HRESULT CreateEnvironment(const wchar_t* browserFolderOrNull,
                          const wchar_t* userDataFolder,
                          ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler* handler);

// The fixed runtime folder that the administrators' BrowserExecutableFolder policy names for this
// program (Software\Policies\Microsoft\Edge\WebView2\BrowserExecutableFolder, machine-wide first,
// then the user's; the value named by the executable's file name, then "*"). The built-in loader
// takes it before the environment variable and the argument, as Microsoft's loader does.
std::optional<std::wstring> PolicyBrowserFolder();

// Removes the WEBVIEW2_* variables a parent process may have left (runtime folder, data folder,
// browser arguments, channel choice), so that the runtime check and the view see one runtime.
void ClearInheritedOverrides();

// A runtime version query: GetAvailableBrowserVersion, or a test's stand-in.
using BrowserVersionQuery = std::function<HRESULT(const wchar_t* browserFolderOrNull, std::wstring& version)>;

// The fixed-version runtime shipped beside the executable, which wins over the installed one.
struct FixedRuntime {
  std::wstring folder;   // <executable folder>\WebView2Runtime
  std::wstring version;  // as the runtime there reports it, never empty
};

// The "WebView2Runtime" folder in executableFolder counts only when msedgewebview2.exe is a file
// in it and the runtime there reports a version through `query`; a broken one (the file without
// a version) is none, and so is anything in an empty executableFolder. The runtime bootstrap and
// the host both ask this.
std::optional<FixedRuntime> FindFixedRuntimeBeside(const std::wstring& executableFolder,
                                                   const BrowserVersionQuery& query);

}  // namespace WebView

#endif  // CORVEL_WEBVIEW_WEBVIEW2_LOADER_H_
