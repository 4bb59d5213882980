#include "net/server_api.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <nlohmann/json.hpp>
#include <string>

#include "config/config.h"
#include "text/text.h"

namespace {

using Json = nlohmann::json;

constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();
constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();

TEST(ServerApiTest, AddressesComeFromTheDomainOrTheBuiltInEndpoint) {
  EXPECT_EQ(BuildVersionUrl(L""), config::VersionUrl());
  EXPECT_EQ(BuildVersionUrl(L"//\\"), config::VersionUrl());
  EXPECT_EQ(BuildVersionUrl(L"school.test/"), L"https://school.test" + config::VersionPath());
  EXPECT_EQ(BuildVersionUrl(L"http://127.0.0.1:47480"), L"http://127.0.0.1:47480" + config::VersionPath());
  EXPECT_EQ(BuildContentUrl(L"school.test"), L"https://school.test" + config::ContentPath());
  EXPECT_EQ(BuildContentUrl(L""), config::ContentPath());  // no host: the client's split refuses it
}

// Catches a form that passes "+", "&", "=" or "%" through raw, so the server reads another token.
TEST(ServerApiTest, ContentFormPercentEncodesBothValues) {
  const std::string tokenField = config::FormTokenField();
  const std::string linkField = config::FormContentLinkField();
  struct Case {
    std::string token, id, encodedToken, encodedId;
  };
  const Case cases[] = {
      {"demo-token-2026", "lesson-page", "demo-token-2026", "lesson-page"},
      {"a+b&c=d%e", "id&x=1", "a%2Bb%26c%3Dd%25e", "id%26x%3D1"},
      {"sp ace/\xd9\x83", "~._-", "sp%20ace%2F%D9%83", "~._-"},
      {"", "", "", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(
        ToLowerCopy(WidenAscii(BuildContentForm(c.token, c.id))),
        ToLowerCopy(WidenAscii(tokenField + "=" + c.encodedToken + "&" + linkField + "=" + c.encodedId)))
        << c.token;
  }
}

// Catches dropping the whole list for one bad entry, keeping entries without pins, stripping
// "sha256/" when nothing would remain, or accepting a list that is not an array.
TEST(ServerApiTest, PinListKeepsUsableEntriesAndRejectsBadDocuments) {
  const std::string good = R"([
    {"scope": "localhost", "pins": ["sha256/AAAA", "BBBB", 7, null, "sha256/", "sha256/sha256/C"]},
    {"scope": "empty.test", "pins": []},
    {"scope": "notarray.test", "pins": "sha256/DDDD"},
    {"scope": "missing.test"},
    {"pins": ["EEEE"]},
    "not an object",
    {"scope": "Cdn.Platform.TEST", "pins": ["FFFF"], "extra": 1}
  ])";
  const std::optional<std::vector<PinEntry>> entries = ParsePinList(good);
  ASSERT_TRUE(entries.has_value());
  ASSERT_EQ(entries->size(), 2u);
  EXPECT_EQ((*entries)[0].scope, L"localhost");
  EXPECT_EQ((*entries)[0].pins, (std::vector<std::string>{"AAAA", "BBBB", "sha256/", "sha256/C"}));
  EXPECT_EQ((*entries)[1].scope, L"Cdn.Platform.TEST");
  EXPECT_EQ((*entries)[1].pins, std::vector<std::string>{"FFFF"});

  const char* rejected[] = {
      R"({"scope": "a", "pins": ["x"]})",
      R"([{"scope": 5, "pins": ["x"]}, {"scope": "b", "pins": ["y"]}])",
      R"([{"scope": null, "pins": ["x"]}])",
      "not json",
      "",
  };
  for (const char* body : rejected)
    EXPECT_FALSE(ParsePinList(body).has_value()) << body;
  EXPECT_EQ(ParsePinList("[]").value().size(), 0u);
}

