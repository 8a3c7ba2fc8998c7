#include "ui/znActionButton.h"

#include <QAction>

TznActionButton::TznActionButton(QWidget* parent)
    : QPushButton(parent)
{
    setAutoDefault(false);
    connect(this, &QPushButton::clicked, this, [this] {
        if (FAction)
            FAction->trigger();
    });
}

void TznActionButton::SetAction(QAction* action)
{
    if (FChanged)
        disconnect(FChanged);
    FAction = action;
    if (action)
        FChanged = connect(action, &QAction::changed, this, &TznActionButton::sync);
    sync();
}

void TznActionButton::SetHint(const QString& hint)
{
    FHintAction = FAction;
    FHint = hint;
    setToolTip(hint);
}

void TznActionButton::sync()
{
    if (!FAction)
        return;
    setText(FAction->text());
    setToolTip(FHintAction == FAction ? FHint : HintOf(FAction));
    setEnabled(FAction->isEnabled());
    setVisible(FAction->isVisible());
}

QString HintOf(const QAction* action)
{
    return action ? action->property("hint").toString() : QString();
}

void SetHintOf(QAction* action, const QString& hint)
{
    action->setProperty("hint", hint);
    action->setToolTip(hint);
    action->setStatusTip(hint);
}
