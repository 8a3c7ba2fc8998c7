#include "lodoc/znOfficeProcess.h"

#include <QFile>

#include <chrono>
#include <vector>

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

TznOfficeProcess::~TznOfficeProcess()
{
    Kill();
}

bool TznOfficeProcess::Start(const QString& program, const QStringList& args, const QStringList& extraEnv, QString& reason)
{
    Kill();
    FExitCode = -1;
    FExitSignal = 0;
    // Everything the child needs is built before the fork: between fork and exec only
    // async-signal-safe calls are allowed, and other threads may hold any lock.
    std::vector<QByteArray> argBytes{QFile::encodeName(program)};
    for (const QString& a : args)
        argBytes.push_back(a.toLocal8Bit());
    std::vector<char*> argv;
    for (QByteArray& a : argBytes)
        argv.push_back(a.data());
    argv.push_back(nullptr);

    std::vector<QByteArray> envBytes;
    for (const QString& e : extraEnv)
        envBytes.push_back(e.toLocal8Bit());
    for (char** e = environ; e && *e; ++e) {
        const QByteArray entry(*e);
        bool overridden = false;
        for (const QString& x : extraEnv)
            overridden = overridden || entry.startsWith(x.left(x.indexOf(QLatin1Char('=')) + 1).toLocal8Bit());
        if (!overridden)
            envBytes.push_back(entry);
    }
    std::vector<char*> envp;
    for (QByteArray& e : envBytes)
        envp.push_back(e.data());
    envp.push_back(nullptr);

    const pid_t parent = getpid();
    const int devNull = open("/dev/null", O_RDWR | O_CLOEXEC);
    if (devNull < 0) {
        reason = QStringLiteral("/dev/null cannot be opened");
        return false;
    }
    int failPipe[2];
    if (pipe2(failPipe, O_CLOEXEC) != 0) {
        close(devNull);
        reason = QStringLiteral("no pipe could be made");
        return false;
    }
    const pid_t pid = fork();
    if (pid == 0) {
        setpgid(0, 0);
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent)
            _exit(127);
        dup2(devNull, 0);
        dup2(devNull, 1);
        dup2(devNull, 2);
        // Inherited descriptors would keep the owner's pipes open after it ended; only
        // the pipe that reports a failed exec stays, as descriptor 3.
        dup2(failPipe[1], 3);
        fcntl(3, F_SETFD, FD_CLOEXEC);
        if (syscall(SYS_close_range, 4u, ~0u, 0u) != 0)
            for (int fd = 4; fd < 4096; ++fd)
                close(fd);
        execve(argv[0], argv.data(), envp.data());
        const int error = errno;
        (void)!write(3, &error, sizeof error);
        _exit(127);
    }
    close(devNull);
    close(failPipe[1]);
    if (pid < 0) {
        close(failPipe[0]);
        reason = QString::fromLocal8Bit(strerror(errno));
        return false;
    }
    // The group is set on both sides so that a kill right after the start reaches it.
    setpgid(pid, pid);
    FPid = pid;
    int error = 0;
    const ssize_t got = read(failPipe[0], &error, sizeof error);
    close(failPipe[0]);
    if (got == ssize_t(sizeof error)) {
        reason = QString::fromLocal8Bit(strerror(error));
        Kill();
        return false;
    }
    return true;
}

bool TznOfficeProcess::IsAlive()
{
    if (FPid <= 0)
        return false;
    int status = 0;
    const pid_t r = waitpid(FPid, &status, WNOHANG);
    if (r == FPid || (r < 0 && errno == ECHILD)) {
        FExitCode = r == FPid && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        FExitSignal = r == FPid && WIFSIGNALED(status) ? WTERMSIG(status) : 0;
        // The group may still hold children of the ended process.
        kill(-FPid, SIGKILL);
        FPid = 0;
        return false;
    }
    return true;
}

bool TznOfficeProcess::WaitForEnd(int ms)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (IsAlive()) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        usleep(20000);
    }
    return true;
}

void TznOfficeProcess::Kill()
{
    if (FPid <= 0)
        return;
    kill(-FPid, SIGKILL);
    kill(FPid, SIGKILL);
    int status = 0;
    while (waitpid(FPid, &status, 0) < 0 && errno == EINTR) {
    }
    FPid = 0;
}

TznOfficeWatchdog::TznOfficeWatchdog(TznOfficeProcess& process, int ms)
{
    const pid_t pid = pid_t(process.Pid());
    FThread = std::thread([this, pid, ms] {
        std::unique_lock lock(FLock);
        if (!FWake.wait_for(lock, std::chrono::milliseconds(ms), [this] { return FDone; }) && pid > 0) {
            FFired = true;
            // Only a signal: the owner reaps the process when the hung call returns.
            kill(-pid, SIGKILL);
            kill(pid, SIGKILL);
        }
    });
}

TznOfficeWatchdog::~TznOfficeWatchdog()
{
    {
        std::lock_guard lock(FLock);
        FDone = true;
    }
    FWake.notify_all();
    FThread.join();
}
