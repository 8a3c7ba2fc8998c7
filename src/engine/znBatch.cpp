#include "engine/znBatch.h"

#include "engine/VBScriptRegex.h"
#include "engine/znConvertor.h"
#include "engine/znMatch.h"
#include "platform/znDirSearch.h"
#include "platform/znError.h"
#include "platform/znLocalPath.h"
#include "platform/znMainThread.h"
#include "project/znProject.h"

#include <QDir>
#include <QFileInfo>

#include <chrono>

std::atomic<bool> SkipLockFiles{false};

bool TznMatchBase::MatchName(const QString&, const QString&)
{
    return true;
}

QString MaskToPattern(const QString& mask)
{
    // One character after another, each step on the result of the one
    // before: "." first, so the dots that "*" and "?" bring in stay bare.
    static const std::pair<char16_t, const char16_t*> steps[] = {
        {u'.', u"\\."}, {u'*', u".*"}, {u'?', u".?"}, {u'+', u"\\+"}, {u'^', u"\\^"}, {u'$', u"\\$"},
        {u'(', u"\\("}, {u')', u"\\)"}, {u'[', u"\\["}, {u']', u"\\]"}, {u'{', u"\\{"}, {u'}', u"\\}"},
    };
    // Such a mask names no file, and its expression would cost the matcher
    // far more than any name is worth.
    if (mask.size() > MaxMaskLength)
        throw EznError(QStringLiteral("The file mask has %1 characters, more than the %2 a file name may have")
                           .arg(mask.size())
                           .arg(MaxMaskLength));
    QString pattern = mask;
    for (const auto& [from, to] : steps)
        pattern.replace(QChar(from), QString::fromUtf16(to));
    return pattern + u'$';
}

namespace {

// The path as the matcher sees it: a byte of a name that is not valid UTF-8
// is one character that no letter matches, where the regular expression
// engine would refuse the whole path as invalid text and match nothing.
QString matchableText(const QString& path)
{
    if (!HasRawBytes(path))
        return path;
    QString text = path;
    for (QChar& c : text)
        if (c.unicode() >= 0xDC80 && c.unicode() <= 0xDCFF)
            c = QChar::ReplacementCharacter;
    return text;
}

// True when path names something that exists and is neither a regular file
// nor a folder: a pipe, a device or a socket, which no scan lists.
bool isSpecialFile(const QString& path)
{
    const TznLocalFileInfo info = LocalFileInfo(path);
    return info.Exists && !info.IsFile && !info.IsDir;
}

bool hasWildcard(const QString& name)
{
    return name.contains(u'*') || name.contains(u'?');
}

// The failure of a source named by itself that is no document file.
QString notRegularReason(const QString& path)
{
    return QStringLiteral("Cannot open \"%1\": not a regular file").arg(ReadableLocalPath(path));
}

QString normalizeWindows(const QString& text)
{
    QString path = Regex::Replace(QStringLiteral("^file:/*"), text, QString(), 0);
    if (path.isEmpty())
        return path;
    path.replace(u'/', u'\\');
    const QChar first = path[0];
    if ((first >= u'1' && first <= u'9') || !path.contains(u':'))
        path.prepend(QStringLiteral("\\\\"));
    return path;
}

QString normalizePosix(const QString& text)
{
    qsizetype i = 5;
    while (i < text.size() && text[i] == u'/')
        ++i;
    const qsizetype slashes = i - 5;
    QString rest = text.mid(i);
    if (rest.isEmpty())
        return rest;
    if (slashes != 2)
        return u'/' + rest;
    // Two slashes: a host name comes first.
    const qsizetype end = rest.indexOf(u'/');
    const QString host = end < 0 ? rest : rest.left(end);
    const QString path = end < 0 ? QString() : rest.mid(end);
    if (host.compare(u"localhost", Qt::CaseInsensitive) == 0)
        return path;
    return QStringLiteral("//") + rest;
}

} // namespace

QString NormalizePath(const QString& text, PathStyle style)
{
    if (!text.startsWith(QLatin1String("file:")))
        return text;
    return style == PathStyle::Windows ? normalizeWindows(text) : normalizePosix(text);
}

// --- TznBatch ---

TznBatch::TznBatch()
    : TznThread(false)
    , FLock(std::make_shared<std::recursive_mutex>())
    , FMaskPattern(MaskToPattern(QString()))
{
}

TznBatch::~TznBatch()
{
    Terminate();
    WaitFor();
    const bool mainThread = IsMainThread();
    std::unique_lock lock(FSignalLock);
    while (FAttached > 0) {
        FSignal.wait_for(lock, std::chrono::milliseconds(5));
        if (mainThread) {
            // An ending worker may be waiting for its OnFinish to run here.
            lock.unlock();
            ServeMainThreadCalls();
            lock.lock();
        }
    }
    lock.unlock();
    for (TznNode* node : FNodes)
        delete node;
}

