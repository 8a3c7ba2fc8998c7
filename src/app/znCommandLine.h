#pragma once

#include <QString>
#include <QStringList>

// A conventional (GNU-style) command line read into the option lines of a
// project, without running anything.
struct TznCommandLine
{
    // One line saying what is wrong; empty when the line was understood.
    QString Error;
    bool Help = false;
    bool Version = false;
    // The project file of --project; its options come first, the lines
    // below replace them.
    QString ProjectFile;
    // Option lines "Key=Value" of the run.
    QStringList OptionLines;
    // The sources of a batch of several (absolute: a folder with the
    // product's mask, a mask or a document); empty for one source, which
    // goes into Source alone.
    QStringList Sources;
    // --json: JSON records instead of the result lines.
    bool Json = false;
    // --quiet: no progress line.
    bool Quiet = false;
};

// True when params (without the program name) are meant as a conventional
// command line: the first one starts with "--" (but is not --help or
// --version alone) or is a short option other than the first-parameter
// switches -p, -i and -u, or a later one is an option (before or after
// the sources, as it may be).
bool IsConventionalCommandLine(const QStringList& params);

// Reads params (without the program name). A folder source is scanned for
// fileMask; cores is the default of --threads. Relative paths are taken from
// the current folder; the file system is only asked what a source is.
TznCommandLine ParseConventionalCommandLine(const QStringList& params, const QString& fileMask, int cores);

// The options of the conventional form in their groups, as --help lists
// them.
QString ConventionalUsage();

// What a usage error prints: "leafpress: " and error on one line, then
// the line that points to --help.
QString UsageError(const QString& error);

// True when params hold more than one parameter and the first is no
// option: several documents or folders (the caller tells a project file
// apart), which a single parameter would not be.
bool IsSeveralSources(const QStringList& params);
