#include "ui/znDocslimMain.h"

#include "project/znProject.h"

TznFrmDocslimMain::TznFrmDocslimMain(QWidget* parent)
    : QMainWindow(parent)
{
    setObjectName(QStringLiteral("znFrmMain"));
    resize(1200, 600);
    setWindowTitle(Project ? Project->Title + QStringLiteral(" - None") : QString());
}
