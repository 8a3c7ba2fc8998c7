#include "engine/znRunReport.h"

#include "engine/znBatch.h"

namespace {

bool needsQuotes(const QString& item)
{
    for (const QChar c : item)
        if (c.unicode() <= 32 || c == u',' || c == u'"')
            return true;
    return false;
}

} // namespace

QString StatusWord(int status)
{
    switch (status) {
    case nsSuccess: return QStringLiteral("Success");
    case nsFailure: return QStringLiteral("Failure");
    default: return QStringLiteral("Running");
    }
}

QString RunnerResultLine(int status, const QString& path, const QString& result)
{
    return QStringLiteral("%1 => %2 => %3").arg(StatusWord(status), path, result);
}

QString ListResultLine(int status, const QString& path, const QString& result)
{
    return QStringLiteral("[%1] => %2 => %3").arg(StatusWord(status), path, result);
}

bool CountsBytes(const TznNode& node)
{
    return node.Status.load() == nsSuccess && node.SourceSize >= 0 && node.TargetSize >= 0;
}

qint64 SavedBytes(const TznNode& node)
{
    return CountsBytes(node) ? node.SourceSize - node.TargetSize : 0;
}

QString FailureReport(const QStringList& reasons)
{
    QStringList items;
    for (const QString& reason : reasons) {
        if (needsQuotes(reason)) {
            QString quoted = reason;
            quoted.replace(u'"', QStringLiteral("\"\""));
            items << u'"' + quoted + u'"';
        } else {
            items << reason;
        }
    }
    // The address encodes the text when the report is opened.
    return QStringLiteral("err&e=") + items.join(u',');
}
