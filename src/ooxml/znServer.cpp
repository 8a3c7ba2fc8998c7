#include "ooxml/znServer.h"

#include "ooxml/znAutoObject.h"
#include "ooxml/znServerState.h"
#include "ooxml/znWebDocument.h"
#include "platform/znPath.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace {

QString executableFolder()
{
    QString path;
    if (QCoreApplication::instance())
        path = QCoreApplication::applicationDirPath();
    else
        path = QFileInfo(QFileInfo(QStringLiteral("/proc/self/exe")).symLinkTarget()).absolutePath();
    return QDir::toNativeSeparators(path);
}

class TznOxDocument : public TznAutoTable<TznOxDocument>
{
public:
    TznOxDocument(TznState state, std::shared_ptr<TznDocEntry> doc) : FState(std::move(state)), FDoc(std::move(doc)) {}

    static std::span<const Member> Members()
    {
        static const Member members[] = {
            Get("HasVBProject", [](auto& s, auto&) { return s.model().HasVBProject(); }),
            Method("Close", 0, 3, [](auto& s, auto& call) { s.close(call.Arg(0)); }),
            Method("SaveAs", 1, 16, [](auto& s, auto& call) { s.saveAs(call); }),
            Method("SaveAs2", 1, 16, [](auto& s, auto& call) { s.saveAs(call); }),
            Get("InlineShapes", [](auto& s, auto&) { return NewOxShapes(s.FState, s.FDoc, false); }),
            Get("Shapes", [](auto& s, auto&) { return NewOxShapes(s.FState, s.FDoc, true); }),
            Get("FullName", [](auto& s, auto&) { return s.FDoc->FullName(); }),
            Get("Name", [](auto& s, auto&) { return QFileInfo(s.FDoc->FullName()).fileName(); }),
            // The local copy a web document was read from, while it is open
            // (empty for a local file): its size and bytes are the source's.
            Get("DownloadedFile", [](auto& s, auto&) { return s.FDoc->Download ? s.FDoc->Download->fileName() : QString(); }),
            Get("StoryRanges", [](auto& s, auto&) { return NewOxStoryRanges(s.FState, s.FDoc); }),
        };
        return members;
    }

protected:
    void Enter() override { ModelOf(FDoc); }

private:
    TznWordDocument& model() const { return ModelOf(FDoc); }

    void close(const TznVariant& save)
    {
        TznWordDocument& doc = model();
        if (!save.IsOmitted() && save.ToBool() && QFileInfo(FDoc->FullName()).isAbsolute()) {
            if (FDoc->ShownName.isEmpty())
                doc.SaveAs(doc.FullName(), -1, FState->Recode());
            else
                SaveLegacyDocument(doc, FDoc->ShownName, FState->Legacy);
        }
        if (FState->SelectionDocument.lock() == FDoc) {
            FState->SelectionDocument.reset();
            FState->SelectionShape = 0;
        }
        FState->Documents.removeAll(FDoc);
        FDoc->Drop();
    }
    void saveAs(const TznCall& call)
    {
        const TznVariant format = call.Arg(1);
        const int code = format.IsOmitted() || format.IsEmpty() ? -1 : format.ToInt();
        const QString name = call.Args[0].ToText();
        if (code == 0) {
            SaveLegacyDocument(model(), name, FState->Legacy);
            FDoc->ShownName = QFileInfo(name).absoluteFilePath();
        } else {
            model().SaveAs(name, code, FState->Recode());
            FDoc->ShownName.clear();
        }
    }

    TznState FState;
    std::shared_ptr<TznDocEntry> FDoc;
};

class TznOxDocuments : public TznAutoTable<TznOxDocuments>
{
public:
    explicit TznOxDocuments(TznState state) : FState(std::move(state)) {}

