// Saves pictures of the windows for people to look at:
// lp_screenshot <folder> [documents folder] writes main.png, config.png and
// about.png there; main.png shows a few sample rows of each status. Given a
// folder of sample documents it also compacts copies of them and writes
// running.png during that run and finished.png after it.

#include "app/znProduct.h"
#include "info/znInfo.h"
#include "platform/znApp.h"
#include "platform/znShell.h"
#include "project/znProject.h"
#include "ui/znDocslimAbout.h"
#include "ui/znDocslimMain.h"
#include "ui/znFormCfg.h"
#include "ui/znWindowStartup.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QThread>
#include <QTreeWidget>

#include <cstdio>
#include <functional>
#include <memory>

namespace {

void settle()
{
    for (int i = 0; i < 10; ++i) {
        QCoreApplication::processEvents();
        QThread::msleep(20);
    }
}

bool save(QWidget& window, const QString& path)
{
    settle();
    const bool ok = window.grab().save(path);
    std::printf("%s %s\n", ok ? "wrote" : "could not write", qPrintable(path));
    return ok;
}

int doneRows(const QTreeWidget* list)
{
    int done = 0;
    for (int i = 0; i < list->topLevelItemCount(); ++i)
        done += list->topLevelItem(i)->text(2).isEmpty() ? 0 : 1;
    return done;
}

// Copies of the sample documents, several of each, and one damaged file,
// so that the run lasts long enough to be seen and shows both outcomes.
bool makeInputs(const QString& samples, const QString& in)
{
    QDir().mkpath(in);
    const QStringList names = QDir(samples).entryList({QStringLiteral("*.docx")}, QDir::Files, QDir::Name);
    if (names.isEmpty())
        return false;
    for (int copy = 1; copy <= 20; ++copy)
        for (const QString& name : names)
            QFile::copy(QDir(samples).filePath(name),
                        QDir(in).filePath(QStringLiteral("%1-%2").arg(copy, 2, 10, QChar(u'0')).arg(name)));
    QFile damaged(QDir(in).filePath(QStringLiteral("05-damaged.docx")));
    if (damaged.open(QIODevice::WriteOnly))
        damaged.write("PK\x03\x04 no document");
    return true;
}

void waitFor(const std::function<bool()>& done, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < timeoutMs) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::msleep(1);
    }
}

void addRow(QTreeWidget* list, int status, const QString& path, const QString& result)
{
    auto* row = new QTreeWidgetItem(list);
    row->setIcon(0, TznFrmMain::Image(status));
    row->setText(1, path);
    row->setText(2, result);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2 && argc != 3) {
        std::fprintf(stderr, "usage: lp_screenshot <folder> [documents folder]\n");
        return 2;
    }
    TznApplication app(argc, argv);
    const QString folder = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(folder);

    // Every file the program keeps beside itself lands in a scratch folder.
    QTemporaryDir scratch;
    TznRecordingShell shell;
    SetShell(&shell);
    App = new TznApp(scratch.filePath(QStringLiteral("leafpress")), {});
    Info = new TznInfo;
    Project = new TznProject;
    AssignProductConstants(*Project);
    QCoreApplication::setApplicationName(Project->Title);
    Project->InlineOptions = QStringLiteral(
        "Source=/home/anna/reports/*.doc?\r\nSubdir=True\r\nTarget=/home/anna/small/\r\n"
        "ThreadsCount=2\r\nIsOverwrite=True\r\nLogFile=/home/anna/small/compact.log");

    bool ok = true;
    {
        TznFrmDocslimMain main;
        TznFrmDocslimAbout about(&main);
        main.SetAboutBox(&about);
        about.ShowAbout();
        QTreeWidget* list = main.lViewer;
        addRow(list, 1, QStringLiteral("/home/anna/reports/2023/annual-report.docx"),
               QStringLiteral("[38%] /home/anna/small/2023/annual-report.docx"));
        addRow(list, 1, QStringLiteral("/home/anna/reports/2023/site-visit-photos.docx"),
               QStringLiteral("[12%] /home/anna/small/2023/site-visit-photos.docx"));
        addRow(list, 2, QStringLiteral("/home/anna/reports/2024/locked-minutes.docx"),
               QStringLiteral("The document is protected by a password"));
        addRow(list, 1, QStringLiteral("/home/anna/reports/2024/newsletter-march.docm"),
               QStringLiteral("[99%] /home/anna/small/2024/newsletter-march.docm"));
        addRow(list, 0, QStringLiteral("/home/anna/reports/2024/plans.doc"), QString());
        addRow(list, 0, QStringLiteral("/home/anna/reports/2024/summary.docx"), QString());
        list->topLevelItem(2)->setSelected(true);
        main.show();
        ok = save(main, QDir(folder).filePath(QStringLiteral("main.png"))) && ok;

        TznFrmCfg cfg(&main);
        cfg.show();
        ok = save(cfg, QDir(folder).filePath(QStringLiteral("config.png"))) && ok;
        cfg.hide();

        about.show();
        ok = save(about, QDir(folder).filePath(QStringLiteral("about.png"))) && ok;
        about.hide();

        const QString in = scratch.filePath(QStringLiteral("reports/"));
        const QString out = scratch.filePath(QStringLiteral("small/"));
        if (argc == 3 && makeInputs(QString::fromLocal8Bit(argv[2]), in)) {
            Project->SetOption(QStringLiteral("ThreadsCount"), QStringLiteral("1"));
            main.eSource->setText(in + QStringLiteral("*.doc?"));
            main.eTarget->setText(out);
            main.aSearchConvertExecute();
            waitFor([&] { return doneRows(list) >= 6 || !main.IsRunning(); }, 60000);
            list->scrollToTop();
            const bool running = main.IsRunning();
            ok = save(main, QDir(folder).filePath(QStringLiteral("running.png"))) && ok;
            if (!running)
                std::printf("the run ended before running.png was taken\n");
            waitFor([&] { return !main.IsRunning(); }, 120000);
            list->scrollToTop();
            ok = save(main, QDir(folder).filePath(QStringLiteral("finished.png"))) && ok;
        }
    }
    delete Project;
    Project = nullptr;
    delete Info;
    Info = nullptr;
    delete App;
    App = nullptr;
    SetShell(nullptr);
    return ok ? 0 : 1;
}
