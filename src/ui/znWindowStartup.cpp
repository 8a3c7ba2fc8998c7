#include "ui/znWindowStartup.h"

#include "info/znInfo.h"
#include "platform/znError.h"
#include "project/znProject.h"
#include "ui/znDocslimAbout.h"
#include "ui/znDocslimMain.h"
#include "ui/znRunControl.h"

#include <QIcon>

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

int RunWindow(int& argc, char** argv)
{
    TznApplication app(argc, argv);
    // The application's title is its name. A display name would not do: Qt
    // appends it to every window title that does not end with it, and the
    // main window's caption already begins with the product name.
    if (Project)
        QCoreApplication::setApplicationName(Project->Title);
    auto mainWindow = std::make_unique<TznFrmDocslimMain>();
    QGuiApplication::setWindowIcon(QIcon(QStringLiteral(":/ui/images/product.svg")));
    auto about = std::make_unique<TznFrmDocslimAbout>(mainWindow.get());
    mainWindow->SetAboutBox(about.get());
    about->ShowAbout();
    mainWindow->show();
    const int status = app.exec();
    // An unattended run ends with the status the runner would give it.
    const auto* run = mainWindow->findChild<TznRunControl*>();
    const int runStatus = run ? run->ExitStatus() : 0;
    about.reset();
    mainWindow.reset();
    return status != 0 ? status : runStatus;
}
