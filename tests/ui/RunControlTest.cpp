#include "UiTestSupport.h"

#include "engine/znBatch.h"
#include "engine/znConvertor.h"
#include "info/znInfo.h"
#include "platform/znError.h"
#include "platform/znShell.h"
#include "platform/znTextFile.h"
#include "project/znProject.h"
#include "ui/znDocslimMain.h"
#include "ui/znRunControl.h"
#include "word/znDocslim.h"
#include "znTestRows.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QThread>
#include <QTreeWidget>

#include <map>
#include <memory>
#include <mutex>
#include <set>

namespace {

// What the converters of a test did, shared by every worker thread.
struct TznRunRecord
{
    std::mutex Lock;
    std::map<QString, int> Conversions;
    std::set<int> Chains;
    int SleepMs = 5;
    // Files whose name holds this text fail with FailMessage.
    QString FailOn = QStringLiteral("bad");
    QString FailMessage = QStringLiteral("Cannot open the file?");

    int Total()
    {
        std::lock_guard lock(Lock);
        int n = 0;
        for (const auto& [path, count] : Conversions)
            n += count;
        return n;
    }
};

TznRunRecord* Record = nullptr;

// A converter that marks each file a success, or a failure for the files
// named so, after a short pause; each of its workers is a real thread.
class TznRecordingConvertor : public TznConvertor
{
public:
    using TznConvertor::TznConvertor;

    static TznConvertor* Create(TznBatch* batch, int count, const TznNodeEvent& callback)
    {
        return new TznRecordingConvertor(batch, count, callback);
    }

    void ConvertFile(TznBatch* batch, TznNode* node) override
    {
        int sleepMs;
        bool fail;
        QString message;
        {
            std::lock_guard lock(Record->Lock);
            ++Record->Conversions[node->Path];
            sleepMs = Record->SleepMs;
            fail = FileNamePart(node->Path).contains(Record->FailOn);
            message = Record->FailMessage;
        }
        QThread::msleep(sleepMs);
        if (fail) {
            node->Message = message;
            node->Status = nsFailure;
            batch->AddFailure(node->Message);
        } else {
            node->Message = QStringLiteral("[50%] ") + batch->TargetFolder() + FileNamePart(node->Path);
            node->SourceSize = 2048;
            node->TargetSize = 1024;
            node->Status = nsSuccess;
            batch->AddSuccess();
        }
    }
};

class RunControlTest : public UiTest
{
protected:
    void SetUp() override
    {
        UiTest::SetUp();
        FRecord = std::make_unique<TznRunRecord>();
        Record = FRecord.get();
        Project->ConverterClass = &TznRecordingConvertor::Create;
        QDir(FTemp.path()).mkpath(QStringLiteral("in"));
        FIn = QDir::toNativeSeparators(FTemp.path() + QStringLiteral("/in/"));
        FOut = QDir::toNativeSeparators(FTemp.path() + QStringLiteral("/out/"));
    }

    void TearDown() override
    {
        if (FWindow) {
            EXPECT_TRUE(WaitUntil([this] { return !FWindow->IsRunning(); }));
        }
        FWindow.reset();
        Record = nullptr;
        UiTest::TearDown();
    }

    TznFrmDocslimMain& Window()
    {
        if (!FWindow) {
            FWindow = std::make_unique<TznFrmDocslimMain>();
            SetDialogs(&FDialogs);
        }
        return *FWindow;
    }

    // Empty documents in in/, which the recording converter never opens.
    void MakeInputs(const QStringList& names)
    {
        for (const QString& name : names) {
            QFile file(FIn + name);
            ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        }
    }

    // Two workers on 20 documents of 40 ms each: a run long enough to
    // interrupt.
    TznFrmDocslimMain& SlowFolderWindow()
    {
        QStringList names;
        for (int i = 0; i < 20; ++i)
            names << QStringLiteral("doc%1.docx").arg(i);
        MakeInputs(names);
        Record->SleepMs = 40;
        return FolderWindow(2);
    }

    // The window set up for a folder run of in/ into out/.
    TznFrmDocslimMain& FolderWindow(int threads = 1)
    {
        Project->InlineOptions = QStringLiteral("ThreadsCount=%1").arg(threads);
        TznFrmDocslimMain& w = Window();
        w.eSource->setText(FIn + QStringLiteral("*.doc?"));
        w.eTarget->setText(FOut);
        return w;
    }

    QStringList Column(int column) const
    {
        QStringList texts;
        for (int i = 0; i < FWindow->lViewer->topLevelItemCount(); ++i)
            texts << FWindow->lViewer->topLevelItem(i)->text(column);
        return texts;
    }

