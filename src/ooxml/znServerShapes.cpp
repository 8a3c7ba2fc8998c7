// The drawings of an open document as the automation objects show them: a shape, the
// collections of shapes, and the stories that hold them.
#include "ooxml/znAutoObject.h"
#include "ooxml/znServerState.h"

#include <QSet>

#include <utility>

namespace {

QString noSuchItem() { return QStringLiteral("The requested member of the collection does not exist."); }

class TznOxShape : public TznAutoTable<TznOxShape>
{
public:
    TznOxShape(TznState state, std::shared_ptr<TznDocEntry> doc, int id) : FState(std::move(state)), FDoc(std::move(doc)), FId(id) {}

    static std::span<const Member> Members()
    {
        static const Member members[] = {
            Get("Type", [](auto& s, auto&) { return s.model().TypeOf(s.FId); }),
            Get("ScaleWidth", [](auto& s, auto&) { return s.model().ScaleOf(s.FId, true); }),
            Get("ScaleHeight", [](auto& s, auto&) { return s.scaleHeight(); }),
            Method("Select", 0, 1, [](auto& s, auto&) { s.select(); }),
            Method("Delete", 0, 0, [](auto& s, auto&) { s.remove(); }),
            Get("EffectiveResolution", [](auto& s, auto&) { return s.effectiveResolution(); }),
        };
        return members;
    }

protected:
    void Enter() override { ModelOf(FDoc); }

private:
    TznWordDocument& model() const { return ModelOf(FDoc); }

    double scaleHeight()
    {
        const double scale = model().ScaleOf(FId, false);
        if (scale < 100 && shownBelowSizeAcross())
            prepare();
        return scale;
    }
    // Pixels per inch of the picture on the page, the lowest over every place that shows
    // its media.
    double effectiveResolution()
    {
        const double density = model().EffectiveResolutionOf(FId);
        // A caller re-inserts a picture well above the resolution; one
        // barely above would gain too little to be worth rendering ahead.
        if (density > FState->Resolution * 1.1)
            prepare();
        return density;
    }
    void select()
    {
        if (!model().IsAlive(FId))
            throw EznError(QStringLiteral("Object has been deleted."));
        FState->SelectionDocument = FDoc;
        FState->SelectionShape = FId;
    }
    void remove()
    {
        model().Delete(FId);
        if (FState->PreparedShape == FId && FState->PreparedDocument.lock() == FDoc)
            FState->DropPrepared();
        // The selection stays at the place the shape had.
        if (FState->SelectionDocument.lock() == FDoc || FState->SelectionShape == FId) {
            FState->SelectionDocument = FDoc;
            FState->SelectionShape = 0;
        }
    }
    bool shownBelowSizeAcross()
    {
        try {
            return model().ScaleOf(FId, true) < 100;
        } catch (...) {
            return false;
        }
    }
    void prepare()
    {
        if (FState->PreparedShape == FId && FState->PreparedDocument.lock() == FDoc
            && FState->PreparedResolution == FState->Resolution && FState->PreparedQuality == FState->Quality)
            return;
        FState->DropPrepared();
        FState->PreparedDocument = FDoc;
        FState->PreparedShape = FId;
        FState->PreparedResolution = FState->Resolution;
        FState->PreparedQuality = FState->Quality;
        try {
            FState->Prepared = model().CopyPicture(FId, FState->Resolution, FState->Quality, FState->LastPasteType);
        } catch (...) {
            FState->PreparedError = std::current_exception();
        }
    }

    TznState FState;
    std::shared_ptr<TznDocEntry> FDoc;
    int FId;
};

class TznOxShapes : public TznAutoTable<TznOxShapes>
{
public:
    // story: the root of a story of the document; nullptr is the main text.
    TznOxShapes(TznState state, std::shared_ptr<TznDocEntry> doc, bool anchored, const void* story = nullptr)
        : FState(std::move(state)), FDoc(std::move(doc)), FAnchored(anchored), FStory(story) {}

