#include "ooxml/znPastedMedia.h"

#include <QCryptographicHash>

#include <algorithm>

namespace {

struct TznMediaType { const char* Extension; const char* ContentType; };
const TznMediaType kMediaTypes[] = {
    {"png", "image/png"}, {"jpeg", "image/jpeg"}, {"jpg", "image/jpeg"}, {"gif", "image/gif"},
    {"bmp", "image/bmp"}, {"tif", "image/tiff"}, {"tiff", "image/tiff"}, {"webp", "image/webp"},
    {"emf", "image/x-emf"}, {"wmf", "image/x-wmf"}, {"svg", "image/svg+xml"}, {"wdp", "image/vnd.ms-photo"},
};

} // namespace

TznPartName TznPastedMedia::Write(TznPackage& package, const QString& folder, const QByteArray& bytes, const QString& extension)
{
    const QString ext = extension.isEmpty() ? QStringLiteral("bin") : extension;
    // Names are tried from the lowest not known to be taken: a document of many pastes
    // does not try every name before its own each time.
    int& n = FFirstFree[folder + QLatin1Char('|') + ext];
    n = std::max(n, 1);
    TznPartName part;
    for (;; ++n) {
        part = TznPartName(QStringLiteral("%1image%2.%3").arg(folder).arg(n).arg(ext));
        if (!package.Has(part))
            break;
    }
    ++n;
    package.Write(part, bytes);
    return part;
}

QString TznPastedMedia::KeyOf(int part, const QByteArray& bytes)
{
    // The same buffer, still shared with the copy kept here, holds the same bytes.
    if (bytes.isEmpty() || FHashed.constData() != bytes.constData() || FHashed.size() != bytes.size()) {
        FDigest = QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
        FHashed = bytes;
    }
    return QString::number(part) + QLatin1Char('|') + FDigest;
}

void TznPastedMedia::Clear()
{
    FRelOf.clear();
    FFirstFree.clear();
    FHashed.clear();
    FDigest.clear();
}

QString TznPastedMedia::ContentTypeOf(const QString& extension)
{
    for (const TznMediaType& t : kMediaTypes)
        if (extension.compare(QLatin1String(t.Extension), Qt::CaseInsensitive) == 0)
            return QString::fromLatin1(t.ContentType);
    return QStringLiteral("application/octet-stream");
}
