#include "ooxml/znWordDocument.h"

#include "ooxml/znFontSubset.h"
#include "ooxml/znWordPackage.h"
#include "package/znCompoundFile.h"
#include "package/znMediaParts.h"
#include "package/znXml.h"
#include "platform/znError.h"
#include "platform/znLocalPath.h"

#include <QAtomicInteger>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <utility>

namespace {

const char* const kCaretName = "lp-caret";

QAtomicInteger<quint64> gSerial(0);

QString label(const QString& path) { return QDir::toNativeSeparators(path); }

} // namespace

TznWordDocument::TznWordDocument() : FSerial(++gSerial) {}

TznWordDocument::~TznWordDocument() = default;

void TznWordDocument::Fail(const QString& reason) const
{
    throw EznError(QStringLiteral("Cannot open \"%1\": %2").arg(label(FFullName), reason));
}

std::unique_ptr<TznWordDocument> TznWordDocument::Open(const QString& path, const TznPackageLimits& limits)
{
    std::unique_ptr<TznWordDocument> doc(new TznWordDocument);
    doc->FFullName = path;
    // By the name's bytes: a name that is not valid UTF-8 is no other file.
    const TznLocalFileInfo info = LocalFileInfo(path);
    if (!info.Exists || !info.IsFile)
        doc->Fail(QStringLiteral("the file cannot be found."));
    QFile file;
    QString reason;
    if (!OpenLocalFile(file, path, QIODevice::ReadOnly, &reason))
        doc->Fail(QStringLiteral("the file cannot be read (%1).").arg(reason));
    const QByteArray head = file.read(8);
    file.close();
    if (IsCompoundFileSignature(head)) {
        const auto names = CompoundFileEntryNames(path);
        if (!names)
            doc->Fail(QStringLiteral("the file is damaged or is no document package."));
        if (names->contains(QStringLiteral("EncryptedPackage"), Qt::CaseInsensitive))
            doc->Fail(QStringLiteral("the document is encrypted with a password."));
        if (names->contains(QStringLiteral("WordDocument"), Qt::CaseInsensitive))
            doc->Fail(QStringLiteral("it is a legacy binary Word document (.doc); such documents need LibreOffice."));
        doc->Fail(QStringLiteral("the file is no word-processing document."));
    }
    doc->FPackage = TznPackage::Open(path, limits);

    const TznPartName packageRels = TznPartName::PackageRoot().RelsName();
    if (!doc->FPackage->Has(packageRels))
        doc->Fail(QStringLiteral("the package holds no word-processing document."));
    TznRelationships rels;
    rels.Load(doc->FPackage->Read(packageRels), packageRels.Name());
    const auto office = rels.ByTypeSuffix(QStringLiteral("officeDocument"));
    if (!office || office->External)
        doc->Fail(QStringLiteral("the package holds no word-processing document."));
    doc->FMainPart = TznPartName::PackageRoot().Resolve(office->Target);
    const TznPartName typesPart = TznPartName::ContentTypesPart();
    if (!doc->FPackage->Has(doc->FMainPart) || !doc->FPackage->Has(typesPart))
        doc->Fail(QStringLiteral("the package holds no word-processing document."));
    const QString mainType = doc->ContentTypes().ContentTypeOf(doc->FMainPart);
    if (!IsWordMainContentType(mainType))
        doc->Fail(QStringLiteral("the package holds no word-processing document (its main part is %1).")
                      .arg(mainType.isEmpty() ? QStringLiteral("of no known type") : mainType));
    // The main part is parsed now: every caller goes on to its drawings, and a damaged main
    // part is a damaged document.
    try {
        doc->LoadMain();
    } catch (const EznError& e) {
        doc->Fail(e.Message());
    }
    return doc;
}

std::unique_ptr<TznWordDocument> TznWordDocument::CreateNew()
{
    std::unique_ptr<TznWordDocument> doc(new TznWordDocument);
    doc->FFullName = QStringLiteral("Document%1").arg(doc->FSerial);
    doc->FPackage = std::make_unique<TznPackage>();
    doc->FMainPart = TznPartName(QStringLiteral("/word/document.xml"));
    WriteBlankWordPackage(*doc->FPackage, doc->FMainPart);
    return doc;
}

