#pragma once

#include <functional>

// Runs fn on the main thread and returns when it has run. Called on the main
// thread (or when no application object exists) it runs fn at once. The main
// thread must keep its event loop turning while other threads wait here.
void RunOnMainThreadAndWait(const std::function<void()>& fn);

// Queues fn to the main thread and returns at once; fn is dropped when no
// application object exists any more.
void PostToMainThread(std::function<void()> fn);

// True on the thread that created the application object (or on any thread
// when there is none yet).
bool IsMainThread();
