#include "word/znDocslim.h"

#include "automation/znOle.h"
#include "engine/znBatch.h"
#include "platform/znError.h"
#include "platform/znPath.h"
#include "project/znFileUtils.h"
#include "project/znProject.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace {

// Object-model type codes of a picture in each collection.
constexpr int wdInlineShapePicture = 3;
constexpr int msoPicture = 13;

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

bool CopyFileOver(const QString& source, const QString& target)
{
    QFile in(source);
    if (!in.open(QIODevice::ReadOnly))
        return false;
    QSaveFile out(target);
    if (!out.open(QIODevice::WriteOnly))
        return false;
    char buf[1 << 16];
    for (;;) {
        const qint64 n = in.read(buf, sizeof buf);
        if (n < 0)
            return false;
        if (n == 0)
            break;
        if (out.write(buf, n) != n)
            return false;
    }
    return out.commit();
}

TznDocslim::TznDocslim(TznBatch* batch, int count, const TznNodeEvent& onFileDone)
    : TznWordOle(batch, count, onFileDone)
{
    FDocToDocx = TextToBool(Project->GetOption(QStringLiteral("DocToDocx")), true);
}

TznConvertor* TznDocslim::Create(TznBatch* batch, int count, const TznNodeEvent& onFileDone)
{
    return new TznDocslim(batch, count, onFileDone);
}

void TznDocslim::passPictureSettings()
{
    // Members of the built-in server; another word processor lacks them and
    // keeps its own picture handling.
    try {
        const TznVariant options = OleGet(FApp, QStringLiteral("Options"));
        try {
            OlePut(options, QStringLiteral("PictureResolution"), TznVariant(Project->Resolution()));
        } catch (...) {
        }
        try {
            OlePut(options, QStringLiteral("PictureQuality"), TznVariant(Project->Quality()));
        } catch (...) {
        }
    } catch (...) {
    }
}

void TznDocslim::ConvertFile(TznBatch* batch, TznNode* node)
{
    const QString target = TargetPath(batch, node);
    if (target.isEmpty())
        return;
    FPasteType = TextToInt(Project->GetOption(QStringLiteral("Type")), 13);
    try {
        OpenDocument(node->Path);
        passPictureSettings();
        try {
            CompactPictures(OleGet(FDoc, QStringLiteral("InlineShapes")), wdInlineShapePicture);
            CompactPictures(OleGet(FDoc, QStringLiteral("Shapes")), msoPicture);
        } catch (...) {
        }
        DeleteTarget(target);
        if (!FDocToDocx && FVersion >= 12 && ExtractFileExt(target) == QStringLiteral(".doc"))
            OleCall(FDoc, QStringLiteral("SaveAs"), {TznVariant(target), TznVariant(0)});
        else
            OleCall(FDoc, QStringLiteral("SaveAs"), {TznVariant(target)});

        QString prefix;
        const qint64 sourceSize = TznFileUtils::FileSizeOf(node->Path);
        if (sourceSize != 0) {
            const qint64 targetSize = TznFileUtils::FileSizeOf(target);
            qint64 percentage = targetSize * 100 / sourceSize;
            if (percentage >= 100) {
                CloseDocument();
                CopyFileOver(node->Path, target);
                percentage = 99;
            }
            prefix = QStringLiteral("[%1%] ").arg(percentage);
            node->SourceSize = sourceSize;
            node->TargetSize = qMin(targetSize, sourceSize);
        }
        CloseDocument();
        FinishSource(batch, node, target);
        node->Message = prefix + target;
        node->Status = nsSuccess;
        batch->AddSuccess();
    } catch (const std::exception& e) {
        const QString message = dynamic_cast<const EznError*>(&e)
                                    ? static_cast<const EznError&>(e).Message()
                                    : QString::fromLocal8Bit(e.what());
        node->Message = message;
        node->Status = nsFailure;
        batch->AddFailure(message);
    }
    CloseDocument();
}

void TznDocslim::CompactPictures(const TznVariant& collection, int shapeType)
{
    const int count = OleGet(collection, QStringLiteral("Count")).ToInt();
    if (count < 1)
        return;
    for (int i = count; i >= 1; --i) {
        try {
            const TznVariant shape = OleCall(collection, QStringLiteral("Item"), {TznVariant(i)});
            if (OleGet(shape, QStringLiteral("Type")).ToInt() != shapeType)
                continue;
            if (!(OleGet(shape, QStringLiteral("ScaleWidth")).ToDouble() < 100))
                continue;
            if (!(OleGet(shape, QStringLiteral("ScaleHeight")).ToDouble() < 100))
                continue;
            // One clipboard for every worker: copy and paste of one picture
            // must not interleave with another worker's.
            TznNodesLock lock(FBatch);
            OleCall(shape, QStringLiteral("Select"));
            OleCall(OleGet(FApp, QStringLiteral("Selection")), QStringLiteral("Copy"));
            OleCall(shape, QStringLiteral("Delete"));
            OleCall(OleGet(FApp, QStringLiteral("Selection")), QStringLiteral("PasteSpecial"),
                    {TznVariant(0), TznVariant(0), TznVariant(0), TznVariant(0), TznVariant(FPasteType)});
        } catch (...) {
        }
    }
}