void TznBatch::prepareTarget(const QString& target)
{
    const PathStyle style = NativePathStyle();
    const QString targetFolder = NormalizePath(target);
    SetTargetFolder(targetFolder);

    if (!QFileInfo(targetFolder).isDir()) {
        // Without a drive or parent part there is nothing to create the
        // folder in: an empty target, or a bare name such as "out".
        QString bare = targetFolder;
        while (HasTrailingDelimiter(bare, style))
            bare.chop(1);
        if (bare.isEmpty() || FolderPart(bare, style).isEmpty()) {
            // No scan will ever fill this batch; a worker asking it for a
            // node must not wait for one.
            setListed();
            throw EznError(QStringLiteral("Unable to create directory"));
        }
        QDir().mkpath(targetFolder);
    }
}

void TznBatch::StartScan(const QString& source, const QString& target, bool subdirs)
{
    const PathStyle style = NativePathStyle();
    QString sourcePath = NormalizePath(source);
    prepareTarget(target);

    {
        std::lock_guard lock(*FLock);
        FMask = FileNamePart(sourcePath, style);
        FMaskPattern = MaskToPattern(FMask);
        FSourceFolder = FolderPart(sourcePath, style);
        FSubdirs = subdirs;
    }
    if (!Listed() && !Started())
        Start();
}

void TznBatch::StartScan(const QStringList& sources, const QString& target, bool subdirs)
{
    prepareTarget(target);
    QStringList normalized;
    for (const QString& source : sources) {
        // Every mask is turned into its expression now, so that one too
        // long for a file name is refused before anything is listed.
        MaskToPattern(FileNamePart(NormalizePath(source)));
        normalized << NormalizePath(source);
    }
    {
        std::lock_guard lock(*FLock);
        FSources = normalized;
        FSubdirs = subdirs;
    }
    if (normalized.isEmpty())
        setListed();
    if (!Listed() && !Started())
        Start();
}

void TznBatch::Execute()
{
    FRegExt = Project ? Project->RegExt() : QString();
    FSkipHidden = Project ? Project->SkipHidden() : false;
    const int allowed = FSkipHidden ? 0x1ED : 0x1EF;
    QString folder, mask, target;
    bool subdirs;
    bool several;
    {
        std::lock_guard lock(*FLock);
        folder = FSourceFolder;
        mask = FMask;
        subdirs = FSubdirs;
        target = FTargetFolder;
        several = !FSources.isEmpty();
    }
    try {
        if (several) {
            scanSources(target, allowed);
        } else if (!hasWildcard(mask) && isSpecialFile(folder + mask)) {
            // Named by itself, it would list nothing and leave no trace.
            AddListingFailure(folder + mask, notRegularReason(folder + mask));
        } else {
            prepareTargetRule(folder, target);
            Scan(folder, mask, subdirs, allowed);
        }
    } catch (...) {
        // An error of OnNodeAdded ends the walk; what was listed stays.
    }
    setListed();
}

void TznBatch::scanSources(const QString& target, int allowed)
{
    const PathStyle style = NativePathStyle();
    FKeepSubdirs = Project ? Project->KeepTargetSubdirs() : true;
    for (const QString& source : FSources) {
        if (Terminated())
            return;
        // By its bytes: Qt's file classes do not find a name that is not
        // valid UTF-8.
        const TznLocalFileInfo info = LocalFileInfo(source);
        if (info.Exists && !info.IsDir && !hasWildcard(FileNamePart(source, style))) {
            // A document given by itself: its target is its file name.
            if (info.IsFile)
                addFromSource(source, QString(), MaskToPattern(QString()));
            else
                AddListingFailure(source, notRegularReason(source));
            continue;
        }
        const QString folder = FolderPart(source, style);
        const QString mask = FileNamePart(source, style);
        FWalkPattern = MaskToPattern(mask);
        // Each source is a walk of its own: a folder another source walked
        // with another mask is walked again.
        FVisited.clear();
        prepareTargetRule(folder, target);
        Scan(folder, mask, FSubdirs, allowed);
    }
}

void TznBatch::listFile(const QString& path)
{
    if (FSources.isEmpty())
        AddFile(path);
    else
        addFromSource(path, FWalkRoot, FWalkPattern);
}

