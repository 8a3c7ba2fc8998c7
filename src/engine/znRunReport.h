#pragma once

#include <QLatin1String>
#include <QString>
#include <QStringList>

class TznBatch;
class TznNode;

// What both front ends, the window and the unattended runner, say about a
// run: the status word, the result lines, the bytes a document saved, the
// failure report and the names of the run counters.

// The usage counters a run adds to: runs started, documents of a finished
// run, their successes and their failures.
inline constexpr QLatin1String RunCounterRuns{"C"};
inline constexpr QLatin1String RunCounterDocuments{"A"};
inline constexpr QLatin1String RunCounterSuccesses{"S"};
inline constexpr QLatin1String RunCounterFailures{"F"};

// A name or result text as the front ends show, log and print it: no
// credentials in web addresses, and every byte of a name that is not valid
// UTF-8 and every control character (an escape sequence would drive the
// terminal) written as "\xHH", the control character's UTF-8 bytes.
QString ShownText(const QString& text);

// "Success", "Failure" or "Running" for a node status.
QString StatusWord(int status);

// The two result-line formats differ on purpose, and stored logs and the
// scripts that read them rely on both:
// - the runner prints "Status => source => result" as each document ends,
//   with the converter's whole result text;
// - the window's list export writes "[Status] => source => result" per row,
//   with the row's result column (the first line of the result text).
QString RunnerResultLine(int status, const QString& path, const QString& result);
QString ListResultLine(int status, const QString& path, const QString& result);

// A document left alone because its target exists (IsOverwrite "skip"): a
// success with no result text. It counts apart from the converted ones.
bool IsSkipped(const TznNode& node);

// The totals of one run, as its summary line and summary record give them.
struct TznRunTotals
{
    int Documents = 0;
    int Converted = 0;
    int Skipped = 0;
    int Failed = 0;
    qint64 BytesBefore = 0;
    qint64 BytesAfter = 0;
    qint64 ElapsedMs = 0;
    bool DryRun = false;
};

// Counts the documents of a finished batch by their status.
void CountDocuments(const TznBatch& batch, TznRunTotals& totals);

// The summary line of an unattended run: "20 documents, 18 converted, 1
// skipped, 1 failed, 4.8 MB -> 3.1 MB, 2.4 s, saved 1.7 MB (35 %)" and
// " (dry run: nothing written)" after a dry run.
QString RunSummaryLine(const TznRunTotals& totals);

// Whether a node's sizes count for the bytes of a run: a success whose
// source and result sizes the converter has both recorded.
bool CountsBytes(const TznNode& node);
// The bytes the node's document saved, 0 when its sizes do not count.
qint64 SavedBytes(const TznNode& node);

// The failure reasons as one report text: comma-separated, an item with a
// blank, control character, comma or double quote in double quotes (inner
// quotes doubled), "err&e=" in front. A reason leaves the machine without
// credentials and with every local path in it cut to its last name: the action of the error report, which
// OpenLink encodes for the address.
QString FailureReport(const QStringList& reasons);
