#include "ooxml/znWordDocument.h"

#include "package/znCompoundFile.h"
#include "ooxml/znDrawingFrame.h"
#include "package/znMediaParts.h"
#include "package/znXml.h"
#include "platform/znError.h"
#include "platform/znLocalPath.h"

#include <QAtomicInteger>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <iterator>
#include <utility>

namespace {

const char* const kUriPicture = "http://schemas.openxmlformats.org/drawingml/2006/picture";
const char* const kUriChart = "http://schemas.openxmlformats.org/drawingml/2006/chart";
const char* const kUriChartEx = "http://schemas.microsoft.com/office/drawing/2014/chartex";
const char* const kUriDiagram = "http://schemas.openxmlformats.org/drawingml/2006/diagram";
const char* const kUriLockedCanvas = "http://schemas.openxmlformats.org/drawingml/2006/lockedCanvas";
const char* const kUriCanvas = "http://schemas.microsoft.com/office/word/2010/wordprocessingCanvas";
const char* const kUriGroup = "http://schemas.microsoft.com/office/word/2010/wordprocessingGroup";
const char* const kUriShape = "http://schemas.microsoft.com/office/word/2010/wordprocessingShape";
const char* const kCaretName = "lp-caret";
constexpr double kEmuPerInch = 914400.0;

QAtomicInteger<quint64> gSerial(0);

// The content types of the main part of a word-processing package.
const char* const kMainContentTypes[] = {
    "application/vnd.openxmlformats-officedocument.wordprocessingml.document.main+xml",
    "application/vnd.openxmlformats-officedocument.wordprocessingml.template.main+xml",
    "application/vnd.ms-word.document.macroEnabled.main+xml",
    "application/vnd.ms-word.template.macroEnabledTemplate.main+xml",
};

struct TznMediaType { const char* Extension; const char* ContentType; };
const TznMediaType kMediaTypes[] = {
    {"png", "image/png"}, {"jpeg", "image/jpeg"}, {"jpg", "image/jpeg"}, {"gif", "image/gif"},
    {"bmp", "image/bmp"}, {"tif", "image/tiff"}, {"tiff", "image/tiff"}, {"webp", "image/webp"},
    {"emf", "image/x-emf"}, {"wmf", "image/x-wmf"}, {"svg", "image/svg+xml"}, {"wdp", "image/vnd.ms-photo"},
};

QString mediaContentType(const QString& extension)
{
    for (const TznMediaType& t : kMediaTypes)
        if (extension.compare(QLatin1String(t.Extension), Qt::CaseInsensitive) == 0)
            return QString::fromLatin1(t.ContentType);
    return QStringLiteral("application/octet-stream");
}

QString label(const QString& path) { return QDir::toNativeSeparators(path); }

QString text(const pugi::xml_attribute& a) { return QString::fromUtf8(a.value()); }

QString xmlEscape(const QString& s)
{
    return s.toHtmlEscaped(); // escapes & < > and "
}

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

pugi::xml_node graphicDataOf(const pugi::xml_node& frame)
{
    return ChildElement(ChildElement(frame, ZnNs::A, "graphic"), ZnNs::A, "graphicData");
}

pugi::xml_node picOf(const pugi::xml_node& frame)
{
    return ChildElement(graphicDataOf(frame), ZnNs::Pic, "pic");
}

pugi::xml_node blipFillOf(const pugi::xml_node& frame)
{
    return ChildElement(picOf(frame), ZnNs::Pic, "blipFill");
}

bool hasDescendant(const pugi::xml_node& node, const char* local)
{
    for (pugi::xml_node child = node.first_child(); child; child = child.next_sibling())
        if (child.type() == pugi::node_element && (std::strcmp(LocalName(child), local) == 0 || hasDescendant(child, local)))
            return true;
    return false;
}

double fraction(const pugi::xml_node& srcRect, const char* name)
{
    return srcRect ? srcRect.attribute(name).as_double(0) / 100000.0 : 0.0;
}

const char* const kUriVml = "urn:schemas-microsoft-com:vml";
const char* const kUriOffice = "urn:schemas-microsoft-com:office:office";
const char* const kVmlCrops[4] = {"cropleft", "croptop", "cropright", "cropbottom"};

// Visits the elements below root in document order without recursion; a visit that
// returns false leaves out the element's subtree.
template <typename F>
void visitElements(pugi::xml_node root, F&& visit)
{
    pugi::xml_node node = root.first_child();
    while (node) {
        if (node.type() == pugi::node_element && visit(node) && node.first_child()) {
            node = node.first_child();
            continue;
        }
        while (!node.next_sibling()) {
            node = node.parent();
            if (node == root)
                return;
        }
        node = node.next_sibling();
    }
}

// The text boxes below a node, nested ones included, in document order.
std::vector<pugi::xml_node> textBoxesIn(pugi::xml_node node)
{
    std::vector<pugi::xml_node> boxes;
    visitElements(node, [&](pugi::xml_node e) {
        if (IsElement(e, ZnNs::W, "txbxContent"))
            boxes.push_back(e);
        return true;
    });
    return boxes;
}

// The attribute by which a picture reference names its embedded picture: r:embed of a
// picture's a:blip, r:id (else o:relid) of v:imagedata; empty for anything else.
pugi::xml_attribute pictureRelOf(const pugi::xml_node& e)
{
    if (IsElement(e, ZnNs::A, "blip"))
        return IsElement(e.parent(), ZnNs::Pic, "blipFill") ? AttributeNs(e, ZnNs::R, "embed") : pugi::xml_attribute();
    if (!IsElement(e, kUriVml, "imagedata"))
        return pugi::xml_attribute();
    const pugi::xml_attribute id = AttributeNs(e, ZnNs::R, "id");
    return *id.value() ? id : AttributeNs(e, kUriOffice, "relid");
}

// The references of one text box's own pictures to relId in document order: nested text
// boxes are stories of their own, and a fallback repeats its choice.
std::vector<pugi::xml_node> pictureReferencesIn(pugi::xml_node box, const QString& relId)
{
    const QByteArray id = relId.toUtf8();
    std::vector<pugi::xml_node> refs;
    visitElements(box, [&](pugi::xml_node e) {
        if (IsElement(e, ZnNs::W, "txbxContent") || IsElement(e, ZnNs::MC, "Fallback"))
            return false;
        if (const pugi::xml_attribute a = pictureRelOf(e); a && id == a.value())
            refs.push_back(e);
        return true;
    });
    return refs;
}

bool isWithin(pugi::xml_node node, const pugi::xml_node& ancestor)
{
    for (; node; node = node.parent())
        if (node == ancestor)
            return true;
    return false;
}

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
    bool isWord = false;
    for (const char* t : kMainContentTypes)
        isWord = isWord || mainType.compare(QLatin1String(t), Qt::CaseInsensitive) == 0;
    if (!isWord)
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
    const QByteArray decl = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n";
    doc->FPackage->Write(TznPartName::ContentTypesPart(), decl +
        "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
        "<Default Extension=\"rels\" ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/>"
        "<Default Extension=\"xml\" ContentType=\"application/xml\"/>"
        "<Override PartName=\"/word/document.xml\" ContentType=\""
        "application/vnd.openxmlformats-officedocument.wordprocessingml.document.main+xml\"/>"
        "</Types>");
    doc->FPackage->Write(TznPartName(QStringLiteral("/_rels/.rels")), decl +
        "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
        "<Relationship Id=\"rId1\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument\""
        " Target=\"word/document.xml\"/></Relationships>");
    doc->FPackage->Write(doc->FMainPart, decl +
        "<w:document xmlns:w=\"http://schemas.openxmlformats.org/wordprocessingml/2006/main\""
        " xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\">"
        "<w:body><w:p/><w:sectPr><w:pgSz w:w=\"11906\" w:h=\"16838\"/>"
        "<w:pgMar w:top=\"1440\" w:right=\"1440\" w:bottom=\"1440\" w:left=\"1440\" w:header=\"708\" w:footer=\"708\" w:gutter=\"0\"/>"
        "</w:sectPr></w:body></w:document>");
    return doc;
}

