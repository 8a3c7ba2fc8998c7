#include "ooxml/znRenderCache.h"

TznRendered TznRenderCache::Rendering(const TznPartName& part, const TznRenderRequest& request)
{
    // Everything the rendering depends on besides the media part's bytes.
    const QString key = QStringLiteral("%1|%2|%3|%4|%5|%6|%7|%8|%9")
                            .arg(request.ShownCx)
                            .arg(request.ShownCy)
                            .arg(request.Crop.Left, 0, 'g', 17)
                            .arg(request.Crop.Top, 0, 'g', 17)
                            .arg(request.Crop.Right, 0, 'g', 17)
                            .arg(request.Crop.Bottom, 0, 'g', 17)
                            .arg(request.Resolution)
                            .arg(request.Quality)
                            .arg(request.PasteType);
    QHash<QString, TznEntry>& ofPart = FEntries[part.Key()];
    auto it = ofPart.constFind(key);
    if (it == ofPart.constEnd()) {
        TznEntry entry;
        try {
            entry.Rendered = RenderPicture(request);
        } catch (...) {
            entry.Error = std::current_exception();
        }
        // Renderings are small beside their sources, but a document of many large pictures
        // shown once each keeps only what fits.
        if (FBytes + entry.Rendered.Bytes.size() > kMaxBytes) {
            if (entry.Error)
                std::rethrow_exception(entry.Error);
            return entry.Rendered;
        }
        FBytes += entry.Rendered.Bytes.size();
        it = ofPart.insert(key, entry);
    }
    if (it->Error)
        std::rethrow_exception(it->Error);
    return it->Rendered;
}

const QByteArray& TznRenderCache::BytesOf(const TznPackage& package, const TznPartName& part)
{
    if (FLastPart.Key() != part.Key()) {
        FLastBytes = package.Read(part);
        FLastPart = part;
    }
    return FLastBytes;
}

void TznRenderCache::Forget(const TznPartName& part)
{
    if (FLastPart.Key() == part.Key())
        FLastPart = TznPartName();
    for (const TznEntry& entry : FEntries.take(part.Key()))
        FBytes -= entry.Rendered.Bytes.size();
}

void TznRenderCache::Clear()
{
    FEntries.clear();
    FBytes = 0;
    FLastPart = TznPartName();
    FLastBytes.clear();
}
