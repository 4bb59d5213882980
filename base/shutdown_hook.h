// The shutdown hook: what must happen before the process ends itself (closing the web views).
// RunShutdownHookOnce() may be called from any thread; the hook runs at most once per process.
#ifndef CORVEL_BASE_SHUTDOWN_HOOK_H_
#define CORVEL_BASE_SHUTDOWN_HOOK_H_

using ShutdownHook = void (*)();

void SetShutdownHook(ShutdownHook hook);  // null clears it
void RunShutdownHookOnce();

#endif  // CORVEL_BASE_SHUTDOWN_HOOK_H_
