#pragma once

#include "automation/znDispatch.h"

#include <QList>
#include <QString>

#include <climits>
#include <span>
#include <type_traits>

// How a member is called: a read-only property (a get without arguments), a read-write
// property (a get, or a put of one value), or a method with a range of positional arguments.
enum class TznMemberKind { Get, GetPut, Method };

// A call whose shape was checked against its member.
struct TznCall
{
    const QList<TznVariant>& Args;
    // The value of a put; nullptr for a get or a method call.
    const TznVariant* Put = nullptr;

    bool IsPut() const { return Put != nullptr; }
    // Argument i, or an omitted argument when the caller passed fewer.
    TznVariant Arg(int i) const { return i < Args.size() ? Args[i] : TznVariant::Omitted(); }
};

// The name and call shape of one member.
struct TznMemberShape
{
    const char* Name;
    TznMemberKind Kind;
    int MinArgs = 0;
    int MaxArgs = 0;
};

// The base of the server's automation objects: names are looked up without letter case,
// dispatch ids are positions in the member list from 1, and a call is checked against its
// member's shape before it runs. The failures carry the system's texts: "Unknown name.",
// "Member not found." (no such id, a put of a get-only member or a method, a call of a
// property), "Invalid number of parameters." and "Parameter not found." (a required
// argument omitted).
class TznAutoObject : public IznDispatch
{
public:
    int GetIDOfName(const QString& name) final;
    TznVariant Invoke(int dispId, int flags, const QList<TznVariant>& args, const TznVariant* putValue) final;

protected:
    virtual int MemberCount() const = 0;
    virtual const TznMemberShape& MemberShape(int index) const = 0;
    // Runs member index (0-based) once the call fits its shape.
    virtual TznVariant Run(int index, const TznCall& call) = 0;
    // A read-write property kept in field: its value for a get; a put stores the value
    // converted, an integer outside [low, high] failing with "Value out of range.".
    static TznVariant Field(bool& field, const TznCall& call);
    static TznVariant Field(int& field, const TznCall& call, int low = INT_MIN, int high = INT_MAX);

    // Runs before a call to a known member is checked: an object that fails here (a closed
    // document, one that cannot be read) fails every call alike.
    virtual void Enter() {}
};

// A TznAutoObject whose members are a static table of T: T declares
//   static std::span<const Member> Members();
// and adding a member is one row, e.g. Get("Count", [](T& self, const TznCall&) { ... }).
// A handler returns the result, or nothing for an empty one.
template <class T>
class TznAutoTable : public TznAutoObject
{
protected:
    using Handler = TznVariant (*)(T& self, const TznCall& call);
    struct Member
    {
        TznMemberShape Shape;
        Handler Handle;
    };

    template <class F>
    static Member Get(const char* name, F f) { return {{name, TznMemberKind::Get}, handler(f)}; }
    template <class F>
    static Member GetPut(const char* name, F f) { return {{name, TznMemberKind::GetPut}, handler(f)}; }
    template <class F>
    static Member Method(const char* name, int minArgs, int maxArgs, F f)
    {
        return {{name, TznMemberKind::Method, minArgs, maxArgs}, handler(f)};
    }

private:
    // A captureless lambda as a plain function that returns a variant.
    template <class F>
    static Handler handler(F)
    {
        static_assert(std::is_empty_v<F>, "a member handler captures nothing");
        return [](T& self, const TznCall& call) -> TznVariant {
            if constexpr (std::is_void_v<std::invoke_result_t<F, T&, const TznCall&>>) {
                F{}(self, call);
                return {};
            } else {
                return TznVariant(F{}(self, call));
            }
        };
    }

    int MemberCount() const final { return int(T::Members().size()); }
    const TznMemberShape& MemberShape(int index) const final { return T::Members()[size_t(index)].Shape; }
    TznVariant Run(int index, const TznCall& call) final
    {
        return T::Members()[size_t(index)].Handle(static_cast<T&>(*this), call);
    }
};
