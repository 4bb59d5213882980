// The resources linked into the executable: icon group 101, splash image 102, the version block
// and the manifest, read back through the same calls Windows and the player use.
#include <windows.h>

#include <objbase.h>
#include <objidl.h>
#include <wrl/client.h>
// GDI+ needs the COM declarations above (IStream, PROPID).
#include <gdiplus.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "base/unique_handle_win.h"

namespace {

constexpr unsigned char kPngSignature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

std::string_view ResourceBytes(const wchar_t* type, int id) {
  HMODULE self = GetModuleHandleW(nullptr);
  HRSRC found = FindResourceW(self, MAKEINTRESOURCEW(id), type);
  if (found == nullptr)
    return {};
  HGLOBAL loaded = LoadResource(self, found);
  const void* bytes = loaded ? LockResource(loaded) : nullptr;
  if (bytes == nullptr)
    return {};
  return {static_cast<const char*>(bytes), SizeofResource(self, found)};
}

std::uint32_t BigEndian32(std::string_view bytes, std::size_t at) {
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data() + at);
  return std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 | p[3];
}

struct PngHeader {
  std::uint32_t width = 0, height = 0;
  int bitDepth = 0, colourType = 0;
};

// The IHDR of a PNG; all zero when the bytes are no PNG.
PngHeader ReadPngHeader(std::string_view png) {
  PngHeader header;
  if (png.size() < 33 || std::memcmp(png.data(), kPngSignature, 8) != 0 || png.substr(12, 4) != "IHDR") {
    return header;
  }
  header.width = BigEndian32(png, 16);
  header.height = BigEndian32(png, 20);
  header.bitDepth = static_cast<unsigned char>(png[24]);
  header.colourType = static_cast<unsigned char>(png[25]);
  return header;
}

#pragma pack(push, 2)
struct GroupIconHeader {
  WORD reserved, type, count;
};
struct GroupIconEntry {
  BYTE width, height, colourCount, reserved;
  WORD planes, bitCount;
  DWORD bytesInResource;
  WORD id;
};
#pragma pack(pop)

TEST(ResourcesTest, IconGroupHoldsSixPngImages) {
  const std::string_view group = ResourceBytes(RT_GROUP_ICON, 101);
  ASSERT_GE(group.size(), sizeof(GroupIconHeader));
  GroupIconHeader header;
  std::memcpy(&header, group.data(), sizeof header);
  EXPECT_EQ(header.type, 1);
  ASSERT_EQ(header.count, 6);
  ASSERT_EQ(group.size(), sizeof header + header.count * sizeof(GroupIconEntry));

  std::vector<std::uint32_t> sizes;
  for (int i = 0; i < header.count; ++i) {
    GroupIconEntry entry;
    std::memcpy(&entry, group.data() + sizeof header + i * sizeof entry, sizeof entry);
    const std::uint32_t size = entry.width == 0 ? 256 : entry.width;
    sizes.push_back(size);
    EXPECT_EQ(entry.bitCount, 32) << size;
    const std::string_view image = ResourceBytes(RT_ICON, entry.id);
    EXPECT_EQ(image.size(), entry.bytesInResource) << size;
    const PngHeader png = ReadPngHeader(image);
    EXPECT_EQ(png.width, size);
    EXPECT_EQ(png.height, size);
    EXPECT_EQ(png.colourType, 6) << "RGBA expected at " << size;
  }
  EXPECT_THAT(sizes, ::testing::ElementsAre(16, 32, 48, 64, 128, 256));

  // The system can make icons of them (the windows' class icon, the taskbar).
  for (int size : {16, 32, 256}) {
    HICON icon = static_cast<HICON>(LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(101), IMAGE_ICON,
                                               size, size, LR_DEFAULTCOLOR));
    ASSERT_NE(icon, nullptr) << size;
    ICONINFO info{};
    ASSERT_TRUE(GetIconInfo(icon, &info));
    base::UniqueGdiObject colour(info.hbmColor), mask(info.hbmMask);
    BITMAP bitmap{};
    ASSERT_TRUE(GetObjectW(colour.get(), sizeof bitmap, &bitmap));
    EXPECT_EQ(bitmap.bmWidth, size);
    DestroyIcon(icon);
  }
}

