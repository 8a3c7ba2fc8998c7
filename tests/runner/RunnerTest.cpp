#include "znTestProcess.h"

#include "info/znInfo.h"
#include "platform/znApp.h"
#include "platform/znTextFile.h"
#include "project/znProject.h"
#include "znTestRows.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace {

// One unattended run of the real program in a folder of its own: the
// executable is copied there so that its usage store, recent list and
// default project are the test's, and a recording xdg-open comes first on
// PATH so that no browser is ever started.
class RunnerTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(FDir.isValid());
        QDir(FDir.path()).mkpath(QStringLiteral("in"));
        QDir(FDir.path()).mkpath(QStringLiteral("out"));
        QDir(FDir.path()).mkpath(QStringLiteral("bin"));
        FExe = path("bin/leafpress");
        ASSERT_TRUE(QFile::copy(QStringLiteral(LP_EXE_PATH), FExe));
        const QString opener = path("bin/xdg-open");
        writeText(opener, "#!/bin/sh\nprintf '%s\\n' \"$1\" >> \"$(dirname \"$0\")/links.txt\"\n");
        QFile::setPermissions(opener, QFile::permissions(opener) | QFileDevice::ExeOwner);
    }

    QString path(const QString& name) const { return FDir.filePath(name); }
    QString path(const char* name) const { return path(QString::fromUtf8(name)); }

    static void writeText(const QString& file, const QByteArray& bytes)
    {
        QDir().mkpath(QFileInfo(file).path());
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }

    // A bundled sample document copied to name below the folder.
    void addSample(const char* sample, const QString& name)
    {
        const QString dest = path(name);
        QDir().mkpath(QFileInfo(dest).path());
        ASSERT_TRUE(QFile::copy(QStringLiteral(LP_SOURCE_DIR "/examples/documents/") + QString::fromUtf8(sample), dest));
    }

    void addDamaged(const QString& name) { writeText(path(name), "PK\x03\x04 this is no document at all"); }

    using Result = TznProcessResult;

    // Runs the program with inline options; Source and Target default to in/ and out/.
    Result run(const QString& options) { return runWith(QStringLiteral("-p") + options); }

    Result runWith(const QString& param) { return RunProcess(FExe, {param}, FDir.path(), path("bin")); }

    QString standardOptions() const
    {
        return QStringLiteral("PureConsole=1,Source=%1,Target=%2").arg(path("in/*.doc?"), path("out"));
    }

    QByteArray readBytes(const QString& file) const
    {
        QFile f(file);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

    QStringList lines(const char* file) const
    {
        const auto text = ReadTextFile(path(file));
        return text ? SplitLines(*text) : QStringList();
    }

    // The opener runs detached, so its record may land just after the run.
    QStringList links(int expected = 1) const
    {
        for (int i = 0; i < 50 && lines("bin/links.txt").size() < expected; ++i)
            QThread::msleep(100);
        return lines("bin/links.txt");
    }

    QTemporaryDir FDir;
    QString FExe;
};

TEST_F(RunnerTest, ThreeDocumentsOneFailing)
{
    addSample("trip-report.docx", QStringLiteral("in/a.docx"));
    addSample("plain-letter.docx", QStringLiteral("in/b.docx"));
    addDamaged(QStringLiteral("in/c.docx"));
    const Result r = run(standardOptions() + QStringLiteral(",LogFile=") + path("run.log"));
    ASSERT_EQ(r.status, 0) << r.err.toStdString();

    const QStringList log = lines("run.log");
    ASSERT_EQ(log.size(), 3);
    EXPECT_EQ(log.filter(QStringLiteral("Success => ")).size(), 2);
    const QStringList failed = log.filter(QStringLiteral("Failure => ") + path("in/c.docx") + QStringLiteral(" => "));
    ASSERT_EQ(failed.size(), 1);
    const QString reason = failed.first().section(QStringLiteral(" => "), 2);
    EXPECT_FALSE(reason.isEmpty());
    EXPECT_TRUE(log.contains(QStringLiteral("Success => %1 => [99%] %2").arg(path("in/b.docx"), path("out/b.docx"))))
        << log.join(u'\n').toStdString();

    // The compacted document is smaller and lies in the target folder.
    EXPECT_LT(QFileInfo(path("out/a.docx")).size(), QFileInfo(path("in/a.docx")).size());
    // No document is left half-written, and the failed one left nothing.
    EXPECT_FALSE(QFileInfo::exists(path("out/c.docx")));

    // One report, carrying the reason.
    const QStringList sent = links();
    ASSERT_EQ(sent.size(), 1);
    EXPECT_TRUE(sent.first().contains(QStringLiteral("a=err&e=")));

    // The result lines went to the terminal too, with one summary line.
    EXPECT_EQ(r.out.count(QStringLiteral(" => ")), 6);
    EXPECT_TRUE(r.out.contains(QStringLiteral("3 documents, 2 converted, 0 skipped, 1 failed")));
    // What was saved, over the converted documents only, ends the line.
    const auto size = [&](const char* name) { return QFileInfo(path(name)).size(); };
    const qint64 before = size("in/a.docx") + size("in/b.docx");
    const qint64 saved = before - size("out/a.docx") - size("out/b.docx");
    const QString tail = QStringLiteral(" s, saved %1 MB (%2 %)\n")
                             .arg(double(saved) / (1024.0 * 1024.0), 0, 'f', 1)
                             .arg(qRound64(100.0 * double(saved) / double(before)));
    EXPECT_TRUE(r.out.contains(tail)) << tail.toStdString() << r.out.toStdString();
}

