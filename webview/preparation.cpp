#include "webview/preparation.h"

#include "config/config.h"
#include "link/page_composer.h"
#include "webview/scripts.h"

namespace {

ViewStep Step(ViewStep::Kind kind, std::wstring text = {}) {
  return ViewStep{kind, std::move(text)};
}

}  // namespace

std::vector<ViewStep> PlanPlayerPreparation(const AppState& state) {
  using Kind = ViewStep::Kind;
  std::vector<ViewStep> steps;
  steps.push_back(Step(Kind::ConfigureSettings));
  steps.push_back(Step(Kind::AddDocumentScript, LoaderScript()));
  steps.push_back(Step(Kind::AddDocumentScript, PrintBlockScript()));
  if (state.contentKind == L"url_direct") {
    if (!state.pageScript.empty()) {
      steps.push_back(Step(Kind::AddDocumentScript, WrapPageScript(state.pageScript)));
    }
    steps.push_back(Step(Kind::Navigate, state.contentUrl));
  } else if (state.contentKind == L"pdf" || state.contentKind == L"pdf_url") {
    steps.push_back(Step(Kind::AddDocumentScript, WatermarkScript(state.watermarkText)));
    steps.push_back(Step(Kind::AddDocumentScript, PrintButtonScript()));
    steps.push_back(Step(Kind::Navigate, state.contentUrl));
  } else {
    steps.push_back(Step(Kind::NavigateToString, ComposeContentPage(state.contentUrl, state.watermarkText)));
  }
  steps.push_back(Step(Kind::Reveal));
  return steps;
}

std::vector<ViewStep> PlanInitPreparation() {
  using Kind = ViewStep::Kind;
  return {
      Step(Kind::ConfigureSettings),
      Step(Kind::AddDocumentScript, PrintBlockScript()),
      Step(Kind::AddDocumentScript, NavigationBarScript()),
      Step(Kind::Navigate, config::InitStartUrl()),
  };
}
