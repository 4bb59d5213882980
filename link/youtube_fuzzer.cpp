// Fuzzes the YouTube address rules: NormalizeYouTubeUrl never fails, and its result is the
// address unchanged, the embed address built from an id cut out of the address, or the
// address with an "origin" parameter added. IsYouTubeUrl and IsZoomUrl run on the same input.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "base/app_state.h"
#include "config/config.h"
#include "link/content.h"
#include "text/text.h"

namespace {

constexpr std::size_t kMaxInput = 4096;

void Check(bool condition) {
  if (!condition)
    std::abort();
}

bool StartsWith(const std::wstring& text, const std::wstring& prefix) {
  return text.rfind(prefix, 0) == 0;
}
bool EndsWith(const std::wstring& text, const std::wstring& suffix) {
  return text.size() >= suffix.size() &&
         text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// Address shapes the rules look for, so the fuzzer starts inside each branch.
std::wstring Shape(int which) {
  switch (which) {
    case 0:
      return L"https://" + config::YouTubeShortDomain() + L"/";
    case 1:
      return L"https://www." + config::YouTubeDomain() + L"/embed/";
    case 2:
      return L"https://www." + config::YouTubeDomain() + L"/shorts/";
    case 3:
      return L"https://www." + config::YouTubeDomain() + L"/live/";
    case 4:
      return L"https://www." + config::YouTubeDomain() + L"/watch?v=";
    case 5:
      return L"https://us02web." + config::ZoomDomain() + L"/j/";
    default:
      return L"";
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > kMaxInput)
    return 0;
  FuzzedDataProvider provider(data, size);
  std::wstring address = Shape(provider.ConsumeIntegralInRange<int>(0, 6));
  // Flip the case of some letters of the shape: the rules ignore case.
  for (wchar_t& c : address) {
    if (c >= L'a' && c <= L'z' && provider.ConsumeBool())
      c = static_cast<wchar_t>(c - 32);
  }
  GetAppState().platformDomain = Utf8ToUtf16(provider.ConsumeRandomLengthString(128));
  address += Utf8ToUtf16(provider.ConsumeRemainingBytesAsString());

  IsYouTubeUrl(address);
  IsZoomUrl(address);
  const std::wstring result = NormalizeYouTubeUrl(address);
  if (result == address)
    return 0;

  const std::wstring origin = L"origin=" + UrlEncode(GetAppState().platformDomain);
  const std::wstring prefix = config::YouTubeEmbedPrefix();
  if (result == address + L"?" + origin) {
    Check(ToLowerCopy(address).find(L"/embed/") != std::wstring::npos &&
          address.find(L'?') == std::wstring::npos);
    return 0;
  }
  if (result == address + L"&" + origin) {
    Check(ToLowerCopy(address).find(L"/embed/") != std::wstring::npos &&
          address.find(L'?') != std::wstring::npos);
    return 0;
  }
  // Otherwise the embed address of an id taken from the address itself.
  Check(StartsWith(result, prefix) && EndsWith(result, L"?" + origin));
  const std::wstring id = result.substr(prefix.size(), result.size() - prefix.size() - origin.size() - 1);
  Check(id.empty() || id.back() != L'/');
  Check(address.find(id) != std::wstring::npos);
  return 0;
}
