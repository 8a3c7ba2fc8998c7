#include "ooxml/znAutoObject.h"

int TznAutoObject::GetIDOfName(const QString& name)
{
    const QStringList& names = Members();
    for (int i = 0; i < names.size(); ++i)
        if (names[i].compare(name, Qt::CaseInsensitive) == 0)
            return i + 1;
    throw EznError(ZnDispError::UnknownName());
}

TznVariant TznAutoObject::Invoke(int dispId, int flags, const QList<TznVariant>& args, const TznVariant* putValue)
{
    if (dispId < 1 || dispId > Members().size())
        throw EznError(ZnDispError::MemberNotFound());
    return Call(dispId, flags, args, putValue);
}

void TznAutoObject::CheckGet(int flags, const QList<TznVariant>& args)
{
    if (!(flags & (ifPropertyGet | ifMethod)) || (flags & ifPropertyPut))
        throw EznError(ZnDispError::MemberNotFound());
    if (!args.isEmpty())
        throw EznError(ZnDispError::BadParamCount());
}

bool TznAutoObject::CheckGetPut(int flags, const QList<TznVariant>& args, const TznVariant* putValue)
{
    if (flags & ifPropertyPut) {
        if (!putValue || !args.isEmpty())
            throw EznError(ZnDispError::BadParamCount());
        return true;
    }
    CheckGet(flags, args);
    return false;
}

void TznAutoObject::CheckCall(int flags, const QList<TznVariant>& args, int min, int max)
{
    if (!(flags & ifMethod) || (flags & ifPropertyPut))
        throw EznError(ZnDispError::MemberNotFound());
    if (args.size() < min || args.size() > max)
        throw EznError(ZnDispError::BadParamCount());
    for (int i = 0; i < min; ++i)
        if (args[i].IsOmitted())
            throw EznError(ZnDispError::ParamNotFound());
}

TznVariant TznAutoObject::Arg(const QList<TznVariant>& args, int i)
{
    return i < args.size() ? args[i] : TznVariant::Omitted();
}
