#include "word/znDocslim.h"

#include "automation/znOle.h"
#include "engine/znBatch.h"
#include "platform/znError.h"
#include "platform/znLocalPath.h"
#include "platform/znPath.h"
#include "project/znFileUtils.h"
#include "project/znProject.h"
#include "word/znRenderCheck.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

// Object-model type codes of a picture in each collection.
constexpr int wdInlineShapePicture = 3;
constexpr int msoPicture = 13;
// Story types of the object model: the main text is treated through the
// document's own collections; every other story through its story ranges.
constexpr int wdMainTextStory = 1;
constexpr int wdLastStoryType = 11;
// A picture is re-inserted for its density only when it is this much above
// the resolution: below that the new encoding would gain too little.
constexpr double kOverResolutionMargin = 1.10;

// The batch lock for exactly one scope, released also when a call fails.
class TznNodesLock
{
public:
    explicit TznNodesLock(TznBatch* batch) : FBatch(batch) { FBatch->LockNodes(); }
    ~TznNodesLock() { FBatch->UnlockNodes(); }
    TznNodesLock(const TznNodesLock&) = delete;
    TznNodesLock& operator=(const TznNodesLock&) = delete;

private:
    TznBatch* FBatch;
};

} // namespace

TznDocslim::TznDocslim(TznBatch* batch, int count, const TznNodeEvent& onFileDone)
    : TznWordOle(batch, count, onFileDone)
{
    FDocToDocx = Project->DocToDocx();
}

TznConvertor* TznDocslim::Create(TznBatch* batch, int count, const TznNodeEvent& onFileDone)
{
    return new TznDocslim(batch, count, onFileDone);
}

namespace {

// A picture deleted and not pasted back: the document has lost it, so its
// conversion fails instead of saving what is left. Every pass lets it through.
class EznPictureLost : public EznError
{
public:
    using EznError::EznError;
};

// Runs a step that needs members another word processor may lack, or that
// a damaged collection or picture may fail: its errors skip the step, but a
// picture lost on the way ends the document.
template <typename F>
void skippable(F&& step)
{
    try {
        step();
    } catch (const EznPictureLost&) {
        throw;
    } catch (...) {
        // what the step would have done stays undone
    }
}

QString messageOf(const std::exception& e)
{
    const auto* own = dynamic_cast<const EznError*>(&e);
    return own ? own->Message() : QString::fromLocal8Bit(e.what());
}

} // namespace

void TznDocslim::passPictureSettings()
{
    // Members of the built-in server; another word processor lacks them and
    // keeps its own picture handling.
    try {
        const TznVariant options = OleGet(FApp, QStringLiteral("Options"));
        try {
            OlePut(options, QStringLiteral("PictureResolution"), TznVariant(Project->Resolution()));
        } catch (...) {
            // the server renders at its own resolution
        }
        try {
            OlePut(options, QStringLiteral("PictureQuality"), TznVariant(Project->Quality()));
        } catch (...) {
            // the server encodes at its own quality
        }
        if (Project->SubsetFonts()) {
            try {
                OlePut(options, QStringLiteral("SubsetFonts"), TznVariant(true));
            } catch (...) {
                // the server keeps its embedded fonts whole
            }
        }
        // The lossless pass on save of the built-in server; the paste type
        // chooses whether photographs stored losslessly may become JPEG.
        if (FRecompress) {
            try {
                OlePut(options, QStringLiteral("RecompressMedia"), TznVariant(true));
            } catch (...) {
                // the server saves its media as they are
            }
            try {
                OlePut(options, QStringLiteral("RecompressType"), TznVariant(FPasteType));
            } catch (...) {
                // the server keeps its own choice of photograph encoding
            }
        }
    } catch (...) {
        // a word processor without these options compacts with its own settings
    }
}

QString TznDocslim::sourceCopy(const QString& source) const
{
    if (!source.startsWith(QStringLiteral("http://"), Qt::CaseInsensitive)
        && !source.startsWith(QStringLiteral("https://"), Qt::CaseInsensitive))
        return source;
    // A member of the built-in server; with another word processor a web
    // source has no size here, and its result is kept as it is.
    try {
        return OleGet(FDoc, QStringLiteral("DownloadedFile")).ToText();
    } catch (...) {
        return QString();
    }
}

