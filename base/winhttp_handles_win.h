// Owner for WinHTTP handles (session, connection, request).
#ifndef CORVEL_BASE_WINHTTP_HANDLES_WIN_H_
#define CORVEL_BASE_WINHTTP_HANDLES_WIN_H_

#include <windows.h>
#include <winhttp.h>

#include "base/unique_handle_win.h"

namespace base {

struct HInternetTraits {
  using Handle = HINTERNET;
  static Handle Invalid() noexcept { return nullptr; }
  static void Close(Handle h) noexcept { WinHttpCloseHandle(h); }
};

using UniqueHInternet = UniqueHandle<HInternetTraits>;

}  // namespace base

#endif  // CORVEL_BASE_WINHTTP_HANDLES_WIN_H_
