#include "app/runtime_bootstrap_win.h"

#include <objbase.h>
#include <shellapi.h>
#include <softpub.h>
#include <urlmon.h>
#include <wintrust.h>

#include <filesystem>
#include <string>
#include <system_error>

#include "app/splash_win.h"
#include "base/authenticode_win.h"
#include "base/module_path_win.h"
#include "base/stable_names.h"
#include "base/unique_handle_win.h"
#include "config/config.h"
#include "webview/webview2_loader.h"

namespace {

constexpr wchar_t kInstallerFileName[] = L"WebView2Installer.exe";

constexpr UINT kInFront = MB_SETFOREGROUND | MB_TOPMOST;

constexpr wchar_t kOfferText[] =
    L"WebView2 Runtime is required to run this application.\n"
    L"يحتاج هذا التطبيق إلى WebView2 Runtime للتشغيل.\n\n"
    L"Would you like to install it now?";
constexpr wchar_t kInstallingText[] =
    L"WebView2 Runtime is being downloaded and installed.\n"
    L"جاري تحميل وتثبيت WebView2 Runtime.\n\n"
    L"Please wait...";
constexpr wchar_t kInstallingCaption[] = L"Installing...";
constexpr wchar_t kDownloadFailedText[] =
    L"Failed to download WebView2 Runtime.\nPlease check your internet connection.";
constexpr wchar_t kDownloadFailedCaption[] = L"Download Error";
constexpr wchar_t kInstallFailedText[] =
    L"WebView2 installation may have failed.\nPlease restart the application.";
constexpr wchar_t kInstallFailedCaption[] = L"Installation";

std::wstring RealTempFolder() {
  wchar_t buffer[MAX_PATH + 1] = {};  // MAX_PATH + 1 is the longest answer GetTempPathW gives
  const DWORD length = GetTempPathW(MAX_PATH + 1, buffer);
  if (length == 0 || length > MAX_PATH + 1)
    return {};
  return std::wstring(buffer, length);
}

bool RealRunAndWait(const std::wstring& file) {
  // The topmost splash would cover the installer's own window.
  DestroySplash();
  SHELLEXECUTEINFOW info{};
  info.cbSize = sizeof info;
  info.fMask = SEE_MASK_NOCLOSEPROCESS;
  info.lpFile = file.c_str();
  info.nShow = SW_SHOWNORMAL;
  if (!ShellExecuteExW(&info))
    return false;
  base::UniqueKernelHandle process(info.hProcess);
  const HANDLE waited = process.get();
  // The thread's windows keep answering (no "Not Responding") while the installer runs.
  while (process &&
         MsgWaitForMultipleObjects(1, &waited, FALSE, INFINITE, QS_ALLINPUT) == WAIT_OBJECT_0 + 1) {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      if (message.message == WM_QUIT) {
        PostQuitMessage(static_cast<int>(message.wParam));
        return true;
      }
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
  }
  return true;
}

// A new folder of our own in the temporary folder, under a name no one can guess or have made
// beforehand (creating it fails when it exists), so nothing another program put there can be
// taken for the download. Ends with a backslash; empty when none could be made.
std::wstring MakePrivateFolder(const std::wstring& tempFolder) {
  for (int attempt = 0; attempt < 3; ++attempt) {
    GUID id{};
    wchar_t text[40] = {};
    if (FAILED(CoCreateGuid(&id)) || StringFromGUID2(id, text, 40) != 39)
      return {};
    const std::wstring folder = tempFolder + L"Corvel-" + std::wstring(text + 1, 36);
    if (CreateDirectoryW(folder.c_str(), nullptr))
      return folder + L"\\";
  }
  return {};
}

// The private folder and whatever the installer left in it.
void RemovePrivateFolder(const std::wstring& folder) {
  if (folder.empty())
    return;
  std::error_code ignored;
  std::filesystem::remove_all(std::filesystem::path(folder.substr(0, folder.size() - 1)), ignored);
}

bool RuntimeReported(const RuntimeBootstrapCalls& calls, const wchar_t* folderOrNull) {
  std::wstring version;
  const HRESULT hr = calls.runtimeVersion(folderOrNull, version);
  return SUCCEEDED(hr) && !version.empty();
}

// The fixed-version runtime beside the executable, by the loader's rule; a broken one falls
// through to the installed runtime.
bool FixedRuntimeUsable(const RuntimeBootstrapCalls& calls) {
  const std::wstring modulePath = calls.modulePath();
  if (modulePath.empty())
    return false;
  const std::size_t slash = modulePath.find_last_of(L'\\');
  const std::wstring executableFolder =
      slash == std::wstring::npos ? modulePath : modulePath.substr(0, slash);
  return WebView::FindFixedRuntimeBeside(executableFolder, calls.runtimeVersion).has_value();
}

// Downloads the installer and runs it when its signature verifies. False means the download
// failed or gave no trustworthy installer (the file is gone then); true means the installer was
// started, or could not be started, and the runtime must be checked again.
bool DownloadAndRunInstaller(const RuntimeBootstrapCalls& calls, const std::wstring& installer) {
  if (FAILED(calls.download(config::RuntimeInstallerUrl(), installer)))
    return false;

  // Held with read sharing only from the signature check until the installer has ended, so no
  // other process can replace the verified file in the shared temporary folder.
  base::UniqueFileHandle held(CreateFileW(installer.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                          OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!held || !calls.verifySignature(installer, held.get())) {
    held.reset();
    DeleteFileW(installer.c_str());
    return false;
  }
  calls.runAndWait(installer);  // an installer that did not start shows in the check that follows
  return true;
}

bool EnsureRuntime(const RuntimeBootstrapCalls& calls) {
  if (FixedRuntimeUsable(calls))
    return true;
  if (RuntimeReported(calls, nullptr))
    return true;

  if (calls.messageBox(kOfferText, kRuntimeOfferCaption, MB_YESNO | MB_ICONQUESTION | kInFront) != IDYES)
    return false;
  calls.messageBox(kInstallingText, kInstallingCaption, MB_ICONINFORMATION | kInFront);

  const std::wstring tempFolder = calls.tempFolder();
  const std::wstring folder = tempFolder.empty() ? std::wstring() : MakePrivateFolder(tempFolder);
  if (folder.empty() || !DownloadAndRunInstaller(calls, folder + kInstallerFileName)) {
    RemovePrivateFolder(folder);
    calls.messageBox(kDownloadFailedText, kDownloadFailedCaption, MB_ICONERROR | kInFront);
    return false;
  }

  const bool installed = RuntimeReported(calls, nullptr);
  // Never left behind: the next start downloads a fresh installer.
  RemovePrivateFolder(folder);
  if (installed)
    return true;
  calls.messageBox(kInstallFailedText, kInstallFailedCaption, MB_ICONWARNING | kInFront);
  return false;
}

}  // namespace

RuntimeBootstrapCalls DefaultRuntimeBootstrapCalls() {
  RuntimeBootstrapCalls calls;
  calls.modulePath = base::ExecutablePath;
  calls.tempFolder = RealTempFolder;
  calls.runtimeVersion = [](const wchar_t* folderOrNull, std::wstring& version) {
    return WebView::GetAvailableBrowserVersion(folderOrNull, version);
  };
  calls.messageBox = [](const std::wstring& text, const std::wstring& caption, UINT flags) {
    return MessageBoxW(nullptr, text.c_str(), caption.c_str(), flags);
  };
  calls.download = [](const std::wstring& url, const std::wstring& file) {
    return URLDownloadToFileW(nullptr, url.c_str(), file.c_str(), 0, nullptr);
  };
  calls.verifySignature = VerifyMicrosoftSignature;
  calls.runAndWait = RealRunAndWait;
  return calls;
}

bool EnsureWebView2Runtime() {
  try {
    return EnsureRuntime(DefaultRuntimeBootstrapCalls());
  } catch (...) {  // out of memory: the program cannot go on
    return false;
  }
}

bool EnsureWebView2Runtime(const RuntimeBootstrapCalls& calls) {
  try {
    return EnsureRuntime(calls);
  } catch (...) {
    return false;
  }
}

bool VerifyAuthenticodeSignature(const std::wstring& file, HANDLE openFile) {
  return base::VerifyAuthenticode(file, openFile).valid;
}

bool IsMicrosoftSigner(const std::wstring& signer) {
  return signer == L"Microsoft Corporation";
}

bool VerifyMicrosoftSignature(const std::wstring& file, HANDLE openFile) {
  const base::AuthenticodeSignature signature = base::VerifyAuthenticode(file, openFile);
  return signature.valid && IsMicrosoftSigner(signature.signer);
}
