#include "ui/znFormAbout.h"

#include "project/znProject.h"

#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>

namespace {

QFont verdana(int pixelSize, bool bold)
{
    QFont font;
    font.setFamilies({QStringLiteral("Verdana"), QStringLiteral("DejaVu Sans"),
                      QStringLiteral("Liberation Sans")});
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(pixelSize);
    font.setBold(bold);
    return font;
}

QLabel* makeLabel(QWidget* parent, const char* name, const QRect& geometry, const QFont& font)
{
    auto* label = new QLabel(parent);
    label->setObjectName(QLatin1String(name));
    label->setGeometry(geometry);
    label->setFont(font);
    // Plain text and no buddy: an "&" in the text is shown as itself.
    label->setTextFormat(Qt::PlainText);
    label->setAttribute(Qt::WA_TranslucentBackground);
    QPalette pal = label->palette();
    pal.setColor(QPalette::WindowText, QColor(221, 221, 221));
    label->setPalette(pal);
    return label;
}

} // namespace

TznFrmAbout::TznFrmAbout(QWidget* mainForm, QWidget* parent)
    : TznFrmBase(parent), FMainForm(mainForm)
{
    setObjectName(QStringLiteral("znFrmAbout"));
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    setFixedSize(472, 243);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, QColor(0, 85, 255));
    setPalette(pal);
    setFont(verdana(11, false));
    setWindowOpacity(200.0 / 255.0);

    img = new QLabel(this);
    img->setObjectName(QStringLiteral("img"));
    img->setGeometry(40, 40, 80, 80);
    img->setAttribute(Qt::WA_TranslucentBackground);

    lblProduct = makeLabel(this, "lblProduct", QRect(163, 40, 250, 50), verdana(21, true));
    lblProduct->setAlignment(Qt::AlignCenter);
    lblProduct->setWordWrap(true);
    lblVersion = makeLabel(this, "lblVersion", QRect(176, 96, 224, 16), verdana(13, true));
    lblVersion->setAlignment(Qt::AlignCenter);
    lblCopright = makeLabel(this, "lblCopright", QRect(184, 208, 264, 16), verdana(13, false));
    lblCopright->setText(QStringLiteral("\u00A9 2024 Leafpress Software"));

    for (QWidget* w : {static_cast<QWidget*>(img), static_cast<QWidget*>(lblProduct),
                       static_cast<QWidget*>(lblVersion), static_cast<QWidget*>(lblCopright)})
        w->installEventFilter(this);
}

void TznFrmAbout::ShowAbout()
{
    if (FShowCount > 0)
        exec();
    else if (FMainForm && Project && Project->PureConsole())
        FMainForm->setWindowOpacity(0.0);
    ++FShowCount;
}

void TznFrmAbout::FormShow()
{
    if (lblProduct->text().isEmpty() && Project) {
        lblProduct->setText(Project->Title);
        lblVersion->setText(Project->Version);
    }
    ++FShowCount;
}

void TznFrmAbout::FormClick()
{
    if (FShowCount > 1)
        accept();
}

void TznFrmAbout::showEvent(QShowEvent* event)
{
    TznFrmBase::showEvent(event);
    FormShow();
}

void TznFrmAbout::keyPressEvent(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Shift:
    case Qt::Key_Control:
    case Qt::Key_Alt:
    case Qt::Key_Meta:
    case Qt::Key_AltGr:
        event->ignore();
        return;
    default:
        FormClick();
    }
}

void TznFrmAbout::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton)
        FormClick();
}

bool TznFrmAbout::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::MouseButtonRelease
        && static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        FormClick();
        return true;
    }
    return TznFrmBase::eventFilter(watched, event);
}