    int Done() const
    {
        int n = 0;
        for (const QString& result : Column(2))
            n += result.isEmpty() ? 0 : 1;
        return n;
    }

    bool WaitIdle() { return WaitUntil([this] { return !FWindow->IsRunning(); }); }

    bool WaitListed()
    {
        return WaitUntil([this] { return FWindow->Batch() && FWindow->Batch()->Listed(); });
    }

    QStringList ReadLines(const QString& path)
    {
        const std::optional<QString> text = ReadTextFile(path);
        return text ? SplitLines(*text) : QStringList{QStringLiteral("<missing>")};
    }

    std::unique_ptr<TznRunRecord> FRecord;
    std::unique_ptr<TznFrmDocslimMain> FWindow;
    QString FIn;
    QString FOut;
};

// --- target cut-back ---

struct CutBackCase
{
    const char* name;
    PathStyle style;
    const char* target;
    const char* expected;
};

class TargetCutBackTest : public ::testing::TestWithParam<CutBackCase>
{
};

TEST_P(TargetCutBackTest, EndsAtAFolderOrGivesUp)
{
    const CutBackCase& c = GetParam();
    // The files that exist for these cases.
    const std::set<QString> files = {QStringLiteral("C:\\out\\a.docx"), QStringLiteral("/out/a.docx")};
    auto isFile = [&files](const QString& path) { return files.count(path) > 0; };
    EXPECT_EQ(CutBackTarget(QString::fromUtf8(c.target), c.style, isFile), QString::fromUtf8(c.expected));
}

INSTANTIATE_TEST_SUITE_P(
    Targets, TargetCutBackTest,
    ::testing::Values(
        CutBackCase{"WildcardName", PathStyle::Windows, "C:\\out\\*.docx", "C:\\out\\"},
        CutBackCase{"PlainFolder", PathStyle::Windows, "C:\\out", "C:\\out"},
        CutBackCase{"ExistingFile", PathStyle::Windows, "C:\\out\\a.docx", "C:\\out\\"},
        CutBackCase{"ExistingFileWithDelimiter", PathStyle::Windows, "C:\\out\\a.docx\\", "C:\\out\\"},
        CutBackCase{"MissingFileIsAFolderToMake", PathStyle::Windows, "C:\\out\\b.docx", "C:\\out\\b.docx"},
        CutBackCase{"DriveColonPasses", PathStyle::Windows, "C:\\a:b", "C:\\a:b"},
        CutBackCase{"WildcardInFolder", PathStyle::Windows, "C:\\o?t\\sub\\", "C:\\"},
        CutBackCase{"RelativeWildcardLeavesNothing", PathStyle::Windows, "a*b", ""},
        CutBackCase{"LateColonMakesNoProgress", PathStyle::Windows, "\\\\server\\share\\x:y", ""},
        CutBackCase{"LateColonInRelativePath", PathStyle::Windows, "abcdefghijk:x", ""},
        CutBackCase{"PosixWildcardName", PathStyle::Posix, "/out/*.docx", "/out/"},
        CutBackCase{"PosixExistingFile", PathStyle::Posix, "/out/a.docx", "/out/"},
        CutBackCase{"PosixColonIsOrdinary", PathStyle::Posix, "/home/anna/a:b:c:d:e:f/", "/home/anna/a:b:c:d:e:f/"},
        CutBackCase{"PosixRelativeWildcard", PathStyle::Posix, "a*b", ""}),
    RowName());

// --- the run control's state table, without a window ---

using TznRunState = TznRunControl::TznRunState;

struct StateCase
{
    const char* name;
    // What is done while the run is going: 'p' pause, 's' stop, in order.
    const char* steps;
    TznRunState during;
    bool keepsBatch;
};

class RunStateTest : public RunControlTest, public ::testing::WithParamInterface<StateCase>
{
};

TEST_P(RunStateTest, EndsIdleAndKeepsTheBatchOnlyAfterPause)
{
    const StateCase& c = GetParam();
    QStringList names;
    for (int i = 0; i < 10; ++i)
        names << QStringLiteral("doc%1.docx").arg(i);
    MakeInputs(names);
    Record->SleepMs = 30;
    Project->InlineOptions = QStringLiteral("ThreadsCount=1");
    TznRunControl run;
    QList<TznRunState> states;
    int ended = 0;
    QObject::connect(&run, &TznRunControl::RunStateChanged, [&states](TznRunState s) { states << s; });
    QObject::connect(&run, &TznRunControl::RunEnded, [&ended] { ++ended; });
    run.NewBatch();
    run.Batch()->StartScan(FIn + QStringLiteral("*.docx"), FOut, false);
    ASSERT_TRUE(WaitUntil([&run] { return run.Batch()->Listed(); }));
    run.Start(FOut);
    EXPECT_EQ(run.State(), TznRunState::Running);
    EXPECT_TRUE(run.IsRunning());
    for (const char* step = c.steps; *step; ++step)
        *step == 'p' ? run.Pause() : run.Stop();
    EXPECT_EQ(run.State(), c.during);
    ASSERT_TRUE(WaitUntil([&run] { return !run.IsRunning(); }));
    EXPECT_EQ(run.State(), TznRunState::Idle);
    EXPECT_EQ(states.last(), TznRunState::Idle);
    EXPECT_EQ(ended, 1);
    EXPECT_EQ(run.Batch() != nullptr, c.keepsBatch);
    EXPECT_FALSE(run.RepeatPending());
    if (c.steps[0]) {
        EXPECT_LT(Record->Total(), 10);
    }
}

INSTANTIATE_TEST_SUITE_P(
    States, RunStateTest,
    ::testing::Values(StateCase{"RunsToItsEnd", "", TznRunState::Running, true},
                      StateCase{"PauseKeepsTheBatch", "p", TznRunState::Pausing, true},
                      StateCase{"StopFreesTheBatch", "s", TznRunState::Stopping, false},
                      StateCase{"StopAfterPauseFreesTheBatch", "ps", TznRunState::Stopping, false},
                      StateCase{"PauseAfterStopKeepsTheBatch", "sp", TznRunState::Pausing, true}),
    RowName());

TEST_F(RunControlTest, IdleControlIgnoresPauseAndStop)
{
    TznRunControl run;
    int changes = 0;
    QObject::connect(&run, &TznRunControl::RunStateChanged, [&changes] { ++changes; });
    run.Pause();
    run.Stop();
    run.NewBatch();
    run.Pause();
    run.Stop();
    EXPECT_EQ(run.State(), TznRunState::Idle);
    EXPECT_EQ(changes, 0);
    EXPECT_NE(run.Batch(), nullptr);
}

// --- runs with the recording converter ---

TEST_F(RunControlTest, SearchListsFolderInOrderAsPending)
{
    MakeInputs({QStringLiteral("c.docx"), QStringLiteral("a.docx"), QStringLiteral("B.doc"),
                QStringLiteral("skip.txt")});
    TznFrmDocslimMain& w = FolderWindow();
    w.aSearchExecute();
    ASSERT_TRUE(WaitListed());
    ASSERT_TRUE(WaitUntil([this] { return FWindow->lViewer->topLevelItemCount() == 3; }));
    EXPECT_EQ(Column(1), (QStringList{FIn + QStringLiteral("a.docx"), FIn + QStringLiteral("B.doc"),
                                      FIn + QStringLiteral("c.docx")}));
    EXPECT_EQ(Done(), 0);
    w.ExportList(TempPath(QStringLiteral("list.log")));
    EXPECT_EQ(ReadLines(TempPath(QStringLiteral("list.log"))).first(),
              QStringLiteral("[Running] => ") + FIn + QStringLiteral("a.docx => "));
    EXPECT_EQ(Record->Total(), 0);
}

TEST_F(RunControlTest, ConvertShowsRunStatesAndEndsEveryRow)
{
    MakeInputs({QStringLiteral("a.docx"), QStringLiteral("bad.docx"), QStringLiteral("c.docx")});
    Record->SleepMs = 40;
    TznFrmDocslimMain& w = FolderWindow(2);
    w.aConvertExecute();

    // Running: Compact becomes Pause, the hidden Start button becomes Stop.
    EXPECT_TRUE(w.IsRunning());
    EXPECT_EQ(w.bCreate->Action(), w.aPause);
    EXPECT_TRUE(w.bCreate->isEnabled());
    EXPECT_EQ(w.bSearchConvert->Action(), w.aStop);
    EXPECT_FALSE(w.bSearchConvert->isHidden());
    EXPECT_TRUE(w.bSearchConvert->isEnabled());
    EXPECT_FALSE(w.aSearch->isEnabled());
    EXPECT_FALSE(w.aConvert->isEnabled());
    EXPECT_FALSE(w.bSourceFile->isEnabled());
    EXPECT_EQ(Info->StoreValue(QStringLiteral("C")), QStringLiteral("1"));

    ASSERT_TRUE(WaitIdle());
    EXPECT_EQ(w.bCreate->Action(), w.aConvert);
    EXPECT_TRUE(w.bCreate->isEnabled());
    EXPECT_EQ(w.bCreate->text(), QStringLiteral("&Compact"));
    EXPECT_EQ(w.bCreate->toolTip(), QStringLiteral("Compact the file(s) instantly"));
    EXPECT_EQ(w.bSearchConvert->Action(), w.aSearchConvert);
    EXPECT_TRUE(w.bSearchConvert->isHidden());
    EXPECT_TRUE(w.aSearch->isEnabled());
    EXPECT_TRUE(w.bSourceFile->isEnabled());

    // Results are put in by queued calls; let the last of them arrive.
    ASSERT_TRUE(WaitUntil([this] { return Done() == 3; }));
    EXPECT_EQ(Column(2), (QStringList{QStringLiteral("[50%] ") + FOut + QStringLiteral("a.docx"),
                                      QStringLiteral("Cannot open the file?"),
                                      QStringLiteral("[50%] ") + FOut + QStringLiteral("c.docx")}));
    EXPECT_EQ(w.prgRun->value(), 3);
    EXPECT_EQ(w.prgRun->maximum(), 3);
    EXPECT_EQ(w.lblRun->text(), QStringLiteral("3 of 3 documents done, 1 failed, 2 KB saved"));
    EXPECT_EQ(Info->StoreValue(QStringLiteral("A")), QStringLiteral("3"));
    EXPECT_EQ(Info->StoreValue(QStringLiteral("S")), QStringLiteral("2"));
    EXPECT_EQ(Info->StoreValue(QStringLiteral("F")), QStringLiteral("1"));

    // One report for the failure, its "?" carried as %3F.
    const QStringList links = FShell->Links();
    ASSERT_EQ(links.size(), 1);
    EXPECT_TRUE(links[0].contains(QStringLiteral("a=err&e=Cannot%20open%20the%20file%3F&")))
        << links[0].toStdString();

    const QString log = TempPath(QStringLiteral("run.log"));
    w.ExportList(log);
    EXPECT_EQ(ReadLines(log), (QStringList{
                                  QStringLiteral("[Success] => ") + FIn + QStringLiteral("a.docx => [50%] ") +
                                      FOut + QStringLiteral("a.docx"),
                                  QStringLiteral("[Failure] => ") + FIn + QStringLiteral("bad.docx => Cannot open the file?"),
                                  QStringLiteral("[Success] => ") + FIn + QStringLiteral("c.docx => [50%] ") +
                                      FOut + QStringLiteral("c.docx"),
                              }));
}

TEST_F(RunControlTest, RunWithoutFailuresSendsNoReport)
{
    MakeInputs({QStringLiteral("a.docx")});
    FolderWindow().aConvertExecute();
    ASSERT_TRUE(WaitIdle());
    EXPECT_TRUE(FShell->Links().isEmpty());
}

TEST_F(RunControlTest, PauseThenConvertFinishesOnlyTheRest)
{
    QStringList names;
    for (int i = 0; i < 20; ++i)
        names << QStringLiteral("doc%1.docx").arg(i, 2, 10, QChar(u'0'));
    MakeInputs(names);
    Record->SleepMs = 30;
    TznFrmDocslimMain& w = FolderWindow(1);
    w.aConvertExecute();
    ASSERT_TRUE(WaitUntil([this] { return Done() >= 2; }));
    w.aPauseExecute();
    EXPECT_FALSE(w.aPause->isEnabled());
    EXPECT_FALSE(w.bCreate->isEnabled());
    EXPECT_FALSE(w.bSearchConvert->isEnabled());
    ASSERT_TRUE(WaitIdle());
    QCoreApplication::processEvents();
    const int donePaused = Done();
    ASSERT_LT(donePaused, 20);
    const QStringList resultsPaused = Column(2);
    TznBatch* batch = w.Batch();

    w.aConvertExecute();
    ASSERT_TRUE(WaitIdle());
    ASSERT_TRUE(WaitUntil([this] { return Done() == 20; }));
    EXPECT_EQ(w.Batch(), batch);
    for (int i = 0; i < donePaused; ++i)
        EXPECT_EQ(Column(2)[i], resultsPaused[i]);
    std::lock_guard lock(Record->Lock);
    EXPECT_EQ(Record->Conversions.size(), 20u);
    for (const auto& [path, count] : Record->Conversions)
        EXPECT_EQ(count, 1) << path.toStdString();
}

TEST_F(RunControlTest, StopThenConvertRebuildsTheList)
{
    QStringList names;
    for (int i = 0; i < 20; ++i)
        names << QStringLiteral("doc%1.docx").arg(i);
    MakeInputs(names);
    Record->SleepMs = 30;
    TznFrmDocslimMain& w = FolderWindow(2);
    w.aConvertExecute();
    ASSERT_TRUE(WaitUntil([this] { return Done() >= 1; }));
    w.aStopExecute();
    ASSERT_TRUE(WaitIdle());
    EXPECT_EQ(w.Batch(), nullptr);
    EXPECT_LT(Record->Total(), 20);

    w.aConvertExecute();
    ASSERT_TRUE(WaitIdle());
    ASSERT_TRUE(WaitUntil([this] { return Done() == 20; }));
    EXPECT_EQ(w.lViewer->topLevelItemCount(), 20);
}

TEST_F(RunControlTest, ConvertAfterCompletedRunRescansTheSource)
{
    MakeInputs({QStringLiteral("a.docx")});
    TznFrmDocslimMain& w = FolderWindow();
    w.aConvertExecute();
    ASSERT_TRUE(WaitIdle());
    MakeInputs({QStringLiteral("b.docx")});
    w.aConvertExecute();
    ASSERT_TRUE(WaitIdle());
    ASSERT_TRUE(WaitUntil([this] { return Done() == 2; }));
    EXPECT_EQ(Column(1), (QStringList{FIn + QStringLiteral("a.docx"), FIn + QStringLiteral("b.docx")}));
    std::lock_guard lock(Record->Lock);
    EXPECT_EQ(Record->Conversions[FIn + QStringLiteral("a.docx")], 2);
}

TEST_F(RunControlTest, EmptyOrUnusableTargetStartsNothing)
{
    MakeInputs({QStringLiteral("a.docx")});
    for (const QString& target : {QString(), QStringLiteral("a*b")}) {
        TznFrmDocslimMain& w = FolderWindow();
        w.eTarget->setText(target);
        w.aConvertExecute();
        EXPECT_FALSE(w.IsRunning()) << target.toStdString();
        EXPECT_EQ(w.Batch(), nullptr);
    }
    EXPECT_EQ(Record->Total(), 0);
}

TEST_F(RunControlTest, TargetNamingAFileBecomesItsFolder)
{
    MakeInputs({QStringLiteral("a.docx")});
    QDir().mkpath(FOut);
    QFile(FOut + QStringLiteral("x.docx")).open(QIODevice::WriteOnly);
    TznFrmDocslimMain& w = FolderWindow();
    w.eTarget->setText(FOut + QStringLiteral("x.docx"));
    w.aConvertExecute();
    EXPECT_EQ(w.eTarget->text(), FOut);
    ASSERT_TRUE(WaitIdle());

    w.eTarget->setText(FOut + QStringLiteral("new"));
    w.aConvertExecute();
    EXPECT_EQ(w.eTarget->text(), FOut + QStringLiteral("new/"));
    EXPECT_TRUE(QFileInfo(FOut + QStringLiteral("new")).isDir());
}

TEST_F(RunControlTest, SearchWithEmptyTargetRaisesAndListsNothing)
{
    MakeInputs({QStringLiteral("a.docx")});
    TznFrmDocslimMain& w = FolderWindow();
    w.eTarget->clear();
    EXPECT_THROW(w.aSearchExecute(), EznError);
    EXPECT_EQ(w.lViewer->topLevelItemCount(), 0);
}

TEST_F(RunControlTest, InvalidRegExtStartsNothingAndSaysWhy)
{
    MakeInputs({QStringLiteral("a.docx")});
    TznFrmDocslimMain& w = FolderWindow();
    Project->SetOption(QStringLiteral("RegExt"), QStringLiteral("["));
    w.aConvertExecute();
    QCoreApplication::processEvents();
    EXPECT_FALSE(w.IsRunning());
    EXPECT_TRUE(w.lblRun->text().contains(QStringLiteral("RegExt expression \"[\" is not valid")))
        << w.lblRun->text().toStdString();
    EXPECT_EQ(w.lViewer->topLevelItemCount(), 0);
    EXPECT_EQ(Record->Total(), 0);
}

TEST_F(RunControlTest, DryRunProjectWritesNothingAndSaysWhy)
{
    MakeInputs({QStringLiteral("a.docx")});
    TznFrmDocslimMain& w = FolderWindow();
    Project->SetOption(QStringLiteral("DryRun"), QStringLiteral("True"));
    w.eTarget->setText(FOut + QStringLiteral("dry"));
    w.aConvertExecute();
    QCoreApplication::processEvents();
    EXPECT_FALSE(w.IsRunning());
    EXPECT_TRUE(w.lblRun->text().contains(QStringLiteral("dry run (DryRun)"))) << w.lblRun->text().toStdString();
    EXPECT_FALSE(QFileInfo::exists(FOut + QStringLiteral("dry")));
    EXPECT_EQ(Record->Total(), 0);
}

TEST_F(RunControlTest, HttpSourceGivesExactlyOneRow)
{
    TznFrmDocslimMain& w = Window();
    const QString source = QStringLiteral("http://example.test/files/*.docx?x=1");
    w.eSource->setText(source);
    w.eTarget->setText(FOut);
    w.aSearchExecute();
    QCoreApplication::processEvents();
    EXPECT_EQ(Column(1), QStringList{source});
}

TEST_F(RunControlTest, FilesWithOneOrSeveralDocuments)
{
    TznFrmDocslimMain& w = Window();
    w.eSource->setText(QStringLiteral("/keep/*.doc?"));
    FDialogs.Push(true, QStringLiteral("/a/one.docx\n/b/two.docx\n /c/three.doc "));
    w.bSourceFileClick();
    EXPECT_EQ(w.eSource->text(), QStringLiteral("/keep/*.doc?"));
    EXPECT_EQ(Column(1), (QStringList{QStringLiteral("/a/one.docx"), QStringLiteral("/b/two.docx"),
                                      QStringLiteral("/c/three.doc")}));
    EXPECT_EQ(w.eTarget->text(), QStringLiteral("/a/"));
    ASSERT_FALSE(FDialogs.Calls().empty());
    EXPECT_TRUE(FDialogs.Calls().back().multiple);
    EXPECT_EQ(FDialogs.Calls().back().path, QStringLiteral("/keep/*.doc?"));

    FDialogs.Push(true, QStringLiteral("/d/four.docx\n"));
    w.bSourceFileClick();
    EXPECT_EQ(w.eSource->text(), QStringLiteral("/d/four.docx"));
    EXPECT_EQ(Column(1), QStringList{QStringLiteral("/d/four.docx")});

    w.bSourceFileClick(); // cancelled: nothing changes
    EXPECT_EQ(Column(1), QStringList{QStringLiteral("/d/four.docx")});
}

TEST_F(RunControlTest, ChosenFilesAreConvertedAndRescannedFromSourceLater)
{
    MakeInputs({QStringLiteral("a.docx"), QStringLiteral("b.docx")});
    TznFrmDocslimMain& w = FolderWindow();
    FDialogs.Push(true, FIn + QStringLiteral("b.docx"));
    w.bSourceFileClick();
    w.aConvertExecute();
    ASSERT_TRUE(WaitIdle());
    ASSERT_TRUE(WaitUntil([this] { return Done() == 1; }));
    // The next Convert builds its batch from the source field, now the one file.
    w.eSource->setText(FIn + QStringLiteral("*.docx"));
    w.aConvertExecute();
    ASSERT_TRUE(WaitIdle());
    ASSERT_TRUE(WaitUntil([this] { return Done() == 2; }));
}

TEST_F(RunControlTest, DropsOnTheList)
{
    const QString project = WriteFile(QStringLiteral("p.batch-docslim"), {QStringLiteral("Source=/p/*.doc?")});
    TznFrmDocslimMain& w = Window();
    w.WMDropFiles({QStringLiteral("/x/one.docx")}, w.lViewer->viewport());
    EXPECT_EQ(Column(1), QStringList{QStringLiteral("/x/one.docx")});

    // One project file opens the project and leaves the list.
    w.WMDropFiles({project}, w.lViewer);
    EXPECT_EQ(w.eSource->text(), QStringLiteral("/p/*.doc?"));
    EXPECT_EQ(Column(1), QStringList{QStringLiteral("/x/one.docx")});

    // With another file it is an ordinary file.
    w.WMDropFiles({project, QStringLiteral("/y/two.docx")}, w.lViewer);
    EXPECT_EQ(Column(1), (QStringList{project, QStringLiteral("/y/two.docx")}));
}

TEST_F(RunControlTest, RunKeepsItsBatchAgainstFilesAndDrops)
{
    QStringList names;
    for (int i = 0; i < 6; ++i)
        names << QStringLiteral("doc%1.docx").arg(i);
    MakeInputs(names);
    Record->SleepMs = 30;
    TznFrmDocslimMain& w = FolderWindow(2);
    w.aConvertExecute();
    TznBatch* batch = w.Batch();
    w.WMDropFiles({QStringLiteral("/z/dropped.docx")}, w.lViewer);
    FDialogs.Push(true, QStringLiteral("/z/chosen.docx"));
    w.bSourceFileClick();
    w.aSearchExecute();
    EXPECT_EQ(w.Batch(), batch);
    ASSERT_TRUE(WaitIdle());
    ASSERT_TRUE(WaitUntil([this] { return Done() == 6; }));
    EXPECT_EQ(Record->Total(), 6);
}

TEST_F(RunControlTest, ExportWritesRunningAndFirstLinesOnly)
{
    TznFrmDocslimMain& w = Window();
    const QString empty = TempPath(QStringLiteral("empty.log"));
    w.ExportList(empty);
    EXPECT_EQ(QFileInfo(empty).size(), 0);

    Record->FailMessage = QStringLiteral("first line\r\nsecond line");
    MakeInputs({QStringLiteral("bad.docx")});
    FolderWindow().aConvertExecute();
    ASSERT_TRUE(WaitIdle());
    ASSERT_TRUE(WaitUntil([this] { return Done() == 1; }));
    EXPECT_EQ(Column(2), QStringList{QStringLiteral("first line")});

    w.WMDropFiles({QStringLiteral("/x/a.docx"), QStringLiteral("/x/b.docx")}, w.lViewer);
    const QString log = TempPath(QStringLiteral("export.log"));
    FDialogs.Push(true, log);
    w.ExportList1Click();
    EXPECT_EQ(FDialogs.Calls().back().filter, QStringLiteral("Log File|*.log"));
    EXPECT_EQ(FDialogs.Calls().back().defaultExt, QStringLiteral(".log"));
    QFile file(log);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), QByteArray("[Running] => /x/a.docx => \r\n[Running] => /x/b.docx => \r\n"));
}

