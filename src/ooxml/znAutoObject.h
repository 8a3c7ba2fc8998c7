#pragma once

#include "automation/znDispatch.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <memory>

// The base of the server's automation objects: a member table looked up without letter case
// (dispatch ids are positions in the table, from 1) and checks of the call's shape.
class TznAutoObject : public IznDispatch
{
public:
    int GetIDOfName(const QString& name) override;
    TznVariant Invoke(int dispId, int flags, const QList<TznVariant>& args, const TznVariant* putValue) override;

protected:
    // The member names in dispatch-id order.
    virtual const QStringList& Members() const = 0;
    // Runs member dispId (1-based) after the id was checked.
    virtual TznVariant Call(int dispId, int flags, const QList<TznVariant>& args, const TznVariant* putValue) = 0;

    // A read-only property: a get without arguments.
    static void CheckGet(int flags, const QList<TznVariant>& args);
    // A read-write property: true for a put (value in putValue), false for a get.
    static bool CheckGetPut(int flags, const QList<TznVariant>& args, const TznVariant* putValue);
    // A method with min to max positional arguments.
    static void CheckCall(int flags, const QList<TznVariant>& args, int min, int max);
    // Argument i, or an omitted argument when the caller passed fewer.
    static TznVariant Arg(const QList<TznVariant>& args, int i);
};
