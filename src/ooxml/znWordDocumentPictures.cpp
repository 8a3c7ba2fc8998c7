// The pictures of the document as the object model sees them: each drawing's facts, read
// once, its type, its scale, and its density on the page, the lowest over every place that
// shows the same media part.
#include "ooxml/znWordDocument.h"

#include "platform/znError.h"

#include <algorithm>

const TznPictureFacts& TznWordDocument::FactsOf(const TznDrawing& d)
{
    // A drawing does not change while it is indexed; its facts are read once, and forgotten
    // with it or when a save re-points relationships.
    if (const auto it = FFacts.find(d.Id); it != FFacts.end())
        return it->second;
    return FFacts.emplace(d.Id, PictureFactsOf(d, [&](const QString& id) { return RelById(d.Part, id); })).first->second;
}

int TznWordDocument::TypeOf(int id)
{
    const TznDrawing& d = Drawing(id);
    return ShapeTypeOf(d, FactsOf(d));
}

TznPartName TznWordDocument::PictureTarget(const TznPictureFacts& f, int part)
{
    const auto rel = !f.IsPicture || f.RelId.isEmpty() ? std::nullopt : RelById(part, f.RelId);
    if (!rel || rel->External)
        throw EznError(QStringLiteral("The shape holds no embedded picture."));
    const TznPartName target = PartNameOf(part).Resolve(rel->Target);
    if (!FPackage->Has(target))
        throw EznError(QStringLiteral("The picture %1 is missing from the document.").arg(target.Name()));
    return target;
}

double TznWordDocument::ScaleOf(int id, bool width)
{
    const TznDrawing& d = Drawing(id);
    const TznPictureFacts& f = FactsOf(d);
    if (!f.IsPicture)
        throw EznError(QStringLiteral("The shape is no picture."));
    return TznPictureScale::ScaleOf(f, FScale.InfoOf(*FPackage, PictureTarget(f, d.Part)), width);
}

double TznWordDocument::DensityOf(const TznDrawing& d)
{
    const TznPictureFacts& f = FactsOf(d);
    if (!f.IsPicture || f.Cx <= 0 || f.Cy <= 0)
        return 0;
    return TznPictureScale::DensityOf(f, FScale.InfoOf(*FPackage, PictureTarget(f, d.Part)));
}

void TznWordDocument::AddPlace(const TznDrawing& d)
{
    try {
        const TznPictureFacts& f = FactsOf(d);
        if (!f.IsPicture || f.Linked)
            return;
        const QString media = PictureTarget(f, d.Part).Key();
        if (const double density = DensityOf(d); density > 0)
            FScale.AddPlace(d.Id, media, density);
    } catch (const EznError&) {
        // a drawing without an embedded picture shares nothing
    }
}

double TznWordDocument::EffectiveResolutionOf(int id)
{
    LoadStories();
    const TznDrawing& d = Drawing(id);
    const TznPictureFacts& f = FactsOf(d);
    if (!f.IsPicture)
        throw EznError(QStringLiteral("The shape is no picture."));
    const QString key = PictureTarget(f, d.Part).Key();
    const double own = DensityOf(d);
    if (own <= 0)
        throw EznError(QStringLiteral("The picture's size cannot be read."));
    // The media serves every place that shows it: the place that needs the most pixels of it,
    // the one with the lowest density, decides. Counted once for every media part, then kept
    // up to date as drawings come and go.
    if (!FScale.PlacesKnown()) {
        for (const auto& [otherId, other] : FIndex.All())
            AddPlace(other);
        FScale.SetPlacesKnown();
    }
    return std::min(own, FScale.LowestOf(key, own));
}
