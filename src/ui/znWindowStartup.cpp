#include "ui/znWindowStartup.h"

#include "info/znInfo.h"
#include "platform/znError.h"
#include "project/znProject.h"
#include "ui/znDocslimAbout.h"
#include "ui/znDocslimMain.h"

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
        if (Info)
            ; // MERGE: Info->AppException(receiver, error);
    } catch (...) {
    }
}

int RunWindow(int& argc, char** argv)
{
    TznApplication app(argc, argv);
    if (Project)
        QGuiApplication::setApplicationDisplayName(Project->Title);
    auto mainWindow = std::make_unique<TznFrmDocslimMain>();
    auto about = std::make_unique<TznFrmDocslimAbout>(mainWindow.get());
    mainWindow->SetAboutBox(about.get());
    about->ShowAbout();
    mainWindow->show();
    const int status = app.exec();
    about.reset();
    mainWindow.reset();
    return status;
}
