#pragma once

#include <QDialog>
#include <QFont>

// The base of every window: the small sans-serif face of the program, the
// button-face colour, an initial size of 1200 x 600 centred on the screen,
// tool tips shown. Escape and Enter have no meaning of their own here; a
// window that wants them handles them itself.
class TznFrmBase : public QDialog
{
    Q_OBJECT
public:
    explicit TznFrmBase(QWidget* parent = nullptr);

    // Tahoma at 11 pixels where it exists, else the nearest sans-serif face
    // at the same pixel size.
    static QFont BaseFont();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    bool FCentred = false;
};

class QPushButton;
class QRect;

// A push button named name at a fixed place of parent; Enter does not press it.
QPushButton* MakeButton(QWidget* parent, const char* name, const QString& text, const QRect& geometry);