void TznBatch::addFromSource(const QString& path, const QString& root, const QString& maskPattern)
{
    if (!accept(path, root, maskPattern) || FSeen.contains(path))
        return;
    FSeen.insert(path);
    const QString name = TargetRelativeName(path, root, FKeepSubdirs);
    const QString key = NativePathStyle() == PathStyle::Windows ? name.toCaseFolded() : name;
    const auto taken = FTargetNames.constFind(key);
    if (taken != FTargetNames.cend()) {
        QString folder;
        {
            std::lock_guard lock(*FLock);
            folder = FTargetFolder;
        }
        AddListingFailure(path, QStringLiteral("Not converted: its target \"%1\" is already that of \"%2\"")
                                    .arg(ReadableLocalPath(IncludeTrailingDelimiter(folder) + name),
                                         ReadableLocalPath(taken.value())));
        return;
    }
    FTargetNames.insert(key, path);
    appendNode(path, root);
}

void TznBatch::prepareTargetRule(const QString& root, const QString& target)
{
    FWalkRoot = root;
    FTargetIdentity = target.isEmpty() ? std::nullopt : FolderIdentity(target);
    const QString canonicalRoot = QFileInfo(root.isEmpty() ? QStringLiteral(".") : root).canonicalFilePath();
    const QString canonicalTarget = target.isEmpty() ? QString() : QFileInfo(target).canonicalFilePath();
    const Qt::CaseSensitivity cs = NativePathStyle() == PathStyle::Windows ? Qt::CaseInsensitive : Qt::CaseSensitive;
    FInTarget = !canonicalRoot.isEmpty() && !canonicalTarget.isEmpty()
        && (canonicalRoot.compare(canonicalTarget, cs) == 0
            || canonicalRoot.startsWith(IncludeTrailingDelimiter(canonicalTarget, PathStyle::Posix), cs));
    const QString code = Project ? Project->ProductCode : QString();
    FOwnPrefix = code.isEmpty() ? QString() : u'-' + code + u'-';
}

void TznBatch::Scan(const QString& folder, const QString& mask, bool subdirs, int allowed)
{
    if (const auto id = FolderIdentity(folder)) {
        if (!FVisited.insert(*id).second)
            return;
        // The target of a run below its source: what lies there are results.
        if (folder != FWalkRoot && FTargetIdentity && *id == *FTargetIdentity)
            return;
    }
    const QChar delimiter = PathDelimiter();

    QString error;
    const std::vector<TznSearchRec> entries = FindEntries(folder, mask, allowed, &error);
    if (!error.isEmpty()) {
        // A source folder that does not exist lists nothing; the front ends
        // tell the user before they start.
        if (folder != FWalkRoot || QFileInfo::exists(folder))
            AddListingFailure(folder,
                              QStringLiteral("Cannot read the folder \"%1\": %2").arg(ReadableLocalPath(folder), error));
        return;
    }
    for (const TznSearchRec& rec : entries) {
        if (rec.Name != u"." && rec.Name != u".." && (rec.Attr & faBasic & ~allowed) == 0
            && !(SkipLockFiles.load(std::memory_order_relaxed) && rec.Name.startsWith(QLatin1String("~$")))
            && !(FInTarget && !FOwnPrefix.isEmpty() && rec.Name.startsWith(FOwnPrefix)))
            listFile(folder + rec.Name);
        if (Terminated())
            return;
    }
    if (Terminated() || !subdirs)
        return;
    for (const TznSearchRec& rec : FindEntries(folder, QStringLiteral("*.*"), faDirectory)) {
        if (rec.Name != u"." && rec.Name != u".." && (rec.Attr & faDirectory))
            Scan(folder + rec.Name + delimiter, mask, subdirs, allowed);
        if (Terminated())
            return;
    }
}

bool TznBatch::AcceptFile(const QString& path)
{
    QString folder, maskPattern;
    {
        std::lock_guard lock(*FLock);
        folder = FSourceFolder;
        maskPattern = FMaskPattern;
    }
    return accept(path, folder, maskPattern);
}

bool TznBatch::accept(const QString& path, const QString& root, const QString& maskPattern)
{
    if (Shard.IsSplit()) {
        const QString relative = !root.isEmpty() && path.startsWith(root) ? path.mid(root.size()) : FileNamePart(path);
        if (!Shard.Keeps(relative))
            return false;
    }
    if (!Matcher)
        return true;
    const QString text = matchableText(path);
    bool r = Matcher->MatchName(text, maskPattern);
    if (r && !FRegExt.isEmpty())
        r = Matcher->MatchName(text, FRegExt);
    return r;
}

void TznBatch::AddFile(const QString& path)
{
    if (!AcceptFile(path))
        return;
    appendNode(path, QString());
}

void TznBatch::appendNode(const QString& path, const QString& root)
{
    TznNode* node;
    {
        std::lock_guard lock(*FLock);
        node = new TznNode(static_cast<int32_t>(FNodes.size()), path);
        node->Root = root;
        FNodes.push_back(node);
    }
    signal();
    std::this_thread::yield();
    OnNodeAdded(this, node);
}

