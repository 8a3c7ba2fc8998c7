#pragma once

#include <atomic>
#include <thread>

// A thread object in the manner of the engine's batch and workers: created
// suspended, started once, with a terminate request that its body polls.
// A self-freeing thread deletes its object when the body returns; any other
// is joined by its owner (WaitFor) before the derived object goes away.
class TznThread
{
public:
    explicit TznThread(bool freeOnTerminate);
    virtual ~TznThread();
    TznThread(const TznThread&) = delete;
    TznThread& operator=(const TznThread&) = delete;

    // Starts the body on a new thread; later calls do nothing.
    void Start();
    // Sets the terminate request; the body decides when to look at it.
    void Terminate() { FTerminated.store(true, std::memory_order_release); }
    bool Terminated() const { return FTerminated.load(std::memory_order_acquire); }
    bool Started() const { return FStarted.load(std::memory_order_acquire); }
    // Waits until the body has returned; at once for a thread never started.
    // Not for self-freeing threads.
    void WaitFor();

protected:
    // The thread body. Whatever it raises is caught and ends the thread.
    virtual void Execute() = 0;

private:
    static void run(TznThread* self);

    const bool FFreeOnTerminate;
    std::atomic<bool> FTerminated{false};
    std::atomic<bool> FStarted{false};
    std::thread FThread;
};
