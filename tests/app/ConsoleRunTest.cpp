#include "znTestDocx.h"
#include "znTestProcess.h"
#include "znTestRequire.h"
#include "znTestRows.h"
#include "znTestWebServer.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

namespace {

// Every file below root by relative path, with the SHA-256 of its bytes.
QMap<QString, QByteArray> checksums(const QString& root)
{
    QMap<QString, QByteArray> sums;
    QDirIterator it(root, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString file = it.next();
        QFile f(file);
        if (f.open(QIODevice::ReadOnly))
            sums.insert(QDir(root).relativeFilePath(file), QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha256));
    }
    return sums;
}

// The program copied into a folder of its own with documents below in/:
// `pictures` of them with a picture shown at half its size, `plain` more
// with text only, spread over three subfolders.
class ConsoleRunTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(FDir.isValid());
        ASSERT_TRUE(QDir(FDir.path()).mkpath(QStringLiteral("bin")));
        ASSERT_TRUE(QFile::copy(QStringLiteral(LP_EXE_PATH), exe()));
    }

    void addDocuments(int pictures, int plain)
    {
        TznDocxBuilder withPicture;
        withPicture.Paragraph(QStringLiteral("A picture shown at half its size."));
        TznTestPicture picture;
        picture.Bytes = MakeTestImage({});
        withPicture.Picture(picture);
        TznDocxBuilder text;
        text.Paragraph(QStringLiteral("Only text."));
        for (int i = 0; i < pictures + plain; ++i) {
            const QString name = path(QStringLiteral("in/d%1/doc%2.docx").arg(i % 3).arg(i));
            QDir().mkpath(QFileInfo(name).path());
            ASSERT_TRUE((i < pictures ? withPicture : text).Save(name));
        }
    }

    QString path(const QString& name) const { return FDir.filePath(name); }
    QString exe() const { return path(QStringLiteral("bin/leafpress")); }
    TznProcessResult run(const QStringList& params) { return RunProcess(exe(), params, FDir.path()); }

    QTemporaryDir FDir;
};

// A dry run measures every result but leaves target and sources as they
// were, whatever it is told to do with the sources, and its temporary
// folder is gone at the end, also after a document that failed.
struct DryRunCase
{
    const char* name;
    QStringList params; // after the program, before the source
    bool damaged = false; // a broken document among the sources
};

class DryRunTest : public ConsoleRunTest, public ::testing::WithParamInterface<DryRunCase>
{
};

TEST_P(DryRunTest, TouchesNothingAndTellsTheSavings)
{
    addDocuments(2, 0);
    if (GetParam().damaged) {
        QFile damaged(path(QStringLiteral("in/d0/broken.docx")));
        ASSERT_TRUE(damaged.open(QIODevice::WriteOnly));
        damaged.write("PK\x03\x04 not a document");
    }
    ASSERT_TRUE(QDir(FDir.path()).mkpath(QStringLiteral("out")));
    ASSERT_TRUE(QDir(FDir.path()).mkpath(QStringLiteral("tmp")));
    const auto sourcesBefore = checksums(path(QStringLiteral("in")));
    const QByteArray tmpBefore = qgetenv("TMPDIR");
    qputenv("TMPDIR", QFile::encodeName(path(QStringLiteral("tmp"))));
    const TznProcessResult r = run(GetParam().params);
    if (tmpBefore.isNull())
        qunsetenv("TMPDIR");
    else
        qputenv("TMPDIR", tmpBefore);
    // A failed document is in the status of a conventional line only.
    const bool seed = GetParam().params.first().startsWith(QStringLiteral("-p"));
    ASSERT_EQ(r.status, GetParam().damaged && !seed ? 1 : 0) << r.err.toStdString() << r.out.toStdString();
    EXPECT_EQ(r.out.count(QStringLiteral("Success => ")), 2) << r.out.toStdString();
    EXPECT_EQ(r.out.count(QStringLiteral("Failure => ")), GetParam().damaged ? 1 : 0) << r.out.toStdString();
    EXPECT_TRUE(r.out.contains(QStringLiteral("(dry run: nothing written)"))) << r.out.toStdString();
    // The summary's "before -> after" and what was saved show a saving.
    const QRegularExpression sizes(QStringLiteral(
        "\n%1 documents, 2 converted, 0 skipped, %2 failed, ([0-9.]+) MB -> ([0-9.]+) MB, [0-9.]+ s, saved [0-9.]+ MB \\(([0-9]+) %\\) "
        "\\(dry run: nothing written\\)\n").arg(GetParam().damaged ? 3 : 2).arg(GetParam().damaged ? 1 : 0));
    const auto m = sizes.match(r.out);
    ASSERT_TRUE(m.hasMatch()) << r.out.toStdString();
    EXPECT_GT(m.captured(1).toDouble(), m.captured(2).toDouble()) << r.out.toStdString();
    EXPECT_GT(m.captured(3).toInt(), 0) << r.out.toStdString();
    EXPECT_EQ(checksums(path(QStringLiteral("in"))), sourcesBefore);
    EXPECT_TRUE(checksums(path(QStringLiteral("out"))).isEmpty());
    EXPECT_EQ(QDir(path(QStringLiteral("tmp"))).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
              QStringList());
}

