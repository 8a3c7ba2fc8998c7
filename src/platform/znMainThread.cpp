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

std::mutex queueLock;
std::condition_variable queueDone;
std::deque<std::shared_ptr<TznMainCall>> queue;
TznMainCallServer* server = nullptr; // guarded by queueLock; lives on the main thread

// The server of the current application object, made on first use.
TznMainCallServer* serverFor(QCoreApplication* app)
{
    if (!server || server->thread() != app->thread()) {
        // An earlier application object's server is left behind unused.
        server = new TznMainCallServer;
        server->moveToThread(app->thread());
    }
    return server;
}

} // namespace

void TznMainCallServer::Serve()
{
    for (;;) {
        std::shared_ptr<TznMainCall> call;
        {
            std::lock_guard lock(queueLock);
            if (queue.empty())
                return;
            call = queue.front();
            queue.pop_front();
        }
        try {
            call->Fn();
        } catch (...) {
            call->Error = std::current_exception();
        }
        {
            std::lock_guard lock(queueLock);
            call->Done = true;
        }
        queueDone.notify_all();
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
    auto call = std::make_shared<TznMainCall>();
    call->Fn = fn;
    TznMainCallServer* target;
    {
        std::lock_guard lock(queueLock);
        queue.push_back(call);
        target = serverFor(app);
    }
    // Invoked by name, so no object of this side crosses through Qt's queue:
    // the call itself travels in the locked queue above.
    QMetaObject::invokeMethod(target, "Serve", Qt::QueuedConnection);
    std::unique_lock lock(queueLock);
    queueDone.wait(lock, [&] { return call->Done; });
    lock.unlock();
    if (call->Error)
        std::rethrow_exception(call->Error);
}

bool IsMainThread()
{
    QCoreApplication* app = QCoreApplication::instance();
    return !app || QThread::currentThread() == app->thread();
}