bool TznWordDocument::HasVBProject() const
{
    TznWordDocument* self = const_cast<TznWordDocument*>(this);
    self->FlushRels();
    for (const TznRelationship& r : self->MainRels().All())
        if (!r.External && r.Type.endsWith(QLatin1String("/vbaProject"), Qt::CaseInsensitive)
            && FPackage->Has(FMainPart.Resolve(r.Target)))
            return true;
    return false;
}

void TznWordDocument::LoadMain()
{
    if (FMainLoaded)
        return;
    LoadXml(FMain, FPackage->Read(FMainPart), FMainPart.Name());
    FMainLoaded = true;
}

TznRelationships& TznWordDocument::MainRels()
{
    if (!FRels) {
        FRels = std::make_unique<TznRelationships>();
        const TznPartName relsPart = FMainPart.RelsName();
        if (FPackage->Has(relsPart))
            FRels->Load(FPackage->Read(relsPart), relsPart.Name());
    }
    return *FRels;
}

TznContentTypes& TznWordDocument::ContentTypes()
{
    if (!FTypes) {
        FTypes = std::make_unique<TznContentTypes>();
        FTypes->Load(FPackage->Read(TznPartName::ContentTypesPart()));
    }
    return *FTypes;
}

void TznWordDocument::Touch(int part)
{
    if (part == 0)
        FMainChanged = true;
    else
        FParts[size_t(part)]->Changed = true;
}

pugi::xml_document& TznWordDocument::XmlOf(int part)
{
    return part == 0 ? FMain : FParts[size_t(part)]->Xml;
}

TznRelationships& TznWordDocument::RelsOf(int part)
{
    return part == 0 ? MainRels() : FParts[size_t(part)]->RelsIn(*FPackage);
}

const TznPartName& TznWordDocument::PartNameOf(int part) const
{
    return part == 0 ? FMainPart : FParts[size_t(part)]->Name;
}

bool& TznWordDocument::RelsChangedFlag(int part)
{
    return part == 0 ? FRelsChanged : FParts[size_t(part)]->RelsChanged;
}

std::optional<TznRelationship> TznWordDocument::RelById(int part, const QString& id)
{
    return FRelLookups[part].ById(RelsOf(part), id);
}

void TznWordDocument::FlushRels()
{
    for (auto& [part, lookup] : FRelLookups)
        lookup.Flush(RelsOf(part), PartNameOf(part).RelsName().Name());
}

QString TznWordDocument::AddRel(int part, const QString& type, const QString& target, bool external)
{
    RelsChangedFlag(part) = true;
    return FRelLookups[part].Add(RelsOf(part), type, target, external);
}

void TznWordDocument::LoadStories()
{
    if (FStoriesLoaded)
        return;
    LoadMain();
    FStoriesLoaded = true;
    // Drawing ids are unique over every part: counted again with the new parts.
    FDocPrIds.Forget();
    FlushRels();
    FPartStories = ReadStoryParts(FMain, FMainPart, MainRels(), *FPackage, FParts);
}

void TznWordDocument::Collect()
{
    if (!FCollected) {
        LoadMain();
        FIndex.Collect(ChildElement(FMain.document_element(), ZnNs::W, "body"));
        FCollected = true;
    }
    if (FStoriesLoaded && !FIndex.HasStories())
        FIndex.AddStories(FPartStories);
}

const TznDrawingIndex& TznWordDocument::DrawingIndex()
{
    Collect();
    return FIndex;
}

QList<TznWordDocument::TznStoryRef> TznWordDocument::Stories()
{
    LoadStories();
    Collect();
    QList<TznStoryRef> out;
    out.append({1, nullptr});
    for (const TznStory& s : FIndex.Stories())
        out.append({s.Type, s.Root.internal_object()});
    return out;
}

