#include "ui/znDocslimMain.h"

#include <QAction>
#include <QPushButton>
#include <QTreeWidget>

TznFrmDocslimMain::TznFrmDocslimMain(QWidget* parent)
    : TznFrmMain(TznDeferCreate{}, parent)
{
    setObjectName(QStringLiteral("znFrmDocslimMain"));
    bSourceFile->setToolTip(QStringLiteral("Choose file(s) and click \"Compact\" to compact them"));
    bTarget->setToolTip(QStringLiteral("Choose a target folder to save the compacted file(s)"));
    aConvert->setText(QStringLiteral("&Compact"));
    bCreate->SetHint(QStringLiteral("Compact the file(s) instantly"));
    bView->SetHint(QStringLiteral("View the compact result"));
    lViewer->setToolTip(QStringLiteral("Drag & drop file(s) here and click \"Compact\" to compact them"));
    FormCreate();
}
