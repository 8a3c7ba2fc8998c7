#pragma once

#include <QString>
#include <QStringList>

// The first parameter of a Windows-style command line (the program name
// first): parameters are separated by characters 1 to 32, a stretch in double
// quotes may hold blanks, the quotes are not part of the parameter.
QString FirstParamOf(const QString& commandLine);

// The running program: its executable and its first command-line parameter.
class TznApp
{
public:
    // Takes the parameters after the program name as the system passed them.
    TznApp(const QString& exeName, const QStringList& params);

    QString ExeName;
    QString FirstParam;
};

// The one application object of the process.
extern TznApp* App;
