#pragma once

#include "platform/znError.h"

#include <QString>
#include <QVariant>

#include <cstdint>
#include <memory>

// Option bits given to Regex::Compile; other bits are ignored.
enum : int {
    roIgnoreCase = 1, // compare without regard to letter case
    roMultiline = 2,  // "^" and "$" also match at line breaks
};

// An error of the expression engine: ErrorCode is the engine's result code
// (0x800A0000 plus the error number), the message comes from the error table.
class ERegexException : public EznError
{
public:
    ERegexException(const QString& message, int32_t errorCode)
        : EznError(message), ErrorCode(errorCode) {}

    int32_t ErrorCode;
};

// One row of the engine's error table.
struct TVBScriptErrRec
{
    int32_t Number;
    const char* Message;
};

// The 43 rows of the engine's error table, by error number.
extern const TVBScriptErrRec VBScriptErrors[43];

// The table's message for the low 16 bits of code; empty when no row has it.
QString VBScriptErrorMessage(int32_t code);

// The result code the engine reports for an error number.
constexpr int32_t VBScriptErrorCode(int number)
{
    return static_cast<int32_t>(0x800A0000u | static_cast<uint32_t>(number & 0xFFFF));
}

// The group values of one match.
class ISubMatches
{
public:
    virtual ~ISubMatches() = default;
    virtual int Count() const = 0;
    // The group's text, or an empty variant for a group that took no part.
    virtual QVariant Item(int index) const = 0;
};

// One match.
class IMatch
{
public:
    virtual ~IMatch() = default;
    virtual QString Value() const = 0;
    // Position of the match in the input, from 0.
    virtual int FirstIndex() const = 0;
    virtual int Length() const = 0;
    virtual std::shared_ptr<ISubMatches> SubMatches() const = 0;
};

// The matches of one execution, in input order.
class IMatchCollection
{
public:
    virtual ~IMatchCollection() = default;
    virtual int Count() const = 0;
    // Index from 0; raises ERegexException (error 5) outside the range.
    virtual std::shared_ptr<IMatch> Item(int index) const = 0;
};

// A compiled expression. Operations 4-8 raise ERegexException when the
// pattern is not a valid expression.
class IRegex
{
public:
    virtual ~IRegex() = default;
    virtual QString Pattern() const = 0;
    virtual bool IgnoreCase() const = 0;
    virtual bool Multiline() const = 0;
    // True when the expression matches anywhere in input.
    virtual bool IsMatch(const QString& input) const = 0;
    // At most the first match.
    virtual std::shared_ptr<IMatchCollection> Match(const QString& input) const = 0;
    // Every match, none overlapping.
    virtual std::shared_ptr<IMatchCollection> Matches(const QString& input) const = 0;
    // The first match replaced; "$1".."$99", "$&", "$`", "$'" and "$$" in
    // replacement stand for the groups, the match, the text before and after
    // it and a dollar sign.
    virtual QString Replace(const QString& input, const QString& replacement) const = 0;
    // Every match replaced.
    virtual QString ReplaceAll(const QString& input, const QString& replacement) const = 0;
};

// The longest expression compiled; operations on a longer one raise
// ERegexException (error 14, "Out of string space") instead of handing the
// engine work without bound.
inline constexpr int MaxPatternLength = 4096;

// Class-level entry points of the expression engine; never instantiated.
class Regex
{
public:
    Regex() = delete;

    // A new expression; an invalid pattern is reported by its operations.
    static std::shared_ptr<IRegex> Compile(const QString& pattern, int options);
    // Compile(pattern, options), then IsMatch(input).
    static bool IsMatch(const QString& pattern, int options, const QString& input);
    // Compile(pattern, options), then Replace(input, replacement).
    static QString Replace(const QString& pattern, const QString& input, const QString& replacement, int options);
};
