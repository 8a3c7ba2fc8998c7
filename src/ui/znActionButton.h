#pragma once

#include <QMetaObject>
#include <QPointer>
#include <QPushButton>
#include <QString>

class QAction;

// A push button that shows an action's caption, hint, enabled state and
// visibility and triggers it when clicked. Given another action it takes
// all four from the new one.
class TznActionButton : public QPushButton
{
    Q_OBJECT
public:
    explicit TznActionButton(QWidget* parent = nullptr);

    void SetAction(QAction* action);
    QAction* Action() const { return FAction; }
    // A hint of the button's own, shown instead of the hint of the action
    // the button carries now, also when it is given that action again.
    void SetHint(const QString& hint);

private:
    void sync();

    QPointer<QAction> FAction;
    QMetaObject::Connection FChanged;
    QPointer<QAction> FHintAction;
    QString FHint;
};

// The hint of an action: its tool tip as given, empty when it has none (Qt
// would otherwise offer the caption as tool tip).
QString HintOf(const QAction* action);
void SetHintOf(QAction* action, const QString& hint);
