// The fatal dialog starts the system's mshta, whatever lies beside the program or in the current
// directory. The dialog ends its process, so it runs in fatal_dialog_exit_main, copied into a
// folder of its own next to a planted mshta.exe and started, with another planted mshta.exe in
// its current directory, under this test as its debugger: every process it starts is reported
// here with its image before it runs a single instruction, and an mshta is ended right there.
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>
#include <system_error>
#include <vector>

#include "base/module_path_win.h"
#include "base/unique_handle_win.h"

namespace {

namespace fs = std::filesystem;

struct ObservedRun {
  bool ended = false;
  DWORD exitCode = 0;
  std::vector<std::wstring> started;  // image paths of the mshta processes the program started
};

std::wstring Lower(std::wstring text) {
  for (wchar_t& c : text)
    c = static_cast<wchar_t>(towlower(c));
  return text;
}

std::wstring ImagePath(HANDLE process) {
  std::wstring path(32768, L'\0');
  DWORD size = static_cast<DWORD>(path.size());
  if (!QueryFullProcessImageNameW(process, 0, path.data(), &size))
    return L"<unknown image>";
  path.resize(size);
  return path;
}

// Runs the program as a debuggee, with its children (DEBUG_PROCESS), until it and an mshta it
// started have ended and nothing more has happened for a few seconds, or a minute has passed.
ObservedRun RunWatchingChildren(const fs::path& program, const fs::path& directory) {
  ObservedRun run;
  std::wstring commandLine = L"\"" + program.wstring() + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info{};
  if (!CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, FALSE, DEBUG_PROCESS, nullptr,
                      directory.c_str(), &startup, &info)) {
    ADD_FAILURE() << "CreateProcessW failed: " << GetLastError();
    return run;
  }
  base::UniqueKernelHandle process(info.hProcess), thread(info.hThread);
  DebugSetProcessKillOnExit(FALSE);  // what is still attached when this test ends goes on running
  std::set<DWORD> alive;
  int quietRounds = 0;
  const ULONGLONG deadline = GetTickCount64() + 60000;
  while (GetTickCount64() < deadline) {
    DEBUG_EVENT event{};
    if (!WaitForDebugEvent(&event, 500)) {
      // A child's first event comes when it starts running, which may be well after its parent
      // has ended (Wine starts a process in seconds on a busy machine): wait for the first one,
      // then a little longer for any other.
      if (run.ended && alive.empty() && !run.started.empty() && ++quietRounds >= 6)
        break;
      continue;
    }
    quietRounds = 0;
    DWORD status = DBG_CONTINUE;
    DWORD detach = 0;
    switch (event.dwDebugEventCode) {
      case CREATE_PROCESS_DEBUG_EVENT: {
        base::UniqueKernelHandle image(event.u.CreateProcessInfo.hFile);
        alive.insert(event.dwProcessId);
        if (event.dwProcessId == info.dwProcessId)
          break;
        const std::wstring path = ImagePath(event.u.CreateProcessInfo.hProcess);
        if (Lower(fs::path(path).filename().wstring()) == L"mshta.exe") {
          run.started.push_back(path);
          TerminateProcess(event.u.CreateProcessInfo.hProcess, 0);  // seen is enough: no dialog
        } else {
          // Wine's own helpers (the desktop process that the clipboard starts) are let go.
          alive.erase(event.dwProcessId);
          detach = event.dwProcessId;
        }
        break;
      }
      case LOAD_DLL_DEBUG_EVENT: {
        base::UniqueKernelHandle dll(event.u.LoadDll.hFile);
        break;
      }
      case EXIT_PROCESS_DEBUG_EVENT:
        alive.erase(event.dwProcessId);
        if (event.dwProcessId == info.dwProcessId) {
          run.ended = true;
          run.exitCode = event.u.ExitProcess.dwExitCode;
        }
        break;
      case EXCEPTION_DEBUG_EVENT:
        // The loader's first breakpoint is ours to pass; every other exception is the program's.
        if (event.u.Exception.ExceptionRecord.ExceptionCode != EXCEPTION_BREAKPOINT)
          status = DBG_EXCEPTION_NOT_HANDLED;
        break;
      default:
        break;
    }
    ContinueDebugEvent(event.dwProcessId, event.dwThreadId, status);
    if (detach != 0)
      DebugActiveProcessStop(detach);
  }
  if (!run.ended)
    TerminateProcess(process.get(), 1);  // hung, for instance in the fallback message box
  for (DWORD id : alive)
    DebugActiveProcessStop(id);
  return run;
}

TEST(FatalDialogWinTest, TheDialogIsTheSystemMshtaNotOnePlantedBesideTheProgramOrInTheCurrentDirectory) {
  wchar_t systemFolder[MAX_PATH];
  const UINT length = GetSystemDirectoryW(systemFolder, MAX_PATH);
  ASSERT_GT(length, 0u);
  const fs::path systemMshta = fs::path(std::wstring(systemFolder, length)) / L"mshta.exe";
  ASSERT_TRUE(fs::exists(systemMshta)) << "the system has no mshta to start";

  // Wine starts its desktop process for the first window or clipboard call of a session; let
  // that be this test's own, so the program under watch starts nothing but its dialog.
  GetDesktopWindow();
  if (OpenClipboard(nullptr))
    CloseClipboard();

  const fs::path beside = base::ExecutableFolder();
  wchar_t temp[MAX_PATH];
  ASSERT_GT(GetTempPathW(MAX_PATH, temp), 0u);
  const fs::path root = fs::path(temp) / (L"corvel-mshta-" + std::to_wstring(GetCurrentProcessId()));
  const fs::path appFolder = root / L"app", currentFolder = root / L"current";
  std::error_code ignored;
  fs::remove_all(root, ignored);
  fs::create_directories(appFolder);
  fs::create_directories(currentFolder);
  fs::copy_file(beside / L"fatal_dialog_exit_main.exe", appFolder / L"fatal_dialog_exit_main.exe");
  fs::copy_file(beside / L"fatal_dialog_planted_mshta.exe", appFolder / L"mshta.exe");
  fs::copy_file(beside / L"fatal_dialog_planted_mshta.exe", currentFolder / L"mshta.exe");

  const ObservedRun run = RunWatchingChildren(appFolder / L"fatal_dialog_exit_main.exe", currentFolder);
  EXPECT_TRUE(run.ended) << "the program did not end (a message box instead of the dialog?)";
  EXPECT_EQ(run.exitCode, 0u);
  std::wstring started;
  for (const std::wstring& image : run.started)
    started += L" " + image;
  ASSERT_EQ(run.started.size(), 1u) << "one dialog process; started:" << started;
  EXPECT_EQ(Lower(run.started[0]), Lower(systemMshta.wstring()));
  EXPECT_FALSE(fs::exists(appFolder / L"planted-mshta-ran"));
  EXPECT_FALSE(fs::exists(currentFolder / L"planted-mshta-ran"));
  fs::remove_all(root, ignored);
}

}  // namespace