INSTANTIATE_TEST_SUITE_P(Runs, DryRunTest, ::testing::Values(
    DryRunCase{"ConventionalTreeToTarget", {QStringLiteral("--dry-run"), QStringLiteral("-r"), QStringLiteral("-o"),
                                            QStringLiteral("out"), QStringLiteral("in")}},
    DryRunCase{"ConventionalInPlace", {QStringLiteral("--dry-run"), QStringLiteral("--in-place"), QStringLiteral("-r"),
                                       QStringLiteral("in")}},
    DryRunCase{"ConventionalSeveralSources", {QStringLiteral("--dry-run"), QStringLiteral("-o"), QStringLiteral("out"),
                                              QStringLiteral("in/d0"), QStringLiteral("in/d1/*.docx")}},
    DryRunCase{"FailedDocumentLeavesNoTemporaryFile", {QStringLiteral("--dry-run"), QStringLiteral("-r"),
                                                       QStringLiteral("-o"), QStringLiteral("out"), QStringLiteral("in")},
               true},
    DryRunCase{"ProjectKeyWithDeleteSource",
               {QStringLiteral("-pPureConsole=1,Subdir=1,Source=in/*.doc?,Target=out,DryRun=1,DeleteSource=1")}},
    DryRunCase{"ProjectKeyWithRenameSource",
               {QStringLiteral("-pPureConsole=1,Subdir=1,Source=in/*.doc?,Target=out,DryRun=1,RenameSource=.old")}}),
    RowName());

// Several sources whose documents would share a target: the first keeps
// it, the second is a failure row of its own, and nothing is overwritten.
TEST_F(ConsoleRunTest, SeveralSourcesNeverShareATarget)
{
    addDocuments(4, 0);
    TznDocxBuilder text;
    text.Paragraph(QStringLiteral("Another document of the same name."));
    ASSERT_TRUE(text.Save(path(QStringLiteral("in/d2/doc1.docx"))));
    const TznProcessResult r = run({QStringLiteral("-o"), QStringLiteral("out"), QStringLiteral("in/d0"),
                                    QStringLiteral("in/d1/*.docx"), QStringLiteral("in/d2")});
    ASSERT_EQ(r.status, 1) << r.err.toStdString();
    EXPECT_EQ(r.out.count(QStringLiteral("Success => ")), 4) << r.out.toStdString();
    EXPECT_TRUE(r.out.contains(QStringLiteral("Failure => %1 => Not converted: its target \"%2\" is already that of \"%3\"\n")
                                   .arg(path(QStringLiteral("in/d2/doc1.docx")), path(QStringLiteral("out/doc1.docx")),
                                        path(QStringLiteral("in/d1/doc1.docx")))))
        << r.out.toStdString();
    EXPECT_TRUE(r.out.contains(QStringLiteral("5 documents, 4 converted, 0 skipped, 1 failed, "))) << r.out.toStdString();
    EXPECT_EQ(checksums(path(QStringLiteral("out"))).keys(),
              QStringList({QStringLiteral("doc0.docx"), QStringLiteral("doc1.docx"), QStringLiteral("doc2.docx"),
                           QStringLiteral("doc3.docx")}));
}

// What a run prints and how it ends, by either command line and on either
// way a run takes (the runner, the invisible window of a web source). In
// the texts {dir} is the test's folder, {web} the local web server's
// address and {cred} the same with a user and password in it.
struct OutcomeCase
{
    const char* name;
    QStringList params;
    int status;
    QStringList out; // standard output holds each
    QStringList err; // standard error holds each
    QStringList never; // neither output, the log nor an error report holds any
    int written = -1; // documents outside in/ and web/ afterwards; -1: not counted
    bool rerun = false; // the same line ran once before
    bool damaged = false; // a broken document among the sources
    int reports = 0; // error reports handed to xdg-open
};

