#include "WordFixture.h"

#include "word/znDocslim.h"

#include "znTestDocx.h"
#include "znTestRequire.h"

#include <QDirIterator>
#include <QFileInfo>
#include <QMap>
#include <QProcess>
#include <QSet>
#include <QStandardPaths>

#include <cstdio>
#include <future>

namespace {

// The number of pictures a PDF shows, as pdfimages lists them.
int PdfImageCount(const QString& pdf)
{
    QProcess p;
    p.start(QStringLiteral("pdfimages"), {QStringLiteral("-list"), pdf});
    p.waitForFinished(60000);
    return std::max(0, int(p.readAllStandardOutput().count('\n')) - 2);
}

// The drawings of a package's main part.
int DrawingCount(const QString& file)
{
    const QByteArray xml = ReadZipEntry(file, QStringLiteral("word/document.xml"));
    return int(xml.count("<w:drawing") + xml.count("<w:pict"));
}

// The corpus documents the converter refuses, each with a text its failure
// message holds. Any other failure fails the test, and so does a listed
// document that converts: the table only shrinks.
struct TznExpectedFailure
{
    const char* file;    // relative to the corpus folder
    const char* reason;  // part of the failure message
};
const TznExpectedFailure ExpectedFailures[] = {
    {"open-xml-sdk/document with password.docx", "encrypted with a password"},
    {"poi/bug53475-password-is-pass.docx", "encrypted with a password"},
    {"poi/bug53475-password-is-solrcell.docx", "encrypted with a password"},
    {"poi/protected_agile.docx", "encrypted with a password"},
    {"phpword/corrupted_main_document_part.docx", "the part /word/document.xml is damaged"},
    {"poi/clusterfuzz-testcase-minimized-POIXWPFFuzzer-4959857092198400.docx", "damaged or is no document package"},
    {"poi/truncated62886.docx", "damaged or is no document package"},
    // A part whose checksum does not match what it holds.
    {"poi/clusterfuzz-testcase-minimized-POIXWPFFuzzer-6733884933668864.docx",
     "the part /word/theme/theme1.xml is damaged (CRC error)"},
    // Its main part declares entities in a document type.
    {"poi/ExternalEntityInText.docx", "declares a document type, which Office documents may not"},
    {"poi/stress025.docx", "holds no word-processing document"},       // a theme package
    {"pydocx/missing_relationships.docx", "holds no word-processing document"},
    {"node-word-extractor/badfile-01-bad-header.doc", "damaged or is no document package"},
    {"poi/clusterfuzz-testcase-POIHWPFFuzzer-5696094627495936.doc", "damaged or is no document package"},
    {"poi/PasswordProtected.doc", "encrypted with a password"},
    {"poi/password_password_cryptoapi.doc", "encrypted with a password"},
    {"poi/password_tika_binaryrc4.doc", "encrypted with a password"},
};

// Why documents were left out of the page-by-page comparison, with their names.
class TznLeftOut
{
public:
    void Add(const QString& reason, const QString& name) { FNames[reason] << name; }
    int Count() const
    {
        int n = 0;
        for (const QStringList& names : FNames)
            n += int(names.size());
        return n;
    }
    void Print() const
    {
        for (auto it = FNames.cbegin(); it != FNames.cend(); ++it)
            std::printf("  left out, %s: %d (%s)\n", qPrintable(it.key()), int(it.value().size()),
                        qPrintable(it.value().join(QStringLiteral(", "))));
    }

private:
    QMap<QString, QStringList> FNames;
};

class CorpusCompactionTest : public WordFixture {};

// Every corpus document, the legacy ones included, is converted by the
// product's converter with every pass on and Verify at its default (off where
// nothing is rendered, under LP_CORPUS_NO_RENDER): nothing
// crashes, only the documents of the table fail and each for its reason, no
// picture is lost, every changed result is smaller, python-docx reads every
// result it read the source of, and LibreOffice renders every changed result
// as it renders its source: the same pages, each at 30 dB or more at 100 dpi.
// The test prints how many documents it compared, how many results the render
// check kept as they were, and which it left out, and why.
TEST_F(CorpusCompactionTest, EveryDocumentSurvivesCompactionAndLooksAsBefore)
{
    const QString corpus = CorpusDir();
    LP_SKIP_UNLESS(!corpus.isEmpty()) << "corpus not available";
    // Under the sanitizers (LP_CORPUS_NO_RENDER) the compaction is what is checked: the
    // render check's time is LibreOffice's, and its own tests run under them too.
    const bool render = !qEnvironmentVariableIsSet("LP_CORPUS_NO_RENDER");
    FProject->SetOptionsText(render ? QStringLiteral("Recompress=True") : QStringLiteral("Recompress=True\nVerify=False"));
    int converted = 0, unchanged = 0, keptByCheck = 0;
    TznLeftOut leftOut;
    QSet<QString> failedAsExpected, listedFound;
    const QString only = qEnvironmentVariable("LP_CORPUS_ONLY");
    QStringList sources, results;   // the changed ones, kept for rendering
    QDirIterator it(corpus, {QStringLiteral("*.docx"), QStringLiteral("*.docm"), QStringLiteral("*.dotx"), QStringLiteral("*.dotm"),
                             QStringLiteral("*.doc")},
                    QDir::Files, QDirIterator::Subdirectories);
    int index = 0;
    while (it.hasNext()) {
        const QString file = it.next();
        if (!only.isEmpty() && !file.contains(only))
            continue;
        SCOPED_TRACE(file.toStdString());
        const QString relative = QDir(corpus).relativeFilePath(file);
        const TznExpectedFailure* expected = nullptr;
        for (const TznExpectedFailure& e : ExpectedFailures)
            if (relative == QLatin1String(e.file))
                expected = &e;
        // Base names stay apart: the corpus has the same file name in several folders.
        const QString name = QStringLiteral("%1-%2").arg(++index, 3, 10, QLatin1Char('0')).arg(QFileInfo(file).fileName());
        const QString source = path(QStringLiteral("in/") + name);
        ASSERT_TRUE(QFile::copy(file, source));
        QFile(source).setPermissions(QFile::ReadOwner | QFile::WriteOwner);
        TznNode* node = batchOf(source);
        TznDocslim converter(FBatch.get(), 1, TznNodeEvent());
        converter.ConvertFile(FBatch.get(), node);
        if (expected) {
            listedFound.insert(relative);
            if (node->Status == nsSuccess) {
                ADD_FAILURE() << relative.toStdString() << " converts now: take it out of the table";
                leftOut.Add(QStringLiteral("converted though listed as refused"), relative);
            } else {
                EXPECT_TRUE(node->Message.contains(QLatin1String(expected->reason)))
                    << relative.toStdString() << ": " << node->Message.toStdString();
                failedAsExpected.insert(relative);
                leftOut.Add(QStringLiteral("refused as expected"), relative);
            }
            continue;
        }
        if (node->Status != nsSuccess) {
            ADD_FAILURE() << relative.toStdString() << " failed: " << node->Message.toStdString();
            leftOut.Add(QStringLiteral("failed"), relative);
            continue;
        }
        ++converted;
        const QString out = path(QStringLiteral("out/") + name);
        ASSERT_TRUE(QFileInfo(out).isFile());
        // The render check (Verify at its default) keeps the source's bytes of a result
        // that would look different or lose an embedded font.
        if (node->Message.contains(QStringLiteral(" (kept as it was: "))) {
            EXPECT_EQ(ReadBytes(out), ReadBytes(source)) << node->Message.toStdString();
            leftOut.Add(QStringLiteral("kept by the check"), relative + QStringLiteral(": ") + node->Message.section(QStringLiteral("kept as it was: "), 1).chopped(1));
            ++keptByCheck;
            continue;
        }
        if (ReadBytes(out) == ReadBytes(source)) {
            ++unchanged;
            leftOut.Add(QStringLiteral("unchanged"), relative);
            continue;
        }
        EXPECT_LT(QFileInfo(out).size(), QFileInfo(source).size());
        // A legacy document's result is a package (DocToDocx); its drawings are compared
        // in the renderings only.
        if (!file.endsWith(QStringLiteral(".doc"))) {
            EXPECT_EQ(DrawingCount(out), DrawingCount(source));
        }
        QString err;
        if (PythonDocxOpens(source)) {
            EXPECT_TRUE(PythonDocxOpens(out, &err)) << err.toStdString();
        }
        sources << source;
        results << out;
    }
    if (!only.isEmpty()) {
        FDir.setAutoRemove(false);
    } else {
        EXPECT_GT(converted, 50);
        for (const TznExpectedFailure& e : ExpectedFailures)
            EXPECT_TRUE(listedFound.contains(QLatin1String(e.file))) << e.file << " is not in the corpus";
    }
    EXPECT_GT(results.size(), only.isEmpty() ? 10 : 0);
    RecordProperty("changed", int(results.size()));
    RecordProperty("keptByTheCheck", keptByCheck);
    const auto summary = [&](int compared, const QString& lowest) {
        std::printf("%d documents: %d converted (%d unchanged, %d kept by the check, %d changed), %d refused as expected; "
                    "compared %d page by page%s\n",
                    index, converted, unchanged, keptByCheck, int(results.size()), int(failedAsExpected.size()), compared,
                    qPrintable(lowest));
        leftOut.Print();
    };
    if (!render) {
        for (const QString& source : sources)
            leftOut.Add(QStringLiteral("not rendered under LP_CORPUS_NO_RENDER"), QFileInfo(source).fileName());
        summary(0, QString());
        return;
    }

    LP_SKIP_UNLESS(HasLibreOffice() && !QStandardPaths::findExecutable(QStringLiteral("pdftoppm")).isEmpty())
        << "LibreOffice or pdftoppm is not installed";
    // Sources and results are rendered by two office processes at once, each with a
    // profile of its own: on a machine of two cores the test takes half the time.
    auto sourcePdfs = std::async(std::launch::async, [&] { return ConvertAllToPdf(sources, path(QStringLiteral("in"))); });
    const QStringList pdfAfter = ConvertAllToPdf(results, path(QStringLiteral("out")));
    const QStringList pdfBefore = sourcePdfs.get();
    int rendered = 0;
    double lowest = 99;
    QString lowestAt;
    for (qsizetype i = 0; i < sources.size(); ++i) {
        const QString name = QFileInfo(sources[i]).fileName();
        if (pdfBefore[i].isEmpty()) {
            leftOut.Add(QStringLiteral("LibreOffice cannot render the source"), name);
            continue;
        }
        ASSERT_FALSE(pdfAfter[i].isEmpty()) << "LibreOffice cannot convert the result of " << name.toStdString();
        // LibreOffice leaves out some pictures of some sources that the result, with the same
        // frame and a new encoding, shows; such a source is no reference for the result.
        if (PdfImageCount(pdfBefore[i]) < PdfImageCount(pdfAfter[i])) {
            leftOut.Add(QStringLiteral("LibreOffice shows fewer pictures of the source than of the result"), name);
            continue;
        }
        auto sourcePages = std::async(std::launch::async, [&] {
            return RenderPdfPages(pdfBefore[i], path(QStringLiteral("in/page")) + QString::number(i), 100);
        });
        const QList<QImage> b = RenderPdfPages(pdfAfter[i], path(QStringLiteral("out/page")) + QString::number(i), 100);
        const QList<QImage> a = sourcePages.get();
        ++rendered;
        ASSERT_FALSE(a.isEmpty()) << name.toStdString();
        EXPECT_EQ(a.size(), b.size()) << name.toStdString();
        for (qsizetype page = 0; page < std::min(a.size(), b.size()); ++page) {
            const double psnr = PagePsnr(a[page], b[page]);
            EXPECT_GE(psnr, 30.0) << name.toStdString() << " page " << page + 1;
            if (psnr < lowest) {
                lowest = psnr;
                lowestAt = QStringLiteral("%1 page %2").arg(name).arg(page + 1);
            }
        }
        if (!only.isEmpty())
            continue;
        for (const QString& folder : {QStringLiteral("in"), QStringLiteral("out")})
            for (const QString& page : QDir(path(folder)).entryList({QStringLiteral("page*.ppm")}))
                QFile::remove(path(folder + QLatin1Char('/') + page));
    }
    RecordProperty("rendered", rendered);
    RecordProperty("lowestPsnr", std::to_string(lowest));
    std::printf("results in %s\n", qPrintable(FDir.path()));
    summary(rendered, QStringLiteral("; lowest PSNR %1 dB (%2)").arg(lowest, 0, 'f', 1).arg(lowestAt));
}

} // namespace