    static std::span<const Member> Members()
    {
        static const Member members[] = {
            // FileName, ConfirmConversions, ReadOnly, AddToRecentFiles, PasswordDocument, ...
            Method("Open", 1, 16, [](auto& s, auto& call) { return s.open(call.Args[0].ToText()); }),
            // Template, NewTemplate, DocumentType, Visible.
            Method("Add", 0, 4, [](auto& s, auto& call) { return s.add(call.Arg(0)); }),
            Get("Count", [](auto& s, auto&) { return int(s.FState->Documents.size()); }),
        };
        return members;
    }

private:
    TznVariant open(const QString& name)
    {
        auto entry = std::make_shared<TznDocEntry>();
        load(*entry, name);
        return adopt(entry);
    }
    // A template that cannot be read fails as Open of it does, never as an
    // empty document in its place.
    TznVariant add(const TznVariant& templ)
    {
        auto entry = std::make_shared<TznDocEntry>();
        if (templ.IsOmitted() || templ.IsEmpty() || templ.ToText().isEmpty())
            entry->Model = TznWordDocument::CreateNew();
        else
            load(*entry, templ.ToText());
        return adopt(entry);
    }
    TznVariant adopt(const std::shared_ptr<TznDocEntry>& entry)
    {
        FState->Documents.append(entry);
        FState->SelectionDocument = entry;
        FState->SelectionShape = 0;
        return TznVariant(std::make_shared<TznOxDocument>(FState, entry));
    }
    // Opens a local file or a downloaded copy of a web document; a legacy
    // document is converted into a private package first. The caller keeps
    // seeing the name it gave.
    void load(TznDocEntry& entry, const QString& name)
    {
        QString local = name;
        if (IsWebAddress(name)) {
            entry.Download = DownloadDocument(name, ServerDownloadLimits(TznPackageLimits().MaxTotalSize));
            local = entry.Download->fileName();
        }
        try {
            if (IsLegacyWordDocument(local)) {
                entry.Model = OpenLegacyDocument(local, FState->Legacy, entry.Scratch);
                entry.ShownName = name;
            } else {
                entry.Model = TznWordDocument::Open(local);
            }
        } catch (const EznError& e) {
            if (local == name)
                throw;
            // The message names the address the caller gave, not our copy,
            // and without the user name and password it may hold.
            const QString shown = WithoutCredentials(name);
            QString message = e.Message();
            message.replace(QDir::toNativeSeparators(local), shown);
            message.replace(local, shown);
            throw EznError(message);
        }
    }

    TznState FState;
};

class TznOxOptions : public TznAutoTable<TznOxOptions>
{
public:
    explicit TznOxOptions(TznState state) : FState(std::move(state)) {}

    static std::span<const Member> Members()
    {
        static const Member members[] = {
            GetPut("UpdateFieldsAtPrint", [](auto& s, auto& call) { return Field(s.FState->UpdateFieldsAtPrint, call); }),
            GetPut("UpdateLinksAtPrint", [](auto& s, auto& call) { return Field(s.FState->UpdateLinksAtPrint, call); }),
            GetPut("PictureResolution", [](auto& s, auto& call) { return Field(s.FState->Resolution, call, 1, 2400); }),
            GetPut("PictureQuality", [](auto& s, auto& call) { return Field(s.FState->Quality, call, 1, 100); }),
            GetPut("RecompressMedia", [](auto& s, auto& call) { return Field(s.FState->RecompressMedia, call); }),
            GetPut("RecompressType", [](auto& s, auto& call) { return Field(s.FState->RecompressType, call); }),
            GetPut("SubsetFonts", [](auto& s, auto& call) { return Field(s.FState->SubsetFonts, call); }),
        };
        return members;
    }

private:
    TznState FState;
};

class TznOxSelection : public TznAutoTable<TznOxSelection>
{
public:
    explicit TznOxSelection(TznState state) : FState(std::move(state)) {}

