#include "ui/znFormBase.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QPalette>
#include <QPushButton>
#include <QScreen>

// Resources of a static library must be registered by hand.
static void initUiResources()
{
    static const bool done = [] {
        Q_INIT_RESOURCE(znImages);
        return true;
    }();
    (void)done;
}

TznFrmBase::TznFrmBase(QWidget* parent)
    : QDialog(parent)
{
    initUiResources();
    setObjectName(QStringLiteral("znFrmBase"));
    setFont(BaseFont());
    QPalette pal = palette();
    pal.setColor(QPalette::Window, pal.color(QPalette::Button));
    setPalette(pal);
    setAutoFillBackground(true);
    setSizeGripEnabled(false);
    resize(1200, 600);
}

QFont TznFrmBase::BaseFont()
{
    QFont font;
    font.setFamilies({QStringLiteral("Tahoma"), QStringLiteral("DejaVu Sans"),
                      QStringLiteral("Liberation Sans"), QStringLiteral("Arial")});
    font.setStyleHint(QFont::SansSerif);
    font.setPixelSize(11);
    return font;
}

void TznFrmBase::keyPressEvent(QKeyEvent* event)
{
    // QDialog would reject on Escape and click a default button on Enter;
    // these windows have neither a cancel nor a default button.
    QWidget::keyPressEvent(event);
}

void TznFrmBase::showEvent(QShowEvent* event)
{
    if (!FCentred) {
        FCentred = true;
        if (QScreen* screen = QGuiApplication::primaryScreen()) {
            QRect frame = frameGeometry();
            frame.moveCenter(screen->availableGeometry().center());
            move(frame.topLeft());
        }
    }
    QDialog::showEvent(event);
}

QPushButton* MakeButton(QWidget* parent, const char* name, const QString& text, const QRect& geometry)
{
    auto* button = new QPushButton(text, parent);
    button->setObjectName(QLatin1String(name));
    button->setGeometry(geometry);
    button->setAutoDefault(false);
    return button;
}
