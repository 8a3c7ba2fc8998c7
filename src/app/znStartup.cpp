#include "app/znStartup.h"

#include "app/znCommandLine.h"
#include "app/znProduct.h"
#include "engine/znMatch.h"
#include "info/znInfo.h"
#include "platform/znApp.h"
#include "platform/znAppFiles.h"
#include "platform/znLocalPath.h"
#include "project/znProject.h"
#include "runner/znMain.h"
#include "ui/znWindowStartup.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QThread>

#include <cstdio>

#include <algorithm>
#include <memory>

namespace {

// Holds the process-wide objects and releases them in the reverse order of
// their creation, however the program ends.
struct TznProcessObjects
{
    std::unique_ptr<TznApp> app;
    std::unique_ptr<TznInfo> info;
    std::unique_ptr<TznProject> project;
    std::unique_ptr<TznMain> runner;
    std::unique_ptr<TznMatch> matcher;

    ~TznProcessObjects()
    {
        matcher.reset();
        Matcher = nullptr;
        runner.reset();
        Runner = nullptr;
        project.reset();
        Project = nullptr;
        info.reset();
        Info = nullptr;
        app.reset();
        App = nullptr;
    }
};

void printText(FILE* stream, const QString& text)
{
    std::fputs(text.toLocal8Bit().constData(), stream);
}

// Opens the project of a conventional command line. Returns the exit
// status when the process ends here (help, version, a bad line), else -1.
int OpenConventional(const QStringList& params)
{
    const TznCommandLine line = ParseConventionalCommandLine(params, Project->FileMask, QThread::idealThreadCount());
    if (line.Help) {
        printText(stdout, HelpText());
        return 0;
    }
    if (line.Version) {
        printText(stdout, Project->Title + u' ' + Project->Version + u'\n');
        return 0;
    }
    QString error = line.Error;
    if (error.isEmpty() && !line.ProjectFile.isEmpty()
        && (!QFileInfo(line.ProjectFile).isFile() || !Project->IsProjectFile(line.ProjectFile)))
        error = QStringLiteral("'%1' is no project file (*%2)").arg(line.ProjectFile, Project->ProjectExt);
    if (!error.isEmpty()) {
        printText(stderr, UsageError(error));
        return 2;
    }
    if (line.ProjectFile.isEmpty()) {
        Project->InlineOptions = line.OptionLines.join(QStringLiteral("\r\n"));
        Project->OpenInitial();
    } else {
        Project->FileName = line.ProjectFile;
        Project->OpenInitial();
        for (const QString& option : line.OptionLines) {
            const qsizetype eq = option.indexOf(u'=');
            Project->SetOption(option.left(eq), option.mid(eq + 1));
        }
    }
    Runner->Sources = line.Sources;
    Runner->Json = line.Json;
    Runner->Quiet = line.Quiet;
    // A batch command line runs under cron, ssh or a job runner: nobody
    // would see a browser, and the report would carry local paths away.
    Runner->ReportFailures = false;
    // A script reads from the status whether every document succeeded.
    Runner->FailureStatus = true;
    const auto hasLine = [&line](const QString& key) {
        return std::any_of(line.OptionLines.cbegin(), line.OptionLines.cend(),
                           [&key](const QString& option) { return option.startsWith(key); });
    };
    Runner->ResultsInPlace = line.ProjectFile.isEmpty() && hasLine(QStringLiteral("DryRun="))
                             && !hasLine(QStringLiteral("Target="));
    return -1;
}

} // namespace

