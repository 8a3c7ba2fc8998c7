#include "engine/VBScriptRegex.h"

#include <QRegularExpression>

#include <vector>

const TVBScriptErrRec VBScriptErrors[43] = {
    {5, "Invalid procedure call or argument"},
    {6, "Overflow"},
    {7, "Out of memory"},
    {9, "Subscript out of range"},
    {10, "This array is fixed or temporarily locked"},
    {11, "Division by zero"},
    {13, "Type mismatch"},
    {14, "Out of string space"},
    {17, "Can't perform requested operation"},
    {28, "Out of stack space"},
    {35, "Sub or Function not defined"},
    {48, "Error in loading DLL"},
    {51, "Internal error"},
    {91, "Object variable not set"},
    {92, "For loop not initialized"},
    {94, "Invalid use of Null"},
    {424, "Object required"},
    {429, "ActiveX component can't create object"},
    {430, "Class doesn't support Automation"},
    {432, "File name or class name not found during Automation operation"},
    {438, "Object doesn't support this property or method"},
    {445, "Object doesn't support this action"},
    {447, "Object doesn't support current locale setting"},
    {448, "Named argument not found"},
    {449, "Argument not optional"},
    {450, "Wrong number of arguments or invalid property assignment"},
    {451, "Object not a collection"},
    {458, "Variable uses an Automation type not supported in VBScript"},
    {462, "The remote server machine does not exist or is unavailable"},
    {481, "Invalid picture"},
    {500, "Variable is undefined"},
    {502, "Object not safe for scripting"},
    {503, "Object not safe for initializing"},
    {504, "Object not safe for creating"},
    {505, "Invalid or unqualified reference"},
    {506, "Class not defined"},
    {507, "An exception occurred"},
    {5008, "Illegal assignment"},
    {5017, "Syntax error in regular expression"},
    {5018, "Unexpected quantifier"},
    {5019, "Expected ']' in regular expression"},
    {5020, "Expected ')' in regular expression"},
    {5021, "Invalid range in character set"},
};

QString VBScriptErrorMessage(int32_t code)
{
    const int number = code & 0xFFFF;
    for (const auto& row : VBScriptErrors)
        if (row.Number == number)
            return QString::fromLatin1(row.Message);
    return {};
}

namespace {

[[noreturn]] void raise(int number, const QString& engineText)
{
    const int32_t code = VBScriptErrorCode(number);
    const QString message = VBScriptErrorMessage(code);
    throw ERegexException(message.isEmpty() ? engineText : message, code);
}

// The error number of a pattern the engine refused, from the engine's text.
int syntaxErrorNumber(const QString& engineText)
{
    const QString text = engineText.toLower();
    if (text.contains(u"missing closing parenthesis"))
        return 5020;
    if (text.contains(u"missing terminating ]"))
        return 5019;
    if (text.contains(u"quantifier does not follow") || text.contains(u"nothing to repeat"))
        return 5018;
    if (text.contains(u"range out of order") || text.contains(u"invalid range"))
        return 5021;
    return 5017;
}

// The pattern in the engine's own dialect. The differences that matter: "$"
// is the end of the input (the engine would also stop before a final line
// break), "[]" never matches and "[^]" matches any character.
QString translatePattern(const QString& pattern, bool multiline)
{
    QString out;
    out.reserve(pattern.size() + 8);
    bool inClass = false;
    for (qsizetype i = 0; i < pattern.size(); ++i) {
        const QChar c = pattern[i];
        if (c == u'\\') {
            out += c;
            if (i + 1 < pattern.size())
                out += pattern[++i];
            continue;
        }
        if (inClass) {
            if (c == u']')
                inClass = false;
            out += c;
            continue;
        }
        if (c == u'[') {
            if (pattern.mid(i, 2) == u"[]") {
                out += u"(?!)";
                ++i;
                continue;
            }
            if (pattern.mid(i, 3) == u"[^]") {
                out += u"[\\s\\S]";
                i += 2;
                continue;
            }
            inClass = true;
            out += c;
            continue;
        }
        if (c == u'$' && !multiline) {
            out += u"\\z";
            continue;
        }
        out += c;
    }
    return out;
}

class TSubMatches : public ISubMatches
{
public:
    explicit TSubMatches(QRegularExpressionMatch match) : FMatch(std::move(match)) {}
    int Count() const override { return FMatch.regularExpression().captureCount(); }
    QVariant Item(int index) const override
    {
        if (index < 0 || index >= Count())
            raise(9, QStringLiteral("Subscript out of range"));
        if (FMatch.capturedStart(index + 1) < 0)
            return {};
        return FMatch.captured(index + 1);
    }

private:
    QRegularExpressionMatch FMatch;
};

class TMatch : public IMatch
{
public:
    explicit TMatch(QRegularExpressionMatch match) : FMatch(std::move(match)) {}
    QString Value() const override { return FMatch.captured(0); }
    int FirstIndex() const override { return static_cast<int>(FMatch.capturedStart(0)); }
    int Length() const override { return static_cast<int>(FMatch.capturedLength(0)); }
    std::shared_ptr<ISubMatches> SubMatches() const override { return std::make_shared<TSubMatches>(FMatch); }

private:
    QRegularExpressionMatch FMatch;
};

class TMatchCollection : public IMatchCollection
{
public:
    explicit TMatchCollection(std::vector<QRegularExpressionMatch> matches) : FMatches(std::move(matches)) {}
    int Count() const override { return static_cast<int>(FMatches.size()); }
    std::shared_ptr<IMatch> Item(int index) const override
    {
        if (index < 0 || index >= Count())
            raise(5, QStringLiteral("Invalid procedure call or argument"));
        return std::make_shared<TMatch>(FMatches[static_cast<size_t>(index)]);
    }

private:
    std::vector<QRegularExpressionMatch> FMatches;
};

// The replacement text with its "$" references filled in from one match.
QString expandReplacement(const QString& replacement, const QRegularExpressionMatch& m, const QString& input)
{
    QString out;
    const int groups = m.regularExpression().captureCount();
    for (qsizetype i = 0; i < replacement.size(); ++i) {
        const QChar c = replacement[i];
        if (c != u'$' || i + 1 >= replacement.size()) {
            out += c;
            continue;
        }
        const QChar n = replacement[i + 1];
        if (n == u'$') {
            out += u'$';
            ++i;
        } else if (n == u'&') {
            out += m.captured(0);
            ++i;
        } else if (n == u'`') {
            out += input.left(m.capturedStart(0));
            ++i;
        } else if (n == u'\'') {
            out += input.mid(m.capturedEnd(0));
            ++i;
        } else if (n.isDigit()) {
            // Two digits when they name an existing group, else one.
            int number = n.digitValue();
            qsizetype used = 1;
            if (i + 2 < replacement.size() && replacement[i + 2].isDigit()) {
                const int two = number * 10 + replacement[i + 2].digitValue();
                if (two >= 1 && two <= groups) {
                    number = two;
                    used = 2;
                }
            }
            if (number >= 1 && number <= groups) {
                out += m.captured(number);
                i += used;
            } else {
                out += c;
            }
        } else {
            out += c;
        }
    }
    return out;
}

class TRegex : public IRegex
{
public:
    TRegex(const QString& pattern, int options)
        : FPattern(pattern)
        , FIgnoreCase(options & roIgnoreCase)
        , FMultiline(options & roMultiline)
    {
        QRegularExpression::PatternOptions opts;
        if (FIgnoreCase)
            opts |= QRegularExpression::CaseInsensitiveOption;
        if (FMultiline)
            opts |= QRegularExpression::MultilineOption;
        if (pattern.size() <= MaxPatternLength)
            FEngine = QRegularExpression(translatePattern(pattern, FMultiline), opts);
        else
            FTooLong = true;
    }

