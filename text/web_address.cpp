#include "text/web_address.h"

#include <cstdio>
#include <vector>

namespace {

bool IsAsciiAlpha(wchar_t c) {
  return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z');
}

bool IsAsciiDigit(wchar_t c) {
  return c >= L'0' && c <= L'9';
}

wchar_t AsciiLower(wchar_t c) {
  return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c;
}

int HexValue(wchar_t c) {
  if (IsAsciiDigit(c))
    return static_cast<int>(c - L'0');
  c = AsciiLower(c);
  if (c >= L'a' && c <= L'f')
    return static_cast<int>(c - L'a' + 10);
  return -1;
}

// Leading and trailing C0 controls and spaces go, tabs and line breaks anywhere.
std::wstring Preprocess(const std::wstring& address) {
  size_t begin = 0;
  size_t end = address.size();
  while (begin < end && static_cast<std::uint32_t>(address[begin]) <= 0x20)
    ++begin;
  while (end > begin && static_cast<std::uint32_t>(address[end - 1]) <= 0x20)
    --end;
  std::wstring text;
  text.reserve(end - begin);
  for (size_t i = begin; i < end; ++i) {
    const wchar_t c = address[i];
    if (c != L'\t' && c != L'\n' && c != L'\r')
      text.push_back(c);
  }
  return text;
}

std::vector<std::wstring> SplitDots(const std::wstring& text) {
  std::vector<std::wstring> parts;
  size_t start = 0;
  for (;;) {
    const size_t dot = text.find(L'.', start);
    parts.push_back(text.substr(start, dot == std::wstring::npos ? std::wstring::npos : dot - start));
    if (dot == std::wstring::npos)
      return parts;
    start = dot + 1;
  }
}

// One part of an IPv4 address: decimal, octal after "0", hexadecimal after "0x". Values beyond
// 2^32 are capped there (they fail the range check either way).
std::optional<std::uint64_t> Ipv4Number(std::wstring part) {
  if (part.empty())
    return std::nullopt;
  unsigned radix = 10;
  if (part.size() >= 2 && part[0] == L'0' && (part[1] == L'x' || part[1] == L'X')) {
    radix = 16;
    part.erase(0, 2);
  } else if (part.size() >= 2 && part[0] == L'0') {
    radix = 8;
    part.erase(0, 1);
  }
  std::uint64_t value = 0;
  for (wchar_t c : part) {
    const int digit = HexValue(c);
    if (digit < 0 || static_cast<unsigned>(digit) >= radix)
      return std::nullopt;
    value = value * radix + static_cast<unsigned>(digit);
    if (value > 0xFFFFFFFFull)
      value = 0x100000000ull;
  }
  return value;
}

// Whether the standard reads the host as an IPv4 address: its last label (a single trailing
// "." aside) is a number.
bool EndsInNumber(const std::wstring& host) {
  std::vector<std::wstring> parts = SplitDots(host);
  if (parts.back().empty()) {
    if (parts.size() == 1)
      return false;
    parts.pop_back();
  }
  const std::wstring& last = parts.back();
  if (last.empty())
    return false;
  bool digits = true;
  for (wchar_t c : last)
    digits = digits && IsAsciiDigit(c);
  return digits || (last.size() >= 2 && last[0] == L'0' && (last[1] == L'x' || last[1] == L'X') &&
                    Ipv4Number(last).has_value());
}

std::optional<std::wstring> ParseIpv4(const std::wstring& host) {
  std::vector<std::wstring> parts = SplitDots(host);
  if (parts.back().empty() && parts.size() > 1)
    parts.pop_back();
  if (parts.size() > 4)
    return std::nullopt;
  std::vector<std::uint64_t> numbers;
  for (const std::wstring& part : parts) {
    const std::optional<std::uint64_t> number = Ipv4Number(part);
    if (!number)
      return std::nullopt;
    numbers.push_back(*number);
  }
  for (size_t i = 0; i + 1 < numbers.size(); ++i) {
    if (numbers[i] > 255)
      return std::nullopt;
  }
  const std::uint64_t limit = 1ull << (8 * (5 - numbers.size()));
  if (numbers.back() >= limit)
    return std::nullopt;
  std::uint64_t address = numbers.back();
  for (size_t i = 0; i + 1 < numbers.size(); ++i)
    address += numbers[i] << (8 * (3 - i));
  wchar_t text[16];
  std::swprintf(text, 16, L"%u.%u.%u.%u", static_cast<unsigned>((address >> 24) & 0xFF),
                static_cast<unsigned>((address >> 16) & 0xFF), static_cast<unsigned>((address >> 8) & 0xFF),
                static_cast<unsigned>(address & 0xFF));
  return std::wstring(text);
}

std::wstring SerializeIpv6(const std::array<std::uint8_t, 16>& bytes) {
  std::uint16_t pieces[8];
  for (int i = 0; i < 8; ++i)
    pieces[i] = static_cast<std::uint16_t>((bytes[2 * i] << 8) | bytes[2 * i + 1]);
  // The first longest run of two or more zero pieces is written "::".
  int bestStart = -1;
  int bestLength = 1;
  for (int i = 0; i < 8;) {
    if (pieces[i] != 0) {
      ++i;
      continue;
    }
    int j = i;
    while (j < 8 && pieces[j] == 0)
      ++j;
    if (j - i > bestLength) {
      bestStart = i;
      bestLength = j - i;
    }
    i = j;
  }
  std::wstring text = L"[";
  for (int i = 0; i < 8; ++i) {
    if (i == bestStart) {
      text += i == 0 ? L"::" : L":";
      i += bestLength - 1;
      continue;
    }
    wchar_t piece[8];
    std::swprintf(piece, 8, L"%x", static_cast<unsigned>(pieces[i]));
    text += piece;
    if (i != 7)
      text += L":";
  }
  return text + L"]";
}

// The authority's host and port; the scheme's default port when none is written.
struct Authority {
  std::wstring host;
  std::uint16_t port = 0;
  bool hasUserInfo = false;
};

std::optional<Authority> ParseAuthority(const std::wstring& authority, std::uint16_t defaultPort) {
  Authority result;
  std::wstring hostAndPort = authority;
  const size_t at = authority.rfind(L'@');
  if (at != std::wstring::npos) {
    result.hasUserInfo = true;
    hostAndPort = authority.substr(at + 1);
    if (hostAndPort.empty())
      return std::nullopt;
  }
  // The host ends at the first ":" outside brackets.
  size_t colon = std::wstring::npos;
  bool inBrackets = false;
  for (size_t i = 0; i < hostAndPort.size(); ++i) {
    const wchar_t c = hostAndPort[i];
    if (c == L'[') {
      inBrackets = true;
    } else if (c == L']') {
      inBrackets = false;
    } else if (c == L':' && !inBrackets) {
      colon = i;
      break;
    }
  }
  const std::wstring host = hostAndPort.substr(0, colon);
  const std::optional<std::wstring> canonical = CanonicalHost(host);
  if (!canonical)
    return std::nullopt;
  result.host = *canonical;
  result.port = defaultPort;
  if (colon != std::wstring::npos) {
    const std::wstring port = hostAndPort.substr(colon + 1);
    if (!port.empty()) {
      std::uint32_t value = 0;
      for (wchar_t c : port) {
        if (!IsAsciiDigit(c))
          return std::nullopt;
        value = value * 10 + static_cast<std::uint32_t>(c - L'0');
        if (value > 65535)
          return std::nullopt;
      }
      result.port = static_cast<std::uint16_t>(value);
    }
  }
  return result;
}

}  // namespace

