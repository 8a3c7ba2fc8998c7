#include "app/znCommandLine.h"
#include "engine/znConvertor.h"
#include "znTestDocx.h"
#include "znTestProcess.h"
#include "znTestRows.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

QStringList args(std::initializer_list<const char*> list)
{
    QStringList result;
    for (const char* a : list)
        result << QString::fromUtf8(a);
    return result;
}

TznCommandLine parse(const QStringList& params)
{
    return ParseConventionalCommandLine(params, QStringLiteral("*.doc?"), 7);
}

struct DetectCase
{
    const char* name;
    QStringList params;
    bool conventional;
};

class DetectTest : public ::testing::TestWithParam<DetectCase>
{
};

TEST_P(DetectTest, TellsTheTwoFormsApart)
{
    EXPECT_EQ(IsConventionalCommandLine(GetParam().params), GetParam().conventional);
}

INSTANTIATE_TEST_SUITE_P(FirstParams, DetectTest, ::testing::Values(
    DetectCase{"LongOption", args({"--in-place", "/in"}), true},
    DetectCase{"ShortTarget", args({"-o", "/out", "/in"}), true},
    DetectCase{"AttachedThreads", args({"-j2", "/in"}), true},
    DetectCase{"Recursive", args({"-r"}), true},
    DetectCase{"Quiet", args({"-q"}), true},
    DetectCase{"HelpAlone", args({"--help"}), false},
    DetectCase{"VersionAlone", args({"--version"}), false},
    DetectCase{"InlineOptions", args({"-pSource=/in,Target=/out"}), false},
    DetectCase{"Install", args({"-i"}), false},
    DetectCase{"UnknownShortOption", args({"-x", "-o", "/out", "/in"}), true},
    DetectCase{"ShortHelp", args({"-h"}), true},
    DetectCase{"ShortVersion", args({"-V"}), true},
    DetectCase{"InlineOptionsCapital", args({"-PSource=/in"}), false},
    DetectCase{"OptionAfterADocument", args({"/in/a.docx", "-o", "/out"}), true},
    DetectCase{"DocumentThenAWord", args({"/in/a.docx", "ignored"}), false},
    DetectCase{"Nothing", QStringList(), false}),
    RowName());

struct MapCase
{
    const char* name;
    QStringList params;
    QString line; // option line the project must hold
};

class MapTest : public ::testing::TestWithParam<MapCase>
{
};

TEST_P(MapTest, GivesTheProjectKey)
{
    const TznCommandLine line = parse(GetParam().params);
    ASSERT_EQ(line.Error, QString());
    EXPECT_TRUE(line.OptionLines.contains(GetParam().line)) << line.OptionLines.join(u'|').toStdString();
    EXPECT_TRUE(line.OptionLines.contains(QStringLiteral("PureConsole=True")));
    EXPECT_TRUE(line.Sources.isEmpty());
}

const QString kTmp = QDir::cleanPath(QDir::tempPath());

