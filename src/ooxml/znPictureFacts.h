#pragma once

#include "ooxml/znDrawingIndex.h"
#include "package/znPackageParts.h"

#include <QString>

#include <functional>
#include <optional>

// What the members need to know of a picture drawing, DrawingML or VML alike.
struct TznPictureFacts
{
    bool IsPicture = false, Linked = false, Vector = false, Tiled = false;
    QString RelId;                  // the embedded picture's relationship
    double Crop[4] = {0, 0, 0, 0};  // l, t, r, b fractions
    QString SrcRect[4];             // the a:srcRect attributes as written
    qint64 Cx = 0, Cy = 0;          // shown size in EMU
    QString Name, Descr, Title, HyperlinkRelId, HyperlinkTooltip, Rot, FlipH, FlipV;
    // The frame's spacing as written (distT/distB/distL/distR attributes and the
    // wp:effectExtent element), so that a paste lays out as the original.
    QString FrameDist, EffectExtent;
};

// Looks up a relationship of the drawing's part by id.
using TznRelById = std::function<std::optional<TznRelationship>(const QString&)>;
// The facts of a drawing as its XML states them (a VML picture whose relationship is missing
// or external counts as linked).
TznPictureFacts PictureFactsOf(const TznDrawing& d, const TznRelById& relById);
// The object-model type code of a drawing in the InlineShapes or the Shapes collection.
int ShapeTypeOf(const TznDrawing& d, const TznPictureFacts& facts);
// The shown size and crop of a picture reference (a picture's a:blip, or v:imagedata);
// false when it is no picture's.
bool ShapeOfReference(pugi::xml_node reference, qint64& cx, qint64& cy, double crop[4]);
