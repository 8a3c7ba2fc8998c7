#include "platform/znShell.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QGuiApplication>
#include <QProcess>
#include <QUrl>

namespace {

class TznPosixShell : public IznShell
{
public:
    bool Open(const QString& link) override
    {
        if (link.isEmpty())
            return false;
        // In the window the desktop services pick the handler; the console
        // runner has no GUI application, so it asks xdg-open directly.
        if (qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
            const QUrl url = QFileInfo::exists(link) ? QUrl::fromLocalFile(link) : QUrl(link);
            return QDesktopServices::openUrl(url);
        }
        return QProcess::startDetached(QStringLiteral("xdg-open"), {link});
    }
};

} // namespace

IznShell& DefaultShell()
{
    static TznPosixShell shell;
    return shell;
}
