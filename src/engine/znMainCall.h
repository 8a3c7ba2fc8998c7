#pragma once

#include <QObject>

#include <functional>

// Runs fn on the main thread and returns when it has run; at once when
// called on the main thread or when no application object exists. Every
// hand-over goes through standard locks, so thread checkers see it; the
// main thread only has to keep its event loop turning.
void CallOnMainThreadAndWait(const std::function<void()>& fn);

// Runs the calls queued by CallOnMainThreadAndWait; on the main thread only.
// For a main thread that must wait for workers without its event loop.
void ServeMainThreadCalls();

// The main-thread end of CallOnMainThreadAndWait: runs the queued calls.
class TznMainCallServer : public QObject
{
    Q_OBJECT
public:
    Q_INVOKABLE void Serve();
};
