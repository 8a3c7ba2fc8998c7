#include "EngineTestEnv.h"
#include "znTestRows.h"

#include "engine/znConvertor.h"
#include "platform/znError.h"
#include "platform/znFileTimes.h"
#include "platform/znMainThread.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>

#include "znTestRows.h"

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <condition_variable>
#include <map>
#include <mutex>
#include <set>
#include <stdexcept>
#include <thread>

namespace {

// What the test converters did, shared by every worker of a run.
struct TznRecorder
{
    std::mutex Lock;
    std::condition_variable Changed;
    std::map<int, int> Conversions; // node index -> times converted
    std::set<std::thread::id> Threads;
    std::vector<int> ChainCounts; // FWorkerCount of each worker built
    int Started = 0;              // ConvertFile calls begun
    int FileDone = 0;
    int Destroyed = 0;
    bool Gate = true; // ConvertFile waits while false
    int SleepMs = 0;
    std::set<int> Raise;        // node indexes whose conversion raises EznError
    std::set<int> RaiseForeign; // node indexes whose conversion raises another error
    int FailAtCount = 0;        // the worker built with this count raises in its constructor

    void Open()
    {
        std::lock_guard lock(Lock);
        Gate = true;
        Changed.notify_all();
    }
    bool WaitStarted(int n)
    {
        std::unique_lock lock(Lock);
        return Changed.wait_for(lock, std::chrono::seconds(20), [&] { return Started >= n; });
    }
};

TznRecorder* Recorder = nullptr;

// Records each conversion, optionally held at a gate or slowed down, and
// marks the node a success.
class TznTestConvertor : public TznConvertor
{
public:
    TznTestConvertor(TznBatch* batch, int count, const TznNodeEvent& callback)
        : TznConvertor(batch, count, callback)
    {
        std::lock_guard lock(Recorder->Lock);
        if (count == Recorder->FailAtCount)
            throw EznError(QStringLiteral("No engine"));
        Recorder->ChainCounts.push_back(count);
    }
    ~TznTestConvertor() override
    {
        // Runs on the worker's own thread, before the framework's end steps.
        std::lock_guard lock(Recorder->Lock);
        if (Started()) {
            EXPECT_FALSE(IsMainThread());
        }
        ++Recorder->Destroyed;
    }

    void ConvertFile(TznBatch* batch, TznNode* node) override
    {
        int sleepMs;
        {
            std::unique_lock lock(Recorder->Lock);
            ++Recorder->Started;
            Recorder->Changed.notify_all();
            Recorder->Changed.wait(lock, [] { return Recorder->Gate; });
            ++Recorder->Conversions[node->Index];
            Recorder->Threads.insert(std::this_thread::get_id());
            sleepMs = Recorder->SleepMs;
            if (Recorder->Raise.count(node->Index))
                throw EznError(QStringLiteral("Broken document"));
            if (Recorder->RaiseForeign.count(node->Index))
                throw std::runtime_error("not ours");
        }
        if (sleepMs)
            std::this_thread::sleep_for(std::chrono::milliseconds(sleepMs));
        node->Status = nsSuccess;
        node->Message = QStringLiteral("[50%] ") + node->Path;
        batch->AddSuccess();
    }
};

class ConvertorRunTest : public testing::Test
{
protected:
    void SetUp() override
    {
        Recorder = &FRecorder;
        Project->ConverterClass = [](TznBatch* b, int n, const TznNodeEvent& cb) -> TznConvertor* {
            return new TznTestConvertor(b, n, cb);
        };
        RunningWorkers = 0;
    }
    void TearDown() override
    {
        FRecorder.Open();
        EXPECT_TRUE(WaitUntil([] { return RunningWorkers <= 0; })) << "workers left running";
        Project->ConverterClass = nullptr;
        Recorder = nullptr;
    }

