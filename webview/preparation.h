// How the player window and the init screen prepare their web view once it is ready: the fixed
// settings, the document scripts in their order, and what to show. The plans are plain values,
// applied in order to either web-view backend (ApplyPreparation).
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
  // A document script the content must never be shown without (the watermark, the print block,
  // the print button): a view that cannot add it ends the preparation.
  bool protective = false;

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

// Applies a plan in order to a view; Reveal calls `reveal()` (when set). Each document script is
// awaited: the next step runs only once the view has confirmed it (at once or later), so the
// first document already has every script. A script the view refuses is skipped, unless it is
// protective: then nothing more is applied and `failed` (when set) gets a one-line summary; the
// content is never shown without it. The view must outlive the preparation.
void ApplyPreparation(WebView::BrowserView& view,
                      const std::vector<ViewStep>& steps,
                      const std::function<void()>& reveal,
                      const std::function<void(const std::wstring& summary)>& failed = nullptr);

#endif  // CORVEL_WEBVIEW_PREPARATION_H_