// --- unattended runs through the window ---

TEST_F(RunControlTest, RunAndCloseRunsOnFirstShowWritesLogAndCloses)
{
    MakeInputs({QStringLiteral("a.docx"), QStringLiteral("bad.docx")});
    const QString log = TempPath(QStringLiteral("unattended.log"));
    Project->InlineOptions = QStringLiteral("Source=%1*.docx\r\nTarget=%2\r\nRunAndClose=True\r\nLogFile=%3")
                                 .arg(FIn, FOut, log);
    TznFrmDocslimMain& w = Window();
    w.show();
    EXPECT_TRUE(w.IsRunning());
    ASSERT_TRUE(WaitUntil([&w] { return !w.isVisible(); }));
    EXPECT_EQ(ReadLines(log), (QStringList{
                                  QStringLiteral("[Success] => ") + FIn + QStringLiteral("a.docx => [50%] ") +
                                      FOut + QStringLiteral("a.docx"),
                                  QStringLiteral("[Failure] => ") + FIn + QStringLiteral("bad.docx => Cannot open the file?"),
                              }));
    // A second show does not start again.
    w.show();
    EXPECT_FALSE(w.IsRunning());
    w.hide();
}

TEST_F(RunControlTest, UnwritableLogStillCloses)
{
    MakeInputs({QStringLiteral("a.docx")});
    Project->InlineOptions = QStringLiteral("Source=%1*.docx\r\nTarget=%2\r\nRunAndClose=True\r\nLogFile=%3")
                                 .arg(FIn, FOut, TempPath(QStringLiteral("no/such/folder/run.log")));
    TznFrmDocslimMain& w = Window();
    ::testing::internal::CaptureStderr();
    w.show();
    const bool closed = WaitUntil([&w] { return !w.isVisible(); });
    const std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_TRUE(closed);
    EXPECT_NE(err.find("the log file was not written"), std::string::npos) << err;
}

