// Fuzzes the mappings of the server's answers: the pin list, the content record and the server
// message. Two kinds of input, picked by the last byte:
//  - any body: nothing crashes, and what is read survives being written back and read again
//    (pins with "sha256/" put in front of them, the content record unwrapped);
//  - documents built from the fuzz data, with every member of every JSON type, compared with a
//    model of the mapping: which entries and pins are kept, which field types fail the whole
//    record, the defaults of absent or null members, the 32-bit script number.
#include <fuzzer/FuzzedDataProvider.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "config/config.h"
#include "net/server_api.h"
#include "text/text.h"

namespace {

using Json = nlohmann::json;

constexpr std::size_t kMaxInput = 4096;
const std::string kPinPrefix = "sha256/";

void Check(bool condition) {
  if (!condition)
    std::abort();
}

std::string ValidUtf8(const std::string& bytes) {
  return Utf16ToUtf8(Utf8ToUtf16(bytes));
}

bool SameContent(const ContentData& a, const ContentData& b) {
  return a.type == b.type && a.url == b.url && a.videoUrl == b.videoUrl &&
         a.watermarkText == b.watermarkText && a.scriptId == b.scriptId;
}

bool SameEntries(const std::vector<PinEntry>& a, const std::vector<PinEntry>& b) {
  if (a.size() != b.size())
    return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (a[i].scope != b[i].scope || a[i].pins != b[i].pins)
      return false;
  }
  return true;
}

// --- any body -----------------------------------------------------------------------------------

void AnyBody(const std::string& body) {
  if (const auto entries = ParsePinList(body)) {
    Json again = Json::array();
    for (const PinEntry& entry : *entries) {
      Check(!entry.pins.empty());
      Json pins = Json::array();
      for (const std::string& pin : entry.pins)
        pins.push_back(pin.empty() ? pin : kPinPrefix + pin);
      again.push_back({{"scope", Utf16ToUtf8(entry.scope)}, {"pins", pins}});
    }
    const auto reread = ParsePinList(again.dump());
    Check(reread && SameEntries(*reread, *entries));
  }

  if (const auto content = ParseContentData(body)) {
    const Json again = {{config::ContentTypeKey(), content->type},
                        {config::ContentUrlKey(), content->url},
                        {config::ContentVideoUrlKey(), content->videoUrl},
                        {config::ContentWatermarkKey(), content->watermarkText},
                        {config::ContentScriptIdKey(), content->scriptId}};
    const auto reread = ParseContentData(again.dump());
    Check(reread && SameContent(*reread, *content));
  }

  if (const auto message = ParseServerMessage(body))
    Check(ParseServerMessage(Json{{"message", *message}}.dump()) == message);
}

// --- built documents ----------------------------------------------------------------------------

enum class Kind { kAbsent, kNull, kString, kInteger, kUnsigned, kFloat, kBool, kArray, kObject };

struct Value {
  Kind kind = Kind::kAbsent;
  Json json;
};

Value MakeValue(FuzzedDataProvider& provider, std::size_t textLength) {
  Value value;
  value.kind = static_cast<Kind>(provider.ConsumeIntegralInRange<int>(0, 8));
  switch (value.kind) {
    case Kind::kAbsent:
      break;
    case Kind::kNull:
      value.json = nullptr;
      break;
    case Kind::kString:
      value.json = ValidUtf8(provider.ConsumeRandomLengthString(textLength));
      break;
    case Kind::kInteger:
      value.json = provider.ConsumeIntegral<std::int64_t>();
      break;
    case Kind::kUnsigned:
      value.json = provider.ConsumeIntegral<std::uint64_t>();
      break;
    case Kind::kFloat: {
      const double number = provider.ConsumeFloatingPoint<double>();
      value.json = std::isfinite(number) ? number : 0.5;  // JSON has no infinities
      break;
    }
    case Kind::kBool:
      value.json = provider.ConsumeBool();
      break;
    case Kind::kArray:
      value.json = Json::array({ValidUtf8(provider.ConsumeRandomLengthString(8))});
      break;
    case Kind::kObject:
      value.json = Json::object({{"x", 1}});
      break;
  }
  return value;
}

void Put(Json& object, const std::string& key, const Value& value) {
  if (value.kind != Kind::kAbsent)
    object[key] = value.json;
}

// A text field: false when its type fails the record; otherwise `target` as the player fills it.
bool ModelText(const Value& value, std::string& target) {
  if (value.kind == Kind::kAbsent || value.kind == Kind::kNull)
    return true;
  if (value.kind != Kind::kString)
    return false;
  target = value.json.get<std::string>();
  return true;
}

std::int32_t Clamp(long double value) {
  constexpr long double kMin = std::numeric_limits<std::int32_t>::min();
  constexpr long double kMax = std::numeric_limits<std::int32_t>::max();
  return static_cast<std::int32_t>(value < kMin ? kMin : value > kMax ? kMax : value);
}

