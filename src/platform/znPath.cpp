#include "platform/znPath.h"

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

QString AddressWithoutUserInfo(const QString& address)
{
    const qsizetype scheme = address.indexOf(QLatin1String("://"));
    if (scheme <= 0)
        return address;
    const qsizetype start = scheme + 3;
    qsizetype end = start;
    while (end < address.size() && address[end] != u'/' && address[end] != u'?' && address[end] != u'#')
        ++end;
    // The user name and password may hold "@" themselves only encoded, so
    // the last "@" of the authority ends them.
    const qsizetype at = address.lastIndexOf(u'@', end - 1);
    if (at < start)
        return address;
    return address.left(start) + address.mid(at + 1);
}
