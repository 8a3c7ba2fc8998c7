#include "platform/znTextFile.h"

#include "znTestDocx.h"
#include "znTestRequire.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>


namespace {

QByteArray bytesOf(const QString& file)
{
    QFile f(file);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// A corpus row: the document and what its manifest says of it.
struct CorpusDoc
{
    QString RelPath;
    QString Format;
    int Media = 0, Anchored = 0, ScaledDown = 0;
    QString Features;
};

QList<CorpusDoc> readManifest(const QString& corpus)
{
    QList<CorpusDoc> docs;
    const auto text = ReadTextFile(corpus + QStringLiteral("/MANIFEST.tsv"));
    if (!text)
        return docs;
    const QStringList lines = SplitLines(*text);
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QStringList f = lines[i].split(u'\t');
        if (f.size() < 14)
            continue;
        docs.append({f[0], f[6], f[7].toInt(), f[10].toInt(), f[11].toInt(), f[13]});
    }
    return docs;
}

// Runs python-docx on every file of a folder; the names it cannot read.
QStringList pythonDocxRefuses(const QStringList& files)
{
    QProcess p;
    p.start(QStringLiteral("/usr/bin/python3"),
            QStringList{QStringLiteral("-c"),
                        QStringLiteral("import sys, docx\n"
                                       "for f in sys.argv[1:]:\n"
                                       "    try: docx.Document(f)\n"
                                       "    except Exception: print(f)\n")} + files);
    p.waitForFinished(300000);
    return QString::fromUtf8(p.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
}

// Compacts the sample documents (written by python-docx) and the corpus's
// word-processing documents with pictures through the real program.
class CompactionIntegrationTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(FDir.isValid());
        QDir(FDir.path()).mkpath(QStringLiteral("in"));
        QDir(FDir.path()).mkpath(QStringLiteral("bin"));
        FExe = FDir.filePath(QStringLiteral("bin/leafpress"));
        ASSERT_TRUE(QFile::copy(QStringLiteral(LP_EXE_PATH), FExe));
        const QString opener = FDir.filePath(QStringLiteral("bin/xdg-open"));
        QFile f(opener);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("#!/bin/sh\nexit 0\n");
        f.close();
        QFile::setPermissions(opener, QFile::permissions(opener) | QFileDevice::ExeOwner);
    }

    QString in(const QString& name) const { return FDir.filePath(QStringLiteral("in/") + name); }
    QString out(const QString& name) const { return FDir.filePath(QStringLiteral("out/") + name); }

    QStringList runAll()
    {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("PATH"), FDir.filePath(QStringLiteral("bin")) + u':' + env.value(QStringLiteral("PATH")));
        p.setProcessEnvironment(env);
        const QString log = FDir.filePath(QStringLiteral("run.log"));
        p.start(FExe, {QStringLiteral("-pPureConsole=1,ThreadsCount=2,IsOverwrite=1,Source=%1,Target=%2,LogFile=%3")
                           .arg(in(QStringLiteral("*.doc?")), FDir.filePath(QStringLiteral("out")), log)});
        EXPECT_TRUE(p.waitForFinished(600000));
        EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
        const auto text = ReadTextFile(log);
        return text ? SplitLines(*text) : QStringList();
    }

    QTemporaryDir FDir;
    QString FExe;
};

