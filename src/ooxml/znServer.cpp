#include "ooxml/znServer.h"

#include "ooxml/znAutoObject.h"
#include "ooxml/znClipboard.h"
#include "ooxml/znLegacyDocument.h"
#include "ooxml/znWebDocument.h"
#include "ooxml/znWordDocument.h"
#include "platform/znPath.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSet>
#include <QTemporaryDir>
#include <QTemporaryFile>

namespace {

// One open document of an application.
struct TznDocEntry
{
    // The downloaded copy of a web document, kept while the model may read it.
    std::unique_ptr<QTemporaryFile> Download;
    std::unique_ptr<TznWordDocument> Model;
    // A legacy document's model is a converted copy: the name the caller sees, and the
    // private folder of the copy.
    QString ShownName;
    std::unique_ptr<QTemporaryDir> Scratch;

    QString FullName() const { return ShownName.isEmpty() ? Model->FullName() : ShownName; }
    void Drop()
    {
        Model.reset();
        Scratch.reset();
        Download.reset();
    }
};

// What one application object and all the objects reached from it share.
struct TznServerState
{
    bool Visible = false;
    int WindowState = 0;
    int DisplayAlerts = -1;
    bool UpdateFieldsAtPrint = true;
    bool UpdateLinksAtPrint = true;
    int Resolution = 150;
    int Quality = 85;
    // The lossless pass over the media on save, and the paste type that decides
    // whether photographs stored losslessly may become JPEG in it.
    bool RecompressMedia = false;
    int RecompressType = 13;
    QList<std::shared_ptr<TznDocEntry>> Documents;
    TznLegacyBridge Legacy;
    // The selection: a shape of a document, or (with no shape) that document's caret.
    std::weak_ptr<TznDocEntry> SelectionDocument;
    int SelectionShape = 0;
    // A picture rendered ahead of its copy: a caller that finds a picture
    // shown below its size in both directions copies it next, and usually
    // does so under a lock it shares with other workers, so the expensive
    // rendering is done here, before that lock is taken. Either the result
    // or the error the rendering raised.
    std::weak_ptr<TznDocEntry> PreparedDocument;
    int PreparedShape = 0;
    int PreparedResolution = 0, PreparedQuality = 0;
    std::shared_ptr<TznClipPicture> Prepared;
    std::exception_ptr PreparedError;
    // The data type of the last paste: a caller pastes all its pictures alike, so the
    // rendering ahead is made for it too, and the paste renders nothing.
    int LastPasteType = 13;

    TznMediaRecodeOptions Recode() const { return {RecompressMedia, Quality, RecompressType}; }

