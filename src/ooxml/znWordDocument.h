#pragma once

#include "ooxml/znClipboard.h"
#include "ooxml/znMediaRecode.h"
#include "package/znPackage.h"
#include "package/znPackageParts.h"
#include "package/znPartName.h"

#include <QHash>
#include <QList>
#include <QSet>
#include <QString>

#include <exception>
#include <memory>
#include <optional>
#include <vector>
#include <pugixml.hpp>

// The word-processing document behind a server document: the package, its main part found
// through the package relationships, and the drawings of the main story. Only the parts the
// server changes are parsed; everything else stays bytes.
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
    // shows the same media part, divided by the square root of the number of those places
    // (each gets a copy of its own when they are re-inserted). Reads every story first.
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

private:
    struct TznDrawing
    {
        int Id = 0;
        int Part = 0;          // index into FParts: 0 is the main part
        const void* Story = nullptr;  // root of its story; nullptr for the main text
        pugi::xml_node Unit;   // what Delete removes: w:drawing, mc:AlternateContent or w:object
        pugi::xml_node Frame;  // wp:inline / wp:anchor; empty for w:object
        bool Anchored = false;
        pugi::xml_node Vml;    // the v:shape of a VML picture (Unit is its w:pict)
    };
    // What the members need to know of a picture drawing, DrawingML or VML alike.
    struct TznPictureFacts
    {
        bool IsPicture = false, Linked = false, Vector = false, Tiled = false;
        QString RelId;             // the embedded picture's relationship
        double Crop[4] = {0, 0, 0, 0};  // l, t, r, b fractions
        QString SrcRect[4];        // the a:srcRect attributes as written
        qint64 Cx = 0, Cy = 0;     // shown size in EMU
        QString Name, Descr, Title, HyperlinkRelId, HyperlinkTooltip, Rot, FlipH, FlipV;
        // The frame's spacing as written (distT/distB/distL/distR attributes and
        // the wp:effectExtent element), so that a paste lays out as the original.
        QString FrameDist, EffectExtent;
    };

    // A part that holds stories (a header, a footer, the notes, the comments), with its own
    // relationships. The main part is index 0 and lives in FMain and FRels.
    struct TznStoryPart
    {
        TznPartName Name;
        pugi::xml_document Xml;
        std::unique_ptr<TznRelationships> Rels;
        bool Changed = false, RelsChanged = false;
    };
    struct TznStory
    {
        int Type = 1;
        int Part = 0;
        pugi::xml_node Root;
    };

    TznWordDocument();
    void LoadMain();
    void LoadStories();
    void FindTextFrames(pugi::xml_node node, int part);
    pugi::xml_document& XmlOf(int part);
    TznRelationships& RelsOf(int part);
    const TznPartName& PartNameOf(int part) const;
    void RelsChangedIn(int part);
    TznRelationships& MainRels();
    TznContentTypes& ContentTypes();
    const TznDrawing& Drawing(int id);
    void Collect();
    void Walk(pugi::xml_node node);
    void AddDrawing(pugi::xml_node unit, pugi::xml_node drawing);
    void Touch(int part = 0);
    TznPictureFacts FactsOf(const TznDrawing& d);
    // The media part of a picture; raises when it has no embedded picture.
    TznPartName PictureTarget(const TznPictureFacts& facts, int part);
    // Visible pixels per shown inch of one drawing, the lower direction; 0 when unknown.
    double DensityOf(const TznDrawing& d);
    void AddVmlPicture(pugi::xml_node pict);
    static QHash<QString, QString> VmlStyle(const QString& style);
    static qint64 VmlLengthEmu(const QString& length);
    static double VmlFraction(const QString& value);
    void RecordFrameOf(const TznDrawing& d, const TznPartName& picturePart, TznClipPicture& clip);
    // An empty node when the frame cannot be pasted here.
    pugi::xml_node PasteRecordedFrame(const TznClipPicture& picture, const QString& relId, bool useNew);
    int FinishPaste(pugi::xml_node inserted);
    // The picture reference (a:blip or v:imagedata) in a text box's fallback copy that shows
    // what the drawing shows in the choice's text box: the same relationship at the same
    // place among the box's pictures, at the same size and crop, in the corresponding box.
    // Empty when there is no such copy or the match is not certain.
    pugi::xml_node FallbackPictureOf(const TznDrawing& d, const TznPictureFacts& f);
    // The shown size and crop of a picture reference; false when it is no picture's.
    bool ShapeOfReference(pugi::xml_node reference, qint64& cx, qint64& cy, double crop[4]);
    // Points the fallback copy of the deleted drawing at what was pasted in its place.
    void FollowInFallback(const TznClipPicture& picture, const QString& relId, bool cropBaked);
    // The wp:docPr ids of the main part, kept up to date by Delete and Paste.
    QSet<int>& DocPrIds();
    QString NewMediaPart(const QByteArray& bytes, const QString& extension, const QString& contentType, int part);
    // The rendering of a media part for a request, made once per document and reused.
    TznRendered CachedRendering(const TznPartName& part, const TznRenderRequest& request);
    // Drops what is known of media parts' bytes, after a save.
    void ForgetMedia();
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

    // The drawing list is rebuilt only after a change.
    bool FStale = true;
    QList<TznDrawing> FDrawings;
    QHash<const void*, int> FIdOfNode;
    int FNextId = 1;
    QSet<int> FDocPrIds;
    bool FDocPrIdsKnown = false;
    pugi::xml_node FCaret;   // a marker node where the next paste goes
    int FCaretPart = 0;      // the part it is in
    // The fallback copy of the drawing deleted at the caret, with what the copy of that
    // drawing must carry for a paste there to be its replacement.
    struct TznCaretFallback
    {
        pugi::xml_node Reference;
        QString OldRelId;
        qint64 Cx = 0, Cy = 0;
        double Crop[4] = {0, 0, 0, 0};
    };
    TznCaretFallback FCaretFallback;
    // The story parts and stories beyond the main text, once LoadStories ran.
    bool FStoriesLoaded = false;
    std::vector<std::unique_ptr<TznStoryPart>> FParts;  // [0] is a placeholder for the main part
    QList<TznStory> FStories;
    // Set while Walk collects one story's drawings.
    int FWalkPart = 0;
    const void* FWalkStory = nullptr;
    // Header facts of media parts, so that both scales of a picture inflate it once.
    QHash<QString, std::optional<TznPictureInfo>> FInfoOfPart;
    // The lowest density of each media part over the drawings that show it, while the
    // drawings stay as they are.
    QHash<QString, double> FLowestDensity;
    bool FLowestDensityKnown = false;
    // Renderings by media part and request (the result, or the error it raised).
    struct TznCachedRendering
    {
        TznRendered Rendered;
        std::exception_ptr Error;
    };
    static constexpr qsizetype kMaxCachedRenderingBytes = qsizetype(64) << 20;
    QHash<QString, TznCachedRendering> FRenderings;
    qsizetype FRenderingBytes = 0;
    TznPartName FLastReadPart;
    QByteArray FLastReadBytes;
    // Media parts written by pastes, by target part and the bytes' hash: their relationship.
    QHash<QString, QString> FPastedMedia;
};
