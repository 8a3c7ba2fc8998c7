#pragma once

#include <QString>
#include <QStringList>

// What a run of a program gave: its exit status (-1 after a crash or when
// it did not end in time) and its two outputs.
struct TznProcessResult
{
    int status = -1;
    QString out, err;
};

// Runs exe with params and waits for it (two minutes at most). With a
// folder, the program runs there with that folder as HOME and its "config"
// below as XDG_CONFIG_HOME, so that its stores are the test's; pathFirst,
// when given, comes first on PATH.
TznProcessResult RunProcess(const QString& exe, const QStringList& params, const QString& folder = QString(),
                            const QString& pathFirst = QString());
