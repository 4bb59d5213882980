// Drives a Windows program from outside, as a user would: starts it, reports every message box
// it shows ("BOX <caption>\t<text>", newlines written as "\n") and answers the ones it is told
// to, then reports how it ended ("EXIT <code>").
//
// usage: smoke_driver [--answer CAPTION=BUTTON[@RELEASE_FILE]]... [--probe CLASS] [--timeout SECONDS]
//                     -- PROGRAM [ARGS...]
// BUTTON is OK, Cancel, Yes, No or Retry. With a release file the box is answered only once that file
// exists, so a test can keep the program waiting while it looks at it. Exit status: 0 when the
// program ended, 3 on timeout (the program is then terminated), 2 on bad usage.
#include <windows.h>  // before every other Windows header

#include <shellapi.h>

#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "text/text.h"

namespace {

struct Rule {
  int button = 0;
  std::wstring releaseFile;
};

struct Search {
  DWORD processId = 0;
  std::wstring className;
  std::vector<HWND> found;
};

void Print(const std::string& line) {
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

std::string Escape(const std::wstring& text) {
  std::string out;
  for (char c : Utf16ToUtf8(text)) {
    if (c == '\n') {
      out += "\\n";
    } else if (c != '\r') {
      out += c;
    }
  }
  return out;
}

// The visible windows of a class that belong to the program.
BOOL CALLBACK CollectWindows(HWND window, LPARAM data) {
  auto* search = reinterpret_cast<Search*>(data);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  wchar_t className[64] = {};
  GetClassNameW(window, className, 64);
  if (owner == search->processId && IsWindowVisible(window) && search->className == className)
    search->found.push_back(window);
  return TRUE;
}

std::vector<HWND> WindowsOf(DWORD processId, const std::wstring& className) {
  Search search{processId, className, {}};
  EnumWindows(CollectWindows, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

std::wstring WindowText(HWND window) {
  wchar_t buffer[4096] = {};
  GetWindowTextW(window, buffer, 4096);
  return buffer;
}

int ButtonId(const std::wstring& name) {
  if (name == L"OK")
    return IDOK;
  if (name == L"Cancel")
    return IDCANCEL;
  if (name == L"Yes")
    return IDYES;
  if (name == L"No")
    return IDNO;
  if (name == L"Retry")
    return IDRETRY;
  return 0;
}

std::wstring Quote(const std::wstring& argument) {
  if (!argument.empty() && argument.find_first_of(L" \t\"") == std::wstring::npos)
    return argument;
  std::wstring out = L"\"";
  for (wchar_t c : argument) {
    if (c == L'"')
      out += L'\\';
    out += c;
  }
  return out + L"\"";
}

}  // namespace

int main() {
  int count = 0;
  LPWSTR* argv = CommandLineToArgvW(GetCommandLineW(), &count);
  std::map<std::wstring, Rule> rules;
  std::wstring probed;  // --probe CLASS: "HUNG CLASS" when a window of it leaves a message unanswered 1 s
  double timeout = 60;
  int i = 1;
  for (; i < count; ++i) {
    const std::wstring arg = argv[i];
    if (arg == L"--") {
      ++i;
      break;
    }
    if (arg == L"--probe" && i + 1 < count) {
      probed = argv[++i];
    } else if (arg == L"--timeout" && i + 1 < count) {
      timeout = _wtof(argv[++i]);
    } else if (arg == L"--answer" && i + 1 < count) {
      std::wstring answer = argv[++i];
      const size_t equals = answer.rfind(L'=');
      if (equals == std::wstring::npos)
        return 2;
      Rule rule;
      std::wstring button = answer.substr(equals + 1);
      const size_t at = button.find(L'@');
      if (at != std::wstring::npos) {
        rule.releaseFile = button.substr(at + 1);
        button.resize(at);
      }
      rule.button = ButtonId(button);
      if (!rule.button)
        return 2;
      rules[answer.substr(0, equals)] = rule;
    } else {
      return 2;
    }
  }
  if (i >= count)
    return 2;
  std::wstring commandLine;
  for (int j = i; j < count; ++j)
    commandLine += (j > i ? L" " : L"") + Quote(argv[j]);
  LocalFree(argv);

  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup,
                      &process)) {
    Print("START FAILED " + std::to_string(GetLastError()));
    return 2;
  }
  CloseHandle(process.hThread);

  std::set<HWND> reported;
  const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(timeout * 1000);
  while (WaitForSingleObject(process.hProcess, 100) == WAIT_TIMEOUT) {
    if (GetTickCount64() > deadline) {
      TerminateProcess(process.hProcess, 99);
      Print("TIMEOUT");
      return 3;
    }
    if (!probed.empty()) {
      for (HWND window : WindowsOf(process.dwProcessId, probed)) {
        DWORD_PTR ignored = 0;
        if (SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, 1000, &ignored) == 0 &&
            IsWindow(window))
          Print("HUNG " + Escape(probed));
      }
    }
    for (HWND box : WindowsOf(process.dwProcessId, L"#32770")) {
      const std::wstring caption = WindowText(box);
      if (reported.insert(box).second) {
        Print("BOX " + Escape(caption) + "\t" + Escape(WindowText(GetDlgItem(box, 0xFFFF))));
      }
      const auto rule = rules.find(caption);
      if (rule == rules.end())
        continue;
      if (!rule->second.releaseFile.empty() &&
          GetFileAttributesW(rule->second.releaseFile.c_str()) == INVALID_FILE_ATTRIBUTES) {
        continue;
      }
      // A dialog of the program's own may answer the command without a button of that number.
      PostMessageW(box, WM_COMMAND, MAKEWPARAM(rule->second.button, BN_CLICKED),
                   reinterpret_cast<LPARAM>(GetDlgItem(box, rule->second.button)));
    }
  }
  DWORD code = 0;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hProcess);
  Print("EXIT " + std::to_string(code));
  return 0;
}
