#pragma once

#include "ooxml/znClipboard.h"
#include "ooxml/znDrawingIndex.h"
#include "ooxml/znFallbackCopy.h"
#include "ooxml/znFramePaste.h"
#include "ooxml/znMediaRecode.h"
#include "ooxml/znPastedMedia.h"
#include "ooxml/znPictureCopy.h"
#include "ooxml/znPictureFacts.h"
#include "ooxml/znPictureScale.h"
#include "ooxml/znRelationLookup.h"
#include "ooxml/znRenderCache.h"
#include "ooxml/znStoryParts.h"
#include "package/znPackage.h"
#include "package/znPackageParts.h"
#include "package/znPartName.h"

#include <QList>
#include <QString>

#include <memory>
#include <optional>
#include <unordered_map>
#include <vector>
#include <pugixml.hpp>

// The word-processing document behind a server document: the package, its main part found
// through the package relationships, and the drawings of the main story. Only the parts the
// server changes are parsed; everything else stays bytes. The picture queries (facts, type,
// scale, density) are in znWordDocumentPictures.cpp.
class TznWordDocument
{
public:
    ~TznWordDocument();
    // Opens a .docx/.docm/.dotx/.dotm package; raises EznError naming the file for anything
    // that is no readable word-processing package (damaged, encrypted, legacy .doc, zip bomb).
    static std::unique_ptr<TznWordDocument> Open(const QString& path, const TznPackageLimits& limits = {});
    // A new empty document.
    static std::unique_ptr<TznWordDocument> CreateNew();

    const QString& FullName() const { return FFullName; }
    const TznPartName& MainPart() const { return FMainPart; }
    const TznPackage& Package() const { return *FPackage; }
    // A serial that tells documents of the process apart.
    quint64 Serial() const { return FSerial; }
    // True when the package holds a VBA project.
    bool HasVBProject() const;

    // Writes the document; fileFormat -1 writes the package's own format. Code 0 (the legacy
    // binary format) raises an error that names the file. With recode enabled the media get
    // the lossless pass first, in the calling thread.
    void SaveAs(const QString& path, int fileFormat = -1, const TznMediaRecodeOptions& recode = {});

    // Ids of the drawings of the main story in document order: inline ones, or top-level
    // anchored ones. An id stays valid while its drawing is in the document.
    QList<int> DrawingIds(bool anchored);
    bool IsAlive(int id);
    // The object-model type code of a drawing in the InlineShapes or the Shapes collection.
    int TypeOf(int id);
    // The shown size in percent of the natural size of the picture's visible part.
    double ScaleOf(int id, bool width);
    // Pixels per inch of the picture on the page: its visible pixels over its shown inches in
    // the lower of the two directions, and the lowest over every drawing of any story that
    // shows the same media part: one rendering serves them all, so the place that needs the
    // most pixels decides. Reads every story first.
    double EffectiveResolutionOf(int id);

    // The stories beyond the main text, read on first use: the notes, the comments, the
    // headers and footers the sections name (each part once), and every text box of any
    // story. Types are the object model's story codes (1 main text, 2 footnotes, 3 endnotes,
    // 4 comments, 5 text boxes, 6-11 headers and footers). A story is named by its root node,
    // which stays valid while the document is open; nullptr is the main text.
    struct TznStoryRef
    {
        int Type = 1;
        const void* Root = nullptr;
    };
    QList<TznStoryRef> Stories();
    // Ids of the drawings of one story, inline or anchored, in document order.
    QList<int> DrawingIdsIn(const void* story, bool anchored);
    // Everything a paste needs, with the picture rendered; raises when it cannot be rendered.
    // alsoPasteType: a paste type the caller is expected to paste with, rendered ahead too.
    std::shared_ptr<TznClipPicture> CopyPicture(int id, int resolution, int quality, int alsoPasteType = 13);
    // Removes the drawing (with its alternate content) and leaves the caret at its place.
    void Delete(int id);
    bool HasCaret() const { return bool(FCaret); }
    // Inserts the picture at the caret; returns its id. A picture copied from this document
    // comes back in its own recorded frame (floating stays floating), with only its picture
    // and, when baked into the new pixels, its crop changed; any other comes back inline.
    int Paste(const TznClipPicture& picture, int pasteType);

    // The drawing index of every story read so far, as Delete and Paste keep it.
    const TznDrawingIndex& DrawingIndex();

private:
    TznWordDocument();
    void LoadMain();
    void LoadStories();
    pugi::xml_document& XmlOf(int part);
    TznRelationships& RelsOf(int part);
    const TznPartName& PartNameOf(int part) const;
    bool& RelsChangedFlag(int part);
    // A relationship of a part by id, through the part's lookup.
    std::optional<TznRelationship> RelById(int part, const QString& id);
    // Writes the relationships added through the lookups into the parts' relationships.
    void FlushRels();
    // Adds a relationship to a part (in its lookup until FlushRels); returns its id.
    QString AddRel(int part, const QString& type, const QString& target, bool external);
    TznRelationships& MainRels();
    TznContentTypes& ContentTypes();
    // Builds the drawing index at the first use, and indexes the stories once they are read.
    void Collect();
    const TznDrawing& Drawing(int id);
    void Touch(int part);
    const TznPictureFacts& FactsOf(const TznDrawing& d);
    // The media part of a picture; raises when it has no embedded picture.
    TznPartName PictureTarget(const TznPictureFacts& facts, int part);
    // Visible pixels per shown inch of one drawing, the lower direction; 0 when unknown.
    double DensityOf(const TznDrawing& d);
    // Counts a drawing among the places of its media, when it shows one at a known density.
    void AddPlace(const TznDrawing& d);
    int FinishPaste(pugi::xml_node inserted);
    // The wp:docPr ids of every part read, kept up to date by Delete and Paste.
    TznDocPrIds& DocPrIds();
    QString NewMediaPart(const QByteArray& bytes, const QString& extension, const QString& contentType, int part);
    [[noreturn]] void Fail(const QString& reason) const;

    QString FFullName;
    quint64 FSerial = 0;
    std::unique_ptr<TznPackage> FPackage;
    TznPartName FMainPart;
    pugi::xml_document FMain;
    bool FMainLoaded = false;
    bool FMainChanged = false;
    std::unique_ptr<TznRelationships> FRels;
    std::unique_ptr<TznContentTypes> FTypes;
    bool FTypesChanged = false;
    bool FRelsChanged = false;
    QList<TznPartName> FRemovedTargets;   // media whose relationship went with a drawing

    // Built once; Delete and Paste keep it up to date.
    TznDrawingIndex FIndex;
    bool FCollected = false;
    TznDocPrIds FDocPrIds;
    pugi::xml_node FCaret;             // a marker node where the next paste goes
    int FCaretPart = 0;                // the part it is in
    const void* FCaretStory = nullptr; // the story it is in
    // The fallback copy of the drawing deleted at the caret.
    TznFallbackCopy FCaretFallback;
    // The story parts and their stories, once LoadStories ran.
    bool FStoriesLoaded = false;
    TznStoryParts FParts;  // [0] is a placeholder for the main part
    QList<TznStory> FPartStories;
    TznPictureScale FScale;
    // The facts of each drawing by id, read at the first ask.
    std::unordered_map<int, TznPictureFacts> FFacts;
    TznRenderCache FRenderings;
    TznPastedMedia FPastedMedia;
    // By part index; forgotten when a save rewrites relationships.
    std::unordered_map<int, TznRelationLookup> FRelLookups;
};
