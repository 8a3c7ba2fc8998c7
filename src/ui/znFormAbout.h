#pragma once

#include "ui/znFormBase.h"

class QLabel;

// The about box: a borderless, semi-transparent window with the product
// picture, name, version and copyright line. A click or a key closes it.
class TznFrmAbout : public TznFrmBase
{
    Q_OBJECT
public:
    // mainForm: the application's main window (may be null), made fully
    // transparent by the start-up call for a PureConsole run.
    explicit TznFrmAbout(QWidget* mainForm = nullptr, QWidget* parent = nullptr);

    // The first call (the start-up hook) shows nothing and, when PureConsole
    // reads true, makes the main window fully transparent; every later call
    // shows the box modally.
    void ShowAbout();

    int ShowCount() const { return FShowCount; }

    QLabel* img;
    QLabel* lblProduct;
    QLabel* lblVersion;
    QLabel* lblCopright;

protected slots:
    // Closes the box once it has really been shown.
    void FormClick();
    void FormShow();

protected:
    void showEvent(QShowEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* FMainForm;
    int FShowCount = 0;
};
