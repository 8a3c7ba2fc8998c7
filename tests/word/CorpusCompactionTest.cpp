#include "WordFixture.h"

#include "word/znDocslim.h"

#include "znTestDocx.h"
#include "znTestRequire.h"

#include <QDirIterator>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

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

class CorpusCompactionTest : public WordFixture {};

// Every corpus document is converted by the product's converter with every
// pass on: nothing crashes, no picture is lost, every changed result is
// smaller, python-docx reads every result it read the source of, and
// LibreOffice renders every changed result as it renders its source: the
// same pages, each at 30 dB or more at 100 dpi.
TEST_F(CorpusCompactionTest, EveryDocumentSurvivesCompactionAndLooksAsBefore)
{
    const QString corpus = CorpusDir();
    LP_SKIP_UNLESS(!corpus.isEmpty()) << "corpus not available";
    FProject->SetOptionsText(QStringLiteral("Recompress=True"));
    int converted = 0, unchanged = 0;
    const QString only = qEnvironmentVariable("LP_CORPUS_ONLY");
    QStringList sources, results;   // the changed ones, kept for rendering
    QDirIterator it(corpus, {QStringLiteral("*.docx"), QStringLiteral("*.docm"), QStringLiteral("*.dotx"), QStringLiteral("*.dotm")},
                    QDir::Files, QDirIterator::Subdirectories);
    int index = 0;
    while (it.hasNext()) {
        const QString file = it.next();
        if (!only.isEmpty() && !file.contains(only))
            continue;
        SCOPED_TRACE(file.toStdString());
        // Base names stay apart: the corpus has the same file name in several folders.
        const QString name = QStringLiteral("%1-%2").arg(++index, 3, 10, QLatin1Char('0')).arg(QFileInfo(file).fileName());
        const QString source = path(QStringLiteral("in/") + name);
        ASSERT_TRUE(QFile::copy(file, source));
        QFile(source).setPermissions(QFile::ReadOwner | QFile::WriteOwner);
        TznNode* node = batchOf(source);
        TznDocslim converter(FBatch.get(), 1, TznNodeEvent());
        converter.ConvertFile(FBatch.get(), node);
        if (node->Status != nsSuccess)
            continue; // the failure kinds are tested on their own
        ++converted;
        const QString out = path(QStringLiteral("out/") + name);
        ASSERT_TRUE(QFileInfo(out).isFile());
        if (ReadBytes(out) == ReadBytes(source)) {
            ++unchanged;
            continue;
        }
        EXPECT_LT(QFileInfo(out).size(), QFileInfo(source).size());
        EXPECT_EQ(DrawingCount(out), DrawingCount(source));
        QString err;
        if (PythonDocxOpens(source))
            EXPECT_TRUE(PythonDocxOpens(out, &err)) << err.toStdString();
        sources << source;
        results << out;
    }
    if (!only.isEmpty())
        FDir.setAutoRemove(false);
    else
        EXPECT_GT(converted, 50);
    EXPECT_GT(results.size(), only.isEmpty() ? 10 : 0);
    RecordProperty("changed", int(results.size()));
    // Under the sanitizers the compaction is what is checked; the renderings are
    // LibreOffice's and take most of the time.
    if (qEnvironmentVariableIsSet("LP_CORPUS_NO_RENDER"))
        return;

    LP_SKIP_UNLESS(HasLibreOffice() && !QStandardPaths::findExecutable(QStringLiteral("pdftoppm")).isEmpty())
        << "LibreOffice or pdftoppm is not installed";
    const QStringList pdfBefore = ConvertAllToPdf(sources, path(QStringLiteral("in")));
    const QStringList pdfAfter = ConvertAllToPdf(results, path(QStringLiteral("out")));
    int rendered = 0;
    double lowest = 99;
    QString lowestAt;
    for (qsizetype i = 0; i < sources.size(); ++i) {
        const QString name = QFileInfo(sources[i]).fileName();
        if (pdfBefore[i].isEmpty())
            continue; // LibreOffice cannot render the source
        ASSERT_FALSE(pdfAfter[i].isEmpty()) << "LibreOffice cannot convert the result of " << name.toStdString();
        // LibreOffice leaves out some pictures of some sources that the result, with the same
        // frame and a new encoding, shows; such a source is no reference for the result.
        if (PdfImageCount(pdfBefore[i]) < PdfImageCount(pdfAfter[i])) {
            std::printf("LibreOffice shows fewer pictures of the source %s than of its result\n", qPrintable(name));
            continue;
        }
        const QList<QImage> a = RenderPdfPages(pdfBefore[i], path(QStringLiteral("in/page")) + QString::number(i), 100);
        const QList<QImage> b = RenderPdfPages(pdfAfter[i], path(QStringLiteral("out/page")) + QString::number(i), 100);
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
            for (const QString& png : QDir(path(folder)).entryList({QStringLiteral("page*.png")}))
                QFile::remove(path(folder + QLatin1Char('/') + png));
    }
    RecordProperty("rendered", rendered);
    RecordProperty("lowestPsnr", std::to_string(lowest));
    std::printf("results in %s\n", qPrintable(FDir.path()));
    std::printf("%d changed results (%d converted unchanged); compared %d page by page; lowest PSNR %.1f dB (%s)\n",
                int(results.size()), unchanged, rendered, lowest, qPrintable(lowestAt));
}

} // namespace
