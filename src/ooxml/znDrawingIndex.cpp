#include "ooxml/znDrawingIndex.h"

#include "ooxml/znDrawingXml.h"
#include "package/znXml.h"

#include <QSet>

#include <algorithm>
#include <cmath>
#include <cstring>

using namespace ZnDrawingXml;

namespace {

// The index of id in ids, searched outward from hint: a document is compacted drawing by
// drawing, so the next one looked up is next to the last. -1 when it is not there.
qsizetype indexNear(const QList<int>& ids, int id, qsizetype hint)
{
    const qsizetype n = ids.size();
    hint = std::clamp<qsizetype>(hint, 0, std::max<qsizetype>(n - 1, 0));
    for (qsizetype step = 0; hint - step >= 0 || hint + step < n; ++step) {
        if (hint + step < n && ids[hint + step] == id)
            return hint + step;
        if (step > 0 && hint - step >= 0 && ids[hint - step] == id)
            return hint - step;
    }
    return -1;
}

// The first w:drawing below node outside text boxes (those are stories of their own).
pugi::xml_node findDrawing(pugi::xml_node node)
{
    for (pugi::xml_node child = node.first_child(); child; child = child.next_sibling()) {
        if (child.type() != pugi::node_element)
            continue;
        if (IsElement(child, ZnNs::W, "drawing"))
            return child;
        if (IsElement(child, ZnNs::W, "txbxContent"))
            continue;
        if (pugi::xml_node found = findDrawing(child))
            return found;
    }
    return pugi::xml_node();
}

// Visits node and the elements below it in document order, without recursion.
template <typename F>
void visitSubtree(pugi::xml_node root, F&& visit)
{
    pugi::xml_node node = root;
    while (node) {
        if (node.type() == pugi::node_element)
            visit(node);
        if (node.first_child()) {
            node = node.first_child();
            continue;
        }
        while (node != root && !node.next_sibling())
            node = node.parent();
        if (node == root)
            return;
        node = node.next_sibling();
    }
}

} // namespace

namespace ZnVml {

QHash<QString, QString> Style(const QString& style)
{
    QHash<QString, QString> out;
    for (const QString& item : style.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        const int colon = item.indexOf(QLatin1Char(':'));
        if (colon > 0)
            out.insert(item.left(colon).trimmed().toLower(), item.mid(colon + 1).trimmed());
    }
    return out;
}

qint64 LengthEmu(const QString& length)
{
    struct TznUnit { const char* Suffix; double Emu; };
    static const TznUnit units[] = {{"pt", 12700}, {"in", 914400}, {"cm", 360000}, {"mm", 36000}, {"pc", 152400}, {"px", 9525}, {"emu", 1}};
    const QString t = length.trimmed().toLower();
    for (const TznUnit& u : units)
        if (t.endsWith(QLatin1String(u.Suffix)))
            return qint64(std::llround(t.chopped(int(std::strlen(u.Suffix))).toDouble() * u.Emu));
    return qint64(std::llround(t.toDouble() * 9525));
}

double Fraction(const QString& value)
{
    const QString t = value.trimmed();
    if (t.isEmpty())
        return 0;
    if (t.endsWith(QLatin1Char('f'), Qt::CaseInsensitive))
        return t.chopped(1).toDouble() / 65536.0;
    return t.toDouble();
}

} // namespace ZnVml

void TznDrawingIndex::Collect(pugi::xml_node body)
{
    FBody = body;
    FPartStories.clear();
    FStories.clear();
    FHasStories = false;
    FDrawings.clear();
    FIdOfUnit.clear();
    FOrder.clear();
    IndexStory(body, 0, nullptr);
}

void TznDrawingIndex::AddStories(const QList<TznStory>& stories)
{
    FPartStories = stories;
    FHasStories = true;
    FStories = stories + AllTextBoxes();
    for (const TznStory& s : FStories)
        IndexStory(s.Root, s.Part, s.Root.internal_object());
}

QList<TznStory> TznDrawingIndex::AllTextBoxes() const
{
    QList<TznStory> boxes;
    FindTextBoxes(FBody, 0, boxes);
    for (const TznStory& s : FPartStories)
        FindTextBoxes(s.Root, s.Part, boxes);
    return boxes;
}

void TznDrawingIndex::FindTextBoxes(pugi::xml_node node, int part, QList<TznStory>& out) const
{
    for (pugi::xml_node child = node.first_child(); child; child = child.next_sibling()) {
        if (child.type() != pugi::node_element)
            continue;
        if (IsElement(child, ZnNs::W, "txbxContent")) {
            out.append({5, part, child});
            FindTextBoxes(child, part, out);
        } else if (!IsElement(child, ZnNs::MC, "Fallback")) {
            // The fallback repeats the choice's text box for older readers.
            FindTextBoxes(child, part, out);
        }
    }
}