void AllowRunWithoutDisplay()
{
#if defined(Q_OS_UNIX) && !defined(Q_OS_MACOS)
    // Qt ends the process when its platform cannot open a display. An
    // unattended run needs none: it goes on Qt's offscreen platform when
    // no display is named, and falls back to it when the named one cannot
    // be opened. A platform the user chose is left as it is.
    if (!qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        return;
    const bool wayland = !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
    const bool x11 = !qEnvironmentVariableIsEmpty("DISPLAY");
    QByteArray platforms = wayland ? "wayland;" : "";
    if (x11)
        platforms += "xcb;";
    platforms += "offscreen";
    qputenv("QT_QPA_PLATFORM", platforms);
#endif
}

bool HasDisplay()
{
#if defined(Q_OS_UNIX) && !defined(Q_OS_MACOS)
    // A platform the user chose is taken at its word.
    return !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") || !qEnvironmentVariableIsEmpty("DISPLAY")
           || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
#else
    return true;
#endif
}

QString HelpText()
{
    return QStringLiteral(
               "Usage: leafpress [OPTION]... SOURCE...\n"
               "Make word-processing documents (.doc, .docx, .docm) smaller: every picture\n"
               "shown smaller than its full size is re-inserted at the size it is shown.\n"
               "SOURCE is a document, a folder (its *.doc? documents) or a mask; several\n"
               "sources make one batch. The run has no window and opens no error report.\n\n"
               "Other forms:\n"
               "  leafpress [PROJECT | DOCUMENT | FOLDER]  open the window with it\n"
               "  leafpress DOCUMENT DOCUMENT...           open the window listing them\n"
               "                                           (without a display: as above)\n"
               "  leafpress -pOPTIONS    inline project keys, name=value pairs separated by\n"
               "                         ',' or ';', e.g. -pSource=/in/*.doc?,PureConsole=1\n"
               "  leafpress -i | -u      open the product's web site\n"
               "A PROJECT (*.batch-docslim) or -pOPTIONS with PureConsole=1 runs without a\n"
               "window and ends when done; after failures it opens an error report naming\n"
               "the documents' file names.\n\n")
        + ConventionalUsage()
        + QStringLiteral(
              "Examples:\n"
              "  leafpress -r -o /out /in           compact the tree /in into /out\n"
              "  leafpress --in-place ~/Reports     replace each document by its smaller self\n"
              "  leafpress --dry-run -r ~/Reports   tell what would be saved, write nothing\n"
              "  leafpress -q --json -o out a.docx b.docx > results.jsonl\n\n"
              "Exit status:\n"
              "  0  every document was compacted or skipped\n"
              "  1  at least one document failed\n"
              "  2  a usage error, a run refused before it started, or a log file that\n"
              "     could not be written\n"
              "The other forms end with 0 after a run, failed documents included, and with\n"
              "2 when nothing could be run or the log file could not be written.\n\n"
              "Report bugs at <%1>, or with Support in the window.\n")
              .arg(TznInfo::SiteUrl);
}

int RunProgram(int argc, char** argv)
{
    QCoreApplication::setApplicationName(QStringLiteral("leafpress"));
    // A name that is not valid UTF-8 keeps its bytes (DecodeLocalPath), so
    // that the document it names can be found and opened by them.
    QStringList params;
    for (int i = 1; i < argc; ++i)
        params << DecodeLocalPath(QByteArray(argv[i]));

    TznProcessObjects objects;
    objects.app = std::make_unique<TznApp>(ExecutablePath(), params);
    App = objects.app.get();
    objects.info = std::make_unique<TznInfo>();
    Info = objects.info.get();
    objects.project = std::make_unique<TznProject>();
    Project = objects.project.get();
    objects.runner = std::make_unique<TznMain>();
    Runner = objects.runner.get();

    AssignProductConstants(*Project);
    QCoreApplication::setApplicationName(Project->Title);
    Project->OnOpenLink = [](const QString& page, const QString& action, const QString& extra) {
        Info->OpenLink(page, action, extra);
    };
    // Several documents or folders without an option, as a file manager
    // hands them over, are all listed in the window; without a display they
    // are the sources of a conventional command line, which asks for -o.
    // One parameter keeps its first-parameter meaning.
    const bool several = IsSeveralSources(params) && !Project->IsProjectFile(params.first());
    // The conventional form always runs unattended; the first-parameter
    // form keeps its own rules.
    const bool conventional = IsConventionalCommandLine(params) || (several && !HasDisplay());
    QStringList windowSources;
    if (several && !conventional)
        for (const QString& param : params)
            windowSources << QDir::cleanPath(QDir::current().absoluteFilePath(param));
    if (conventional) {
        if (const int status = OpenConventional(params); status >= 0)
            return status;
    } else if (!Project->ParseCommandLine(windowSources.isEmpty() ? App->FirstParam : QString())) {
        return 0;
    }

    objects.matcher = std::make_unique<TznMatch>();
    Matcher = objects.matcher.get();

    if (conventional || (windowSources.isEmpty() && Project->PureConsole() && !IsWebSource(Project->Source()))) {
        QCoreApplication core(argc, argv);
        return Runner->Run();
    }

    if (Project->RunAndClose()) {
        AllowRunWithoutDisplay();
    } else if (!HasDisplay()) {
        // Qt would end the process with an abort; the user gets the way
        // to run without the window instead.
        printText(stderr, QStringLiteral("leafpress: no display: use -o DIR for a run without the window\n"));
        return 2;
    }
    return RunWindow(argc, argv, windowSources);
}
