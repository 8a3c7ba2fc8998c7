#include "znTestDocx.h"
#include "znTestProcess.h"
#include "znTestRequire.h"
#include "znTestRows.h"

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

#include <gtest/gtest.h>

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
    ASSERT_EQ(r.status, 0) << r.err.toStdString() << r.out.toStdString();
    EXPECT_EQ(r.out.count(QStringLiteral("Success => ")), 2) << r.out.toStdString();
    EXPECT_EQ(r.out.count(QStringLiteral("Failure => ")), GetParam().damaged ? 1 : 0) << r.out.toStdString();
    EXPECT_TRUE(r.out.contains(QStringLiteral("(dry run: nothing written)"))) << r.out.toStdString();
    // The summary's "before -> after" and what was saved show a saving.
    const QRegularExpression sizes(QStringLiteral(
        "\n%1 documents, 2 converted, %2 failed, ([0-9.]+) MB -> ([0-9.]+) MB, [0-9.]+ s, saved [0-9.]+ MB \\(([0-9]+) %\\) "
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
    ASSERT_EQ(r.status, 0) << r.err.toStdString();
    EXPECT_EQ(r.out.count(QStringLiteral("Success => ")), 4) << r.out.toStdString();
    EXPECT_TRUE(r.out.contains(QStringLiteral("Failure => %1 => Not converted: its target \"%2\" is already that of \"%3\"\n")
                                   .arg(path(QStringLiteral("in/d2/doc1.docx")), path(QStringLiteral("out/doc1.docx")),
                                        path(QStringLiteral("in/d1/doc1.docx")))))
        << r.out.toStdString();
    EXPECT_TRUE(r.out.contains(QStringLiteral("5 documents, 4 converted, 1 failed, "))) << r.out.toStdString();
    EXPECT_EQ(checksums(path(QStringLiteral("out"))).keys(),
              QStringList({QStringLiteral("doc0.docx"), QStringLiteral("doc1.docx"), QStringLiteral("doc2.docx"),
                           QStringLiteral("doc3.docx")}));
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
    ASSERT_EQ(r.status, 0) << r.err.toStdString();
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
