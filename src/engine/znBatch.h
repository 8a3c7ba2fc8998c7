#pragma once

#include "engine/znShard.h"
#include "engine/znThread.h"
#include "platform/znPath.h"

#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <type_traits>
#include <set>
#include <utility>
#include <vector>

class TznBatch;

// Decides whether a found file belongs to a batch. The base accepts everything.
class TznMatchBase
{
public:
    virtual ~TznMatchBase() = default;
    // True when path matches the expression pattern; never raises.
    virtual bool MatchName(const QString& path, const QString& pattern);
};

// The longest file mask taken: a mask is the file-name part of a path, and
// no file system keeps a longer name.
inline constexpr int MaxMaskLength = 255;

// The expression of a file mask: ".", "+", "^", "$", "(", ")", "[", "]",
// "{", "}" escaped, "*" as ".*", "?" as ".?", anchored at the end only.
// Raises EznError for a mask longer than MaxMaskLength.
QString MaskToPattern(const QString& mask);

// Node status values.
enum : int32_t { nsPending = 0, nsSuccess = 1, nsFailure = 2 };

// One document of a batch. Created and owned by the batch; Status and
// Message are written by the worker holding the node.
class TznNode
{
public:
    TznNode(int32_t index, QString path) : Index(index), Path(std::move(path)) {}
    // An entry the scanner could not list (a folder it cannot read): it is
    // a failure with its reason from the start, and no worker takes it.
    TznNode(int32_t index, QString path, QString reason)
        : Status(nsFailure), Index(index), Path(std::move(path)), Message(std::move(reason)), ListingFailure(true)
    {
    }

    std::atomic<int32_t> Status{nsPending};
    const int32_t Index;
    const QString Path;
    QString Message;
    // Sizes in bytes of the source and of the saved result, -1 until the
    // converter knows them; written by the worker holding the node.
    qint64 SourceSize = -1;
    qint64 TargetSize = -1;
    // Set for a node made by AddListingFailure; its Status and Message never
    // change, so a front end may report it as soon as it is added.
    const bool ListingFailure = false;
    // In a batch of several sources, the folder of the source the node came
    // from (with its delimiter; empty for a document given by itself). Set
    // before the node is appended, never changed after.
    QString Root;
};

// A callback bound to an object, called as (batch, node).
struct TznNodeEvent
{
    std::function<void(TznBatch*, TznNode*)> Code;

    TznNodeEvent() = default;
    // Any callable taking (batch, node).
    template <class F, class = std::enable_if_t<std::is_invocable_v<F&, TznBatch*, TznNode*>>>
    TznNodeEvent(F code) : Code(std::move(code)) {}
    // The method of obj as the callback.
    template <class T>
    TznNodeEvent(T* obj, void (T::*method)(TznBatch*, TznNode*))
        : Code([obj, method](TznBatch* b, TznNode* n) { (obj->*method)(b, n); }) {}

    explicit operator bool() const { return static_cast<bool>(Code); }
    // Does nothing when empty.
    void operator()(TznBatch* batch, TznNode* node) const
    {
        if (Code)
            Code(batch, node);
    }
};

// While on, files whose names begin with "~$" are never listed.
extern std::atomic<bool> SkipLockFiles;

// A file address turned into a path; any other text unchanged. Windows:
// "file:" and its slashes removed, "/" as "\", "\\" in front when the rest
// starts with a digit 1-9 or holds no ":". POSIX: file:///p and
// file://localhost/p give /p, file://host/p gives //host/p. An address with
// nothing after its slashes gives the empty text.
QString NormalizePath(const QString& text, PathStyle style = NativePathStyle());

// The list of files of one run and the place where workers take their work.
// A folder batch is filled by its own scanner thread (StartScan); a batch
// of chosen files by AddSingle. The owner destroys it, after its workers.
class TznBatch : public TznThread
{
public:
    TznBatch();
    // Stops the scanner and waits for it, waits until every started worker
    // has let go of the batch (it does before its OnFinish; main-thread
    // calls are served meanwhile when this runs on the main thread), then
    // frees the nodes.
    ~TznBatch() override;

    // Called after each node is appended, on the appending thread, without
    // the batch lock. Set it before StartScan or AddSingle.
    TznNodeEvent OnNodeAdded;

    // Normalises source and target, creates a missing target folder, splits
    // the source into folder and mask and starts the scanner (at most once).
    // Raises EznError "Unable to create directory" for an empty target or a
    // bare relative folder name that does not exist; the batch is then
    // marked listed and nothing is scanned.
    void StartScan(const QString& source, const QString& target, bool subdirs);
    // Several sources as one batch, listed by the scanner in the order
    // given: a source naming an existing file is that document by itself;
    // any other is split into folder and mask and walked as the source of
    // StartScan is. Each node's Root is its source's folder, so that its
    // target keeps the layout below that folder. A document met again is
    // listed once; a document whose target name another document of the
    // batch already has is a listing failure (both would be saved under the
    // same name). The target as in StartScan.
    void StartScan(const QStringList& sources, const QString& target, bool subdirs);
    // Appends a node for path when AcceptFile accepts it.
    void AddFile(const QString& path);
    // AddFile, then the listing is complete.
    void AddSingle(const QString& path);
    // Appends a node that failed as it was listed, with reason as its
    // message, and counts the failure. NextNode never hands it out.
    void AddListingFailure(const QString& path, const QString& reason);
    // The shard test on the path below the source folder (the file name
    // for chosen files), then the mask test and the RegExt test, both on
    // the whole path.
    bool AcceptFile(const QString& path);
    // The part of the batch this process takes; set it before StartScan or
    // AddSingle.
    TznShard Shard;

