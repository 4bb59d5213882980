// The true Windows version. The ordinary version API answers according to the manifest's
// supported-OS list (which the player does not carry), so it would report an older version on
// Windows 10 and 11; the native query reports the real numbers. Its library and function names
// are kept out of the import table and out of the plain strings of the executable.
#include <windows.h>

#include "app/identity.h"
#include "config/reveal.h"

namespace {

const unsigned char kLibrary[] = {0x45, 0x0f, 0x03, 0x62, 0x26, 0x8d, 0xee, 0xc8, 0x57};
const unsigned char kFunction[] = {0x85, 0x7c, 0x2d, 0x61, 0xa3, 0x5e, 0x1a, 0x21, 0xfb, 0xe6, 0xa1, 0x5f, 0x11};

using VersionQuery = LONG(WINAPI*)(OSVERSIONINFOEXW*);

}  // namespace

int GetTrueWindowsVersion() {
  OSVERSIONINFOEXW info{};
  info.dwOSVersionInfoSize = sizeof(info);  // 284 bytes: the extended record
  const std::wstring library = config::Widen(config::Reveal(kLibrary, sizeof(kLibrary), 0x5be1c0d37a9e4411ULL));
  const std::string function = config::Reveal(kFunction, sizeof(kFunction), 0x27d4eb2f165667c5ULL);
  if (HMODULE module = GetModuleHandleW(library.c_str())) {
    if (auto query = reinterpret_cast<VersionQuery>(
            reinterpret_cast<void*>(GetProcAddress(module, function.c_str())))) {
      query(&info);
    }
  }
  return MapWindowsVersion(info.dwMajorVersion, info.dwMinorVersion, info.dwBuildNumber);
}
