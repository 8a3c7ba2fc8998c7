#include "runner/znMain.h"

#include "engine/znRunReport.h"
#include "info/znInfo.h"
#include "platform/znError.h"
#include "platform/znTextFile.h"
#include "project/znFileUtils.h"
#include "project/znProject.h"
#include "engine/znRunCheck.h"

#include <QThread>

#include <cstdio>

TznMain* Runner = nullptr;

namespace {

void printLine(FILE* stream, const QString& line)
{
    const QByteArray bytes = EncodeText(line + u'\n');
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
}

QString megabytes(qint64 bytes)
{
    return QString::number(double(bytes) / (1024.0 * 1024.0), 'f', 1) + QStringLiteral(" MB");
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
    if (Project->Target().isEmpty()) {
        printLine(stderr, QStringLiteral("leafpress: no target folder: set Target in the project "
                                         "or on the command line (-pTarget=FOLDER)"));
        return 2;
    }
    if (const QString reason = RefusalReason(); !reason.isEmpty()) {
        printLine(stderr, QStringLiteral("leafpress: ") + reason);
        return 2;
    }
    const QString target = Project->TargetFolder();
    // A folder the scanner cannot read is a result line of its own; its
    // node is complete as it is added and no worker reports it.
    Batch->OnNodeAdded = [this](TznBatch* batch, TznNode* node) {
        if (node->ListingFailure)
            OnFileDone(batch, node);
    };
    try {
        if (Files.isEmpty())
            Batch->StartScan(source, target, subdir);
        else
            ListFiles(target);
    } catch (const EznError& e) {
        printLine(stderr, QStringLiteral("leafpress: %1: %2").arg(target, e.Message()));
        return 2;
    }

    Converter = TznConvertor::StartConversion(Batch.get(), Project->TargetFolder(),
                                              TznNodeEvent(this, &TznMain::OnFileDone));
    RunningWorkers = Converter->WorkerCount();
    Converter->Start();
    if (Info)
        Info->Tally(RunCounterRuns, 0, 1);
    // The main thread only watches the count; a short poll lets a small
    // batch end as soon as its last worker has.
    while (RunningWorkers.load() > 0)
        QThread::msleep(5);
    return Finish();
}

void TznMain::OnFileDone(TznBatch*, TznNode* node)
{
    const QString line = RunnerResultLine(node->Status, node->Path, node->Message);
    std::lock_guard lock(FLogLock);
    LogLines << line;
    if (CountsBytes(*node)) {
        FBytesBefore += node->SourceSize;
        FBytesAfter += node->TargetSize;
    }
    printLine(stdout, line);
}

QString TznMain::RefusalReason() const
{
    const QString source = Project->Source();
    QString reason = SourceError(source);
    if (reason.isEmpty())
        reason = RegExtError(Project->RegExt());
    if (reason.isEmpty())
        reason = LogFileError(Project->LogFile(), source, Project->Target(), Project->Subdir(), Project->RegExt(),
                              Project->ProductCode);
    return reason;
}

int TznMain::Finish()
{
    const int count = Batch->NodeCount();
    if (Info) {
        Info->Tally(RunCounterDocuments, 0, count);
        Info->Tally(RunCounterSuccesses, 0, Batch->Successes());
        Info->Tally(RunCounterFailures, 0, Batch->Failures());
        if (Batch->Failures() > 0)
            Info->OpenLink(QString(), FailureReport(Batch->Reasons()), QString());
    }
    // The batch counts a failure for every reason recorded, so a document
    // can count twice there; the summary counts documents by their status.
    int successes = 0;
    int failures = 0;
    for (int i = 0; i < count; ++i) {
        const TznNode* node = Batch->NodeAt(i);
        successes += node->Status.load() == nsSuccess;
        failures += node->Status.load() == nsFailure;
    }
    printLine(stdout, QStringLiteral("%1 documents, %2 converted, %3 failed, %4 -> %5, %6 s")
                          .arg(count).arg(successes).arg(failures)
                          .arg(megabytes(FBytesBefore), megabytes(FBytesAfter))
                          .arg(double(FClock.elapsed()) / 1000.0, 0, 'f', 1));

    const QString logFile = Project->LogFile();
    if (logFile.isEmpty())
        return 0;
    try {
        WriteTextFile(logFile, LogLines);
    } catch (const EznError& e) {
        printLine(stderr, QStringLiteral("leafpress: the log file was not written: %1").arg(e.Message()));
        return 2;
    }
    return 0;
}

// A batch of documents named one by one (several sources on the command
// line), listed the way the window lists chosen files: no scanner, no
// source folder, every result straight in the target folder.
void TznMain::ListFiles(const QString& target)
{
    Batch->SetTargetFolder(target);
    for (qsizetype i = 0; i + 1 < Files.size(); ++i)
        Batch->AddFile(Files[i]);
    Batch->AddSingle(Files.last());
}
