// Fake COM objects for tests of code that calls WebView2 interfaces: a vtable built at run time,
// so a fake implements only the methods the code under test may call.
#ifndef CORVEL_WEBVIEW_TEST_FAKE_COM_WIN_H_
#define CORVEL_WEBVIEW_TEST_FAKE_COM_WIN_H_

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>
#include <vector>

namespace fake_com {

// Slot of a virtual method in its interface's vtable. In the Itanium C++ ABI (MinGW g++) a
// pointer to a virtual member function holds 1 + the byte offset of its vtable entry.
template <typename Method>
std::size_t SlotOf(Method method) {
  struct Representation {
    std::uintptr_t pointer;
    std::ptrdiff_t adjustment;
  };
  static_assert(sizeof(Method) == sizeof(Representation));
  Representation representation;
  std::memcpy(&representation, &method, sizeof representation);
  return (representation.pointer - 1) / sizeof(void*);
}

// A COM object whose vtable is built at run time, so a fake implements only the methods the code
// under test may call. Windows x64 has a single calling convention in which the caller cleans
// the stack, so every other slot can be one function that ignores its arguments, counts the
// call and answers E_NOTIMPL. References are counted but never free the object: the test owns it.
class FakeCom {
 public:
  FakeCom(std::size_t slots, void* context)
      : table_(slots, reinterpret_cast<void*>(&Unexpected)), context_(context) {
    table_[0] = reinterpret_cast<void*>(&QueryInterface);
    table_[1] = reinterpret_cast<void*>(&AddRef);
    table_[2] = reinterpret_cast<void*>(&Release);
    vtable_ = table_.data();
    Answer(__uuidof(IUnknown));
  }
  FakeCom(const FakeCom&) = delete;
  FakeCom& operator=(const FakeCom&) = delete;

  template <typename Interface>
  Interface* As() {
    static_assert(std::is_standard_layout_v<FakeCom>);
    return reinterpret_cast<Interface*>(this);
  }
  void Answer(const IID& iid) { interfaces_.push_back(iid); }
  template <typename Method, typename Function>
  void Implement(Method method, Function* function) {
    table_.at(SlotOf(method)) = reinterpret_cast<void*>(function);
  }
  template <typename Context>
  Context& context() {
    return *static_cast<Context*>(context_);
  }
  ULONG references() const { return references_; }
  int unexpectedCalls() const { return unexpectedCalls_; }

 private:
  static HRESULT STDMETHODCALLTYPE QueryInterface(FakeCom* self, REFIID iid, void** out) {
    for (const IID& known : self->interfaces_) {
      if (IsEqualIID(known, iid)) {
        *out = self;
        ++self->references_;
        return S_OK;
      }
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  static ULONG STDMETHODCALLTYPE AddRef(FakeCom* self) { return ++self->references_; }
  static ULONG STDMETHODCALLTYPE Release(FakeCom* self) { return --self->references_; }
  static HRESULT STDMETHODCALLTYPE Unexpected(FakeCom* self) {
    ++self->unexpectedCalls_;
    return E_NOTIMPL;
  }

  void* const* vtable_ = nullptr;  // first: where a caller looks for the vtable
  std::vector<void*> table_;
  std::vector<IID> interfaces_;
  void* context_;
  ULONG references_ = 1;  // the test's own
  int unexpectedCalls_ = 0;
};

}  // namespace fake_com

#endif  // CORVEL_WEBVIEW_TEST_FAKE_COM_WIN_H_
