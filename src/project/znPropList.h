#pragma once

#include <QObject>
#include <QPointer>
#include <QString>

// Reads and writes a control's published property by name (letter case
// ignored). Failures are silent: a read gives the empty text, a write does nothing.
class TznPropList
{
public:
    explicit TznPropList(QObject* control) : FControl(control) {}

    // Booleans as "True"/"False", other enumerations by element name,
    // integers in decimal, anything else as its text.
    QString GetPropText(const QString& name) const;
    // Enumerations (Booleans included) take an element name in any letter
    // case, the empty text as "False"; anything else leaves them unchanged.
    // Other properties take the text unchanged.
    void SetPropText(const QString& name, const QString& value);

private:
    QPointer<QObject> FControl;
};
