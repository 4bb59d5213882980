#include "webview/print_requests.h"

#include <memory>

#include "webview/print_result.h"

namespace {

// Set while a printer dialog of this thread is open.
thread_local bool choosingPrinter = false;

}  // namespace

bool PrintRequests::Accept() {
  if (state_ != State::kIdle)
    return false;
  state_ = State::kWaiting;
  return true;
}

bool PrintRequests::Begin() {
  if (state_ != State::kWaiting)
    return false;
  state_ = State::kOpen;
  return true;
}

void PrintRequests::End() {
  state_ = State::kIdle;
}

std::wstring ChoosePrinterAlone(const std::function<std::wstring()>& choose) {
  if (choosingPrinter || !choose)
    return {};
  choosingPrinter = true;
  struct Closed {
    ~Closed() { choosingPrinter = false; }
  } closed;
  return choose();
}

void PrintRequests::Request(const std::function<bool()>& schedule, const std::function<void()>& cancelled) {
  if (!Accept()) {
    cancelled();
    return;
  }
  if (!schedule()) {
    End();
    cancelled();
  }
}

void PrintRequests::RunScheduled(const std::function<void()>& run) {
  if (!Begin())
    return;
  struct Closed {
    PrintRequests& requests;
    ~Closed() { requests.End(); }
  } closed{*this};
  run();
}

void RunPrintFlow(PrintBackend& backend, const std::function<void(const std::wstring& json)>& post) {
  // Shared with the completion, which may come after this returns.
  const auto answered = std::make_shared<bool>(false);
  try {
    const std::wstring printer = ChoosePrinterAlone([&backend] { return backend.ChoosePrinter(); });
    if (printer.empty()) {
      *answered = true;
      post(PrintResultMessage(PrintOutcome::kCancelled));
      return;
    }
    backend.PrintTo(printer, [post, answered](PrintOutcome outcome) {
      *answered = true;
      post(PrintResultMessage(outcome));
    });
  } catch (...) {
    if (!*answered)
      post(PrintResultMessage(PrintOutcome::kPrintFailed));
  }
}
