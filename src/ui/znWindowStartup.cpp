#include "ui/znWindowStartup.h"

#include "info/znInfo.h"
#include "platform/znError.h"
#include "project/znProject.h"
#include "ui/znDocslimAbout.h"
#include "ui/znDocslimMain.h"
#include "ui/znRunControl.h"

#include <QIcon>
#include <QTreeWidget>

#include <memory>

TznApplication::TznApplication(int& argc, char** argv)
    : QApplication(argc, argv)
{
}

bool TznApplication::notify(QObject* receiver, QEvent* event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& error) {
        HandleException(receiver, error);
    } catch (...) {
        HandleException(receiver, EznError(QStringLiteral("Unknown error")));
    }
    return false;
}

void TznApplication::HandleException(QObject* receiver, const std::exception& error)
{
    // The handler itself must not let anything escape into Qt's event loop.
    try {
        if (TznInfo* handler = TznInfo::ExceptionHandler())
            handler->AppException(receiver, error);
    } catch (...) {
        // Reporting failed too; there is nobody left to tell, and the event
        // loop must go on.
    }
}

TznStartedWindows::~TznStartedWindows()
{
    About.reset();
    Main.reset();
}

std::unique_ptr<TznStartedWindows> StartWindows(const QStringList& sources)
{
    auto windows = std::make_unique<TznStartedWindows>();
    windows->Main = std::make_unique<TznFrmDocslimMain>();
    QGuiApplication::setWindowIcon(QIcon(QStringLiteral(":/ui/images/product.svg")));
    windows->About = std::make_unique<TznFrmDocslimAbout>(windows->Main.get());
    windows->Main->SetAboutBox(windows->About.get());
    windows->About->ShowAbout();
    windows->Main->show();
    // Documents a file manager opens together: each gets its row, none is
    // dropped in silence.
    if (!sources.isEmpty())
        windows->Main->WMDropFiles(sources, windows->Main->lViewer);
    return windows;
}

int RunWindow(int& argc, char** argv, const QStringList& sources)
{
    TznApplication app(argc, argv);
    // The application's title is its name. A display name would not do: Qt
    // appends it to every window title that does not end with it, and the
    // main window's caption already begins with the product name.
    if (Project)
        QCoreApplication::setApplicationName(Project->Title);
    auto windows = StartWindows(sources);
    const int status = app.exec();
    // An unattended run ends with the status the runner would give it.
    const auto* run = windows->Main->findChild<TznRunControl*>();
    const int runStatus = run ? run->ExitStatus() : 0;
    windows.reset();
    return status != 0 ? status : runStatus;
}