    void fill(TznBatch& batch, int nodes)
    {
        for (int i = 0; i < nodes; ++i)
            batch.AddFile(QStringLiteral("/in/f%1.doc").arg(i));
    }

    // Starts a run as the front ends do and counts the OnFinish calls.
    TznChainRef run(TznBatch& batch)
    {
        TznChainRef chain = TznConvertor::StartConversion(&batch, "/out/", FOnFileDone);
        RunningWorkers = chain->WorkerCount();
        chain->SetOnFinish([this] {
            EXPECT_TRUE(IsMainThread());
            ++FFinished;
        });
        chain->Start();
        return chain;
    }

    bool waitEnded() { return WaitUntil([] { return RunningWorkers == 0; }); }

    TznRecorder FRecorder;
    TznOptionsScope FOptions;
    int FFinished = 0;
    std::atomic<int> FCallbacks{0};
    TznNodeEvent FOnFileDone = [this](TznBatch*, TznNode* node) {
        EXPECT_FALSE(IsMainThread());
        ++FCallbacks;
        std::lock_guard lock(FRecorder.Lock);
        ++FRecorder.FileDone;
    };
};

TEST_F(ConvertorRunTest, ThreeWorkersConvertEachNodeOnce)
{
    FOptions.Set("ThreadsCount", "3");
    TznBatch batch;
    fill(batch, 12);
    batch.AddSingle("/in/last.doc");
    FRecorder.Gate = false;
    TznChainRef chain = run(batch);
    EXPECT_EQ(chain->WorkerCount(), 3);
    EXPECT_EQ(FRecorder.ChainCounts, std::vector<int>({1, 2, 3}));
    // Hold the first three files until every worker has one.
    ASSERT_TRUE(FRecorder.WaitStarted(3));
    FRecorder.Open();
    ASSERT_TRUE(waitEnded());
    EXPECT_EQ(FFinished, 3);
    EXPECT_EQ(FRecorder.Threads.size(), 3u);
    EXPECT_EQ(FRecorder.Destroyed, 3);
    ASSERT_EQ(FRecorder.Conversions.size(), 13u);
    for (const auto& [index, times] : FRecorder.Conversions)
        EXPECT_EQ(times, 1) << "node " << index;
    EXPECT_EQ(FCallbacks.load(), 13);
    EXPECT_EQ(batch.Successes(), 13);
    EXPECT_TRUE(batch.Drained());
    EXPECT_EQ(chain->AliveCount(), 0);
    EXPECT_EQ(batch.TargetFolder(), "/out/");
}

struct CountRow
{
    const char* name;
    const char* threads; // nullptr: option absent
    int workers;
};

class WorkerCountTest : public ConvertorRunTest, public testing::WithParamInterface<CountRow> {};

TEST_P(WorkerCountTest, ThreadsCountGivesAtLeastOneWorker)
{
    if (GetParam().threads)
        FOptions.Set("ThreadsCount", GetParam().threads);
    TznBatch batch;
    batch.AddSingle("/in/a.doc");
    TznChainRef chain = run(batch);
    EXPECT_EQ(chain->WorkerCount(), GetParam().workers);
    ASSERT_TRUE(waitEnded());
    EXPECT_EQ(FFinished, GetParam().workers);
    EXPECT_EQ(static_cast<int>(FRecorder.ChainCounts.size()), GetParam().workers);
    EXPECT_EQ(FRecorder.Conversions[0], 1);
}

INSTANTIATE_TEST_SUITE_P(Counts, WorkerCountTest,
                         testing::Values(CountRow{"Absent", nullptr, 1}, CountRow{"Zero", "0", 1},
                                         CountRow{"NotANumber", "abc", 1}, CountRow{"Negative", "-4", 1},
                                         CountRow{"Two", "2", 2}, CountRow{"Five", "5", 5},
                                         CountRow{"AboveTheMost", "64", MaxWorkers},
                                         CountRow{"FarAboveTheMost", "30000", MaxWorkers}),
                         RowName());

TEST_F(ConvertorRunTest, StopLetsEachWorkerFinishItsFileAndLeavesTheRest)
{
    FOptions.Set("ThreadsCount", "2");
    TznBatch batch;
    fill(batch, 20);
    batch.AddSingle("/in/last.doc");
    FRecorder.Gate = false;
    TznChainRef chain = run(batch);
    ASSERT_TRUE(FRecorder.WaitStarted(2));
    chain->Stop();
    FRecorder.Open();
    ASSERT_TRUE(waitEnded());
    EXPECT_EQ(FFinished, 2);
    EXPECT_EQ(FRecorder.Conversions.size(), 2u);
    EXPECT_FALSE(batch.Drained());
    int pending = 0;
    for (int i = 0; i < batch.NodeCount(); ++i)
        pending += batch.NodeAt(i)->Status == nsPending;
    EXPECT_EQ(pending, 19);
    // The ended chain may still be asked; nothing of it is touched.
    chain->Stop();
    chain->SetOnFinish(TznEvent());

    // A later run on the same batch goes on with the nodes not handed out.
    FFinished = 0;
    run(batch);
    ASSERT_TRUE(waitEnded());
    EXPECT_EQ(FFinished, 2);
    EXPECT_EQ(FRecorder.Conversions.size(), 21u);
    for (const auto& [index, times] : FRecorder.Conversions)
        EXPECT_EQ(times, 1) << "node " << index;
    EXPECT_TRUE(batch.Drained());
}

TEST_F(ConvertorRunTest, EightWorkersLoseAndDuplicateNothingWhileListing)
{
    FOptions.Set("ThreadsCount", "8");
    TznBatch batch;
    run(batch);
    // The nodes arrive while the workers already wait for them.
    std::thread lister([&] {
        fill(batch, 1999);
        batch.AddSingle("/in/last.doc");
    });
    lister.join();
    ASSERT_TRUE(waitEnded());
    EXPECT_EQ(FFinished, 8);
    ASSERT_EQ(FRecorder.Conversions.size(), 2000u);
    for (const auto& [index, times] : FRecorder.Conversions)
        ASSERT_EQ(times, 1) << "node " << index;
    EXPECT_EQ(batch.Successes(), 2000);
    EXPECT_EQ(FCallbacks.load(), 2000);
}

TEST_F(ConvertorRunTest, OwnErrorsAreRecordedOnTheNodeAndTheRunGoesOn)
{
    TznBatch batch;
    fill(batch, 3);
    batch.AddSingle("/in/last.doc");
    FRecorder.Raise = {1};
    run(batch);
    ASSERT_TRUE(waitEnded());
    EXPECT_EQ(batch.NodeAt(1)->Message, "Broken document");
    EXPECT_EQ(batch.NodeAt(1)->Status.load(), nsPending);
    EXPECT_EQ(batch.NodeAt(3)->Status.load(), nsSuccess);
    EXPECT_EQ(FCallbacks.load(), 3); // not for the failed node
    EXPECT_EQ(batch.Failures(), 0);
}

TEST_F(ConvertorRunTest, ForeignErrorEndsOnlyThatWorker)
{
    FOptions.Set("ThreadsCount", "2");
    TznBatch batch;
    fill(batch, 10);
    batch.AddSingle("/in/last.doc");
    FRecorder.RaiseForeign = {0};
    run(batch);
    ASSERT_TRUE(waitEnded());
    EXPECT_EQ(FFinished, 2);
    EXPECT_EQ(FRecorder.Destroyed, 2);
    EXPECT_EQ(FRecorder.Conversions.size(), 11u);
    EXPECT_EQ(batch.Successes(), 10);
}

struct FreeRow
{
    const char* name;
    bool onLastFinish; // as the window does; else when RunningWorkers reaches 0, as the runner does
};

class FreeBatchTest : public ConvertorRunTest, public testing::WithParamInterface<FreeRow> {};

// The owner frees the batch the moment the run has ended; the workers'
// last steps must not touch it afterwards.
TEST_P(FreeBatchTest, OwnerMayFreeTheBatchAsSoonAsTheRunEnds)
{
    FOptions.Set("ThreadsCount", "4");
    for (int round = 0; round < 20; ++round) {
        auto* batch = new TznBatch;
        fill(*batch, 3);
        batch->AddSingle("/in/last.doc");
        TznChainRef chain = TznConvertor::StartConversion(batch, "/out/", TznNodeEvent());
        RunningWorkers = chain->WorkerCount();
        int finished = 0;
        chain->SetOnFinish([&] {
            if (++finished == 4 && GetParam().onLastFinish) {
                delete batch;
                batch = nullptr;
            }
        });
        chain->Start();
        ASSERT_TRUE(WaitUntil([&] { return GetParam().onLastFinish ? batch == nullptr : RunningWorkers == 0; }));
        delete batch;
        EXPECT_EQ(finished, 4);
    }
}

INSTANTIATE_TEST_SUITE_P(Owners, FreeBatchTest,
                         testing::Values(FreeRow{"window", true}, FreeRow{"runner", false}),
                         RowName());

TEST_F(ConvertorRunTest, FreeingTheBatchDuringARunWaitsForItsWorkers)
{
    FOptions.Set("ThreadsCount", "3");
    auto* batch = new TznBatch;
    fill(*batch, 30);
    batch->AddSingle("/in/last.doc");
    FRecorder.SleepMs = 2;
    run(*batch);
    // The workers finish the batch before it goes; their OnFinish calls
    // still reach the main thread afterwards.
    delete batch;
    {
        std::lock_guard lock(FRecorder.Lock);
        EXPECT_EQ(FRecorder.Conversions.size(), 31u);
    }
    ASSERT_TRUE(waitEnded());
    EXPECT_EQ(FFinished, 3);
}

TEST_F(ConvertorRunTest, ChainThatNeverStartsFreesItselfWithItsFirstWorker)
{
    FOptions.Set("ThreadsCount", "4");
    TznBatch batch;
    TznChainRef chain = TznConvertor::StartConversion(&batch, "/out", FOnFileDone);
    EXPECT_EQ(batch.TargetFolder(), "/out/");
    delete chain->First();
    EXPECT_EQ(FRecorder.Destroyed, 4);
    EXPECT_EQ(chain->AliveCount(), 0);
    EXPECT_EQ(RunningWorkers.load(), 0);
    chain->Start(); // nothing left to start
}

TEST_F(ConvertorRunTest, ChainWhoseBuildingFailsFreesWhatWasBuilt)
{
    FOptions.Set("ThreadsCount", "5");
    FRecorder.FailAtCount = 3;
    TznBatch batch;
    EXPECT_THROW(TznConvertor::StartConversion(&batch, "/out/", FOnFileDone), EznError);
    EXPECT_EQ(FRecorder.ChainCounts, std::vector<int>({1, 2}));
    EXPECT_EQ(FRecorder.Destroyed, 2);
}

// --- target paths ---

struct RelativeRow
{
    const char* name;
    const char* path;
    const char* sourceFolder;
    bool keepSubdirs;
    PathStyle style;
    const char* target;
};

class TargetRelativeNameTest : public testing::TestWithParam<RelativeRow> {};

TEST_P(TargetRelativeNameTest, FollowsTheNamingRules)
{
    const RelativeRow& row = GetParam();
    EXPECT_EQ(TargetRelativeName(QString::fromUtf8(row.path), QString::fromUtf8(row.sourceFolder), row.keepSubdirs,
                                 row.style),
              QString::fromUtf8(row.target));
}

INSTANTIATE_TEST_SUITE_P(
    Names, TargetRelativeNameTest,
    testing::Values(RelativeRow{"WindowsKeepsSubfolders", "C:\\in\\sub\\a.doc", "C:\\in\\", true, PathStyle::Windows, "sub\\a.doc"},
                    RelativeRow{"WindowsDropsSubfolders", "C:\\in\\sub\\a.doc", "C:\\in\\", false, PathStyle::Windows, "a.doc"},
                    RelativeRow{"WindowsNoSourceFolder", "C:\\in\\sub\\a.doc", "", true, PathStyle::Windows, "a.doc"},
                    RelativeRow{"WindowsWebAddressFlattened", "http://host/dir/a.doc", "", true, PathStyle::Windows, "__host_dir_a.doc"},
                    RelativeRow{"WindowsFolderCaseIgnored", "c:\\IN\\x.doc", "C:\\in\\", true, PathStyle::Windows, "x.doc"},
                    RelativeRow{"WindowsOtherDrive", "D:\\other\\b.doc", "C:\\in\\", true, PathStyle::Windows, "b.doc"},
                    RelativeRow{"PosixKeepsSubfolders", "/in/sub/a:b.doc", "/in/", true, PathStyle::Posix, "sub/a:b.doc"},
                    RelativeRow{"PosixDropsSubfolders", "/in/sub/a.doc", "/in/", false, PathStyle::Posix, "a.doc"},
                    RelativeRow{"PosixFolderCaseMatters", "/IN/a.doc", "/in/", true, PathStyle::Posix, "a.doc"},
                    RelativeRow{"PosixWebAddressLastPart", "http://host/dir/a.doc", "", true, PathStyle::Posix, "a.doc"}),
    RowName());

TEST(RenamedTargetTest, PutsTheProductCodeBeforeTheName)
{
    EXPECT_EQ(RenamedTarget("C:\\out\\a.doc", "docslim", PathStyle::Windows), "C:\\out\\-docslim-a.doc");
    EXPECT_EQ(RenamedTarget("/out/sub/a.doc", "docslim", PathStyle::Posix), "/out/sub/-docslim-a.doc");
}

class TargetPathTest : public testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(FDir.isValid());
        FIn = FDir.path() + "/in/";
        FOut = FDir.path() + "/out/";
        MakeFiles(FDir.path(), {"in/sub/a.doc", "in/b.doc"});
        QDir().mkpath(FOut);
    }

    // The target of the first node of a scan of in/ with sub-folders.
    QString target(const QString& file, TznBatch& batch)
    {
        batch.StartScan(FIn + "*.doc", FOut, true);
        EXPECT_TRUE(WaitUntil([&] { return batch.Listed(); }));
        TznChainRef chain = TznConvertor::StartConversion(&batch, FOut, TznNodeEvent());
        TznConvertor* convertor = chain->First();
        const auto& nodes = batch.LockNodes();
        TznNode* node = nullptr;
        for (TznNode* n : nodes)
            if (n->Path == FIn + file)
                node = n;
        batch.UnlockNodes();
        EXPECT_NE(node, nullptr);
        FNode = node;
        const QString result = convertor->TargetPath(&batch, node);
        delete convertor;
        return result;
    }

    QTemporaryDir FDir;
    QString FIn;
    QString FOut;
    TznNode* FNode = nullptr;
    TznOptionsScope FOptions;
};