void BuiltContent(FuzzedDataProvider& provider) {
  const Value type = MakeValue(provider, 16), url = MakeValue(provider, 80), video = MakeValue(provider, 80);
  const Value mark = MakeValue(provider, 60), script = MakeValue(provider, 8);
  // 0: flat; 1: wrapped; 2: flat beside a wrapper key that is no object.
  const int layout = provider.ConsumeIntegralInRange<int>(0, 2);

  Json top = Json::object(), inner = Json::object();
  Json& record = layout == 1 ? inner : top;
  Put(record, config::ContentTypeKey(), type);
  Put(record, config::ContentUrlKey(), url);
  Put(record, config::ContentVideoUrlKey(), video);
  Put(record, config::ContentScriptIdKey(), script);
  Put(top, config::ContentWatermarkKey(), mark);  // the watermark is read from the top level only
  if (layout == 1) {
    top[config::ContentWrapperKey()] = inner;
    if (provider.ConsumeBool())
      top[config::ContentTypeKey()] = 12;  // beside a wrapper, top-level fields are not read
  } else if (layout == 2) {
    top[config::ContentWrapperKey()] = ValidUtf8(provider.ConsumeRandomLengthString(8));
  }

  ContentData expected;
  bool valid = ModelText(type, expected.type) && ModelText(url, expected.url) &&
               ModelText(video, expected.videoUrl) && ModelText(mark, expected.watermarkText);
  switch (script.kind) {
    case Kind::kAbsent:
    case Kind::kNull:
      break;
    case Kind::kBool:
      expected.scriptId = script.json.get<bool>() ? 1 : 0;
      break;
    case Kind::kInteger:
      expected.scriptId = Clamp(static_cast<long double>(script.json.get<std::int64_t>()));
      break;
    case Kind::kUnsigned:
      // nlohmann keeps values that fit a signed 64-bit integer as signed ones.
      expected.scriptId = Clamp(static_cast<long double>(script.json.get<std::uint64_t>()));
      break;
    case Kind::kFloat:
      expected.scriptId = Clamp(std::trunc(static_cast<long double>(script.json.get<double>())));
      break;
    default:
      valid = false;
      break;
  }

  const auto content = ParseContentData(top.dump());
  Check(content.has_value() == valid);
  if (content)
    Check(SameContent(*content, expected));
}

void BuiltPinList(FuzzedDataProvider& provider) {
  Json list = Json::array();
  std::vector<PinEntry> expected;
  bool valid = true;
  const int count = provider.ConsumeIntegralInRange<int>(0, 6);
  for (int i = 0; i < count; ++i) {
    const int shape = provider.ConsumeIntegralInRange<int>(0, 4);
    if (shape == 0) {  // not an object: skipped
      list.push_back(ValidUtf8(provider.ConsumeRandomLengthString(8)));
      continue;
    }
    Json item = Json::object();
    const Value scope = MakeValue(provider, 24);
    const bool hasPins = shape != 1;
    Put(item, "scope", scope);
    PinEntry entry;
    if (scope.kind == Kind::kString)
      entry.scope = Utf8ToUtf16(scope.json.get<std::string>());
    if (hasPins) {
      if (shape == 2) {  // pins that are not an array (null included): no pins
        Value pins = MakeValue(provider, 16);
        item["pins"] = pins.kind == Kind::kArray ? Json("not an array") : pins.json;
      } else {
        Json pins = Json::array();
        const int pinCount = provider.ConsumeIntegralInRange<int>(0, 4);
        for (int p = 0; p < pinCount; ++p) {
          if (provider.ConsumeBool()) {
            pins.push_back(provider.ConsumeIntegral<int>());  // not a string: skipped
            continue;
          }
          std::string pin = ValidUtf8(provider.ConsumeRandomLengthString(12));
          const int prefixes = provider.ConsumeIntegralInRange<int>(0, 2);
          std::string sent = pin;
          for (int k = 0; k < prefixes; ++k)
            sent = kPinPrefix + sent;
          pins.push_back(sent);
          // One "sha256/" comes off the front, unless nothing would be left.
          const bool prefixed =
              sent.size() > kPinPrefix.size() && sent.compare(0, kPinPrefix.size(), kPinPrefix) == 0;
          entry.pins.push_back(prefixed ? sent.substr(kPinPrefix.size()) : sent);
        }
        item["pins"] = pins;
      }
    }
    if (shape == 2)
      entry.pins.clear();
    list.push_back(item);
    if (scope.kind == Kind::kAbsent || !hasPins)
      continue;  // skipped
    if (scope.kind != Kind::kString)
      valid = false;  // a scope that is present (null included) but not a string fails the list
    else if (!entry.pins.empty())
      expected.push_back(entry);
  }
  const Json document = provider.ConsumeBool() ? list : Json{{"list", list}};
  const auto entries = ParsePinList(document.dump());
  Check(entries.has_value() == (valid && document.is_array()));
  if (entries)
    Check(SameEntries(*entries, expected));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > kMaxInput)
    return 0;
  FuzzedDataProvider provider(data, size);
  switch (provider.ConsumeIntegralInRange<int>(0, 2)) {
    case 0:
      AnyBody(provider.ConsumeRemainingBytesAsString());
      break;
    case 1:
      BuiltContent(provider);
      break;
    default:
      BuiltPinList(provider);
      break;
  }
  return 0;
}
