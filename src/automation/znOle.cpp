#include "automation/znOle.h"

#include "automation/znRegistry.h"

#include <new>

namespace {

std::shared_ptr<IznDispatch> objectOf(const TznVariant& obj)
{
    if (obj.kind() != TznVariant::Kind::Object)
        throw EznError(ZnDispError::TypeMismatch());
    if (obj.IsEmpty())
        throw EznError(QStringLiteral("Object required."));
    return obj.ToObject();
}

TznVariant invoke(const TznVariant& obj, const QString& member, int flags,
                  const QList<TznVariant>& args, const TznVariant* putValue)
{
    auto target = objectOf(obj);
    // Whatever a server raises reaches the caller as the system's one error class: with the
    // server's own description, or the system's text when it gave none.
    try {
        const int id = target->GetIDOfName(member);
        return target->Invoke(id, flags, args, putValue);
    } catch (const EznError&) {
        throw;
    } catch (const std::bad_alloc&) {
        throw EznError(QStringLiteral("Out of memory."));
    } catch (const std::exception&) {
        throw EznError(ZnDispError::Unspecified());
    }
}

} // namespace

TznVariant OleGet(const TznVariant& obj, const QString& member)
{
    return invoke(obj, member, ifMethod | ifPropertyGet, {}, nullptr);
}

TznVariant OleCall(const TznVariant& obj, const QString& member, const QList<TznVariant>& args)
{
    return invoke(obj, member, ifMethod, args, nullptr);
}

void OlePut(const TznVariant& obj, const QString& member, const TznVariant& value)
{
    invoke(obj, member, ifPropertyPut, {}, &value);
}

TznVariant CreateAutomationObject(const QString& progId)
{
    TznAutomationFactory factory = FindAutomationClass(progId);
    std::shared_ptr<IznDispatch> obj;
    if (factory)
        obj = factory();
    if (!obj)
        throw EznError(QStringLiteral("%1, ProgID: \"%2\"").arg(ZnDispError::ClassString(), progId));
    return TznVariant(obj);
}

int MajorVersion(const TznVariant& value)
{
    int result = 0;
    bool converted = false;
    try {
        const double d = value.ToDouble();
        if (d >= -2147483648.0 && d <= 2147483647.0) {
            result = static_cast<int>(d); // integer part
            converted = true;
        }
    } catch (const EznError&) {
        // Not a number (text such as "16.0.4266", an object): the text is read below.
    }
    if (!converted) {
        QString text;
        try {
            text = value.ToText();
        } catch (const EznError&) {
            // An object or an omitted value has no text: it stays empty and reads as 0.
        }
        const int dot = text.indexOf(QLatin1Char('.'));
        if (dot >= 0)
            text.remove(dot, 1);
        bool ok = false;
        result = text.trimmed().toInt(&ok, 10);
        if (!ok)
            result = 0;
    }
    if (result >= 78)
        result /= 10;
    return result;
}