TEST_F(TargetPathTest, KeepsSubFoldersAndCreatesThem)
{
    TznBatch batch;
    EXPECT_EQ(target("sub/a.doc", batch), FOut + "sub/a.doc");
    EXPECT_TRUE(QFileInfo(FOut + "sub").isDir());
    EXPECT_EQ(batch.Failures(), 0);
}

TEST_F(TargetPathTest, FlatWithoutKeepTargetSubdirs)
{
    FOptions.Set("KeepTargetSubdirs", "False");
    TznBatch batch;
    EXPECT_EQ(target("sub/a.doc", batch), FOut + "a.doc");
    EXPECT_FALSE(QFileInfo(FOut + "sub").exists());
}

struct OverwriteRow
{
    const char* name;
    const char* option; // nullptr: absent
    const char* target; // relative to out/, "" = skipped
};

class OverwriteTest : public TargetPathTest, public testing::WithParamInterface<OverwriteRow> {};

TEST_P(OverwriteTest, ExistingTargetFollowsIsOverwrite)
{
    MakeFiles(FOut, {"b.doc"});
    if (GetParam().option)
        FOptions.Set("IsOverwrite", GetParam().option);
    TznBatch batch;
    const QString expected = *GetParam().target ? FOut + GetParam().target : QString();
    EXPECT_EQ(target("b.doc", batch), expected);
    EXPECT_EQ(FNode->Status.load(), *GetParam().target ? nsPending : nsSuccess);
    EXPECT_TRUE(FNode->Message.isEmpty());
}

