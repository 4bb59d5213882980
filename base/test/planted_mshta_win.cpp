// Stands in for an mshta.exe that someone placed where a search by name finds it before the
// system's (the program's folder, the current directory). The test that plants it checks that
// the fatal dialog never starts it; should it run anyway, it leaves a mark beside itself.
#include <windows.h>

#include <string>

#include "base/module_path_win.h"
#include "base/unique_handle_win.h"

int main() {
  const std::wstring mark = base::ExecutableFolder() + L"\\planted-mshta-ran";
  base::UniqueFileHandle file(
      CreateFileW(mark.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  return 7;
}