bool TznWordDocument::HasVBProject() const
{
    TznWordDocument* self = const_cast<TznWordDocument*>(this);
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
    FStale = true;
}

pugi::xml_document& TznWordDocument::XmlOf(int part)
{
    return part == 0 ? FMain : FParts[size_t(part)]->Xml;
}

TznRelationships& TznWordDocument::RelsOf(int part)
{
    if (part == 0)
        return MainRels();
    TznStoryPart& p = *FParts[size_t(part)];
    if (!p.Rels) {
        p.Rels = std::make_unique<TznRelationships>();
        const TznPartName relsPart = p.Name.RelsName();
        if (FPackage->Has(relsPart))
            p.Rels->Load(FPackage->Read(relsPart), relsPart.Name());
    }
    return *p.Rels;
}

const TznPartName& TznWordDocument::PartNameOf(int part) const
{
    return part == 0 ? FMainPart : FParts[size_t(part)]->Name;
}

void TznWordDocument::RelsChangedIn(int part)
{
    if (part == 0)
        FRelsChanged = true;
    else
        FParts[size_t(part)]->RelsChanged = true;
}

void TznWordDocument::LoadStories()
{
    if (FStoriesLoaded)
        return;
    LoadMain();
    FStoriesLoaded = true;
    // Drawing ids are unique over every part: counted again with the new parts.
    FDocPrIdsKnown = false;
    FDocPrIds.clear();
    FParts.clear();
    FParts.push_back(nullptr);
    // A part is read once however many sections name it, so that no picture is seen twice.
    QHash<QString, int> partOf;
    auto addPart = [&](const QString& relId, const QString& relTypeSuffix) -> int {
        const auto rel = MainRels().ById(relId);
        if (!rel || rel->External || !rel->Type.endsWith(QLatin1Char('/') + relTypeSuffix, Qt::CaseInsensitive))
            return -1;
        const TznPartName name = FMainPart.Resolve(rel->Target);
        if (name == FMainPart || partOf.contains(name.Key()))
            return -1;
        partOf.insert(name.Key(), -1);
        if (!FPackage->Has(name))
            return -1;
        auto part = std::make_unique<TznStoryPart>();
        part->Name = name;
        try {
            LoadXml(part->Xml, FPackage->Read(name), name.Name());
        } catch (const EznError&) {
            return -1; // a part that cannot be read stays as it is
        }
        FParts.push_back(std::move(part));
        const int index = int(FParts.size()) - 1;
        partOf.insert(name.Key(), index);
        return index;
    };
    // The headers and footers in the order the sections name them.
    for (pugi::xpath_node n : FMain.select_nodes("//*[local-name()='headerReference' or local-name()='footerReference']")) {
        const pugi::xml_node ref = n.node();
        const bool header = std::strcmp(LocalName(ref), "headerReference") == 0;
        const QString kind = text(AttributeNs(ref, ZnNs::W, "type"));
        const int type = kind == QLatin1String("even")  ? (header ? 6 : 8)
                         : kind == QLatin1String("first") ? (header ? 10 : 11)
                                                          : (header ? 7 : 9);
        const int part = addPart(text(AttributeNs(ref, ZnNs::R, "id")), header ? QStringLiteral("header") : QStringLiteral("footer"));
        if (part > 0)
            FStories.append({type, part, FParts[size_t(part)]->Xml.document_element()});
    }
    const struct { const char* Suffix; int Type; } notes[] = {{"footnotes", 2}, {"endnotes", 3}, {"comments", 4}};
    for (const auto& kind : notes) {
        for (const TznRelationship& r : MainRels().All()) {
            if (!r.Type.endsWith(QLatin1Char('/') + QLatin1String(kind.Suffix), Qt::CaseInsensitive))
                continue;
            const int part = addPart(r.Id, QLatin1String(kind.Suffix));
            if (part > 0)
                FStories.append({kind.Type, part, FParts[size_t(part)]->Xml.document_element()});
        }
    }
    FStale = true;
}

void TznWordDocument::FindTextFrames(pugi::xml_node node, int part)
{
    for (pugi::xml_node child = node.first_child(); child; child = child.next_sibling()) {
        if (child.type() != pugi::node_element)
            continue;
        if (IsElement(child, ZnNs::W, "txbxContent")) {
            FStories.append({5, part, child});
            FindTextFrames(child, part);
        } else if (!IsElement(child, ZnNs::MC, "Fallback")) {
            // The fallback repeats the choice's text box for older readers.
            FindTextFrames(child, part);
        }
    }
}

QList<TznWordDocument::TznStoryRef> TznWordDocument::Stories()
{
    LoadStories();
    Collect();
    QList<TznStoryRef> out;
    out.append({1, nullptr});
    for (const TznStory& s : FStories)
        out.append({s.Type, s.Root.internal_object()});
    return out;
}

QList<int> TznWordDocument::DrawingIdsIn(const void* story, bool anchored)
{
    Collect();
    QList<int> ids;
    for (const TznDrawing& d : FDrawings)
        if (d.Story == story && d.Anchored == anchored)
            ids.append(d.Id);
    return ids;
}

void TznWordDocument::Collect()
{
    if (!FStale)
        return;
    LoadMain();
    FDrawings.clear();
    const QHash<const void*, int> old = FIdOfNode;
    FIdOfNode.clear();
    pugi::xml_node body = ChildElement(FMain.document_element(), ZnNs::W, "body");
    FWalkPart = 0;
    FWalkStory = nullptr;
    Walk(body);
    if (FStoriesLoaded) {
        // Text boxes come and go with the drawings that hold them: found anew each time.
        QList<TznStory> stories;
        for (const TznStory& s : FStories)
            if (s.Type != 5)
                stories.append(s);
        FStories = stories;
        FindTextFrames(body, 0);
        for (int i = 0; i < FStories.size(); ++i) {
            const TznStory story = FStories[i];
            if (story.Type != 5)
                FindTextFrames(story.Root, story.Part);
        }
        for (int i = 0; i < FStories.size(); ++i) {
            FWalkPart = FStories[i].Part;
            FWalkStory = FStories[i].Root.internal_object();
            Walk(FStories[i].Root);
        }
        FWalkPart = 0;
        FWalkStory = nullptr;
    }
    // Ids of drawings that are still there survive; the others go.
    for (TznDrawing& d : FDrawings) {
        const void* key = d.Unit.internal_object();
        d.Id = old.contains(key) ? old.value(key) : FNextId++;
        FIdOfNode.insert(key, d.Id);
    }
    FStale = false;
    FLowestDensityKnown = false;
}