void TznDocslim::ConvertFile(TznBatch* batch, TznNode* node)
{
    const QString target = TargetPath(batch, node);
    if (target.isEmpty())
        return;
    FPasteType = Project->Type();
    FRecompress = Project->Recompress();
    FVerify = Project->Verify();
    // The result is written beside the target under a name of its own and
    // replaces the target only when it is complete and smaller: an older
    // target, or the source itself when compacting in place, stays as it
    // was until then, and for good when the save fails or gains nothing.
    QString work;
    try {
        OpenDocument(node->Path);
        passPictureSettings();
        try {
            skippable([&] {
                CompactPictures(OleGet(FDoc, QStringLiteral("InlineShapes")), wdInlineShapePicture);
                CompactPictures(OleGet(FDoc, QStringLiteral("Shapes")), msoPicture);
            });
            if (FRecompress) {
                // Each pass needs members another word processor may lack: an
                // error skips that pass only.
                skippable([&] {
                    CompactDensePictures(OleGet(FDoc, QStringLiteral("InlineShapes")), wdInlineShapePicture);
                    CompactDensePictures(OleGet(FDoc, QStringLiteral("Shapes")), msoPicture);
                });
                skippable([&] { CompactStories(); });
            }
        } catch (const EznPictureLost& e) {
            throw EznError(QStringLiteral("Cannot compact \"%1\": %2").arg(WithoutCredentials(node->Path), e.Message()));
        }
        // Measured before anything is written: in place, the target is the
        // source. A web source is measured by the server's downloaded copy,
        // which goes when the document closes.
        const QString sourceFile = sourceCopy(node->Path);
        const qint64 sourceSize = TznFileUtils::FileSizeOf(sourceFile);
        RemoveStaleWork(FolderPart(target));
        work = WorkPath(target);
        try {
            if (!FDocToDocx && FVersion >= 12 && ExtractFileExt(target) == QStringLiteral(".doc"))
                OleCall(FDoc, QStringLiteral("SaveAs"), {TznVariant(work), TznVariant(0)});
            else
                OleCall(FDoc, QStringLiteral("SaveAs"), {TznVariant(work)});
        } catch (const EznError& e) {
            // The name under which the result is written first is ours; the
            // user asked for the target.
            QString message = e.Message();
            message.replace(QDir::toNativeSeparators(work), target);
            message.replace(work, target);
            throw EznError(message);
        }
        const bool saved = QFileInfo(work).isFile();
        const qint64 savedSize = saved ? TznFileUtils::FileSizeOf(work) : 0;

        QString prefix;
        QString keptWhy;
        bool keepSource = false;
        if (saved && sourceSize != 0) {
            qint64 percentage = savedSize * 100 / sourceSize;
            if (percentage >= 100)
                keepSource = true;
            // A smaller result replaces its target only when it shows what its source
            // shows; the source's bytes stand otherwise, as when nothing was gained.
            else if (FVerify != TznVerify::Off) {
                const bool render = FVerify == TznVerify::On || IsLegacyBinaryDocument(sourceFile);
                keptWhy = ResultDifference(sourceFile, work, render, Project->VerifyPsnr(),
                                           WithoutCredentials(node->Path), target);
                keepSource = !keptWhy.isEmpty();
            }
            if (keepSource)
                percentage = 99;
            prefix = QStringLiteral("[%1%] ").arg(percentage);
            node->SourceSize = sourceSize;
            node->TargetSize = keepSource ? sourceSize : savedSize;
        }
        // The source's bytes take the result's place, and then replace the
        // target as a result would; in place they are already there.
        const bool inPlace = keepSource && IsSameFile(node->Path, target);
        QString reason;
        if (keepSource && !inPlace && !TznFileUtils::CopyFileOver(sourceFile, work, &reason))
            throw EznError(QStringLiteral("Cannot copy \"%1\" over \"%2\": %3").arg(WithoutCredentials(node->Path), target, reason));
        CloseDocument();
        if (!saved)
            throw EznError(QStringLiteral("Cannot save \"%1\": the word processor wrote no file.").arg(target));

        if (inPlace) {
            QFile::remove(work);
        } else {
            // The source's times go with the result before it replaces the
            // source, since in place they cannot be read afterwards.
            if (Project->KeepFileTime())
                CopyFileTimes(node->Path, work);
            if (!TznFileUtils::ReplaceFile(work, target, &reason))
                throw EznError(keepSource ? QStringLiteral("Cannot copy \"%1\" over \"%2\": %3").arg(WithoutCredentials(node->Path), target, reason)
                                          : QStringLiteral("Cannot save \"%1\": %2").arg(target, reason));
        }
        work.clear();
        const QString note = FinishSource(batch, node, target);
        const QString kept = keptWhy.isEmpty() ? QString() : QStringLiteral(" (kept as it was: %1)").arg(keptWhy);
        node->Message = ReadableLocalPath(prefix + target + kept + note);
        node->Status = nsSuccess;
        batch->AddSuccess();
    } catch (const std::exception& e) {
        node->Message = ReadableLocalPath(messageOf(e));
        node->Status = nsFailure;
        batch->AddFailure(node->Message);
    }
    CloseDocument();
    if (!work.isEmpty())
        QFile::remove(work);
}

