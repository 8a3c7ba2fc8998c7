#include "platform/znShell.h"

#include <atomic>

IznShell& DefaultShell(); // the platform's own, in Shell_posix.cpp / Shell_win.cpp

namespace {
std::atomic<IznShell*> installedShell{nullptr};
}

IznShell& Shell()
{
    IznShell* shell = installedShell.load();
    return shell ? *shell : DefaultShell();
}

void SetShell(IznShell* shell)
{
    installedShell.store(shell);
}

bool TznRecordingShell::Open(const QString& link)
{
    std::lock_guard lock(FLock);
    FLinks << link;
    return true;
}

QStringList TznRecordingShell::Links() const
{
    std::lock_guard lock(FLock);
    return FLinks;
}

void TznRecordingShell::Clear()
{
    std::lock_guard lock(FLock);
    FLinks.clear();
}
