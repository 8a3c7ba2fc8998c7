#pragma once

#include "engine/znConvertor.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>

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
};