void TznWordDocument::Walk(pugi::xml_node node)
{
    for (pugi::xml_node child = node.first_child(); child; child = child.next_sibling()) {
        if (child.type() != pugi::node_element)
            continue;
        if (IsElement(child, ZnNs::W, "drawing")) {
            AddDrawing(child, child);
        } else if (IsElement(child, ZnNs::W, "object")) {
            AddDrawing(child, pugi::xml_node());
        } else if (IsElement(child, ZnNs::W, "pict")) {
            AddVmlPicture(child);
        } else if (IsElement(child, ZnNs::W, "txbxContent")) {
            // text boxes are stories of their own
        } else if (IsElement(child, ZnNs::MC, "AlternateContent")) {
            // The choice and its fallback show one drawing: the whole alternate content is the shape.
            pugi::xml_node choice = ChildElement(child, ZnNs::MC, "Choice");
            if (pugi::xml_node drawing = findDrawing(choice))
                AddDrawing(child, drawing);
            else if (choice)
                Walk(choice);
        } else {
            Walk(child);
        }
    }
}

void TznWordDocument::AddDrawing(pugi::xml_node unit, pugi::xml_node drawing)
{
    TznDrawing d;
    d.Unit = unit;
    d.Part = FWalkPart;
    d.Story = FWalkStory;
    if (drawing) {
        for (pugi::xml_node c = drawing.first_child(); c; c = c.next_sibling()) {
            if (IsElement(c, ZnNs::WP, "inline")) { d.Frame = c; break; }
            if (IsElement(c, ZnNs::WP, "anchor")) { d.Frame = c; d.Anchored = true; break; }
        }
        if (!d.Frame)
            return;
    }
    FDrawings.append(d);
}

void TznWordDocument::AddVmlPicture(pugi::xml_node pict)
{
    // Only a plain picture: a v:shape holding v:imagedata, no text box, no OLE object.
    for (pugi::xml_node shape = pict.first_child(); shape; shape = shape.next_sibling()) {
        if (shape.type() != pugi::node_element || std::strcmp(LocalName(shape), "shape") != 0)
            continue;
        if (!ChildElement(shape, "urn:schemas-microsoft-com:vml", "imagedata") || hasDescendant(shape, "textbox"))
            return;
        TznDrawing d;
        d.Unit = pict;
        d.Part = FWalkPart;
        d.Story = FWalkStory;
        d.Vml = shape;
        const QString position = VmlStyle(text(shape.attribute("style"))).value(QStringLiteral("position"));
        d.Anchored = position == QLatin1String("absolute");
        FDrawings.append(d);
        return;
    }
}

QHash<QString, QString> TznWordDocument::VmlStyle(const QString& style)
{
    QHash<QString, QString> out;
    for (const QString& item : style.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        const int colon = item.indexOf(QLatin1Char(':'));
        if (colon > 0)
            out.insert(item.left(colon).trimmed().toLower(), item.mid(colon + 1).trimmed());
    }
    return out;
}

qint64 TznWordDocument::VmlLengthEmu(const QString& length)
{
    struct TznUnit { const char* Suffix; double Emu; };
    static const TznUnit units[] = {{"pt", 12700}, {"in", 914400}, {"cm", 360000}, {"mm", 36000}, {"pc", 152400}, {"px", 9525}, {"emu", 1}};
    const QString t = length.trimmed().toLower();
    for (const TznUnit& u : units)
        if (t.endsWith(QLatin1String(u.Suffix)))
            return qint64(std::llround(t.chopped(int(std::strlen(u.Suffix))).toDouble() * u.Emu));
    return qint64(std::llround(t.toDouble() * 9525)); // a bare number is in pixels
}

double TznWordDocument::VmlFraction(const QString& value)
{
    // "6554f" is in 1/65536; a plain number is the fraction itself.
    const QString t = value.trimmed();
    if (t.isEmpty())
        return 0;
    if (t.endsWith(QLatin1Char('f'), Qt::CaseInsensitive))
        return t.chopped(1).toDouble() / 65536.0;
    return t.toDouble();
}

QList<int> TznWordDocument::DrawingIds(bool anchored)
{
    return DrawingIdsIn(nullptr, anchored);
}

bool TznWordDocument::IsAlive(int id)
{
    Collect();
    for (const TznDrawing& d : FDrawings)
        if (d.Id == id)
            return true;
    return false;
}

const TznWordDocument::TznDrawing& TznWordDocument::Drawing(int id)
{
    Collect();
    for (const TznDrawing& d : FDrawings)
        if (d.Id == id)
            return d;
    throw EznError(QStringLiteral("Object has been deleted."));
}

TznWordDocument::TznPictureFacts TznWordDocument::FactsOf(const TznDrawing& d)
{
    TznPictureFacts f;
    if (d.Vml) {
        // A VML picture: v:shape with v:imagedata, sized by its style.
        const pugi::xml_node data = d.Vml.find_child([](pugi::xml_node n) { return std::strcmp(LocalName(n), "imagedata") == 0; });
        f.IsPicture = true;
        f.RelId = text(AttributeNs(data, ZnNs::R, "id"));
        if (f.RelId.isEmpty())
            f.RelId = text(AttributeNs(data, "urn:schemas-microsoft-com:office:office", "relid"));
        const auto rel = f.RelId.isEmpty() ? std::nullopt : RelsOf(d.Part).ById(f.RelId);
        f.Linked = !rel || rel->External;
        const char* crops[4] = {"cropleft", "croptop", "cropright", "cropbottom"};
        for (int i = 0; i < 4; ++i)
            f.Crop[i] = VmlFraction(text(data.attribute(crops[i])));
        const QHash<QString, QString> style = VmlStyle(text(d.Vml.attribute("style")));
        f.Cx = VmlLengthEmu(style.value(QStringLiteral("width")));
        f.Cy = VmlLengthEmu(style.value(QStringLiteral("height")));
        f.Descr = text(d.Vml.attribute("alt"));
        f.Title = text(AttributeNs(data, "urn:schemas-microsoft-com:office:office", "title"));
        if (const QString rot = style.value(QStringLiteral("rotation")); !rot.isEmpty())
            f.Rot = QString::number(qint64(std::llround(rot.toDouble() * 60000)));
        const QString flip = style.value(QStringLiteral("flip"));
        if (flip.contains(QLatin1Char('x'))) f.FlipH = QStringLiteral("1");
        if (flip.contains(QLatin1Char('y'))) f.FlipV = QStringLiteral("1");
        return f;
    }
    if (!d.Frame || text(graphicDataOf(d.Frame).attribute("uri")) != QLatin1String(kUriPicture))
        return f;
    f.IsPicture = true;
    // Readers differ in the spacing they assume where the frame says none, so
    // a paste repeats exactly what the original frame wrote.
    for (const char* side : {"distT", "distB", "distL", "distR"})
        if (const pugi::xml_attribute a = d.Frame.attribute(side))
            f.FrameDist += QStringLiteral(" %1=\"%2\"").arg(QLatin1String(side), xmlEscape(text(a)));
    if (const pugi::xml_node extent = ChildElement(d.Frame, ZnNs::WP, "effectExtent")) {
        f.EffectExtent = QStringLiteral("<wp:effectExtent");
        for (const char* side : {"l", "t", "r", "b"})
            f.EffectExtent += QStringLiteral(" %1=\"%2\"").arg(QLatin1String(side), xmlEscape(text(extent.attribute(side))));
        f.EffectExtent += QStringLiteral("/>");
    }
    const pugi::xml_node blipFill = blipFillOf(d.Frame);
    const pugi::xml_node blip = ChildElement(blipFill, ZnNs::A, "blip");
    f.RelId = text(AttributeNs(blip, ZnNs::R, "embed"));
    f.Linked = bool(AttributeNs(blip, ZnNs::R, "link"));
    // A picture with an SVG is a picture when it carries a raster rendering of it: only that
    // rendering is ever replaced, the SVG stays.
    f.Vector = f.RelId.isEmpty() && hasDescendant(blip, "svgBlip");
    f.Tiled = bool(ChildElement(blipFill, ZnNs::A, "tile"));
    const pugi::xml_node srcRect = ChildElement(blipFill, ZnNs::A, "srcRect");
    const char* sides[4] = {"l", "t", "r", "b"};
    for (int i = 0; i < 4; ++i) {
        f.Crop[i] = fraction(srcRect, sides[i]);
        f.SrcRect[i] = srcRect ? text(srcRect.attribute(sides[i])) : QString();
    }
    const pugi::xml_node extent = ChildElement(d.Frame, ZnNs::WP, "extent");
    f.Cx = extent.attribute("cx").as_llong(0);
    f.Cy = extent.attribute("cy").as_llong(0);
    const pugi::xml_node docPr = ChildElement(d.Frame, ZnNs::WP, "docPr");
    f.Name = text(docPr.attribute("name"));
    f.Descr = text(docPr.attribute("descr"));
    f.Title = text(docPr.attribute("title"));
    if (const pugi::xml_node link = ChildElement(docPr, ZnNs::A, "hlinkClick")) {
        f.HyperlinkRelId = text(AttributeNs(link, ZnNs::R, "id"));
        f.HyperlinkTooltip = text(link.attribute("tooltip"));
    }
    const pugi::xml_node xfrm = ChildElement(ChildElement(picOf(d.Frame), ZnNs::Pic, "spPr"), ZnNs::A, "xfrm");
    f.Rot = text(xfrm.attribute("rot"));
    f.FlipH = text(xfrm.attribute("flipH"));
    f.FlipV = text(xfrm.attribute("flipV"));
    return f;
}

