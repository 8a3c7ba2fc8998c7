#include "runner/znMain.h"

#include "engine/znRunReport.h"
#include "info/znInfo.h"
#include "platform/znError.h"
#include "platform/znPath.h"
#include "platform/znTextFile.h"
#include "project/znFileUtils.h"
#include "project/znProject.h"
#include "engine/znRunCheck.h"
#include "runner/znJsonReport.h"
#include "runner/znProgressLine.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QThread>

#include <cstdio>

TznMain* Runner = nullptr;

namespace {

// Every line goes out without the credentials of a web address.
void printLine(FILE* stream, const QString& line)
{
    const QByteArray bytes = EncodeText(WithoutCredentials(line) + u'\n');
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
}

} // namespace

TznMain::TznMain() = default;

TznMain::~TznMain()
{
    // The workers use the batch: they have all ended before Run returns, and
    // the batch is only freed here.
    Batch.reset();
}

int TznMain::Run()
{
    FClock.start();
    LogLines.clear();
    Batch = std::make_unique<TznBatch>();

    const bool subdir = Project->Subdir();
    const QString source = Project->Source();
    const bool dryRun = Project->DryRun();
    if (Project->Target().isEmpty() && !dryRun) {
        printLine(stderr, QStringLiteral("leafpress: no target folder: set Target in the project "
                                         "or on the command line (-pTarget=FOLDER)"));
        return 2;
    }
    if (const QString reason = RefusalReason(); !reason.isEmpty()) {
        // A missing source is most often a typing error or a mask the shell
        // expanded into names.
        const bool missing = reason.endsWith(QStringLiteral("does not exist"));
        printLine(stderr, QStringLiteral("leafpress: ") + reason
                              + (missing ? QStringLiteral(": check the path, or quote a mask") : QString()));
        return 2;
    }
    QString shardError;
    if (!ParseShard(Project->Shard(), Batch->Shard, shardError)) {
        printLine(stderr, QStringLiteral("leafpress: ") + shardError);
        return 2;
    }
    QString target;
    if (dryRun) {
        // Results go to a private folder, are measured and removed; the
        // lines name the target they would have had.
        FDryFolder = std::make_unique<QTemporaryDir>();
        if (!FDryFolder->isValid()) {
            printLine(stderr, QStringLiteral("leafpress: no temporary folder for the dry run: ")
                                  + FDryFolder->errorString());
            return 2;
        }
        target = FDryPrefix = QDir(FDryFolder->path()).absolutePath() + u'/';
        FShownTarget = Project->Target().isEmpty() || ResultsInPlace
                           ? QString()
                           : IncludeTrailingDelimiter(NormalizePath(Project->Target()));
    } else {
        target = Project->TargetFolder();
    }
    FProgress = std::make_unique<TznProgressLine>(stderr, Quiet);
    // A folder the scanner cannot read is a result line of its own; its
    // node is complete as it is added and no worker reports it.
    Batch->OnNodeAdded = [this](TznBatch* batch, TznNode* node) {
        if (node->ListingFailure)
            OnFileDone(batch, node);
    };
    try {
        if (Sources.isEmpty())
            Batch->StartScan(source, target, subdir);
        else
            Batch->StartScan(Sources, target, subdir);
    } catch (const EznError& e) {
        // The target comes first while it is not a folder (the error is
        // about it); a refused mask is told by its own message.
        if (QFileInfo(target).isDir())
            printLine(stderr, QStringLiteral("leafpress: ") + e.Message());
        else
            printLine(stderr, QStringLiteral("leafpress: %1: %2").arg(target, e.Message()));
        return 2;
    }

    Converter = TznConvertor::StartConversion(Batch.get(), target,
                                              TznNodeEvent(this, &TznMain::OnFileDone));
    RunningWorkers = Converter->WorkerCount();
    Converter->Start();
    if (Info)
        Info->Tally(RunCounterRuns, 0, 1);
    // The main thread only watches the count; a short poll lets a small
    // batch end as soon as its last worker has.
    while (RunningWorkers.load() > 0) {
        QThread::msleep(5);
        showProgress();
    }
    return Finish();
}

void TznMain::showProgress()
{
    if (!FProgress || !FProgress->Enabled())
        return;
    TznProgressCounts counts;
    counts.Listed = Batch->NodeCount();
    counts.Listing = !Batch->Listed();
    counts.ElapsedMs = FClock.elapsed();
    std::lock_guard lock(FLogLock);
    counts.Done = FDone;
    counts.Failures = FFailed;
    counts.SavedBytes = FBytesBefore - FBytesAfter;
    FProgress->Show(counts);
}

void TznMain::OnFileDone(TznBatch* batch, TznNode* node)
{
    QString message = node->Message;
    if (!FDryPrefix.isEmpty()) {
        // A dry run's result has been measured: it goes at once, so that a
        // long run needs no more room than its largest documents.
        const qsizetype at = message.indexOf(FDryPrefix);
        if (at >= 0) {
            QFile::remove(message.mid(at));
            // Without a target the run it stands for compacts in place: the
            // result keeps its place below its own source's folder.
            QString shown = FShownTarget;
            if (shown.isEmpty()) {
                shown = batch ? batch->SourceFolderOf(*node) : QString();
                if (shown.isEmpty())
                    shown = FolderPart(node->Path);
            }
            message.replace(at, FDryPrefix.size(), shown);
        }
    }
    const QString line = RunnerResultLine(node->Status, node->Path, message);
    std::lock_guard lock(FLogLock);
    LogLines << line;
    ++FDone;
    FFailed += node->Status == nsFailure;
    if (CountsBytes(*node)) {
        FBytesBefore += node->SourceSize;
        FBytesAfter += node->TargetSize;
    }
    if (FProgress)
        FProgress->Clear();
    if (Json)
        printLine(stdout, QString::fromUtf8(JsonDocumentRecord(*node, message)));
    else
        printLine(stdout, line);
}

QString TznMain::RefusalReason() const
{
    return RunRefusal(*Project, Sources);
}

int TznMain::Finish()
{
    const int count = Batch->NodeCount();
    if (Info) {
        Info->Tally(RunCounterDocuments, 0, count);
        Info->Tally(RunCounterSuccesses, 0, Batch->Successes());
        Info->Tally(RunCounterFailures, 0, Batch->Failures());
        if (Batch->Failures() > 0 && ReportFailures)
            Info->OpenLink(QString(), FailureReport(Batch->Reasons()), QString());
    }
    TznRunTotals totals;
    CountDocuments(*Batch, totals);
    totals.BytesBefore = FBytesBefore;
    totals.BytesAfter = FBytesAfter;
    totals.ElapsedMs = FClock.elapsed();
    totals.DryRun = FDryFolder != nullptr;
    if (FProgress)
        FProgress->Clear();
    if (Json)
        printLine(stdout, QString::fromUtf8(JsonSummaryRecord(totals)));
    else
        printLine(stdout, RunSummaryLine(totals));
    // The private folder and whatever a failed save left in it.
    FDryFolder.reset();

    // Counted by status, so that a document reported twice in the batch's
    // failure count or one no worker finished still decides it.
    const int status = FailureStatus && totals.Converted + totals.Skipped < totals.Documents ? 1 : 0;
    const QString logFile = Project->LogFile();
    if (logFile.isEmpty())
        return status;
    try {
        WriteTextFile(logFile, LogLines);
    } catch (const EznError& e) {
        printLine(stderr, QStringLiteral("leafpress: the log file was not written: %1").arg(e.Message()));
        return 2;
    }
    return status;
}