TEST(ResourcesTest, SplashImageIsA450PixelPngWithRealAlpha) {
  const std::string_view png = ResourceBytes(RT_RCDATA, 102);
  const PngHeader header = ReadPngHeader(png);
  EXPECT_EQ(header.width, 450u);
  EXPECT_EQ(header.height, 450u);
  EXPECT_EQ(header.bitDepth, 8);
  EXPECT_EQ(header.colourType, 6);

  // Decoded as the splash decodes it: transparent corners, an opaque middle and soft edges.
  Gdiplus::GdiplusStartupInput input;
  ULONG_PTR token = 0;
  ASSERT_EQ(Gdiplus::GdiplusStartup(&token, &input, nullptr), Gdiplus::Ok);
  {
    base::UniqueHGlobal memory(GlobalAlloc(GMEM_MOVEABLE, png.size()));
    ASSERT_TRUE(memory);
    std::memcpy(GlobalLock(memory.get()), png.data(), png.size());
    GlobalUnlock(memory.get());
    Microsoft::WRL::ComPtr<IStream> stream;
    ASSERT_TRUE(SUCCEEDED(CreateStreamOnHGlobal(memory.get(), TRUE, &stream)));
    memory.release();
    Gdiplus::Bitmap bitmap(stream.Get());
    ASSERT_EQ(bitmap.GetLastStatus(), Gdiplus::Ok);
    EXPECT_TRUE(Gdiplus::IsAlphaPixelFormat(bitmap.GetPixelFormat()));
    auto alphaAt = [&](int x, int y) {
      Gdiplus::Color colour;
      bitmap.GetPixel(x, y, &colour);
      return colour.GetA();
    };
    EXPECT_EQ(alphaAt(0, 0), 0);
    EXPECT_EQ(alphaAt(449, 449), 0);
    EXPECT_GT(alphaAt(225, 225), 240);
    int partial = 0;
    for (int x = 0; x < 450; ++x) {
      const int alpha = alphaAt(x, 225);
      if (alpha > 0 && alpha < 255)
        ++partial;
    }
    EXPECT_GE(partial, 4) << "edges should be anti-aliased with partial alpha";
  }
  Gdiplus::GdiplusShutdown(token);
}

std::wstring ThisExecutable() {
  wchar_t path[MAX_PATH] = {};
  return std::wstring(path, GetModuleFileNameW(nullptr, path, MAX_PATH));
}

TEST(ResourcesTest, VersionBlockNamesTheProduct) {
  const std::wstring self = ThisExecutable();
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(self.c_str(), &ignored);
  ASSERT_GT(size, 0u);
  std::vector<char> block(size);
  ASSERT_TRUE(GetFileVersionInfoW(self.c_str(), 0, size, block.data()));

  struct Translation {
    WORD language, codePage;
  }* translation = nullptr;
  UINT length = 0;
  ASSERT_TRUE(VerQueryValueW(block.data(), L"\\VarFileInfo\\Translation",
                             reinterpret_cast<void**>(&translation), &length));
  ASSERT_EQ(length, sizeof(Translation));
  EXPECT_EQ(translation->language, 0x0409);
  EXPECT_EQ(translation->codePage, 1200);

  const std::pair<const wchar_t*, const wchar_t*> strings[] = {
      {L"CompanyName", L"Nimbra (Talvo)"},  {L"FileDescription", L"Corvel"},
      {L"FileVersion", L"4.11.0.0"},        {L"InternalName", L"Corvel"},
      {L"OriginalFilename", L"corvel.exe"}, {L"ProductName", L"Corvel"},
      {L"ProductVersion", L"4.11.0.0"},
  };
  for (const auto& [name, expected] : strings) {
    wchar_t* value = nullptr;
    UINT characters = 0;
    const std::wstring query = std::wstring(L"\\StringFileInfo\\040904b0\\") + name;
    ASSERT_TRUE(VerQueryValueW(block.data(), query.c_str(), reinterpret_cast<void**>(&value), &characters))
        << static_cast<int>(query.size());
    EXPECT_EQ(std::wstring(value), expected);
  }

  VS_FIXEDFILEINFO* fixed = nullptr;
  ASSERT_TRUE(VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
  EXPECT_EQ(fixed->dwSignature, 0xFEEF04BDu);
  EXPECT_EQ(fixed->dwFileVersionMS, 0x0004000Bu);
  EXPECT_EQ(fixed->dwFileVersionLS, 0u);
  EXPECT_EQ(fixed->dwProductVersionMS, 0x0004000Bu);
  EXPECT_EQ(fixed->dwProductVersionLS, 0u);
  EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_APP));
}

BOOL CALLBACK CollectName(HMODULE, LPCWSTR, LPWSTR name, LONG_PTR names) {
  auto* list = reinterpret_cast<std::vector<ULONG_PTR>*>(names);
  list->push_back(IS_INTRESOURCE(name) ? reinterpret_cast<ULONG_PTR>(name) : ~ULONG_PTR{0});
  return TRUE;
}

// The invoker's rights, Windows 10 and 11, and per-monitor (v2) DPI awareness, which Windows
// applies to the process: its windows are drawn at the monitor's own resolution, not stretched.
TEST(ResourcesTest, ManifestAsksForTheInvokersRightsAndPerMonitorDpiAwareness) {
  std::vector<ULONG_PTR> names;
  EnumResourceNamesW(GetModuleHandleW(nullptr), RT_MANIFEST, CollectName, reinterpret_cast<LONG_PTR>(&names));
  EXPECT_THAT(names, ::testing::ElementsAre(1u));  // one manifest, the process manifest

  const std::string manifest(ResourceBytes(RT_MANIFEST, 1));
  EXPECT_THAT(manifest,
              ::testing::HasSubstr(R"(<requestedExecutionLevel level="asInvoker" uiAccess="false"/>)"));
  EXPECT_THAT(manifest,
              ::testing::HasSubstr(R"(<supportedOS Id="{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"/>)"));
  EXPECT_THAT(manifest, ::testing::Not(::testing::HasSubstr("dependency")));
  EXPECT_EQ(GetAwarenessFromDpiAwarenessContext(GetThreadDpiAwarenessContext()),
            DPI_AWARENESS_PER_MONITOR_AWARE);
}

}  // namespace
