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
        printText(stderr, QStringLiteral("leafpress: ") + error + QStringLiteral("\n\n") + ConventionalUsage());
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
               "Usage: leafpress [PROJECT | DOCUMENT | FOLDER | -pOPTIONS | -i | -u]\n"
               "   or: leafpress [options] SOURCE...\n"
               "Makes word-processing documents smaller by re-inserting every picture\n"
               "that is shown smaller than its full size at the size it is shown.\n\n"
               "  PROJECT      a project file (*.batch-docslim) to open\n"
               "  DOCUMENT     a document or folder to use as the source\n"
               "  -pOPTIONS    inline options, name=value pairs separated by ',' or ';'\n"
               "               e.g. -pSource=/in/*.doc?,Target=/out,PureConsole=1\n"
               "  -i, -u       open the product's web site\n"
               "  -h, --help   show this text\n"
               "  -V, --version  show the version\n\n"
               "A project with PureConsole=1 runs without a window and ends when done;\n"
               "a Source beginning with http:// or https:// needs a Target folder.\n"
               "After failures it opens an error report naming the documents' file names.\n\n"
               "The second form runs without a window and opens no report; its options\n"
               "go before the first SOURCE. SOURCE is a document, a folder (its *.doc?\n"
               "documents) or a mask; several sources make one batch. Without -o,\n"
               "--dry-run names each result where --in-place would put it.\n"
               "e.g. leafpress --in-place ~/Reports\n"
               "     leafpress -r -j 2 -o /out /in\n\n")
        + ConventionalUsage();
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
    // The conventional form always runs unattended; the first-parameter
    // form keeps its own rules.
    const bool conventional = IsConventionalCommandLine(params);
    if (conventional) {
        if (const int status = OpenConventional(params); status >= 0)
            return status;
    } else if (!Project->ParseCommandLine(App->FirstParam)) {
        return 0;
    }

    objects.matcher = std::make_unique<TznMatch>();
    Matcher = objects.matcher.get();

    if (conventional || (Project->PureConsole() && !IsWebSource(Project->Source()))) {
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
    return RunWindow(argc, argv);
}
