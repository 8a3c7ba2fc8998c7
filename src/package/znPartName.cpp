#include "package/znPartName.h"

#include <QStringList>

TznPartName::TznPartName(const QString& name) : FName(Normalize(name)) {}

QString TznPartName::Normalize(const QString& name)
{
    QString n = name;
    n.replace(QLatin1Char('\\'), QLatin1Char('/'));
    const QStringList pieces = n.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    QStringList out;
    for (const QString& piece : pieces) {
        if (piece == QLatin1String("."))
            continue;
        if (piece == QLatin1String("..")) {
            if (!out.isEmpty())
                out.removeLast();
            continue;
        }
        out.append(piece);
    }
    if (out.isEmpty())
        return QString();
    return QLatin1Char('/') + out.join(QLatin1Char('/'));
}

QString TznPartName::BaseFolder() const
{
    const int slash = FName.lastIndexOf(QLatin1Char('/'));
    return slash < 0 ? QStringLiteral("/") : FName.left(slash + 1);
}

QString TznPartName::Extension() const
{
    const int slash = FName.lastIndexOf(QLatin1Char('/'));
    const int dot = FName.lastIndexOf(QLatin1Char('.'));
    return dot > slash ? FName.mid(dot + 1).toLower() : QString();
}

TznPartName TznPartName::RelsName() const
{
    if (FName == QLatin1String("/"))
        return TznPartName(QStringLiteral("/_rels/.rels"));
    const int slash = FName.lastIndexOf(QLatin1Char('/'));
    return TznPartName(FName.left(slash + 1) + QStringLiteral("_rels/") + FName.mid(slash + 1) + QStringLiteral(".rels"));
}

TznPartName TznPartName::Resolve(const QString& target) const
{
    if (target.startsWith(QLatin1Char('/')))
        return TznPartName(target);
    return TznPartName(BaseFolder() + target);
}

QString TznPartName::RelativeTo(const TznPartName& other) const
{
    const QStringList from = BaseFolder().split(QLatin1Char('/'), Qt::SkipEmptyParts);
    const QStringList to = other.FName.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    int common = 0;
    while (common < from.size() && common < to.size() - 1 && from[common].compare(to[common], Qt::CaseInsensitive) == 0)
        ++common;
    QStringList out;
    for (int i = common; i < from.size(); ++i)
        out.append(QStringLiteral(".."));
    for (int i = common; i < to.size(); ++i)
        out.append(to[i]);
    return out.join(QLatin1Char('/'));
}

TznPartName TznPartName::RelsSource() const
{
    const int slash = FName.lastIndexOf(QLatin1Char('/'));
    const QString folder = FName.left(slash);   // ".../_rels"
    if (slash < 0 || !folder.endsWith(QLatin1String("/_rels"), Qt::CaseInsensitive)
        || !FName.endsWith(QLatin1String(".rels"), Qt::CaseInsensitive))
        return TznPartName();
    const QString source = folder.left(folder.lastIndexOf(QLatin1Char('/')) + 1) + FName.mid(slash + 1).chopped(5);
    return source == QLatin1String("/") ? PackageRoot() : TznPartName(source);
}
