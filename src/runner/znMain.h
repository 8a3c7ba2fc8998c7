#pragma once

#include "engine/znConvertor.h"

#include <QElapsedTimer>
#include <QString>
#include <QStringList>

#include <memory>
#include <mutex>

// The unattended runner: converts one batch with the project's options
// without any window, waits for every worker, records the run, reports its
// failures and writes the log file.
class TznMain
{
public:
    TznMain();
    ~TznMain();

    // The whole run. Returns the exit status: 0 after a normal run (failed
    // documents included), 2 when no run was possible (no Target, a
    // RefusalReason, a target StartScan refuses) or the log file could not
    // be completely written.
    int Run();
    // The per-file callback, on a worker thread: one result line per document.
    void OnFileDone(TznBatch* batch, TznNode* node);
    // Counters, failure report, log file; returns the exit status.
    int Finish();
    // Why the project's options must not run (missing source, an invalid
    // RegExt, a log file over a document, source or target), or empty.
    QString RefusalReason() const;

    // Documents named one by one that make the batch instead of a scan of
    // Source; empty for a scanned source.
    QStringList Files;
    void ListFiles(const QString& target);

    std::unique_ptr<TznBatch> Batch;
    TznChainRef Converter;
    QStringList LogLines;

private:
    std::mutex FLogLock;
    qint64 FBytesBefore = 0;
    qint64 FBytesAfter = 0;
    QElapsedTimer FClock;
};

// The one runner of the process.
extern TznMain* Runner;