class OutcomeTest : public ConsoleRunTest, public ::testing::WithParamInterface<OutcomeCase>
{
protected:
    QString expand(QString text) const
    {
        text.replace(QStringLiteral("{dir}"), FDir.path());
        text.replace(QStringLiteral("{cred}"), QString(FWeb).replace(0, 7, QStringLiteral("http://admin:s3cret@")));
        text.replace(QStringLiteral("{web}"), FWeb);
        return text;
    }
    QString FWeb;
};

TEST_P(OutcomeTest, PrintsCountsAndEndsWithItsStatus)
{
    const OutcomeCase& c = GetParam();
    addDocuments(2, 0);
    if (c.damaged) {
        QFile damaged(path(QStringLiteral("in/d0/broken.docx")));
        ASSERT_TRUE(damaged.open(QIODevice::WriteOnly));
        damaged.write("PK\x03\x04 not a document");
    }
    ASSERT_TRUE(QDir(FDir.path()).mkpath(QStringLiteral("web")));
    ASSERT_TRUE(QFile::copy(path(QStringLiteral("in/d0/doc0.docx")), path(QStringLiteral("web/a.docx"))));
    TznTestWebServer server(path(QStringLiteral("web")));
    ASSERT_TRUE(server.IsRunning());
    FWeb = server.Url(QStringLiteral("/")).chopped(1);
    // A browser that only notes the address it was given.
    ASSERT_TRUE(QDir(FDir.path()).mkpath(QStringLiteral("browser")));
    const QString opener = path(QStringLiteral("browser/xdg-open"));
    QFile script(opener);
    ASSERT_TRUE(script.open(QIODevice::WriteOnly));
    script.write("#!/bin/sh\nprintf '%s\\n' \"$1\" >> \"$(dirname \"$0\")/opened.txt\"\n");
    script.close();
    ASSERT_TRUE(script.setPermissions(script.permissions() | QFileDevice::ExeOwner));

    QStringList params;
    for (const QString& param : c.params)
        params << expand(param);
    if (c.rerun) {
        ASSERT_EQ(RunProcess(exe(), params, FDir.path(), path(QStringLiteral("browser"))).status, 0);
    }
    QFile::remove(path(QStringLiteral("browser/opened.txt")));
    const TznProcessResult r = RunProcess(exe(), params, FDir.path(), path(QStringLiteral("browser")));
    EXPECT_EQ(r.status, c.status) << r.err.toStdString() << r.out.toStdString();
    for (const QString& text : c.out)
        EXPECT_TRUE(r.out.contains(expand(text))) << expand(text).toStdString() << "\n" << r.out.toStdString();
    for (const QString& text : c.err)
        EXPECT_TRUE(r.err.contains(expand(text))) << expand(text).toStdString() << "\n" << r.err.toStdString();

    // The browser starts detached from the run: give it a moment.
    QFile opened(path(QStringLiteral("browser/opened.txt")));
    for (int i = 0; i < 40 && opened.size() == 0; ++i)
        QThread::msleep(c.reports > 0 ? 50 : 10);
    QString reports;
    if (opened.open(QIODevice::ReadOnly))
        reports = QString::fromUtf8(opened.readAll());
    EXPECT_EQ(reports.count(u'\n'), c.reports) << reports.toStdString();
    // A report that leaves the machine names documents, never their folders.
    EXPECT_FALSE(reports.contains(FDir.path())) << reports.toStdString();
    QFile log(path(QStringLiteral("run.log")));
    const QString logged = log.open(QIODevice::ReadOnly) ? QString::fromUtf8(log.readAll()) : QString();
    for (const QString& text : c.never)
        for (const QString& where : {r.out, r.err, logged, reports})
            EXPECT_FALSE(where.contains(expand(text))) << expand(text).toStdString() << "\n" << where.toStdString();
    if (c.written >= 0) {
        int written = 0;
        QDirIterator it(FDir.path(), {QStringLiteral("*.docx")}, QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString file = QDir(FDir.path()).relativeFilePath(it.next());
            written += !file.startsWith(QStringLiteral("in/")) && !file.startsWith(QStringLiteral("web/"));
        }
        EXPECT_EQ(written, c.written);
    }
}