INSTANTIATE_TEST_SUITE_P(Rules, OverwriteTest,
                         testing::Values(OverwriteRow{"AbsentRenames", nullptr, "-docslim-b.doc"},
                                         OverwriteRow{"ZeroRenames", "0", "-docslim-b.doc"},
                                         OverwriteRow{"SkipSkips", "SKIP", ""},
                                         OverwriteRow{"LowerCaseSkipSkips", "skip", ""},
                                         OverwriteRow{"TrueOverwrites", "True", "b.doc"},
                                         OverwriteRow{"OneOverwrites", "1", "b.doc"}),
                         RowName());

TEST_F(TargetPathTest, FolderThatCannotBeCreatedIsABatchFailure)
{
    // A file where the target's folder should be.
    MakeFiles(FOut, {"sub"});
    TznBatch batch;
    EXPECT_EQ(target("sub/a.doc", batch), FOut + "sub/a.doc");
    EXPECT_EQ(batch.Failures(), 1);
    EXPECT_EQ(batch.Reasons(), QStringList({"CreateDir Failed: " + FOut + "sub/"}));
}

// --- finishing the source ---

class FinishSourceTest : public testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(FDir.isValid());
        FSource = FDir.path() + "/a.doc";
        FTarget = FDir.path() + "/out.doc";
        MakeFiles(FDir.path(), {"a.doc", "out.doc"});
    }

    QString finish(const QString& target)
    {
        TznNode node(0, FSource);
        return TznConvertor::FinishSource(nullptr, &node, target);
    }

    QTemporaryDir FDir;
    QString FSource;
    QString FTarget;
    TznOptionsScope FOptions;
};

