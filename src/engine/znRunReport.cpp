#include "engine/znRunReport.h"

#include "engine/znBatch.h"
#include "platform/znLocalPath.h"
#include "platform/znPath.h"

namespace {

bool needsQuotes(const QString& item)
{
    for (const QChar c : item)
        if (c.unicode() <= 32 || c == u',' || c == u'"')
            return true;
    return false;
}

QString megabytes(qint64 bytes)
{
    return QString::number(double(bytes) / (1024.0 * 1024.0), 'f', 1) + QStringLiteral(" MB");
}

void appendByteEscape(QString& text, uint byte)
{
    text += QStringLiteral("\\x") + QString::number(byte, 16).toUpper().rightJustified(2, u'0');
}

} // namespace

QString ShownText(const QString& text)
{
    const QString readable = ReadableLocalPath(WithoutCredentials(text));
    QString shown;
    shown.reserve(readable.size());
    for (const QChar c : readable) {
        const char16_t u = c.unicode();
        if (u < 0x20 || u == 0x7F) {
            appendByteEscape(shown, u);
        } else if (u >= 0x80 && u < 0xA0) {
            // C1 controls: their two UTF-8 bytes.
            appendByteEscape(shown, 0xC0 | (u >> 6));
            appendByteEscape(shown, 0x80 | (u & 0x3F));
        } else {
            shown += c;
        }
    }
    return shown;
}

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
    return QStringLiteral("%1 => %2 => %3").arg(StatusWord(status), ShownText(path), ShownText(result));
}

QString ListResultLine(int status, const QString& path, const QString& result)
{
    return QStringLiteral("[%1] => %2 => %3").arg(StatusWord(status), ShownText(path), ShownText(result));
}

bool IsSkipped(const TznNode& node)
{
    return node.Status.load() == nsSuccess && node.Message.isEmpty();
}

void CountDocuments(const TznBatch& batch, TznRunTotals& totals)
{
    // The batch counts a failure for every reason recorded, so a document
    // can count twice there; the totals count documents by their status.
    totals.Documents = batch.NodeCount();
    totals.Converted = totals.Skipped = totals.Failed = 0;
    for (int i = 0; i < totals.Documents; ++i) {
        const TznNode* node = batch.NodeAt(i);
        if (IsSkipped(*node))
            ++totals.Skipped;
        else if (node->Status.load() == nsSuccess)
            ++totals.Converted;
        else if (node->Status.load() == nsFailure)
            ++totals.Failed;
    }
}

QString RunSummaryLine(const TznRunTotals& totals)
{
    // Scripts read the line up to the time; what follows was added later.
    const qint64 saved = totals.BytesBefore - totals.BytesAfter;
    const qint64 percent = totals.BytesBefore > 0 ? qRound64(100.0 * double(saved) / double(totals.BytesBefore)) : 0;
    return QStringLiteral("%1 documents, %2 converted, %3 skipped, %4 failed, %5 -> %6, %7 s, saved %8 (%9 %)%10")
        .arg(totals.Documents).arg(totals.Converted).arg(totals.Skipped).arg(totals.Failed)
        .arg(megabytes(totals.BytesBefore), megabytes(totals.BytesAfter))
        .arg(double(totals.ElapsedMs) / 1000.0, 0, 'f', 1)
        .arg(megabytes(saved)).arg(percent)
        .arg(totals.DryRun ? QStringLiteral(" (dry run: nothing written)") : QString());
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
    for (const QString& given : reasons) {
        const QString reason = CutLocalPaths(WithoutCredentials(given));
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
