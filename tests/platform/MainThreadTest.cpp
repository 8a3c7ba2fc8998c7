#include "platform/znMainThread.h"

#include <QCoreApplication>
#include <QThread>

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>

namespace {

TEST(MainThreadTest, RunsOnTheMainThreadAndRaisesThere)
{
    int argc = 1;
    char name[] = "test_platform";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    std::atomic<bool> ranOnMain{false};
    std::atomic<bool> raised{false};
    std::thread worker([&] {
        CallOnMainThreadAndWait([&] { ranOnMain = IsMainThread(); });
        try {
            CallOnMainThreadAndWait([] { throw std::runtime_error("handler failed"); });
        } catch (const std::runtime_error&) {
            raised = true;
        }
    });
    for (int i = 0; i < 500 && !raised; ++i) {
        QCoreApplication::processEvents();
        QThread::msleep(2);
    }
    worker.join();
    EXPECT_TRUE(ranOnMain);
    EXPECT_TRUE(raised);
}

TEST(MainThreadTest, WaitersAreReleasedWhenTheApplicationGoesAway)
{
    // A worker that asks the main thread after its event loop has ended
    // must not wait for ever: the call is dropped with the application.
    int argc = 1;
    char name[] = "test_platform";
    char* argv[] = {name, nullptr};
    auto* app = new QCoreApplication(argc, argv);
    std::atomic<bool> ran{false};
    std::promise<void> queued;
    auto finished = std::async(std::launch::async, [&] {
        queued.set_value();
        CallOnMainThreadAndWait([&] { ran = true; });
    });
    queued.get_future().wait();
    QThread::msleep(200);
    delete app;
    EXPECT_EQ(finished.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_FALSE(ran);
}

} // namespace
