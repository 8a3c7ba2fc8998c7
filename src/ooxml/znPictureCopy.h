#pragma once

#include "ooxml/znClipboard.h"
#include "ooxml/znPictureFacts.h"
#include "ooxml/znRenderCache.h"
#include "package/znPartName.h"

#include <QByteArray>
#include <QString>

#include <memory>

// The picture drawing a copy is made of, with what its document knows of it.
struct TznCopySource
{
    const TznDrawing& Drawing;
    TznPictureFacts Facts;
    TznPartName Media;           // its embedded picture's part
    QByteArray MediaBytes;
    QString MediaContentType;
    quint64 Document = 0;        // the document's serial
    TznPartName Part;            // the part the drawing stands in
    TznRelById RelById;          // that part's relationships
};

// The clipboard's copy of an embedded picture: the rendering for paste type 13 at resolution
// and quality (and for alsoPasteType, when it renders), everything an inline paste needs,
// and the drawing's frame as recorded with the relationships it names. Raises what the
// rendering raises.
std::shared_ptr<TznClipPicture> CopyOfPicture(const TznCopySource& source, TznRenderCache& cache, int resolution, int quality,
                                              int alsoPasteType);
