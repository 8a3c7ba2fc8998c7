#pragma once

#include "ooxml/znClipboard.h"
#include "ooxml/znPictureFacts.h"

#include <QString>

#include <functional>

#include <pugixml.hpp>

// The fallback copy of a picture in a text box (the mc:Fallback that repeats the choice's
// text box for older readers), with what a copy of the picture must carry for a paste in its
// place to be its replacement.
struct TznFallbackCopy
{
    pugi::xml_node Reference;  // the copy's a:blip or v:imagedata; empty when there is none
    QString OldRelId;          // the choice's relationship to the picture
    QString CopyRelId;         // the copy's: the same, or one naming a part of the same bytes
    qint64 Cx = 0, Cy = 0;
    double Crop[4] = {0, 0, 0, 0};
};

// Whether a relationship id of the drawing's part names the same picture as the drawing's own
// (the same id, or a part of identical bytes: writers often store the fallback's copy twice).
using TznSamePicture = std::function<bool(const QString& relId)>;

// The copy in the fallback that shows what the embedded picture d shows in the choice's text
// box: the same picture at the same place among the box's pictures, at the same size and
// crop, in the corresponding box. Empty when there is none or the match is not certain.
TznFallbackCopy FallbackCopyOf(const TznDrawing& d, const TznPictureFacts& facts, const TznSamePicture& samePicture);

// Points the fallback copy at relId when picture, pasted with it, is the copy of the deleted
// drawing the fallback repeated; drops the copy's crop when the new pixels have it baked in.
void FollowInFallback(const TznFallbackCopy& copy, const TznClipPicture& picture, const QString& relId, bool cropBaked);
