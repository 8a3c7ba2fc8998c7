// The document sets of the compaction benchmark: a set built here that holds
// what the main-text passes do not reach, and the corpus's documents. Each
// set is converted by the product's converter with Recompress false and true
// and repacked with Debian's lossy tools; bytes and times are printed side by
// side.

#include "documents.h"

#include "engine/znBatch.h"
#include "znPictureSamples.h"
#include "platform/znApp.h"
#include "project/znProject.h"
#include "word/znDocslim.h"

#include "znTestDocx.h"

#include <QBuffer>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>

#include <cstdio>
#include <memory>

namespace {

constexpr qint64 kEmu = 914400;

QByteArray encoded(const QImage& image, const char* format)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return bytes;
}

// A JPEG photograph of w x h pixels declaring dpi, shown at its natural size.
TznTestPicture photo(int w, int h, int dpi, quint32 seed)
{
    TznTestPicture p;
    p.Bytes = EncodeSampleJpeg(MakePhotographicImage(QSize(w, h), seed), {.Quality = 90, .DensityDpi = dpi});
    p.Extension = QStringLiteral("jpeg");
    p.Cx = qint64(double(w) / dpi * kEmu);
    p.Cy = qint64(double(h) / dpi * kEmu);
    return p;
}

TznTestPicture lossless(const QImage& image, const char* format, const QString& extension)
{
    TznTestPicture p;
    p.Bytes = encoded(image, format);
    p.Extension = extension;
    p.Cx = qint64(image.width() / 96.0 * kEmu);
    p.Cy = qint64(image.height() / 96.0 * kEmu);
    return p;
}

// Writes the built set into dir; returns the documents.
QStringList buildSet(const QString& dir)
{
    QDir().mkpath(dir);
    QStringList files;
    auto save = [&](TznDocxBuilder& b, const char* name) {
        const QString file = dir + QLatin1Char('/') + QLatin1String(name);
        if (b.Save(file))
            files << file;
    };
    {
        TznDocxBuilder b;
        b.Paragraph(QStringLiteral("Photographs declared at 300 dpi, shown at full size."));
        for (quint32 i = 0; i < 3; ++i)
            b.Picture(photo(1800, 1200, 300, 11 + i));
        save(b, "jpeg300.docx");
    }
    {
        TznDocxBuilder b;
        b.Paragraph(QStringLiteral("Photographs declared at 600 dpi, shown at full size."));
        for (quint32 i = 0; i < 2; ++i)
            b.Picture(photo(3000, 2400, 600, 21 + i));
        save(b, "jpeg600.docx");
    }
    {
        TznDocxBuilder b;
        b.Paragraph(QStringLiteral("Pictures in a header, a footnote and a text box."));
        b.StoryPicture(QStringLiteral("header"), QStringLiteral("default"), photo(1500, 600, 300, 31));
        TznTestPicture note = photo(1600, 1200, 96, 32);
        note.Cx /= 4;
        note.Cy /= 4;
        b.StoryPicture(QStringLiteral("footnotes"), QString(), note);
        const QString run = b.PictureRun(photo(1200, 900, 300, 33));
        b.Body(QStringLiteral("<w:p>%1</w:p>").arg(TznDocxBuilder::TextBoxRun(QStringLiteral("<w:p>%1</w:p>").arg(run))));
        save(b, "stories.docx");
    }
    {
        TznDocxBuilder b;
        b.Paragraph(QStringLiteral("An older document: a VML-only picture."));
        TznTestPicture p = photo(1800, 1350, 300, 41);
        p.Vml = true;
        b.Picture(p);
        save(b, "vml.docx");
    }
    {
        TznDocxBuilder b;
        b.Paragraph(QStringLiteral("A photograph stored as PNG and a 24-bit BMP."));
        b.Picture(lossless(MakePhotographicImage(QSize(1200, 900), 51), "PNG", QStringLiteral("png")));
        b.Picture(lossless(MakePhotographicImage(QSize(800, 600), 52).convertToFormat(QImage::Format_RGB888), "BMP",
                           QStringLiteral("bmp")));
        save(b, "lossless.docx");
    }
    {
        TznDocxBuilder b;
        b.Paragraph(QStringLiteral("One photograph stored three times under different names."));
        const TznTestPicture p = photo(1200, 900, 150, 61);
        for (int i = 0; i < 3; ++i)
            b.Picture(p);
        save(b, "duplicates.docx");
    }
    return files;
}

