#include "WordTestUtil.h"

#include "platform/znError.h"

QString DescribeValue(const TznVariant& v)
{
    switch (v.kind()) {
    case TznVariant::Kind::Empty: return QStringLiteral("<empty>");
    case TznVariant::Kind::Omitted: return QStringLiteral("<omitted>");
    case TznVariant::Kind::Object: return QStringLiteral("<object>");
    case TznVariant::Kind::Bool: return v.ToBool() ? QStringLiteral("true") : QStringLiteral("false");
    default: return v.ToText();
    }
}

int TznRecordingDispatch::GetIDOfName(const QString& name)
{
    const int id = FInner->GetIDOfName(name);
    FNames[id] = name;
    return id;
}

TznVariant TznRecordingDispatch::Invoke(int dispId, int flags, const QList<TznVariant>& args, const TznVariant* putValue)
{
    const QString name = FNames.count(dispId) ? FNames[dispId] : QString::number(dispId);
    if (flags & ifPropertyPut) {
        FLog->Add(name + u'=' + (putValue ? DescribeValue(*putValue) : QString()));
    } else {
        QStringList parts;
        for (const TznVariant& a : args)
            parts << DescribeValue(a);
        FLog->Add(name + u'(' + parts.join(u',') + u')');
    }
    if (!(flags & ifPropertyPut) && FLog->Fails(name))
        throw EznError(QStringLiteral("%1 failed in the server").arg(name));
    TznVariant result = FInner->Invoke(dispId, flags, args, putValue);
    if (result.kind() == TznVariant::Kind::Object && !result.IsEmpty())
        return TznVariant(std::shared_ptr<IznDispatch>(std::make_shared<TznRecordingDispatch>(result.ToObject(), FLog)));
    return result;
}

void TznRecordingDispatch::RegisterRecordingWord(std::shared_ptr<TznCallLog> log)
{
    ResetAutomationClasses();
    const TznAutomationFactory real = FindAutomationClass(QStringLiteral("Word.Application"));
    RegisterAutomationClass(QStringLiteral("Word.Application"), [real, log]() -> std::shared_ptr<IznDispatch> {
        return std::make_shared<TznRecordingDispatch>(real(), log);
    });
}

int TznFakeObject::GetIDOfName(const QString& name)
{
    for (size_t i = 0; i < FMembers.size(); ++i)
        if (FMembers[i].first.compare(name, Qt::CaseInsensitive) == 0)
            return int(i) + 1;
    throw EznError(QStringLiteral("Unknown name."));
}

TznVariant TznFakeObject::Invoke(int dispId, int, const QList<TznVariant>& args, const TznVariant* putValue)
{
    if (dispId < 1 || dispId > int(FMembers.size()))
        throw EznError(QStringLiteral("Member not found."));
    return FMembers[size_t(dispId) - 1].second(args, putValue);
}
