#include "app/znVersion.h"
#include "platform/znApp.h"
#include "znTestRows.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

struct ParamCase
{
    const char* name;
    QString line;
    const char* first;
};

class FirstParamTest : public ::testing::TestWithParam<ParamCase>
{
};

TEST_P(FirstParamTest, SplitsAtBlanksAndJoinsQuotedStretches)
{
    EXPECT_EQ(FirstParamOf(GetParam().line), QString::fromUtf8(GetParam().first));
}

INSTANTIATE_TEST_SUITE_P(Lines, FirstParamTest, ::testing::Values(
    ParamCase{"None", QStringLiteral("app.exe"), ""},
    ParamCase{"Plain", QStringLiteral("app.exe /p:a=1 second"), "/p:a=1"},
    ParamCase{"QuotedProgram", QStringLiteral("\"C:\\Program Files\\app.exe\" x"), "x"},
    ParamCase{"QuotedBlanks", QStringLiteral("app \"C:\\my docs\\a.docx\" b"), "C:\\my docs\\a.docx"},
    ParamCase{"QuoteInside", QStringLiteral("app C:\\\"my docs\"\\a.docx"), "C:\\my docs\\a.docx"},
    ParamCase{"Unbalanced", QStringLiteral("app \"C:\\a b"), "C:\\a b"},
    ParamCase{"ControlCharsAreBlanks", QStringLiteral("app\t\x01x\x1Fy"), "x"},
    ParamCase{"NulEnds", QString::fromUtf16(u"app a\0b", 7), "a"}),
    RowName());

TEST(TznAppTest, TakesOnlyTheFirstParameterWithoutQuotes)
{
    TznApp app(QStringLiteral("/opt/leafpress"), {QStringLiteral("\"/in/a b\""), QStringLiteral("ignored")});
    EXPECT_EQ(app.ExeName, QStringLiteral("/opt/leafpress"));
    EXPECT_EQ(app.FirstParam, QStringLiteral("/in/a b"));
    EXPECT_EQ(TznApp(QStringLiteral("x"), {}).FirstParam, QString());
}

struct ProgramCase
{
    const char* name;
    QStringList args;
    int status;
    const char* out; // text standard output must hold
};

class ProgramTest : public ::testing::TestWithParam<ProgramCase>
{
};

TEST_P(ProgramTest, AnswersAndEnds)
{
    QProcess p;
    p.start(QStringLiteral(LP_EXE_PATH), GetParam().args);
    ASSERT_TRUE(p.waitForFinished(30000));
    EXPECT_EQ(p.exitCode(), GetParam().status);
    EXPECT_TRUE(QString::fromLocal8Bit(p.readAllStandardOutput()).contains(QString::fromUtf8(GetParam().out)));
}

INSTANTIATE_TEST_SUITE_P(Switches, ProgramTest, ::testing::Values(
    ProgramCase{"Version", {QStringLiteral("--version")}, 0, ProductVersion},
    ProgramCase{"Help", {QStringLiteral("--help")}, 0, "Usage: leafpress"}),
    RowName());

struct BareCase
{
    const char* name;
    QStringList args;
    int status;
    const char* out; // text standard output must hold
    const char* err; // text standard error must hold
};

class BareEnvironmentTest : public ::testing::TestWithParam<BareCase>
{
};

// Nothing but PATH, as a job runner may start it: no display, no platform
// named, no HOME. Whatever the line says, the program answers and ends; it
// never aborts trying to open the window.
TEST_P(BareEnvironmentTest, AnswersWithoutAborting)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString exe = dir.filePath(QStringLiteral("leafpress"));
    ASSERT_TRUE(QFile::copy(QStringLiteral(LP_EXE_PATH), exe));
    ASSERT_TRUE(QDir(dir.path()).mkpath(QStringLiteral("in")));
    QProcess p;
    QProcessEnvironment env;
    env.insert(QStringLiteral("PATH"), QStringLiteral("/usr/bin:/bin"));
    p.setProcessEnvironment(env);
    p.setWorkingDirectory(dir.path());
    p.start(exe, GetParam().args);
    ASSERT_TRUE(p.waitForFinished(30000));
    const QString out = QString::fromLocal8Bit(p.readAllStandardOutput());
    const QString err = QString::fromLocal8Bit(p.readAllStandardError());
    ASSERT_EQ(p.exitStatus(), QProcess::NormalExit) << err.toStdString();
    EXPECT_EQ(p.exitCode(), GetParam().status) << err.toStdString();
    EXPECT_TRUE(out.contains(QString::fromUtf8(GetParam().out))) << out.toStdString();
    EXPECT_TRUE(err.contains(QString::fromUtf8(GetParam().err))) << err.toStdString();
}