qint64 sizeOf(const QStringList& files)
{
    qint64 total = 0;
    for (const QString& f : files)
        total += QFileInfo(f).size();
    return total;
}

struct TznRun
{
    qint64 After = 0;
    double Ms = 0;
    QStringList Converted;   // sources the converter succeeded on
};

// Converts every file into outDir as one worker does, with Recompress and Verify as given.
TznRun convert(const QStringList& files, const QString& outDir, bool recompress, const char* verify = "Auto")
{
    QDir(outDir).removeRecursively();
    QDir().mkpath(outDir);
    Project->SetOptionsText(QStringLiteral("Recompress=%1\r\nIsOverwrite=True\r\nVerify=%2")
                                .arg(recompress ? "True" : "False", verify));
    TznRun run;
    QElapsedTimer timer;
    timer.start();
    for (const QString& file : files) {
        TznBatch batch;
        batch.SetTargetFolder(outDir + QLatin1Char('/'));
        batch.AddSingle(file);
        TznNode* node = batch.NextNode();
        if (!node)
            continue;
        TznDocslim converter(&batch, 1, TznNodeEvent());
        converter.ConvertFile(&batch, node);
        if (node->Status == nsSuccess) {
            run.Converted << file;
            run.After += QFileInfo(outDir + QLatin1Char('/') + QFileInfo(file).fileName()).size();
        }
    }
    run.Ms = timer.nsecsElapsed() / 1e6;
    return run;
}

bool tool(const QString& program, const QStringList& args, const QString& cwd = {})
{
    QProcess p;
    if (!cwd.isEmpty())
        p.setWorkingDirectory(cwd);
    p.start(program, args);
    return p.waitForFinished(-1) && p.exitStatus() == QProcess::NormalExit;
}

// The lossy repack a user would script: JPEGs through jpegoptim, PNGs
// through pngquant, the package zipped again at the strongest level.
TznRun repack(const QStringList& files, const QString& workDir)
{
    TznRun run;
    QElapsedTimer timer;
    timer.start();
    for (const QString& file : files) {
        const QString unpacked = workDir + QStringLiteral("/unpacked");
        QDir(unpacked).removeRecursively();
        QDir().mkpath(unpacked);
        const QString out = workDir + QLatin1Char('/') + QFileInfo(file).fileName();
        QFile::remove(out);
        if (!tool(QStringLiteral("unzip"), {QStringLiteral("-q"), file, QStringLiteral("-d"), unpacked}))
            continue;
        QStringList jpegs, pngs;
        QDirIterator it(unpacked, QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString f = it.next();
            const QString ext = QFileInfo(f).suffix().toLower();
            if (ext == QLatin1String("jpg") || ext == QLatin1String("jpeg"))
                jpegs << f;
            else if (ext == QLatin1String("png"))
                pngs << f;
        }
        if (!jpegs.isEmpty())
            tool(QStringLiteral("jpegoptim"), QStringList{QStringLiteral("-q"), QStringLiteral("-m85"), QStringLiteral("--strip-all")} + jpegs);
        for (const QString& png : pngs)
            tool(QStringLiteral("pngquant"), {QStringLiteral("--quality"), QStringLiteral("65-90"), QStringLiteral("--skip-if-larger"),
                                              QStringLiteral("--force"), QStringLiteral("--ext"), QStringLiteral(".png"), png});
        tool(QStringLiteral("zip"), {QStringLiteral("-q"), QStringLiteral("-9"), QStringLiteral("-r"), QStringLiteral("-X"), out, QStringLiteral(".")},
             unpacked);
        // As the converter does, a repack that is not smaller keeps the source.
        const qint64 size = QFileInfo(out).size();
        run.After += size > 0 ? std::min(size, QFileInfo(file).size()) : QFileInfo(file).size();
        run.Converted << file;
    }
    run.Ms = timer.nsecsElapsed() / 1e6;
    return run;
}