int TznWordDocument::TypeOf(int id)
{
    const TznDrawing& d = Drawing(id);
    const TznPictureFacts f = FactsOf(d);
    if (f.IsPicture) {
        if (d.Anchored)
            return f.Linked ? 11 : f.Vector ? 28 : 13;
        return f.Linked ? 4 : f.Vector ? 17 : 3;
    }
    if (!d.Frame) {
        // w:object: an OLE object, embedded or linked
        const bool linked = hasDescendant(d.Unit, "OLEObject")
            && QString::fromUtf8(d.Unit.find_node([](pugi::xml_node n) { return std::strcmp(LocalName(n), "OLEObject") == 0; })
                                     .attribute("Type").value()) == QLatin1String("Link");
        return linked ? 2 : 1;
    }
    const QString uri = text(graphicDataOf(d.Frame).attribute("uri"));
    const bool chart = uri == QLatin1String(kUriChart) || uri == QLatin1String(kUriChartEx);
    const bool diagram = uri == QLatin1String(kUriDiagram);
    const bool canvas = uri == QLatin1String(kUriLockedCanvas) || uri == QLatin1String(kUriCanvas);
    if (!d.Anchored)
        return chart ? 12 : diagram ? 15 : canvas ? 14 : 17;
    if (chart) return 3;
    if (diagram) return 24;
    if (canvas) return 20;
    if (uri == QLatin1String(kUriGroup)) return 6;
    if (uri == QLatin1String(kUriShape))
        return hasDescendant(graphicDataOf(d.Frame), "txbx") ? 17 : 1;
    return 1;
}

TznPartName TznWordDocument::PictureTarget(const TznPictureFacts& f, int part)
{
    const auto rel = !f.IsPicture || f.RelId.isEmpty() ? std::nullopt : RelsOf(part).ById(f.RelId);
    if (!rel || rel->External)
        throw EznError(QStringLiteral("The shape holds no embedded picture."));
    const TznPartName target = PartNameOf(part).Resolve(rel->Target);
    if (!FPackage->Has(target))
        throw EznError(QStringLiteral("The picture %1 is missing from the document.").arg(target.Name()));
    return target;
}

double TznWordDocument::ScaleOf(int id, bool width)
{
    const TznDrawing& d = Drawing(id);
    const TznPictureFacts f = FactsOf(d);
    if (!f.IsPicture)
        throw EznError(QStringLiteral("The shape is no picture."));
    const TznPartName part = PictureTarget(f, d.Part);
    if (!FInfoOfPart.contains(part.Key()))
        FInfoOfPart.insert(part.Key(), ReadPictureInfo(FPackage->Read(part)));
    const std::optional<TznPictureInfo> info = FInfoOfPart.value(part.Key());
    if (!info || info->PixelWidth <= 0 || info->PixelHeight <= 0)
        throw EznError(QStringLiteral("The picture's size cannot be read."));
    const double visible = width ? 1 - f.Crop[0] - f.Crop[2] : 1 - f.Crop[1] - f.Crop[3];
    const double pixels = (width ? info->PixelWidth : info->PixelHeight) * visible;
    const double dpi = width ? info->DpiX : info->DpiY;
    const double shown = double(width ? f.Cx : f.Cy);
    if (pixels <= 0 || dpi <= 0)
        throw EznError(QStringLiteral("The picture's size cannot be read."));
    return shown / (pixels / dpi * kEmuPerInch) * 100.0;
}

double TznWordDocument::DensityOf(const TznDrawing& d)
{
    const TznPictureFacts f = FactsOf(d);
    if (!f.IsPicture || f.Cx <= 0 || f.Cy <= 0)
        return 0;
    const TznPartName part = PictureTarget(f, d.Part);
    if (!FInfoOfPart.contains(part.Key()))
        FInfoOfPart.insert(part.Key(), ReadPictureInfo(FPackage->Read(part)));
    const std::optional<TznPictureInfo> info = FInfoOfPart.value(part.Key());
    if (!info || info->Vector || info->PixelWidth <= 0 || info->PixelHeight <= 0)
        return 0;
    const double across = info->PixelWidth * (1 - f.Crop[0] - f.Crop[2]) / (double(f.Cx) / kEmuPerInch);
    const double down = info->PixelHeight * (1 - f.Crop[1] - f.Crop[3]) / (double(f.Cy) / kEmuPerInch);
    if (!(across > 0) || !(down > 0) || !std::isfinite(across) || !std::isfinite(down))
        return 0;
    return std::min(across, down);
}

double TznWordDocument::EffectiveResolutionOf(int id)
{
    LoadStories();
    const TznDrawing& d = Drawing(id);
    const TznPictureFacts f = FactsOf(d);
    if (!f.IsPicture)
        throw EznError(QStringLiteral("The shape is no picture."));
    const QString key = PictureTarget(f, d.Part).Key();
    const double own = DensityOf(d);
    if (own <= 0)
        throw EznError(QStringLiteral("The picture's size cannot be read."));
    // The media serves every place that shows it: the place that needs the most pixels of it,
    // the one with the lowest density, decides. Known for every media part at once, until the
    // drawings change.
    if (!FLowestDensityKnown) {
        FLowestDensity.clear();
        for (const TznDrawing& other : FDrawings) {
            try {
                const TznPictureFacts o = FactsOf(other);
                if (!o.IsPicture || o.Linked)
                    continue;
                const QString media = PictureTarget(o, other.Part).Key();
                const double density = DensityOf(other);
                if (density <= 0)
                    continue;
                const auto it = FLowestDensity.constFind(media);
                FLowestDensity.insert(media, it == FLowestDensity.constEnd() ? density : std::min(*it, density));
            } catch (const EznError&) {
                // a drawing without an embedded picture shares nothing
            }
        }
        FLowestDensityKnown = true;
    }
    return std::min(own, FLowestDensity.value(key, own));
}