TEST_F(RunnerTest, UsageStoreCountsTheRun)
{
    addSample("plain-letter.docx", QStringLiteral("in/a.docx"));
    addDamaged(QStringLiteral("in/b.docx"));
    ASSERT_EQ(run(standardOptions()).status, 0);
    ASSERT_EQ(run(standardOptions() + QStringLiteral(",IsOverwrite=1")).status, 0);

    TznApp app(FExe, {});
    App = &app;
    TznProject project;
    Project = &project;
    {
        TznInfo info;
        const QStringList store = info.StoreLines();
        auto value = [&](const char* key) {
            for (const QString& line : store)
                if (line.section(u'=', 0, 0) == QString::fromUtf8(key))
                    return line.section(u'=', 1);
            return QString();
        };
        EXPECT_EQ(value("C"), QStringLiteral("2"));
        EXPECT_EQ(value("A"), QStringLiteral("4"));
        EXPECT_EQ(value("S"), QStringLiteral("2"));
        EXPECT_EQ(value("F"), QStringLiteral("2"));
        EXPECT_FALSE(value("W").isEmpty());
    }
    Project = nullptr;
    App = nullptr;
}

TEST_F(RunnerTest, NoFailureNoReportAndNoLogWithoutLogFile)
{
    addSample("plain-letter.docx", QStringLiteral("in/a.docx"));
    const Result r = run(standardOptions());
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(links(0).isEmpty());
    EXPECT_TRUE(QFileInfo::exists(path("out/a.docx")));
    EXPECT_EQ(QDir(FDir.path()).entryList({QStringLiteral("*.log"), QStringLiteral("*.txt")}, QDir::Files),
              QStringList());
}

TEST_F(RunnerTest, FourWorkersOnTwoDocuments)
{
    addSample("newsletter.docx", QStringLiteral("in/a.docx"));
    addSample("trip-report.docx", QStringLiteral("in/b.docx"));
    const Result r = run(standardOptions() + QStringLiteral(",ThreadsCount=4,LogFile=") + path("run.log"));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(lines("run.log").filter(QStringLiteral("Success => ")).size(), 2);
}

TEST_F(RunnerTest, SkipGivesSuccessWithEmptyMessage)
{
    addSample("plain-letter.docx", QStringLiteral("in/a.docx"));
    writeText(path("out/a.docx"), "older result");
    const Result r = run(standardOptions() + QStringLiteral(",IsOverwrite=Skip,LogFile=") + path("run.log"));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(lines("run.log"), QStringList{QStringLiteral("Success => %1 => ").arg(path("in/a.docx"))});
    EXPECT_EQ(ReadTextFile(path("out/a.docx")).value_or(QString()), QStringLiteral("older result"));
}

TEST_F(RunnerTest, ExistingTargetIsKeptUnderTheRenameRule)
{
    addSample("plain-letter.docx", QStringLiteral("in/a.docx"));
    writeText(path("out/a.docx"), "older result");
    ASSERT_EQ(run(standardOptions()).status, 0);
    EXPECT_EQ(ReadTextFile(path("out/a.docx")).value_or(QString()), QStringLiteral("older result"));
    EXPECT_TRUE(QFileInfo::exists(path("out/-docslim-a.docx")));
}

