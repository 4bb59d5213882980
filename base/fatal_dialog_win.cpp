// The fatal diagnostic dialog on Windows: an HTML Application started detached with mshta, so it
// stays on screen after the player has gone; a message box when mshta cannot be started.
#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "base/fatal_dialog.h"
#include "base/shutdown_hook.h"
#include "base/unique_handle_win.h"

namespace {

void CopyToClipboard(const std::string& code) {
  if (!OpenClipboard(nullptr))
    return;
  EmptyClipboard();
  base::UniqueHGlobal block(GlobalAlloc(GMEM_MOVEABLE, code.size() + 1));
  if (block) {
    if (void* target = GlobalLock(block.get())) {
      std::memcpy(target, code.c_str(), code.size() + 1);
      GlobalUnlock(block.get());
      // On success the clipboard owns the block.
      if (SetClipboardData(CF_TEXT, block.get()))
        block.release();
    }
  }
  CloseClipboard();
}

// mshta by its full path in the system folder. Started by name, it would be looked for in the
// application's folder and the current directory first, so an mshta.exe placed there would run
// on every fatal error. Empty when the folder cannot be read.
std::wstring SystemMshtaPath() {
  wchar_t folder[MAX_PATH];
  const UINT length = GetSystemDirectoryW(folder, MAX_PATH);
  if (length == 0 || length >= MAX_PATH)
    return {};
  return std::wstring(folder, length) + L"\\mshta.exe";
}

}  // namespace

void ShowFatalDiagnosticDialog(const std::wstring& title,
                               const std::wstring& english,
                               const std::wstring& arabic,
                               const std::string& code) {
  if (!ClaimFatalDialog()) {
    // Another thread's dialog is under way and ends the process.
    for (;;)
      Sleep(INFINITE);
  }
  RunShutdownHookOnce();
  CopyToClipboard(code);

  std::wstring commandLine = BuildDiagnosticCommandLine(title, english, arabic, code);
  std::vector<wchar_t> buffer(commandLine.begin(), commandLine.end());
  buffer.push_back(L'\0');
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process{};
  const std::wstring mshta = SystemMshtaPath();
  if (!mshta.empty() && CreateProcessW(mshta.c_str(), buffer.data(), nullptr, nullptr, FALSE,
                                       DETACHED_PROCESS, nullptr, nullptr, &startup, &process)) {
    // The dialog runs on its own; nothing here waits for it.
    const base::UniqueKernelHandle thread(process.hThread);
    const base::UniqueKernelHandle started(process.hProcess);
  } else {
    const std::wstring text = BuildDiagnosticFallbackText(english, arabic, code);
    MessageBoxW(nullptr, text.c_str(), title.c_str(), MB_ICONERROR | MB_SETFOREGROUND | MB_TOPMOST);
  }
  ExitProcess(0);
}
