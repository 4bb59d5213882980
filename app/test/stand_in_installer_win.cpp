// Stand-in for the runtime installer in the bootstrap tests: leaves "<own path>.ran" behind,
// so a test can see that the bootstrap really started it and waited for it to end.
#include <windows.h>

#include <string>

#include "base/unique_handle_win.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  wchar_t path[MAX_PATH] = {};
  const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH)
    return 2;
  Sleep(300);  // a waiting caller sees the marker; one that does not wait finds nothing yet
  const std::wstring marker = std::wstring(path, length) + L".ran";
  const base::UniqueFileHandle file(
      CreateFileW(marker.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
  return file ? 0 : 1;
}
