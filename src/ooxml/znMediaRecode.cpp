#include "ooxml/znMediaRecode.h"

#include "picture/znPictureRecode.h"
#include "platform/znError.h"

#include <QCryptographicHash>
#include <QHash>

#include <memory>
#include <vector>

#include <libdeflate.h>

namespace {

// A relationships part and the part whose relationships it holds.
struct TznRelsSource
{
    TznPartName RelsPart, Owner;
    TznRelationships* Rels = nullptr;
    std::unique_ptr<TznRelationships> Own;
    bool Changed = false;
};

struct TznMediaRef
{
    int Source = 0;
    QString Id;
};

struct TznMedia
{
    TznPartName Part;
    QList<TznMediaRef> Refs;
    bool OnlyPictures = true;  // every relationship naming it is a picture's
};

QString formatOf(const QString& extension)
{
    const QString e = extension.toLower();
    if (e == QLatin1String("jpg") || e == QLatin1String("jpe") || e == QLatin1String("jfif"))
        return QStringLiteral("jpeg");
    if (e == QLatin1String("tif"))
        return QStringLiteral("tiff");
    return e;
}

// A new part beside part, of the same base name and the given extension.
TznPartName renamed(const TznPackage& package, const TznPartName& part, const QString& extension)
{
    const QString name = part.Name();
    const qsizetype slash = name.lastIndexOf(QLatin1Char('/'));
    QString base = name.mid(slash + 1);
    if (const qsizetype dot = base.lastIndexOf(QLatin1Char('.')); dot > 0)
        base.truncate(dot);
    const QString folder = name.left(slash + 1);
    TznPartName candidate(folder + base + QLatin1Char('.') + extension);
    for (int n = 2; package.Has(candidate); ++n)
        candidate = TznPartName(QStringLiteral("%1%2_%3.%4").arg(folder, base).arg(n).arg(extension));
    return candidate;
}

// True when deflating the bytes saves anything worth an entry's change.
bool deflateSaves(const QByteArray& bytes)
{
    libdeflate_compressor* c = libdeflate_alloc_compressor(6);
    if (!c)
        return false;
    std::vector<char> out(libdeflate_deflate_compress_bound(c, size_t(bytes.size())));
    const size_t n = libdeflate_deflate_compress(c, bytes.constData(), size_t(bytes.size()), out.data(), out.size());
    libdeflate_free_compressor(c);
    return n > 0 && qint64(n) + 64 < bytes.size() && qint64(n) < bytes.size() * 99 / 100;
}

// Below this a re-coding saves at most a few hundred bytes.
constexpr qsizetype MinRecodeBytes = 2048;

} // namespace