    void DropPrepared()
    {
        PreparedDocument.reset();
        PreparedShape = 0;
        Prepared.reset();
        PreparedError = nullptr;
    }
};
using TznState = std::shared_ptr<TznServerState>;

TznWordDocument& modelOf(const std::shared_ptr<TznDocEntry>& entry)
{
    if (!entry || !entry->Model)
        throw EznError(QStringLiteral("Object has been deleted."));
    return *entry->Model;
}

QString executableFolder()
{
    QString path;
    if (QCoreApplication::instance())
        path = QCoreApplication::applicationDirPath();
    else
        path = QFileInfo(QFileInfo(QStringLiteral("/proc/self/exe")).symLinkTarget()).absolutePath();
    return QDir::toNativeSeparators(path);
}

class TznOxShape : public TznAutoObject
{
public:
    TznOxShape(TznState state, std::shared_ptr<TznDocEntry> doc, int id) : FState(std::move(state)), FDoc(std::move(doc)), FId(id) {}

protected:
    enum { mType = 1, mScaleWidth, mScaleHeight, mSelect, mDelete, mEffectiveResolution };
    const QStringList& Members() const override
    {
        static const QStringList names{"Type", "ScaleWidth", "ScaleHeight", "Select", "Delete", "EffectiveResolution"};
        return names;
    }
    TznVariant Call(int id, int flags, const QList<TznVariant>& args, const TznVariant*) override
    {
        TznWordDocument& model = modelOf(FDoc);
        switch (id) {
        case mType: CheckGet(flags, args); return model.TypeOf(FId);
        case mScaleWidth: CheckGet(flags, args); return model.ScaleOf(FId, true);
        case mScaleHeight: {
            CheckGet(flags, args);
            const double scale = model.ScaleOf(FId, false);
            if (scale < 100 && shownBelowSizeAcross(model))
                prepare(model);
            return scale;
        }
        case mEffectiveResolution: {
            // Read-only: pixels per inch of the picture on the page, the lowest over every
            // place that shows its media.
            CheckGet(flags, args);
            const double density = model.EffectiveResolutionOf(FId);
            // A caller re-inserts a picture well above the resolution; one
            // barely above would gain too little to be worth rendering ahead.
            if (density > FState->Resolution * 1.1)
                prepare(model);
            return density;
        }
        case mSelect:
            CheckCall(flags, args, 0, 1);
            if (!model.IsAlive(FId))
                throw EznError(QStringLiteral("Object has been deleted."));
            FState->SelectionDocument = FDoc;
            FState->SelectionShape = FId;
            return {};
        case mDelete:
            CheckCall(flags, args, 0, 0);
            model.Delete(FId);
            if (FState->PreparedShape == FId && FState->PreparedDocument.lock() == FDoc)
                FState->DropPrepared();
            // The selection stays at the place the shape had.
            if (FState->SelectionDocument.lock() == FDoc || FState->SelectionShape == FId) {
                FState->SelectionDocument = FDoc;
                FState->SelectionShape = 0;
            }
            return {};
        }
        throw EznError(ZnDispError::MemberNotFound());
    }

private:
    bool shownBelowSizeAcross(TznWordDocument& model)
    {
        try {
            return model.ScaleOf(FId, true) < 100;
        } catch (...) {
            return false;
        }
    }
    void prepare(TznWordDocument& model)
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
            FState->Prepared = model.CopyPicture(FId, FState->Resolution, FState->Quality, FState->LastPasteType);
        } catch (...) {
            FState->PreparedError = std::current_exception();
        }
    }

    TznState FState;
    std::shared_ptr<TznDocEntry> FDoc;
    int FId;
};

class TznOxShapes : public TznAutoObject
{
public:
    // story: the root of a story of the document; nullptr is the main text.
    TznOxShapes(TznState state, std::shared_ptr<TznDocEntry> doc, bool anchored, const void* story = nullptr)
        : FState(std::move(state)), FDoc(std::move(doc)), FAnchored(anchored), FStory(story) {}

protected:
    enum { mCount = 1, mItem };
    const QStringList& Members() const override
    {
        static const QStringList names{"Count", "Item"};
        return names;
    }
    TznVariant Call(int id, int flags, const QList<TznVariant>& args, const TznVariant*) override
    {
        const QList<int> ids = modelOf(FDoc).DrawingIdsIn(FStory, FAnchored);
        if (id == mCount) {
            CheckGet(flags, args);
            return int(ids.size());
        }
        CheckCall(flags, args, 1, 1);
        const int index = args[0].ToInt();
        if (index < 1 || index > ids.size())
            throw EznError(QStringLiteral("The requested member of the collection does not exist."));
        return TznVariant(std::make_shared<TznOxShape>(FState, FDoc, ids[index - 1]));
    }

private:
    TznState FState;
    std::shared_ptr<TznDocEntry> FDoc;
    bool FAnchored;
    const void* FStory;
};

// One story of a document: its own inline and floating collections, and the next story of
// the same type (the next section's header, the next text box).
class TznOxRange : public TznAutoObject
{
public:
    TznOxRange(TznState state, std::shared_ptr<TznDocEntry> doc, int type, const void* story)
        : FState(std::move(state)), FDoc(std::move(doc)), FType(type), FStory(story) {}

protected:
    enum { mStoryType = 1, mInlineShapes, mShapeRange, mNextStoryRange };
    const QStringList& Members() const override
    {
        static const QStringList names{"StoryType", "InlineShapes", "ShapeRange", "NextStoryRange"};
        return names;
    }
    TznVariant Call(int id, int flags, const QList<TznVariant>& args, const TznVariant*) override
    {
        CheckGet(flags, args);
        switch (id) {
        case mStoryType: return FType;
        case mInlineShapes: return TznVariant(std::make_shared<TznOxShapes>(FState, FDoc, false, FStory));
        case mShapeRange: return TznVariant(std::make_shared<TznOxShapes>(FState, FDoc, true, FStory));
        case mNextStoryRange: {
            const auto stories = modelOf(FDoc).Stories();
            bool past = false;
            for (const auto& story : stories) {
                if (past && story.Type == FType)
                    return TznVariant(std::make_shared<TznOxRange>(FState, FDoc, story.Type, story.Root));
                past = past || story.Root == FStory;
            }
            // Nothing: the last story of its type.
            return TznVariant(std::shared_ptr<IznDispatch>());
        }
        }
        throw EznError(ZnDispError::MemberNotFound());
    }

private:
    TznState FState;
    std::shared_ptr<TznDocEntry> FDoc;
    int FType;
    const void* FStory;
};

