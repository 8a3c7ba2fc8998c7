#include "ServerTestUtil.h"

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

class CorpusCompactionTest : public TznServerTest {};

// Every corpus document that opens is compacted and saved: nothing crashes, no picture is
// lost, every changed result is smaller, python-docx reads every result it read the source
// of, and LibreOffice renders every changed result as it renders its source: the same pages,
// each at 30 dB or more at 100 dpi.
TEST_F(CorpusCompactionTest, EveryDocumentSurvivesCompactionAndLooksAsBefore)
{
    const QString corpus = CorpusDir();
    if (corpus.isEmpty())
        GTEST_SKIP() << "corpus not available";
    int opened = 0, copiedBack = 0;
    const QString only = qEnvironmentVariable("LP_CORPUS_ONLY");
    QStringList sources, results;   // the changed ones, kept for rendering
    QDir(FDir.path()).mkpath(QStringLiteral("before"));
    QDir(FDir.path()).mkpath(QStringLiteral("after"));
    QDirIterator it(corpus, {QStringLiteral("*.docx"), QStringLiteral("*.docm"), QStringLiteral("*.dotx"), QStringLiteral("*.dotm")},
                    QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString file = it.next();
        if (!only.isEmpty() && !file.contains(only))
            continue;
        SCOPED_TRACE(file.toStdString());
        const QString source = CopyCorpus(QDir(corpus).relativeFilePath(file));
        TznVariant doc;
        try {
            doc = Open(source);
        } catch (const EznError&) {
            QFile::remove(source);
            continue; // the failure kinds are tested on their own
        }
        ++opened;
        const TznVariant inl = OleGet(doc, QStringLiteral("InlineShapes"));
        const TznVariant shapes = OleGet(doc, QStringLiteral("Shapes"));
        const int inlineBefore = OleGet(inl, QStringLiteral("Count")).ToInt();
        const int shapesBefore = OleGet(shapes, QStringLiteral("Count")).ToInt();
        const int n = CompactLikeTheConverter(FApp, doc);
        EXPECT_EQ(OleGet(inl, QStringLiteral("Count")).ToInt(), inlineBefore);
        EXPECT_EQ(OleGet(shapes, QStringLiteral("Count")).ToInt(), shapesBefore);
        // Base names stay apart: the corpus has the same file name in several folders.
        const QString stem = QStringLiteral("%1-%2").arg(opened, 3, 10, QLatin1Char('0')).arg(QFileInfo(source).completeBaseName());
        const QString out = PathOf(QStringLiteral("after/") + stem + QLatin1Char('.') + QFileInfo(source).suffix());
        ASSERT_NO_THROW(OleCall(doc, QStringLiteral("SaveAs"), {out}));
        OleCall(doc, QStringLiteral("Close"), {false});
        EXPECT_NO_THROW(Open(out));
        // The converter puts the source's bytes back over a result that is not smaller.
        if (n > 0 && QFileInfo(out).size() >= QFileInfo(source).size()) {
            ++copiedBack;
            QFile::remove(out);
        } else if (n > 0) {
            QString err;
            if (PythonDocxOpens(source))
                EXPECT_TRUE(PythonDocxOpens(out, &err)) << err.toStdString();
            const QString kept = PathOf(QStringLiteral("before/") + stem + QLatin1Char('.') + QFileInfo(source).suffix());
            QFile::rename(source, kept);
            sources << kept;
            results << out;
        } else {
            QFile::remove(out);
        }
        QFile::remove(source);
    }
    if (!only.isEmpty())
        FDir.setAutoRemove(false);
    else
        EXPECT_GT(opened, 50);
    EXPECT_GT(results.size(), only.isEmpty() ? 10 : 0);
    RecordProperty("changed", int(results.size()));

    if (!HasLibreOffice() || QStandardPaths::findExecutable(QStringLiteral("pdftoppm")).isEmpty())
        GTEST_SKIP() << "LibreOffice or pdftoppm is not installed";
    const QStringList pdfBefore = ConvertAllToPdf(sources, PathOf(QStringLiteral("before")));
    const QStringList pdfAfter = ConvertAllToPdf(results, PathOf(QStringLiteral("after")));
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
        const QList<QImage> a = RenderPdfPages(pdfBefore[i], PathOf(QStringLiteral("before/page")) + QString::number(i), 100);
        const QList<QImage> b = RenderPdfPages(pdfAfter[i], PathOf(QStringLiteral("after/page")) + QString::number(i), 100);
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
        for (const QString& png : QDir(FDir.path() + QStringLiteral("/before")).entryList({QStringLiteral("page*.png")}))
            QFile::remove(FDir.path() + QStringLiteral("/before/") + png);
        for (const QString& png : QDir(FDir.path() + QStringLiteral("/after")).entryList({QStringLiteral("page*.png")}))
            QFile::remove(FDir.path() + QStringLiteral("/after/") + png);
    }
    RecordProperty("rendered", rendered);
    RecordProperty("lowestPsnr", std::to_string(lowest));
    std::printf("results in %s\n", qPrintable(FDir.path()));
    std::printf("%d changed results (%d more not smaller, put back as the source); compared %d page by page; lowest PSNR %.1f dB (%s)\n",
                int(results.size()), copiedBack, rendered, lowest, qPrintable(lowestAt));
}

} // namespace