QList<int> TznWordDocument::DrawingIdsIn(const void* story, bool anchored)
{
    Collect();
    return FIndex.IdsIn(story, anchored);
}

QList<int> TznWordDocument::DrawingIds(bool anchored)
{
    return DrawingIdsIn(nullptr, anchored);
}

bool TznWordDocument::IsAlive(int id)
{
    Collect();
    return FIndex.Find(id) != nullptr;
}

const TznDrawing& TznWordDocument::Drawing(int id)
{
    Collect();
    if (const TznDrawing* d = FIndex.Find(id))
        return *d;
    throw EznError(QStringLiteral("Object has been deleted."));
}

std::shared_ptr<TznClipPicture> TznWordDocument::CopyPicture(int id, int resolution, int quality, int alsoPasteType)
{
    const TznDrawing& d = Drawing(id);
    if (TypeOf(id) != (d.Anchored ? 13 : 3))
        throw EznError(QStringLiteral("The selection holds no picture that can be copied."));
    const TznPictureFacts& f = FactsOf(d);
    // A tile repeats the picture at its natural size, which a new rendering changes.
    if (f.Tiled)
        throw EznError(QStringLiteral("The picture fills its frame as tiles and keeps its size."));
    if (f.Cx <= 0 || f.Cy <= 0)
        throw EznError(QStringLiteral("The picture has no shown size."));
    const TznPartName media = PictureTarget(f, d.Part);
    const TznCopySource source{d, f, media, FRenderings.BytesOf(*FPackage, media), ContentTypes().ContentTypeOf(media), FSerial,
                               PartNameOf(d.Part), [&](const QString& relId) { return RelById(d.Part, relId); }};
    return CopyOfPicture(source, FRenderings, resolution, quality, alsoPasteType);
}

void TznWordDocument::Delete(int id)
{
    const TznDrawing d = Drawing(id);
    const TznPictureFacts f = FactsOf(d);
    // The fallback may show the picture through a part of its own holding the same bytes.
    const auto own = f.RelId.isEmpty() ? std::nullopt : RelById(d.Part, f.RelId);
    FCaretFallback = FallbackCopyOf(d, f, [&](const QString& relId) {
        const auto rel = RelById(d.Part, relId);
        if (!own || own->External || !rel || rel->External)
            return false;
        const TznPartName a = PartNameOf(d.Part).Resolve(own->Target), b = PartNameOf(d.Part).Resolve(rel->Target);
        if (a == b)
            return true;
        if (!FPackage->Has(a) || !FPackage->Has(b) || FPackage->SizeOf(a) != FPackage->SizeOf(b))
            return false;
        try {
            return FPackage->Read(a) == FPackage->Read(b);
        } catch (const EznError&) {
            return false;  // a damaged part is no copy of anything
        }
    });
    if (f.IsPicture && !f.RelId.isEmpty())
        if (const auto rel = RelById(d.Part, f.RelId); rel && !rel->External)
            FRemovedTargets.append(PartNameOf(d.Part).Resolve(rel->Target));
    if (FCaret)
        FCaret.parent().remove_child(FCaret);
    pugi::xml_node parent = d.Unit.parent();
    FCaret = parent.insert_child_before(pugi::node_pi, d.Unit);
    FCaret.set_name(kCaretName);
    FCaretPart = d.Part;
    FCaretStory = d.Story;
    FDocPrIds.RemoveIn(d.Unit);
    for (int gone : FIndex.Remove(id)) {
        FScale.RemovePlace(gone);
        FFacts.erase(gone);
    }
    parent.remove_child(d.Unit);
    Touch(d.Part);
}

TznDocPrIds& TznWordDocument::DocPrIds()
{
    if (!FDocPrIds.Known()) {
        FDocPrIds.Count(FMain.document_element());
        for (size_t i = 1; i < FParts.size(); ++i)
            FDocPrIds.Count(FParts[i]->Xml.document_element());
        FDocPrIds.SetKnown();
    }
    return FDocPrIds;
}

