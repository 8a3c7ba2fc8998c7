#include "ui/znDocslimAbout.h"

#include <QIcon>
#include <QLabel>

TznFrmDocslimAbout::TznFrmDocslimAbout(QWidget* mainForm, QWidget* parent)
    : TznFrmAbout(mainForm, parent)
{
    setObjectName(QStringLiteral("znFrmDocslimAbout"));
    img->setGeometry(16, 16, 128, 128);
    img->setPixmap(QIcon(QStringLiteral(":/ui/images/product.svg")).pixmap(128, 128));
}
