// Checks webview/webview2.h against the WebView2 ABI facts: for every interface its IID, base and
// number of vtable slots; for every method (inherited ones included) its slot, its exact
// signature and the Windows x64 class of its return value and parameters; every enum's size and
// values; the colour struct's layout; the loader pointer types. The expected table is generated
// at build time from webview/webview2_abi.md by tools/gen_webview2_abi_table.py, so a header
// that drifts from the facts fails here, under Wine, before the real runtime ever calls a wrong
// slot.
#include "webview/webview2.h"

#include <gtest/gtest.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

namespace {

// ---- How g++ lays out what the header declares ----

// MinGW g++ follows the Itanium C++ ABI: a pointer to a virtual member function holds
// 1 + the byte offset of its vtable entry, and a this-adjustment that is 0 under single
// inheritance. Returns the slot, or -1 for a non-virtual or adjusted member.
template <typename MemberFunction>
long VtableSlot(MemberFunction member) {
  static_assert(sizeof(member) == 2 * sizeof(void*), "Itanium member-function pointer expected");
  struct {
    std::uintptr_t ptr;
    std::ptrdiff_t adj;
  } rep;
  std::memcpy(&rep, &member, sizeof rep);
  if ((rep.ptr & 1) == 0 || rep.adj != 0)
    return -1;
  return static_cast<long>((rep.ptr - 1) / sizeof(void*));
}

// A derived interface's first own method comes right after all of its base's slots, so the slot
// of a method added on top of Interface is the number of slots Interface has.
template <typename Interface>
struct SlotProbe : Interface {
  virtual void STDMETHODCALLTYPE NextSlot() = 0;
};

template <typename Interface>
long SlotCount() {
  return VtableSlot(&SlotProbe<Interface>::NextSlot);
}

// Windows x64 class of a type, as the facts write it: p pointer or reference, iN integer or
// enum, fN floating point, sN struct by value, v void.
template <typename T>
std::string AbiClass() {
  if constexpr (std::is_void_v<T>) {
    return "v";
  } else if constexpr (std::is_pointer_v<T> || std::is_reference_v<T>) {
    return "p";
  } else if constexpr (std::is_integral_v<T> || std::is_enum_v<T>) {
    return "i" + std::to_string(sizeof(T));
  } else if constexpr (std::is_floating_point_v<T>) {
    return "f" + std::to_string(sizeof(T));
  } else {
    return "s" + std::to_string(sizeof(T));
  }
}

template <typename Function>
struct AbiOf;

template <typename R, typename... Args>
struct AbiOf<R(Args...)> {
  static std::string Text() {
    std::string text = AbiClass<R>() + "(";
    ((text += AbiClass<Args>() + ","), ...);
    if (text.back() == ',')
      text.pop_back();
    return text + ")";
  }
};

template <typename R, typename C, typename... Args>
struct AbiOf<R (C::*)(Args...)> : AbiOf<R(Args...)> {};

template <typename R, typename... Args>
struct AbiOf<R (*)(Args...)> : AbiOf<R(Args...)> {};

std::string IidText(const GUID& g) {
  char text[40];
  std::snprintf(text, sizeof text, "{%08lx-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x}",
                static_cast<unsigned long>(g.Data1), g.Data2, g.Data3, g.Data4[0], g.Data4[1], g.Data4[2],
                g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
  return text;
}

// ---- The expected table, expanded into records of what the header actually has ----

struct InterfaceRecord {
  const char* name;
  const char* base;
  std::string expectedIid;
  long expectedSlots;
  std::string iid;
  long slots;
  bool derivesFromBase;
  bool onlyAVtablePointer;
  bool virtualDestructor;
};

struct MethodRecord {
  const char* interfaceName;
  const char* method;
  long expectedSlot;
  const char* expectedAbi;
  bool declared;
  long slot;
  bool documentedSignature;
  std::string abi;
};

struct EnumValueRecord {
  const char* enumName;
  const char* enumerator;
  std::uint32_t expected;
  std::uint32_t actual;
  bool ofThatEnum;
};

#define WEBVIEW2_INTERFACE(I, BASE, IID, SLOTS)                                                             \
  interfaces.push_back({#I, #BASE, IID, SLOTS, IidText(__uuidof(I)), SlotCount<I>(),                        \
                        std::is_base_of_v<BASE, I> && !std::is_same_v<BASE, I>, sizeof(I) == sizeof(void*), \
                        std::has_virtual_destructor_v<I>});

// The member is looked up through a template parameter so that a method the header lacks (or
// overloads) makes `declared` false instead of breaking the build.
#define WEBVIEW2_METHOD(I, M, SLOT, DECLARED_IN, RET, PARAMS, ABI)                                           \
  methods.push_back([]<typename T = I>() {                                                                   \
    MethodRecord r{#I, #M, SLOT, ABI, false, -1, false, {}};                                                 \
    if constexpr (requires { &T::M; }) {                                                                     \
      r.declared = true;                                                                                     \
      r.slot = VtableSlot(&T::M);                                                                            \
      r.documentedSignature = std::is_same_v<decltype(&T::M), RET(STDMETHODCALLTYPE DECLARED_IN::*) PARAMS>; \
      r.abi = AbiOf<decltype(&T::M)>::Text();                                                                \
    }                                                                                                        \
    return r;                                                                                                \
  }());

// IUnknown::QueryInterface has a template overload in MinGW's header; pick the virtual one.
#define WEBVIEW2_IUNKNOWN_METHOD(I, M, SLOT, RET, PARAMS, ABI)                                     \
  methods.push_back([] {                                                                           \
    using Member = RET(STDMETHODCALLTYPE IUnknown::*) PARAMS;                                      \
    const Member member = static_cast<Member>(&I::M);                                              \
    return MethodRecord{#I, #M, SLOT, ABI, true, VtableSlot(member), true, AbiOf<Member>::Text()}; \
  }());

#define WEBVIEW2_ENUM(E) enumSizes.push_back({#E, sizeof(E)});

#define WEBVIEW2_ENUM_VALUE(E, N, V)                                                          \
  enumValues.push_back({#E, #N, static_cast<std::uint32_t>(V), static_cast<std::uint32_t>(N), \
                        std::is_same_v<decltype(N), E>});

#define WEBVIEW2_STRUCT(S, SIZE) structSizes.push_back({#S, sizeof(S), SIZE});

#define WEBVIEW2_STRUCT_FIELD(S, F, OFFSET, TYPE) \
  structFields.push_back({#S "." #F, offsetof(S, F), OFFSET, std::is_same_v<decltype(S::F), TYPE>});

#define WEBVIEW2_LOADER_FUNCTION(NAME, RET, PARAMS, ABI) \
  loaderFunctions.push_back(                             \
      {#NAME, std::is_same_v<PFN_##NAME, RET(STDAPICALLTYPE*) PARAMS>, AbiOf<PFN_##NAME>::Text(), ABI});

struct StructSize {
  const char* name;
  std::size_t size;
  std::size_t expected;
};

struct StructField {
  const char* name;
  std::size_t offset;
  std::size_t expected;
  bool documentedType;
};

struct LoaderFunction {
  const char* name;
  bool documentedType;
  std::string abi;
  const char* expectedAbi;
};

struct Table {
  std::vector<InterfaceRecord> interfaces;
  std::vector<MethodRecord> methods;
  std::vector<std::pair<const char*, std::size_t>> enumSizes;
  std::vector<EnumValueRecord> enumValues;
  std::vector<StructSize> structSizes;
  std::vector<StructField> structFields;
  std::vector<LoaderFunction> loaderFunctions;

  Table() {
#include "webview2_abi_expected.inc"
  }
};

const Table& Expected() {
  static const Table table;
  return table;
}

// ---- Checks ----

TEST(WebView2Abi, EveryInterfaceHasItsIidBaseAndSlotCount) {
  const auto& interfaces = Expected().interfaces;
  EXPECT_GE(interfaces.size(), 60u) << "the expected table lost its interfaces";
  for (const auto& i : interfaces) {
    SCOPED_TRACE(i.name);
    EXPECT_EQ(i.iid, i.expectedIid);
    EXPECT_EQ(i.slots, i.expectedSlots) << "slots added or missing somewhere in the chain";
    EXPECT_TRUE(i.derivesFromBase) << "does not derive from " << i.base;
    EXPECT_TRUE(i.onlyAVtablePointer) << "an interface must hold nothing but its vtable pointer";
    EXPECT_FALSE(i.virtualDestructor) << "a virtual destructor adds slots";
  }
}

TEST(WebView2Abi, EveryMethodSitsInItsSlotWithItsSignature) {
  const auto& methods = Expected().methods;
  EXPECT_GE(methods.size(), 400u) << "the expected table lost its methods";
  for (const auto& m : methods) {
    SCOPED_TRACE(std::string(m.interfaceName) + "::" + m.method);
    ASSERT_TRUE(m.declared) << "not declared (or overloaded)";
    EXPECT_EQ(m.slot, m.expectedSlot);
    EXPECT_TRUE(m.documentedSignature) << "return or parameter types differ from the facts";
    EXPECT_EQ(m.abi, m.expectedAbi);
  }
}

TEST(WebView2Abi, EnumsAreFourBytesWithTheirValues) {
  const Table& t = Expected();
  EXPECT_GE(t.enumSizes.size(), 7u);
  for (const auto& [name, size] : t.enumSizes)
    EXPECT_EQ(size, 4u) << name;
  EXPECT_GE(t.enumValues.size(), 60u);
  for (const auto& v : t.enumValues) {
    SCOPED_TRACE(v.enumerator);
    EXPECT_EQ(v.actual, v.expected);
    EXPECT_TRUE(v.ofThatEnum) << "not an enumerator of " << v.enumName;
  }
  // Flag enums combine without leaving their type.
  constexpr auto printAndSave = COREWEBVIEW2_PDF_TOOLBAR_ITEMS_PRINT | COREWEBVIEW2_PDF_TOOLBAR_ITEMS_SAVE;
  static_assert(std::is_same_v<decltype(printAndSave), const COREWEBVIEW2_PDF_TOOLBAR_ITEMS>);
  EXPECT_EQ(static_cast<int>(printAndSave), 3);
  EXPECT_EQ(static_cast<std::uint32_t>(COREWEBVIEW2_WEB_RESOURCE_REQUEST_SOURCE_KINDS_ALL &
                                       COREWEBVIEW2_WEB_RESOURCE_REQUEST_SOURCE_KINDS_SERVICE_WORKER),
            4u);
}

TEST(WebView2Abi, StructsAndLoaderEntryPointsMatch) {
  const Table& t = Expected();
  ASSERT_FALSE(t.structSizes.empty());
  for (const auto& s : t.structSizes)
    EXPECT_EQ(s.size, s.expected) << s.name;
  ASSERT_FALSE(t.structFields.empty());
  for (const auto& f : t.structFields) {
    EXPECT_EQ(f.offset, f.expected) << f.name;
    EXPECT_TRUE(f.documentedType) << f.name;
  }
  ASSERT_EQ(t.loaderFunctions.size(), 2u);
  for (const auto& f : t.loaderFunctions) {
    EXPECT_TRUE(f.documentedType) << f.name;
    EXPECT_EQ(f.abi, f.expectedAbi) << f.name;
  }
}

// ---- A real call through the declarations reaches the documented slot ----

// Every entry of the stand-in vtable records its own index and ignores its arguments, which is
// safe for any signature under the Windows x64 convention (the caller owns the stack).
int g_calledSlot = -1;

template <int kSlot>
HRESULT STDMETHODCALLTYPE RecordSlot() {
  g_calledSlot = kSlot;
  return S_OK;
}

template <int... kSlots>
constexpr auto MakeVtable(std::integer_sequence<int, kSlots...>) {
  using Entry = HRESULT(STDMETHODCALLTYPE*)();
  return std::array<Entry, sizeof...(kSlots)>{&RecordSlot<kSlots>...};
}

template <typename Interface>
struct StandIn {
  const void* vtable;
  Interface* get() { return reinterpret_cast<Interface*>(this); }
};

template <typename Interface, std::size_t kSlots>
int SlotCalledBy(const std::array<HRESULT(STDMETHODCALLTYPE*)(), kSlots>& vtable, void (*call)(Interface*)) {
  StandIn<Interface> object{vtable.data()};
  g_calledSlot = -1;
  call(object.get());
  return g_calledSlot;
}

TEST(WebView2Abi, CallsThroughTheDeclarationsReachTheDocumentedSlots) {
  static constexpr auto vtable = MakeVtable(std::make_integer_sequence<int, 125>());
  struct Case {
    const char* what;
    int slot;
    int expected;
  };
  const Case cases[] = {
      {"ICoreWebView2_22::AddWebResourceRequestedFilterWithRequestSourceKinds",
       SlotCalledBy<ICoreWebView2_22>(vtable,
                                      [](ICoreWebView2_22* v) {
                                        v->AddWebResourceRequestedFilterWithRequestSourceKinds(
                                            L"*", COREWEBVIEW2_WEB_RESOURCE_CONTEXT_ALL,
                                            COREWEBVIEW2_WEB_RESOURCE_REQUEST_SOURCE_KINDS_ALL);
                                      }),
       123},
      {"ICoreWebView2_16::Print",
       SlotCalledBy<ICoreWebView2_16>(vtable, [](ICoreWebView2_16* v) { v->Print(nullptr, nullptr); }), 113},
      {"ICoreWebView2_2::NavigateWithWebResourceRequest",
       SlotCalledBy<ICoreWebView2_2>(vtable,
                                     [](ICoreWebView2_2* v) { v->NavigateWithWebResourceRequest(nullptr); }),
       63},
      {"ICoreWebView2::add_WebResourceRequested",
       SlotCalledBy<ICoreWebView2>(vtable,
                                   [](ICoreWebView2* v) {
                                     EventRegistrationToken token{};
                                     v->add_WebResourceRequested(nullptr, &token);
                                   }),
       55},
      {"ICoreWebView2Controller4::put_AllowExternalDrop",
       SlotCalledBy<ICoreWebView2Controller4>(
           vtable, [](ICoreWebView2Controller4* c) { c->put_AllowExternalDrop(FALSE); }),
       37},
      {"ICoreWebView2Controller::put_Bounds",
       SlotCalledBy<ICoreWebView2Controller>(vtable,
                                             [](ICoreWebView2Controller* c) {
                                               c->put_Bounds(RECT{0, 0, 8, 8});
                                             }),
       6},
      {"ICoreWebView2Controller2::put_DefaultBackgroundColor",
       SlotCalledBy<ICoreWebView2Controller2>(vtable,
                                              [](ICoreWebView2Controller2* c) {
                                                c->put_DefaultBackgroundColor({255, 0x12, 0x12, 0x12});
                                              }),
       27},
      {"ICoreWebView2Settings7::put_HiddenPdfToolbarItems",
       SlotCalledBy<ICoreWebView2Settings7>(vtable,
                                            [](ICoreWebView2Settings7* s) {
                                              s->put_HiddenPdfToolbarItems(
                                                  COREWEBVIEW2_PDF_TOOLBAR_ITEMS_NONE);
                                            }),
       34},
      {"ICoreWebView2PrintSettings2::put_PrinterName",
       SlotCalledBy<ICoreWebView2PrintSettings2>(
           vtable, [](ICoreWebView2PrintSettings2* s) { s->put_PrinterName(L"P"); }),
       44},
      {"ICoreWebView2Environment6::CreatePrintSettings",
       SlotCalledBy<ICoreWebView2Environment6>(
           vtable, [](ICoreWebView2Environment6* e) { e->CreatePrintSettings(nullptr); }),
       14},
      {"ICoreWebView2Environment5::remove_BrowserProcessExited",
       SlotCalledBy<ICoreWebView2Environment5>(
           vtable,
           [](ICoreWebView2Environment5* e) { e->remove_BrowserProcessExited(EventRegistrationToken{}); }),
       13},
      {"ICoreWebView2Environment::Release",
       SlotCalledBy<ICoreWebView2Environment>(vtable, [](ICoreWebView2Environment* e) { e->Release(); }), 2},
  };
  for (const Case& c : cases)
    EXPECT_EQ(c.slot, c.expected) << c.what;
}

}  // namespace