TEST_F(RunControlTest, RunAndCloseWithNothingToDoCloses)
{
    Project->InlineOptions = QStringLiteral("RunAndClose=True");
    TznFrmDocslimMain& w = Window();
    w.show();
    ASSERT_TRUE(WaitUntil([&w] { return !w.isVisible(); }));
}

TEST_F(RunControlTest, DaemonRepeatsUntilStop)
{
    MakeInputs({QStringLiteral("a.docx")});
    Project->InlineOptions =
        QStringLiteral("Source=%1*.docx\r\nTarget=%2\r\nDaemon=50\r\nIsOverwrite=1").arg(FIn, FOut);
    TznFrmDocslimMain& w = Window();
    w.show();
    ASSERT_TRUE(WaitUntil([] { return Record->Total() >= 3; }));
    // Stop during a run ends the cycle and leaves the window open.
    Record->SleepMs = 100;
    ASSERT_TRUE(WaitUntil([&w] { return w.IsRunning(); }));
    w.aStopExecute();
    ASSERT_TRUE(WaitIdle());
    const int runs = Record->Total();
    QElapsedTimer clock;
    clock.start();
    WaitUntil([&clock] { return clock.elapsed() > 300; });
    EXPECT_EQ(Record->Total(), runs);
    EXPECT_FALSE(w.RepeatPending());
    EXPECT_TRUE(w.isVisible());
    w.hide();
}

