#include "base/shutdown_hook.h"

#include <atomic>

namespace {

std::atomic<ShutdownHook> g_hook{nullptr};
std::atomic<int> g_hookRan{0};

}  // namespace

void SetShutdownHook(ShutdownHook hook) {
  g_hook.store(hook);
}

void RunShutdownHookOnce() {
  if (g_hookRan.exchange(1) == 1)
    return;
  if (ShutdownHook hook = g_hook.load())
    hook();
}