void TznBatch::AddListingFailure(const QString& path, const QString& reason)
{
    TznNode* node;
    {
        std::lock_guard lock(*FLock);
        node = new TznNode(static_cast<int32_t>(FNodes.size()), path, reason);
        FNodes.push_back(node);
    }
    AddFailure(reason);
    signal();
    OnNodeAdded(this, node);
}

void TznBatch::AddSingle(const QString& path)
{
    AddFile(path);
    setListed();
}

void TznBatch::setListed()
{
    FListed.store(true, std::memory_order_release);
    signal();
}

void TznBatch::signal()
{
    {
        std::lock_guard lock(FSignalLock);
        ++FGeneration;
    }
    FSignal.notify_all();
}

TznNode* TznBatch::NextNode()
{
    for (;;) {
        // Listed is read before the list is looked at: a node appended
        // before the listing ended is always handed out.
        const bool listed = Listed();
        uint64_t seen;
        {
            std::lock_guard lock(FSignalLock);
            seen = FGeneration;
        }
        {
            std::lock_guard lock(*FLock);
            while (FNext < static_cast<int32_t>(FNodes.size()) && FNodes[static_cast<size_t>(FNext)]->ListingFailure)
                ++FNext;
            if (FNext < static_cast<int32_t>(FNodes.size()))
                return FNodes[static_cast<size_t>(FNext++)];
        }
        if (listed) {
            FDrained.store(true, std::memory_order_release);
            return nullptr;
        }
        std::unique_lock lock(FSignalLock);
        // The time-out is only a safety net; every append and the end of
        // the listing wake the waiters.
        FSignal.wait_for(lock, std::chrono::milliseconds(100), [&] { return FGeneration != seen; });
    }
}

int TznBatch::NodeCount() const
{
    std::lock_guard lock(*FLock);
    return static_cast<int>(FNodes.size());
}

TznNode* TznBatch::NodeAt(int index) const
{
    std::lock_guard lock(*FLock);
    return index >= 0 && index < static_cast<int>(FNodes.size()) ? FNodes[static_cast<size_t>(index)] : nullptr;
}

void TznBatch::AddSuccess()
{
    std::lock_guard lock(*FLock);
    ++FSuccesses;
}

void TznBatch::AddFailure(const QString& reason)
{
    std::lock_guard lock(*FLock);
    ++FFailures;
    if (!FReasons.contains(reason, Qt::CaseInsensitive))
        FReasons.append(reason);
}

int TznBatch::Successes() const
{
    std::lock_guard lock(*FLock);
    return FSuccesses;
}

int TznBatch::Failures() const
{
    std::lock_guard lock(*FLock);
    return FFailures;
}

QStringList TznBatch::Reasons() const
{
    std::lock_guard lock(*FLock);
    return FReasons;
}

const std::vector<TznNode*>& TznBatch::LockNodes() const
{
    FLock->lock();
    return FNodes;
}

void TznBatch::UnlockNodes() const
{
    FLock->unlock();
}

QString TznBatch::SourceFolder() const
{
    std::lock_guard lock(*FLock);
    return FSourceFolder;
}

QString TznBatch::SourceFolderOf(const TznNode& node) const
{
    std::lock_guard lock(*FLock);
    return FSources.isEmpty() ? FSourceFolder : node.Root;
}

QString TznBatch::Mask() const
{
    std::lock_guard lock(*FLock);
    return FMask;
}

QString TznBatch::TargetFolder() const
{
    std::lock_guard lock(*FLock);
    return FTargetFolder;
}

void TznBatch::SetTargetFolder(const QString& folder)
{
    std::lock_guard lock(*FLock);
    FTargetFolder = folder;
}

void TznBatch::AttachWorker()
{
    std::lock_guard lock(FSignalLock);
    ++FAttached;
}

void TznBatch::DetachWorker()
{
    // Notified under the lock: once it is released the owner may free the
    // batch, so nothing of it is touched after that.
    std::lock_guard lock(FSignalLock);
    --FAttached;
    FSignal.notify_all();
}

// --- TznWorkBase ---

TznWorkBase::TznWorkBase(TznBatch* batch)
    : TznThread(true)
    , FBatch(batch)
{
}

void TznWorkBase::Execute()
{
    while (!Terminated()) {
        FNode = FBatch->NextNode();
        if (!FNode) {
            Terminate();
            break;
        }
        try {
            ProcessNode();
        } catch (const EznError& e) {
            FNode->Message = e.Message();
        }
    }
}

void TznWorkBase::ProcessNode()
{
}
