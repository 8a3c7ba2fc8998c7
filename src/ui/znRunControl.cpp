#include "ui/znRunControl.h"

#include "engine/znRunCheck.h"
#include "engine/znRunReport.h"
#include "info/znInfo.h"
#include "platform/znError.h"
#include "platform/znPath.h"
#include "platform/znTextFile.h"
#include "project/znProject.h"
#include "ui/znWindowStartup.h"

#include <QThread>
#include <QTimer>

#include <cstdio>
#include <utility>

namespace {

// Runs a step whose error must not keep the end of a run from happening;
// the error goes to the handler of unhandled errors.
template <class F>
void guarded(QObject* receiver, F&& step)
{
    try {
        step();
    } catch (const std::exception& error) {
        TznApplication::HandleException(receiver, error);
    }
}

} // namespace

TznRunControl::TznRunControl(QObject* parent)
    : QObject(parent), FDaemonTimer(new QTimer(this))
{
    FDaemonTimer->setSingleShot(true);
    connect(FDaemonTimer, &QTimer::timeout, this, &TznRunControl::RepeatDue);
}

TznRunControl::~TznRunControl()
{
    Shutdown();
}

bool TznRunControl::RepeatPending() const
{
    return FDaemonTimer->isActive();
}

void TznRunControl::CountResult(int status, qint64 savedBytes)
{
    ++FDone;
    if (status == nsFailure)
        ++FFailed;
    FSaved += savedBytes;
}

void TznRunControl::freeBatch()
{
    TznBatch* old = std::exchange(FBatch, nullptr);
    ++FBatchSerial;
    try {
        delete old;
    } catch (...) {
        // Freeing waits for the scanner; an error it raises there leaves
        // nothing to undo, and the batch is gone either way.
    }
}

void TznRunControl::NewBatch()
{
    freeBatch();
    FBatch = new TznBatch;
    FDone = 0;
    FFailed = 0;
    FSaved = 0;
    const quint64 serial = FBatchSerial;
    FBatch->OnNodeAdded = [this, serial](TznBatch* batch, TznNode* node) { nodeAdded(serial, batch, node); };
}

void TznRunControl::post(std::function<void()> apply)
{
    if (QThread::currentThread() == thread())
        apply();
    else
        QMetaObject::invokeMethod(this, std::move(apply), Qt::QueuedConnection);
}

void TznRunControl::nodeAdded(quint64 serial, TznBatch* batch, TznNode* node)
{
    post([this, alive = FAlive, serial, batch, node] {
        if (*alive && serial == FBatchSerial && batch == FBatch)
            emit RowChanged(batch, node, false, node->Status.load(), QString(), 0);
    });
}

bool TznRunControl::printsResults() const
{
    return Project && Project->RunAndClose() && Project->PureConsole();
}

void TznRunControl::printLine(const QString& line)
{
    std::lock_guard lock(FPrintLock);
    const QByteArray bytes = EncodeText(line + u'\n');
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    std::fflush(stdout);
}

QString TznRunControl::StartRefusal(const QString& source, const QString& target) const
{
    if (QString reason = WebTargetError(source, target); !reason.isEmpty())
        return reason;
    if (Project && Project->RunAndClose())
        return RunRefusal(*Project, {});
    return {};
}

void TznRunControl::Refuse(const QString& reason)
{
    if (!Project || !Project->RunAndClose())
        return;
    printError(reason);
    FRefused = true;
}

void TznRunControl::printError(const QString& reason)
{
    const QByteArray bytes = EncodeText(QStringLiteral("leafpress: ") + WithoutCredentials(reason) + u'\n');
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stderr);
    std::fflush(stderr);
    FExitStatus = 2;
}

void TznRunControl::fileDone(quint64 serial, TznBatch* batch, TznNode* node)
{
    // The worker holding the node wrote these; the window gets copies.
    const int status = node->Status.load();
    const QString message = node->Message;
    const qint64 saved = SavedBytes(*node);
    if (FPrintResults) {
        printLine(RunnerResultLine(status, node->Path, message));
        std::lock_guard lock(FPrintLock);
        if (CountsBytes(*node)) {
            FTotals.BytesBefore += node->SourceSize;
            FTotals.BytesAfter += node->TargetSize;
        }
    }
    post([this, alive = FAlive, serial, batch, node, status, message, saved] {
        if (*alive && serial == FBatchSerial && batch == FBatch)
            emit RowChanged(batch, node, true, status, message, saved);
    });
}

