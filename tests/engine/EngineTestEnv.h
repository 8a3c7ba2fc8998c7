#pragma once

#include "project/znProject.h"

#include <QDir>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <functional>

// Waits up to timeoutMs for done(), turning the main thread's event loop so
// that calls queued to it (the workers' OnFinish) run meanwhile.
bool WaitUntil(const std::function<bool()>& done, int timeoutMs = 20000);

// A temporary folder in memory where the system has one (many files are
// made faster there), else in the usual place.
QString FastTempTemplate();

// Creates empty files (and their folders) below root; names use "/".
void MakeFiles(const QString& root, const QStringList& relativePaths);

// The project options of one test, cleared again at its end.
class TznOptionsScope
{
public:
    TznOptionsScope() { Project->SetOptionsText(QString()); }
    ~TznOptionsScope() { Project->SetOptionsText(QString()); }
    void Set(const QString& key, const QString& value) { Project->SetOption(key, value); }
};
