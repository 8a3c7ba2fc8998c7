#pragma once

#include <QObject>

#include <functional>

// Runs fn on the main thread and returns when it has run; at once when
// called on the main thread or when no application object exists. An error
// fn raises is raised again here. Every hand-over goes through standard
// locks, so thread checkers see it; the main thread only has to keep its
// event loop turning (or call ServeMainThreadCalls while it waits).
void CallOnMainThreadAndWait(const std::function<void()>& fn);

// Runs the calls queued by CallOnMainThreadAndWait; on the main thread only.
// For a main thread that must wait for workers without its event loop.
void ServeMainThreadCalls();

// True on the thread that created the application object (or on any thread
// when there is none yet).
bool IsMainThread();

// The main-thread end of CallOnMainThreadAndWait: runs the queued calls.
class TznMainCallServer : public QObject
{
    Q_OBJECT
public:
    Q_INVOKABLE void Serve();
};
