#include "ooxml/znPictureCopy.h"

#include "ooxml/znDrawingFrame.h"

#include <cmath>

namespace {

// The drawing as it stands, with the relationships its frame names: those of the picture
// itself apart, since a paste points them at what it pastes.
void recordFrameOf(const TznCopySource& source, TznClipPicture& clip)
{
    clip.Frame = RecordFrame(source.Drawing.Unit);
    for (const QString& id : FrameRelIds(clip.Frame->document_element())) {
        const auto rel = source.RelById(id);
        if (!rel)
            continue; // a dangling reference stays as it was
        if (!rel->External && source.Part.Resolve(rel->Target) == source.Media)
            clip.FramePictureRelIds.insert(id);
        else
            clip.FrameRels.insert(id, {rel->Type, rel->Target, rel->External});
    }
}

} // namespace

std::shared_ptr<TznClipPicture> CopyOfPicture(const TznCopySource& source, TznRenderCache& cache, int resolution, int quality,
                                              int alsoPasteType)
{
    const TznDrawing& d = source.Drawing;
    const TznPictureFacts& f = source.Facts;
    auto clip = std::make_shared<TznClipPicture>();
    clip->OriginalRelId = f.RelId;
    clip->Request.Bytes = source.MediaBytes;
    clip->Request.Crop = {f.Crop[0], f.Crop[1], f.Crop[2], f.Crop[3]};
    for (int i = 0; i < 4; ++i)
        clip->SrcRect[i] = d.Vml ? (f.Crop[i] != 0 ? QString::number(qint64(std::llround(f.Crop[i] * 100000))) : QString())
                                 : f.SrcRect[i];
    clip->Cx = f.Cx;
    clip->Cy = f.Cy;
    clip->Request.ShownCx = clip->Cx;
    clip->Request.ShownCy = clip->Cy;
    clip->Request.Resolution = resolution;
    clip->Request.Quality = quality;
    clip->Request.PasteType = 13;
    clip->Rendered = cache.Rendering(source.Media, clip->Request);
    if (alsoPasteType != clip->Request.PasteType) {
        TznRenderRequest request = clip->Request;
        request.PasteType = alsoPasteType;
        try {
            clip->AlsoRendered = cache.Rendering(source.Media, request);
            clip->AlsoRenderedType = alsoPasteType;
        } catch (const std::exception&) {
            // The paste falls back on the default rendering.
        }
    }

    clip->SourceDocument = source.Document;
    clip->SourcePart = source.Part.Key();
    clip->OriginalExtension = source.Media.Extension();
    clip->OriginalContentType = source.MediaContentType;
    clip->Name = f.Name;
    clip->Descr = f.Descr;
    clip->Title = f.Title;
    if (!f.HyperlinkRelId.isEmpty()) {
        clip->HyperlinkRelId = f.HyperlinkRelId;
        clip->HyperlinkTooltip = f.HyperlinkTooltip;
        if (const auto rel = source.RelById(f.HyperlinkRelId)) {
            clip->HasHyperlink = true;
            clip->HyperlinkTarget = rel->Target;
            clip->HyperlinkExternal = rel->External;
        }
    }
    clip->Rot = f.Rot;
    clip->FlipH = f.FlipH;
    clip->FlipV = f.FlipV;
    if (d.Frame) {
        clip->FrameDist = f.FrameDist;
        clip->EffectExtent = f.EffectExtent;
    }
    recordFrameOf(source, *clip);
    return clip;
}