void TznDocslim::CompactStories()
{
    const TznVariant stories = OleGet(FDoc, QStringLiteral("StoryRanges"));
    for (int type = wdMainTextStory + 1; type <= wdLastStoryType; ++type) {
        TznVariant story;
        try {
            story = OleCall(stories, QStringLiteral("Item"), {TznVariant(type)});
        } catch (...) {
            continue; // the document has no story of this type
        }
        // Each story of the type once: the sections' headers, the text boxes.
        while (!story.IsEmpty()) {
            skippable([&] { CompactDensePictures(OleGet(story, QStringLiteral("InlineShapes")), wdInlineShapePicture, true); });
            skippable([&] { CompactDensePictures(OleGet(story, QStringLiteral("ShapeRange")), msoPicture, true); });
            story = OleGet(story, QStringLiteral("NextStoryRange"));
        }
    }
}

void TznDocslim::CompactDensePictures(const TznVariant& collection, int shapeType, bool alsoReduced)
{
    const int count = OleGet(collection, QStringLiteral("Count")).ToInt();
    const double threshold = Project->Resolution() * kOverResolutionMargin;
    for (int i = count; i >= 1; --i) {
        skippable([&] {
            const TznVariant shape = OleCall(collection, QStringLiteral("Item"), {TznVariant(i)});
            if (OleGet(shape, QStringLiteral("Type")).ToInt() != shapeType)
                return;
            // Outside the main text the pictures shown below their size are
            // this pass's too, when their media is above the resolution at
            // all: a copy at the same pixels would only duplicate shared media.
            bool reduced = false;
            if (alsoReduced) {
                skippable([&] {
                    reduced = OleGet(shape, QStringLiteral("ScaleWidth")).ToDouble() < 100
                              && OleGet(shape, QStringLiteral("ScaleHeight")).ToDouble() < 100;
                });
            }
            const double density = OleGet(shape, QStringLiteral("EffectiveResolution")).ToDouble();
            if (density > threshold || (reduced && density > Project->Resolution()))
                ReinsertPicture(shape);
        });
    }
}

void TznDocslim::ReinsertPicture(const TznVariant& shape)
{
    // One clipboard for every worker: copy and paste of one picture must
    // not interleave with another worker's.
    TznNodesLock lock(FBatch);
    OleCall(shape, QStringLiteral("Select"));
    OleCall(OleGet(FApp, QStringLiteral("Selection")), QStringLiteral("Copy"));
    OleCall(shape, QStringLiteral("Delete"));
    try {
        OleCall(OleGet(FApp, QStringLiteral("Selection")), QStringLiteral("PasteSpecial"),
                {TznVariant(0), TznVariant(0), TznVariant(0), TznVariant(0), TznVariant(FPasteType)});
    } catch (const std::exception& e) {
        throw EznPictureLost(QStringLiteral("a picture was removed and could not be put back (%1); nothing was saved.")
                                 .arg(messageOf(e)));
    }
}

void TznDocslim::CompactPictures(const TznVariant& collection, int shapeType)
{
    const int count = OleGet(collection, QStringLiteral("Count")).ToInt();
    if (count < 1)
        return;
    for (int i = count; i >= 1; --i) {
        skippable([&] {
            const TznVariant shape = OleCall(collection, QStringLiteral("Item"), {TznVariant(i)});
            if (OleGet(shape, QStringLiteral("Type")).ToInt() == shapeType
                && OleGet(shape, QStringLiteral("ScaleWidth")).ToDouble() < 100
                && OleGet(shape, QStringLiteral("ScaleHeight")).ToDouble() < 100)
                ReinsertPicture(shape);
        });
    }
}
