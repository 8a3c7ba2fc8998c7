#pragma once

#include "picture/znPicture.h"

#include <QByteArray>
#include <QHash>
#include <QSet>
#include <QString>

#include <memory>
#include <pugixml.hpp>

// What a copied picture leaves on the server's clipboard: the new rendering and everything
// a paste needs to put the picture back as it was shown.
struct TznClipPicture
{
    quint64 SourceDocument = 0;  // serial of the document it was copied from
    QString SourcePart;          // key of the part (main, header, notes...) it stood in
    TznRenderRequest Request;    // the original's bytes and crop, for another paste type
    TznRendered Rendered;        // the rendering for the default paste type
    // A rendering for another paste type, made ahead when the caller is known to paste so.
    int AlsoRenderedType = 0;
    TznRendered AlsoRendered;
    // The drawing as it stood in its document, for a paste back into that document; null
    // when the copy recorded none.
    std::shared_ptr<const pugi::xml_document> Frame;
    QSet<QString> FramePictureRelIds;     // the frame's references to the picture itself
    struct TznClipRel { QString Type, Target; bool External = false; };
    QHash<QString, TznClipRel> FrameRels; // every other relationship the frame names
    QString OriginalRelId;       // the original's relationship in its document
    QString OriginalExtension;   // extension and content type of the original media part
    QString OriginalContentType;
    QString SrcRect[4];          // l, t, r, b of the original's a:srcRect, empty when absent
    qint64 Cx = 0, Cy = 0;       // the shown size
    QString Name, Descr, Title;  // wp:docPr
    bool HasHyperlink = false;
    QString HyperlinkRelId, HyperlinkTarget, HyperlinkTooltip;
    bool HyperlinkExternal = true;
    QString Rot, FlipH, FlipV;   // a:xfrm attributes of the picture
    // The original frame's spacing: its dist attributes and wp:effectExtent
    // as written; both in their zero form for a picture that had no frame.
    QString FrameDist = QStringLiteral(" distT=\"0\" distB=\"0\" distL=\"0\" distR=\"0\"");
    QString EffectExtent = QStringLiteral("<wp:effectExtent l=\"0\" t=\"0\" r=\"0\" b=\"0\"/>");
};

// The one clipboard of the process: shared by every server instance, guarded by its own lock.
namespace ZnClipboard {
void SetPicture(std::shared_ptr<const TznClipPicture> picture);
std::shared_ptr<const TznClipPicture> Picture();
void Clear();
}
