#include "ooxml/znAutoObject.h"

namespace {

// A property get: automation passes ifMethod | ifPropertyGet together, and a caller that
// cannot tell a property from a method calls it with ifMethod alone.
void checkGet(int flags, const QList<TznVariant>& args)
{
    if (!(flags & (ifPropertyGet | ifMethod)) || (flags & ifPropertyPut))
        throw EznError(ZnDispError::MemberNotFound());
    if (!args.isEmpty())
        throw EznError(ZnDispError::BadParamCount());
}

void checkCall(int flags, const QList<TznVariant>& args, int min, int max)
{
    if (!(flags & ifMethod) || (flags & ifPropertyPut))
        throw EznError(ZnDispError::MemberNotFound());
    if (args.size() < min || args.size() > max)
        throw EznError(ZnDispError::BadParamCount());
    for (int i = 0; i < min; ++i)
        if (args[i].IsOmitted())
            throw EznError(ZnDispError::ParamNotFound());
}

} // namespace

int TznAutoObject::GetIDOfName(const QString& name)
{
    for (int i = 0; i < MemberCount(); ++i)
        if (name.compare(QLatin1String(MemberShape(i).Name), Qt::CaseInsensitive) == 0)
            return i + 1;
    throw EznError(ZnDispError::UnknownName());
}

TznVariant TznAutoObject::Invoke(int dispId, int flags, const QList<TznVariant>& args, const TznVariant* putValue)
{
    if (dispId < 1 || dispId > MemberCount())
        throw EznError(ZnDispError::MemberNotFound());
    Enter();
    const TznMemberShape& shape = MemberShape(dispId - 1);
    TznCall call{args};
    switch (shape.Kind) {
    case TznMemberKind::Get:
        checkGet(flags, args);
        break;
    case TznMemberKind::GetPut:
        if (flags & ifPropertyPut) {
            if (!putValue || !args.isEmpty())
                throw EznError(ZnDispError::BadParamCount());
            call.Put = putValue;
        } else {
            checkGet(flags, args);
        }
        break;
    case TznMemberKind::Method:
        checkCall(flags, args, shape.MinArgs, shape.MaxArgs);
        break;
    }
    return Run(dispId - 1, call);
}

TznVariant TznAutoObject::Field(bool& field, const TznCall& call)
{
    if (!call.IsPut())
        return field;
    field = call.Put->ToBool();
    return {};
}

TznVariant TznAutoObject::Field(int& field, const TznCall& call, int low, int high)
{
    if (!call.IsPut())
        return field;
    const int value = call.Put->ToInt();
    if (value < low || value > high)
        throw EznError(QStringLiteral("Value out of range."));
    field = value;
    return {};
}
