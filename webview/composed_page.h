// The page a host composes itself and shows with NavigateToString has no address of its own.
// A runtime reports its navigation as "about:blank" or as the data: address it loads the page
// from, depending on the runtime; a page can also navigate to a data: address of its own
// making, which the navigation policy must go on cancelling. ComposedPageMark tells the two
// apart: the host sets the mark just before NavigateToString, and the next navigation start
// consumes it. Only that one navigation, when its address is "about:blank" or a data: address,
// is the host's own page and is judged as "about:blank".
//
// One mark per view; not thread-safe (the UI thread only).
#ifndef CORVEL_WEBVIEW_COMPOSED_PAGE_H_
#define CORVEL_WEBVIEW_COMPOSED_PAGE_H_

#include <string>

class ComposedPageMark {
 public:
  // The host is about to show its own page.
  void Set() { pending_ = true; }
  // The same, keeping the page: a reload of it shows it again (ToReload).
  void Set(const std::wstring& html) {
    Set();
    html_ = html;
  }
  // NavigateToString failed: no navigation of the host's page will start.
  void Clear() { pending_ = false; }

  // For every navigation start, with the address the runtime reports: the address the
  // navigation policy is to judge ("about:blank" for the host's own page, `uri` unchanged
  // otherwise). Consumes the mark whatever the address.
  std::wstring AddressForPolicy(const std::wstring& uri);

  // The navigation last judged by AddressForPolicy went ahead: from now on the view shows the
  // host's own page exactly when that navigation was it.
  void NavigationAllowed() { showing_ = lastWasComposed_; }

  // The view's top document is the host's own page.
  bool Showing() const { return showing_; }

  // The page a reload must show again: the host's own page while it is shown (an engine cannot
  // reload a page that came as a string once its renderer is gone); null for other documents,
  // which the engine reloads itself.
  const std::wstring* ToReload() const { return showing_ && !html_.empty() ? &html_ : nullptr; }

 private:
  bool pending_ = false;
  bool lastWasComposed_ = false;
  bool showing_ = false;
  std::wstring html_;
};

#endif  // CORVEL_WEBVIEW_COMPOSED_PAGE_H_