TEST_F(RunControlTest, DaemonWithNothingToDoKeepsOneRepeatPending)
{
    Project->InlineOptions = QStringLiteral("Daemon=40");
    TznFrmDocslimMain& w = Window();
    w.show();
    // Each repeat finds an empty target and schedules the next one; the
    // repeats never pile up or nest.
    QElapsedTimer clock;
    clock.start();
    WaitUntil([&clock] { return clock.elapsed() > 300; });
    EXPECT_TRUE(w.RepeatPending());
    EXPECT_TRUE(w.isVisible());
    w.hide();
}

// --- closing during a run ---

TEST_F(RunControlTest, CloseDuringRunWaitsForTheWorkers)
{
    TznFrmDocslimMain& w = SlowFolderWindow();
    w.show();
    w.aConvertExecute();
    ASSERT_TRUE(WaitUntil([] { return Record->Total() >= 2; }));
    w.close();
    EXPECT_TRUE(w.isVisible());
    ASSERT_TRUE(WaitUntil([&w] { return !w.isVisible(); }));
    EXPECT_FALSE(w.IsRunning());
    EXPECT_LT(Record->Total(), 20);
    FWindow.reset();
}

TEST_F(RunControlTest, DestroyDuringRunFreesEverything)
{
    TznFrmDocslimMain& w = SlowFolderWindow();
    w.aConvertExecute();
    ASSERT_TRUE(WaitUntil([] { return Record->Total() >= 2; }));
    FWindow.reset();
    // The calls the workers queued for the window are dropped with it.
    QCoreApplication::processEvents();
    EXPECT_LT(Record->Total(), 20);
}

