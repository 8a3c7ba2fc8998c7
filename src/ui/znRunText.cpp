#include "ui/znRunText.h"

#include <QRegularExpression>

QString CutBackTarget(QString target, PathStyle style, const std::function<bool(const QString&)>& isFile)
{
    const QChar delimiter = PathDelimiter(style);
    auto withoutDelimiter = [delimiter](const QString& t) { return t.endsWith(delimiter) ? t.chopped(1) : t; };
    auto passes = [&](const QString& t) {
        if (t.contains(u'?') || t.contains(u'*'))
            return false;
        if (style == PathStyle::Windows && t.indexOf(u':') >= 10)
            return false;
        return !isFile(withoutDelimiter(t));
    };
    while (!passes(target)) {
        const QString next = FolderPart(withoutDelimiter(target), style);
        if (next.isEmpty() || next == target)
            return QString();
        target = next;
    }
    return target;
}

QString RunStatusText(int done, int listed, int failed, qint64 savedBytes)
{
    QString saved;
    if (savedBytes < 0)
        saved = QStringLiteral("0 KB");
    else if (savedBytes < 1024 * 1024)
        saved = QStringLiteral("%1 KB").arg((savedBytes + 1023) / 1024);
    else
        saved = QStringLiteral("%1 MB").arg(double(savedBytes) / (1024.0 * 1024.0), 0, 'f', 1);
    return QStringLiteral("%1 of %2 documents done, %3 failed, %4 saved").arg(done).arg(listed).arg(failed).arg(saved);
}

QString FirstLine(const QString& text)
{
    const qsizetype end = text.indexOf(QRegularExpression(QStringLiteral("[\r\n]")));
    return end < 0 ? text : text.left(end);
}