std::optional<std::array<std::uint8_t, 16>> ParseIpv6(const std::wstring& input) {
  std::uint16_t pieces[8] = {};
  int pieceIndex = 0;
  int compress = -1;
  size_t pointer = 0;
  const size_t size = input.size();
  auto at = [&](size_t i) { return i < size ? input[i] : L'\0'; };
  if (at(pointer) == L':') {
    if (at(pointer + 1) != L':')
      return std::nullopt;
    pointer += 2;
    compress = ++pieceIndex;
  }
  while (pointer < size) {
    if (pieceIndex == 8)
      return std::nullopt;
    if (input[pointer] == L':') {
      if (compress != -1)
        return std::nullopt;
      ++pointer;
      compress = ++pieceIndex;
      continue;
    }
    unsigned value = 0;
    int length = 0;
    while (length < 4 && pointer < size && HexValue(input[pointer]) >= 0) {
      value = value * 16 + static_cast<unsigned>(HexValue(input[pointer]));
      ++pointer;
      ++length;
    }
    if (at(pointer) == L'.') {
      // An IPv4 address in the last 32 bits.
      if (length == 0)
        return std::nullopt;
      pointer -= static_cast<size_t>(length);
      if (pieceIndex > 6)
        return std::nullopt;
      int numbersSeen = 0;
      while (pointer < size) {
        int ipv4Piece = -1;
        if (numbersSeen > 0) {
          if (input[pointer] == L'.' && numbersSeen < 4)
            ++pointer;
          else
            return std::nullopt;
        }
        if (!IsAsciiDigit(at(pointer)))
          return std::nullopt;
        while (IsAsciiDigit(at(pointer))) {
          const int number = static_cast<int>(input[pointer] - L'0');
          if (ipv4Piece == -1)
            ipv4Piece = number;
          else if (ipv4Piece == 0)
            return std::nullopt;
          else
            ipv4Piece = ipv4Piece * 10 + number;
          if (ipv4Piece > 255)
            return std::nullopt;
          ++pointer;
        }
        pieces[pieceIndex] = static_cast<std::uint16_t>(pieces[pieceIndex] * 0x100 + ipv4Piece);
        ++numbersSeen;
        if (numbersSeen == 2 || numbersSeen == 4)
          ++pieceIndex;
      }
      if (numbersSeen != 4)
        return std::nullopt;
      break;
    }
    if (at(pointer) == L':') {
      ++pointer;
      if (pointer >= size)
        return std::nullopt;
    } else if (pointer < size) {
      return std::nullopt;
    }
    pieces[pieceIndex] = static_cast<std::uint16_t>(value);
    ++pieceIndex;
  }
  if (compress != -1) {
    int swaps = pieceIndex - compress;
    pieceIndex = 7;
    while (pieceIndex != 0 && swaps > 0) {
      const std::uint16_t moved = pieces[compress + swaps - 1];
      pieces[compress + swaps - 1] = pieces[pieceIndex];
      pieces[pieceIndex] = moved;
      --pieceIndex;
      --swaps;
    }
  } else if (pieceIndex != 8) {
    return std::nullopt;
  }
  std::array<std::uint8_t, 16> bytes{};
  for (int i = 0; i < 8; ++i) {
    bytes[2 * i] = static_cast<std::uint8_t>(pieces[i] >> 8);
    bytes[2 * i + 1] = static_cast<std::uint8_t>(pieces[i] & 0xFF);
  }
  return bytes;
}

