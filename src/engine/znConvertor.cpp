#include "engine/znConvertor.h"

#include "platform/znDirSearch.h"
#include "platform/znFileTimes.h"
#include "platform/znLocalPath.h"
#include "platform/znMainThread.h"
#include "platform/znPath.h"
#include "project/znFileUtils.h"
#include "project/znProject.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUrl>

#include <algorithm>

std::atomic<int32_t> RunningWorkers{0};

// --- TznChain ---

int TznChain::WorkerCount() const
{
    std::lock_guard lock(FLock);
    return FWorkerCount;
}

int TznChain::AliveCount() const
{
    std::lock_guard lock(FLock);
    return static_cast<int>(std::count_if(FWorkers.begin(), FWorkers.end(), [](auto* w) { return w != nullptr; }));
}

void TznChain::SetOnFinish(const TznEvent& event)
{
    std::lock_guard lock(FLock);
    for (TznConvertor* w : FWorkers)
        if (w)
            w->FOnFinish = event;
}

void TznChain::Start()
{
    // A worker that ends at once waits for this lock before it is freed,
    // so no entry is freed while the loop runs.
    std::lock_guard lock(FLock);
    for (TznConvertor* w : FWorkers)
        if (w && !w->Started()) {
            w->FBatch->AttachWorker();
            w->Start();
        }
}

void TznChain::Stop()
{
    std::lock_guard lock(FLock);
    for (auto it = FWorkers.rbegin(); it != FWorkers.rend(); ++it)
        if (*it)
            (*it)->Terminate();
}

TznConvertor* TznChain::First() const
{
    std::lock_guard lock(FLock);
    return FWorkers.empty() ? nullptr : FWorkers.front();
}

// --- TznConvertor ---

namespace {

TznConvertor* createConvertor(TznBatch* batch, int count, const TznNodeEvent& callback)
{
    if (Project && Project->ConverterClass)
        return Project->ConverterClass(batch, count, callback);
    return new TznConvertor(batch, count, callback);
}

// The chain the first converter is building on this thread: the workers
// behind it are created one after another from a loop, never from inside
// each other's constructors, so a long chain needs no deep stack.
struct TznChainBuild
{
    TznChainRef Chain;
    TznConvertor* Last = nullptr; // the worker created last, first of the chain so far
};
thread_local TznChainBuild* gBuilding = nullptr;

} // namespace

TznConvertor::TznConvertor(TznBatch* batch, int count, const TznNodeEvent& callback)
    : TznWorkBase(batch)
    , FOnFileDone(callback)
    , FWorkerCount(std::clamp(count, 1, MaxWorkers))
    , FBatchLock(batch->SharedLock())
{
    if (gBuilding) {
        // One of the workers behind a first converter that is being built.
        FChain = gBuilding->Chain;
        FNextWorker = gBuilding->Last;
    } else {
        FChain = std::make_shared<TznChain>();
        if (FWorkerCount > 1) {
            TznChainBuild build{FChain, nullptr};
            gBuilding = &build;
            try {
                // From the end of the chain forward: counts 1, 2, ... so that
                // each new worker is the next one of the worker after it.
                for (int k = 1; k < FWorkerCount; ++k)
                    build.Last = createConvertor(batch, k, callback);
            } catch (...) {
                gBuilding = nullptr;
                // The workers already built never ran; the first of them
                // frees the others.
                delete build.Last;
                throw;
            }
            gBuilding = nullptr;
            FNextWorker = build.Last;
        }
    }
    std::lock_guard lock(FChain->FLock);
    FChain->FWorkers.insert(FChain->FWorkers.begin(), this);
    FChain->FWorkerCount = FWorkerCount;
}

TznConvertor::~TznConvertor()
{
    TznEvent finish;
    std::vector<TznConvertor*> unstarted;
    {
        std::lock_guard lock(FChain->FLock);
        auto& workers = FChain->FWorkers;
        const auto self = std::find(workers.begin(), workers.end(), this);
        if (self != workers.end())
            *self = nullptr;
        finish = FOnFinish;
        // A chain that never ran (its building failed half-way, or it was
        // given up) frees the rest of itself: every worker behind this one
        // that has not started either, one after another.
        // While the chain is being built, a worker whose own construction
        // failed leaves the rest to the builder.
        if (!Started() && !(gBuilding && gBuilding->Chain == FChain)) {
            for (TznConvertor* next = FNextWorker; next && !next->Started()
                 && std::find(workers.begin(), workers.end(), next) != workers.end();
                 next = next->FNextWorker)
                unstarted.push_back(next);
            for (TznConvertor* w : unstarted)
                w->FNextWorker = nullptr;
        }
    }
    if (!Started()) {
        for (TznConvertor* w : unstarted)
            delete w;
        return;
    }
    // From here on the batch itself is not touched: its owner may free it
    // in the last OnFinish or as soon as RunningWorkers reaches 0.
    FBatch->DetachWorker();
    // The main thread is never asked while this worker holds a lock.
    if (finish) {
        try {
            CallOnMainThreadAndWait(finish.Code);
        } catch (...) {
            // A failing handler must not keep the worker from ending.
        }
    }
    std::lock_guard lock(*FBatchLock);
    RunningWorkers.fetch_sub(1);
}