// The stories of a document by type: Item(type) is the first story of that type.
class TznOxStoryRanges : public TznAutoObject
{
public:
    TznOxStoryRanges(TznState state, std::shared_ptr<TznDocEntry> doc) : FState(std::move(state)), FDoc(std::move(doc)) {}

protected:
    enum { mCount = 1, mItem };
    const QStringList& Members() const override
    {
        static const QStringList names{"Count", "Item"};
        return names;
    }
    TznVariant Call(int id, int flags, const QList<TznVariant>& args, const TznVariant*) override
    {
        const auto stories = modelOf(FDoc).Stories();
        if (id == mCount) {
            CheckGet(flags, args);
            QSet<int> types;
            for (const auto& story : stories)
                types.insert(story.Type);
            return int(types.size());
        }
        CheckCall(flags, args, 1, 1);
        const int type = args[0].ToInt();
        for (const auto& story : stories)
            if (story.Type == type)
                return TznVariant(std::make_shared<TznOxRange>(FState, FDoc, story.Type, story.Root));
        throw EznError(QStringLiteral("The requested member of the collection does not exist."));
    }

private:
    TznState FState;
    std::shared_ptr<TznDocEntry> FDoc;
};

class TznOxDocument : public TznAutoObject
{
public:
    TznOxDocument(TznState state, std::shared_ptr<TznDocEntry> doc) : FState(std::move(state)), FDoc(std::move(doc)) {}

protected:
    enum { mHasVBProject = 1, mClose, mSaveAs, mSaveAs2, mInlineShapes, mShapes, mFullName, mName, mDownloadedFile, mStoryRanges };
    const QStringList& Members() const override
    {
        static const QStringList names{"HasVBProject", "Close", "SaveAs", "SaveAs2", "InlineShapes", "Shapes", "FullName", "Name",
                                       "DownloadedFile", "StoryRanges"};
        return names;
    }
    TznVariant Call(int id, int flags, const QList<TznVariant>& args, const TznVariant*) override
    {
        TznWordDocument& model = modelOf(FDoc);
        switch (id) {
        case mHasVBProject: CheckGet(flags, args); return model.HasVBProject();
        case mClose: {
            CheckCall(flags, args, 0, 3);
            const TznVariant save = Arg(args, 0);
            if (!save.IsOmitted() && save.ToBool() && QFileInfo(FDoc->FullName()).isAbsolute()) {
                if (FDoc->ShownName.isEmpty())
                    model.SaveAs(model.FullName(), -1, FState->Recode());
                else
                    SaveLegacyDocument(model, FDoc->ShownName, FState->Legacy);
            }
            Close();
            return {};
        }
        case mSaveAs:
        case mSaveAs2: {
            CheckCall(flags, args, 1, 16);
            const TznVariant format = Arg(args, 1);
            const int code = format.IsOmitted() || format.IsEmpty() ? -1 : format.ToInt();
            if (code == 0) {
                SaveLegacyDocument(model, args[0].ToText(), FState->Legacy);
                FDoc->ShownName = QFileInfo(args[0].ToText()).absoluteFilePath();
            } else {
                model.SaveAs(args[0].ToText(), code, FState->Recode());
                FDoc->ShownName.clear();
            }
            return {};
        }
        case mInlineShapes: CheckGet(flags, args); return TznVariant(std::make_shared<TznOxShapes>(FState, FDoc, false));
        case mShapes: CheckGet(flags, args); return TznVariant(std::make_shared<TznOxShapes>(FState, FDoc, true));
        case mFullName: CheckGet(flags, args); return FDoc->FullName();
        case mName: CheckGet(flags, args); return QFileInfo(FDoc->FullName()).fileName();
        // The local copy a web document was read from, while it is open
        // (empty for a local file): its size and bytes are the source's.
        case mDownloadedFile: CheckGet(flags, args); return FDoc->Download ? FDoc->Download->fileName() : QString();
        case mStoryRanges: CheckGet(flags, args); return TznVariant(std::make_shared<TznOxStoryRanges>(FState, FDoc));
        }
        throw EznError(ZnDispError::MemberNotFound());
    }

private:
    void Close()
    {
        if (FState->SelectionDocument.lock() == FDoc) {
            FState->SelectionDocument.reset();
            FState->SelectionShape = 0;
        }
        FState->Documents.removeAll(FDoc);
        FDoc->Drop();
    }

