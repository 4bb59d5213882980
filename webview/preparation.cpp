#include "webview/preparation.h"

#include <memory>

#include "config/config.h"
#include "link/page_composer.h"
#include "webview/scripts.h"

namespace {

ViewStep Step(ViewStep::Kind kind, std::wstring text = {}) {
  return ViewStep{kind, std::move(text)};
}

ViewStep Protective(std::wstring script) {
  return ViewStep{ViewStep::Kind::kAddDocumentScript, std::move(script), true};
}

// A plan being applied: the steps still to go, shared with the view's confirmations.
struct Applying {
  WebView::BrowserView& view;
  std::vector<ViewStep> steps;
  std::function<void()> reveal;
  std::function<void(const std::wstring&)> failed;
  std::size_t next = 0;
};

void Continue(const std::shared_ptr<Applying>& applying) {
  while (applying->next < applying->steps.size()) {
    const ViewStep& step = applying->steps[applying->next++];
    switch (step.kind) {
      case ViewStep::Kind::kConfigureSettings:
        applying->view.ConfigureSettings();
        break;
      case ViewStep::Kind::kAddDocumentScript:
        // The rest of the plan waits for the view's confirmation.
        applying->view.AddDocumentScript(step.text, [applying, protective = step.protective](bool added) {
          if (added || !protective) {
            Continue(applying);
          } else if (applying->failed) {
            applying->failed(L"A protective page script could not be added to the web view.");
          }
        });
        return;
      case ViewStep::Kind::kNavigate:
        applying->view.Navigate(step.text);
        break;
      case ViewStep::Kind::kNavigateToString:
        applying->view.NavigateToString(step.text);
        break;
      case ViewStep::Kind::kReveal:
        if (applying->reveal)
          applying->reveal();
        break;
    }
  }
}

}  // namespace

std::vector<ViewStep> PlanPlayerPreparation(const LinkContent& content) {
  using Kind = ViewStep::Kind;
  std::vector<ViewStep> steps;
  steps.push_back(Step(Kind::kConfigureSettings));
  steps.push_back(Step(Kind::kAddDocumentScript, LoaderScript()));
  steps.push_back(Protective(PrintBlockScript()));
  if (content.contentKind == L"url_direct") {
    if (content.pageScript && !content.pageScript->empty()) {
      steps.push_back(Step(Kind::kAddDocumentScript, WrapPageScript(*content.pageScript)));
    }
    steps.push_back(Step(Kind::kNavigate, content.contentUrl));
  } else if (PrintedPdf(content)) {
    steps.push_back(Protective(WatermarkScript(content.watermarkText)));
    steps.push_back(Protective(PrintButtonScript()));
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
      Protective(PrintBlockScript()),
      Step(Kind::kAddDocumentScript, NavigationBarScript()),
      Step(Kind::kNavigate, config::InitStartUrl()),
  };
}

void ApplyPreparation(WebView::BrowserView& view,
                      const std::vector<ViewStep>& steps,
                      const std::function<void()>& reveal,
                      const std::function<void(const std::wstring& summary)>& failed) {
  Continue(std::make_shared<Applying>(Applying{view, steps, reveal, failed}));
}