TEST(ServerApiTest, UpdateComparesVersionsAsDecimalNumbers) {
  struct Case {
    std::string body;
    double current;
    bool hasUpdate, isRequired;
    std::wstring link;
  };
  const Case cases[] = {
      {R"({"version": 4.12, "is_required": 0, "link": "https://dl.test/c.exe"})", 4.11, true, false,
       L"https://dl.test/c.exe"},
      {R"({"version": "4.12", "is_required": "1"})", 4.11, true, true, L""},
      {R"({"version": "  4.9beta", "is_required": 1})", 4.11, true, true, L""},  // 4.9 is greater than 4.11
      {R"({"version": 4.11, "link": "https://dl.test/x"})", 4.11, false, false, L""},
      {R"({"version": 4.2, "is_required": 1})", 4.20, false, false, L""},
      {R"({"version": "v5", "is_required": 1})", 4.11, false, false, L""},
      {R"({"version": 5, "is_required": true})", 4.11, true, false, L""},
      {R"({"version": 5, "is_required": 1.7})", 4.11, true, true, L""},
      {R"({"version": 5, "is_required": 2})", 4.11, true, false, L""},
      {R"({"version": 5, "is_required": "01"})", 4.11, true, false, L""},
      {R"({"version": 5, "is_required": 1e300})", 4.11, true, false, L""},
      {R"({"version": 5, "is_required": -0.5})", 4.11, true, false, L""},
      {R"({"version": 5, "is_required": 18446744073709551615})", 4.11, true, false, L""},
      {R"({"version": 5, "link": 7})", 4.11, true, false, L""},
      {R"({"version": "1e999"})", 4.11, false, false, L""},
      {R"({"version": null})", 4.11, false, false, L""},
      {R"({"version": 5})", 3.0, true, false, L""},
      {R"([{"version": 5}])", 4.11, false, false, L""},
      {R"({"latest": 5})", 4.11, false, false, L""},
      {"not json", 4.11, false, false, L""},
  };
  for (const Case& c : cases) {
    const UpdateInfo info = ParseUpdateInfo(c.body, c.current);
    EXPECT_EQ(info.hasUpdate, c.hasUpdate) << c.body;
    EXPECT_EQ(info.isRequired, c.isRequired) << c.body;
    EXPECT_EQ(info.link, c.link) << c.body;
  }
}

TEST(ServerApiTest, ServerMessageOnlyFromAStringMember) {
  EXPECT_EQ(ParseServerMessage(R"({"message": "Your session has expired."})").value(),
            "Your session has expired.");
  EXPECT_FALSE(ParseServerMessage(R"({"message": 404})").has_value());
  EXPECT_FALSE(ParseServerMessage(R"(["message"])").has_value());
  EXPECT_FALSE(ParseServerMessage("").has_value());
}

// Catches reading the watermark from the wrapped object, treating null as a wrong type, or
// accepting wrongly typed fields.
TEST(ServerApiTest, ContentRecordFollowsWrapperDefaultsAndTypes) {
  const std::string wrap = config::ContentWrapperKey();
  const std::string type = config::ContentTypeKey();
  const std::string url = config::ContentUrlKey();
  const std::string video = config::ContentVideoUrlKey();
  const std::string mark = config::ContentWatermarkKey();
  const std::string script = config::ContentScriptIdKey();

  const Json inner = {{type, "pdf"},
                      {url, "https://files.test/a.pdf"},
                      {video, "https://youtu.be/x"},
                      {script, 9},
                      {mark, "inner mark"}};
  struct Case {
    std::string body;
    bool ok;
    std::string type, url, videoUrl, watermark;
    std::int32_t scriptId;
  };
  const Case cases[] = {
      {Json{{wrap, inner}, {mark, "Student 42"}}.dump(), true, "pdf", "https://files.test/a.pdf",
       "https://youtu.be/x", "Student 42", 9},
      {Json{{wrap, inner}}.dump(), true, "pdf", "https://files.test/a.pdf", "https://youtu.be/x", "", 9},
      {inner.dump(), true, "pdf", "https://files.test/a.pdf", "https://youtu.be/x", "inner mark", 9},
      {Json{{wrap, "not an object"}, {type, "zoom"}}.dump(), true, "zoom", "", "", "", 1},
      {Json{{type, nullptr}, {url, nullptr}, {script, nullptr}, {mark, nullptr}}.dump(), true, "video", "",
       "", "", 1},
      {"[1, 2]", true, "video", "", "", "", 1},
      {"\"text\"", true, "video", "", "", "", 1},
      {"42", true, "video", "", "", "", 1},
      {Json{{type, 5}}.dump(), false, "", "", "", "", 0},
      {Json{{script, "7"}}.dump(), false, "", "", "", "", 0},
      {Json{{mark, false}}.dump(), false, "", "", "", "", 0},
      {Json{{wrap, Json{{url, Json::array()}}}}.dump(), false, "", "", "", "", 0},
      {"not json", false, "", "", "", "", 0},
  };
  for (const Case& c : cases) {
    const std::optional<ContentData> content = ParseContentData(c.body);
    ASSERT_EQ(content.has_value(), c.ok) << c.body;
    if (!content)
      continue;
    EXPECT_EQ(content->type, c.type) << c.body;
    EXPECT_EQ(content->url, c.url) << c.body;
    EXPECT_EQ(content->videoUrl, c.videoUrl) << c.body;
    EXPECT_EQ(content->watermarkText, c.watermark) << c.body;
    EXPECT_EQ(content->scriptId, c.scriptId) << c.body;
    EXPECT_TRUE(content->extras.empty());
  }
}

// Under the sanitizers a cast of an out-of-range double to int32 aborts: every number the JSON
// parser can produce must land in the range without one.
TEST(ServerApiTest, ScriptIdNeverOverflowsThirtyTwoBits) {
  const std::string script = config::ContentScriptIdKey();
  struct Case {
    const char* number;
    std::int32_t expected;
  };
  const Case cases[] = {
      {"2.9", 2},
      {"-2.9", -2},
      {"true", 1},
      {"false", 0},
      {"0", 0},
      {"2147483647", kMax},
      {"2147483648", kMax},
      {"-2147483648", kMin},
      {"-2147483649", kMin},
      {"9223372036854775807", kMax},
      {"18446744073709551615", kMax},
      {"-9223372036854775808", kMin},
      {"3e9", kMax},
      {"-3e9", kMin},
      {"2147483647.9", kMax},
      {"-2147483648.9", kMin},
  };
  for (const Case& c : cases) {
    const std::optional<ContentData> content = ParseContentData("{\"" + script + "\": " + c.number + "}");
    ASSERT_TRUE(content.has_value()) << c.number;
    EXPECT_EQ(content->scriptId, c.expected) << c.number;
  }
  EXPECT_EQ(ScriptIdFromNumber(std::nan("")), 1);
  EXPECT_EQ(ScriptIdFromNumber(std::numeric_limits<double>::infinity()), kMax);
  EXPECT_EQ(ScriptIdFromNumber(-std::numeric_limits<double>::infinity()), kMin);
  EXPECT_FALSE(IsRequiredNumber(std::nan("")));
  EXPECT_FALSE(IsRequiredNumber(std::numeric_limits<double>::infinity()));
  EXPECT_TRUE(IsRequiredNumber(1.0));
  EXPECT_TRUE(IsRequiredNumber(1.999));
  EXPECT_FALSE(IsRequiredNumber(0.999));
  EXPECT_FALSE(IsRequiredNumber(2.0));
}

}  // namespace
