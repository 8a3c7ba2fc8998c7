#pragma once

#include "engine/znConvertor.h"

#include <QElapsedTimer>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>
#include <mutex>

class TznProgressLine;

// The unattended runner: converts one batch with the project's options
// without any window, waits for every worker, records the run, reports its
// failures and writes the log file.
class TznMain
{
public:
    TznMain();
    ~TznMain();

    // The whole run. Returns the exit status: 0 after a normal run (failed
    // documents included unless FailureStatus), 1 after a run with
    // FailureStatus in which a document did not succeed or was not
    // skipped, 2 when no run was possible (no Target, a RefusalReason, a
    // target StartScan refuses) or the log file could not be completely
    // written.
    int Run();
    // The per-file callback, on a worker thread: one result line per document.
    void OnFileDone(TznBatch* batch, TznNode* node);
    // Counters, failure report, log file; returns the exit status.
    int Finish();
    // Why the project's options must not run (RunRefusal: a missing source,
    // each of Sources too, a web source without a local Target, an invalid
    // RegExt, a log file over a document, source or target), or empty.
    QString RefusalReason() const;

    // Several sources (folders with their mask, masks, documents) listed
    // as one batch instead of Source alone; empty for a single source.
    QStringList Sources;
    // One JSON record per document and a summary record on standard output
    // instead of the result lines and the summary line.
    bool Json = false;
    // No progress line on the terminal.
    bool Quiet = false;
    // Failures open the error report in the browser. A batch command line
    // has nobody watching and turns it off.
    bool ReportFailures = true;
    // A document that failed (or was never finished) makes the run end
    // with 1 instead of 0, so that a script can tell; the conventional
    // command line sets it.
    bool FailureStatus = false;
    // A dry run without a target names each result where compacting in
    // place would put it, below its own source's folder.
    bool ResultsInPlace = false;

    std::unique_ptr<TznBatch> Batch;
    TznChainRef Converter;
    QStringList LogLines;

private:
    std::mutex FLogLock;
    qint64 FBytesBefore = 0;
    qint64 FBytesAfter = 0;
    QElapsedTimer FClock;
    // Documents reported so far and how many of them failed.
    int FDone = 0;
    int FFailed = 0;
    // A dry run's private target folder, and the target folder its result
    // lines name instead (the real one, never created).
    std::unique_ptr<QTemporaryDir> FDryFolder;
    QString FDryPrefix;
    QString FShownTarget;
    std::unique_ptr<TznProgressLine> FProgress;
    void showProgress();
};

// The one runner of the process.
extern TznMain* Runner;
