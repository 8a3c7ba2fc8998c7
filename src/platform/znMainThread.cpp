#include "platform/znMainThread.h"

#include <QCoreApplication>
#include <QThread>

#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>

namespace {

struct TznMainCall
{
    std::function<void()> Fn;
    bool Done = false;
    std::exception_ptr Error;
};

// The calls waiting for the main thread. Never destroyed: a worker may still
// be waiting on it while the process exits, and destroying a condition
// variable that somebody waits on hangs the exit.
struct TznMainCallQueue
{
    std::mutex Lock;
    std::condition_variable Done;
    std::deque<std::shared_ptr<TznMainCall>> Calls;
    TznMainCallServer* Server = nullptr; // lives on the main thread
    QCoreApplication* App = nullptr;     // the application Server belongs to
};

TznMainCallQueue& mainCalls()
{
    static auto* queue = new TznMainCallQueue;
    return *queue;
}

// Releases every waiter of an application object that is going away: its
// calls can no longer run and are dropped.
void dropCallsOf(QObject* app)
{
    TznMainCallQueue& q = mainCalls();
    {
        std::lock_guard lock(q.Lock);
        if (q.App != app)
            return;
        for (const auto& call : q.Calls)
            call->Done = true;
        q.Calls.clear();
        q.Server = nullptr;
        q.App = nullptr;
    }
    q.Done.notify_all();
}

// The server of the current application object, made on first use; the
// queue lock is held.
TznMainCallServer* serverFor(QCoreApplication* app)
{
    TznMainCallQueue& q = mainCalls();
    if (!q.Server || q.App != app) {
        // An earlier application object's server is left behind unused.
        q.Server = new TznMainCallServer;
        q.Server->moveToThread(app->thread());
        q.App = app;
        QObject::connect(app, &QObject::destroyed, [](QObject* gone) { dropCallsOf(gone); });
    }
    return q.Server;
}

} // namespace

void TznMainCallServer::Serve()
{
    TznMainCallQueue& q = mainCalls();
    for (;;) {
        std::shared_ptr<TznMainCall> call;
        {
            std::lock_guard lock(q.Lock);
            if (q.Calls.empty())
                return;
            call = q.Calls.front();
            q.Calls.pop_front();
        }
        try {
            call->Fn();
        } catch (...) {
            call->Error = std::current_exception();
        }
        {
            std::lock_guard lock(q.Lock);
            call->Done = true;
        }
        q.Done.notify_all();
    }
}

void ServeMainThreadCalls()
{
    TznMainCallServer().Serve();
}

void CallOnMainThreadAndWait(const std::function<void()>& fn)
{
    QCoreApplication* app = QCoreApplication::instance();
    if (!app || QThread::currentThread() == app->thread()) {
        fn();
        return;
    }
    TznMainCallQueue& q = mainCalls();
    auto call = std::make_shared<TznMainCall>();
    call->Fn = fn;
    TznMainCallServer* target;
    {
        std::lock_guard lock(q.Lock);
        q.Calls.push_back(call);
        target = serverFor(app);
    }
    // Invoked by name, so no object of this side crosses through Qt's queue:
    // the call itself travels in the locked queue above.
    QMetaObject::invokeMethod(target, "Serve", Qt::QueuedConnection);
    std::unique_lock lock(q.Lock);
    q.Done.wait(lock, [&] { return call->Done; });
    lock.unlock();
    if (call->Error)
        std::rethrow_exception(call->Error);
}

bool IsMainThread()
{
    QCoreApplication* app = QCoreApplication::instance();
    return !app || QThread::currentThread() == app->thread();
}
