// Saves pictures of the windows for people to look at:
// lp_screenshot <folder> writes main.png, config.png and about.png there.
// The list shows a few sample rows of each status; nothing is converted.

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
#include <QLineEdit>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QTemporaryDir>
#include <QThread>
#include <QTreeWidget>

#include <cstdio>
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
    if (argc != 2) {
        std::fprintf(stderr, "usage: lp_screenshot <folder>\n");
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