std::shared_ptr<TznClipPicture> TznWordDocument::CopyPicture(int id, int resolution, int quality, int alsoPasteType)
{
    const TznDrawing& d = Drawing(id);
    if (TypeOf(id) != (d.Anchored ? 13 : 3))
        throw EznError(QStringLiteral("The selection holds no picture that can be copied."));
    const TznPictureFacts f = FactsOf(d);
    // A tile repeats the picture at its natural size, which a new rendering changes.
    if (f.Tiled)
        throw EznError(QStringLiteral("The picture fills its frame as tiles and keeps its size."));
    if (f.Cx <= 0 || f.Cy <= 0)
        throw EznError(QStringLiteral("The picture has no shown size."));

    auto clip = std::make_shared<TznClipPicture>();
    const TznPartName part = PictureTarget(f, d.Part);
    clip->OriginalRelId = f.RelId;
    // Copies of one media part often follow one another (a logo on every page): it is read
    // once for them.
    if (FLastReadPart.Key() != part.Key()) {
        FLastReadBytes = FPackage->Read(part);
        FLastReadPart = part;
    }
    clip->Request.Bytes = FLastReadBytes;
    clip->Request.Crop = {f.Crop[0], f.Crop[1], f.Crop[2], f.Crop[3]};
    for (int i = 0; i < 4; ++i)
        clip->SrcRect[i] = d.Vml ? (f.Crop[i] != 0 ? QString::number(qint64(std::llround(f.Crop[i] * 100000))) : QString())
                                 : f.SrcRect[i];
    clip->Cx = f.Cx;
    clip->Cy = f.Cy;
    clip->Request.ShownCx = clip->Cx;
    clip->Request.ShownCy = clip->Cy;
    clip->Request.Resolution = resolution;
    clip->Request.Quality = quality;
    clip->Request.PasteType = 13;
    clip->Rendered = CachedRendering(part, clip->Request);
    if (alsoPasteType != clip->Request.PasteType) {
        TznRenderRequest request = clip->Request;
        request.PasteType = alsoPasteType;
        try {
            clip->AlsoRendered = CachedRendering(part, request);
            clip->AlsoRenderedType = alsoPasteType;
        } catch (const std::exception&) {
            // The paste falls back on the default rendering.
        }
    }

    clip->SourceDocument = FSerial;
    clip->SourcePart = PartNameOf(d.Part).Key();
    clip->OriginalExtension = part.Extension();
    clip->OriginalContentType = ContentTypes().ContentTypeOf(part);
    clip->Name = f.Name;
    clip->Descr = f.Descr;
    clip->Title = f.Title;
    if (!f.HyperlinkRelId.isEmpty()) {
        clip->HyperlinkRelId = f.HyperlinkRelId;
        clip->HyperlinkTooltip = f.HyperlinkTooltip;
        if (const auto rel = RelsOf(d.Part).ById(f.HyperlinkRelId)) {
            clip->HasHyperlink = true;
            clip->HyperlinkTarget = rel->Target;
            clip->HyperlinkExternal = rel->External;
        }
    }
    clip->Rot = f.Rot;
    clip->FlipH = f.FlipH;
    clip->FlipV = f.FlipV;
    if (d.Frame) {
        clip->FrameDist = f.FrameDist;
        clip->EffectExtent = f.EffectExtent;
    }
    RecordFrameOf(d, part, *clip);
    return clip;
}

TznRendered TznWordDocument::CachedRendering(const TznPartName& part, const TznRenderRequest& request)
{
    // Everything the rendering depends on besides the media part's bytes.
    const QString key = QStringLiteral("%1|%2|%3|%4|%5|%6|%7|%8|%9")
                            .arg(part.Key())
                            .arg(request.ShownCx)
                            .arg(request.ShownCy)
                            .arg(request.Crop.Left, 0, 'g', 17)
                            .arg(request.Crop.Top, 0, 'g', 17)
                            .arg(request.Crop.Right, 0, 'g', 17)
                            .arg(request.Crop.Bottom, 0, 'g', 17)
                            .arg(request.Resolution)
                            .arg(request.Quality)
                        + QStringLiteral("|%1").arg(request.PasteType);
    auto it = FRenderings.constFind(key);
    if (it == FRenderings.constEnd()) {
        TznCachedRendering entry;
        try {
            entry.Rendered = RenderPicture(request);
        } catch (...) {
            entry.Error = std::current_exception();
        }
        // Renderings are small beside their sources, but a document of many large pictures
        // shown once each keeps only what fits.
        if (FRenderingBytes + entry.Rendered.Bytes.size() > kMaxCachedRenderingBytes) {
            if (entry.Error)
                std::rethrow_exception(entry.Error);
            return entry.Rendered;
        }
        FRenderingBytes += entry.Rendered.Bytes.size();
        it = FRenderings.insert(key, entry);
    }
    if (it->Error)
        std::rethrow_exception(it->Error);
    return it->Rendered;
}

void TznWordDocument::ForgetMedia()
{
    FRenderings.clear();
    FRenderingBytes = 0;
    FLastReadPart = TznPartName();
    FLastReadBytes.clear();
    FPastedMedia.clear();
}

void TznWordDocument::Delete(int id)
{
    const TznDrawing d = Drawing(id);
    const TznPictureFacts f = FactsOf(d);
    FCaretFallback = {};
    if (f.IsPicture && !f.Linked && !f.RelId.isEmpty()) {
        if (const pugi::xml_node fallback = FallbackPictureOf(d, f)) {
            FCaretFallback.Reference = fallback;
            FCaretFallback.OldRelId = f.RelId;
            FCaretFallback.Cx = f.Cx;
            FCaretFallback.Cy = f.Cy;
            std::copy(std::begin(f.Crop), std::end(f.Crop), FCaretFallback.Crop);
        }
    }
    if (f.IsPicture && !f.RelId.isEmpty())
        if (const auto rel = RelsOf(d.Part).ById(f.RelId); rel && !rel->External)
            FRemovedTargets.append(PartNameOf(d.Part).Resolve(rel->Target));
    if (FCaret)
        FCaret.parent().remove_child(FCaret);
    pugi::xml_node parent = d.Unit.parent();
    FCaret = parent.insert_child_before(pugi::node_pi, d.Unit);
    FCaret.set_name(kCaretName);
    FCaretPart = d.Part;
    FIdOfNode.remove(d.Unit.internal_object());
    if (FDocPrIdsKnown)
        for (pugi::xpath_node n : d.Unit.select_nodes(".//*[local-name()='docPr']"))
            FDocPrIds.remove(n.node().attribute("id").as_int(0));
    parent.remove_child(d.Unit);
    Touch(d.Part);
}

