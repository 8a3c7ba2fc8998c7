#include "znFuzzTargets.h"

#include "engine/znBatch.h"
#include "engine/znMatch.h"
#include "engine/VBScriptRegex.h"
#include "picture/znPicture.h"
#include "picture/znPictureHeader.h"
#include "picture/znPictureRecode.h"
#include "ooxml/znWordDocument.h"
#include "platform/znError.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QString>

#include <zip.h>

#include <algorithm>

namespace {

// Limits far below the product's, so that one input stays quick.
TznPackageLimits fuzzLimits()
{
    TznPackageLimits limits;
    limits.MaxFileSize = qint64(16) << 20;
    limits.MaxEntrySize = qint64(8) << 20;
    limits.MaxXmlSize = qint64(4) << 20;
    limits.MaxTotalSize = qint64(32) << 20;
    limits.RatioFloor = qint64(1) << 20;
    return limits;
}

// A file of this process for the package under test.
QString scratchPath()
{
    static const QString path = QDir::tempPath() + QStringLiteral("/lp-fuzz-%1.docx").arg(QCoreApplication::applicationPid());
    return path;
}

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

void guarded(const auto& step)
{
    try {
        step();
    } catch (const EznError&) {
        // What hostile input is allowed to cause.
    }
}

// Opens the document at path and does what a compaction does to it, short
// of saving: list every drawing, read its type and scale, render it small.
void walkDocument(const QString& path)
{
    guarded([&] {
        auto doc = TznWordDocument::Open(path, fuzzLimits());
        for (const bool anchored : {false, true}) {
            QList<int> ids;
            guarded([&] { ids = doc->DrawingIds(anchored); });
            for (qsizetype i = 0; i < std::min<qsizetype>(ids.size(), 8); ++i) {
                const int id = ids[i];
                guarded([&] { doc->TypeOf(id); });
                guarded([&] { doc->ScaleOf(id, true); });
                guarded([&] { doc->ScaleOf(id, false); });
                guarded([&] { doc->CopyPicture(id, 12, 50); });
            }
        }
    });
}

QByteArray bytesOf(const uint8_t* data, size_t size)
{
    return QByteArray(reinterpret_cast<const char*>(data), qsizetype(size));
}

// A 2 × 2 PNG for the drawings of the document_xml target to point at.
const QByteArray& tinyPng()
{
    static const QByteArray png = QByteArray::fromBase64(
        "iVBORw0KGgoAAAANSUhEUgAAAAIAAAACCAIAAAD91JpzAAAAEElEQVR4nGP4z8AARAwQCgAf7gP9i18U1AAAAABJRU5ErkJggg==");
    return png;
}

bool addEntry(zip_t* z, const char* name, const QByteArray& bytes)
{
    // libzip reads the bytes only at zip_close: it gets a copy of its own,
    // which it frees (an empty buffer it neither takes nor frees).
    void* copy = bytes.isEmpty() ? nullptr : malloc(size_t(bytes.size()));
    if (!copy && !bytes.isEmpty())
        return false;
    if (copy)
        memcpy(copy, bytes.constData(), size_t(bytes.size()));
    zip_source_t* s = zip_source_buffer(z, copy, zip_uint64_t(bytes.size()), copy ? 1 : 0);
    if (!s) {
        free(copy);
        return false;
    }
    const zip_int64_t at = zip_file_add(z, name, s, ZIP_FL_OVERWRITE);
    if (at < 0) {
        zip_source_free(s);
        return false;
    }
    zip_set_file_compression(z, zip_uint64_t(at), ZIP_CM_STORE, 0);
    return true;
}

} // namespace

int FuzzPackage(const uint8_t* data, size_t size)
{
    if (writeFile(scratchPath(), bytesOf(data, size)))
        walkDocument(scratchPath());
    return 0;
}

int FuzzPictureInfo(const uint8_t* data, size_t size)
{
    const QByteArray bytes = bytesOf(data, size);
    PictureFormatOf(bytes);
    ReadPictureInfo(bytes);
    return 0;
}

