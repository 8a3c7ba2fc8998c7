// The main window's commands that start no run: the tool bar's Open (with
// its recent-projects menu), New, Config, Save, Save As, Update, Help, Home,
// Support and About, and files dropped on the window.
#include "ui/znFormMain.h"

#include "info/znInfo.h"
#include "project/znProject.h"
#include "ui/znFormAbout.h"
#include "ui/znFormCfg.h"

#include <QAction>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QTreeWidget>
#include <QUrl>

void TznFrmMain::pm2Popup()
{
    pm2->clear();
    if (!Project)
        return;
    for (const QString& path : std::as_const(Project->RecentFiles)) {
        // The path is kept apart from the caption, where an "&" has to be
        // doubled to show as itself.
        QString caption = path;
        caption.replace(u'&', QStringLiteral("&&"));
        QAction* entry = pm2->addAction(caption);
        entry->setData(path);
        entry->setEnabled(QFileInfo::exists(path));
        connect(entry, &QAction::triggered, this, [this, entry] { RecentProjectClick(entry); });
    }
}

void TznFrmMain::RecentProjectClick(QAction* entry)
{
    if (!Project || !entry)
        return;
    Project->FileName = entry->data().toString();
    Project->OpenProject(true);
    UpdateTitle();
}

void TznFrmMain::aOpenExecute()
{
    if (Project)
        Project->OpenProject(false);
    UpdateTitle();
}

void TznFrmMain::aNewExecute()
{
    if (Project)
        Project->NewProject();
    UpdateTitle();
}

void TznFrmMain::aConfigExecute()
{
    if (!FFrmCfg)
        FFrmCfg = new TznFrmCfg(this);
    FFrmCfg->exec();
    UpdateTitle();
}

void TznFrmMain::aSaveExecute()
{
    if (Project)
        Project->SaveProject();
    UpdateTitle();
}

void TznFrmMain::aSaveAsExecute()
{
    if (Project)
        Project->SaveProjectAs();
    UpdateTitle();
}

void TznFrmMain::aUpdateExecute()
{
    if (Info)
        Info->OpenLink(QStringLiteral("download"), QString(), QString());
}

void TznFrmMain::aHelpExecute()
{
    if (!Info)
        return;
    Info->OpenLink(QStringLiteral("h"), QString(), QString());
    Info->Tally(QStringLiteral("H"), 0, 1);
}

void TznFrmMain::aHomePageExecute()
{
    if (Info)
        Info->OpenLink(QString(), QString(), QString());
}

void TznFrmMain::aSupportsExecute()
{
    if (Info)
        Info->OpenLink(QStringLiteral("supports"), QString(), QString());
}

void TznFrmMain::aAboutExecute()
{
    if (FAbout)
        FAbout->ShowAbout();
}

void TznFrmMain::WMDropFiles(const QStringList& names, QWidget* target)
{
    const bool onList = target && (target == lViewer || lViewer->isAncestorOf(target));
    QLineEdit* edit = target == eSource ? eSource : target == eTarget ? eTarget : nullptr;
    if (!onList && !edit)
        return;
    for (qsizetype i = 0; i < names.size(); ++i) {
        const QString& name = names[i];
        if (names.size() == 1 && Project && Project->IsProjectFile(name)) {
            Project->FileName = name;
            Project->OpenProject(true);
            // The caption names the project file, so it follows the new one.
            UpdateTitle();
            break;
        }
        if (edit) {
            edit->setText(name);
            SuggestTarget(FolderPart(name));
            break;
        }
        // The workers of a run take their files from the current batch, so
        // a drop cannot replace it before the run has ended.
        if (IsRunning())
            break;
        if (i == 0)
            NewBatch();
        PutRow(name, FRun->Batch(), nullptr);
    }
}

void TznFrmMain::dragEnterEvent(QDragEnterEvent* event)
{
    if (event->mimeData()->hasUrls())
        event->acceptProposedAction();
}

void TznFrmMain::dropEvent(QDropEvent* event)
{
    QStringList names;
    for (const QUrl& url : event->mimeData()->urls())
        if (url.isLocalFile())
            names << QDir::toNativeSeparators(url.toLocalFile());
    if (names.isEmpty())
        return;
    event->acceptProposedAction();
    WMDropFiles(names, childAt(event->position().toPoint()));
}