bool TznWordDocument::ShapeOfReference(pugi::xml_node reference, qint64& cx, qint64& cy, double crop[4])
{
    if (IsElement(reference, kUriVml, "imagedata")) {
        const QHash<QString, QString> style = VmlStyle(text(reference.parent().attribute("style")));
        cx = VmlLengthEmu(style.value(QStringLiteral("width")));
        cy = VmlLengthEmu(style.value(QStringLiteral("height")));
        for (int i = 0; i < 4; ++i)
            crop[i] = VmlFraction(text(reference.attribute(kVmlCrops[i])));
        return true;
    }
    // A picture's blip: its frame (wp:inline or wp:anchor) gives the shown size.
    pugi::xml_node frame = reference.parent();
    while (frame && !IsElement(frame, ZnNs::WP, "inline") && !IsElement(frame, ZnNs::WP, "anchor"))
        frame = frame.parent();
    if (!frame)
        return false;
    const pugi::xml_node extent = ChildElement(frame, ZnNs::WP, "extent");
    cx = extent.attribute("cx").as_llong(0);
    cy = extent.attribute("cy").as_llong(0);
    const pugi::xml_node srcRect = ChildElement(reference.parent(), ZnNs::A, "srcRect");
    const char* sides[4] = {"l", "t", "r", "b"};
    for (int i = 0; i < 4; ++i)
        crop[i] = fraction(srcRect, sides[i]);
    return true;
}

pugi::xml_node TznWordDocument::FallbackPictureOf(const TznDrawing& d, const TznPictureFacts& f)
{
    if (!d.Story)
        return {};
    // The text box the drawing is in, and the alternate content whose choice holds it.
    pugi::xml_node box = d.Unit.parent();
    while (box && !IsElement(box, ZnNs::W, "txbxContent"))
        box = box.parent();
    pugi::xml_node branch = box.parent();
    while (branch && !IsElement(branch.parent(), ZnNs::MC, "AlternateContent"))
        branch = branch.parent();
    if (!box || !IsElement(branch, ZnNs::MC, "Choice"))
        return {};
    const pugi::xml_node fallback = ChildElement(branch.parent(), ZnNs::MC, "Fallback");
    // The boxes of the choice and of the fallback correspond one to one, in order.
    const std::vector<pugi::xml_node> choiceBoxes = textBoxesIn(branch), fallbackBoxes = textBoxesIn(fallback);
    if (choiceBoxes.size() != fallbackBoxes.size())
        return {};
    const auto at = std::find(choiceBoxes.begin(), choiceBoxes.end(), box);
    if (at == choiceBoxes.end())
        return {};
    // So do the box's pictures of this media: as many in the copy, the same one by place.
    const std::vector<pugi::xml_node> choiceRefs = pictureReferencesIn(box, f.RelId);
    const std::vector<pugi::xml_node> fallbackRefs = pictureReferencesIn(fallbackBoxes[size_t(at - choiceBoxes.begin())], f.RelId);
    if (choiceRefs.size() != fallbackRefs.size())
        return {};
    const auto own = std::find_if(choiceRefs.begin(), choiceRefs.end(), [&](const pugi::xml_node& r) { return isWithin(r, d.Unit); });
    if (own == choiceRefs.end())
        return {};
    const pugi::xml_node candidate = fallbackRefs[size_t(own - choiceRefs.begin())];
    // A copy shown at another size or with another crop is no copy of this picture.
    qint64 cx = 0, cy = 0;
    double crop[4];
    if (!ShapeOfReference(candidate, cx, cy, crop) || f.Cx <= 0 || f.Cy <= 0)
        return {};
    if (std::abs(double(cx) - double(f.Cx)) > 0.02 * double(f.Cx) || std::abs(double(cy) - double(f.Cy)) > 0.02 * double(f.Cy))
        return {};
    for (int i = 0; i < 4; ++i)
        if (!std::isfinite(crop[i]) || std::abs(crop[i] - f.Crop[i]) > 0.002)
            return {};
    return candidate;
}

void TznWordDocument::FollowInFallback(const TznClipPicture& picture, const QString& relId, bool cropBaked)
{
    const TznCaretFallback pending = std::exchange(FCaretFallback, {});
    // Only the copy of the deleted drawing pasted back in its place replaces it.
    if (!pending.Reference || relId == pending.OldRelId || picture.OriginalRelId != pending.OldRelId
        || picture.Cx != pending.Cx || picture.Cy != pending.Cy)
        return;
    const double crop[4] = {picture.Request.Crop.Left, picture.Request.Crop.Top, picture.Request.Crop.Right, picture.Request.Crop.Bottom};
    for (int i = 0; i < 4; ++i)
        if (crop[i] != pending.Crop[i])
            return;
    pugi::xml_node reference = pending.Reference;
    const QByteArray oldId = pending.OldRelId.toUtf8(), newId = relId.toUtf8();
    for (pugi::xml_attribute a : {AttributeNs(reference, ZnNs::R, "embed"), AttributeNs(reference, ZnNs::R, "id"),
                                  AttributeNs(reference, kUriOffice, "relid")})
        if (a && oldId == a.value())
            a.set_value(newId.constData());
    // The new pixels are the visible part only: a crop applied again would cut them twice.
    if (cropBaked) {
        if (IsElement(reference, ZnNs::A, "blip")) {
            if (pugi::xml_node srcRect = ChildElement(reference.parent(), ZnNs::A, "srcRect"))
                reference.parent().remove_child(srcRect);
        } else {
            for (const char* side : kVmlCrops)
                reference.remove_attribute(side);
        }
    }
}

void TznWordDocument::RecordFrameOf(const TznDrawing& d, const TznPartName& picturePart, TznClipPicture& clip)
{
    clip.Frame = RecordFrame(d.Unit);
    for (const QString& id : FrameRelIds(clip.Frame->document_element())) {
        const auto rel = RelsOf(d.Part).ById(id);
        if (!rel)
            continue; // a dangling reference stays as it was
        if (!rel->External && PartNameOf(d.Part).Resolve(rel->Target) == picturePart)
            clip.FramePictureRelIds.insert(id);
        else
            clip.FrameRels.insert(id, {rel->Type, rel->Target, rel->External});
    }
}

QSet<int>& TznWordDocument::DocPrIds()
{
    if (!FDocPrIdsKnown) {
        for (pugi::xpath_node n : FMain.select_nodes("//*[local-name()='docPr']"))
            FDocPrIds.insert(n.node().attribute("id").as_int(0));
        for (size_t i = 1; i < FParts.size(); ++i)
            for (pugi::xpath_node n : FParts[i]->Xml.select_nodes("//*[local-name()='docPr']"))
                FDocPrIds.insert(n.node().attribute("id").as_int(0));
        FDocPrIdsKnown = true;
    }
    return FDocPrIds;
}

QString TznWordDocument::NewMediaPart(const QByteArray& bytes, const QString& extension, const QString& contentType, int into)
{
    const QString ext = extension.isEmpty() ? QStringLiteral("bin") : extension;
    const QString folder = FMainPart.BaseFolder() + QStringLiteral("media/");
    TznPartName part;
    for (int n = 1;; ++n) {
        part = TznPartName(QStringLiteral("%1image%2.%3").arg(folder).arg(n).arg(ext));
        if (!FPackage->Has(part))
            break;
    }
    FPackage->Write(part, bytes);
    FInfoOfPart.remove(part.Key());
    if (FLastReadPart.Key() == part.Key())
        FLastReadPart = TznPartName();
    for (auto it = FRenderings.begin(); it != FRenderings.end();)
        it = it.key().startsWith(part.Key() + QLatin1Char('|')) ? FRenderings.erase(it) : std::next(it);
    if (ContentTypes().ContentTypeOf(part).isEmpty()) {
        ContentTypes().EnsureDefault(ext, contentType.isEmpty() ? mediaContentType(ext) : contentType);
        FTypesChanged = true;
    }
    RelsChangedIn(into);
    return RelsOf(into).Add(QLatin1String(ZnNs::R) + QStringLiteral("/image"), PartNameOf(into).RelativeTo(part), false);
}

