// The WebView2 loader, taken at run time: WebView2Loader.dll is loaded on first use (from the
// executable's folder first, then from the application and system folders; never from the
// current directory or PATH), its two entry points are looked up, and the module stays loaded
// for the life of the process. Without the DLL, or with a DLL that lacks either entry point, no
// WebView2 runtime is available and every function below says so with the same HRESULT.
//
// Any thread may call these; the first call does the loading, once.
#ifndef CORVEL_WEBVIEW_WEBVIEW2_LOADER_H_
#define CORVEL_WEBVIEW_WEBVIEW2_LOADER_H_

#include <windows.h>

#include <string>

#include "webview/webview2.h"

namespace WebView {

// S_OK when the loader and both entry points are there; HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND)
// (or the system's reason) when WebView2Loader.dll could not be loaded;
// HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND) when it lacks an entry point.
HRESULT LoaderStatus();

// Version of the runtime in browserFolderOrNull, or of the installed runtime for null. On success
// `version` holds the runtime's answer, which may be empty (no runtime found there); on failure
// it is empty and the loader's or the runtime's HRESULT is returned.
HRESULT GetAvailableBrowserVersion(const wchar_t* browserFolderOrNull, std::wstring& version);

// Starts creating an environment for browserFolderOrNull (null: the installed runtime) and
// userDataFolder, with no options. On S_OK the runtime calls `handler` later, once, on this
// thread, from its message loop (never from inside this call), with the outcome. When the loader
// is unavailable or `handler` is null (E_POINTER) the handler is never called.
HRESULT CreateEnvironment(const wchar_t* browserFolderOrNull,
                          const wchar_t* userDataFolder,
                          ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler* handler);

}  // namespace WebView

#endif  // CORVEL_WEBVIEW_WEBVIEW2_LOADER_H_