// --- the product converter on real documents ---

class RealRunTest : public RunControlTest
{
protected:
    void SetUp() override
    {
        RunControlTest::SetUp();
        Project->ConverterClass = &TznDocslim::Create;
        for (const char* sample : {"newsletter.docx", "plain-letter.docx", "trip-report.docx"})
            ASSERT_TRUE(QFile::copy(QStringLiteral(LP_SOURCE_DIR "/examples/documents/") + QLatin1String(sample),
                                    FIn + QLatin1String(sample)));
        QFile damaged(FIn + QStringLiteral("damaged.docx"));
        ASSERT_TRUE(damaged.open(QIODevice::WriteOnly));
        damaged.write("PK\x03\x04 this is no document at all");
    }
};

TEST_F(RealRunTest, ConvertCompactsTheFolder)
{
    TznFrmDocslimMain& w = FolderWindow(2);
    w.aSearchConvertExecute();
    ASSERT_TRUE(WaitIdle());
    ASSERT_TRUE(WaitUntil([this] { return Done() == 4; }));
    EXPECT_EQ(Column(1), (QStringList{FIn + QStringLiteral("damaged.docx"), FIn + QStringLiteral("newsletter.docx"),
                                      FIn + QStringLiteral("plain-letter.docx"),
                                      FIn + QStringLiteral("trip-report.docx")}));
    const QStringList results = Column(2);
    EXPECT_FALSE(results[0].startsWith(u'[')) << results[0].toStdString();
    for (int i = 1; i < 4; ++i) {
        EXPECT_TRUE(results[i].startsWith(u'[') && results[i].endsWith(FOut + FileNamePart(Column(1)[i])))
            << results[i].toStdString();
        const QString target = FOut + FileNamePart(Column(1)[i]);
        EXPECT_TRUE(QFileInfo::exists(target));
        EXPECT_LE(QFileInfo(target).size(), QFileInfo(Column(1)[i]).size());
    }
    const QString log = TempPath(QStringLiteral("real.log"));
    w.ExportList(log);
    const QStringList lines = ReadLines(log);
    ASSERT_EQ(lines.size(), 4);
    EXPECT_TRUE(lines[0].startsWith(QStringLiteral("[Failure] => ") + FIn + QStringLiteral("damaged.docx => ")));
    EXPECT_TRUE(lines[3].startsWith(QStringLiteral("[Success] => ")));
    EXPECT_EQ(FShell->Links().size(), 1);
}

TEST_F(RealRunTest, RunAndCloseProjectFile)
{
    const QString log = TempPath(QStringLiteral("project.log"));
    const QString project = WriteFile(QStringLiteral("run.batch-docslim"),
                                      {QStringLiteral("Source=") + FIn + QStringLiteral("*.doc?"),
                                       QStringLiteral("Target=") + FOut, QStringLiteral("RunAndClose=True"),
                                       QStringLiteral("ThreadsCount=2"), QStringLiteral("LogFile=") + log});
    Project->FileName = project;
    TznFrmDocslimMain& w = Window();
    w.show();
    ASSERT_TRUE(WaitUntil([&w] { return !w.isVisible(); }, 60000));
    const QStringList lines = ReadLines(log);
    ASSERT_EQ(lines.size(), 4);
    EXPECT_EQ(lines.filter(QStringLiteral("[Success] => ")).size(), 3);
    EXPECT_TRUE(QFileInfo::exists(FOut + QStringLiteral("trip-report.docx")));
}

} // namespace