INSTANTIATE_TEST_SUITE_P(Options, MapTest, ::testing::Values(
    MapCase{"Target", args({"-o", "/out", "/in/a.docx"}), QStringLiteral("Target=/out")},
    MapCase{"TargetLongAttached", args({"--target=/out", "/in/a.docx"}), QStringLiteral("Target=/out")},
    MapCase{"RelativeTargetFromCurrentFolder", args({"-o", "out", "/in/a.docx"}),
            QDir::cleanPath(QDir::currentPath() + QStringLiteral("/out")).prepend(QStringLiteral("Target="))},
    MapCase{"DocumentSource", args({"-o", "/out", "/in/a.docx"}), QStringLiteral("Source=/in/a.docx")},
    MapCase{"MaskSource", args({"-o", "/out", "/in/*.docx"}), QStringLiteral("Source=/in/*.docx")},
    MapCase{"FolderSourceTakesTheProductMask", args({"-o", "/out", QDir::tempPath().toUtf8().constData()}),
            QStringLiteral("Source=") + kTmp + QStringLiteral("/*.doc?")},
    MapCase{"Recursive", args({"-r", "-o", "/out", "/in"}), QStringLiteral("Subdir=True")},
    MapCase{"Threads", args({"-j", "3", "-o", "/out", "/in"}), QStringLiteral("ThreadsCount=3")},
    MapCase{"ThreadsCompacted", args({"-rj3", "-o", "/out", "/in"}), QStringLiteral("ThreadsCount=3")},
    MapCase{"ThreadsDefaultToCores", args({"-o", "/out", "/in"}), QStringLiteral("ThreadsCount=7")},
    MapCase{"OverwriteSkip", args({"--overwrite", "skip", "-o", "/out", "/in"}), QStringLiteral("IsOverwrite=skip")},
    MapCase{"OverwriteYes", args({"--overwrite=yes", "-o", "/out", "/in"}), QStringLiteral("IsOverwrite=True")},
    MapCase{"OverwriteNo", args({"--overwrite", "no", "-o", "/out", "/in"}), QStringLiteral("IsOverwrite=False")},
    MapCase{"KeepTime", args({"--keep-time", "-o", "/out", "/in"}), QStringLiteral("KeepFileTime=True")},
    MapCase{"NoRecompress", args({"--no-recompress", "-o", "/out", "/in"}), QStringLiteral("Recompress=False")},
    MapCase{"Verify", args({"--verify", "-o", "/out", "/in"}), QStringLiteral("Verify=True")},
    MapCase{"NoVerify", args({"--no-verify", "-o", "/out", "/in"}), QStringLiteral("Verify=False")},
    MapCase{"Resolution", args({"--resolution", "150", "-o", "/out", "/in"}), QStringLiteral("Resolution=150")},
    MapCase{"Quality", args({"--quality", "80", "-o", "/out", "/in"}), QStringLiteral("Quality=80")},
    MapCase{"Type", args({"--type", "2", "-o", "/out", "/in"}), QStringLiteral("Type=2")},
    MapCase{"Log", args({"--log", "/var/tmp/run.log", "-o", "/out", "/in"}), QStringLiteral("LogFile=/var/tmp/run.log")},
    MapCase{"OptionsAfterSources", args({"-o", "/out", "/in", "-r"}), QStringLiteral("Subdir=True")},
    MapCase{"CommaInAPathStaysWhole", args({"-o", "/out,x", "/in"}), QStringLiteral("Target=/out,x")},
    MapCase{"InPlaceFolderIsTheTarget", args({"--in-place", QDir::tempPath().toUtf8().constData()}),
            QStringLiteral("Target=") + kTmp},
    MapCase{"InPlaceDocumentsFolderIsTheTarget", args({"--in-place", "/in/a.docx"}), QStringLiteral("Target=/in")},
    MapCase{"InPlaceOverwrites", args({"--in-place", "/in/a.docx"}), QStringLiteral("IsOverwrite=True")},
    MapCase{"DryRunNeedsNoTarget", args({"--dry-run", "/in"}), QStringLiteral("DryRun=True")},
    MapCase{"DryRunInPlace", args({"--dry-run", "--in-place", "/in/a.docx"}), QStringLiteral("DryRun=True")},
    MapCase{"Shard", args({"--shard", "3/4", "-o", "/out", "/in"}), QStringLiteral("Shard=3/4")},
    MapCase{"ShardOfOne", args({"--shard=0/1", "-o", "/out", "/in"}), QStringLiteral("Shard=0/1")}),
    RowName());

TEST(CommandLineTest, ProjectFileRunsWithTheGivenOptionsOnTop)
{
    const TznCommandLine line = parse(args({"--project", "/p/run.batch-docslim", "-j", "2"}));
    ASSERT_EQ(line.Error, QString());
    EXPECT_EQ(line.ProjectFile, QStringLiteral("/p/run.batch-docslim"));
    EXPECT_EQ(line.OptionLines, args({"ThreadsCount=2", "PureConsole=True"}));
}

