// How the player window and the init screen prepare their web view once it is ready: the fixed
// settings, the document scripts in their order, and what to show. The plans are plain values;
// each web-view backend applies the steps in order (a script that fails to register is skipped,
// the navigation still happens).
#ifndef CORVEL_WEBVIEW_PREPARATION_H_
#define CORVEL_WEBVIEW_PREPARATION_H_

#include <string>
#include <vector>

#include "base/app_state.h"

struct ViewStep {
  enum class Kind {
    ConfigureSettings,  // the view's fixed settings; text empty
    AddDocumentScript,  // text: a script run at the creation of every later document
    Navigate,           // text: the address
    NavigateToString,   // text: the page
    Reveal,             // show the player window; text empty
  };
  Kind kind;
  std::wstring text;

  bool operator==(const ViewStep&) const = default;
};

// Player window: settings, loader and print block, then by content kind: "url_direct" navigates
// to the content (after the wrapped page script, when there is one); "pdf" and "pdf_url" add the
// watermark and the print button and navigate; any other kind shows the composed content page.
// Ends with Reveal.
std::vector<ViewStep> PlanPlayerPreparation(const AppState& state);

// Init screen: settings, print block and navigation bar, then the configured start page.
std::vector<ViewStep> PlanInitPreparation();

// Applies a plan in order to a web-view host that offers ConfigureSettings, AddDocumentScript,
// Navigate and NavigateToString (both backends' hosts do); Reveal calls `reveal()`.
template <typename Host, typename Reveal>
void ApplyPreparation(Host& host, const std::vector<ViewStep>& steps, const Reveal& reveal) {
  for (const ViewStep& step : steps) {
    switch (step.kind) {
      case ViewStep::Kind::ConfigureSettings:
        host.ConfigureSettings();
        break;
      case ViewStep::Kind::AddDocumentScript:
        host.AddDocumentScript(step.text);
        break;
      case ViewStep::Kind::Navigate:
        host.Navigate(step.text);
        break;
      case ViewStep::Kind::NavigateToString:
        host.NavigateToString(step.text);
        break;
      case ViewStep::Kind::Reveal:
        reveal();
        break;
    }
  }
}

#endif  // CORVEL_WEBVIEW_PREPARATION_H_
