#pragma once

#include <QHash>
#include <QList>
#include <QString>

#include <unordered_map>
#include <vector>
#include <pugixml.hpp>

// One drawing of a story: a picture, shape, chart or OLE object, by the element Delete removes.
struct TznDrawing
{
    int Id = 0;
    int Part = 0;                 // index of its part: 0 is the main part
    const void* Story = nullptr;  // root of its story; nullptr for the main text
    pugi::xml_node Unit;          // w:drawing, mc:AlternateContent, w:object or w:pict
    pugi::xml_node Frame;         // wp:inline / wp:anchor; empty for w:object and VML
    bool Anchored = false;
    pugi::xml_node Vml;           // the v:shape of a VML picture (Unit is its w:pict)
};

// A story beyond the main text: type 2-4 notes and comments, 5 a text box, 6-11 headers and
// footers; named by its root node, in the part it belongs to.
struct TznStory
{
    int Type = 1;
    int Part = 0;
    pugi::xml_node Root;
};

namespace ZnVml {
// The properties of a VML style attribute, names in lower case, values trimmed.
QHash<QString, QString> Style(const QString& style);
// A VML length in EMU; a bare number is in pixels.
qint64 LengthEmu(const QString& length);
// A VML fraction: "6554f" is in 1/65536, a plain number is the fraction itself.
double Fraction(const QString& value);
}

// What an insertion changed in the index: the ids it forgot and the ids it filed (an id can
// be in both when its drawing was filed again).
struct TznIndexChange
{
    std::vector<int> Gone, Added;
};

// The drawings of a document by story, in document order, with ids that stay valid while
// their drawing is in the document. Built once by Collect (and AddStories); Remove and
// Insert keep it equal to what a new Collect of the changed document gives, at the cost of
// the drawing they touch, not of the document.
class TznDrawingIndex
{
public:
    // Indexes the drawings of the main text below body; forgets everything known before.
    void Collect(pugi::xml_node body);
    // Adds the stories of other parts (headers, footers, notes, comments) in the order given,
    // then the text boxes of the main text and of those stories, and indexes their drawings.
    void AddStories(const QList<TznStory>& stories);
    // True once AddStories ran since the last Collect.
    bool HasStories() const { return FHasStories; }

    // The stories beyond the main text: those of other parts, then every text box.
    const QList<TznStory>& Stories() const { return FStories; }
    // Ids of one story's inline or anchored drawings in document order.
    QList<int> IdsIn(const void* story, bool anchored) const;
    // The drawing of an id; nullptr when it is no longer in the document.
    const TznDrawing* Find(int id) const;
    // Every drawing of every indexed story, in no particular order.
    const std::unordered_map<int, TznDrawing>& All() const { return FDrawings; }

    // Forgets the drawing and the text boxes inside it, with their drawings; call it while
    // its unit is still in the document. Returns the ids that went, the drawing's first.
    std::vector<int> Remove(int id);
    // Indexes an element just inserted into a story of part: what it holds, and what an
    // alternate content around it shows now. Ids of drawings still there stay.
    TznIndexChange Insert(pugi::xml_node inserted, int part, const void* story);
    // The id of the drawing whose unit is the node; 0 when none.
    int IdOfUnit(pugi::xml_node unit) const;

    // A new index of the same document, built from scratch as at open.
    TznDrawingIndex Recollected() const;

private:
    struct TznOrder
    {
        QList<int> Ids[2];  // inline, anchored
    };
    void Walk(pugi::xml_node node, std::vector<TznDrawing>& out) const;
    void WalkOne(pugi::xml_node child, std::vector<TznDrawing>& out) const;
    void AddDrawing(pugi::xml_node unit, pugi::xml_node drawing, std::vector<TznDrawing>& out) const;
    void AddVmlPicture(pugi::xml_node pict, std::vector<TznDrawing>& out) const;
    void FindTextBoxes(pugi::xml_node node, int part, QList<TznStory>& out) const;
    QList<TznStory> AllTextBoxes() const;
    // Walks a story and appends its drawings, each with a new id.
    void IndexStory(pugi::xml_node root, int part, const void* story);
    // Files drawings found at one place of a story: each keeps the id its unit had before
    // (reused) or gets the next one, and goes into its list after the drawing before it.
    std::vector<int> File(std::vector<TznDrawing>& found, pugi::xml_node place, pugi::xml_node storyRoot,
                          const QHash<const void*, int>& reused);
    // The position in the story's list of kind after the last drawing of that kind before node.
    qsizetype PositionOf(pugi::xml_node node, pugi::xml_node storyRoot, const void* story, bool anchored) const;
    pugi::xml_node RootOf(const void* story) const;
    void Forget(int id);

    pugi::xml_node FBody;
    QList<TznStory> FPartStories;  // as AddStories got them
    QList<TznStory> FStories;
    bool FHasStories = false;
    std::unordered_map<int, TznDrawing> FDrawings;
    QHash<const void*, int> FIdOfUnit;
    std::unordered_map<const void*, TznOrder> FOrder;
    int FNextId = 1;
    // Where in its order the last drawing was found or removed: the next is usually near.
    mutable qsizetype FHint = 0;
};
