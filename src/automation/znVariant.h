#pragma once

#include "platform/znError.h"

#include <QString>

#include <cmath>
#include <memory>
#include <variant>

class IznDispatch;

// An automation value: empty, Boolean, 32-bit integer, double, text, object,
// or an omitted optional argument. Header-only so that servers can use it
// without linking the automation library.
class TznVariant
{
public:
    enum class Kind { Empty, Bool, Int, Double, Text, Object, Omitted };

    // Empty (no object).
    TznVariant() = default;
    TznVariant(bool value) : FKind(Kind::Bool), FValue(value) {}
    TznVariant(int value) : FKind(Kind::Int), FValue(value) {}
    TznVariant(double value) : FKind(Kind::Double), FValue(value) {}
    TznVariant(const QString& value) : FKind(Kind::Text), FValue(value) {}
    TznVariant(const char* value) : TznVariant(QString::fromUtf8(value)) {}
    TznVariant(std::shared_ptr<IznDispatch> value) : FKind(Kind::Object), FValue(std::move(value)) {}

    // An omitted optional argument, passed positionally.
    static TznVariant Omitted() { TznVariant v; v.FKind = Kind::Omitted; return v; }

    Kind kind() const { return FKind; }
    // Empty, or an object value that holds nothing.
    bool IsEmpty() const
    {
        return FKind == Kind::Empty || (FKind == Kind::Object && !std::get<std::shared_ptr<IznDispatch>>(FValue));
    }
    bool IsOmitted() const { return FKind == Kind::Omitted; }

    // Conversions as automation coerces values; "Type mismatch." when there is none.
    bool ToBool() const;
    int ToInt() const;
    double ToDouble() const;
    QString ToText() const;
    // The object; "Type mismatch." for any other kind, "Object required." for an empty object.
    std::shared_ptr<IznDispatch> ToObject() const;

private:
    [[noreturn]] static void Mismatch() { throw EznError(QStringLiteral("Type mismatch.")); }
    static bool TextToDouble(const QString& text, double& out);

    Kind FKind = Kind::Empty;
    std::variant<std::monostate, bool, int, double, QString, std::shared_ptr<IznDispatch>> FValue;
};

inline bool TznVariant::TextToDouble(const QString& text, double& out)
{
    bool ok = false;
    const QString t = text.trimmed();
    out = t.toDouble(&ok);
    return ok;
}

inline bool TznVariant::ToBool() const
{
    switch (FKind) {
    case Kind::Empty: return false;
    case Kind::Bool: return std::get<bool>(FValue);
    case Kind::Int: return std::get<int>(FValue) != 0;
    case Kind::Double: return std::get<double>(FValue) != 0;
    case Kind::Text: {
        const QString t = std::get<QString>(FValue).trimmed();
        if (t.compare(QLatin1String("True"), Qt::CaseInsensitive) == 0) return true;
        if (t.compare(QLatin1String("False"), Qt::CaseInsensitive) == 0) return false;
        double d = 0;
        if (TextToDouble(t, d)) return d != 0;
        break;
    }
    default: break;
    }
    Mismatch();
}

inline double TznVariant::ToDouble() const
{
    switch (FKind) {
    case Kind::Empty: return 0;
    case Kind::Bool: return std::get<bool>(FValue) ? -1 : 0;
    case Kind::Int: return std::get<int>(FValue);
    case Kind::Double: return std::get<double>(FValue);
    case Kind::Text: {
        double d = 0;
        if (TextToDouble(std::get<QString>(FValue), d)) return d;
        break;
    }
    default: break;
    }
    Mismatch();
}

inline int TznVariant::ToInt() const
{
    if (FKind == Kind::Int) return std::get<int>(FValue);
    const double d = ToDouble();
    // Automation rounds half to even when it narrows a number to an integer.
    const double r = std::nearbyint(d);
    if (!(r >= -2147483648.0 && r <= 2147483647.0))
        throw EznError(QStringLiteral("Overflow."));
    return static_cast<int>(r);
}

inline QString TznVariant::ToText() const
{
    switch (FKind) {
    case Kind::Empty: return QString();
    case Kind::Bool: return std::get<bool>(FValue) ? QStringLiteral("True") : QStringLiteral("False");
    case Kind::Int: return QString::number(std::get<int>(FValue));
    case Kind::Double: return QString::number(std::get<double>(FValue), 'g', 15);
    case Kind::Text: return std::get<QString>(FValue);
    default: break;
    }
    Mismatch();
}

inline std::shared_ptr<IznDispatch> TznVariant::ToObject() const
{
    if (FKind != Kind::Object) Mismatch();
    auto obj = std::get<std::shared_ptr<IznDispatch>>(FValue);
    if (!obj) throw EznError(QStringLiteral("Object required."));
    return obj;
}