QString TznWordDocument::NewMediaPart(const QByteArray& bytes, const QString& extension, const QString& contentType, int into)
{
    const TznPartName part = FPastedMedia.Write(*FPackage, FMainPart.BaseFolder() + QStringLiteral("media/"), bytes, extension);
    FScale.Forget(part);
    FRenderings.Forget(part);
    if (ContentTypes().ContentTypeOf(part).isEmpty()) {
        ContentTypes().EnsureDefault(part.Extension(), contentType.isEmpty() ? TznPastedMedia::ContentTypeOf(part.Extension()) : contentType);
        FTypesChanged = true;
    }
    return AddRel(into, QLatin1String(ZnNs::R) + QStringLiteral("/image"), PartNameOf(into).RelativeTo(part), false);
}

int TznWordDocument::Paste(const TznClipPicture& picture, int pasteType)
{
    LoadMain();
    Collect();
    if (!FCaret) {
        // Nothing was selected yet: the insertion point is the start of the document.
        FCaret = CaretAtStart(FMain, kCaretName);
        FCaretPart = 0;
        FCaretStory = nullptr;
    }
    const int into = FCaretPart;
    // Relationship ids of the copy mean the same here only in the part it was copied from.
    const bool samePart = picture.SourceDocument == FSerial && picture.SourcePart == PartNameOf(into).Key();
    const TznRendered rendered = RenderingToPaste(picture, pasteType);
    // A new rendering is worth its averaged pixels only when it saves at least a tenth of
    // the picture's bytes; otherwise the original goes back as it was, bytes and crop.
    const bool useNew = !rendered.Bytes.isEmpty() && rendered.Bytes.size() <= picture.Request.Bytes.size() - picture.Request.Bytes.size() / 10;
    QString relId;
    if (useNew) {
        // One rendering pasted in several places of a part is stored once, under one
        // relationship.
        const QString pasted = FPastedMedia.KeyOf(into, rendered.Bytes);
        const QString known = FPastedMedia.RelOf(pasted);
        const auto rel = known.isEmpty() ? std::nullopt : RelById(into, known);
        if (rel && !rel->External && FPackage->Has(PartNameOf(into).Resolve(rel->Target))) {
            relId = known;
        } else {
            relId = NewMediaPart(rendered.Bytes, rendered.Extension, rendered.ContentType, into);
            FPastedMedia.Remember(pasted, relId);
        }
    } else if (samePart && RelById(into, picture.OriginalRelId)) {
        relId = picture.OriginalRelId;
    } else {
        relId = NewMediaPart(picture.Request.Bytes, picture.OriginalExtension, picture.OriginalContentType, into);
    }
    // A text box's fallback copy of the replaced picture shows the new one too.
    const TznFallbackCopy fallback = std::exchange(FCaretFallback, {});
    if (samePart)
        FollowInFallback(fallback, picture, relId, useNew);
    TznPasteTarget target{FCaret, XmlOf(into).document_element(), PartNameOf(into),
                          [&](const QString& id) { return RelById(into, id); },
                          [&](const QString& type, const QString& to, bool external) { return AddRel(into, type, to, external); },
                          FPackage.get(), &DocPrIds()};
    pugi::xml_node inserted;
    if (samePart && picture.Frame)
        inserted = PasteRecordedFrame(picture, relId, useNew, target);
    if (!inserted)
        inserted = PasteInline(picture, relId, useNew, samePart, target);
    return FinishPaste(inserted);
}

int TznWordDocument::FinishPaste(pugi::xml_node inserted)
{
    FCaret.parent().remove_child(FCaret);
    FCaret = pugi::xml_node();
    Touch(FCaretPart);
    const TznIndexChange change = FIndex.Insert(inserted, FCaretPart, FCaretStory);
    for (int id : change.Gone)
        FFacts.erase(id);
    if (FScale.PlacesKnown()) {
        for (int id : change.Gone)
            FScale.RemovePlace(id);
        for (int id : change.Added)
            AddPlace(*FIndex.Find(id));
    }
    FCaretPart = 0;
    FCaretStory = nullptr;
    return FIndex.IdOfUnit(inserted);
}