TEST_F(RunnerTest, QuestionMarkInTheReasonTravelsEncoded)
{
    addDamaged(QStringLiteral("in/what?.docx"));
    addDamaged(QStringLiteral(u"in/été.docx"));
    ASSERT_EQ(run(standardOptions()).status, 0);
    const QStringList sent = links();
    ASSERT_EQ(sent.size(), 1);
    EXPECT_TRUE(sent.first().contains(QStringLiteral("what%3F.docx")));
    EXPECT_FALSE(sent.first().section(u'?', 1).contains(u'?'));
    EXPECT_TRUE(sent.first().contains(QStringLiteral("%C3%A9t%C3%A9.docx")));
}

TEST_F(RunnerTest, SubfoldersKeptBelowTheTarget)
{
    addSample("plain-letter.docx", QStringLiteral("in/a.docx"));
    addSample("plain-letter.docx", QStringLiteral("in/sub/deeper/b.docx"));
    ASSERT_EQ(run(standardOptions() + QStringLiteral(",Subdir=1")).status, 0);
    EXPECT_TRUE(QFileInfo::exists(path("out/a.docx")));
    EXPECT_TRUE(QFileInfo::exists(path("out/sub/deeper/b.docx")));

    ASSERT_EQ(run(QStringLiteral("PureConsole=1,Subdir=1,KeepTargetSubdirs=0,Source=%1,Target=%2")
                      .arg(path("in/*.docx"), path("flat"))).status, 0);
    EXPECT_TRUE(QFileInfo::exists(path("flat/a.docx")));
    EXPECT_TRUE(QFileInfo::exists(path("flat/b.docx")));
}

TEST_F(RunnerTest, DeleteAndRenameTheSource)
{
    addSample("plain-letter.docx", QStringLiteral("in/a.docx"));
    ASSERT_EQ(run(standardOptions() + QStringLiteral(",RenameSource=.bak")).status, 0);
    EXPECT_FALSE(QFileInfo::exists(path("in/a.docx")));
    EXPECT_TRUE(QFileInfo::exists(path("in/a.docx.bak")));

    addSample("plain-letter.docx", QStringLiteral("in/b.docx"));
    ASSERT_EQ(run(standardOptions() + QStringLiteral(",DeleteSource=1,RenameSource=.old,IsOverwrite=1")).status, 0);
    EXPECT_FALSE(QFileInfo::exists(path("in/b.docx")));
    EXPECT_FALSE(QFileInfo::exists(path("in/b.docx.old")));
    EXPECT_TRUE(QFileInfo::exists(path("out/b.docx")));
}

TEST_F(RunnerTest, CompactingInPlaceKeepsTheResult)
{
    addSample("trip-report.docx", QStringLiteral("in/a.docx"));
    const qint64 before = QFileInfo(path("in/a.docx")).size();
    ASSERT_EQ(run(QStringLiteral("PureConsole=1,IsOverwrite=1,DeleteSource=1,Source=%1,Target=%2")
                      .arg(path("in/*.docx"), path("in"))).status, 0);
    ASSERT_TRUE(QFileInfo::exists(path("in/a.docx")));
    EXPECT_LT(QFileInfo(path("in/a.docx")).size(), before);
}

struct RefusedCase
{
    const char* name;
    const char* options; // %1 is the temporary folder
    const char* message; // standard error must hold it
};

class RunnerRefusesTest : public RunnerTest, public ::testing::WithParamInterface<RefusedCase>
{
};

TEST_P(RunnerRefusesTest, SaysWhyAndEndsWithStatusTwo)
{
    addSample("plain-letter.docx", QStringLiteral("in/a.docx"));
    writeText(path("in/notes.txt"), "kept");
    // A full device of the test's own: the superuser could otherwise
    // replace the system's /dev/full by a plain file.
    const QString full = path("full");
    if (geteuid() == 0)
        ASSERT_EQ(mknod(QFile::encodeName(full).constData(), S_IFCHR | 0666, makedev(1, 7)), 0);
    else
        ASSERT_TRUE(QFile::link(QStringLiteral("/dev/full"), full));
    const QByteArray before = readBytes(path("in/a.docx"));
    const Result r = run(QString::fromUtf8(GetParam().options).arg(FDir.path()));
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(r.err.contains(QString::fromUtf8(GetParam().message))) << r.err.toStdString();
    EXPECT_EQ(readBytes(path("in/a.docx")), before);
    EXPECT_EQ(readBytes(path("in/notes.txt")), QByteArray("kept"));
    EXPECT_FALSE(QFileInfo(full).isFile());
}