TEST(CommandLineTest, SeveralSourcesMakeOneBatch)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString a = dir.filePath(QStringLiteral("a.docx")), b = dir.filePath(QStringLiteral("sub/b.doc"));
    QDir(dir.path()).mkpath(QStringLiteral("sub"));
    for (const QString& file : {a, b}) {
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    }
    const QString mask = dir.filePath(QStringLiteral("sub/*.doc"));
    TznCommandLine line = parse({QStringLiteral("-o"), QStringLiteral("/out"), a, dir.path(), mask});
    ASSERT_EQ(line.Error, QString());
    EXPECT_EQ(line.Sources, QStringList({a, dir.path() + QStringLiteral("/*.doc?"), mask}));
    EXPECT_TRUE(line.OptionLines.contains(QStringLiteral("Source=") + a));

    // In place, every source must lie in one folder.
    line = parse({QStringLiteral("--in-place"), a, b});
    EXPECT_EQ(line.Error, QStringLiteral("--in-place takes sources of one folder only: run once per folder"));
    line = parse({QStringLiteral("--in-place"), a, dir.path()});
    EXPECT_EQ(line.Error, QString());
    EXPECT_TRUE(line.OptionLines.contains(QStringLiteral("Target=") + dir.path()));
}

using RunResult = TznProcessResult;

RunResult runProgram(const QString& exe, const QStringList& params, const QString& folder = QString())
{
    return RunProcess(exe, params, folder);
}

struct BadCase
{
    const char* name;
    QStringList params;
    const char* message;
};

class BadLineTest : public ::testing::TestWithParam<BadCase>
{
};

// One line saying what is wrong, then the pointer to --help, never the
// whole option list.
TEST_P(BadLineTest, SaysWhatIsWrongAndEndsWithTwo)
{
    const RunResult r = runProgram(QStringLiteral(LP_EXE_PATH), GetParam().params);
    EXPECT_EQ(r.status, 2);
    const QStringList lines = r.err.split(u'\n');
    ASSERT_EQ(lines.size(), 3) << r.err.toStdString();
    EXPECT_TRUE(lines[0].startsWith(QStringLiteral("leafpress: ") + QString::fromUtf8(GetParam().message)))
        << r.err.toStdString();
    EXPECT_EQ(lines[1], QStringLiteral("Try 'leafpress --help' for more information."));
    EXPECT_EQ(lines[2], QString());
    EXPECT_EQ(r.out, QString());
}

INSTANTIATE_TEST_SUITE_P(Lines, BadLineTest, ::testing::Values(
    BadCase{"UnknownLong", args({"--frobnicate", "/in"}), "unrecognized option '--frobnicate'"},
    BadCase{"UnknownLongWithValue", args({"--bogus=1", "/in"}), "unrecognized option '--bogus=1'"},
    BadCase{"UnknownShort", args({"-o", "/out", "-x", "/in"}), "invalid option -- 'x'"},
    BadCase{"UnknownInCompactedShorts", args({"-rz", "-o", "/out", "/in"}), "invalid option -- 'z'"},
    BadCase{"JsonTakesNoValue", args({"--json=yes", "-o", "/out", "/in"}), "option '--json' doesn't allow an argument"},
    BadCase{"MissingValue", args({"-r", "/in", "-o"}), "option requires an argument -- 'o'"},
    BadCase{"MissingLongValue", args({"-r", "/in", "--log"}), "option '--log' requires an argument"},
    BadCase{"NoTarget", args({"-r", "/in"}), "no target folder: give -o DIR, --in-place or --dry-run"},
    BadCase{"ShardIndexIsTheCount", args({"--shard", "4/4", "-o", "/out", "/in"}), "invalid shard '4/4'"},
    BadCase{"ShardOfNone", args({"--shard", "0/0", "-o", "/out", "/in"}), "invalid shard '0/0'"},
    BadCase{"ShardNegative", args({"--shard=-1/4", "-o", "/out", "/in"}), "invalid shard '-1/4'"},
    BadCase{"ShardNoFraction", args({"--shard", "2", "-o", "/out", "/in"}), "invalid shard '2'"},
    BadCase{"NoSource", args({"-o", "/out"}), "no SOURCE given"},
    BadCase{"TargetAndInPlace", args({"--in-place", "-o", "/out", "/in"}), "--target and --in-place exclude each other"},
    BadCase{"VerifyAndNoVerify", args({"--verify", "--no-verify", "-o", "/out", "/in"}), "--verify and --no-verify exclude each other"},
    BadCase{"VerifyTakesNoValue", args({"--verify=yes", "-o", "/out", "/in"}), "option '--verify' doesn't allow an argument"},
    BadCase{"ThreadsZero", args({"-j", "0", "-o", "/out", "/in"}), "invalid value '0' for --threads"},
    BadCase{"ThreadsWord", args({"-j", "many", "-o", "/out", "/in"}), "invalid value 'many' for --threads"},
    BadCase{"QualityAbove100", args({"--quality", "101", "-o", "/out", "/in"}), "invalid value '101' for --quality"},
    BadCase{"ResolutionNegative", args({"--resolution=-5", "-o", "/out", "/in"}), "invalid value '-5' for --resolution"},
    BadCase{"OverwriteMaybe", args({"--overwrite", "maybe", "-o", "/out", "/in"}), "invalid value 'maybe' for --overwrite"},
    BadCase{"InPlaceRename", args({"--in-place", "--overwrite", "no", "/in"}), "--in-place overwrites"},
    BadCase{"LineBreakInAValue", args({"-o", "/out\nDeleteSource=True", "/in"}), "invalid value for -o: it holds a line break"},
    BadCase{"WebAddress", args({"-o", "/out", "https://example.org/a.docx"}), "'https://example.org/a.docx': web addresses"},
    BadCase{"NoProjectFile", args({"--project", "/nonexistent/x.txt"}), "'/nonexistent/x.txt' is no project file"}),
    RowName());

