#pragma once

#include <QByteArray>
#include <QString>

class TznNode;

// The totals of one run, as its summary line and summary record give them.
struct TznRunTotals
{
    int Documents = 0;
    int Converted = 0;
    int Failed = 0;
    qint64 BytesBefore = 0;
    qint64 BytesAfter = 0;
    qint64 ElapsedMs = 0;
    bool DryRun = false;
};

// The machine-readable report: one JSON object per line (JSON Lines), one
// per document as it ends, then one summary. Records of several processes
// (shards) concatenate into one valid stream.

// {"type":"document","status":"Success","source":...,"message":...,
//  "sourceBytes":...,"targetBytes":...,"savedBytes":...}; the two sizes
// only when known, savedBytes as the run's totals count it.
// message is the result line's third part.
QByteArray JsonDocumentRecord(const TznNode& node, const QString& message);
// {"type":"summary","documents":...,"converted":...,"failed":...,
//  "sourceBytes":...,"targetBytes":...,"savedBytes":...,"seconds":...,
//  "dryRun":...}
QByteArray JsonSummaryRecord(const TznRunTotals& totals);