void report(const char* title, const QStringList& all, const QString& work, bool verify = false)
{
    // Only what the converter converts is compared, the same documents for
    // every column.
    const TznRun off = convert(all, work + QStringLiteral("/off"), false);
    const QStringList files = off.Converted;
    const TznRun offAgain = convert(files, work + QStringLiteral("/off"), false);
    const TznRun on = convert(files, work + QStringLiteral("/on"), true, "False");
    const TznRun lossy = repack(files, work + QStringLiteral("/repack"));
    const qint64 before = sizeOf(files);
    auto line = [&](const char* name, const TznRun& r) {
        const qint64 saved = before - r.After;
        std::printf("  %-22s %12.2f MB  saved %10.2f MB (%5.1f %%)  %9.1f ms\n", name, r.After / 1e6, saved / 1e6,
                    before ? 100.0 * saved / before : 0.0, r.Ms);
    };
    std::printf("\n%s: %d documents (%d converted), %.2f MB before\n", title, int(all.size()), int(files.size()), before / 1e6);
    line("Recompress=False", offAgain);
    line("Recompress=True", on);
    line("lossy repack", lossy);
    const double savedOn = double(before - on.After), savedRepack = double(before - lossy.After);
    std::printf("  saved with Recompress=True / saved by the repack: %.2f x (goal: at least 1.5 x)\n",
                savedRepack > 0 ? savedOn / savedRepack : 0.0);
    std::printf("  time with Recompress=True / time with Recompress=False: %.2f x (goal: at most 1.5 x)\n",
                offAgain.Ms > 0 ? on.Ms / offAgain.Ms : 0.0);
    if (verify && !files.isEmpty()) {
        // Every changed result rendered with its source in the worker's LibreOffice
        // instance (started by the first), against the same run without the check.
        const TznRun checked = convert(files, work + QStringLiteral("/verify"), true, "True");
        line("Verify=True", checked);
        std::printf("  time with Verify=True / time with Verify=False: %.2f x, %.0f ms more per document\n",
                    on.Ms > 0 ? checked.Ms / on.Ms : 0.0, (checked.Ms - on.Ms) / double(files.size()));
    }
    std::fflush(stdout);
}

} // namespace

int RunDocumentSets(const QString& dir, const QString& corpus)
{
    TznApp app(dir + QStringLiteral("/leafpress"), QStringList());
    App = &app;
    TznProject project;
    project.ProductCode = QStringLiteral("docslim");
    project.ProjectExt = QStringLiteral(".batch-docslim");
    Project = &project;

    const QStringList built = buildSet(dir + QStringLiteral("/documents"));
    report("Built document set (what the main-text passes miss)", built, dir + QStringLiteral("/built"));

    QStringList corpusFiles;
    if (!corpus.isEmpty()) {
        // Copies with names of their own: the corpus has one name in several folders.
        const QString copies = dir + QStringLiteral("/corpus");
        QDir().mkpath(copies);
        QDirIterator it(corpus, {QStringLiteral("*.docx"), QStringLiteral("*.docm")}, QDir::Files, QDirIterator::Subdirectories);
        int n = 0;
        while (it.hasNext()) {
            const QString file = it.next();
            const QString copy = QStringLiteral("%1/%2-%3").arg(copies).arg(++n, 3, 10, QLatin1Char('0')).arg(QFileInfo(file).fileName());
            QFile::remove(copy);
            if (QFile::copy(file, copy)) {
                QFile(copy).setPermissions(QFile::ReadOwner | QFile::WriteOwner);
                corpusFiles << copy;
            }
        }
        report("Corpus", corpusFiles, dir + QStringLiteral("/corpus-work"), true);
    }
    Project = nullptr;
    App = nullptr;
    return 0;
}
