#include "project/znPropList.h"

#include "project/znProject.h"

#include <QMetaEnum>
#include <QMetaObject>
#include <QMetaProperty>
#include <QVariant>

namespace {

int findProperty(const QObject* control, const QString& name)
{
    if (!control || name.isEmpty())
        return -1;
    const QMetaObject* meta = control->metaObject();
    for (int i = 0; i < meta->propertyCount(); ++i)
        if (name.compare(QLatin1String(meta->property(i).name()), Qt::CaseInsensitive) == 0)
            return i;
    return -1;
}

} // namespace

QString TznPropList::GetPropText(const QString& name) const
{
    const int index = findProperty(FControl, name);
    if (index < 0)
        return {};
    const QMetaProperty prop = FControl->metaObject()->property(index);
    if (!prop.isReadable())
        return {};
    const QVariant value = prop.read(FControl);
    if (!value.isValid())
        return {};
    if (prop.metaType().id() == QMetaType::Bool)
        return value.toBool() ? QStringLiteral("True") : QStringLiteral("False");
    if (prop.isEnumType()) {
        const QMetaEnum meta = prop.enumerator();
        const char* key = meta.valueToKey(value.toInt());
        return key ? QString::fromLatin1(key) : QString::number(value.toInt());
    }
    switch (prop.metaType().id()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
        return QString::number(value.toLongLong());
    default:
        return value.toString();
    }
}

void TznPropList::SetPropText(const QString& name, const QString& value)
{
    const int index = findProperty(FControl, name);
    if (index < 0)
        return;
    const QMetaProperty prop = FControl->metaObject()->property(index);
    if (!prop.isWritable())
        return;
    if (prop.metaType().id() == QMetaType::Bool) {
        // The Boolean text of every other reader of options, so that a
        // project means the same in the window as in the runner: a number
        // (non-zero is true), True or False; empty unchecks; anything else
        // leaves the control as it is.
        const bool current = prop.read(FControl).toBool();
        prop.write(FControl, value.isEmpty() ? false : TextToBool(value, current));
        return;
    }
    if (prop.isEnumType()) {
        const QMetaEnum meta = prop.enumerator();
        for (int i = 0; i < meta.keyCount(); ++i)
            if (value.compare(QLatin1String(meta.key(i)), Qt::CaseInsensitive) == 0) {
                prop.write(FControl, meta.value(i));
                return;
            }
        return;
    }
    // Only properties that hold text take a value; anything else would need a
    // conversion the binder does not make.
    if (prop.metaType().id() == QMetaType::QString)
        prop.write(FControl, value);
}