void TznDrawingIndex::IndexStory(pugi::xml_node root, int part, const void* story)
{
    std::vector<TznDrawing> found;
    Walk(root, found);
    TznOrder& order = FOrder[story];
    for (TznDrawing& d : found) {
        d.Id = FNextId++;
        d.Part = part;
        d.Story = story;
        FIdOfUnit.insert(d.Unit.internal_object(), d.Id);
        order.Ids[d.Anchored].append(d.Id);
        FDrawings.emplace(d.Id, d);
    }
}

void TznDrawingIndex::Walk(pugi::xml_node node, std::vector<TznDrawing>& out) const
{
    for (pugi::xml_node child = node.first_child(); child; child = child.next_sibling())
        WalkOne(child, out);
}

void TznDrawingIndex::WalkOne(pugi::xml_node child, std::vector<TznDrawing>& out) const
{
    if (child.type() != pugi::node_element)
        return;
    if (IsElement(child, ZnNs::W, "drawing")) {
        AddDrawing(child, child, out);
    } else if (IsElement(child, ZnNs::W, "object")) {
        AddDrawing(child, pugi::xml_node(), out);
    } else if (IsElement(child, ZnNs::W, "pict")) {
        AddVmlPicture(child, out);
    } else if (IsElement(child, ZnNs::W, "txbxContent")) {
        // text boxes are stories of their own
    } else if (IsElement(child, ZnNs::MC, "AlternateContent")) {
        // The choice and its fallback show one drawing: the whole alternate content is the shape.
        pugi::xml_node choice = ChildElement(child, ZnNs::MC, "Choice");
        if (pugi::xml_node drawing = findDrawing(choice))
            AddDrawing(child, drawing, out);
        else if (choice)
            Walk(choice, out);
    } else {
        Walk(child, out);
    }
}

void TznDrawingIndex::AddDrawing(pugi::xml_node unit, pugi::xml_node drawing, std::vector<TznDrawing>& out) const
{
    TznDrawing d;
    d.Unit = unit;
    if (drawing) {
        for (pugi::xml_node c = drawing.first_child(); c; c = c.next_sibling()) {
            if (IsElement(c, ZnNs::WP, "inline")) { d.Frame = c; break; }
            if (IsElement(c, ZnNs::WP, "anchor")) { d.Frame = c; d.Anchored = true; break; }
        }
        if (!d.Frame)
            return;
    }
    out.push_back(d);
}

void TznDrawingIndex::AddVmlPicture(pugi::xml_node pict, std::vector<TznDrawing>& out) const
{
    // Only a plain picture: a v:shape holding v:imagedata, no text box, no OLE object.
    for (pugi::xml_node shape = pict.first_child(); shape; shape = shape.next_sibling()) {
        if (shape.type() != pugi::node_element || std::strcmp(LocalName(shape), "shape") != 0)
            continue;
        if (!ChildElement(shape, kUriVml, "imagedata") || hasDescendant(shape, "textbox"))
            return;
        TznDrawing d;
        d.Unit = pict;
        d.Vml = shape;
        d.Anchored = ZnVml::Style(text(shape.attribute("style"))).value(QStringLiteral("position")) == QLatin1String("absolute");
        out.push_back(d);
        return;
    }
}

QList<int> TznDrawingIndex::IdsIn(const void* story, bool anchored) const
{
    const auto it = FOrder.find(story);
    return it == FOrder.end() ? QList<int>() : it->second.Ids[anchored];
}

const TznDrawing* TznDrawingIndex::Find(int id) const
{
    const auto it = FDrawings.find(id);
    return it == FDrawings.end() ? nullptr : &it->second;
}

int TznDrawingIndex::IdOfUnit(pugi::xml_node unit) const
{
    return FIdOfUnit.value(unit.internal_object(), 0);
}

pugi::xml_node TznDrawingIndex::RootOf(const void* story) const
{
    return story ? pugi::xml_node(static_cast<pugi::xml_node_struct*>(const_cast<void*>(story))) : FBody;
}

void TznDrawingIndex::Forget(int id)
{
    const auto it = FDrawings.find(id);
    if (it == FDrawings.end())
        return;
    QList<int>& ids = FOrder[it->second.Story].Ids[it->second.Anchored];
    if (const qsizetype at = indexNear(ids, id, FHint); at >= 0) {
        ids.removeAt(at);
        FHint = at;
    }
    FIdOfUnit.remove(it->second.Unit.internal_object());
    FDrawings.erase(it);
}

std::vector<int> TznDrawingIndex::Remove(int id)
{
    const TznDrawing* found = Find(id);
    if (!found)
        return {};
    const pugi::xml_node unit = found->Unit;
    std::vector<int> gone{id};
    Forget(id);
    if (!FHasStories)
        return gone;
    // Text boxes inside the drawing go with it, and so do their own drawings.
    QSet<const void*> boxes;
    visitSubtree(unit, [&](pugi::xml_node e) {
        if (IsElement(e, ZnNs::W, "txbxContent"))
            boxes.insert(e.internal_object());
    });
    if (boxes.isEmpty())
        return gone;
    for (qsizetype i = FStories.size() - 1; i >= 0; --i) {
        const void* root = FStories[i].Root.internal_object();
        if (FStories[i].Type != 5 || !boxes.contains(root))
            continue;
        if (const auto order = FOrder.find(root); order != FOrder.end()) {
            for (const QList<int>& ids : order->second.Ids)
                for (int other : ids) {
                    FIdOfUnit.remove(FDrawings.at(other).Unit.internal_object());
                    FDrawings.erase(other);
                    gone.push_back(other);
                }
            FOrder.erase(order);
        }
        FStories.removeAt(i);
    }
    return gone;
}

