#pragma once

#include "engine/znBatch.h"

#include <QDateTime>
#include <QSet>
#include <QString>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <type_traits>
#include <vector>

// A callback bound to an object, without parameters.
struct TznEvent
{
    std::function<void()> Code;

    TznEvent() = default;
    template <class F, class = std::enable_if_t<std::is_invocable_v<F&>>>
    TznEvent(F code) : Code(std::move(code)) {}
    // The method of obj as the callback.
    template <class T>
    TznEvent(T* obj, void (T::*method)()) : Code([obj, method] { (obj->*method)(); }) {}

    explicit operator bool() const { return static_cast<bool>(Code); }
    void operator()() const
    {
        if (Code)
            Code();
    }
};

// Converter workers still alive. The unattended runner sets it to the
// chain's WorkerCount before Start; every worker takes one off as it ends,
// under its batch's lock.
extern std::atomic<int32_t> RunningWorkers;

class TznConvertor;

// The most workers a chain has, whatever ThreadsCount asks: each worker
// drives a document engine of its own, and more than this only costs memory.
inline constexpr int MaxWorkers = 64;

// The bookkeeping a chain of workers shares with the front end that started
// it. Workers free themselves, so the front end keeps this handle, never a
// worker: every operation here skips the workers that have already ended.
class TznChain
{
public:
    // Number of workers the chain was built with, at least 1.
    int WorkerCount() const;
    // Workers that have not ended yet.
    int AliveCount() const;
    // Sets OnFinish of every worker still alive; before Start, or during a
    // run to change what the workers that have not ended yet will call.
    void SetOnFinish(const TznEvent& event);
    // Starts every worker, first to last; a started worker is not restarted.
    void Start();
    // Asks every worker to end after its current file, last to first;
    // returns at once.
    void Stop();
    // The first converter while it is alive, else none. Its pointer must
    // not be kept past Start.
    TznConvertor* First() const;

private:
    friend class TznConvertor;
    mutable std::mutex FLock;
    // When the run began, and the folders whose stale temporary files it
    // has already removed.
    const QDateTime FStarted = QDateTime::currentDateTimeUtc();
    QSet<QString> FSweptFolders;
    // In chain order; an entry becomes none when its worker ends.
    std::vector<TznConvertor*> FWorkers;
    int FWorkerCount = 0;
};

using TznChainRef = std::shared_ptr<TznChain>;

// The generic converter worker: takes nodes from the batch, converts each
// (ConvertFile of the product class) and reports it through the per-file
// callback. The product's destructor runs on the worker thread before this
// class's, which then runs OnFinish on the main thread (waiting for it) and
// takes the worker off RunningWorkers.
class TznConvertor : public TznWorkBase
{
public:
    // Builds the rest of the chain through the project's ConverterClass
    // (count − 1 more workers, all suspended, created one after another);
    // count below 1 counts as 1, above MaxWorkers as MaxWorkers.
    TznConvertor(TznBatch* batch, int count, const TznNodeEvent& callback);
    ~TznConvertor() override;

    // Sets the batch's target folder and builds a suspended chain of
    // ThreadsCount workers (1 to MaxWorkers) through ConverterClass (a plain TznConvertor
    // when none is set).
    static TznChainRef StartConversion(TznBatch* batch, const QString& target, const TznNodeEvent& callback);

    // Workers from this one to the end of the chain.
    int WorkerCount() const { return FWorkerCount; }
    TznChainRef Chain() const { return FChain; }

    // The per-file conversion; does nothing here.
    virtual void ConvertFile(TznBatch* batch, TznNode* node);
    // The target path after the naming rules; unchanged here.
    virtual QString AdjustTarget(const QString& path);
    // Path of the converting application; empty here.
    virtual QString AppPath();
    // Whether the converter keeps macros; true here.
    virtual bool HasMacros();

    // The node's target: target folder plus relative name, its folder
    // created ("CreateDir Failed: " + folder as a batch failure otherwise),
    // then the IsOverwrite rule for an existing file. Empty means skip: the
    // node is then a success with an empty message.
    QString TargetPath(TznBatch* batch, TznNode* node);
    // Deletes the file; any error ignored.
    static void DeleteTarget(const QString& path);
    // After a successful save: KeepFileTime, DeleteSource, RenameSource;
    // nothing in a dry run. A
    // target that is the source file itself is neither deleted nor moved.
    // Returns what the result text must add: empty, or the reason the
    // source could not be deleted or renamed (" (source not deleted: ...)").
    static QString FinishSource(TznBatch* batch, TznNode* node, const QString& target);
    // A free name in target's folder, ending in target's extension, for the
    // result before it replaces the target ('.~lp-<pid>-*.tmp.ext', the
    // family of the document server's own temporary files).
    static QString WorkPath(const QString& target);
    // Removes, once per run and folder, the temporary files of this
    // product's saves in folder that a killed run left, whatever their age:
    // those of a process that no longer runs (or that name none), and this
    // process's own from before this run; never one open in any process.
    void RemoveStaleWork(const QString& folder);
    // Copies the source's times to the target, those the platform can set;
    // failures ignored.
    static void CopyFileTimes(const QString& source, const QString& target);

protected:
    // ConvertFile, then the per-file callback, on this worker's thread.
    void ProcessNode() override;

    TznNodeEvent FOnFileDone;
    // Not owned: it frees itself. Only valid before the chain starts.
    TznConvertor* FNextWorker = nullptr;
    const int FWorkerCount;

private:
    friend class TznChain;
    TznEvent FOnFinish; // guarded by the chain's lock
    TznChainRef FChain;
    const std::shared_ptr<std::recursive_mutex> FBatchLock;
};

// True when both paths name one file, however they are written.
bool IsSameFile(const QString& a, const QString& b);

// The local name of the document a web address names: the last segment of
// its path (never its query or fragment), percent-decoded; empty when that
// is empty, "." or "..", or holds "/", "\", NUL or a control character.
QString WebDocumentName(const QString& address);

// The part of path below the target folder: without keepSubdirs or source
// folder, or when path does not lie in sourceFolder, its file-name part.
// A web address on POSIX gives its WebDocumentName; on Windows every ":"
// and "/" of the name becomes "_".
QString TargetRelativeName(const QString& path, const QString& sourceFolder, bool keepSubdirs,
                           PathStyle style = NativePathStyle());

// The name used beside an existing target: folder + "-" + productCode + "-" + name.
QString RenamedTarget(const QString& target, const QString& productCode, PathStyle style = NativePathStyle());