const QString seedLocal = QStringLiteral("-pPureConsole=1,Subdir=1,Source={dir}/in/*.doc?,Target={dir}/out");
const QString seedWeb = QStringLiteral("-pPureConsole=1,Source={web}/a.docx");

INSTANTIATE_TEST_SUITE_P(Runs, OutcomeTest, ::testing::Values(
    OutcomeCase{"ConventionalSkipsCountApart",
                {QStringLiteral("--overwrite=skip"), QStringLiteral("-r"), QStringLiteral("-o"), QStringLiteral("out"),
                 QStringLiteral("in")},
                0, {QStringLiteral("\n2 documents, 0 converted, 2 skipped, 0 failed, ")}, {}, {}, 2, true},
    OutcomeCase{"ConventionalJsonCountsSkips",
                {QStringLiteral("--json"), QStringLiteral("--overwrite=skip"), QStringLiteral("-r"), QStringLiteral("-o"),
                 QStringLiteral("out"), QStringLiteral("in")},
                0, {QStringLiteral("\"converted\":0,"), QStringLiteral("\"failed\":0,"), QStringLiteral("\"skipped\":2,")}, {},
                {QStringLiteral("\"converted\":2")}, 2, true},
    OutcomeCase{"SeedSkipsCountApart", {seedLocal + QStringLiteral(",IsOverwrite=skip")}, 0,
                {QStringLiteral("\n2 documents, 0 converted, 2 skipped, 0 failed, ")}, {}, {}, 2, true},
    OutcomeCase{"ConventionalFailureOpensNoBrowserAndEndsWithOne",
                {QStringLiteral("-r"), QStringLiteral("-o"), QStringLiteral("out"), QStringLiteral("in")}, 1,
                {QStringLiteral("\n3 documents, 2 converted, 0 skipped, 1 failed, ")}, {}, {}, 2, false, true, 0},
    OutcomeCase{"ConventionalJsonFailureEndsWithOne",
                {QStringLiteral("--json"), QStringLiteral("-r"), QStringLiteral("-o"), QStringLiteral("out"),
                 QStringLiteral("in")},
                1, {QStringLiteral("\"failed\":1,")}, {}, {}, 2, false, true, 0},
    OutcomeCase{"ConventionalDryRunFailureEndsWithOne",
                {QStringLiteral("--dry-run"), QStringLiteral("-r"), QStringLiteral("in")}, 1,
                {QStringLiteral("\n3 documents, 2 converted, 0 skipped, 1 failed, ")}, {}, {}, 0, false, true, 0},
    OutcomeCase{"ConventionalAllConvertedEndsWithZero",
                {QStringLiteral("-r"), QStringLiteral("-o"), QStringLiteral("out"), QStringLiteral("in")}, 0,
                {QStringLiteral("\n2 documents, 2 converted, 0 skipped, 0 failed, ")}, {}, {}, 2},
    OutcomeCase{"ConventionalMissingSourceEndsWithTwo",
                {QStringLiteral("-o"), QStringLiteral("out"), QStringLiteral("in/missing.docx")}, 2, {},
                {QStringLiteral("leafpress: the source \"{dir}/in/missing.docx\" does not exist: check the path, "
                                "or quote a mask\n")}, {}, 0},
    OutcomeCase{"ConventionalLogOnAFullDeviceEndsWithTwo",
                {QStringLiteral("-r"), QStringLiteral("--log"), QStringLiteral("/dev/full"), QStringLiteral("-o"),
                 QStringLiteral("out"), QStringLiteral("in")}, 2, {},
                {QStringLiteral("leafpress: the log file was not written")}, {}, 2},
    OutcomeCase{"SeedFailureReportNamesTheFileOnly", {seedLocal}, 0,
                {QStringLiteral("\n3 documents, 2 converted, 0 skipped, 1 failed, ")}, {}, {}, 2, false, true, 1},
    OutcomeCase{"ConventionalDryRunNamesResultsInPlace",
                {QStringLiteral("--dry-run"), QStringLiteral("-q"), QStringLiteral("in/d0"), QStringLiteral("in/d1")}, 0,
                {QStringLiteral("Success => {dir}/in/d1/doc1.docx => ["), QStringLiteral("] {dir}/in/d1/doc1.docx\n")}, {},
                {QStringLiteral("{dir}/in/d0/doc1.docx")}, 0},
    OutcomeCase{"MaskOverTheLengthLimitIsToldAlone",
                {QStringLiteral("-o"), QStringLiteral("out"), QStringLiteral("in/") + QString(300, u'*') + QStringLiteral(".docx")},
                2, {}, {QStringLiteral("leafpress: The file mask has 305 characters, more than the 255")},
                {QStringLiteral("out/: The file mask")}, 0},
    OutcomeCase{"WebWithoutTargetIsRefused", {seedWeb}, 2, {},
                {QStringLiteral("leafpress: a web source has no local folder")}, {}, 0},
    OutcomeCase{"WebWithoutTargetIsRefusedByTheWindow", {QStringLiteral("-pRunAndClose=1,Source={web}/a.docx")}, 2, {},
                {QStringLiteral("leafpress: a web source has no local folder")}, {}, 0},
    OutcomeCase{"WebResultLineAndSummary", {seedWeb + QStringLiteral(",Target={dir}/out")}, 0,
                {QStringLiteral("Success => {web}/a.docx => "), QStringLiteral("\n1 documents, 1 converted, 0 skipped, 0 failed, ")},
                {}, {}, 1},
    OutcomeCase{"WebCredentialsAreNeverShown",
                {QStringLiteral("-pPureConsole=1,Source={cred}/a.docx,Target={dir}/out,LogFile={dir}/run.log")}, 0,
                {QStringLiteral("Success => {web}/a.docx => ")}, {}, {QStringLiteral("s3cret")}, 1},
    OutcomeCase{"WebLogOverADocumentIsRefused",
                {seedWeb + QStringLiteral(",Target={dir}/out,LogFile={dir}/out/a.docx")}, 2, {},
                {QStringLiteral("would be written over a document")}, {}, 0},
    OutcomeCase{"WebLogOnAFullDevice", {seedWeb + QStringLiteral(",Target={dir}/out,LogFile=/dev/full")}, 2,
                {QStringLiteral("Success => {web}/a.docx => "), QStringLiteral("\n1 documents, 1 converted, 0 skipped, 0 failed, ")},
                {QStringLiteral("leafpress: the log file was not written")}, {}, 1},
    OutcomeCase{"WebDryRunIsRefused", {seedWeb + QStringLiteral(",Target={dir}/out,DryRun=1")}, 2, {},
                {QStringLiteral("leafpress: the project asks for a dry run")}, {}, 0}),
    RowName());

