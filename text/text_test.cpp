#include "text/text.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<unsigned char> Bytes(const std::string& s) { return {s.begin(), s.end()}; }
std::string Str(const std::vector<unsigned char>& v) { return {v.begin(), v.end()}; }

TEST(TextTest, UtfConversionsRoundTripAndReplaceInvalidInput) {
  EXPECT_EQ(Utf16ToUtf8(L""), "");
  EXPECT_EQ(Utf8ToUtf16(""), L"");
  // Mixed scripts survive both ways, embedded NULs included.
  const std::wstring mixed = std::wstring(L"Corvel \u0643\u0648\u062f \u00e9\u20ac") + L'\0' + L"x";
  const std::string utf8 = Utf16ToUtf8(mixed);
  EXPECT_EQ(utf8, std::string("Corvel \xd9\x83\xd9\x88\xd8\xaf \xc3\xa9\xe2\x82\xac") + '\0' + "x");
  EXPECT_EQ(Utf8ToUtf16(utf8), mixed);
  // A character outside the BMP (a surrogate pair in UTF-16, one unit in UTF-32).
  EXPECT_EQ(Utf16ToUtf8(Utf8ToUtf16("\xf0\x9f\x96\xa8")), "\xf0\x9f\x96\xa8");
  // A lone high surrogate becomes the three bytes of U+FFFD.
  EXPECT_EQ(Utf16ToUtf8(std::wstring(1, static_cast<wchar_t>(0xD800))), "\xef\xbf\xbd");
  // Malformed UTF-8 becomes U+FFFD and decoding goes on after it.
  struct Case { std::string in; std::wstring out; };
  const Case cases[] = {
      {"a\xff" "b", L"a\uFFFDb"},            // byte that never starts a sequence
      {"\xc3", L"\uFFFD"},                   // truncated at the end
      {"\xc0\xaf", L"\uFFFD\uFFFD"},         // overlong "/"
      {"\x80z", L"\uFFFDz"},                 // stray continuation byte
  };
  for (const Case& c : cases) EXPECT_EQ(Utf8ToUtf16(c.in), c.out) << c.in;
  // An encoded surrogate never comes out as a surrogate unit; how many U+FFFD replace it is the
  // converter's own business (the Windows converter and ours count differently).
  const std::wstring surrogate = Utf8ToUtf16("\xed\xa0\x80");
  ASSERT_FALSE(surrogate.empty());
  for (wchar_t c : surrogate) EXPECT_EQ(c, L'\uFFFD');
}

TEST(TextTest, HtmlEscapeTurnsMarkupCharactersIntoEntities) {
  EXPECT_EQ(HtmlEscape(L"a<b & \"c\" 'd'"), L"a&lt;b &amp; &quot;c&quot; &#39;d&#39;");
  EXPECT_EQ(HtmlEscape(L"line\nbreak \u0645"), L"line\nbreak \u0645");
  EXPECT_EQ(HtmlEscape(L"&amp;"), L"&amp;amp;");  // escaping is not idempotent on purpose
}

TEST(TextTest, JsStringEscapeCannotCloseAStringOrAScriptElement) {
  EXPECT_EQ(JsStringEscape(L"</script><script>alert(1)</script>"),
            L"\\x3C/script\\x3E\\x3Cscript\\x3Ealert(1)\\x3C/script\\x3E");
  EXPECT_EQ(JsStringEscape(L"a'b\"c\\d\ne\rf\tg"), L"a\\'b\\\"c\\\\d\\ne\\rf\tg");
  EXPECT_EQ(JsStringEscape(L"\u2028"), L"\u2028");
}

TEST(TextTest, UrlDecodeReadsPercentEscapesLikeAStream) {
  struct Case { std::wstring in; std::string outUtf8; };
  const Case cases[] = {
      {L"%41", "A"},
      {L"x%4", "x%4"},          // fewer than two characters left: kept
      {L"%", "%"},
      {L"%zz", "%zz"},          // no number: the "%" is kept, the rest copied
      {L"%4G", std::string(1, '\x04')},  // one digit read, both characters consumed
      {L"% 7", std::string(1, '\x07')},  // leading white space skipped
      {L"a+b", "a+b"},          // "+" is not a space here
      {L"%c3%a9", "\xc3\xa9"},  // escapes combine into UTF-8
      {L"%3A%2B", ":+"},
      {L"%%41", "%A"},          // the first "%" is kept, the second starts an escape
  };
  for (const Case& c : cases) EXPECT_EQ(Utf16ToUtf8(UrlDecode(c.in)), c.outUtf8) << Utf16ToUtf8(c.in);
  // A byte that is not valid UTF-8 on its own ends up as U+FFFD.
  EXPECT_EQ(UrlDecode(L"%ff"), L"\uFFFD");
}

