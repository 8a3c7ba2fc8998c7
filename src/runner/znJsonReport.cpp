#include "runner/znJsonReport.h"

#include "engine/znBatch.h"
#include "engine/znRunReport.h"

#include <QJsonDocument>
#include <QJsonObject>

QByteArray JsonDocumentRecord(const TznNode& node, const QString& message)
{
    QJsonObject record{
        {QStringLiteral("type"), QStringLiteral("document")},
        {QStringLiteral("status"), StatusWord(node.Status.load())},
        {QStringLiteral("source"), ShownText(node.Path)},
        {QStringLiteral("message"), ShownText(message)},
    };
    if (node.SourceSize >= 0 && node.TargetSize >= 0) {
        record.insert(QStringLiteral("sourceBytes"), node.SourceSize);
        record.insert(QStringLiteral("targetBytes"), node.TargetSize);
    }
    // What counts towards the run's savings: 0 for anything but a success.
    record.insert(QStringLiteral("savedBytes"), SavedBytes(node));
    return QJsonDocument(record).toJson(QJsonDocument::Compact);
}

QByteArray JsonSummaryRecord(const TznRunTotals& totals)
{
    const QJsonObject record{
        {QStringLiteral("type"), QStringLiteral("summary")},
        {QStringLiteral("documents"), totals.Documents},
        {QStringLiteral("converted"), totals.Converted},
        {QStringLiteral("skipped"), totals.Skipped},
        {QStringLiteral("failed"), totals.Failed},
        {QStringLiteral("sourceBytes"), totals.BytesBefore},
        {QStringLiteral("targetBytes"), totals.BytesAfter},
        {QStringLiteral("savedBytes"), totals.BytesBefore - totals.BytesAfter},
        {QStringLiteral("seconds"), double(totals.ElapsedMs) / 1000.0},
        {QStringLiteral("dryRun"), totals.DryRun},
    };
    return QJsonDocument(record).toJson(QJsonDocument::Compact);
}
