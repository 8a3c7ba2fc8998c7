#include "automation/znRegistry.h"

#include "ooxml/znServer.h"

#include <QHash>
#include <QMutex>
#include <QMutexLocker>

namespace {

// The built-in table: the one place that names a server.
QHash<QString, TznAutomationFactory> builtinClasses()
{
    QHash<QString, TznAutomationFactory> table;
    table.insert(QStringLiteral("word.application"), [] { return CreateOoxmlApplication(); });
    return table;
}

struct TznRegistry
{
    QMutex FLock;
    QHash<QString, TznAutomationFactory> FClasses = builtinClasses();
};

TznRegistry& registry()
{
    static TznRegistry instance;
    return instance;
}

QString keyOf(const QString& progId) { return progId.trimmed().toLower(); }

} // namespace

TznAutomationFactory RegisterAutomationClass(const QString& progId, TznAutomationFactory factory)
{
    TznRegistry& r = registry();
    QMutexLocker lock(&r.FLock);
    TznAutomationFactory old = r.FClasses.value(keyOf(progId));
    if (factory)
        r.FClasses.insert(keyOf(progId), std::move(factory));
    else
        r.FClasses.remove(keyOf(progId));
    return old;
}

TznAutomationFactory FindAutomationClass(const QString& progId)
{
    TznRegistry& r = registry();
    QMutexLocker lock(&r.FLock);
    return r.FClasses.value(keyOf(progId));
}

void ResetAutomationClasses()
{
    TznRegistry& r = registry();
    QMutexLocker lock(&r.FLock);
    r.FClasses = builtinClasses();
}
