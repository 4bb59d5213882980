#include "webview/public_suffix.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "text/text.h"
#include "text/web_address.h"

namespace {

const char* const kRules[] = {
#include "public_suffix_rules.inc"
};

// The table keeps each byte with its high bit set (cmake/gen_public_suffix.py); rules and hosts
// are ASCII, so the change keeps the order.
bool HasRule(const std::string& rule) {
  std::string stored = rule;
  for (char& c : stored)
    c = static_cast<char>(static_cast<unsigned char>(c) | 0x80);
  const auto less = [](const char* a, const std::string& b) { return std::strcmp(a, b.c_str()) < 0; };
  const char* const* found = std::lower_bound(std::begin(kRules), std::end(kRules), stored, less);
  return found != std::end(kRules) && stored == *found;
}

std::vector<std::string> Labels(const std::string& host) {
  std::vector<std::string> labels;
  size_t start = 0;
  for (;;) {
    const size_t dot = host.find('.', start);
    labels.push_back(host.substr(start, dot == std::string::npos ? std::string::npos : dot - start));
    if (dot == std::string::npos)
      return labels;
    start = dot + 1;
  }
}

std::string Join(const std::vector<std::string>& labels, size_t from) {
  std::string text;
  for (size_t i = from; i < labels.size(); ++i)
    text += (i == from ? "" : ".") + labels[i];
  return text;
}

}  // namespace

std::wstring RegistrableDomain(const std::wstring& host) {
  std::wstring name = host;
  if (name.size() > 1 && name.back() == L'.')
    name.pop_back();
  if (name.empty() || IsIpAddressHost(name))
    return {};
  const std::vector<std::string> labels = Labels(Utf16ToUtf8(name));
  if (std::any_of(labels.begin(), labels.end(), [](const std::string& l) { return l.empty(); }))
    return {};

  // The public suffix starts at the label where the longest rule matches: an exception rule
  // ("!www.ck") ends the suffix one label to its right, a wildcard ("*.ck") covers any label,
  // and without any rule the last label alone is the suffix.
  size_t suffixStart = labels.size() - 1;
  for (size_t i = 0; i < labels.size(); ++i) {
    const std::string candidate = Join(labels, i);
    if (HasRule("!" + candidate)) {
      suffixStart = i + 1;
      break;
    }
    if (HasRule(candidate) || (i + 1 < labels.size() && HasRule("*." + Join(labels, i + 1)))) {
      suffixStart = i;
      break;
    }
  }
  if (suffixStart == 0)
    return {};
  return Utf8ToUtf16(Join(labels, suffixStart - 1));
}
