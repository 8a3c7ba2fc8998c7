#include "ooxml/znWordDocument.h"
#include "znTestDocx.h"
#include "znTestRows.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <map>
#include <tuple>
#include <vector>

// The drawing index Delete and Paste keep up to date must be what a new walk of the same
// document finds, with the ids of the drawings still there unchanged.

namespace {

TznTestPicture picture(int width, bool anchored = false)
{
    TznTestPicture p;
    p.Bytes = MakeTestImage({width, width * 3 / 4, QStringLiteral("jpeg"), 96});
    p.Extension = QStringLiteral("jpeg");
    p.Anchored = anchored;
    return p;
}

// Drawings in the body (inline, anchored, VML, alternate content), in a header and a
// footnote, in a text box, and in a text box whose fallback repeats its picture.
QString buildDocument(const QString& dir)
{
    TznDocxBuilder b;
    b.Paragraph(QStringLiteral("Drawings in every story."));
    b.Picture(picture(800));
    b.Picture(picture(700, true));
    TznTestPicture vml = picture(600);
    vml.Vml = true;
    b.Picture(vml);
    TznTestPicture alternate = picture(500);
    alternate.AlternateContent = true;
    b.Picture(alternate);
    b.StoryPicture(QStringLiteral("header"), QStringLiteral("default"), picture(640));
    b.StoryPicture(QStringLiteral("footnotes"), QString(), picture(560));
    const QString inBox = b.PictureRun(picture(720)) + b.PictureRun(picture(480));
    b.Body(QStringLiteral("<w:p>%1</w:p>").arg(TznDocxBuilder::TextBoxRun(QStringLiteral("<w:p>%1</w:p>").arg(inBox))));
    const QString run = b.PictureRun(picture(900));
    b.Body(QStringLiteral("<w:p>%1</w:p>").arg(
        TznDocxBuilder::AlternateTextBoxRun(QStringLiteral("<w:p>%1</w:p>").arg(run), QStringLiteral("<w:p>%1</w:p>").arg(run))));
    b.Picture(picture(820));
    const QString file = dir + QStringLiteral("/drawings.docx");
    return b.Save(file) ? file : QString();
}

// What a drawing is, by its nodes: the same in two indexes of one document.
using TznPlace = std::tuple<const void*, const void*, const void*, int, bool>;

std::vector<TznPlace> placesIn(const TznDrawingIndex& index, const void* story, bool anchored)
{
    std::vector<TznPlace> places;
    for (int id : index.IdsIn(story, anchored)) {
        const TznDrawing* d = index.Find(id);
        if (!d) {
            ADD_FAILURE() << "listed id " << id << " has no drawing";
            continue;
        }
        places.emplace_back(d->Unit.internal_object(), d->Frame.internal_object(), d->Vml.internal_object(), d->Part, d->Anchored);
    }
    return places;
}

void expectSameAsNewWalk(const TznDrawingIndex& kept, const char* step)
{
    const TznDrawingIndex fresh = kept.Recollected();
    ASSERT_EQ(kept.Stories().size(), fresh.Stories().size()) << step;
    std::vector<const void*> stories{nullptr};
    for (qsizetype i = 0; i < kept.Stories().size(); ++i) {
        EXPECT_EQ(kept.Stories()[i].Type, fresh.Stories()[i].Type) << step;
        EXPECT_EQ(kept.Stories()[i].Part, fresh.Stories()[i].Part) << step;
        EXPECT_EQ(kept.Stories()[i].Root, fresh.Stories()[i].Root) << step;
        stories.push_back(kept.Stories()[i].Root.internal_object());
    }
    for (const void* story : stories)
        for (bool anchored : {false, true})
            EXPECT_EQ(placesIn(kept, story, anchored), placesIn(fresh, story, anchored)) << step << ", anchored " << anchored;
    EXPECT_EQ(kept.All().size(), fresh.All().size()) << step;
}

std::map<int, const void*> unitsById(const TznDrawingIndex& index)
{
    std::map<int, const void*> units;
    for (const auto& [id, d] : index.All())
        units.emplace(id, d.Unit.internal_object());
    return units;
}

enum class EznStep { Replace, Delete, PasteCopy, PasteForeign, ReadStories };

struct TznStep
{
    EznStep Op;
    int Story = 0;       // index into Stories(): 0 is the main text
    bool Anchored = false;
    int Item = -1;       // index in the story's list; negative counts from its end
};

struct TznSequenceRow
{
    const char* name;
    std::vector<TznStep> steps;
};

class DrawingIndexTest : public testing::TestWithParam<TznSequenceRow>
{
};

TEST_P(DrawingIndexTest, DeleteAndPasteKeepWhatANewWalkFinds)
{
    QTemporaryDir dir;
    const QString file = buildDocument(dir.path());
    ASSERT_FALSE(file.isEmpty());
    std::unique_ptr<TznWordDocument> doc = TznWordDocument::Open(file);
    // A picture copied from another document comes back inline, through no recorded frame.
    TznDocxBuilder other;
    other.Picture(picture(400));
    ASSERT_TRUE(other.Save(dir.path() + QStringLiteral("/other.docx")));
    std::unique_ptr<TznWordDocument> source = TznWordDocument::Open(dir.path() + QStringLiteral("/other.docx"));
    const std::shared_ptr<TznClipPicture> foreign = source->CopyPicture(source->DrawingIds(false).value(0), 96, 80);

    std::shared_ptr<TznClipPicture> copied;
    int step = 0;
    for (const TznStep& s : GetParam().steps) {
        const std::string at = "step " + std::to_string(++step);
        const std::map<int, const void*> before = unitsById(doc->DrawingIndex());
        const int highest = before.empty() ? 0 : before.rbegin()->first;
        int touched = 0;
        if (s.Op == EznStep::ReadStories) {
            doc->Stories();
        } else if (s.Op == EznStep::PasteForeign) {
            touched = doc->Paste(*foreign, 13);
        } else if (s.Op == EznStep::PasteCopy) {
            ASSERT_TRUE(copied) << at;
            touched = doc->Paste(*copied, 13);
        } else {
            const auto stories = doc->Stories();
            ASSERT_LT(s.Story, stories.size()) << at;
            const QList<int> ids = doc->DrawingIdsIn(stories[s.Story].Root, s.Anchored);
            const int item = s.Item < 0 ? int(ids.size()) + s.Item : s.Item;
            ASSERT_TRUE(item >= 0 && item < ids.size()) << at;
            const int id = ids[item];
            if (s.Op == EznStep::Replace)
                copied = doc->CopyPicture(id, 96, 80);
            doc->Delete(id);
            EXPECT_FALSE(doc->IsAlive(id)) << at;
            if (s.Op == EznStep::Replace) {
                touched = doc->Paste(*copied, 13);
                // The new drawing takes the place of the old one in its list.
                EXPECT_EQ(doc->DrawingIdsIn(stories[s.Story].Root, s.Anchored).value(item), touched) << at;
            }
        }
        const TznDrawingIndex& kept = doc->DrawingIndex();
        expectSameAsNewWalk(kept, at.c_str());
        // Ids of drawings still there name the same drawing; a pasted one gets a new id.
        for (const auto& [id, unit] : unitsById(kept)) {
            if (before.count(id))
                EXPECT_EQ(before.at(id), unit) << at << ", id " << id;
            else
                EXPECT_GT(id, highest) << at;
        }
        if (s.Op == EznStep::Replace || s.Op == EznStep::PasteCopy || s.Op == EznStep::PasteForeign) {
            EXPECT_GT(touched, highest) << at;
            EXPECT_TRUE(doc->IsAlive(touched)) << at;
        }
    }
    // What was kept is also what the saved document gives when opened again.
    const QString saved = dir.path() + QStringLiteral("/saved.docx");
    doc->SaveAs(saved);
    expectSameAsNewWalk(doc->DrawingIndex(), "after saving");
    std::unique_ptr<TznWordDocument> reopened = TznWordDocument::Open(saved);
    const auto stories = doc->Stories(), again = reopened->Stories();
    ASSERT_EQ(stories.size(), again.size());
    for (qsizetype i = 0; i < stories.size(); ++i)
        for (bool anchored : {false, true})
            EXPECT_EQ(doc->DrawingIdsIn(stories[i].Root, anchored).size(), reopened->DrawingIdsIn(again[i].Root, anchored).size())
                << "story " << i;
}

// Stories: 0 main text, 1 header, 2 footnotes, 3 the text box, 4 the text box with a fallback.
INSTANTIATE_TEST_SUITE_P(
    Sequences, DrawingIndexTest,
    testing::Values(
        // The converter's way: every picture from the last down, each copied, deleted and pasted.
        TznSequenceRow{"ConverterPassOverEveryStory",
                       {{EznStep::ReadStories},
                        {EznStep::Replace, 0, false, -1}, {EznStep::Replace, 0, false, 2}, {EznStep::Replace, 0, false, 1},
                        {EznStep::Replace, 0, false, 0}, {EznStep::Replace, 0, true, 0}, {EznStep::Replace, 1, false, 0},
                        {EznStep::Replace, 2, false, 0}, {EznStep::Replace, 3, false, -1}, {EznStep::Replace, 3, false, 0},
                        {EznStep::Replace, 4, false, 0}, {EznStep::Replace, 0, false, -1}}},
        // Deleting the drawing that holds a text box takes the box and its pictures along.
        TznSequenceRow{"TextBoxesGoWithTheirDrawing",
                       {{EznStep::ReadStories}, {EznStep::Delete, 0, true, 1}, {EznStep::Delete, 0, true, 1},
                        {EznStep::Replace, 0, false, 0}}},
        // Two deletes move the caret; the paste lands at the second place; one from another
        // document comes back inline where an anchored one was.
        TznSequenceRow{"CaretMovesAndForeignPastes",
                       {{EznStep::Replace, 0, false, 1}, {EznStep::Delete, 0, false, 0}, {EznStep::Delete, 0, false, -1},
                        {EznStep::PasteCopy}, {EznStep::PasteForeign}, {EznStep::ReadStories}, {EznStep::Delete, 0, true, 0},
                        {EznStep::PasteForeign}, {EznStep::Replace, 1, false, 0}, {EznStep::Replace, 3, false, 1}}},
        // Pastes with no caret go to the start of the main text, stories read or not.
        TznSequenceRow{"PastesAtTheStart",
                       {{EznStep::PasteForeign}, {EznStep::PasteForeign}, {EznStep::ReadStories}, {EznStep::Replace, 2, false, 0},
                        {EznStep::PasteForeign}}}),
    RowName());

} // namespace
