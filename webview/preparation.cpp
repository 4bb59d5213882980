#include "webview/preparation.h"

#include "config/config.h"
#include "link/page_composer.h"
#include "webview/scripts.h"

namespace {

ViewStep Step(ViewStep::Kind kind, std::wstring text = {}) {
  return ViewStep{kind, std::move(text)};
}

}  // namespace

std::vector<ViewStep> PlanPlayerPreparation(const LinkContent& content) {
  using Kind = ViewStep::Kind;
  std::vector<ViewStep> steps;
  steps.push_back(Step(Kind::kConfigureSettings));
  steps.push_back(Step(Kind::kAddDocumentScript, LoaderScript()));
  steps.push_back(Step(Kind::kAddDocumentScript, PrintBlockScript()));
  if (content.contentKind == L"url_direct") {
    if (content.pageScript && !content.pageScript->empty()) {
      steps.push_back(Step(Kind::kAddDocumentScript, WrapPageScript(*content.pageScript)));
    }
    steps.push_back(Step(Kind::kNavigate, content.contentUrl));
  } else if (PrintedPdf(content)) {
    steps.push_back(Step(Kind::kAddDocumentScript, WatermarkScript(content.watermarkText)));
    steps.push_back(Step(Kind::kAddDocumentScript, PrintButtonScript()));
    steps.push_back(Step(Kind::kNavigate, content.contentUrl));
  } else {
    steps.push_back(
        Step(Kind::kNavigateToString, ComposeContentPage(content.contentUrl, content.watermarkText)));
  }
  steps.push_back(Step(Kind::kReveal));
  return steps;
}

std::optional<PrintedDocument> PrintedPdf(const LinkContent& content) {
  if (content.contentKind != L"pdf" && content.contentKind != L"pdf_url")
    return std::nullopt;
  return PrintedDocument{content.contentUrl, content.watermarkText};
}

std::vector<ViewStep> PlanInitPreparation() {
  using Kind = ViewStep::Kind;
  return {
      Step(Kind::kConfigureSettings),
      Step(Kind::kAddDocumentScript, PrintBlockScript()),
      Step(Kind::kAddDocumentScript, NavigationBarScript()),
      Step(Kind::kNavigate, config::InitStartUrl()),
  };
}

void ApplyPreparation(WebView::BrowserView& view,
                      const std::vector<ViewStep>& steps,
                      const std::function<void()>& reveal) {
  for (const ViewStep& step : steps) {
    switch (step.kind) {
      case ViewStep::Kind::kConfigureSettings:
        view.ConfigureSettings();
        break;
      case ViewStep::Kind::kAddDocumentScript:
        view.AddDocumentScript(step.text);
        break;
      case ViewStep::Kind::kNavigate:
        view.Navigate(step.text);
        break;
      case ViewStep::Kind::kNavigateToString:
        view.NavigateToString(step.text);
        break;
      case ViewStep::Kind::kReveal:
        if (reveal)
          reveal();
        break;
    }
  }
}
