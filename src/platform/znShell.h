#pragma once

#include <QString>
#include <QStringList>

#include <mutex>

// Opens documents, folders, web addresses and mailto: links with the
// desktop's default handler.
class IznShell
{
public:
    virtual ~IznShell() = default;
    // Hands the link to its handler; false when no handler could be started.
    virtual bool Open(const QString& link) = 0;
};

// The shell every link of the program goes through. The default opens links
// for real (in the window through the desktop services, elsewhere by running
// xdg-open with the link as its only argument, never through a command shell,
// its output thrown away; without xdg-open on PATH nothing is opened).
IznShell& Shell();

// Replaces the shell (tests install a recording one); nullptr restores the
// default. The caller keeps ownership.
void SetShell(IznShell* shell);

// A shell that only records what it was asked to open. Thread-safe.
class TznRecordingShell : public IznShell
{
public:
    bool Open(const QString& link) override;
    QStringList Links() const;
    void Clear();

private:
    mutable std::mutex FLock;
    QStringList FLinks;
};
