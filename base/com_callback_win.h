// ComCallback: a COM handler object around a function object, for the one-method callback
// interfaces of WebView2 (completed handlers and event handlers). MinGW has no
// <wrl/implements.h>, so this is the project's own small replacement for WRL's Callback<>.
//
//   auto handler = base::ComCallback<ICoreWebView2NavigationStartingEventHandler>(
//       [this](ICoreWebView2* sender, ICoreWebView2NavigationStartingEventArgs* args) -> HRESULT {
//         ...
//       });
//
// The object implements IUnknown and the one interface (QueryInterface answers both IIDs and
// E_NOINTERFACE for any other), with an atomic reference count: references may be taken and
// dropped on any thread, and the function object is destroyed with the last reference. Invoke
// passes its arguments on to the function object and returns its HRESULT (S_OK when it returns
// nothing). No exception leaves Invoke: one thrown by the function object becomes E_FAIL.
#ifndef CORVEL_BASE_COM_CALLBACK_WIN_H_
#define CORVEL_BASE_COM_CALLBACK_WIN_H_

#include <windows.h>

#include <unknwn.h>
#include <wrl/client.h>

#include <atomic>
#include <new>
#include <type_traits>
#include <utility>

namespace base {
namespace internal {

template <typename Interface, typename Fn, typename... Args>
class ComCallbackObject final : public Interface {
 public:
  explicit ComCallbackObject(Fn&& fn) : fn_(std::move(fn)) {}
  explicit ComCallbackObject(const Fn& fn) : fn_(fn) {}
  ComCallbackObject(const ComCallbackObject&) = delete;
  ComCallbackObject& operator=(const ComCallbackObject&) = delete;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) noexcept override {
    if (object == nullptr)
      return E_POINTER;
    if (IsEqualIID(iid, __uuidof(IUnknown)) || IsEqualIID(iid, __uuidof(Interface))) {
      *object = static_cast<Interface*>(this);
      AddRef();
      return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
  }

  ULONG STDMETHODCALLTYPE AddRef() noexcept override {
    return refs_.fetch_add(1, std::memory_order_relaxed) + 1;
  }

  ULONG STDMETHODCALLTYPE Release() noexcept override {
    const ULONG left = refs_.fetch_sub(1, std::memory_order_acq_rel) - 1;
    if (left == 0)
      delete this;
    return left;
  }

  HRESULT STDMETHODCALLTYPE Invoke(Args... args) noexcept override {
    try {
      if constexpr (std::is_void_v<std::invoke_result_t<Fn&, Args...>>) {
        fn_(args...);
        return S_OK;
      } else {
        return fn_(args...);
      }
    } catch (...) {
      return E_FAIL;
    }
  }

 private:
  ~ComCallbackObject() = default;  // only Release() ends the object

  std::atomic<ULONG> refs_{1};
  Fn fn_;
};

// Picks the object type from the interface's Invoke signature.
template <typename Interface, typename Fn, typename Method>
struct ComCallbackFor;

template <typename Interface, typename Fn, typename R, typename C, typename... Args>
struct ComCallbackFor<Interface, Fn, R (STDMETHODCALLTYPE C::*)(Args...)> {
  static_assert(std::is_same_v<R, HRESULT>, "Invoke must return HRESULT");
  static_assert(std::is_invocable_v<Fn&, Args...>,
                "the function object cannot be called with the interface's Invoke arguments");
  static_assert(std::is_void_v<std::invoke_result_t<Fn&, Args...>> ||
                    std::is_convertible_v<std::invoke_result_t<Fn&, Args...>, HRESULT>,
                "the function object must return HRESULT or nothing");
  using Object = ComCallbackObject<Interface, Fn, Args...>;
};

}  // namespace internal

// Makes a handler implementing Interface (which must have one Invoke method and an IID declared
// with __CRT_UUID_DECL) that forwards Invoke to fn. Returns the only reference; null when memory
// ran out.
template <typename Interface, typename Fn>
Microsoft::WRL::ComPtr<Interface> ComCallback(Fn&& fn) {
  using Object =
      typename internal::ComCallbackFor<Interface, std::decay_t<Fn>, decltype(&Interface::Invoke)>::Object;
  Microsoft::WRL::ComPtr<Interface> handler;
  // Not Attach(): MinGW's ComPtr::Attach adds a reference of its own (WRL's does not), which
  // would keep every handler alive forever.
  *handler.GetAddressOf() = new (std::nothrow) Object(std::forward<Fn>(fn));
  return handler;
}

}  // namespace base

#endif  // CORVEL_BASE_COM_CALLBACK_WIN_H_
