#pragma once

#include <functional>

// Waits up to timeoutMs for done(), turning the main thread's event loop so
// that calls queued to it (workers' results, timers, queued signals) run
// meanwhile. False when the time ran out first.
bool WaitUntil(const std::function<bool()>& done, int timeoutMs = 20000);