TEST_F(CompactionIntegrationTest, ResultsAreSmallerOrCopiesAndOpenElsewhere)
{
    QStringList names;
    QStringList inlineOnly; // documents whose pictures are all inline: their pages must look the same
    for (const QString& sample : QDir(QStringLiteral(LP_SOURCE_DIR "/examples/documents")).entryList({QStringLiteral("*.docx")})) {
        ASSERT_TRUE(QFile::copy(QStringLiteral(LP_SOURCE_DIR "/examples/documents/") + sample, in(sample)));
        names << sample;
        if (sample != QStringLiteral("plain-letter.docx"))
            inlineOnly << sample;
    }
    const QString corpus = CorpusDir();
    int fromCorpus = 0;
    if (!corpus.isEmpty()) {
        for (const CorpusDoc& d : readManifest(corpus)) {
            if ((d.Format != QStringLiteral("docx") && d.Format != QStringLiteral("docm")) || d.Media == 0)
                continue;
            const QString name = QString(d.RelPath).replace(u'/', QStringLiteral("__"));
            if (!QFile::copy(corpus + u'/' + d.RelPath, in(name)))
                continue;
            names << name;
            ++fromCorpus;
            if (d.Anchored == 0 && d.ScaledDown > 0 && !d.Features.contains(QStringLiteral("vml"))
                && !d.Features.contains(QStringLiteral("hdr_ftr")) && name.endsWith(QStringLiteral(".docx"))
                && inlineOnly.size() < 6)
                inlineOnly << name;
        }
    }

    const QStringList log = runAll();
    EXPECT_EQ(log.size(), names.size());
    int smaller = 0;
    QStringList failures;
    for (const QString& name : names) {
        const QString line = log.filter(QStringLiteral(" => ") + in(name) + QStringLiteral(" => ")).value(0);
        if (!line.startsWith(QStringLiteral("Success"))) {
            failures << line;
            continue;
        }
        const QByteArray source = bytesOf(in(name)), result = bytesOf(out(name));
        ASSERT_FALSE(result.isEmpty()) << name.toStdString();
        EXPECT_TRUE(result.size() < source.size() || result == source) << name.toStdString();
        smaller += result.size() < source.size();
    }
    // Samples always convert; a corpus document may be refused with a reason.
    for (const QString& line : failures)
        EXPECT_FALSE(line.contains(QStringLiteral("/examples/"))) << line.toStdString();
    EXPECT_LE(failures.size(), fromCorpus / 5) << failures.join(u'\n').toStdString();
    EXPECT_GE(smaller, 2 + fromCorpus / 4);

    // Whatever python-docx could read before, it still reads.
    QStringList sources, results;
    for (const QString& name : names)
        if (name.endsWith(QStringLiteral(".docx")) && QFileInfo::exists(out(name))) {
            sources << in(name);
            results << out(name);
        }
    const QStringList refusedBefore = pythonDocxRefuses(sources);
    for (const QString& refused : pythonDocxRefuses(results)) {
        const QString name = QFileInfo(refused).fileName();
        EXPECT_TRUE(refusedBefore.contains(in(name))) << "python-docx no longer reads " << name.toStdString();
    }

    LP_SKIP_UNLESS(HasLibreOffice() && !QStandardPaths::findExecutable(QStringLiteral("pdftoppm")).isEmpty())
        << "LibreOffice or pdftoppm not installed";
    const QString pdfs = FDir.filePath(QStringLiteral("pdf"));
    QDir().mkpath(pdfs + QStringLiteral("/before"));
    QDir().mkpath(pdfs + QStringLiteral("/after"));
    for (const QString& name : inlineOnly) {
        const QString before = ConvertToPdf(in(name), pdfs + QStringLiteral("/before"));
        const QString after = ConvertToPdf(out(name), pdfs + QStringLiteral("/after"));
        ASSERT_FALSE(after.isEmpty()) << "LibreOffice cannot convert the result " << name.toStdString();
        if (before.isEmpty())
            continue;
        const QList<QImage> a = RenderPdfPages(before, pdfs + QStringLiteral("/before/") + QFileInfo(name).completeBaseName(), 100);
        const QList<QImage> b = RenderPdfPages(after, pdfs + QStringLiteral("/after/") + QFileInfo(name).completeBaseName(), 100);
        ASSERT_EQ(a.size(), b.size()) << name.toStdString();
        for (qsizetype i = 0; i < a.size(); ++i)
            EXPECT_GE(PagePsnr(a[i], b[i]), 30.0) << name.toStdString() << " page " << i + 1;
    }
}

} // namespace
