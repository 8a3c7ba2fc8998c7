#pragma once

#include <QLatin1String>
#include <QString>
#include <QStringList>

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

// Whether a node's sizes count for the bytes of a run: a success whose
// source and result sizes the converter has both recorded.
bool CountsBytes(const TznNode& node);
// The bytes the node's document saved, 0 when its sizes do not count.
qint64 SavedBytes(const TznNode& node);

// The failure reasons as one report text: comma-separated, an item with a
// blank, control character, comma or double quote in double quotes (inner
// quotes doubled), "err&e=" in front: the action of the error report, which
// OpenLink encodes for the address.
QString FailureReport(const QStringList& reasons);