std::optional<std::wstring> CanonicalHost(const std::wstring& host) {
  if (host.empty())
    return std::nullopt;
  if (host.front() == L'[') {
    if (host.size() < 2 || host.back() != L']')
      return std::nullopt;
    const std::optional<std::array<std::uint8_t, 16>> bytes = ParseIpv6(host.substr(1, host.size() - 2));
    if (!bytes)
      return std::nullopt;
    return SerializeIpv6(*bytes);
  }
  std::wstring lower;
  lower.reserve(host.size());
  for (wchar_t c : host) {
    const wchar_t l = AsciiLower(c);
    if (!IsAsciiAlpha(l) && !IsAsciiDigit(l) && l != L'-' && l != L'_' && l != L'.')
      return std::nullopt;
    lower.push_back(l);
  }
  if (EndsInNumber(lower))
    return ParseIpv4(lower);
  return lower;
}

std::optional<WebAddress> ParseWebAddress(const std::wstring& address) {
  const std::wstring text = Preprocess(address);
  const size_t colon = text.find(L':');
  if (colon == std::wstring::npos || colon == 0 || !IsAsciiAlpha(text[0]))
    return std::nullopt;
  std::wstring scheme;
  for (size_t i = 0; i < colon; ++i)
    scheme.push_back(AsciiLower(text[i]));
  std::uint16_t defaultPort = 0;
  if (scheme == L"http")
    defaultPort = 80;
  else if (scheme == L"https")
    defaultPort = 443;
  else
    return std::nullopt;

  // Any run of "/" and "\" after the scheme leads to the authority, which ends at the next
  // "/", "\", "?" or "#".
  size_t start = colon + 1;
  while (start < text.size() && (text[start] == L'/' || text[start] == L'\\'))
    ++start;
  const size_t end = text.find_first_of(L"/\\?#", start);
  const std::optional<Authority> authority = ParseAuthority(
      text.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start), defaultPort);
  if (!authority)
    return std::nullopt;
  WebAddress result;
  result.scheme = scheme;
  result.host = authority->host;
  result.port = authority->port;
  result.hasUserInfo = authority->hasUserInfo;
  if (end != std::wstring::npos)
    result.rest = text.substr(end);
  return result;
}

std::optional<WebAddress> ParseWebOrBlobAddress(const std::wstring& address) {
  std::wstring scheme;
  for (size_t i = 0; i < address.size() && i < 5; ++i)
    scheme.push_back(AsciiLower(address[i]));
  const bool blob = scheme == L"blob:";
  return ParseWebAddress(blob ? address.substr(5) : address);
}

bool IsIpAddressHost(const std::wstring& canonicalHost) {
  if (canonicalHost.empty())
    return false;
  if (canonicalHost.front() == L'[')
    return true;
  return EndsInNumber(canonicalHost);
}

bool HostIsOrIsUnder(const std::wstring& host, const std::wstring& domain) {
  if (domain.empty())
    return false;
  std::wstring name = host;
  if (name.size() > 1 && name.back() == L'.')
    name.pop_back();
  if (name == domain)
    return true;
  return name.size() > domain.size() + 1 && name[name.size() - domain.size() - 1] == L'.' &&
         name.compare(name.size() - domain.size(), domain.size(), domain) == 0;
}
