#include "webview/preparation.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "config/config.h"
#include "link/page_composer.h"
#include "text/text.h"
#include "webview/scripts.h"

namespace {

using Kind = ViewStep::Kind;

LinkContent Content(std::wstring kind,
                    std::wstring url,
                    std::wstring watermark = L"",
                    std::wstring pageScript = L"") {
  LinkContent content;
  content.contentKind = std::move(kind);
  content.contentUrl = std::move(url);
  content.watermarkText = std::move(watermark);
  content.pageScript = std::move(pageScript);
  return content;
}

std::vector<ViewStep> Expected(std::vector<ViewStep> middle) {
  std::vector<ViewStep> steps = {{Kind::kConfigureSettings, L""},
                                 {Kind::kAddDocumentScript, LoaderScript()},
                                 {Kind::kAddDocumentScript, PrintBlockScript()}};
  steps.insert(steps.end(), middle.begin(), middle.end());
  steps.push_back({Kind::kReveal, L""});
  return steps;
}

TEST(PreparationTest, PlayerPlanFollowsTheContentKind) {
  const std::wstring kUrl = L"https://lessons.example/watch?v=1";
  const std::wstring kScript = L"window.hooked=1;";
  const struct {
    const char* name;
    LinkContent state;
    std::vector<ViewStep> steps;
  } kCases[] = {
      {"direct with page script", Content(L"url_direct", kUrl, L"", kScript),
       Expected({{Kind::kAddDocumentScript, WrapPageScript(kScript)}, {Kind::kNavigate, kUrl}})},
      {"direct without page script", Content(L"url_direct", kUrl), Expected({{Kind::kNavigate, kUrl}})},
      {"pdf", Content(L"pdf", kUrl, L"Ali 'A' <7>", kScript),
       Expected({{Kind::kAddDocumentScript, WatermarkScript(L"Ali 'A' <7>")},
                 {Kind::kAddDocumentScript, PrintButtonScript()},
                 {Kind::kNavigate, kUrl}})},
      {"pdf_url", Content(L"pdf_url", kUrl, L"W"),
       Expected({{Kind::kAddDocumentScript, WatermarkScript(L"W")},
                 {Kind::kAddDocumentScript, PrintButtonScript()},
                 {Kind::kNavigate, kUrl}})},
      // Kinds are compared exactly: anything else is shown in the composed page.
      {"other kind", Content(L"iframe", kUrl, L"W", kScript),
       Expected({{Kind::kNavigateToString, ComposeContentPage(kUrl, L"W")}})},
      {"upper-case kind", Content(L"PDF", kUrl, L"W"),
       Expected({{Kind::kNavigateToString, ComposeContentPage(kUrl, L"W")}})},
      {"direct with a blank", Content(L"url_direct ", kUrl),
       Expected({{Kind::kNavigateToString, ComposeContentPage(kUrl, L"")}})},
      {"empty kind", Content(L"", kUrl),
       Expected({{Kind::kNavigateToString, ComposeContentPage(kUrl, L"")}})},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    const std::vector<ViewStep> steps = PlanPlayerPreparation(c.state);
    ASSERT_EQ(steps.size(), c.steps.size());
    for (std::size_t i = 0; i < steps.size(); ++i) {
      SCOPED_TRACE(i);
      EXPECT_EQ(steps[i].kind, c.steps[i].kind);
      EXPECT_TRUE(steps[i].text == c.steps[i].text);
    }
  }
}

TEST(PreparationTest, InitScreenPlanAddsPrintBlockThenBarThenOpensTheStartPage) {
  const std::vector<ViewStep> expected = {
      {Kind::kConfigureSettings, L""},
      {Kind::kAddDocumentScript, PrintBlockScript(), true},
      {Kind::kAddDocumentScript, NavigationBarScript()},
      {Kind::kNavigate, config::InitStartUrl()},
  };
  EXPECT_TRUE(PlanInitPreparation() == expected);
  EXPECT_FALSE(config::InitStartUrl().empty());
}

}  // namespace