INSTANTIATE_TEST_SUITE_P(Lines, BareEnvironmentTest, ::testing::Values(
    BareCase{"ShortHelp", {QStringLiteral("-h")}, 0, "Usage: leafpress", ""},
    BareCase{"ShortVersion", {QStringLiteral("-V")}, 0, ProductVersion, ""},
    BareCase{"UnknownShortOption", {QStringLiteral("-x"), QStringLiteral("-o"), QStringLiteral("out"), QStringLiteral("in")},
             2, "", "leafpress: invalid option -- 'x'\nTry 'leafpress --help' for more information.\n"},
    BareCase{"OptionsAfterTheSource", {QStringLiteral("in"), QStringLiteral("-o"), QStringLiteral("out")}, 0,
             "0 documents, 0 converted, 0 skipped, 0 failed, ", ""},
    // Several documents as a file manager hands them over, but nobody to
    // show a window to: a conventional line, which wants its target.
    BareCase{"SeveralDocumentsWithoutADisplay", {QStringLiteral("in/a.docx"), QStringLiteral("in/b.docx")}, 2, "",
             "leafpress: no target folder: give -o DIR, --in-place or --dry-run\n"
             "Try 'leafpress --help' for more information.\n"},
    BareCase{"FolderForTheWindow", {QStringLiteral("in")}, 2, "",
             "leafpress: no display: use -o DIR for a run without the window"},
    BareCase{"NoParameter", {}, 2, "", "leafpress: no display: use -o DIR for a run without the window"}),
    RowName());

struct UnattendedCase
{
    const char* name;
    const char* source; // %1 is the temporary folder
    const char* logText; // the log must hold it; %1 is the temporary folder
};

class UnattendedWithoutDisplayTest : public ::testing::TestWithParam<UnattendedCase>
{
};

// No display at all, as under cron: the run still ends by itself and writes
// its log, whichever way start-up sends it.
TEST_P(UnattendedWithoutDisplayTest, RunsAndWritesItsLog)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QDir(dir.path()).mkpath(QStringLiteral("httpdocs"));
    ASSERT_TRUE(QFile::copy(QStringLiteral(LP_SOURCE_DIR "/examples/documents/plain-letter.docx"),
                            dir.filePath(QStringLiteral("httpdocs/a.docx"))));
    const QString exe = dir.filePath(QStringLiteral("leafpress"));
    ASSERT_TRUE(QFile::copy(QStringLiteral(LP_EXE_PATH), exe));
    const QString source = QString::fromUtf8(GetParam().source).arg(dir.path());
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
        env.remove(QString::fromLatin1(name));
    env.insert(QStringLiteral("HOME"), dir.path());
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), dir.filePath(QStringLiteral("config")));
    // No browser for the failure report.
    env.insert(QStringLiteral("PATH"), dir.path() + QStringLiteral(":/usr/bin:/bin"));
    p.setProcessEnvironment(env);
    p.start(exe, {QStringLiteral("-pPureConsole=1,IsOverwrite=1,Source=%1,Target=%2,LogFile=%3")
                      .arg(source, dir.filePath(QStringLiteral("out")), dir.filePath(QStringLiteral("run.log")))});
    ASSERT_TRUE(p.waitForFinished(60000));
    EXPECT_EQ(p.exitStatus(), QProcess::NormalExit) << p.readAllStandardError().toStdString();
    EXPECT_EQ(p.exitCode(), 0);
    QFile log(dir.filePath(QStringLiteral("run.log")));
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    QString expected = QString::fromUtf8(GetParam().logText);
    expected.replace(QStringLiteral("%1"), dir.path());
    EXPECT_TRUE(QString::fromUtf8(log.readAll()).contains(expected));
}

INSTANTIATE_TEST_SUITE_P(Sources, UnattendedWithoutDisplayTest, ::testing::Values(
    // A local folder whose name holds "http" goes to the runner.
    UnattendedCase{"LocalFolderNamedHttpdocs", "%1/httpdocs/*.docx", "Success => %1/httpdocs/a.docx => [99%] %1/out/a.docx"},
    // A web address goes through the invisible window.
    UnattendedCase{"WebSourceThroughTheWindow", "http://127.0.0.1:9/a.docx", "] => http://127.0.0.1:9/a.docx => "}),
    RowName());

} // namespace