TEST_F(FinishSourceTest, RenameSourceMovesTheSource)
{
    FOptions.Set("RenameSource", ".bak");
    finish(FTarget);
    EXPECT_FALSE(QFile::exists(FSource));
    EXPECT_TRUE(QFile::exists(FSource + ".bak"));
}

TEST_F(FinishSourceTest, RenameThatFailsIsNamedInTheResult)
{
    FOptions.Set("RenameSource", QString(300, u'x'));
    const QString note = finish(FTarget);
    EXPECT_TRUE(note.startsWith(" (source not renamed: ")) << note.toStdString();
    EXPECT_TRUE(note.endsWith(u')'));
    EXPECT_TRUE(QFile::exists(FSource));
    FOptions.Set("RenameSource", ".bak");
    EXPECT_EQ(finish(FTarget), QString());
}

TEST_F(FinishSourceTest, DeleteSourceWinsOverRenameSource)
{
    FOptions.Set("DeleteSource", "True");
    FOptions.Set("RenameSource", ".bak");
    finish(FTarget);
    EXPECT_FALSE(QFile::exists(FSource));
    EXPECT_FALSE(QFile::exists(FSource + ".bak"));
    EXPECT_TRUE(QFile::exists(FTarget));
}

TEST_F(FinishSourceTest, ResultSavedOverTheSourceIsKept)
{
    FOptions.Set("DeleteSource", "True");
    FOptions.Set("RenameSource", ".bak");
    finish(FDir.path() + "/./a.doc");
    EXPECT_TRUE(QFile::exists(FSource));
    EXPECT_FALSE(QFile::exists(FSource + ".bak"));
}