int TznWordDocument::Paste(const TznClipPicture& picture, int pasteType)
{
    LoadMain();
    if (!FCaret) {
        // Nothing was selected yet: the insertion point is the start of the document.
        pugi::xml_node body = ChildElement(FMain.document_element(), ZnNs::W, "body");
        if (!body)
            throw EznError(QStringLiteral("There is no place to paste at."));
        const QString prefix = QString::fromUtf8(FMain.document_element().name()).section(QLatin1Char(':'), 0, -2);
        const std::string p = (prefix.isEmpty() ? QString() : prefix + QLatin1Char(':')).toStdString();
        pugi::xml_node para = ChildElement(body, ZnNs::W, "p");
        if (!para)
            para = body.prepend_child((p + "p").c_str());
        pugi::xml_node pPr = ChildElement(para, ZnNs::W, "pPr");
        pugi::xml_node run = pPr ? para.insert_child_after((p + "r").c_str(), pPr) : para.prepend_child((p + "r").c_str());
        FCaret = run.append_child(pugi::node_pi);
        FCaret.set_name(kCaretName);
        FCaretPart = 0;
    }
    const int into = FCaretPart;
    TznRelationships& rels = RelsOf(into);
    // Relationship ids of the copy mean the same here only in the part it was copied from.
    const bool samePart = picture.SourceDocument == FSerial && picture.SourcePart == PartNameOf(into).Key();
    TznRendered rendered = picture.Rendered;
    if (pasteType == picture.AlsoRenderedType) {
        rendered = picture.AlsoRendered;
    } else if (pasteType != picture.Request.PasteType) {
        TznRenderRequest request = picture.Request;
        request.PasteType = pasteType;
        try {
            rendered = RenderPicture(request);
        } catch (const std::exception&) {
            // The copy already rendered this picture once; that rendering stands.
        }
    }
    // The server never makes a picture larger: when the new encoding is not smaller the
    // original goes back as it was, bytes and crop.
    const bool useNew = !rendered.Bytes.isEmpty() && rendered.Bytes.size() < picture.Request.Bytes.size();
    QString relId;
    if (useNew) {
        // One rendering pasted in several places of a part is stored once, under one
        // relationship.
        const QString pasted = QString::number(into) + QLatin1Char('|')
                               + QString::fromLatin1(QCryptographicHash::hash(rendered.Bytes, QCryptographicHash::Sha256).toHex());
        const auto known = FPastedMedia.constFind(pasted);
        const auto rel = known == FPastedMedia.constEnd() ? std::nullopt : rels.ById(*known);
        if (rel && !rel->External && FPackage->Has(PartNameOf(into).Resolve(rel->Target))) {
            relId = *known;
        } else {
            relId = NewMediaPart(rendered.Bytes, rendered.Extension, rendered.ContentType, into);
            FPastedMedia.insert(pasted, relId);
        }
    } else if (samePart && rels.ById(picture.OriginalRelId)) {
        relId = picture.OriginalRelId;
    } else {
        relId = NewMediaPart(picture.Request.Bytes, picture.OriginalExtension, picture.OriginalContentType, into);
    }
    // A text box's fallback copy of the replaced picture shows the new one too.
    if (samePart)
        FollowInFallback(picture, relId, useNew);
    else
        FCaretFallback = {};
    if (samePart && picture.Frame)
        if (const pugi::xml_node inserted = PasteRecordedFrame(picture, relId, useNew))
            return FinishPaste(inserted);
    QString linkId;
    if (picture.HasHyperlink) {
        if (samePart && rels.ById(picture.HyperlinkRelId)) {
            linkId = picture.HyperlinkRelId;
        } else {
            linkId = rels.Add(QLatin1String(ZnNs::R) + QStringLiteral("/hyperlink"), picture.HyperlinkTarget,
                              picture.HyperlinkExternal);
            RelsChangedIn(into);
        }
    }
    int docPrId = 1;
    for (int used : DocPrIds())
        docPrId = std::max(docPrId, used + 1);
    DocPrIds().insert(docPrId);

    const QString cx = QString::number(picture.Cx), cy = QString::number(picture.Cy);
    QString docPr = QStringLiteral("<wp:docPr id=\"%1\" name=\"%2\"").arg(docPrId).arg(xmlEscape(picture.Name.isEmpty() ? QStringLiteral("Picture %1").arg(docPrId) : picture.Name));
    if (!picture.Descr.isEmpty()) docPr += QStringLiteral(" descr=\"%1\"").arg(xmlEscape(picture.Descr));
    if (!picture.Title.isEmpty()) docPr += QStringLiteral(" title=\"%1\"").arg(xmlEscape(picture.Title));
    if (!linkId.isEmpty()) {
        docPr += QStringLiteral("><a:hlinkClick r:id=\"%1\"").arg(xmlEscape(linkId));
        if (!picture.HyperlinkTooltip.isEmpty()) docPr += QStringLiteral(" tooltip=\"%1\"").arg(xmlEscape(picture.HyperlinkTooltip));
        docPr += QStringLiteral("/></wp:docPr>");
    } else {
        docPr += QStringLiteral("/>");
    }
    QString srcRect;
    if (!useNew && !(picture.SrcRect[0] + picture.SrcRect[1] + picture.SrcRect[2] + picture.SrcRect[3]).isEmpty()) {
        const char* sides[4] = {"l", "t", "r", "b"};
        srcRect = QStringLiteral("<a:srcRect");
        for (int i = 0; i < 4; ++i)
            if (!picture.SrcRect[i].isEmpty())
                srcRect += QStringLiteral(" %1=\"%2\"").arg(QLatin1String(sides[i]), xmlEscape(picture.SrcRect[i]));
        srcRect += QStringLiteral("/>");
    }
    QString xfrm = QStringLiteral("<a:xfrm");
    if (!picture.Rot.isEmpty()) xfrm += QStringLiteral(" rot=\"%1\"").arg(xmlEscape(picture.Rot));
    if (!picture.FlipH.isEmpty()) xfrm += QStringLiteral(" flipH=\"%1\"").arg(xmlEscape(picture.FlipH));
    if (!picture.FlipV.isEmpty()) xfrm += QStringLiteral(" flipV=\"%1\"").arg(xmlEscape(picture.FlipV));
    xfrm += QStringLiteral(">");

    const QString wPrefix = QString::fromUtf8(XmlOf(into).document_element().name()).section(QLatin1Char(':'), 0, -2);
    const QString drawingName = wPrefix.isEmpty() ? QStringLiteral("drawing") : wPrefix + QStringLiteral(":drawing");
    const QString xml = QStringLiteral(
        "<%1 xmlns:%2=\"%3\" xmlns:wp=\"%4\" xmlns:a=\"%5\" xmlns:pic=\"%6\" xmlns:r=\"%7\">"
        "<wp:inline%15><wp:extent cx=\"%8\" cy=\"%9\"/>%16%10"
        "<wp:cNvGraphicFramePr><a:graphicFrameLocks noChangeAspect=\"1\"/></wp:cNvGraphicFramePr>"
        "<a:graphic><a:graphicData uri=\"%6\"><pic:pic><pic:nvPicPr><pic:cNvPr id=\"0\" name=\"%11\"/><pic:cNvPicPr/></pic:nvPicPr>"
        "<pic:blipFill><a:blip r:embed=\"%12\"/>%13<a:stretch><a:fillRect/></a:stretch></pic:blipFill>"
        "<pic:spPr>%14<a:off x=\"0\" y=\"0\"/><a:ext cx=\"%8\" cy=\"%9\"/></a:xfrm>"
        "<a:prstGeom prst=\"rect\"><a:avLst/></a:prstGeom></pic:spPr></pic:pic></a:graphicData></a:graphic></wp:inline></%1>")
        .arg(drawingName, wPrefix.isEmpty() ? QStringLiteral("w") : wPrefix, QLatin1String(ZnNs::W), QLatin1String(ZnNs::WP),
             QLatin1String(ZnNs::A), QLatin1String(kUriPicture), QLatin1String(ZnNs::R), cx, cy)
        .arg(docPr, xmlEscape(picture.Name.isEmpty() ? QStringLiteral("Picture") : picture.Name), xmlEscape(relId), srcRect, xfrm,
             picture.FrameDist, picture.EffectExtent);
    pugi::xml_document fragment;
    const QByteArray utf8 = xml.toUtf8();
    fragment.load_buffer(utf8.constData(), size_t(utf8.size()), pugi::parse_default);
    // A drawing lives in a run; a caret outside one (alternate content at paragraph level)
    // gets a run of its own.
    pugi::xml_node host = FCaret.parent();
    pugi::xml_node before = FCaret;
    if (!IsElement(host, ZnNs::W, "r")) {
        const std::string runName = (wPrefix.isEmpty() ? QStringLiteral("r") : wPrefix + QStringLiteral(":r")).toStdString();
        host = host.insert_child_before(runName.c_str(), FCaret);
        before = pugi::xml_node();
    }
    pugi::xml_node inserted = before ? host.insert_copy_before(fragment.document_element(), before)
                                     : host.append_copy(fragment.document_element());
    // Declarations already in scope are not repeated.
    const pugi::xml_node root = XmlOf(into).document_element();
    for (pugi::xml_attribute a = inserted.first_attribute(); a;) {
        pugi::xml_attribute next = a.next_attribute();
        if (std::strncmp(a.name(), "xmlns:", 6) == 0 && std::strcmp(root.attribute(a.name()).value(), a.value()) == 0)
            inserted.remove_attribute(a);
        a = next;
    }
    return FinishPaste(inserted);
}

