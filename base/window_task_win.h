// Handing a task to a window's thread: a worker posts it (WM_APP_RUN_UI_TASK) and the window's
// procedure runs it with RunPostedWindowTask. One way for every window that takes tasks.
#ifndef CORVEL_BASE_WINDOW_TASK_WIN_H_
#define CORVEL_BASE_WINDOW_TASK_WIN_H_

#include <windows.h>

#include <functional>
#include <memory>

#include "base/window_messages.h"

namespace base {

// Posts `task` to `window`; false when the window cannot take it. Then the task is dropped
// unrun, or, with `keepWhenRefused`, left alone (never released), so that objects it holds that
// belong to the window's thread are not released on the calling one.
inline bool PostWindowTask(HWND window, std::function<void()> task, bool keepWhenRefused = false) {
  auto* posted = new std::function<void()>(std::move(task));
  if (window != nullptr && PostMessageW(window, WM_APP_RUN_UI_TASK, 0, reinterpret_cast<LPARAM>(posted)))
    return true;
  if (!keepWhenRefused)
    delete posted;
  return false;
}

// The window procedure's side of WM_APP_RUN_UI_TASK: runs the posted task and frees it.
inline void RunPostedWindowTask(LPARAM lparam) noexcept {
  const std::unique_ptr<std::function<void()>> task(reinterpret_cast<std::function<void()>*>(lparam));
  try {
    if (task && *task)
      (*task)();
  } catch (...) {
  }
}

}  // namespace base

#endif  // CORVEL_BASE_WINDOW_TASK_WIN_H_