    // The next node in listing order, each exactly once (listing failures
    // left out); waits while the
    // list is empty but still growing; none once listing is complete and
    // every node was handed out (then Drained is true).
    TznNode* NextNode();
    // Number of nodes, read under the lock.
    int NodeCount() const;
    // The node at index, or none.
    TznNode* NodeAt(int index) const;

    void AddSuccess();
    // Counts a failure; the reason is kept once (letter case ignored).
    void AddFailure(const QString& reason);
    int Successes() const;
    int Failures() const;
    // Distinct failure reasons in order of first occurrence.
    QStringList Reasons() const;

    // A worker asked for a node after listing had ended and none was left.
    bool Drained() const { return FDrained.load(std::memory_order_acquire); }
    // No node will be added any more.
    bool Listed() const { return FListed.load(std::memory_order_acquire); }

    // Takes the batch lock (re-entrant) and gives the node list.
    const std::vector<TznNode*>& LockNodes() const;
    void UnlockNodes() const;

    // A started worker holds the batch from its start until it has nothing
    // more to do with it but its OnFinish and the RunningWorkers decrement,
    // so that the owner may free the batch as soon as a run has ended.
    void AttachWorker();
    void DetachWorker();
    // The batch lock itself, which outlives the batch while a worker still
    // needs it for its last step.
    std::shared_ptr<std::recursive_mutex> SharedLock() const { return FLock; }

    // Folder part of the source with its delimiter; empty for chosen files.
    QString SourceFolder() const;
    // The folder below which node's target name is taken: its Root in a
    // batch of several sources, else SourceFolder.
    QString SourceFolderOf(const TznNode& node) const;
    QString TargetFolder() const;
    void SetTargetFolder(const QString& folder);
    // File-name part of the source given to StartScan.
    QString Mask() const;

protected:
    // The scanner: reads RegExt and SkipHidden, walks, marks the list complete.
    void Execute() override;
    // Lists the files of folder (it ends with a delimiter), then walks its
    // sub-folders depth first when subdirs. The run's target folder is never
    // entered, and inside it files the product named ("-" + product code +
    // "-" at the start) are never listed: results are not sources. A folder
    // that cannot be read is a listing failure (the source folder itself
    // only when it exists).
    void Scan(const QString& folder, const QString& mask, bool subdirs, int allowed);

private:
    // Normalises and sets the target folder, creating it when missing.
    void prepareTarget(const QString& target);
    // The shard test on path below root, then the mask and RegExt tests.
    bool accept(const QString& path, const QString& root, const QString& maskPattern);
    void appendNode(const QString& path, const QString& root);
    // A file found by the walk: AddFile, or in a batch of several sources
    // addFromSource with the walk's folder and mask.
    void listFile(const QString& path);
    // Walks every source of a batch of several sources.
    void scanSources(const QString& target, int allowed);
    void addFromSource(const QString& path, const QString& root, const QString& maskPattern);
    void setListed();
    // Fills FWalkRoot, FTargetIdentity, FInTarget and FOwnPrefix for a walk from root.
    void prepareTargetRule(const QString& root, const QString& target);
    void signal();

    // The batch lock. std::recursive_mutex rather than Qt's so that thread
    // checkers see every hand-over.
    const std::shared_ptr<std::recursive_mutex> FLock;
    std::vector<TznNode*> FNodes;
    int32_t FNext = 0;
    int32_t FSuccesses = 0;
    int32_t FFailures = 0;
    QStringList FReasons;

    std::atomic<bool> FDrained{false};
    std::atomic<bool> FListed{false};

    // Wakes workers waiting in NextNode; FGeneration grows with every
    // appended node and when listing ends.
    std::mutex FSignalLock;
    std::condition_variable FSignal;
    uint64_t FGeneration = 0;
    int FAttached = 0; // guarded by FSignalLock

    QString FMask;
    QString FMaskPattern;
    bool FSubdirs = false;
    QString FRegExt;
    bool FSkipHidden = false;
    QString FSourceFolder;
    QString FTargetFolder;
    // The sources of a batch of several sources; empty otherwise. Set
    // before the scanner starts.
    QStringList FSources;
    // Used only by the scanner of several sources: the mask expression of
    // the walk, the documents listed so far, and each target name taken
    // with the document that took it.
    QString FWalkPattern;
    bool FKeepSubdirs = true;
    QSet<QString> FSeen;
    QHash<QString, QString> FTargetNames;
    // Folders entered by this walk, so that linked folders are listed once.
    std::set<std::pair<uint64_t, uint64_t>> FVisited;
    // Set by the scanner thread before the walk, used only by it: the
    // walk's first folder, the target folder's identity, whether the walk
    // lies inside the target folder, and the prefix of the product's names.
    QString FWalkRoot;
    std::optional<std::pair<uint64_t, uint64_t>> FTargetIdentity;
    bool FInTarget = false;
    QString FOwnPrefix;
};

// A worker thread that takes nodes from a batch until none is left; frees
// itself when its body ends.
class TznWorkBase : public TznThread
{
public:
    explicit TznWorkBase(TznBatch* batch);

protected:
    // The worker loop: NextNode, ProcessNode, until none is left or a
    // terminate request is pending. An EznError escaping ProcessNode is
    // written into the node's Message and the loop goes on.
    void Execute() override;
    // One node; does nothing here.
    virtual void ProcessNode();

    TznBatch* const FBatch;
    TznNode* FNode = nullptr;
};
