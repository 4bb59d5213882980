// Print requests of one view: at most one printer dialog at a time, and never inside the
// handler that received the request.
//
// A page asks to print from a message handler of the web view. The dialog is modal and runs a
// nested event loop, which a WebView2 event handler must not do (the runtime delivers its
// callbacks one at a time and cannot re-enter the handler that is still on the stack), so the
// request is only accepted there and the dialog runs later from the ordinary event loop. While
// an accepted request waits for its turn or its dialog is open, any further request is
// answered "cancelled" at once: a page that asks twice (a double-click) gets one dialog and an
// answer for every request. Both web-view backends keep one PrintRequests per view.
//
// Not thread-safe: the UI thread only.
#ifndef CORVEL_WEBVIEW_PRINT_REQUESTS_H_
#define CORVEL_WEBVIEW_PRINT_REQUESTS_H_

#include <functional>
#include <string>

class PrintRequests {
 public:
  // A page asked to print. True: the request is accepted, and the caller schedules the dialog
  // (then calls Begin from the event loop). False: another request is waiting or its dialog is
  // open; the caller answers this one "cancelled" now.
  bool Accept();

  // The scheduled dialog is about to open. False when no accepted request is waiting (a stale
  // or repeated schedule): nothing is to be shown.
  bool Begin();

  // The dialog closed, or the accepted request could not be scheduled or run; requests are
  // accepted again.
  void End();

  bool busy() const { return state_ != State::kIdle; }

  // A page's request, as the view receives it: accepted and handed to `schedule` (which runs the
  // accepted request later from the view's own event loop; false when it cannot), or answered
  // with `cancelled()` at once.
  void Request(const std::function<bool()>& schedule, const std::function<void()>& cancelled);
  // The scheduled request: `run` when one is waiting, and the way is free again afterwards
  // (also when `run` throws).
  void RunScheduled(const std::function<void()>& run);

 private:
  enum class State { kIdle, kWaiting, kOpen };
  State state_ = State::kIdle;
};

// The printer choice of a request that is to run: `choose` shows the dialog (a nested event loop)
// and returns the chosen printer's name, empty for none. One dialog per thread at a time: a
// request whose choice would start while one is open (another view's, or one that slipped past
// its PrintRequests) gets the empty name at once, without a second dialog. `choose` may throw;
// the dialog counts as closed either way.
std::wstring ChoosePrinterAlone(const std::function<std::wstring()>& choose);

enum class PrintOutcome;

// What printing a page takes from a web-view backend.
class PrintBackend {
 public:
  virtual ~PrintBackend() = default;
  // The printer choice over the view's window (a modal dialog); the chosen name, empty for none.
  virtual std::wstring ChoosePrinter() = 0;
  // Prints the page to `printer` and calls `done` once with the outcome, at once or later from
  // the event loop. May throw before it has called `done`.
  virtual void PrintTo(const std::wstring& printer, std::function<void(PrintOutcome)> done) = 0;
};

// One print request of a page: the choice (ChoosePrinterAlone), then the print to the chosen
// printer; `post` delivers exactly one "printResult" message for it ("cancelled" when nothing was
// chosen, the print's own outcome otherwise, a failure when the backend throws). `post` may be
// called after this returns, so it must hold what it needs.
void RunPrintFlow(PrintBackend& backend, const std::function<void(const std::wstring& json)>& post);

#endif  // CORVEL_WEBVIEW_PRINT_REQUESTS_H_