// Laid out as GNU tools lay it out: one usage line, the other forms, the
// option groups in their order, examples, exit status, where bugs go; no
// line wider than a terminal.
TEST(CommandLineTest, HelpHasTheSectionsOfAGnuTool)
{
    const RunResult r = runProgram(QStringLiteral(LP_EXE_PATH), args({"--help"}));
    EXPECT_EQ(r.status, 0);
    EXPECT_TRUE(r.out.startsWith(QStringLiteral("Usage: leafpress [OPTION]... SOURCE...\n"))) << r.out.toStdString();
    EXPECT_EQ(r.out.count(QStringLiteral("Usage:")), 1);
    qsizetype at = 0;
    for (const char* section : {"\nOther forms:\n", "-pOPTIONS", "\nWhere results go:\n  -o, --target=DIR ",
                                "\nWhat is compacted:\n  -r, --recursive ", "\nHow:\n  -j, --threads=N ",
                                "\nOutput:\n", "  -h, --help ", "  -V, --version ", "\nExamples:\n  leafpress ",
                                "\nExit status:\n  0  ", "\n  1  at least one document failed\n", "\n  2  ",
                                "\nReport bugs at <"}) {
        const qsizetype found = r.out.indexOf(QString::fromUtf8(section), at);
        EXPECT_GE(found, 0) << section << " missing or out of order";
        at = qMax(found, at);
    }
    EXPECT_TRUE(r.out.contains(QStringLiteral("      --project=FILE    run the project FILE unattended; the other options\n"
                                              "                        given replace its keys\n")));
    for (const QString& line : r.out.split(u'\n'))
        EXPECT_LE(line.size(), 79) << line.toStdString();
    // The thread limit is the workers' limit, and the man page says it too.
    EXPECT_TRUE(r.out.contains(QStringLiteral("worker threads, 1 to %1 ").arg(MaxWorkers)));
    QFile page(QStringLiteral(LP_SOURCE_DIR "/data/leafpress.1.in"));
    ASSERT_TRUE(page.open(QIODevice::ReadOnly));
    EXPECT_TRUE(QString::fromUtf8(page.readAll()).contains(QStringLiteral("Worker threads, 1 to %1\n").arg(MaxWorkers)));
    EXPECT_EQ(parse(args({"-j", "65", "-o", "/out", "/in"})).Error,
              QStringLiteral("invalid value '65' for --threads: expected a number from 1 to %1").arg(MaxWorkers));
}

