#pragma once

#include "project/znProject.h"

#include <QDir>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include "znTestWait.h"

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