// A document whose name is not valid UTF-8 or holds a control character,
// named by its bytes on either command line: it is converted, and its
// result line and JSON record show each such byte as \xHH, never raw.
struct EscapedNameCase
{
    const char* name;
    QByteArray fileName; // bytes below in/
    // Before the source; "seed" for the first-parameter form. "folder"
    // (GNU form) and "folder-seed" put the name in in/ and in in/d0/ too and
    // give the folder in/ with its sub-folders as the source.
    const char* params;
    const char* shown; // what standard output holds; {dir} is the test's folder
    const char* result; // and after the result's share in percent
};

class EscapedNameTest : public ConsoleRunTest, public ::testing::WithParamInterface<EscapedNameCase>
{
protected:
    // The temporary folder cannot remove names that are no UTF-8: rm takes
    // them by their bytes.
    void TearDown() override { RunProcess(QStringLiteral("/bin/rm"), {QStringLiteral("-rf"), FDir.path()}); }
};

TEST_P(EscapedNameTest, ShowsEveryByteItCannotPrint)
{
    const EscapedNameCase& c = GetParam();
    addDocuments(1, 0);
    QFile sample(path(QStringLiteral("in/d0/doc0.docx")));
    ASSERT_TRUE(sample.open(QIODevice::ReadOnly));
    const QByteArray bytes = sample.readAll();
    const QString params = QString::fromUtf8(c.params);
    const bool folder = params.startsWith(QStringLiteral("folder"));
    for (const char* below : {"in/", "in/d0/"}) {
        if (!folder && std::strcmp(below, "in/") != 0)
            continue;
        const QByteArray file = QFile::encodeName(path(QString::fromUtf8(below))) + c.fileName;
        std::FILE* out = std::fopen(file.constData(), "wb");
        ASSERT_NE(out, nullptr);
        ASSERT_EQ(std::fwrite(bytes.constData(), 1, size_t(bytes.size()), out), size_t(bytes.size()));
        std::fclose(out);
    }
    // The name goes to the program by its bytes, through printf's octal
    // escapes, which QProcess's text arguments could not carry.
    QString octal;
    for (const char b : c.fileName)
        octal += QStringLiteral("\\%1").arg(uint(uchar(b)), 3, 8, QLatin1Char('0'));
    const QString name = QStringLiteral("\"$PWD/in/$(printf '%1')\"").arg(octal);
    QString command;
    if (params == QStringLiteral("folder-seed"))
        command = QStringLiteral("exec \"$0\" \"-pPureConsole=1,Source=$PWD/in/*.doc?,Subdir=True,Target=$PWD/out\"");
    else if (folder)
        command = QStringLiteral("exec \"$0\" %1 \"$PWD/in\"").arg(params.mid(6));
    else if (params == QStringLiteral("seed"))
        command = QStringLiteral("exec \"$0\" \"-pPureConsole=1,Source=\"%1\",Target=$PWD/out\"").arg(name);
    else
        command = QStringLiteral("exec \"$0\" %1 %2").arg(params, name);
    const TznProcessResult r = RunProcess(QStringLiteral("/bin/sh"), {QStringLiteral("-c"), command, exe()}, FDir.path());
    EXPECT_EQ(r.status, 0) << r.err.toStdString();
    const QString shown = QString::fromUtf8(c.shown).replace(QStringLiteral("{dir}"), FDir.path());
    EXPECT_TRUE(r.out.contains(shown)) << shown.toStdString() << "\n" << r.out.toStdString();
    const QString result = QString::fromUtf8(c.result).replace(QStringLiteral("{dir}"), FDir.path());
    EXPECT_TRUE(r.out.contains(result)) << result.toStdString() << "\n" << r.out.toStdString();
    EXPECT_FALSE(r.out.contains(u'\x1b'));
}

