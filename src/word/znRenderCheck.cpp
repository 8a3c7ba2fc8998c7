#include "word/znRenderCheck.h"

#include "lodoc/znLegacyOffice.h"
#include "lodoc/znRenderCompare.h"
#include "package/znCompoundFile.h"
#include "package/znPackage.h"
#include "package/znXml.h"
#include "platform/znError.h"
#include "platform/znLocalPath.h"

#include <QDir>
#include <QFile>
#include <QtEndian>

#include <algorithm>
#include <array>
#include <memory>

namespace {

// The resolution pages are compared at: enough for a re-wrapped line or a moved picture
// to show, small enough to rasterise a page in a few milliseconds.
constexpr int kCheckDpi = 100;

// The header of an Embedded OpenType font, as a legacy document stores each embedded
// font: its total and font-data sizes, a version, and the magic number at offset 34.
constexpr int kEotHeaderSize = 36;
constexpr int kEotMagicOffset = 34;
constexpr std::array<quint32, 3> kEotVersions = {0x00010000, 0x00020001, 0x00020002};

bool isEotHeader(const char* p, qint64 available, qint64 fileSize)
{
    if (available < kEotHeaderSize || qFromLittleEndian<quint16>(p + kEotMagicOffset) != 0x504C)
        return false;
    const quint32 eotSize = qFromLittleEndian<quint32>(p);
    const quint32 fontSize = qFromLittleEndian<quint32>(p + 4);
    const quint32 version = qFromLittleEndian<quint32>(p + 8);
    const auto italic = quint8(p[27]);
    return std::find(kEotVersions.begin(), kEotVersions.end(), version) != kEotVersions.end() && fontSize > 0
           && fontSize < eotSize && eotSize <= fileSize && italic <= 1;
}

// The EOT headers anywhere in the file, read in blocks: a header that starts in a block's
// last bytes is looked at with the next block.
int eotFontCount(QFile& file)
{
    constexpr qint64 block = qint64(1) << 20;
    const qint64 size = file.size();
    int count = 0;
    QByteArray bytes;
    for (;;) {
        const QByteArray more = file.read(block);
        const bool last = more.isEmpty() || file.atEnd();
        bytes += more;
        const qsizetype limit = last ? bytes.size() : bytes.size() - kEotHeaderSize + 1;
        for (qsizetype at = bytes.indexOf("LP", kEotMagicOffset); at >= 0; at = bytes.indexOf("LP", at + 1)) {
            const qsizetype start = at - kEotMagicOffset;
            if (start >= limit)
                break;
            if (isEotHeader(bytes.constData() + start, bytes.size() - start, size))
                ++count;
        }
        if (last)
            return count;
        bytes = bytes.mid(limit);
    }
}

// The embedded faces (regular, bold, italic, bold italic) of the package's font tables.
int packageFontCount(const QString& path)
{
    const std::unique_ptr<TznPackage> package = TznPackage::Open(path);
    int count = 0;
    for (const TznPartName& part : package->Parts()) {
        if (!part.Name().endsWith(QStringLiteral("/fontTable.xml"), Qt::CaseInsensitive))
            continue;
        pugi::xml_document xml;
        LoadXml(xml, package->Read(part), part.Name());
        for (const pugi::xml_node& font : xml.document_element().children()) {
            for (const pugi::xml_node& face : font.children()) {
                const QString name = QString::fromUtf8(LocalName(face));
                if (face.type() == pugi::node_element
                    && (name == QStringLiteral("embedRegular") || name == QStringLiteral("embedBold")
                        || name == QStringLiteral("embedItalic") || name == QStringLiteral("embedBoldItalic")))
                    ++count;
            }
        }
    }
    return count;
}

QString fonts(int n)
{
    return n == 1 ? QStringLiteral("1 embedded font") : QStringLiteral("%1 embedded fonts").arg(n);
}

} // namespace

bool IsLegacyBinaryDocument(const QString& path)
{
    QFile file;
    if (!OpenLocalFile(file, path))
        return false;
    const QByteArray head = file.read(8);
    return IsCompoundFileSignature(head) || IsSingleStreamWordDocument(head);
}

int EmbeddedFontCount(const QString& path)
{
    QFile file;
    if (!OpenLocalFile(file, path))
        return 0;
    const QByteArray head = file.read(8);
    try {
        if (IsCompoundFileSignature(head)) {
            file.seek(0);
            return eotFontCount(file);
        }
        if (head.startsWith("PK\x03\x04"))
            return packageFontCount(path);
    } catch (const EznError&) {
        // A damaged package or font table holds no font that counts.
    }
    return 0;
}

QString ResultDifference(const QString& source, const QString& result, bool render, double minPsnr,
                         const QString& sourceLabel, const QString& resultLabel)
{
    const int sourceFonts = EmbeddedFontCount(source);
    if (sourceFonts > 0) {
        const int resultFonts = EmbeddedFontCount(result);
        if (resultFonts < sourceFonts)
            return QStringLiteral("%1 instead of %2").arg(fonts(resultFonts), QString::number(sourceFonts));
    }
    if (!render)
        return {};
    TznLegacyOffice& office = TznLegacyOffice::OfThisThread();
    const QString missing = office.Unavailable();
    if (!missing.isEmpty())
        throw EznError(QStringLiteral("Cannot check \"%1\" (Verify): %2").arg(QDir::toNativeSeparators(resultLabel), missing));
    TznRenderComparison c;
    try {
        c = CompareRenderings(office, source, result, kCheckDpi, minPsnr, sourceLabel, resultLabel);
    } catch (const EznError& e) {
        // What cannot be compared is not shown to look alike.
        QString why = e.Message();
        if (why.endsWith(u'.'))
            why.chop(1);
        return QStringLiteral("it cannot be compared (%1)").arg(why);
    }
    if (c.SourcePages != c.ResultPages)
        return QStringLiteral("%1 pages instead of %2").arg(c.ResultPages).arg(c.SourcePages);
    if (c.Page > 0 && c.Psnr < minPsnr)
        return QStringLiteral("page %1 would look different, %2 dB").arg(c.Page).arg(c.Psnr, 0, 'f', 1);
    return {};
}