TEST_F(RunnerTest, ProjectWithoutTargetConvertsNothing)
{
    addSample("plain-letter.docx", QStringLiteral("in/a.docx"));
    const QString project = path("night.batch-docslim");
    writeText(project, "PureConsole=1\r\nSource=" + path("in/*.docx").toUtf8() + "\r\n");
    const Result r = runWith(project);
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(r.err.contains(QStringLiteral("no target folder"))) << r.err.toStdString();
    EXPECT_EQ(QDir(path("out")).entryList(QDir::Files), QStringList());
}

INSTANTIATE_TEST_SUITE_P(Cases, RunnerRefusesTest, ::testing::Values(
    RefusedCase{"UnwritableLog", "PureConsole=1,Source=%1/in/*.docx,Target=%1/out,LogFile=%1/no/such/dir/run.log",
                "the log file was not written"},
    RefusedCase{"LogOnAFullDevice", "PureConsole=1,Source=%1/in/*.docx,Target=%1/out,LogFile=%1/full",
                "No space left on device"},
    RefusedCase{"LogIsADocument", "PureConsole=1,Source=%1/in/*.docx,Target=%1/out,LogFile=%1/in/a.docx",
                "would be written over a document"},
    RefusedCase{"LogIsASource", "PureConsole=1,Source=%1/in/*,Target=%1/out,LogFile=%1/in/notes.txt",
                "is a source of the run"},
    RefusedCase{"LogIsATarget", "PureConsole=1,Source=%1/in/*,Target=%1/in/out,LogFile=%1/in/out/-docslim-x.txt",
                "is a target of the run"},
    RefusedCase{"MissingSource", "PureConsole=1,Source=%1/nowhere/*.docx,Target=%1/out",
                "the source folder"},
    RefusedCase{"InvalidRegExt", "PureConsole=1,Source=%1/in/*.docx,Target=%1/out,RegExt=(,DeleteSource=1",
                "the RegExt expression \"(\" is not valid"}),
    RowName());

TEST_F(RunnerTest, SecondRunListsNothingFromTheTargetInsideTheSource)
{
    addSample("trip-report.docx", QStringLiteral("in/a.docx"));
    addSample("plain-letter.docx", QStringLiteral("in/sub/b.docx"));
    const QString options = QStringLiteral("PureConsole=1,Subdir=1,Source=%1,Target=%2,LogFile=%3")
                                .arg(path("in/*.doc?"), path("in/zout"), path("run.log"));
    ASSERT_EQ(run(options).status, 0);
    ASSERT_EQ(lines("run.log").size(), 2);
    const Result second = run(options);
    ASSERT_EQ(second.status, 0) << second.err.toStdString();
    const QStringList log = lines("run.log");
    EXPECT_EQ(log.size(), 2) << log.join(u'\n').toStdString();
    EXPECT_TRUE(log.filter(QStringLiteral("/zout/ =>")).isEmpty());
    EXPECT_TRUE(log.filter(QStringLiteral("in/zout/a.docx =>")).isEmpty());
    EXPECT_FALSE(QFileInfo::exists(path("in/zout/zout")));
}

TEST_F(RunnerTest, RerunInPlaceListsNoResultsOfResults)
{
    addSample("trip-report.docx", QStringLiteral("in/a.docx"));
    // Inline options without Target take the source's folder.
    const QString options = QStringLiteral("PureConsole=1,Source=%1,LogFile=%2").arg(path("in/*.doc?"), path("run.log"));
    ASSERT_EQ(run(options).status, 0);
    ASSERT_TRUE(QFileInfo::exists(path("in/-docslim-a.docx")));
    ASSERT_EQ(run(options).status, 0);
    EXPECT_EQ(lines("run.log").size(), 1);
    EXPECT_FALSE(QFileInfo::exists(path("in/-docslim--docslim-a.docx")));
}

TEST_F(RunnerTest, SummaryCountsEachDocumentOnce)
{
    addSample("plain-letter.docx", QStringLiteral("in/sub/a.docx"));
    addSample("plain-letter.docx", QStringLiteral("in/sub/b.docx"));
    // A file where the target's sub-folder should be made.
    writeText(path("out/sub"), "in the way");
    const Result r = run(standardOptions() + QStringLiteral(",Subdir=1"));
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(r.out.contains(QStringLiteral("2 documents, 0 converted, 0 skipped, 2 failed"))) << r.out.toStdString();
}

TEST_F(RunnerTest, UnwritableLogKeepsTheResults)
{
    addSample("plain-letter.docx", QStringLiteral("in/a.docx"));
    const Result r = run(standardOptions() + QStringLiteral(",LogFile=") + path("no/such/dir/run.log"));
    EXPECT_EQ(r.status, 2);
    EXPECT_TRUE(QFileInfo::exists(path("out/a.docx")));
}

} // namespace