void TznWordDocument::SaveAs(const QString& path, int fileFormat, const TznMediaRecodeOptions& recode)
{
    if (fileFormat == 0)
        throw EznError(QStringLiteral("Cannot save \"%1\": the legacy binary Word format (.doc) needs LibreOffice.").arg(label(path)));
    if (fileFormat != -1 && (fileFormat < 12 || fileFormat > 16))
        throw EznError(QStringLiteral("Cannot save \"%1\": the file format %2 is not supported.").arg(label(path)).arg(fileFormat));
    // Saving removes and re-points relationships: they are looked up afresh after it.
    FlushRels();
    FRelLookups.clear();
    // The caret is no content: leave it out of the written parts and put it back after.
    pugi::xml_node caretParent, caretNext;
    if (FCaret && (FMainChanged || FCaretPart != 0)) {
        caretParent = FCaret.parent();
        caretNext = FCaret.next_sibling();
        caretParent.remove_child(FCaret);
        FCaret = pugi::xml_node();
    }
    // Story parts first, so that the main part's clean-up reads their relationships as they
    // now are; then once more, when the main part's are written too.
    const bool storiesChanged = SaveStoryParts(FParts, *FPackage, ContentTypes(), FTypesChanged, FRemovedTargets);
    if (FMainChanged) {
        const TznMediaCleanup cleanup = RemoveUnusedMedia(FMain, FMainPart, MainRels(), *FPackage, ContentTypes(), FRemovedTargets);
        FRelsChanged = FRelsChanged || cleanup.RelsChanged;
        FTypesChanged = FTypesChanged || cleanup.TypesChanged;
        FPackage->Write(FMainPart, SaveXml(FMain));
    }
    if (storiesChanged) {
        if (FRelsChanged)
            FPackage->Write(FMainPart.RelsName(), MainRels().Save());
        SaveStoryParts(FParts, *FPackage, ContentTypes(), FTypesChanged, FRemovedTargets);
    }
    if (FMainChanged || storiesChanged)
        FRemovedTargets.clear();
    if (caretParent) {
        FCaret = caretNext ? caretParent.insert_child_before(pugi::node_pi, caretNext) : caretParent.append_child(pugi::node_pi);
        FCaret.set_name(kCaretName);
    }
    if (recode.SubsetFonts) {
        LoadMain();
        SubsetEmbeddedFonts(*FPackage, FMainPart, MainRels());
    }
    if (recode.Enabled) {
        LoadMain();
        const TznMediaRecodeResult recoded = RecodeMedia(*FPackage, FMainPart, MainRels(), ContentTypes(), recode);
        FRelsChanged = FRelsChanged || recoded.MainRelsChanged;
        FTypesChanged = FTypesChanged || recoded.TypesChanged;
        if (!recoded.Unused.isEmpty()) {
            const TznMediaCleanup cleanup = RemoveUnusedMedia(FMain, FMainPart, MainRels(), *FPackage, ContentTypes(), recoded.Unused);
            FRelsChanged = FRelsChanged || cleanup.RelsChanged;
            FTypesChanged = FTypesChanged || cleanup.TypesChanged;
        }
        // The pass re-points the relationships of the other parts in the package: the
        // copies read before are read again when next used, so that a later save does not
        // write back targets the pass renamed or removed.
        for (size_t i = 1; i < FParts.size(); ++i)
            FParts[i]->Rels.reset();
    }
    if (FRelsChanged)
        FPackage->Write(FMainPart.RelsName(), MainRels().Save());
    if (FTypesChanged)
        FPackage->Write(TznPartName::ContentTypesPart(), ContentTypes().Save());
    FPackage->SaveAs(path, recode.Enabled);
    FFullName = QFileInfo(path).absoluteFilePath();
    // Saving may drop or rewrite media parts.
    FScale.Clear();
    FFacts.clear();
    FRenderings.Clear();
    FPastedMedia.Clear();
}
