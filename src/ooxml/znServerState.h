#pragma once

#include "automation/znVariant.h"
#include "ooxml/znClipboard.h"
#include "ooxml/znLegacyDocument.h"
#include "ooxml/znWordDocument.h"

#include <QList>
#include <QString>
#include <QTemporaryDir>
#include <QTemporaryFile>

#include <exception>
#include <memory>

// The state the document server's automation objects share; private to the server's units.

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
    // Embedded fonts subset to the document's characters on save.
    bool SubsetFonts = false;
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

    TznMediaRecodeOptions Recode() const { return {RecompressMedia, Quality, RecompressType, SubsetFonts}; }

    void DropPrepared()
    {
        PreparedDocument.reset();
        PreparedShape = 0;
        Prepared.reset();
        PreparedError = nullptr;
    }
};
using TznState = std::shared_ptr<TznServerState>;

// The document's model; "Object has been deleted." once the document was closed.
inline TznWordDocument& ModelOf(const std::shared_ptr<TznDocEntry>& entry)
{
    if (!entry || !entry->Model)
        throw EznError(QStringLiteral("Object has been deleted."));
    return *entry->Model;
}

// A document's collection of drawings: the floating ones (anchored) or the inline ones of
// its main text.
TznVariant NewOxShapes(TznState state, std::shared_ptr<TznDocEntry> doc, bool anchored);
// A document's stories by type.
TznVariant NewOxStoryRanges(TznState state, std::shared_ptr<TznDocEntry> doc);
