#include "ooxml/znClipboard.h"

#include <QMutex>
#include <QMutexLocker>

namespace {
QMutex& clipboardLock()
{
    static QMutex lock;
    return lock;
}
std::shared_ptr<const TznClipPicture>& clipboardPicture()
{
    static std::shared_ptr<const TznClipPicture> picture;
    return picture;
}
} // namespace

void ZnClipboard::SetPicture(std::shared_ptr<const TznClipPicture> picture)
{
    QMutexLocker lock(&clipboardLock());
    clipboardPicture() = std::move(picture);
}

std::shared_ptr<const TznClipPicture> ZnClipboard::Picture()
{
    QMutexLocker lock(&clipboardLock());
    return clipboardPicture();
}

void ZnClipboard::Clear() { SetPicture(nullptr); }
