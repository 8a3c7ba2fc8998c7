#include "engine/znThread.h"

TznThread::TznThread(bool freeOnTerminate)
    : FFreeOnTerminate(freeOnTerminate)
{
}

TznThread::~TznThread()
{
    // An owner that forgot WaitFor still must not leave a joinable thread
    // behind, or std::thread ends the process.
    if (FThread.joinable()) {
        if (FThread.get_id() == std::this_thread::get_id())
            FThread.detach();
        else
            FThread.join();
    }
}

void TznThread::Start()
{
    if (FStarted.exchange(true, std::memory_order_acq_rel))
        return;
    if (FFreeOnTerminate) {
        // The body may free this object before Start returns, so the handle
        // is never stored in it.
        std::thread(&TznThread::run, this).detach();
    } else {
        FThread = std::thread(&TznThread::run, this);
    }
}

void TznThread::WaitFor()
{
    if (FThread.joinable() && FThread.get_id() != std::this_thread::get_id())
        FThread.join();
}

void TznThread::run(TznThread* self)
{
    try {
        self->Execute();
    } catch (...) {
        // An error escaping a thread body would end the process; the thread
        // ends instead, as after a normal return.
    }
    if (self->FFreeOnTerminate)
        delete self;
}
