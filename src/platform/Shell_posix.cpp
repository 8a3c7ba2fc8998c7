#include "platform/znShell.h"

#include <QDesktopServices>
#include <QFileInfo>
#include <QGuiApplication>
#include <QProcess>
#include <QStandardPaths>
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
        // Without xdg-open there is nothing to do. Its own messages would
        // land in whatever the caller's terminal or pipe shows next.
        const QString opener = QStandardPaths::findExecutable(QStringLiteral("xdg-open"));
        if (opener.isEmpty())
            return false;
        QProcess process;
        process.setProgram(opener);
        process.setArguments({link});
        process.setStandardInputFile(QProcess::nullDevice());
        process.setStandardOutputFile(QProcess::nullDevice());
        process.setStandardErrorFile(QProcess::nullDevice());
        return process.startDetached();
    }
};

} // namespace

IznShell& DefaultShell()
{
    static TznPosixShell shell;
    return shell;
}
