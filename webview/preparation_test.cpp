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

AppState Content(std::wstring kind,
                 std::wstring url,
                 std::wstring watermark = L"",
                 std::wstring pageScript = L"") {
  AppState state;
  state.contentKind = std::move(kind);
  state.contentUrl = std::move(url);
  state.watermarkText = std::move(watermark);
  state.pageScript = std::move(pageScript);
  return state;
}

std::vector<ViewStep> Expected(std::vector<ViewStep> middle) {
  std::vector<ViewStep> steps = {{Kind::ConfigureSettings, L""},
                                 {Kind::AddDocumentScript, LoaderScript()},
                                 {Kind::AddDocumentScript, PrintBlockScript()}};
  steps.insert(steps.end(), middle.begin(), middle.end());
  steps.push_back({Kind::Reveal, L""});
  return steps;
}

TEST(PreparationTest, PlayerPlanFollowsTheContentKind) {
  const std::wstring kUrl = L"https://lessons.example/watch?v=1";
  const std::wstring kScript = L"window.hooked=1;";
  const struct {
    const char* name;
    AppState state;
    std::vector<ViewStep> steps;
  } kCases[] = {
      {"direct with page script", Content(L"url_direct", kUrl, L"", kScript),
       Expected({{Kind::AddDocumentScript, WrapPageScript(kScript)}, {Kind::Navigate, kUrl}})},
      {"direct without page script", Content(L"url_direct", kUrl), Expected({{Kind::Navigate, kUrl}})},
      {"pdf", Content(L"pdf", kUrl, L"Ali 'A' <7>", kScript),
       Expected({{Kind::AddDocumentScript, WatermarkScript(L"Ali 'A' <7>")},
                 {Kind::AddDocumentScript, PrintButtonScript()},
                 {Kind::Navigate, kUrl}})},
      {"pdf_url", Content(L"pdf_url", kUrl, L"W"),
       Expected({{Kind::AddDocumentScript, WatermarkScript(L"W")},
                 {Kind::AddDocumentScript, PrintButtonScript()},
                 {Kind::Navigate, kUrl}})},
      // Kinds are compared exactly: anything else is shown in the composed page.
      {"other kind", Content(L"iframe", kUrl, L"W", kScript),
       Expected({{Kind::NavigateToString, ComposeContentPage(kUrl, L"W")}})},
      {"upper-case kind", Content(L"PDF", kUrl, L"W"),
       Expected({{Kind::NavigateToString, ComposeContentPage(kUrl, L"W")}})},
      {"direct with a blank", Content(L"url_direct ", kUrl),
       Expected({{Kind::NavigateToString, ComposeContentPage(kUrl, L"")}})},
      {"empty kind", Content(L"", kUrl), Expected({{Kind::NavigateToString, ComposeContentPage(kUrl, L"")}})},
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
      {Kind::ConfigureSettings, L""},
      {Kind::AddDocumentScript, PrintBlockScript()},
      {Kind::AddDocumentScript, NavigationBarScript()},
      {Kind::Navigate, config::InitStartUrl()},
  };
  EXPECT_TRUE(PlanInitPreparation() == expected);
  EXPECT_FALSE(config::InitStartUrl().empty());
}

}  // namespace
