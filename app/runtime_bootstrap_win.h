// Makes sure a WebView2 runtime can be used before any window is created: a fixed-version
// runtime in the "WebView2Runtime" folder beside the executable, or the runtime installed on the
// machine. When neither is there the user is offered a download of Microsoft's bootstrapper
// installer into a fresh folder of its own in the temporary folder; it is started only when its
// Authenticode signature verifies as Microsoft's, waited for, and the check repeated. The folder
// is removed afterwards, whatever the outcome.
//
// Main thread only (a COM apartment must be initialised on it). Returns once the installer has
// ended, dispatching the thread's messages while it runs.
#ifndef CORVEL_APP_RUNTIME_BOOTSTRAP_WIN_H_
#define CORVEL_APP_RUNTIME_BOOTSTRAP_WIN_H_

#include <windows.h>

#include <functional>
#include <string>

// The outside world of the bootstrap; every member defaults to the real call. Tests replace
// members to drive each path. None of them may throw.
struct RuntimeBootstrapCalls {
  // Full path of the running executable; empty when it cannot be read.
  std::function<std::wstring()> modulePath;
  // The temporary folder, ending with a backslash; empty when it cannot be read.
  std::function<std::wstring()> tempFolder;
  // Version of the runtime in folderOrNull (null: the installed runtime), as
  // WebView::GetAvailableBrowserVersion: a failure HRESULT, or success with a version that may be
  // empty (no runtime there).
  std::function<HRESULT(const wchar_t* folderOrNull, std::wstring& version)> runtimeVersion;
  // MessageBoxW without an owner: returns the button pressed (IDYES, IDOK, ...).
  std::function<int(const std::wstring& text, const std::wstring& caption, UINT flags)> messageBox;
  // URLDownloadToFileW of url into file.
  std::function<HRESULT(const std::wstring& url, const std::wstring& file)> download;
  // Whether file carries a valid Authenticode signature. `file` is held open (read sharing only)
  // by the caller during this call and the installer start, so it cannot be swapped in between.
  std::function<bool(const std::wstring& file, HANDLE openFile)> verifySignature;
  // Starts file (ShellExecuteExW, default verb, no parameters) and waits for its process to end,
  // the splash gone first so the installer's window is not hidden, and the thread's messages
  // dispatched meanwhile; false when it could not be started.
  std::function<bool(const std::wstring& file)> runAndWait;
};

// The real calls.
RuntimeBootstrapCalls DefaultRuntimeBootstrapCalls();

// True when a runtime can be used (possibly after installing one); false when the program must
// stop. Shows every message itself.
bool EnsureWebView2Runtime();
bool EnsureWebView2Runtime(const RuntimeBootstrapCalls& calls);

// WinVerifyTrust (generic Authenticode policy, no user interface, no revocation checks) of file;
// openFile may be INVALID_HANDLE_VALUE. True only for a signature that verifies.
bool VerifyAuthenticodeSignature(const std::wstring& file, HANDLE openFile);

// Whether a verified signature's signer (its certificate's display name) is Microsoft's: the
// runtime installer is Microsoft's program, and no other signer's file runs in its place.
bool IsMicrosoftSigner(const std::wstring& signer);

// The installer check of the real calls: a signature that verifies, by Microsoft.
bool VerifyMicrosoftSignature(const std::wstring& file, HANDLE openFile);

#endif  // CORVEL_APP_RUNTIME_BOOTSTRAP_WIN_H_
