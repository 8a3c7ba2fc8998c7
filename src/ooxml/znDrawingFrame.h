#pragma once

#include <QHash>
#include <QSet>
#include <QString>

#include <memory>
#include <pugixml.hpp>

// A drawing as it stood in its document, kept so that a paste can put back its whole frame:
// the w:drawing, mc:AlternateContent or w:pict element, with every namespace declaration in
// scope at its place copied onto its root so that the copy reads alone.
std::shared_ptr<const pugi::xml_document> RecordFrame(const pugi::xml_node& unit);

// The relationship ids an r:* attribute of the frame names (blips, hyperlinks, image layers,
// SVG blips, VML image data).
QSet<QString> FrameRelIds(const pugi::xml_node& frame);

// What a frame paste changes in the copy; nothing else is touched.
struct TznFrameEdit
{
    QSet<QString> OldRelIds;          // the frame's references to the picture
    QString NewRelId;                 // the relationship the pasted picture uses
    bool DropCrop = false;            // the crop is baked into the new pixels
    QHash<QString, QString> Rels;     // other relationship ids to rename (old -> new)
    QSet<int> UsedDocPrIds;           // drawing ids already in the document
};

// Inserts a copy of the recorded frame into parent before `before` (at the end when it is
// empty) and edits it as told: the blip and the VML image data that point at the picture
// point at the new relationship, the crop goes when it was baked in, a drawing id already in
// use gets the next free one, and declarations already in scope are not repeated. Returns
// the inserted element.
pugi::xml_node PasteFrame(const pugi::xml_document& frame, pugi::xml_node parent, pugi::xml_node before,
                          const TznFrameEdit& edit);