TEST(TextTest, UrlEncodeKeepsOnlyUnreservedCharacters) {
  EXPECT_EQ(UrlEncode(L"a b/c"), L"a%20b%2fc");
  EXPECT_EQ(UrlEncode(L"\u00e9"), L"%c3%a9");
  EXPECT_EQ(UrlEncode(L"A-Z_a.z~0"), L"A-Z_a.z~0");
  EXPECT_EQ(UrlEncode(L"https://host:8443/p?q=1&r=+"), L"https%3a%2f%2fhost%3a8443%2fp%3fq%3d1%26r%3d%2b");
  // Encoding then decoding gives the original text back.
  const std::wstring original = L"t0k+n&x=y /\u0643";
  EXPECT_EQ(UrlDecode(UrlEncode(original)), original);
}

TEST(TextTest, Base64DecodeStopsAtPaddingOrForeignCharacters) {
  struct Case { std::string in; std::string out; };
  const Case cases[] = {
      {"QUJD", "ABC"}, {"QUI=", "AB"}, {"QQ", "A"}, {"Q", ""}, {"", ""},
      {"QUJD\nREVG", "ABC"},      // a line break ends the text
      {"QUJDREVG", "ABCDEF"},
      {"QU=JD", "A"},             // everything after "=" is ignored
      {"-_-_", ""},               // the URL-safe alphabet is not accepted
      {"YWJj/+8=", std::string("abc\xff\xef", 5)},
  };
  for (const Case& c : cases) EXPECT_EQ(Str(Base64Decode(c.in)), c.out) << c.in;
}

TEST(TextTest, Base64EncodePadsAndRoundTrips) {
  EXPECT_EQ(Base64Encode(Bytes("abc")), "YWJj");
  EXPECT_EQ(Base64Encode(Bytes("ab")), "YWI=");
  EXPECT_EQ(Base64Encode(Bytes("a")), "YQ==");
  EXPECT_EQ(Base64Encode(Bytes("")), "");
  std::vector<unsigned char> all;
  for (int i = 0; i < 256; ++i) all.push_back(static_cast<unsigned char>(i));
  for (size_t n = 0; n <= all.size(); n += 37) {
    std::vector<unsigned char> part(all.begin(), all.begin() + n);
    EXPECT_EQ(Base64Decode(Base64Encode(part)), part) << n;
  }
  EXPECT_EQ(Base64Encode(std::string("\x00\xff", 2)), "AP8=");
}

TEST(TextTest, HexEncodeIsLowerCaseAndZeroPadded) {
  EXPECT_EQ(HexEncode({0x00, 0x0f, 0xa0, 0xff}), "000fa0ff");
  EXPECT_EQ(HexEncode({}), "");
}

TEST(TextTest, ToLowerCopyChangesOnlyAsciiLetters) {
  EXPECT_EQ(ToLowerCopy(L"CorVEL:%41Z[@`{"), L"corvel:%41z[@`{");
  const std::wstring other = L"\u00c9\u0130\u0645";  // É, dotted I, Arabic: unchanged
  EXPECT_EQ(ToLowerCopy(other), other);
}

TEST(TextTest, SplitStringReadsDelimitedLines) {
  using V = std::vector<std::wstring>;
  EXPECT_EQ(SplitString(L"a::b", L':'), (V{L"a", L"", L"b"}));
  EXPECT_EQ(SplitString(L"a:b:", L':'), (V{L"a", L"b"}));
  EXPECT_EQ(SplitString(L":a", L':'), (V{L"", L"a"}));
  EXPECT_EQ(SplitString(L"", L':'), V{});
  EXPECT_EQ(SplitString(L":", L':'), V{L""});
  EXPECT_EQ(SplitString(L"abc", L':'), V{L"abc"});
  EXPECT_EQ(SplitString(L"a::", L':'), (V{L"a", L""}));
}

}  // namespace
