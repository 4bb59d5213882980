// Owners for Win32 handles: one alias per handle kind, built on a traits template. The traits
// say what the invalid value is and how the handle is closed; reset() keeps GetLastError(), so
// cleanup on an error path never hides the error being reported.
#ifndef CORVEL_BASE_UNIQUE_HANDLE_WIN_H_
#define CORVEL_BASE_UNIQUE_HANDLE_WIN_H_

#include <windows.h>

#include <objbase.h>

#include <utility>

namespace base {

template <typename Traits>
class UniqueHandle {
 public:
  using Handle = typename Traits::Handle;

  UniqueHandle() noexcept = default;
  explicit UniqueHandle(Handle handle) noexcept : handle_(handle) {}
  ~UniqueHandle() { reset(); }
  UniqueHandle(UniqueHandle&& other) noexcept : handle_(other.release()) {}
  UniqueHandle& operator=(UniqueHandle&& other) noexcept {
    if (this != &other)
      reset(other.release());
    return *this;
  }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;

  Handle get() const noexcept { return handle_; }
  bool valid() const noexcept { return handle_ != Traits::Invalid(); }
  explicit operator bool() const noexcept { return valid(); }

  // Closes the current handle (if any) and takes the new one; the thread's last error survives.
  void reset(Handle handle = Traits::Invalid()) noexcept {
    if (handle_ != Traits::Invalid()) {
      const DWORD lastError = GetLastError();
      Traits::Close(handle_);
      SetLastError(lastError);
    }
    handle_ = handle;
  }

  Handle release() noexcept { return std::exchange(handle_, Traits::Invalid()); }

  // For out-parameters: closes the current handle and returns the address to fill.
  Handle* put() noexcept {
    reset();
    return &handle_;
  }

 private:
  Handle handle_ = Traits::Invalid();
};

struct KernelHandleTraits {  // CreateEvent, OpenProcess, CreateMutex, ...
  using Handle = HANDLE;
  static Handle Invalid() noexcept { return nullptr; }
  static void Close(Handle h) noexcept { CloseHandle(h); }
};

struct FileHandleTraits {  // CreateFile, CreateToolhelp32Snapshot
  using Handle = HANDLE;
  static Handle Invalid() noexcept { return INVALID_HANDLE_VALUE; }
  static void Close(Handle h) noexcept { CloseHandle(h); }
};

struct ModuleTraits {
  using Handle = HMODULE;
  static Handle Invalid() noexcept { return nullptr; }
  static void Close(Handle h) noexcept { FreeLibrary(h); }
};

struct RegKeyTraits {
  using Handle = HKEY;
  static Handle Invalid() noexcept { return nullptr; }
  static void Close(Handle h) noexcept { RegCloseKey(h); }
};

struct GdiObjectTraits {
  using Handle = HGDIOBJ;
  static Handle Invalid() noexcept { return nullptr; }
  static void Close(Handle h) noexcept { DeleteObject(h); }
};

struct GlobalMemoryTraits {
  using Handle = HGLOBAL;
  static Handle Invalid() noexcept { return nullptr; }
  static void Close(Handle h) noexcept { GlobalFree(h); }
};

struct MemoryDcTraits {  // CreateCompatibleDC, CreateDCW
  using Handle = HDC;
  static Handle Invalid() noexcept { return nullptr; }
  static void Close(Handle h) noexcept { DeleteDC(h); }
};

struct ScreenDcTraits {  // GetDC(nullptr): the screen's context, given back with ReleaseDC
  using Handle = HDC;
  static Handle Invalid() noexcept { return nullptr; }
  static void Close(Handle h) noexcept { ReleaseDC(nullptr, h); }
};

struct LocalMemoryTraits {  // LocalAlloc, and what the system hands out that way (CommandLineToArgvW)
  using Handle = HLOCAL;
  static Handle Invalid() noexcept { return nullptr; }
  static void Close(Handle h) noexcept { LocalFree(h); }
};

struct WindowTraits {  // a window this code made and destroys
  using Handle = HWND;
  static Handle Invalid() noexcept { return nullptr; }
  static void Close(Handle h) noexcept { DestroyWindow(h); }
};

struct CoTaskMemStringTraits {  // a string a COM or WebView2 call allocated for the caller
  using Handle = LPWSTR;
  static Handle Invalid() noexcept { return nullptr; }
  static void Close(Handle h) noexcept { CoTaskMemFree(h); }
};

using UniqueKernelHandle = UniqueHandle<KernelHandleTraits>;
using UniqueFileHandle = UniqueHandle<FileHandleTraits>;
using UniqueHModule = UniqueHandle<ModuleTraits>;
using UniqueHKey = UniqueHandle<RegKeyTraits>;
using UniqueGdiObject = UniqueHandle<GdiObjectTraits>;
using UniqueHGlobal = UniqueHandle<GlobalMemoryTraits>;
using UniqueMemoryDc = UniqueHandle<MemoryDcTraits>;
using UniqueScreenDc = UniqueHandle<ScreenDcTraits>;
using UniqueLocalMemory = UniqueHandle<LocalMemoryTraits>;
using UniqueCoTaskMemString = UniqueHandle<CoTaskMemStringTraits>;
using UniqueWindow = UniqueHandle<WindowTraits>;

}  // namespace base

#endif  // CORVEL_BASE_UNIQUE_HANDLE_WIN_H_