int FuzzPictureRender(const uint8_t* data, size_t size)
{
    TznRenderRequest request;
    request.Bytes = bytesOf(data, size);
    const auto info = ReadPictureInfo(request.Bytes);
    if (!info || info->PixelWidth <= 0 || info->PixelHeight <= 0
        || qint64(info->PixelWidth) * info->PixelHeight > 1'000'000)
        return 0;
    // Half the natural size at 96 dpi, with a crop taken from the last bytes.
    request.Resolution = 96;
    request.ShownCx = qint64(info->PixelWidth) * 914400 / 96 / 2 + 1;
    request.ShownCy = qint64(info->PixelHeight) * 914400 / 96 / 2 + 1;
    if (size >= 2) {
        request.Crop.Left = (data[size - 1] % 40) / 100.0;
        request.Crop.Bottom = (data[size - 2] % 40) / 100.0 - 0.1;
    }
    request.PasteType = size % 3 == 0 ? eznPastePng : eznPasteAuto;
    guarded([&] { RenderPicture(request); });
    return 0;
}

int FuzzPictureRecode(const uint8_t* data, size_t size)
{
    const QByteArray bytes = bytesOf(data, size);
    const auto info = ReadPictureInfo(bytes);
    if (!info || qint64(info->PixelWidth) * info->PixelHeight > 1'000'000)
        return 0;
    // Photographs may become JPEG on every other input.
    guarded([&] { RecodePicture(bytes, {85, size % 2 == 0}); });
    return 0;
}

int FuzzDocumentXml(const uint8_t* data, size_t size)
{
    const QString path = scratchPath();
    QFile::remove(path);
    int error = 0;
    zip_t* z = zip_open(QFile::encodeName(path).constData(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    if (!z)
        return 0;
    const bool ok =
        addEntry(z, "[Content_Types].xml",
                 "<?xml version=\"1.0\" encoding=\"UTF-8\"?><Types xmlns=\"http://schemas.openxmlformats.org/package/2006/"
                 "content-types\"><Default Extension=\"rels\" ContentType=\"application/"
                 "vnd.openxmlformats-package.relationships+xml\"/><Default Extension=\"png\" ContentType=\"image/png\"/>"
                 "<Override PartName=\"/word/document.xml\" ContentType=\"application/"
                 "vnd.openxmlformats-officedocument.wordprocessingml.document.main+xml\"/></Types>")
        && addEntry(z, "_rels/.rels",
                    "<?xml version=\"1.0\" encoding=\"UTF-8\"?><Relationships xmlns=\"http://schemas.openxmlformats.org/"
                    "package/2006/relationships\"><Relationship Id=\"rId1\" Type=\"http://schemas.openxmlformats.org/"
                    "officeDocument/2006/relationships/officeDocument\" Target=\"word/document.xml\"/></Relationships>")
        && addEntry(z, "word/_rels/document.xml.rels",
                    "<?xml version=\"1.0\" encoding=\"UTF-8\"?><Relationships xmlns=\"http://schemas.openxmlformats.org/"
                    "package/2006/relationships\"><Relationship Id=\"rId1\" Type=\"http://schemas.openxmlformats.org/"
                    "officeDocument/2006/relationships/image\" Target=\"media/image1.png\"/></Relationships>")
        && addEntry(z, "word/media/image1.png", tinyPng()) && addEntry(z, "word/document.xml", bytesOf(data, size));
    if (!ok || zip_close(z) != 0) {
        zip_discard(z);
        return 0;
    }
    walkDocument(path);
    return 0;
}

int FuzzMask(const uint8_t* data, size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char*>(data), qsizetype(size));
    const qsizetype cut = text.indexOf(u'\n');
    const QString mask = cut < 0 ? text : text.left(cut);
    const QString path = cut < 0 ? QStringLiteral("/in/sub/report.docx") : text.mid(cut + 1);
    TznMatch matcher;
    guarded([&] { matcher.MatchName(path, MaskToPattern(mask)); });
    matcher.MatchName(path, mask);
    return 0;
}
