#pragma once

#include "ooxml/znClipboard.h"
#include "package/znPackage.h"
#include "package/znPackageParts.h"
#include "package/znPartName.h"

#include <QSet>
#include <QString>

#include <functional>
#include <optional>
#include <set>
#include <pugixml.hpp>

// The wp:docPr ids of a document's parts (unique over all of them), counted once and kept up
// to date by what removes and inserts drawings.
class TznDocPrIds
{
public:
    // True once every part was counted (SetKnown) since the last Forget.
    bool Known() const { return FKnown; }
    // Counts the ids of the drawings below root.
    void Count(const pugi::xml_node& root);
    // Marks every part counted: removals and additions are followed from now on.
    void SetKnown() { FKnown = true; }
    // Forgets every id: they are counted again.
    void Forget();
    // Drops the ids of the drawings below node (it leaves the document).
    void RemoveIn(const pugi::xml_node& node);
    // Adds the ids of the drawings below node (it came into the document).
    void AddIn(const pugi::xml_node& node);
    // Takes and returns an id above every one in use.
    int TakeNext();
    // The ids in use.
    const QSet<int>& Ids() const { return FIds; }

private:
    bool FKnown = false;
    QSet<int> FIds;
    std::set<int> FOrdered;
};

// Where a paste goes: the caret of a part and what the paste may use and change there.
struct TznPasteTarget
{
    pugi::xml_node Caret;              // the new drawing goes where this marker stands
    pugi::xml_node PartRoot;           // the part's document element
    TznPartName Part;
    // The part's relationships: looked up by id, and added to (returning the new id).
    std::function<std::optional<TznRelationship>(const QString&)> RelById;
    std::function<QString(const QString& type, const QString& target, bool external)> AddRel;
    const TznPackage* Package = nullptr;
    TznDocPrIds* DocPrIds = nullptr;
};

// A marker named name at the start of the main text (its first paragraph, after the
// paragraph's properties, in a run of its own); raises when there is no main text.
pugi::xml_node CaretAtStart(pugi::xml_document& main, const char* name);
// The rendering a paste of the copy with pasteType uses: one the copy made, or a new one
// (the copy's default when the new one fails).
TznRendered RenderingToPaste(const TznClipPicture& picture, int pasteType);

// Pastes the picture's recorded frame at the caret, pointing at relId and without its crop
// when useNew (the crop is baked in); makes again the other relationships the frame names
// that went since the copy. Returns the inserted element, empty when a part the frame names
// is gone (nothing is changed then).
pugi::xml_node PasteRecordedFrame(const TznClipPicture& picture, const QString& relId, bool useNew, TznPasteTarget& target);
// Pastes the picture inline at the caret as a new drawing showing relId, with the copy's
// name, description, hyperlink, crop (unless useNew), rotation and spacing; samePart says
// that the copy's relationship ids mean the same here. Returns the inserted w:drawing.
pugi::xml_node PasteInline(const TznClipPicture& picture, const QString& relId, bool useNew, bool samePart, TznPasteTarget& target);