void TznRunControl::setState(TznRunState state)
{
    FState = state;
    emit RunStateChanged(state);
}

void TznRunControl::Start(const QString& target)
{
    const quint64 serial = FBatchSerial;
    FConvertor = TznConvertor::StartConversion(
        FBatch, target,
        TznNodeEvent([this, serial](TznBatch* batch, TznNode* node) { fileDone(serial, batch, node); }));
    FRunning = FConvertor->WorkerCount();
    FConvertor->SetOnFinish(TznEvent([this, alive = FAlive] {
        if (*alive)
            guarded(this, [this] { onFinish(); });
    }));
    FStopped = false;
    FRefused = false;
    // Read here, on the control's thread; the workers only look at it.
    FPrintResults = printsResults();
    {
        std::lock_guard lock(FPrintLock);
        FTotals = TznRunTotals();
    }
    FClock.start();
    setState(TznRunState::Running);
    FConvertor->Start();
    if (Info)
        Info->Tally(RunCounterRuns, 0, 1);
}

void TznRunControl::Pause()
{
    if (!IsRunning())
        return;
    setState(TznRunState::Pausing);
    FConvertor->Stop();
}

void TznRunControl::Stop()
{
    FStopped = true;
    FDaemonTimer->stop();
    if (!IsRunning())
        return;
    setState(TznRunState::Stopping);
    if (FBatch)
        FBatch->Terminate();
    FConvertor->Stop();
}

void TznRunControl::onFinish()
{
    if (--FRunning > 0)
        return;
    FRunning = 0;
    const bool stopped = FState == TznRunState::Stopping;
    // The window brings its rows up to date from the nodes here: every
    // worker has let go of them, and the run is counted and logged next.
    setState(TznRunState::Idle);

    if (FBatch && Info) {
        guarded(this, [this] {
            Info->Tally(RunCounterDocuments, 0, FBatch->NodeCount());
            Info->Tally(RunCounterSuccesses, 0, FBatch->Successes());
            Info->Tally(RunCounterFailures, 0, FBatch->Failures());
        });
        if (FBatch->Failures() > 0)
            guarded(this, [this] { Info->OpenLink(QString(), FailureReport(FBatch->Reasons()), QString()); });
    }
    if (FBatch && FPrintResults) {
        TznRunTotals totals;
        {
            std::lock_guard lock(FPrintLock);
            totals = FTotals;
        }
        CountDocuments(*FBatch, totals);
        totals.ElapsedMs = FClock.elapsed();
        printLine(RunSummaryLine(totals));
    }
    if (stopped)
        freeBatch();
    emit RunEnded();
}

void TznRunControl::EndRun()
{
    if (!Project || !Project->RunAndClose())
        return;
    const QString logFile = Project->LogFile();
    const QString logError = LogFileError(logFile, Project->Source(), Project->Target(), Project->Subdir(),
                                          Project->RegExt(), Project->ProductCode);
    // A refused start wrote nothing, and its log is no exception. Nobody
    // watches an unattended run: a reason goes where its caller can read
    // it, and the run still ends.
    if (!FRefused && !logError.isEmpty()) {
        printError(logError);
    } else if (!FRefused && !logFile.isEmpty()) {
        try {
            WriteTextFile(logFile, ListLines ? ListLines() : QStringList());
        } catch (const EznError& error) {
            printError(QStringLiteral("the log file was not written: ") + error.Message());
        }
    }
    if (Project->Daemon() < 1) {
        emit CloseRequested();
        return;
    }
    // One pending repeat at most: a repeat that finds nothing to do ends
    // here again and only restarts the timer.
    if (!FStopped)
        FDaemonTimer->start(Project->Daemon());
}

void TznRunControl::CancelRepeat()
{
    FDaemonTimer->stop();
}

void TznRunControl::Shutdown()
{
    if (FShutDown)
        return;
    FShutDown = true;
    // Workers that end from here on find nobody to report to.
    *FAlive = false;
    FDaemonTimer->stop();
    if (FConvertor) {
        // Nobody is left to run OnFinish for: workers end without asking
        // the main thread.
        FConvertor->SetOnFinish(TznEvent());
        FConvertor->Stop();
    }
    if (FBatch)
        FBatch->Terminate();
    // Waits for the scanner and for every worker still holding the batch.
    freeBatch();
}
