#include "base/com_callback_win.h"

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

// Two callback interfaces of the same shape as WebView2's handlers, with IIDs of their own.
struct ITestCallback : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE Invoke(int number, const wchar_t* text, int* out) = 0;
};
__CRT_UUID_DECL(ITestCallback, 0x5d2d1b0e, 0x7a1c, 0x4f55, 0x9a, 0x61, 0x2b, 0x44, 0x0c, 0x8e, 0x31, 0x07)

struct IOtherCallback : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE Invoke(HRESULT errorCode) = 0;
};
__CRT_UUID_DECL(IOtherCallback, 0x0b3f6e21, 0x4c2d, 0x4b7a, 0x8e, 0x19, 0x66, 0x70, 0xd2, 0x5a, 0x9c, 0x4e)

namespace {

// Sets its flag when destroyed, so a test can see when the handler's function object goes.
struct DestructionFlag {
  explicit DestructionFlag(int* destroyed) : destroyed(destroyed) {}
  ~DestructionFlag() { ++*destroyed; }
  int* destroyed;
};

TEST(ComCallback, CountsReferencesAndDestroysTheFunctionWithTheLastOne) {
  int destroyed = 0;
  auto flag = std::make_shared<DestructionFlag>(&destroyed);
  Microsoft::WRL::ComPtr<ITestCallback> handler =
      base::ComCallback<ITestCallback>([flag](int, const wchar_t*, int*) { return S_OK; });
  flag.reset();
  ASSERT_NE(handler, nullptr);

  ITestCallback* raw = handler.Get();
  EXPECT_EQ(raw->AddRef(), 2u);
  EXPECT_EQ(raw->AddRef(), 3u);
  EXPECT_EQ(raw->Release(), 2u);
  EXPECT_EQ(raw->Release(), 1u);
  {
    Microsoft::WRL::ComPtr<ITestCallback> copy = handler;
    EXPECT_EQ(raw->AddRef(), 3u);
    EXPECT_EQ(raw->Release(), 2u);
  }
  EXPECT_EQ(destroyed, 0);
  EXPECT_EQ(handler.Reset(), 0u);
  EXPECT_EQ(destroyed, 1) << "the last Release must destroy the object and its captures";
}

TEST(ComCallback, AnswersQueryInterfaceForIUnknownAndItsOwnIidOnly) {
  auto handler = base::ComCallback<ITestCallback>([](int, const wchar_t*, int*) { return S_OK; });
  ASSERT_NE(handler, nullptr);
  ITestCallback* raw = handler.Get();

  struct Case {
    const char* what;
    IID iid;
    HRESULT expected;
    void* expectedPointer;
  };
  const Case cases[] = {
      {"IUnknown", __uuidof(IUnknown), S_OK, static_cast<IUnknown*>(raw)},
      {"its own IID", __uuidof(ITestCallback), S_OK, raw},
      {"a foreign IID", __uuidof(IOtherCallback), E_NOINTERFACE, nullptr},
      {"IClassFactory", __uuidof(IClassFactory), E_NOINTERFACE, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    void* out = reinterpret_cast<void*>(0x1);  // must be overwritten either way
    EXPECT_EQ(raw->QueryInterface(c.iid, &out), c.expected);
    EXPECT_EQ(out, c.expectedPointer);
    if (SUCCEEDED(c.expected)) {
      EXPECT_EQ(raw->Release(), 1u) << "a successful QueryInterface adds exactly one reference";
    } else {
      EXPECT_EQ(raw->AddRef(), 2u) << "a refused QueryInterface must not add a reference";
      raw->Release();
    }
  }
  EXPECT_EQ(raw->QueryInterface(__uuidof(IUnknown), nullptr), E_POINTER);

  // ComPtr::As goes through the same QueryInterface.
  Microsoft::WRL::ComPtr<IUnknown> unknown;
  EXPECT_EQ(handler.As(&unknown), S_OK);
  Microsoft::WRL::ComPtr<IOtherCallback> other;
  EXPECT_EQ(handler.As(&other), E_NOINTERFACE);
  EXPECT_EQ(other, nullptr);
}

TEST(ComCallback, InvokeForwardsArgumentsAndResults) {
  std::vector<std::wstring> seen;
  auto handler = base::ComCallback<ITestCallback>([&seen](int number, const wchar_t* text, int* out) {
    seen.push_back(std::to_wstring(number) + L":" + (text ? text : L"(null)"));
    if (out)
      *out = number * 2;
    if (number < 0)
      return E_INVALIDARG;
    return number == 0 ? S_FALSE : S_OK;
  });
  ASSERT_NE(handler, nullptr);

  struct Case {
    int number;
    const wchar_t* text;
    HRESULT expected;
  };
  const Case cases[] = {{21, L"twenty-one", S_OK}, {0, nullptr, S_FALSE}, {-4, L"negative", E_INVALIDARG}};
  for (const Case& c : cases) {
    int out = 0;
    EXPECT_EQ(handler->Invoke(c.number, c.text, &out), c.expected) << c.number;
    EXPECT_EQ(out, c.number * 2);
  }
  EXPECT_EQ(seen, (std::vector<std::wstring>{L"21:twenty-one", L"0:(null)", L"-4:negative"}));

  // A function object that returns nothing reports S_OK; one that takes ownership of a capture
  // (move-only) is accepted.
  auto owned = std::make_unique<HRESULT>(E_ABORT);
  HRESULT got = S_OK;
  auto other = base::ComCallback<IOtherCallback>(
      [owned = std::move(owned), &got](HRESULT hr) { got = hr == *owned ? hr : E_UNEXPECTED; });
  ASSERT_NE(other, nullptr);
  EXPECT_EQ(other->Invoke(E_ABORT), S_OK);
  EXPECT_EQ(got, E_ABORT);
}

TEST(ComCallback, ExceptionsBecomeEFailAndTheHandlerStaysUsable) {
  int calls = 0;
  auto handler = base::ComCallback<ITestCallback>([&calls](int number, const wchar_t*, int*) -> HRESULT {
    ++calls;
    if (number == 1)
      throw std::runtime_error("handler failed");
    if (number == 2)
      throw 42;
    if (number == 3)
      throw std::bad_alloc();
    return S_OK;
  });
  ASSERT_NE(handler, nullptr);
  for (int number : {1, 2, 3})
    EXPECT_EQ(handler->Invoke(number, nullptr, nullptr), E_FAIL) << number;
  EXPECT_EQ(handler->Invoke(0, nullptr, nullptr), S_OK);
  EXPECT_EQ(calls, 4);
}

TEST(ComCallback, ReferencesTakenOnManyThreadsKeepTheCountExact) {
  int destroyed = 0;
  auto flag = std::make_shared<DestructionFlag>(&destroyed);
  auto handler = base::ComCallback<IOtherCallback>([flag](HRESULT) { return S_OK; });
  flag.reset();
  ASSERT_NE(handler, nullptr);

  IOtherCallback* raw = handler.Get();
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([raw] {
      for (int i = 0; i < 20000; ++i) {
        raw->AddRef();
        raw->Invoke(S_OK);
        raw->Release();
      }
    });
  }
  for (auto& thread : threads)
    thread.join();
  EXPECT_EQ(destroyed, 0);
  EXPECT_EQ(raw->AddRef(), 2u);
  EXPECT_EQ(raw->Release(), 1u);
  handler.Reset();
  EXPECT_EQ(destroyed, 1);
}

}  // namespace
