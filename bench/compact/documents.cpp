// The document sets of the compaction benchmark: a set built here that holds
// what the main-text passes do not reach, and the corpus's documents. Each
// set is converted by the product's converter with Recompress false and true
// and repacked with Debian's lossy tools; bytes and times are printed side by
// side.

#include "documents.h"

#include "engine/znBatch.h"
#include "ooxml/znFontSubset.h"
#include "znPictureSamples.h"
#include "platform/znApp.h"
#include "project/znProject.h"
#include "word/znDocslim.h"

#include "znTestDocx.h"

#include <QBuffer>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QRandomGenerator>

#include <sys/resource.h>

#include <cstdio>
#include <ctime>
#include <memory>

namespace {

constexpr qint64 kEmu = 914400;

// CPU milliseconds of this process and its finished children (the repack's tools), so that
// other work on a shared machine does not count.
double cpuMs()
{
    timespec self{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &self);
    rusage children{};
    getrusage(RUSAGE_CHILDREN, &children);
    auto ms = [](const timeval& t) { return t.tv_sec * 1e3 + t.tv_usec / 1e3; };
    return self.tv_sec * 1e3 + self.tv_nsec / 1e6 + ms(children.ru_utime) + ms(children.ru_stime);
}

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

// Saves b as dir/name, listed in files when it could be written; returns its path.
QString saveInto(const QString& dir, QStringList& files, const TznDocxBuilder& b, const char* name)
{
    const QString file = dir + QLatin1Char('/') + QLatin1String(name);
    if (b.Save(file))
        files << file;
    return file;
}

// Writes the built set into dir; returns the documents.
QStringList buildSet(const QString& dir)
{
    QDir().mkpath(dir);
    QStringList files;
    auto save = [&](const TznDocxBuilder& b, const char* name) { return saveInto(dir, files, b, name); };
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

// A JPEG with blocks nothing displays: EXIF and Photoshop data, as cameras and editors write
// them into a document's preview.
QByteArray withMetadata(const QByteArray& jpeg)
{
    auto segment = [](char marker, const QByteArray& body) {
        const int length = int(body.size()) + 2;
        return QByteArray("\xFF") + marker + char(length >> 8) + char(length & 0xFF) + body;
    };
    const QByteArray filler(12000, 'x');
    return jpeg.left(2) + segment(char(0xE1), QByteArray("Exif\0\0", 6) + filler)
         + segment(char(0xED), QByteArray("Photoshop 3.0\0", 14) + filler) + jpeg.mid(2);
}

// Rewrites the entries of file from the files under folder, at zip's level ("-0" stores).
void rezip(const QString& file, const QString& folder, const char* level, const QStringList& entries)
{
    QProcess p;
    p.setWorkingDirectory(folder);
    p.start(QStringLiteral("zip"), QStringList{QStringLiteral("-q"), QLatin1String(level), file} + entries);
    p.waitForFinished(-1);
}

// Writes bytes as folder/entry.
void put(const QString& folder, const QString& entry, const QByteArray& bytes)
{
    QDir().mkpath(QFileInfo(folder + QLatin1Char('/') + entry).path());
    QFile f(folder + QLatin1Char('/') + entry);
    if (f.open(QIODevice::WriteOnly))
        f.write(bytes);
}

// Writes the held-out-like set into dir: what real documents keep that a lossless pass need
// not: screenshots with text, a text box whose fallback stores its picture a second time, a
// big main part deflated at the fastest level, a preview with metadata, an embedded font.
QStringList buildHeldOutLike(const QString& dir)
{
    QDir().mkpath(dir);
    const QString scratch = dir + QStringLiteral("/scratch");
    QStringList files;
    auto save = [&](const TznDocxBuilder& b, const char* name) { return saveInto(dir, files, b, name); };
    {
        TznDocxBuilder b;
        b.Paragraph(QStringLiteral("Screenshots with text at 96 to 200 pixels per inch."));
        const int ppis[] = {96, 120, 150, 200};
        quint32 seed = 71;
        for (int ppi : ppis) {
            const QImage shot = MakeRibbonImage({1400, 800}, seed++);
            TznTestPicture p = lossless(shot, "PNG", QStringLiteral("png"));
            p.Cx = qint64(1400.0 / ppi * kEmu);
            p.Cy = qint64(800.0 / ppi * kEmu);
            b.Picture(p);
        }
        save(b, "screenshots.docx");
    }
    {
        TznDocxBuilder b;
        b.Paragraph(QStringLiteral("A text box whose older-reader copy stores its picture again."));
        const TznTestPicture p = photo(1600, 1200, 96, 81);
        TznTestPicture shown = p;
        shown.Cx = shown.Cy = 2 * kEmu;
        const QString run = b.PictureRun(shown);
        b.PictureRun(p);  // the same bytes under a second part, rIdP2, for the fallback
        const QString vml = QStringLiteral("<w:r><w:pict><v:shape type=\"#_x0000_t75\" style=\"width:144pt;height:144pt\">"
                                           "<v:imagedata r:id=\"rIdP2\" o:title=\"\"/></v:shape></w:pict></w:r>");
        b.Body(QStringLiteral("<w:p>%1</w:p>").arg(TznDocxBuilder::AlternateTextBoxRun(QStringLiteral("<w:p>%1</w:p>").arg(run),
                                                                                     QStringLiteral("<w:p>%1</w:p>").arg(vml))));
        save(b, "fallback.docx");
    }
    {
        // About 900 KB of paragraphs of words in varied order, deflated at zip's fastest level.
        TznDocxBuilder b;
        b.Body(WriterParagraphs(5000, 91));
        b.Picture(photo(1200, 900, 300, 92));
        const QString file = save(b, "bigxml.docx");
        const QString folder = scratch + QStringLiteral("/bigxml");
        put(folder, QStringLiteral("word/document.xml"), ReadZipEntry(file, QStringLiteral("word/document.xml")));
        rezip(file, folder, "-1", {QStringLiteral("word/document.xml")});
    }
    {
        TznDocxBuilder b;
        b.Paragraph(QStringLiteral("A document with its preview."));
        b.Picture(photo(1200, 900, 300, 93));
        const QString file = save(b, "thumbnail.docx");
        const QString folder = scratch + QStringLiteral("/thumbnail");
        TznTestImage spec;
        spec.Width = 256;
        spec.Height = 362;
        spec.Format = QStringLiteral("jpeg");
        put(folder, QStringLiteral("docProps/thumbnail.jpeg"), withMetadata(MakeTestImage(spec)));
        QByteArray rels = ReadZipEntry(file, QStringLiteral("_rels/.rels"));
        rels.replace("</Relationships>", "<Relationship Id=\"rIdThumb\" Type=\"http://schemas.openxmlformats.org/package/2006/"
                                         "relationships/metadata/thumbnail\" Target=\"docProps/thumbnail.jpeg\"/></Relationships>");
        put(folder, QStringLiteral("_rels/.rels"), rels);
        QByteArray types = ReadZipEntry(file, QStringLiteral("[Content_Types].xml"));
        if (!types.contains("Extension=\"jpeg\""))
            types.insert(types.indexOf("<Default "), "<Default Extension=\"jpeg\" ContentType=\"image/jpeg\"/>");
        put(folder, QStringLiteral("[Content_Types].xml"), types);
        rezip(file, folder, "-6", {QStringLiteral("_rels/.rels"), QStringLiteral("[Content_Types].xml")});
        rezip(file, folder, "-0", {QStringLiteral("docProps/thumbnail.jpeg")});
    }
    {
        // A font as a writer embeds it (obfuscated with its key, named by the font table,
        // deflated at the fastest level), and text set in it.
        QFile font(QStringLiteral("/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf"));
        const QString key = QStringLiteral("{4F1C2A3B-5D6E-4F70-8192-A3B4C5D6E7F8}");
        const std::optional<QByteArray> obfuscated = font.open(QIODevice::ReadOnly) ? ObfuscatedFont(font.readAll(), key) : std::nullopt;
        if (obfuscated) {
            TznDocxBuilder b;
            b.Body(QStringLiteral("<w:p><w:r><w:rPr><w:rFonts w:ascii=\"DejaVu Sans\" w:hAnsi=\"DejaVu Sans\"/></w:rPr>"
                                  "<w:t>A document that embeds its font.</w:t></w:r></w:p>"));
            b.Picture(photo(1200, 900, 300, 94));
            const QString file = save(b, "font.docx");
            const QString folder = scratch + QStringLiteral("/font");
            const QString w = QStringLiteral("xmlns:w=\"http://schemas.openxmlformats.org/wordprocessingml/2006/main\" "
                                             "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\"");
            put(folder, QStringLiteral("word/fontTable.xml"),
                QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?><w:fonts %1><w:font w:name=\"DejaVu Sans\">"
                               "<w:embedRegular r:id=\"rIdF1\" w:fontKey=\"%2\"/></w:font></w:fonts>")
                    .arg(w, key)
                    .toUtf8());
            put(folder, QStringLiteral("word/_rels/fontTable.xml.rels"),
                "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?><Relationships "
                "xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\"><Relationship Id=\"rIdF1\" "
                "Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/font\" Target=\"fonts/font1.odttf\"/>"
                "</Relationships>");
            put(folder, QStringLiteral("word/fonts/font1.odttf"), *obfuscated);
            QByteArray rels = ReadZipEntry(file, QStringLiteral("word/_rels/document.xml.rels"));
            rels.replace("</Relationships>", "<Relationship Id=\"rIdFontTable\" Type=\"http://schemas.openxmlformats.org/"
                                             "officeDocument/2006/relationships/fontTable\" Target=\"fontTable.xml\"/></Relationships>");
            put(folder, QStringLiteral("word/_rels/document.xml.rels"), rels);
            QByteArray types = ReadZipEntry(file, QStringLiteral("[Content_Types].xml"));
            types.insert(types.indexOf("<Default "), "<Default Extension=\"odttf\" ContentType=\"application/vnd.openxmlformats-"
                                                     "officedocument.obfuscatedFont\"/><Override PartName=\"/word/fontTable.xml\" "
                                                     "ContentType=\"application/vnd.openxmlformats-officedocument.wordprocessingml."
                                                     "fontTable+xml\"/>");
            put(folder, QStringLiteral("[Content_Types].xml"), types);
            rezip(file, folder, "-1",
                  {QStringLiteral("word/fonts/font1.odttf"), QStringLiteral("word/fontTable.xml"), QStringLiteral("word/_rels/fontTable.xml.rels"),
                   QStringLiteral("word/_rels/document.xml.rels"), QStringLiteral("[Content_Types].xml")});
        }
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
    int Failed = 0;          // sources it failed on, counted at their own size
};

// Converts every file into outDir as one worker does, with Recompress, Verify and SubsetFonts as given.
TznRun convert(const QStringList& files, const QString& outDir, bool recompress, const char* verify = "Auto",
               bool subsetFonts = false)
{
    QDir(outDir).removeRecursively();
    QDir().mkpath(outDir);
    Project->SetOptionsText(QStringLiteral("Recompress=%1\r\nIsOverwrite=True\r\nVerify=%2\r\nSubsetFonts=%3")
                                .arg(recompress ? "True" : "False", verify, subsetFonts ? "True" : "False"));
    TznRun run;
    const double start = cpuMs();
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
        } else {
            // A document the converter fails on stays as it was.
            run.After += QFileInfo(file).size();
            ++run.Failed;
        }
    }
    run.Ms = cpuMs() - start;
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
    const double start = cpuMs();
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
    run.Ms = cpuMs() - start;
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
    const TznRun fonts = convert(files, work + QStringLiteral("/fonts"), true, "False", true);
    const TznRun lossy = repack(files, work + QStringLiteral("/repack"));
    const qint64 before = sizeOf(files);
    auto line = [&](const char* name, const TznRun& r) {
        const qint64 saved = before - r.After;
        std::printf("  %-22s %12.2f MB  saved %10.2f MB (%5.1f %%)  %9.1f ms CPU", name, r.After / 1e6, saved / 1e6,
                    before ? 100.0 * saved / before : 0.0, r.Ms);
        if (r.Failed > 0)
            std::printf("  (%d failed)", r.Failed);
        std::printf("\n");
    };
    std::printf("\n%s: %d documents (%d converted), %.2f MB before\n", title, int(all.size()), int(files.size()), before / 1e6);
    line("Recompress=False", offAgain);
    line("Recompress=True", on);
    line("SubsetFonts=True", fonts);
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

int RunDocumentSets(const QString& dir, const QString& corpus, const QString& only)
{
    auto wanted = [&](const char* set) { return only.isEmpty() || only == QLatin1String(set); };
    TznApp app(dir + QStringLiteral("/leafpress"), QStringList());
    App = &app;
    TznProject project;
    project.ProductCode = QStringLiteral("docslim");
    project.ProjectExt = QStringLiteral(".batch-docslim");
    Project = &project;

    if (wanted("built")) {
        const QStringList built = buildSet(dir + QStringLiteral("/documents"));
        report("Built document set (what the main-text passes miss)", built, dir + QStringLiteral("/built"));
    }
    if (wanted("held-out-like")) {
        const QStringList heldOutLike = buildHeldOutLike(dir + QStringLiteral("/held-out-like"));
        report("Held-out-like set (screenshots, fallback copies, big XML, preview, font)", heldOutLike,
               dir + QStringLiteral("/held-out-like-work"));
    }

    QStringList corpusFiles;
    if (!corpus.isEmpty() && wanted("corpus")) {
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