    QString Pattern() const override { return FPattern; }
    bool IgnoreCase() const override { return FIgnoreCase; }
    bool Multiline() const override { return FMultiline; }

    bool IsMatch(const QString& input) const override
    {
        check();
        return FEngine.match(input).hasMatch();
    }

    std::shared_ptr<IMatchCollection> Match(const QString& input) const override
    {
        check();
        std::vector<QRegularExpressionMatch> list;
        QRegularExpressionMatch m = FEngine.match(input);
        if (m.hasMatch())
            list.push_back(std::move(m));
        return std::make_shared<TMatchCollection>(std::move(list));
    }

    std::shared_ptr<IMatchCollection> Matches(const QString& input) const override
    {
        check();
        return std::make_shared<TMatchCollection>(all(input));
    }

    QString Replace(const QString& input, const QString& replacement) const override
    {
        check();
        const QRegularExpressionMatch m = FEngine.match(input);
        if (!m.hasMatch())
            return input;
        return input.left(m.capturedStart(0)) + expandReplacement(replacement, m, input) + input.mid(m.capturedEnd(0));
    }

    QString ReplaceAll(const QString& input, const QString& replacement) const override
    {
        check();
        QString out;
        qsizetype last = 0;
        for (const auto& m : all(input)) {
            out += QStringView(input).mid(last, m.capturedStart(0) - last);
            out += expandReplacement(replacement, m, input);
            last = m.capturedEnd(0);
        }
        out += QStringView(input).mid(last);
        return out;
    }

private:
    void check() const
    {
        if (FTooLong)
            raise(14, QStringLiteral("Out of string space"));
        if (!FEngine.isValid())
            raise(syntaxErrorNumber(FEngine.errorString()), FEngine.errorString());
    }

    std::vector<QRegularExpressionMatch> all(const QString& input) const
    {
        std::vector<QRegularExpressionMatch> list;
        auto it = FEngine.globalMatch(input);
        while (it.hasNext())
            list.push_back(it.next());
        return list;
    }

    QString FPattern;
    bool FIgnoreCase;
    bool FMultiline;
    bool FTooLong = false;
    QRegularExpression FEngine;
};

} // namespace

std::shared_ptr<IRegex> Regex::Compile(const QString& pattern, int options)
{
    return std::make_shared<TRegex>(pattern, options);
}

bool Regex::IsMatch(const QString& pattern, int options, const QString& input)
{
    return Compile(pattern, options)->IsMatch(input);
}

QString Regex::Replace(const QString& pattern, const QString& input, const QString& replacement, int options)
{
    return Compile(pattern, options)->Replace(input, replacement);
}