    TznState FState;
    std::shared_ptr<TznDocEntry> FDoc;
};

class TznOxDocuments : public TznAutoObject
{
public:
    explicit TznOxDocuments(TznState state) : FState(std::move(state)) {}

protected:
    enum { mOpen = 1, mAdd, mCount };
    const QStringList& Members() const override
    {
        static const QStringList names{"Open", "Add", "Count"};
        return names;
    }
    TznVariant Call(int id, int flags, const QList<TznVariant>& args, const TznVariant*) override
    {
        auto entry = std::make_shared<TznDocEntry>();
        switch (id) {
        case mOpen:
            // FileName, ConfirmConversions, ReadOnly, AddToRecentFiles, PasswordDocument, ...
            CheckCall(flags, args, 1, 16);
            open(*entry, args[0].ToText());
            break;
        case mAdd: {
            // Template, NewTemplate, DocumentType, Visible: a template that
            // cannot be read fails as Open of it does, never as an empty
            // document in its place.
            CheckCall(flags, args, 0, 4);
            const TznVariant templ = Arg(args, 0);
            if (templ.IsOmitted() || templ.IsEmpty() || templ.ToText().isEmpty())
                entry->Model = TznWordDocument::CreateNew();
            else
                open(*entry, templ.ToText());
            break;
        }
        case mCount:
            CheckGet(flags, args);
            return int(FState->Documents.size());
        default:
            throw EznError(ZnDispError::MemberNotFound());
        }
        FState->Documents.append(entry);
        FState->SelectionDocument = entry;
        FState->SelectionShape = 0;
        return TznVariant(std::make_shared<TznOxDocument>(FState, entry));
    }

private:
    // A file, or a web document fetched into a temporary file first.
    // Opens a local file or a downloaded copy of a web document; a legacy
    // document is converted into a private package first. The caller keeps
    // seeing the name it gave.
    void open(TznDocEntry& entry, const QString& name)
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

class TznOxOptions : public TznAutoObject
{
public:
    explicit TznOxOptions(TznState state) : FState(std::move(state)) {}

protected:
    enum { mUpdateFieldsAtPrint = 1, mUpdateLinksAtPrint, mPictureResolution, mPictureQuality, mRecompressMedia, mRecompressType };
    const QStringList& Members() const override
    {
        static const QStringList names{"UpdateFieldsAtPrint", "UpdateLinksAtPrint", "PictureResolution", "PictureQuality",
                                       "RecompressMedia", "RecompressType"};
        return names;
    }
    TznVariant Call(int id, int flags, const QList<TznVariant>& args, const TznVariant* put) override
    {
        const bool isPut = CheckGetPut(flags, args, put);
        auto ranged = [&](int& field, int low, int high) -> TznVariant {
            if (!isPut)
                return field;
            const int value = put->ToInt();
            if (value < low || value > high)
                throw EznError(QStringLiteral("Value out of range."));
            field = value;
            return {};
        };
        switch (id) {
        case mUpdateFieldsAtPrint:
            if (!isPut) return FState->UpdateFieldsAtPrint;
            FState->UpdateFieldsAtPrint = put->ToBool();
            return {};
        case mUpdateLinksAtPrint:
            if (!isPut) return FState->UpdateLinksAtPrint;
            FState->UpdateLinksAtPrint = put->ToBool();
            return {};
        case mPictureResolution: return ranged(FState->Resolution, 1, 2400);
        case mPictureQuality: return ranged(FState->Quality, 1, 100);
        case mRecompressMedia:
            if (!isPut) return FState->RecompressMedia;
            FState->RecompressMedia = put->ToBool();
            return {};
        case mRecompressType:
            if (!isPut) return FState->RecompressType;
            FState->RecompressType = put->ToInt();
            return {};
        }
        throw EznError(ZnDispError::MemberNotFound());
    }

private:
    TznState FState;
};

class TznOxSelection : public TznAutoObject
{
public:
    explicit TznOxSelection(TznState state) : FState(std::move(state)) {}

protected:
    enum { mCopy = 1, mPasteSpecial };
    const QStringList& Members() const override
    {
        static const QStringList names{"Copy", "PasteSpecial"};
        return names;
    }
    TznVariant Call(int id, int flags, const QList<TznVariant>& args, const TznVariant*) override
    {
        auto doc = FState->SelectionDocument.lock();
        if (id == mCopy) {
            CheckCall(flags, args, 0, 0);
            TznWordDocument& model = modelOf(doc);
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
            return {};
        }
        // IconIndex, Link, Placement, DisplayAsIcon, DataType, ...: the picture comes back in
        // its own frame when it goes back into its document, else inline, in the format the
        // data type selects.
        CheckCall(flags, args, 0, 7);
        const TznVariant type = Arg(args, 4);
        const int dataType = type.IsOmitted() || type.IsEmpty() ? 13 : type.ToInt();
        FState->LastPasteType = dataType;
        const auto picture = ZnClipboard::Picture();
        if (!picture)
            throw EznError(QStringLiteral("The clipboard is empty."));
        TznWordDocument& model = modelOf(doc);
        // A selected shape is replaced by what is pasted.
        if (FState->SelectionShape != 0 && model.IsAlive(FState->SelectionShape))
            model.Delete(FState->SelectionShape);
        FState->SelectionShape = model.Paste(*picture, dataType);
        return {};
    }

private:
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

class TznOxApplication : public TznAutoObject
{
public:
    TznOxApplication() : FState(std::make_shared<TznServerState>()) {}
    ~TznOxApplication() override { Quit(); }

protected:
    enum { mVersion = 1, mVisible, mWindowState, mDisplayAlerts, mDocuments, mOptions, mSelection, mPath, mQuit, mName };
    const QStringList& Members() const override
    {
        static const QStringList names{"Version", "Visible", "WindowState", "DisplayAlerts", "Documents",
                                       "Options", "Selection", "Path", "Quit", "Name"};
        return names;
    }
    TznVariant Call(int id, int flags, const QList<TznVariant>& args, const TznVariant* put) override
    {
        switch (id) {
        case mVersion: CheckGet(flags, args); return QString::fromLatin1(OoxmlServerVersion);
        case mVisible:
            if (!CheckGetPut(flags, args, put)) return FState->Visible;
            FState->Visible = put->ToBool();
            return {};
        case mWindowState:
            if (!CheckGetPut(flags, args, put)) return FState->WindowState;
            FState->WindowState = put->ToInt();
            return {};
        case mDisplayAlerts:
            if (!CheckGetPut(flags, args, put)) return FState->DisplayAlerts;
            FState->DisplayAlerts = put->ToInt();
            return {};
        case mDocuments: CheckGet(flags, args); return TznVariant(std::make_shared<TznOxDocuments>(FState));
        case mOptions: CheckGet(flags, args); return TznVariant(std::make_shared<TznOxOptions>(FState));
        case mSelection: CheckGet(flags, args); return TznVariant(std::make_shared<TznOxSelection>(FState));
        case mPath: CheckGet(flags, args); return executableFolder();
        case mQuit: CheckCall(flags, args, 0, 3); Quit(); return {};
        case mName: CheckGet(flags, args); return QStringLiteral("Leafpress document server");
        }
        throw EznError(ZnDispError::MemberNotFound());
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