TEST_F(FinishSourceTest, KeepFileTimeCopiesTheSourceTimes)
{
    const QDateTime written = QDateTime::fromString("2010-05-06T07:08:09Z", Qt::ISODate);
    {
        QFile f(FSource);
        ASSERT_TRUE(f.open(QIODevice::ReadWrite));
        ASSERT_TRUE(f.setFileTime(written, QFileDevice::FileModificationTime));
    }
    finish(FTarget);
    EXPECT_NE(QFileInfo(FTarget).lastModified(), written);
    FOptions.Set("KeepFileTime", "1");
    finish(FTarget);
    EXPECT_EQ(QFileInfo(FTarget).lastModified(), written);
    EXPECT_TRUE(QFile::exists(FSource));
}

// What a killed run left goes whatever its age, as long as no process holds
// it open; what a run still saving here or this run wrote stays.
TEST(RemoveStaleWorkTest, RemovesTheUnusedTemporariesOfEndedRuns)
{
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0)
        _exit(0);
    ASSERT_EQ(waitpid(child, nullptr, 0), child);
    const QString ended = QStringLiteral(".~lp-%1-").arg(child);
    const QString running = QStringLiteral(".~lp-%1-").arg(getppid());
    const QString own = QStringLiteral(".~lp-%1-").arg(getpid());

    QTemporaryDir dir;
    const QStringList oldNames{".~lp-aaaaaa.tmp.Xy12Zq", ".~lp-bbbbbb.tmp.docx", ".~lp-cccccc.tmp", own + "hhhhhh.tmp",
                               "a.docx", ".~other.tmp"};
    MakeFiles(dir.path(), oldNames);
    const QDateTime old = QDateTime::currentDateTimeUtc().addSecs(-3600);
    for (const QString& name : oldNames) {
        QFile f(dir.filePath(name));
        ASSERT_TRUE(f.open(QIODevice::ReadWrite));
        ASSERT_TRUE(f.setFileTime(old, QFileDevice::FileModificationTime));
    }
    QFile held(dir.filePath(".~lp-cccccc.tmp"));
    ASSERT_TRUE(held.open(QIODevice::ReadOnly));
    TznBatch batch;
    TznConvertor worker(&batch, 1, TznNodeEvent());
    // Written a moment ago: by a run killed then, by a run still saving, and
    // by this run.
    MakeFiles(dir.path(), {ended + "dddddd.tmp", running + "gggggg.tmp.docx", own + "eeeeee.tmp.docx"});
    worker.RemoveStaleWork(dir.path() + "/");
    QStringList kept{".~lp-cccccc.tmp", running + "gggggg.tmp.docx", own + "eeeeee.tmp.docx", ".~other.tmp", "a.docx"};
    kept.sort();
    QStringList found = QDir(dir.path()).entryList(QDir::Files | QDir::Hidden);
    found.sort();
    EXPECT_EQ(found, kept);
    // Once per run and folder.
    MakeFiles(dir.path(), {".~lp-ffffff.tmp"});
    worker.RemoveStaleWork(dir.path());
    EXPECT_TRUE(QFile::exists(dir.filePath(".~lp-ffffff.tmp")));
}

TEST(DeleteTargetTest, DeletesAndIgnoresMissingFiles)
{
    QTemporaryDir dir;
    MakeFiles(dir.path(), {"t.doc"});
    TznConvertor::DeleteTarget(dir.path() + "/t.doc");
    EXPECT_FALSE(QFile::exists(dir.path() + "/t.doc"));
    EXPECT_NO_THROW(TznConvertor::DeleteTarget(dir.path() + "/t.doc"));
}

} // namespace