    static std::span<const Member> Members()
    {
        static const Member members[] = {
            Get("Count", [](auto& s, auto&) { return int(s.FIds.size()); }),
            Method("Item", 1, 1, [](auto& s, auto& call) { return s.item(call.Args[0].ToInt()); }),
        };
        return members;
    }

protected:
    // The collection is live: each call finds the drawings as they are now.
    void Enter() override { FIds = ModelOf(FDoc).DrawingIdsIn(FStory, FAnchored); }

private:
    TznVariant item(int index) const
    {
        if (index < 1 || index > FIds.size())
            throw EznError(noSuchItem());
        return TznVariant(std::make_shared<TznOxShape>(FState, FDoc, FIds[index - 1]));
    }

    TznState FState;
    std::shared_ptr<TznDocEntry> FDoc;
    bool FAnchored;
    const void* FStory;
    QList<int> FIds;
};

// One story of a document: its own inline and floating collections, and the next story of
// the same type (the next section's header, the next text box).
class TznOxRange : public TznAutoTable<TznOxRange>
{
public:
    TznOxRange(TznState state, std::shared_ptr<TznDocEntry> doc, int type, const void* story)
        : FState(std::move(state)), FDoc(std::move(doc)), FType(type), FStory(story) {}

    static std::span<const Member> Members()
    {
        static const Member members[] = {
            Get("StoryType", [](auto& s, auto&) { return s.FType; }),
            Get("InlineShapes", [](auto& s, auto&) { return s.shapes(false); }),
            Get("ShapeRange", [](auto& s, auto&) { return s.shapes(true); }),
            Get("NextStoryRange", [](auto& s, auto&) { return s.nextStoryRange(); }),
        };
        return members;
    }

private:
    TznVariant shapes(bool anchored) const { return TznVariant(std::make_shared<TznOxShapes>(FState, FDoc, anchored, FStory)); }
    TznVariant nextStoryRange() const
    {
        bool past = false;
        for (const auto& story : ModelOf(FDoc).Stories()) {
            if (past && story.Type == FType)
                return TznVariant(std::make_shared<TznOxRange>(FState, FDoc, story.Type, story.Root));
            past = past || story.Root == FStory;
        }
        // Nothing: the last story of its type.
        return TznVariant(std::shared_ptr<IznDispatch>());
    }

    TznState FState;
    std::shared_ptr<TznDocEntry> FDoc;
    int FType;
    const void* FStory;
};

// The stories of a document by type: Item(type) is the first story of that type.
class TznOxStoryRanges : public TznAutoTable<TznOxStoryRanges>
{
public:
    TznOxStoryRanges(TznState state, std::shared_ptr<TznDocEntry> doc) : FState(std::move(state)), FDoc(std::move(doc)) {}

    static std::span<const Member> Members()
    {
        static const Member members[] = {
            Get("Count", [](auto& s, auto&) { return s.count(); }),
            Method("Item", 1, 1, [](auto& s, auto& call) { return s.item(call.Args[0].ToInt()); }),
        };
        return members;
    }

protected:
    void Enter() override { FStories = ModelOf(FDoc).Stories(); }

private:
    int count() const
    {
        QSet<int> types;
        for (const auto& story : FStories)
            types.insert(story.Type);
        return int(types.size());
    }
    TznVariant item(int type) const
    {
        for (const auto& story : FStories)
            if (story.Type == type)
                return TznVariant(std::make_shared<TznOxRange>(FState, FDoc, story.Type, story.Root));
        throw EznError(noSuchItem());
    }

    TznState FState;
    std::shared_ptr<TznDocEntry> FDoc;
    decltype(std::declval<TznWordDocument&>().Stories()) FStories;
};

} // namespace

TznVariant NewOxShapes(TznState state, std::shared_ptr<TznDocEntry> doc, bool anchored)
{
    return TznVariant(std::make_shared<TznOxShapes>(std::move(state), std::move(doc), anchored));
}

TznVariant NewOxStoryRanges(TznState state, std::shared_ptr<TznDocEntry> doc)
{
    return TznVariant(std::make_shared<TznOxStoryRanges>(std::move(state), std::move(doc)));
}
