#include "platform/znApp.h"

TznApp* App = nullptr;

namespace {

bool isBlank(QChar c)
{
    return c.unicode() >= 1 && c.unicode() <= 32;
}

// Reads the parameter starting at pos (blanks before it skipped); pos ends after it.
QString nextParam(const QString& line, qsizetype& pos)
{
    const qsizetype n = line.size();
    while (pos < n && isBlank(line[pos]))
        ++pos;
    QString param;
    bool quoted = false;
    while (pos < n && (quoted || !isBlank(line[pos]))) {
        if (line[pos] == u'"')
            quoted = !quoted;
        else
            param += line[pos];
        ++pos;
    }
    return param;
}

} // namespace

QString FirstParamOf(const QString& commandLine)
{
    // A NUL ends the text, as it does in the system's own command line.
    const QString line = commandLine.left(commandLine.indexOf(QChar(0)) >= 0
                                              ? commandLine.indexOf(QChar(0))
                                              : commandLine.size());
    qsizetype pos = 0;
    nextParam(line, pos); // the program name
    return nextParam(line, pos);
}

TznApp::TznApp(const QString& exeName, const QStringList& params)
    : ExeName(exeName)
{
    // The system has split the command line already; the quote characters
    // are still never part of a parameter.
    if (!params.isEmpty()) {
        FirstParam = params.first();
        FirstParam.remove(u'"');
        const qsizetype nul = FirstParam.indexOf(QChar(0));
        if (nul >= 0)
            FirstParam.truncate(nul);
    }
}
