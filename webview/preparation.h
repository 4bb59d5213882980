// How the player window and the init screen prepare their web view once it is ready: the fixed
// settings, the document scripts in their order, and what to show. The plans are plain values;
// each web-view backend applies the steps in order (a script that fails to register is skipped,
// the navigation still happens).
#ifndef CORVEL_WEBVIEW_PREPARATION_H_
#define CORVEL_WEBVIEW_PREPARATION_H_

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "link/launch_link.h"
#include "webview/web_view.h"

struct ViewStep {
  enum class Kind {
    kConfigureSettings,  // the view's fixed settings; text empty
    kAddDocumentScript,  // text: a script run at the creation of every later document
    kNavigate,           // text: the address
    kNavigateToString,   // text: the page
    kReveal,             // show the player window; text empty
  };
  Kind kind;
  std::wstring text;

  bool operator==(const ViewStep&) const = default;
};

// Player window: settings, loader and print block, then by content kind: "url_direct" navigates
// to the content (after the wrapped page script, when there is one); "pdf" and "pdf_url" add the
// watermark and the print button and navigate; any other kind shows the composed content page.
// Ends with Reveal.
std::vector<ViewStep> PlanPlayerPreparation(const LinkContent& content);

// What the player prints for `content`: a PDF lesson ("pdf", "pdf_url") prints its document,
// any other content its current page (nothing).
std::optional<PrintedDocument> PrintedPdf(const LinkContent& content);

// Init screen: settings, print block and navigation bar, then the configured start page.
std::vector<ViewStep> PlanInitPreparation();

// Applies a plan in order to a view; Reveal calls `reveal()` (when set).
void ApplyPreparation(WebView::BrowserView& view,
                      const std::vector<ViewStep>& steps,
                      const std::function<void()>& reveal);

#endif  // CORVEL_WEBVIEW_PREPARATION_H_