int TznWordDocument::FinishPaste(pugi::xml_node inserted)
{
    FCaret.parent().remove_child(FCaret);
    FCaret = pugi::xml_node();
    Touch(FCaretPart);
    FCaretPart = 0;
    Collect();
    return FIdOfNode.value(inserted.internal_object());
}

pugi::xml_node TznWordDocument::PasteRecordedFrame(const TznClipPicture& picture, const QString& relId, bool useNew)
{
    TznFrameEdit edit;
    edit.OldRelIds = picture.FramePictureRelIds;
    edit.NewRelId = relId;
    edit.DropCrop = useNew;
    // The other relationships the frame names (hyperlink, image layers, an SVG) are
    // normally still there; one that went since the copy is made again, and a frame whose
    // part went with it is not pasted.
    for (auto it = picture.FrameRels.constBegin(); it != picture.FrameRels.constEnd(); ++it) {
        const auto rel = RelsOf(FCaretPart).ById(it.key());
        if (rel && rel->Target == it->Target && rel->External == it->External)
            continue;
        if (!it->External && !FPackage->Has(PartNameOf(FCaretPart).Resolve(it->Target)))
            return pugi::xml_node();
        edit.Rels.insert(it.key(), RelsOf(FCaretPart).Add(it->Type, it->Target, it->External));
        RelsChangedIn(FCaretPart);
    }
    edit.UsedDocPrIds = DocPrIds();
    pugi::xml_node parent = FCaret.parent();
    pugi::xml_node before = FCaret;
    // A drawing and a VML picture live in a run; alternate content may stand in a paragraph.
    if (!IsElement(parent, ZnNs::W, "r") && !IsElement(picture.Frame->document_element(), ZnNs::MC, "AlternateContent")) {
        const QString wPrefix = QString::fromUtf8(XmlOf(FCaretPart).document_element().name()).section(QLatin1Char(':'), 0, -2);
        const std::string runName = (wPrefix.isEmpty() ? QStringLiteral("r") : wPrefix + QStringLiteral(":r")).toStdString();
        parent = parent.insert_child_before(runName.c_str(), FCaret);
        before = pugi::xml_node();
    }
    const pugi::xml_node inserted = PasteFrame(*picture.Frame, parent, before, edit);
    for (pugi::xpath_node n : inserted.select_nodes(".//*[local-name()='docPr']"))
        DocPrIds().insert(n.node().attribute("id").as_int(0));
    return inserted;
}

void TznWordDocument::SaveAs(const QString& path, int fileFormat, const TznMediaRecodeOptions& recode)
{
    if (fileFormat == 0)
        throw EznError(QStringLiteral("Cannot save \"%1\": the legacy binary Word format (.doc) needs LibreOffice.").arg(label(path)));
    if (fileFormat != -1 && (fileFormat < 12 || fileFormat > 16))
        throw EznError(QStringLiteral("Cannot save \"%1\": the file format %2 is not supported.").arg(label(path)).arg(fileFormat));
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
    bool storiesChanged = false;
    auto saveStoryParts = [&] {
        for (size_t i = 1; i < FParts.size(); ++i) {
            TznStoryPart& part = *FParts[i];
            if (!part.Changed)
                continue;
            storiesChanged = true;
            const TznMediaCleanup cleanup = RemoveUnusedMedia(part.Xml, part.Name, RelsOf(int(i)), *FPackage, ContentTypes(), FRemovedTargets);
            part.RelsChanged = part.RelsChanged || cleanup.RelsChanged;
            FTypesChanged = FTypesChanged || cleanup.TypesChanged;
            FPackage->Write(part.Name, SaveXml(part.Xml));
            if (part.RelsChanged)
                FPackage->Write(part.Name.RelsName(), RelsOf(int(i)).Save());
        }
    };
    saveStoryParts();
    if (FMainChanged) {
        const TznMediaCleanup cleanup = RemoveUnusedMedia(FMain, FMainPart, MainRels(), *FPackage, ContentTypes(), FRemovedTargets);
        FRelsChanged = FRelsChanged || cleanup.RelsChanged;
        FTypesChanged = FTypesChanged || cleanup.TypesChanged;
        FPackage->Write(FMainPart, SaveXml(FMain));
    }
    if (storiesChanged) {
        if (FRelsChanged)
            FPackage->Write(FMainPart.RelsName(), MainRels().Save());
        saveStoryParts();
    }
    if (FMainChanged || storiesChanged)
        FRemovedTargets.clear();
    if (caretParent) {
        FCaret = caretNext ? caretParent.insert_child_before(pugi::node_pi, caretNext) : caretParent.append_child(pugi::node_pi);
        FCaret.set_name(kCaretName);
        FStale = true;
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
        FInfoOfPart.clear();
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
    FPackage->SaveAs(path);
    FFullName = QFileInfo(path).absoluteFilePath();
    // Saving may drop or rewrite media parts.
    ForgetMedia();
}
