#pragma once

#include "engine/znRunReport.h"

#include <QByteArray>
#include <QString>

class TznNode;

// The machine-readable report: one JSON object per line (JSON Lines), one
// per document as it ends, then one summary. Records of several processes
// (shards) concatenate into one valid stream.

// {"type":"document","status":"Success","source":...,"message":...,
//  "sourceBytes":...,"targetBytes":...,"savedBytes":...}; the two sizes
// only when known, savedBytes as the run's totals count it.
// source and message as the result line shows them (ShownText); message
// is its third part.
QByteArray JsonDocumentRecord(const TznNode& node, const QString& message);
// {"type":"summary","documents":...,"converted":...,"skipped":...,"failed":...,
//  "sourceBytes":...,"targetBytes":...,"savedBytes":...,"seconds":...,
//  "dryRun":...}
QByteArray JsonSummaryRecord(const TznRunTotals& totals);