TznChainRef TznConvertor::StartConversion(TznBatch* batch, const QString& target, const TznNodeEvent& callback)
{
    QString folder = NormalizePath(target);
    // A target folder is joined with relative names, so it must end with
    // its delimiter.
    if (!folder.isEmpty())
        folder = IncludeTrailingDelimiter(folder);
    batch->SetTargetFolder(folder);
    const int count = std::clamp(Project ? Project->ThreadsCount() : 1, 1, MaxWorkers);
    return createConvertor(batch, count, callback)->Chain();
}

void TznConvertor::ProcessNode()
{
    ConvertFile(FBatch, FNode);
    FOnFileDone(FBatch, FNode);
}

void TznConvertor::ConvertFile(TznBatch*, TznNode*)
{
}

QString TznConvertor::AdjustTarget(const QString& path)
{
    return path;
}

QString TznConvertor::AppPath()
{
    return QString();
}

bool TznConvertor::HasMacros()
{
    return true;
}

QString WebDocumentName(const QString& address)
{
    const QUrl url(address);
    if (!url.isValid())
        return QString();
    // Encoded, so that an encoded "/" stays inside its segment and is
    // refused below instead of making a segment of its own.
    const QString path = url.path(QUrl::FullyEncoded);
    const QByteArray segment = QByteArray::fromPercentEncoding(path.mid(path.lastIndexOf(u'/') + 1).toLatin1());
    if (segment.isEmpty() || segment == "." || segment == "..")
        return QString();
    for (const char c : segment) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F || c == '/' || c == '\\')
            return QString();
    }
    return DecodeLocalPath(segment);
}

QString TargetRelativeName(const QString& path, const QString& sourceFolder, bool keepSubdirs, PathStyle style)
{
    const Qt::CaseSensitivity cs = style == PathStyle::Windows ? Qt::CaseInsensitive : Qt::CaseSensitive;
    // A web address has no folder here: only the document's own name is
    // taken, never a host, a query or a "..".
    if (style == PathStyle::Posix && IsWebSource(path))
        return WebDocumentName(path);
    QString name;
    // A path outside the source folder (added by hand to a scanned batch)
    // has no part below it; cutting it would give a mangled name.
    if (keepSubdirs && !sourceFolder.isEmpty() && path.startsWith(sourceFolder, cs))
        name = path.mid(sourceFolder.size());
    else
        name = FileNamePart(path, style);
    if (style == PathStyle::Windows) {
        name.replace(u':', u'_');
        name.replace(u'/', u'_');
    }
    return name;
}

QString RenamedTarget(const QString& target, const QString& productCode, PathStyle style)
{
    return FolderPart(target, style) + u'-' + productCode + u'-' + FileNamePart(target, style);
}

QString TznConvertor::TargetPath(TznBatch* batch, TznNode* node)
{
    const bool keepSubdirs = Project ? Project->KeepTargetSubdirs() : true;
    const QString relative = TargetRelativeName(node->Path, batch->SourceFolderOf(*node), keepSubdirs);
    if (IsWebSource(node->Path)) {
        // The address is the server's: only a name of a document the run
        // looks for may become a file here.
        const QString name = WebDocumentName(node->Path);
        const QString mask = Project ? Project->FileMask : QString();
        if (name.isEmpty() || !name.contains(u'.') || (!mask.isEmpty() && !MatchesWildcard(name, mask))) {
            node->Message = QStringLiteral("Cannot open \"%1\": the address names no document.")
                                .arg(WithoutCredentials(node->Path));
            node->Status = nsFailure;
            batch->AddFailure(node->Message);
            return QString();
        }
    }
    QString target = batch->TargetFolder() + relative;
    target = AdjustTarget(target);

    const QString folder = FolderPart(target);
    // The server saves through the folder's name as text: a folder name
    // that is not valid UTF-8 would be a different folder. Only the file
    // name may keep such bytes.
    if (HasRawBytes(folder)) {
        node->Message = QStringLiteral("Cannot save \"%1\": the folder's name is not valid UTF-8.")
                            .arg(ReadableLocalPath(target));
        node->Status = nsFailure;
        batch->AddFailure(node->Message);
        return QString();
    }
    if (!folder.isEmpty() && !QFileInfo(folder).isDir()) {
        QDir().mkpath(folder);
        if (!QFileInfo(folder).isDir())
            batch->AddFailure(QStringLiteral("CreateDir Failed: ") + folder);
    }

    const TznLocalFileInfo existing = LocalFileInfo(target);
    if (existing.Exists && !existing.IsDir) {
        switch (Project ? Project->IsOverwrite() : TznOverwrite::Overwrite) {
        case TznOverwrite::Rename:
            // The new name is not tested again: an older file of that name
            // is replaced.
            target = RenamedTarget(target, Project->ProductCode);
            break;
        case TznOverwrite::Skip:
            node->Status = nsSuccess;
            return QString();
        case TznOverwrite::Overwrite:
            break;
        }
    }
    return target;
}