TznMediaRecodeResult RecodeMedia(TznPackage& package, const TznPartName& mainPart, TznRelationships& mainRels,
                                 TznContentTypes& types, const TznMediaRecodeOptions& options)
{
    TznMediaRecodeResult out;
    if (!options.Enabled)
        return out;
    // Who names which part: every relationship of every part.
    std::vector<TznRelsSource> sources;
    for (const TznPartName& part : package.Parts()) {
        TznRelsSource source;
        source.Owner = part.RelsSource();
        if (source.Owner.IsEmpty())
            continue;
        source.RelsPart = part;
        if (source.Owner == mainPart) {
            source.Rels = &mainRels;
        } else {
            source.Own = std::make_unique<TznRelationships>();
            try {
                source.Own->Load(package.Read(part), part.Name());
            } catch (const EznError&) {
                return out;  // who uses a picture is unknown: nothing may move
            }
            source.Rels = source.Own.get();
        }
        sources.push_back(std::move(source));
    }
    QList<TznMedia> media;
    QHash<QString, int> mediaOf;
    for (int s = 0; s < int(sources.size()); ++s) {
        for (const TznRelationship& r : sources[size_t(s)].Rels->All()) {
            if (r.External)
                continue;
            const TznPartName target = sources[size_t(s)].Owner.Resolve(r.Target);
            if (target.IsEmpty() || !package.Has(target))
                continue;
            int at = mediaOf.value(target.Key(), -1);
            if (at < 0) {
                at = int(media.size());
                mediaOf.insert(target.Key(), at);
                media.append(TznMedia{target, {}, true});
            }
            media[at].Refs.append({s, r.Id});
            // The package's preview is a picture like the media, shown by whoever lists the file.
            if (!r.Type.endsWith(QLatin1String("/image"), Qt::CaseInsensitive)
                && !r.Type.endsWith(QLatin1String("/metadata/thumbnail"), Qt::CaseInsensitive))
                media[at].OnlyPictures = false;
        }
    }
    auto repoint = [&](const TznMedia& m, const TznPartName& to) {
        for (const TznMediaRef& ref : m.Refs) {
            TznRelsSource& source = sources[size_t(ref.Source)];
            source.Rels->SetTarget(ref.Id, source.Owner.RelativeTo(to));
            source.Changed = true;
        }
    };

    const TznRecodeOptions recode{options.Quality, options.PasteType == 13};
    // Only pictures of one size can be the same; most sizes occur once, and
    // their bytes need no digest.
    QHash<qint64, int> ofSize;
    for (const TznMedia& m : media)
        ++ofSize[package.SizeOf(m.Part)];
    QHash<QByteArray, int> firstOfDigest;
    for (int i = 0; i < media.size(); ++i) {
        TznMedia& m = media[i];
        if (!m.OnlyPictures || !types.ContentTypeOf(m.Part).startsWith(QLatin1String("image/"), Qt::CaseInsensitive))
            continue;
        QByteArray bytes;
        try {
            bytes = package.Read(m.Part);
        } catch (const EznError&) {
            continue;  // a damaged part stays as it is
        }
        if (ofSize.value(package.SizeOf(m.Part)) > 1) {
            const QByteArray digest = QCryptographicHash::hash(bytes, QCryptographicHash::Sha256);
            if (const int first = firstOfDigest.value(digest, -1); first >= 0) {
                // The same picture again: its relationships name the first copy.
                repoint(m, media[first].Part);
                out.Unused.append(m.Part);
                continue;
            }
            firstOfDigest.insert(digest, i);
        }
        // A picture the codec has just written gains little for a second
        // decoding, and a tiny one cannot gain what its decoding costs.
        std::optional<TznRecoded> smaller;
        if (!package.IsChanged(m.Part) && bytes.size() >= MinRecodeBytes) {
            try {
                smaller = RecodePicture(bytes, recode);
            } catch (const std::exception&) {
                smaller.reset();  // the picture stays as it is
            }
        }
        if (smaller && smaller->Bytes.size() < bytes.size()) {
            if (formatOf(smaller->Extension) == formatOf(m.Part.Extension())) {
                package.Write(m.Part, smaller->Bytes);
                continue;
            }
            const TznPartName to = renamed(package, m.Part, smaller->Extension);
            const QString known = types.ContentTypeOf(to);
            if (known.isEmpty() || known.compare(smaller->ContentType, Qt::CaseInsensitive) == 0) {
                if (known.isEmpty() && types.EnsureDefault(smaller->Extension, smaller->ContentType))
                    out.TypesChanged = true;
                package.Write(to, smaller->Bytes);
                repoint(m, to);
                out.Unused.append(m.Part);
                m.Part = to;
                continue;
            }
        }
        if (package.IsStored(m.Part) && deflateSaves(bytes))
            package.Write(m.Part, bytes);  // written parts are deflated
    }

    for (TznRelsSource& source : sources) {
        if (!source.Changed)
            continue;
        if (source.Rels == &mainRels)
            out.MainRelsChanged = true;
        else
            package.Write(source.RelsPart, source.Rels->Save());
    }
    return out;
}