INSTANTIATE_TEST_SUITE_P(Names, EscapedNameTest, ::testing::Values(
    EscapedNameCase{"Latin1ByteConventional", QByteArray("caf\xe9.docx"), "-q -o out",
                    "Success => {dir}/in/caf\\xE9.docx => [", "%] {dir}/out/caf\\xE9.docx\n"},
    EscapedNameCase{"Latin1ByteSeed", QByteArray("caf\xe9.docx"), "seed",
                    "Success => {dir}/in/caf\\xE9.docx => [", "%] {dir}/out/caf\\xE9.docx\n"},
    EscapedNameCase{"Latin1ByteJson", QByteArray("caf\xe9.docx"), "-q --json -o out",
                    "\"source\":\"{dir}/in/caf\\\\xE9.docx\"", "%] {dir}/out/caf\\\\xE9.docx\""},
    EscapedNameCase{"FolderAndSubFolderConventional", QByteArray("caf\xe9.docx"), "folder -q -r -o out",
                    "Success => {dir}/in/d0/caf\\xE9.docx => [", "%] {dir}/out/caf\\xE9.docx\n"},
    EscapedNameCase{"FolderAndSubFolderSeed", QByteArray("caf\xe9.docx"), "folder-seed",
                    "Success => {dir}/in/d0/caf\\xE9.docx => [", "%] {dir}/out/caf\\xE9.docx\n"},
    EscapedNameCase{"EscapeSequenceConventional", QByteArray("red\x1b[31m.docx"), "-q -o out",
                    "Success => {dir}/in/red\\x1B[31m.docx => [", "%] {dir}/out/red\\x1B[31m.docx\n"},
    EscapedNameCase{"EscapeSequenceJson", QByteArray("red\x1b[31m.docx"), "-q --json -o out",
                    "\"source\":\"{dir}/in/red\\\\x1B[31m.docx\"", "%] {dir}/out/red\\\\x1B[31m.docx\""}),
    RowName());

