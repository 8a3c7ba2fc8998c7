#include "ui/znFormCfg.h"

#include "info/znInfo.h"
#include "project/znProject.h"

#include <QPlainTextEdit>
#include <QPushButton>

TznFrmCfg::TznFrmCfg(QWidget* parent)
    : TznFrmBase(parent)
{
    setObjectName(QStringLiteral("znFrmCfg"));
    setWindowTitle(QStringLiteral("Config"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint
                   | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    setFixedSize(292, 273);

    txtCfg = new QPlainTextEdit(this);
    txtCfg->setObjectName(QStringLiteral("txtCfg"));
    txtCfg->setGeometry(16, 16, 256, 200);
    txtCfg->setToolTip(QStringLiteral("Please add/delete/modify the options by yourself"));
    txtCfg->setLineWrapMode(QPlainTextEdit::NoWrap);
    txtCfg->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    txtCfg->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    txtCfg->setTabChangesFocus(true);

    btnOk = MakeButton(this, "btnOk", QStringLiteral("&Ok"), QRect(120, 233, 72, 25));
    btnCancel = MakeButton(this, "btnCancel", QStringLiteral("Cancel"), QRect(200, 233, 72, 25));
    btnHelp = MakeButton(this, "btnHelp", QStringLiteral("Help"), QRect(16, 233, 72, 25));
    btnHelp->setToolTip(QStringLiteral("Click here to see the details about the options"));

    connect(btnOk, &QPushButton::clicked, this, &TznFrmCfg::btnOkClick);
    // Both buttons end the editor the same way; only OK has a handler.
    connect(btnCancel, &QPushButton::clicked, this, &QDialog::accept);
    connect(btnHelp, &QPushButton::clicked, this, &TznFrmCfg::btnHelpClick);
}

void TznFrmCfg::btnOkClick()
{
    if (Project) {
        Project->SetOptionsText(txtCfg->toPlainText());
        Project->OptionsToControls();
    }
    accept();
}

void TznFrmCfg::FormShow()
{
    if (!Project)
        return;
    Project->CollectOptions(false);
    // The edit separates lines by LF alone; the option text comes with CR LF.
    QString text = Project->OptionsText();
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    txtCfg->setPlainText(text);
}

void TznFrmCfg::btnHelpClick()
{
    if (Info)
        Info->OpenLink(QStringLiteral("h"), QString(), QString());
}

void TznFrmCfg::showEvent(QShowEvent* event)
{
    TznFrmBase::showEvent(event);
    FormShow();
}
