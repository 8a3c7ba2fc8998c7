#pragma once

#include <QString>
#include <QStringList>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>

// A child process in a process group of its own, with no inherited descriptors but
// /dev/null for its standard streams. The kernel kills it when the thread that started it
// ends, so it cannot outlive its owner. Kill ends the whole group.
class TznOfficeProcess
{
public:
    TznOfficeProcess() = default;
    ~TznOfficeProcess();
    TznOfficeProcess(const TznOfficeProcess&) = delete;
    TznOfficeProcess& operator=(const TznOfficeProcess&) = delete;

    // Starts program with args and the environment plus extraEnv ("NAME=value").
    // Returns false (with a reason) when it cannot be started.
    bool Start(const QString& program, const QStringList& args, const QStringList& extraEnv, QString& reason);
    // True while the process has not ended; reaps it when it has.
    bool IsAlive();
    // Waits up to ms for the process to end; true when it has.
    bool WaitForEnd(int ms);
    // Kills the process group at once and reaps the process.
    void Kill();
    qint64 Pid() const { return FPid; }
    // The exit code of the process that ended last, -1 when it was killed or none ended.
    int ExitCode() const { return FExitCode; }
    // The signal that ended the process that ended last, 0 when it exited by itself.
    int ExitSignal() const { return FExitSignal; }

private:
    int FPid = 0;
    int FExitCode = -1;
    int FExitSignal = 0;
};

// Kills a process's group when it is not disarmed within its time: the guard of a call
// that may hang in the other process.
class TznOfficeWatchdog
{
public:
    TznOfficeWatchdog(TznOfficeProcess& process, int ms);
    ~TznOfficeWatchdog();
    // True when the time ran out and the process was killed.
    bool Fired() const { return FFired; }

private:
    std::mutex FLock;
    std::condition_variable FWake;
    bool FDone = false;
    std::atomic<bool> FFired{false};
    std::thread FThread;
};