    static std::span<const Member> Members()
    {
        static const Member members[] = {
            Method("Copy", 0, 0, [](auto& s, auto&) { s.copy(); }),
            // IconIndex, Link, Placement, DisplayAsIcon, DataType, ...
            Method("PasteSpecial", 0, 7, [](auto& s, auto& call) { s.pasteSpecial(call.Arg(4)); }),
        };
        return members;
    }

private:
    void copy()
    {
        const auto doc = FState->SelectionDocument.lock();
        TznWordDocument& model = ModelOf(doc);
        if (FState->SelectionShape == 0 || !model.IsAlive(FState->SelectionShape))
            throw EznError(QStringLiteral("The selection holds no picture that can be copied."));
        // A failed copy leaves nothing on the clipboard that a later paste could mistake
        // for this picture.
        try {
            ZnClipboard::SetPicture(takePrepared(doc, model));
        } catch (...) {
            ZnClipboard::Clear();
            throw;
        }
    }
    // The picture comes back in its own frame when it goes back into its document, else
    // inline, in the format the data type selects.
    void pasteSpecial(const TznVariant& type)
    {
        const auto doc = FState->SelectionDocument.lock();
        const int dataType = type.IsOmitted() || type.IsEmpty() ? 13 : type.ToInt();
        FState->LastPasteType = dataType;
        const auto picture = ZnClipboard::Picture();
        if (!picture)
            throw EznError(QStringLiteral("The clipboard is empty."));
        TznWordDocument& model = ModelOf(doc);
        // A selected shape is replaced by what is pasted.
        if (FState->SelectionShape != 0 && model.IsAlive(FState->SelectionShape))
            model.Delete(FState->SelectionShape);
        FState->SelectionShape = model.Paste(*picture, dataType);
    }
    // The selected picture rendered for the clipboard: the one rendered
    // ahead when it is this picture at the same settings, else rendered now.
    std::shared_ptr<TznClipPicture> takePrepared(const std::shared_ptr<TznDocEntry>& doc, TznWordDocument& model)
    {
        const bool same = FState->PreparedShape == FState->SelectionShape && FState->PreparedDocument.lock() == doc
                          && FState->PreparedResolution == FState->Resolution
                          && FState->PreparedQuality == FState->Quality;
        std::shared_ptr<TznClipPicture> prepared = same ? FState->Prepared : nullptr;
        const std::exception_ptr error = same ? FState->PreparedError : nullptr;
        FState->DropPrepared();
        if (error)
            std::rethrow_exception(error);
        if (prepared)
            return prepared;
        return model.CopyPicture(FState->SelectionShape, FState->Resolution, FState->Quality, FState->LastPasteType);
    }

    TznState FState;
};

class TznOxApplication : public TznAutoTable<TznOxApplication>
{
public:
    TznOxApplication() : FState(std::make_shared<TznServerState>()) {}
    ~TznOxApplication() override { Quit(); }

    static std::span<const Member> Members()
    {
        static const Member members[] = {
            Get("Version", [](auto&, auto&) { return QString::fromLatin1(OoxmlServerVersion); }),
            GetPut("Visible", [](auto& s, auto& call) { return Field(s.FState->Visible, call); }),
            GetPut("WindowState", [](auto& s, auto& call) { return Field(s.FState->WindowState, call); }),
            GetPut("DisplayAlerts", [](auto& s, auto& call) { return Field(s.FState->DisplayAlerts, call); }),
            Get("Documents", [](auto& s, auto&) { return TznVariant(std::make_shared<TznOxDocuments>(s.FState)); }),
            Get("Options", [](auto& s, auto&) { return TznVariant(std::make_shared<TznOxOptions>(s.FState)); }),
            Get("Selection", [](auto& s, auto&) { return TznVariant(std::make_shared<TznOxSelection>(s.FState)); }),
            Get("Path", [](auto&, auto&) { return executableFolder(); }),
            Method("Quit", 0, 3, [](auto& s, auto&) { s.Quit(); }),
            Get("Name", [](auto&, auto&) { return QStringLiteral("Leafpress document server"); }),
        };
        return members;
    }

private:
    // Quitting closes every document without saving.
    void Quit()
    {
        for (const auto& doc : FState->Documents)
            doc->Drop();
        FState->Documents.clear();
        FState->Legacy.Quit();
        FState->SelectionDocument.reset();
        FState->SelectionShape = 0;
    }

    TznState FState;
};

} // namespace

std::shared_ptr<IznDispatch> CreateOoxmlApplication()
{
    return std::make_shared<TznOxApplication>();
}
