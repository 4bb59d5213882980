// The running executable's path, however long it is.
#ifndef CORVEL_BASE_MODULE_PATH_WIN_H_
#define CORVEL_BASE_MODULE_PATH_WIN_H_

#include <windows.h>

#include <string>

namespace base {

// Full path of the running executable; empty when it cannot be read. The buffer grows past
// MAX_PATH instead of cutting a long path short (a cut path names another file).
inline std::wstring ExecutablePath() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0)
      return {};
    if (length < path.size()) {
      path.resize(length);
      return path;
    }
    if (path.size() >= 32768)
      return {};  // longer than any Windows path
    path.resize(path.size() * 2);
  }
}

// Folder of the running executable, without a trailing backslash; empty when unknown.
inline std::wstring ExecutableFolder() {
  const std::wstring path = ExecutablePath();
  const size_t slash = path.find_last_of(L'\\');
  return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

}  // namespace base

#endif  // CORVEL_BASE_MODULE_PATH_WIN_H_
