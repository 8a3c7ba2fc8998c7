#pragma once

#include "ui/znFormBase.h"

class QPlainTextEdit;
class QPushButton;

// The options editor: the project's whole option text in a modal window.
// OK replaces the option text and refreshes the main window's bound
// controls; Cancel and the close button keep the options as they were shown.
// Nothing is written to the project file here.
class TznFrmCfg : public TznFrmBase
{
    Q_OBJECT
public:
    explicit TznFrmCfg(QWidget* parent = nullptr);

    QPlainTextEdit* txtCfg;
    QPushButton* btnOk;
    QPushButton* btnCancel;
    QPushButton* btnHelp;

protected slots:
    void btnOkClick();
    // Collects the bound controls into the options and shows the option text.
    void FormShow();
    // Opens the help file; the editor stays open.
    void btnHelpClick();

protected:
    void showEvent(QShowEvent* event) override;
};