TEST(CommandLineTest, ManPageDescribesEveryOption)
{
    QFile page(QStringLiteral(LP_SOURCE_DIR "/data/leafpress.1.in"));
    ASSERT_TRUE(page.open(QIODevice::ReadOnly));
    const QString man = QString::fromUtf8(page.readAll());
    int options = 0;
    auto it = QRegularExpression(QStringLiteral("--([a-z][a-z-]*)")).globalMatch(ConventionalUsage());
    while (it.hasNext()) {
        const QString name = it.next().captured(1);
        ++options;
        EXPECT_TRUE(man.contains(QStringLiteral("\\-\\-") + QString(name).replace(u'-', QStringLiteral("\\-"))))
            << "--" << name.toStdString() << " is not in the man page";
    }
    EXPECT_GE(options, 12);
}

struct RealRunCase
{
    const char* name;
    QStringList params;      // relative to the run's folder
    QStringList targets;     // files that must appear
};

class RealRunTest : public ::testing::TestWithParam<RealRunCase>
{
};

// The program copied into a folder of its own (its usage store lives beside
// it) compacts built documents given in the conventional form.
TEST_P(RealRunTest, CompactsIntoTheTarget)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QDir root(dir.path());
    ASSERT_TRUE(root.mkpath(QStringLiteral("bin")) && root.mkpath(QStringLiteral("in/sub")));
    const QString exe = dir.filePath(QStringLiteral("bin/leafpress"));
    ASSERT_TRUE(QFile::copy(QStringLiteral(LP_EXE_PATH), exe));
    TznDocxBuilder doc;
    doc.Paragraph(QStringLiteral("A picture shown at half its size."));
    TznTestPicture picture;
    picture.Bytes = MakeTestImage({});
    doc.Picture(picture);
    ASSERT_TRUE(doc.Save(dir.filePath(QStringLiteral("in/a.docx"))));
    ASSERT_TRUE(doc.Save(dir.filePath(QStringLiteral("in/sub/b.docx"))));
    const qint64 before = QFileInfo(dir.filePath(QStringLiteral("in/a.docx"))).size();
    QFile project(dir.filePath(QStringLiteral("job.batch-docslim")));
    ASSERT_TRUE(project.open(QIODevice::WriteOnly));
    project.write(QStringLiteral("Source=%1/in/*.doc?\r\nTarget=%1/elsewhere\r\n").arg(dir.path()).toUtf8());
    project.close();

    const RunResult r = runProgram(exe, GetParam().params, dir.path());
    EXPECT_EQ(r.status, 0) << r.err.toStdString();
    EXPECT_EQ(r.out.count(QStringLiteral("Success => ")), GetParam().targets.size()) << r.out.toStdString();
    for (const QString& target : GetParam().targets) {
        const QFileInfo info(dir.filePath(target));
        ASSERT_TRUE(info.isFile()) << target.toStdString();
        EXPECT_LT(info.size(), before) << target.toStdString();
    }
}

INSTANTIATE_TEST_SUITE_P(Runs, RealRunTest, ::testing::Values(
    RealRunCase{"TreeToTarget", args({"-r", "-j", "2", "-o", "out", "in"}), args({"out/a.docx", "out/sub/b.docx"})},
    RealRunCase{"SeveralDocuments", args({"--target", "out", "in/a.docx", "in/sub/b.docx"}), args({"out/a.docx", "out/b.docx"})},
    RealRunCase{"DocumentsFirstThenOptions", args({"in/a.docx", "in/sub/b.docx", "-o", "out"}),
                args({"out/a.docx", "out/b.docx"})},
    // in/sub/b.docx is met again through the mask and in/a.docx by name:
    // each document is converted once, below the first source naming it.
    RealRunCase{"FolderMaskAndDocument", args({"-r", "-o", "out", "in/sub", "in/*.docx", "in/a.docx"}),
                args({"out/b.docx", "out/a.docx"})},
    RealRunCase{"FolderInPlace", args({"--in-place", "in"}), args({"in/a.docx"})},
    RealRunCase{"TreeInPlace", args({"--in-place", "-r", "in"}), args({"in/a.docx", "in/sub/b.docx"})},
    RealRunCase{"ProjectWithItsTargetReplaced", args({"--project", "job.batch-docslim", "-o", "out"}), args({"out/a.docx"})}),
    RowName());

} // namespace