// A log on a disk that is full: the run says why it could not write it and
// ends with 2, and the older log is still there as it was, with nothing
// beside it. The disk is a small memory file system of a private mount
// namespace, which needs root.
TEST_F(ConsoleRunTest, LogOnAFullDiskKeepsTheOlderLog)
{
    const QString unshare = QStandardPaths::findExecutable(QStringLiteral("unshare"));
    LP_SKIP_UNLESS(!unshare.isEmpty()) << "unshare (util-linux) is not installed";
    addDocuments(1, 0);
    ASSERT_TRUE(QDir(FDir.path()).mkpath(QStringLiteral("full")));
    const QString script = QStringLiteral(
        "mount -t tmpfs -o size=64k tmpfs full || exit 99\n"
        "printf 'older log\\n' > full/run.log\n"
        "dd if=/dev/zero of=full/fill bs=1k 2>/dev/null\n"
        "\"$0\" -q -r -o out --log full/run.log in\n"
        "echo \"status=$?\"\n"
        "ls -A full\n"
        "cat full/run.log\n");
    const TznProcessResult r = RunProcess(unshare, {QStringLiteral("-m"), QStringLiteral("sh"), QStringLiteral("-c"),
                                                    script, exe()}, FDir.path());
    LP_SKIP_UNLESS(r.status != 99 && r.out.contains(QStringLiteral("status=")))
        << "no private mount namespace here (needs root): " << r.err.toStdString();
    EXPECT_TRUE(r.out.contains(QStringLiteral("\nstatus=2\nfill\nrun.log\nolder log\n"))) << r.out.toStdString();
    EXPECT_TRUE(r.err.contains(QStringLiteral("leafpress: the log file was not written: ")));
    EXPECT_TRUE(r.err.contains(QStringLiteral("No space left on device"))) << r.err.toStdString();
}

// Reads a JSON Lines stream: one object a line, none malformed.
QList<QJsonObject> jsonLines(const QString& out)
{
    QList<QJsonObject> records;
    for (const QString& line : out.split(u'\n', Qt::SkipEmptyParts)) {
        QJsonParseError error;
        const QJsonDocument doc = QJsonDocument::fromJson(line.toUtf8(), &error);
        EXPECT_EQ(error.error, QJsonParseError::NoError) << line.toStdString();
        EXPECT_TRUE(doc.isObject()) << line.toStdString();
        records << doc.object();
    }
    return records;
}

TEST_F(ConsoleRunTest, JsonGivesOneRecordPerDocumentThenTheSummary)
{
    addDocuments(2, 1);
    QFile damaged(path(QStringLiteral("in/d0/broken.docx")));
    ASSERT_TRUE(damaged.open(QIODevice::WriteOnly));
    damaged.write("PK\x03\x04 not a document");
    damaged.close();
    const TznProcessResult r = run({QStringLiteral("--json"), QStringLiteral("-r"), QStringLiteral("-o"),
                                    QStringLiteral("out"), QStringLiteral("in")});
    ASSERT_EQ(r.status, 1) << r.err.toStdString();
    const QList<QJsonObject> records = jsonLines(r.out);
    ASSERT_EQ(records.size(), 5) << r.out.toStdString();
    qint64 saved = 0;
    QStringList statuses;
    for (qsizetype i = 0; i < 4; ++i) {
        EXPECT_EQ(records[i][QStringLiteral("type")].toString(), QStringLiteral("document"));
        statuses << records[i][QStringLiteral("status")].toString();
        saved += records[i][QStringLiteral("savedBytes")].toInteger();
    }
    statuses.sort();
    EXPECT_EQ(statuses, QStringList({QStringLiteral("Failure"), QStringLiteral("Success"), QStringLiteral("Success"),
                                     QStringLiteral("Success")}));
    const QJsonObject summary = records.last();
    EXPECT_EQ(summary[QStringLiteral("type")].toString(), QStringLiteral("summary"));
    EXPECT_EQ(summary[QStringLiteral("documents")].toInt(), 4);
    EXPECT_EQ(summary[QStringLiteral("converted")].toInt(), 3);
    EXPECT_EQ(summary[QStringLiteral("failed")].toInt(), 1);
    EXPECT_GT(saved, 0);
    EXPECT_EQ(summary[QStringLiteral("savedBytes")].toInteger(), saved);
    EXPECT_FALSE(summary[QStringLiteral("dryRun")].toBool());
}

