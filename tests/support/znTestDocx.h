#pragma once

// The product's page comparison (PagePsnr), which the renderings of the tests use too.
#include "lodoc/znRenderCompare.h"

#include <QByteArray>
#include <QImage>
#include <QList>
#include <QString>

// Builders of test documents and tools to look inside packages, shared by every area's tests.

inline constexpr qint64 kEmuPerInch = 914400;

// A picture of known pixel size and resolution.
struct TznTestImage
{
    int Width = 400;
    int Height = 300;
    QString Format = QStringLiteral("png"); // "png", "jpeg", "gif", "bmp"
    double Dpi = 96;                        // 0 writes no resolution into the header
    bool Alpha = false;                     // a transparent hole in the middle
    bool Photo = true;                      // noisy gradients; false gives four flat colours
    int Quality = 92;
};
QByteArray MakeTestImage(const TznTestImage& image);

// One drawing of a built document.
struct TznTestPicture
{
    QByteArray Bytes;                       // the media part's bytes
    QString Extension = QStringLiteral("png");
    qint64 Cx = 2 * kEmuPerInch;            // shown size (wp:extent)
    qint64 Cy = kEmuPerInch + kEmuPerInch / 2;
    bool Anchored = false;
    bool AlternateContent = false;          // inside mc:AlternateContent with a VML fallback on the same media
    bool Linked = false;                    // r:link to an external file instead of r:embed
    bool Vml = false;                       // a VML picture (w:pict) instead of DrawingML; crop in 1/1000 % as well
    int CropL = 0, CropT = 0, CropR = 0, CropB = 0; // a:srcRect, 1/1000 percent
    QString Name = QStringLiteral("Picture");
    QString Descr{}, Title{}, HyperlinkUrl{};
    int SameMediaAs = -1;                   // index of an earlier picture whose media part this one shares
    QString Graphic{};                      // graphicData uri other than a picture (chart, SmartArt...)
    // Frame and picture formatting, written as given.
    QString XfrmAttributes{};               // on a:xfrm: ` rot="5400000"`
    QString Geometry = QStringLiteral("<a:prstGeom prst=\"rect\"><a:avLst/></a:prstGeom>");
    QString ShapeExtras{};                  // after the geometry in pic:spPr: a:ln, a:effectLst
    QString BlipChildren{};                 // inside a:blip: colour effects, extensions
    QString DocPrAttributes{};              // on wp:docPr: ` hidden="1"`
    QString AnchorAttributes = QStringLiteral(" behindDoc=\"0\" locked=\"0\" layoutInCell=\"1\" allowOverlap=\"1\"");
    QString PositionH = QStringLiteral("column"), PositionV = QStringLiteral("paragraph"); // relativeFrom
    QString Wrap = QStringLiteral("<wp:wrapSquare wrapText=\"bothSides\"/>");
    QByteArray Svg{};                       // an SVG behind the raster (asvg:svgBlip, relationship rIdS<n>)
};

// A photographic test JPEG of width x height pixels (96 dpi) shown at cx x cy EMU.
TznTestPicture TestJpegPicture(int width, int height, qint64 cx, qint64 cy);

// Builds a word-processing package: paragraphs of text and drawings in document order.
class TznDocxBuilder
{
public:
    TznDocxBuilder& Paragraph(const QString& text);
    // A picture in a paragraph of its own; returns its index.
    int Picture(const TznTestPicture& picture);
    // The run of a picture, for the caller to place with Body (several in one paragraph, in
    // table cells, in text boxes).
    QString PictureRun(const TznTestPicture& picture);
    // Body XML written as given.
    TznDocxBuilder& Body(const QString& xml);
    // A floating text box whose story is the given paragraphs.
    static QString TextBoxRun(const QString& paragraphs);
    // The same text box in alternate content, as modern writers store it: the DrawingML text
    // box as the choice and a VML one holding the fallback paragraphs.
    static QString AlternateTextBoxRun(const QString& paragraphs, const QString& fallbackParagraphs);
    // A VBA project part and the macro-enabled main content type.
    TznDocxBuilder& VbaProject();
    // The main part's name (found through the package relationships).
    TznDocxBuilder& MainPart(const QString& partName);
    // A header part with a picture sharing the media of picture index.
    TznDocxBuilder& HeaderUsingMediaOf(int index);
    // A picture in a story part of its own: kind "header" or "footer" (type "default",
    // "first" or "even", named by the section), "footnotes", "endnotes" or "comments" (one
    // note or comment, referenced from the body).
    TznDocxBuilder& StoryPicture(const QString& kind, const QString& type, const TznTestPicture& picture);
    // Writes the package; false when it cannot be written.
    bool Save(const QString& path) const;

private:
    QString FMainPart = QStringLiteral("word/document.xml");
    QStringList FBody;
    QList<TznTestPicture> FPictures;
    bool FVba = false;
    int FHeaderMedia = -1;
    struct TznStoryPicture { QString Kind, Type; TznTestPicture Picture; };
    QList<TznStoryPicture> FStories;
};

// One entry of a zip file: its inflated content and its compressed bytes as stored.
struct TznZipEntry
{
    QString Name;
    QByteArray Content;
    QByteArray Raw;
    int Method = 0;
};
// Every entry in order; empty when the file is no readable zip.
QList<TznZipEntry> ReadZipEntries(const QString& path);
// The content of one entry; empty when it is missing.
QByteArray ReadZipEntry(const QString& path, const QString& name);
// Writes a zip of the given entries (name, content), deflated.
bool WriteZip(const QString& path, const QList<QPair<QString, QByteArray>>& entries);

// True when Debian's python-docx reads the document; err gets its complaint otherwise.
bool PythonDocxOpens(const QString& path, QString* err = nullptr);
// True when LibreOffice headless is installed.
bool HasLibreOffice();
// Converts to PDF with LibreOffice in a private profile; the PDF's path, or empty on failure.
QString ConvertToPdf(const QString& path, const QString& outDir);
// Converts many documents to PDF in one LibreOffice run; the PDFs' paths in the order of
// paths, each empty where that conversion failed. Names must differ in their base names.
QStringList ConvertAllToPdf(const QStringList& paths, const QString& outDir);
// The pages of a PDF rendered by pdftoppm at dpi, as RGB pictures.
QList<QImage> RenderPdfPages(const QString& pdf, const QString& prefix, int dpi);
// Words of business prose, and count paragraphs of them in varied order (seeded), each
// with its revision id and a font size, as a writer stores a long main part.
const QStringList& WriterWords();
QString WriterParagraphs(int count, quint32 seed);
// The corpus folder, empty when it is absent.
QString CorpusDir();