TznIndexChange TznDrawingIndex::Insert(pugi::xml_node inserted, int part, const void* story)
{
    TznIndexChange change;
    const pugi::xml_node storyRoot = RootOf(story);
    // An alternate content whose choice showed no drawing shows the first one that comes in:
    // the outermost such around the new element is indexed again as a whole.
    pugi::xml_node place = inserted;
    for (pugi::xml_node n = inserted.parent(); n && n != storyRoot && !IsElement(n, ZnNs::W, "txbxContent"); n = n.parent())
        if (IsElement(n, ZnNs::MC, "Choice") && IsElement(n.parent(), ZnNs::MC, "AlternateContent"))
            place = n.parent();
    QHash<const void*, int> reused;
    if (place != inserted) {
        visitSubtree(place, [&](pugi::xml_node e) {
            const int id = IdOfUnit(e);
            if (id && FDrawings.at(id).Story == story)
                reused.insert(e.internal_object(), id);
        });
        for (int id : reused) {
            Forget(id);
            change.Gone.push_back(id);
        }
    }
    std::vector<TznDrawing> found;
    WalkOne(place, found);
    for (TznDrawing& d : found) {
        d.Part = part;
        d.Story = story;
    }
    change.Added = File(found, place, storyRoot, reused);
    if (FHasStories) {
        bool holdsTextBox = false;
        visitSubtree(place, [&](pugi::xml_node e) { holdsTextBox = holdsTextBox || IsElement(e, ZnNs::W, "txbxContent"); });
        if (holdsTextBox) {
            // Rare (a picture holds no text box): the text boxes are found anew, and the new
            // ones indexed in story order, as a new Collect would number them.
            QSet<const void*> known;
            for (const TznStory& s : FStories)
                known.insert(s.Root.internal_object());
            const QList<TznStory> boxes = AllTextBoxes();
            FStories = FPartStories + boxes;
            for (const TznStory& s : boxes) {
                if (known.contains(s.Root.internal_object()))
                    continue;
                const int first = FNextId;
                IndexStory(s.Root, s.Part, s.Root.internal_object());
                for (int id = first; id < FNextId; ++id)
                    change.Added.push_back(id);
            }
        }
    }
    return change;
}

std::vector<int> TznDrawingIndex::File(std::vector<TznDrawing>& found, pugi::xml_node place, pugi::xml_node storyRoot,
                                       const QHash<const void*, int>& reused)
{
    std::vector<int> ids;
    qsizetype position[2] = {-1, -1};
    for (TznDrawing& d : found) {
        d.Id = reused.value(d.Unit.internal_object(), 0);
        if (!d.Id)
            d.Id = FNextId++;
        if (position[d.Anchored] < 0)
            position[d.Anchored] = PositionOf(place, storyRoot, d.Story, d.Anchored);
        FOrder[d.Story].Ids[d.Anchored].insert(position[d.Anchored]++, d.Id);
        FIdOfUnit.insert(d.Unit.internal_object(), d.Id);
        FDrawings.emplace(d.Id, d);
        ids.push_back(d.Id);
    }
    return ids;
}

qsizetype TznDrawingIndex::PositionOf(pugi::xml_node node, pugi::xml_node storyRoot, const void* story, bool anchored) const
{
    // Back through the story in document order to the nearest drawing of the same kind: the
    // one before the new place is normally a paragraph or two away.
    const auto order = FOrder.find(story);
    if (order == FOrder.end())
        return 0;
    pugi::xml_node n = node;
    for (;;) {
        if (pugi::xml_node previous = n.previous_sibling()) {
            n = previous;
            while (n.last_child())
                n = n.last_child();
        } else {
            n = n.parent();
            if (!n || n == storyRoot)
                return 0;
        }
        if (n.type() != pugi::node_element)
            continue;
        const auto it = FIdOfUnit.constFind(n.internal_object());
        if (it == FIdOfUnit.constEnd())
            continue;
        const TznDrawing& d = FDrawings.at(*it);
        if (d.Story == story && d.Anchored == anchored) {
            FHint = indexNear(order->second.Ids[anchored], *it, FHint) + 1;
            return FHint;
        }
    }
}

TznDrawingIndex TznDrawingIndex::Recollected() const
{
    TznDrawingIndex fresh;
    fresh.Collect(FBody);
    if (FHasStories)
        fresh.AddStories(FPartStories);
    return fresh;
}