// Four processes started by GNU parallel, each with its shard, write the
// same targets as one run of the whole tree, and every document is in
// exactly one shard's records.
TEST_F(ConsoleRunTest, FourShardsByParallelMakeTheWholeRun)
{
    const QString parallel = QStandardPaths::findExecutable(QStringLiteral("parallel"));
    LP_SKIP_UNLESS(!parallel.isEmpty()) << "GNU parallel is not installed (scripts/install-deps.sh installs it)";
    addDocuments(0, 40);
    const TznProcessResult whole = run({QStringLiteral("-r"), QStringLiteral("-j2"), QStringLiteral("-o"),
                                        QStringLiteral("whole"), QStringLiteral("in")});
    ASSERT_EQ(whole.status, 0) << whole.err.toStdString();
    const TznProcessResult sharded = RunProcess(
        parallel, {QStringLiteral("-j4"), exe(), QStringLiteral("--json"), QStringLiteral("-j1"), QStringLiteral("-r"),
                   QStringLiteral("--shard"), QStringLiteral("{}/4"), QStringLiteral("-o"), QStringLiteral("sharded"),
                   QStringLiteral("in"), QStringLiteral(":::"), QStringLiteral("0"), QStringLiteral("1"),
                   QStringLiteral("2"), QStringLiteral("3")},
        FDir.path());
    ASSERT_EQ(sharded.status, 0) << sharded.err.toStdString();

    const auto wholeTargets = checksums(path(QStringLiteral("whole")));
    ASSERT_EQ(wholeTargets.size(), 40);
    EXPECT_EQ(checksums(path(QStringLiteral("sharded"))).keys(), wholeTargets.keys());
    QMap<QString, int> seen;
    int summaries = 0, documents = 0;
    for (const QJsonObject& record : jsonLines(sharded.out)) {
        if (record[QStringLiteral("type")].toString() == QStringLiteral("summary")) {
            ++summaries;
            documents += record[QStringLiteral("documents")].toInt();
            // No shard of 40 documents is empty or holds them all.
            EXPECT_GT(record[QStringLiteral("documents")].toInt(), 0);
            EXPECT_LT(record[QStringLiteral("documents")].toInt(), 40);
        } else {
            ++seen[record[QStringLiteral("source")].toString()];
        }
    }
    EXPECT_EQ(summaries, 4);
    EXPECT_EQ(documents, 40);
    ASSERT_EQ(seen.size(), 40);
    for (auto it = seen.cbegin(); it != seen.cend(); ++it)
        EXPECT_EQ(it.value(), 1) << it.key().toStdString();
}

// The live line goes to standard error on a terminal only: through a
// pseudo-terminal it is drawn and wiped, through pipes nothing of it shows,
// and standard output never carries it.
TEST_F(ConsoleRunTest, ProgressLineOnlyOnATerminal)
{
    const QString script = QStandardPaths::findExecutable(QStringLiteral("script"));
    LP_SKIP_UNLESS(!script.isEmpty()) << "script (util-linux) is not installed";
    addDocuments(2, 4);
    const QString command = QStringLiteral("'%1' -r -o out in > stdout.txt").arg(exe());
    const TznProcessResult tty = RunProcess(script, {QStringLiteral("-q"), QStringLiteral("-c"), command,
                                                     QStringLiteral("/dev/null")}, FDir.path());
    ASSERT_EQ(tty.status, 0) << tty.err.toStdString();
    EXPECT_TRUE(tty.out.contains(QStringLiteral(" elapsed, "))) << tty.out.toStdString();
    EXPECT_TRUE(tty.out.contains(QStringLiteral("\r\x1b[K"))) << "the line is not wiped";
    QFile out(path(QStringLiteral("stdout.txt")));
    ASSERT_TRUE(out.open(QIODevice::ReadOnly));
    const QByteArray stdoutBytes = out.readAll();
    EXPECT_EQ(stdoutBytes.count("Success => "), 6) << stdoutBytes.toStdString();
    EXPECT_FALSE(stdoutBytes.contains("elapsed")) << stdoutBytes.toStdString();

    const TznProcessResult quiet = RunProcess(
        script, {QStringLiteral("-q"), QStringLiteral("-c"), command + QStringLiteral(" -q --overwrite yes"),
                 QStringLiteral("/dev/null")}, FDir.path());
    EXPECT_FALSE(quiet.out.contains(QStringLiteral(" elapsed, "))) << quiet.out.toStdString();

    const TznProcessResult piped = run({QStringLiteral("-r"), QStringLiteral("--overwrite"), QStringLiteral("yes"),
                                        QStringLiteral("-o"), QStringLiteral("out"), QStringLiteral("in")});
    ASSERT_EQ(piped.status, 0) << piped.err.toStdString();
    EXPECT_FALSE(piped.err.contains(QStringLiteral("elapsed"))) << piped.err.toStdString();
    EXPECT_FALSE(piped.out.contains(QStringLiteral("elapsed"))) << piped.out.toStdString();
}

} // namespace
