#pragma once

#include "engine/znConvertor.h"

#include "engine/znRunReport.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <mutex>

class QTimer;

// The run control of the window, without any widget: it owns the batch, the
// converter chain's shared handle (converters are never freed here), the run
// state, the batch serials, the Daemon timer, the counters of the status
// line and the end of a run (counters, failure report, log file, repeat).
// The window keeps the rows and the buttons and follows the signals.
//
// States: Idle -Start-> Running; Running -Pause-> Pausing; Running or
// Pausing -Stop-> Stopping; any of the three -last worker ends-> Idle. A run
// that ends Stopping frees its batch; one that ends Pausing keeps it, so the
// next Start converts only the rest.
class TznRunControl : public QObject
{
    Q_OBJECT
public:
    enum class TznRunState { Idle, Running, Pausing, Stopping };

    explicit TznRunControl(QObject* parent = nullptr);
    ~TznRunControl() override;

    TznBatch* Batch() const { return FBatch; }
    TznRunState State() const { return FState; }
    // Workers of the current run have not all ended yet.
    bool IsRunning() const { return FRunning > 0; }
    // Whether the next Daemon repeat is scheduled.
    bool RepeatPending() const;

    // The status line's counters: rows done, failed, bytes saved.
    int Done() const { return FDone; }
    int Failed() const { return FFailed; }
    qint64 Saved() const { return FSaved; }
    // Counts one row whose result has just arrived.
    void CountResult(int status, qint64 savedBytes);

    // Frees the current batch and makes a new, empty one; counters to zero.
    void NewBatch();
    // Starts the workers on the current batch, writing into target.
    void Start(const QString& target);
    // Lets the workers end after their current document; the batch stays.
    void Pause();
    // Ends the Daemon cycle and, during a run, ends the run and its batch.
    void Stop();
    // The end of a run, or of a start that found nothing to do: for an
    // unattended project writes the log file from ListLines, then asks for
    // the window to close or schedules the next run.
    void EndRun();
    // Cancels the next Daemon repeat only.
    void CancelRepeat();
    // Stops every worker without waiting for OnFinish and frees the batch;
    // nothing is reported from then on.
    void Shutdown();

    // The lines of the log file: the window's rows.
    std::function<QStringList()> ListLines;

    // Why the next run must not start, or empty. Every run: a web source
    // whose target is no local folder. A run of an unattended project
    // (RunAndClose) also takes every check of the unattended runner
    // (RunRefusal): sources, RegExt, LogFile.
    QString StartRefusal(const QString& source, const QString& target) const;
    // A run that does not start: an unattended one tells its caller on
    // standard error and ends with status 2, writing no log.
    void Refuse(const QString& reason);
    // The process's exit status after the window closes: 2 after a
    // refused start or a log file that could not be written, else 0.
    int ExitStatus() const { return FExitStatus; }

signals:
    // A node of the current batch was listed (hasResult false) or its
    // document ended; on the control's thread.
    void RowChanged(TznBatch* batch, TznNode* node, bool hasResult, int status, const QString& message,
                    qint64 savedBytes);
    void RunStateChanged(TznRunControl::TznRunState state);
    // The last worker of a run has ended and the run is counted and logged.
    void RunEnded();
    // An unattended run without repeats is over.
    void CloseRequested();
    // The Daemon interval has passed.
    void RepeatDue();

private:
    void nodeAdded(quint64 serial, TznBatch* batch, TznNode* node);
    void fileDone(quint64 serial, TznBatch* batch, TznNode* node);
    void post(std::function<void()> apply);
    void onFinish();
    void setState(TznRunState state);
    void freeBatch();

    TznBatch* FBatch = nullptr;
    TznChainRef FConvertor;
    TznRunState FState = TznRunState::Idle;
    int FRunning = 0;
    bool FStopped = false;
    bool FShutDown = false;
    // Cleared at shut-down; calls handed to the control's thread check it.
    std::shared_ptr<bool> FAlive = std::make_shared<bool>(true);
    // Grows with every batch made or discarded.
    quint64 FBatchSerial = 0;
    QTimer* FDaemonTimer = nullptr;
    int FDone = 0;
    int FFailed = 0;
    qint64 FSaved = 0;
    int FExitStatus = 0;
    bool FRefused = false;
    // A project without a window (PureConsole) prints what the unattended
    // runner prints: a result line per document as it ends, on any
    // worker, and the summary line at the end.
    bool printsResults() const;
    bool FPrintResults = false;
    void printLine(const QString& line);
    // The reason on standard error; the exit status becomes 2.
    void printError(const QString& reason);
    std::mutex FPrintLock;
    TznRunTotals FTotals;
    QElapsedTimer FClock;
};
