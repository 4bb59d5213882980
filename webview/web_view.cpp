#include "webview/web_view.h"

#include <mutex>

namespace WebView {

namespace {

std::mutex& ObserverLock() {
  static std::mutex lock;
  return lock;
}

EventObserver& Observer() {
  static EventObserver observer;
  return observer;
}

}  // namespace

void SetEventObserver(EventObserver observer) {
  const std::lock_guard<std::mutex> guard(ObserverLock());
  Observer() = std::move(observer);
}

void ReportEvent(const std::string& event) {
  EventObserver observer;
  {
    const std::lock_guard<std::mutex> guard(ObserverLock());
    observer = Observer();
  }
  if (observer)
    observer(event);
}

}  // namespace WebView