void TznConvertor::DeleteTarget(const QString& path)
{
    QFile::remove(path);
}

bool IsSameFile(const QString& a, const QString& b)
{
    // Qt's file classes cannot name a file by raw bytes.
    if (HasRawBytes(a) || HasRawBytes(b)) {
        const auto ia = LocalFileIdentity(a), ib = LocalFileIdentity(b);
        if (ia && ib)
            return *ia == *ib;
    }
    const QString ca = QFileInfo(a).canonicalFilePath();
    const QString cb = QFileInfo(b).canonicalFilePath();
    if (!ca.isEmpty() && !cb.isEmpty())
        return ca == cb;
    const Qt::CaseSensitivity cs = NativePathStyle() == PathStyle::Windows ? Qt::CaseInsensitive : Qt::CaseSensitive;
    return QDir::cleanPath(QFileInfo(a).absoluteFilePath()).compare(QDir::cleanPath(QFileInfo(b).absoluteFilePath()), cs)
        == 0;
}

QString TznConvertor::FinishSource(TznBatch*, TznNode* node, const QString& target)
{
    // A dry run keeps its sources as they are, whatever the project says.
    if (!Project || Project->DryRun())
        return QString();
    const QString source = node->Path;
    if (Project->KeepFileTime())
        CopyFileTimes(source, target);
    // Compacted in place: the source is the result now, and deleting or
    // moving it would lose that.
    if (IsSameFile(source, target))
        return QString();
    // A web source is no file of ours to delete or move.
    if (!LocalFileInfo(source).Exists)
        return QString();
    QString reason;
    if (Project->DeleteSource()) {
        if (!RemoveLocalFile(source, &reason))
            return QStringLiteral(" (source not deleted: %1)").arg(reason);
        // Deleted: there is nothing left to rename.
        return QString();
    }
    const QString suffix = Project->RenameSource();
    if (!suffix.isEmpty()) {
        if (!RenameLocalFile(source, source + suffix, &reason))
            return QStringLiteral(" (source not renamed: %1)").arg(reason);
    }
    return QString();
}

QString TznConvertor::WorkPath(const QString& target)
{
    const QFileInfo info(target);
    const QString suffix = info.suffix();
    const QString name = ReserveLocalFileName(info.absolutePath(), WorkFilePrefix(),
                                              QStringLiteral(".tmp") + (suffix.isEmpty() ? QString() : u'.' + suffix));
    // A folder that takes no file: the save fails there and says why.
    if (name.isEmpty())
        return info.absolutePath() + u'/' + WorkFilePrefix() + QString::number(QDateTime::currentMSecsSinceEpoch())
               + QStringLiteral(".tmp.") + suffix;
    // Only the name is wanted: the save creates the file itself, with the
    // permissions of a new file rather than those of a private temporary.
    RemoveLocalFile(name);
    return name;
}

void TznConvertor::RemoveStaleWork(const QString& folder)
{
    const QString key = QDir::cleanPath(QFileInfo(folder).absoluteFilePath());
    QDateTime started;
    {
        std::lock_guard lock(FChain->FLock);
        if (FChain->FSweptFolders.contains(key))
            return;
        FChain->FSweptFolders.insert(key);
        // File times come from a coarse clock and may trail the run's
        // start by a few milliseconds; a save of this run is never that old.
        started = FChain->FStarted.addSecs(-2);
    }
    // The document server's save writes '.~lp-XXXXXX.tmp' (and the zip
    // library '.~lp-XXXXXX.tmp.XXXXXX' beside it); this worker saves to
    // '.~lp-XXXXXX.tmp.ext'. A killed save leaves any of them behind.
    // The owner's process id in the name tells a killed run's files, of any
    // age, from those of a run still saving here; of this process only what
    // is older than the run, and what no process holds open, ever goes.
    const qint64 self = QCoreApplication::applicationPid();
    const QFileInfoList stale = QDir(key).entryInfoList({QStringLiteral(".~lp-*.tmp*")},
                                                        QDir::Files | QDir::Hidden | QDir::System);
    for (const QFileInfo& file : stale) {
        const qint64 owner = WorkFileOwner(file.fileName());
        const bool ended = owner == 0 || (owner != self && !IsProcessRunning(owner));
        const bool earlier = owner == self && file.lastModified().toUTC() < started;
        if ((ended || earlier) && !TznFileUtils::IsFileOpen(file.absoluteFilePath()))
            QFile::remove(file.absoluteFilePath());
    }
}

void TznConvertor::CopyFileTimes(const QString& source, const QString& target)
{
    TznFileTimes times;
    if (ReadFileTimes(source, times))
        WriteFileTimes(target, times);
}
