#include <windows.h>  // before every other Windows header

#include <shellapi.h>

#include <algorithm>
#include <memory>

#include "text/text.h"
#include "tools/console.h"

namespace tools {
namespace {

struct LocalFreeDeleter {
  void operator()(LPWSTR* block) const { LocalFree(block); }
};

void Write(DWORD which, const std::string& utf8) {
  const HANDLE handle = GetStdHandle(which);
  if (handle == nullptr || handle == INVALID_HANDLE_VALUE || utf8.empty())
    return;
  DWORD mode = 0;
  if (GetConsoleMode(handle, &mode)) {
    // A console shows UTF-16 correctly whatever its code page.
    const std::wstring wide = Utf8ToUtf16(utf8);
    DWORD written = 0;
    WriteConsoleW(handle, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
    return;
  }
  // Pipes and files get the UTF-8 bytes unchanged.
  std::size_t offset = 0;
  while (offset < utf8.size()) {
    DWORD written = 0;
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(utf8.size() - offset, 1u << 20));
    if (!WriteFile(handle, utf8.data() + offset, chunk, &written, nullptr) || written == 0)
      return;
    offset += written;
  }
}

}  // namespace

std::vector<std::string> Utf8Arguments(int, char**) {
  std::vector<std::string> arguments;
  int count = 0;
  const std::unique_ptr<LPWSTR, LocalFreeDeleter> argv(CommandLineToArgvW(GetCommandLineW(), &count));
  if (!argv)
    return arguments;
  for (int i = 1; i < count; ++i)
    arguments.push_back(Utf16ToUtf8(argv.get()[i]));
  return arguments;
}

void WriteOut(const std::string& utf8) {
  Write(STD_OUTPUT_HANDLE, utf8);
}
void WriteErr(const std::string& utf8) {
  Write(STD_ERROR_HANDLE, utf8);
}

}  // namespace tools
