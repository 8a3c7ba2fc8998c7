#pragma once

#include "automation/znVariant.h"

#include <QList>
#include <QString>

// Invoke flags; a get passes ifMethod | ifPropertyGet together.
enum TznInvokeFlag { ifMethod = 1, ifPropertyGet = 2, ifPropertyPut = 4 };

// A late-bound automation object: member name to dispatch id, then invoke.
class IznDispatch
{
public:
    virtual ~IznDispatch() = default;
    // The member's dispatch id; EznError("Unknown name.") for a name the object does not have.
    virtual int GetIDOfName(const QString& name) = 0;
    // Positional arguments in the caller's order; putValue is the property-put value (nullptr otherwise).
    virtual TznVariant Invoke(int dispId, int flags, const QList<TznVariant>& args, const TznVariant* putValue) = 0;
};

// The system texts of the automation failures a server or the call helpers raise.
namespace ZnDispError {
inline QString UnknownName() { return QStringLiteral("Unknown name."); }
inline QString MemberNotFound() { return QStringLiteral("Member not found."); }
inline QString ParamNotFound() { return QStringLiteral("Parameter not found."); }
inline QString TypeMismatch() { return QStringLiteral("Type mismatch."); }
inline QString BadParamCount() { return QStringLiteral("Invalid number of parameters."); }
inline QString Exception() { return QStringLiteral("Exception occurred."); }
inline QString ClassString() { return QStringLiteral("Invalid class string"); }
inline QString Unspecified() { return QStringLiteral("Unspecified error"); }
}
