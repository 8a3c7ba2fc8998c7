#include "platform/znPath.h"

#include <QRegularExpression>

namespace {

qsizetype lastDelimiter(const QString& path, PathStyle style)
{
    for (qsizetype i = path.size() - 1; i >= 0; --i)
        if (IsPathDelimiter(path[i], style))
            return i;
    return -1;
}

} // namespace

bool IsPathDelimiter(QChar c, PathStyle style)
{
    if (style == PathStyle::Windows)
        return c == u'\\' || c == u':';
    return c == u'/';
}

QChar PathDelimiter(PathStyle style)
{
    return style == PathStyle::Windows ? QChar(u'\\') : QChar(u'/');
}

QString FolderPart(const QString& path, PathStyle style)
{
    return path.left(lastDelimiter(path, style) + 1);
}

QString FileNamePart(const QString& path, PathStyle style)
{
    return path.mid(lastDelimiter(path, style) + 1);
}

bool HasTrailingDelimiter(const QString& path, PathStyle style)
{
    // Only the folder separator counts: "C:" is a drive, not a folder text.
    return !path.isEmpty() && path.back() == PathDelimiter(style);
}

QString IncludeTrailingDelimiter(const QString& path, PathStyle style)
{
    return HasTrailingDelimiter(path, style) ? path : path + PathDelimiter(style);
}

QString ExtractFileExt(const QString& path, PathStyle style)
{
    const qsizetype start = lastDelimiter(path, style) + 1;
    const qsizetype dot = path.lastIndexOf(u'.');
    return dot >= start ? path.mid(dot) : QString();
}

QString ChangeFileExt(const QString& path, const QString& ext, PathStyle style)
{
    const qsizetype start = lastDelimiter(path, style) + 1;
    const qsizetype dot = path.lastIndexOf(u'.');
    return (dot >= start ? path.left(dot) : path) + ext;
}

QString WithoutCredentials(const QString& text)
{
    // The user-info ends at the last "@" before the end of the authority
    // ("/", "?", "#" or a blank); a password may itself hold "@" or ":".
    static const QRegularExpression address(QStringLiteral("(https?://)[^/?#\\s\"]*@"),
                                            QRegularExpression::CaseInsensitiveOption);
    QString result = text;
    result.replace(address, QStringLiteral("\\1"));
    return result;
}

namespace {

// The last name of an absolute path, the folder's own for one that ends in
// a delimiter; both delimiters count, as a reason may name either kind.
QString lastName(QString path)
{
    while (path.size() > 1 && (path.endsWith(u'/') || path.endsWith(u'\\')))
        path.chop(1);
    const qsizetype at = qMax(path.lastIndexOf(u'/'), path.lastIndexOf(u'\\'));
    return path.mid(at + 1);
}

} // namespace

QString CutLocalPaths(const QString& text)
{
    static const QRegularExpression quoted(QStringLiteral("\"((?:/|[A-Za-z]:[\\\\/]|\\\\\\\\)[^\"]*)\""));
    static const QRegularExpression bare(QStringLiteral("(^|[\\s(\\[])(/[^\\s\"]+)"));
    QString result;
    qsizetype from = 0;
    for (auto it = quoted.globalMatch(text); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        result += text.mid(from, m.capturedStart() - from) + u'"' + lastName(m.captured(1)) + u'"';
        from = m.capturedEnd();
    }
    result += text.mid(from);
    QString cut;
    from = 0;
    for (auto it = bare.globalMatch(result); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        cut += result.mid(from, m.capturedStart(2) - from) + lastName(m.captured(2));
        from = m.capturedEnd();
    }
    return cut + result.mid(from);
}
