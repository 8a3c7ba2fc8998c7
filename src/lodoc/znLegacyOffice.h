#pragma once

#include "lodoc/znOfficeBase.h"

#include <QString>

#include <memory>

// True for the head of a file in a legacy binary Word format that is no compound file, as
// Word for Windows 1.x and 2.x stored documents (their file information block starts the
// file: 0xA59B or 0xA5DB). LibreOffice reads them like the later .doc files.
bool IsSingleStreamWordDocument(const QByteArray& head);

// One headless LibreOffice instance driven through its UNO API over a pipe, with a user
// profile of its own. It is started by the first conversion, kept for the later ones and
// ended by Quit or the destructor. The process runs in a process group of its own and is
// killed by the kernel when the thread that started it ends, so no instance outlives its
// owner even when the owner is killed. The UNO side lives in the module leafpress-lodoc,
// loaded by the first conversion; without it, or without LibreOffice, conversions fail
// saying what to install. Not thread-safe: one owner thread.
class TznLegacyOffice
{
public:
    explicit TznLegacyOffice(TznOfficeSettings settings = {});
    ~TznLegacyOffice();
    TznLegacyOffice(const TznLegacyOffice&) = delete;
    TznLegacyOffice& operator=(const TznLegacyOffice&) = delete;

    // The instance of the calling thread, made on first use and ended with the thread: the
    // one office a worker's legacy documents and its render checks share.
    static TznLegacyOffice& OfThisThread();

    // Converts source to target (written to a temporary name in the target's folder and
    // renamed into place). Raises EznError naming the source: LibreOffice or the module
    // missing (with what to install), the file unreadable to it, or the time-out (the
    // instance is then ended and the next conversion starts a new one). sourceLabel names
    // the file in messages.
    void Convert(const QString& source, const QString& target, TznOfficeFormat format,
                 const QString& sourceLabel = {});
    // Ends the instance and removes its profile; does nothing when none runs.
    void Quit();
    // Why no conversion can succeed here (the module, its UNO runtime or the office program
    // missing), as a sentence ending in a period that says what to install; empty when
    // LibreOffice is there.
    QString Unavailable();

    bool IsRunning() const;
    // The process id of the running instance, 0 when none runs.
    qint64 ProcessId() const;
    // The user profile folder of the running instance, empty when none runs.
    QString ProfileFolder() const;
    // The installed LibreOffice program, empty when there is none.
    static QString InstalledProgram();

private:
    // The module's instance, made on first use; null with the reason when there is none.
    TznOfficeBase* Instance(QString& reason);

    TznOfficeSettings FSettings;
    std::unique_ptr<TznOfficeBase> FOffice;
};
