#pragma once

#include <QString>
#include <QStringList>

class TznProject;

// Checks the front ends make before a run starts. Each gives the reason a
// run must not go ahead, or the empty text when it may.

// The RegExt expression does not compile: the matcher would let every file
// through, and with DeleteSource delete those the filter was to keep.
QString RegExtError(const QString& regExt);

// The source of an unattended run is missing: empty, its folder does not
// exist, or it names one document (no "*" or "?") that does not exist.
// A web source is not checked here.
QString SourceError(const QString& source);

// The log file would be written over a document (a .doc, .docx, .docm,
// .dotx or .dotm file), over a source of the run (a file the source's mask
// and regExt accept in its folder, or below it with subdirs), or over a
// target of the run (a file in the target folder or below it whose name,
// without the product's "-code-" prefix, the mask accepts).
QString LogFileError(const QString& logFile, const QString& source, const QString& targetFolder, bool subdirs,
                     const QString& regExt, const QString& productCode);

// A run of a web source has no local folder to take its target from: it
// needs a Target, and one that is not itself a web address (the project
// makes the source's own folder the target when none is given).
QString WebTargetError(const QString& source, const QString& target);

// Every check above for the project's options, for each of sources (the
// project's Source alone when empty), in the order the runner makes them:
// the first reason, or empty.
QString RunRefusal(const TznProject& project, const QStringList& sources);
