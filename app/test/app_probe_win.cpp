// Helper process for app_win_test: "select ..." prints the argument the player would take from
// this process's command line; "mutex NAME" exits with 2 when NAME already exists, else 0.
#include <windows.h>

#include <cstdio>

#include "app/startup.h"
#include "app/url_scheme.h"
#include "base/unique_handle_win.h"
#include "text/text.h"

namespace {

// The command line after the program and the mode word, as the entry point would receive it.
std::wstring RawArguments() {
  std::wstring line = GetCommandLineW();
  size_t at = 0;
  if (!line.empty() && line[0] == L'"') {
    at = line.find(L'"', 1);
    at = at == std::wstring::npos ? line.size() : at + 1;
  } else {
    at = line.find(L' ');
    if (at == std::wstring::npos)
      at = line.size();
  }
  while (at < line.size() && line[at] == L' ')
    ++at;
  const size_t mode = line.find(L' ', at);  // skip the mode word too
  at = mode == std::wstring::npos ? line.size() : mode + 1;
  return line.substr(at);
}

}  // namespace

int main() {
  std::vector<std::wstring> arguments = SplitProcessCommandLine();
  if (arguments.size() >= 3 && arguments[1] == L"mutex") {
    const base::UniqueKernelHandle mutex(CreateMutexW(nullptr, FALSE, arguments[2].c_str()));
    const bool existed = GetLastError() == ERROR_ALREADY_EXISTS;
    return existed ? 2 : 0;
  }
  if (arguments.size() >= 2 && arguments[1] == L"select") {
    arguments.erase(arguments.begin() + 1);  // the mode word is not part of the player's line
    const std::string selected = Utf16ToUtf8(SelectLinkCandidate(arguments, RawArguments(), L"corvel"));
    std::fwrite(selected.data(), 1, selected.size(), stdout);
    return 0;
  }
  return 1;
}
