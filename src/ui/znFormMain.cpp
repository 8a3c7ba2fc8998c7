#include "ui/znFormMain.h"

#include "engine/znRunCheck.h"
#include "engine/znRunReport.h"
#include "info/znInfo.h"
#include "platform/znError.h"
#include "platform/znPath.h"
#include "platform/znShell.h"
#include "platform/znTextFile.h"
#include "project/znDialogs.h"
#include "project/znProject.h"
#include "ui/znFormAbout.h"
#include "ui/znFormCfg.h"
#include "ui/znRunControl.h"
#include "ui/znWindowStartup.h"

#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>

#include <cstdio>

namespace {

// The source path of a row as it was listed; the column shows it as
// ShownText gives it.
const int PathRole = Qt::UserRole + 1;

const char* const imageFiles[16] = {
    "00-pending", "01-success", "02-failure", "03-open", "04-new", "05-save",
    "06-saveas", "07-update", "08-help", "09-home", "10-support", "11-about",
    "12-search", "13-view", "14-config", "15-compact",
};


bool isBound(const QObject* object, const TznFrmMain* form)
{
    return object == form->eSource || object == form->cSubdir || object == form->eTarget;
}

} // namespace

TznFrmMain::TznFrmMain(QWidget* parent)
    : TznFrmMain(TznDeferCreate{}, parent)
{
    FormCreate();
}

TznFrmMain::TznFrmMain(TznDeferCreate, QWidget* parent)
    : TznFrmBase(parent), FRun(new TznRunControl(this)), FDialogs(this)
{
    setObjectName(QStringLiteral("znFrmMain"));
    FRun->ListLines = [this] { return listLines(); };
    connect(FRun, &TznRunControl::RowChanged, this,
            [this](TznBatch* batch, TznNode* node, bool hasResult, int status, const QString& message, qint64 saved) {
                QTreeWidgetItem* row = PutRow(node->Path, batch, node);
                if (hasResult && row)
                    setResult(row, status, message, saved);
            });
    connect(FRun, &TznRunControl::RunStateChanged, this, &TznFrmMain::RunStateChanged);
    connect(FRun, &TznRunControl::RunEnded, this, &TznFrmMain::OnFinish);
    // Closed from the event loop, so that a run that ends inside the first
    // show or inside a handler finishes that step first.
    connect(FRun, &TznRunControl::CloseRequested, this, [this] { QTimer::singleShot(0, this, [this] { close(); }); });
    connect(FRun, &TznRunControl::RepeatDue, this, &TznFrmMain::AutoStart);
    setWindowFlags(Qt::Window);
    for (const char* file : imageFiles)
        imgList << QIcon(QStringLiteral(":/ui/images/%1.svg").arg(QLatin1String(file)));
    build();
    SetDialogs(&FDialogs);
}

TznFrmMain::~TznFrmMain()
{
    FormDestroy();
    if (&Dialogs() == &FDialogs)
        SetDialogs(nullptr);
}

QIcon TznFrmMain::Image(int index)
{
    if (index < 0 || index >= 16)
        return {};
    return QIcon(QStringLiteral(":/ui/images/%1.svg").arg(QLatin1String(imageFiles[index])));
}

bool TznFrmMain::eventFilter(QObject* watched, QEvent* event)
{
    switch (event->type()) {
    case QEvent::ToolTip:
        if (isBound(watched, this))
            return true;
        if (auto* button = qobject_cast<QToolButton*>(watched))
            if (HintOf(button->defaultAction()).isEmpty())
                return true;
        break;
    case QEvent::MouseButtonDblClick:
        if (watched == eSource) {
            bSourceFileClick();
            return true;
        }
        if (watched == eTarget) {
            bTargetClick();
            return true;
        }
        break;
    default:
        break;
    }
    return TznFrmBase::eventFilter(watched, event);
}

void TznFrmMain::BindControls()
{
    if (!Project)
        return;
    Project->BindControl(eSource);
    Project->BindControl(cSubdir);
    Project->BindControl(eTarget);
}

void TznFrmMain::FormCreate()
{
    BindControls();
    if (Project)
        Project->OpenInitial();
    UpdateTitle();
    setAcceptDrops(true);
}

void TznFrmMain::UpdateTitle()
{
    const QString title = Project ? Project->Title : QString();
    const QString file = Project ? Project->FileName : QString();
    setWindowTitle(title + QStringLiteral(" - ") + (file.isEmpty() ? QStringLiteral("None") : file));
}

void TznFrmMain::SuggestTarget(const QString& folder)
{
    if (eTarget->text().isEmpty())
        eTarget->setText(folder);
}

void TznFrmMain::bSourceClick()
{
    QString folder = FolderPart(eSource->text());
    BrowseForFolder(folder);
    // With no folder at all (an empty field and a cancelled dialog) a
    // delimiter would turn the source and the target into the file system's
    // root, so only the mask is put back.
    if (!folder.isEmpty())
        folder = IncludeTrailingDelimiter(folder);
    eSource->setText(folder + (Project ? Project->FileMask : QString()));
    SuggestTarget(folder);
}

void TznFrmMain::bTargetClick()
{
    QString folder = eTarget->text();
    BrowseForFolder(folder);
    eTarget->setText(folder.isEmpty() ? folder : IncludeTrailingDelimiter(folder));
}

void TznFrmMain::pm1Popup()
{
    const bool selected = !lViewer->selectedItems().isEmpty();
    OpenSource1->setEnabled(selected);
    ViewSource1->setEnabled(selected);
    BrowseFiles1->setEnabled(!IsRunning());
    ViewOutput1->setEnabled(true);
    ExportList1->setEnabled(true);
}

void TznFrmMain::OpenSelected(bool folderOnly)
{
    // The first selected row in list order, whatever order the rows were
    // selected in.
    QTreeWidgetItem* row = nullptr;
    for (int i = 0; i < lViewer->topLevelItemCount() && !row; ++i)
        if (lViewer->topLevelItem(i)->isSelected())
            row = lViewer->topLevelItem(i);
    if (!row)
        return;
    const QVariant listed = row->data(1, PathRole);
    QString path = listed.isValid() ? listed.toString() : row->text(1);
    if (folderOnly)
        path = FolderPart(path);
    Shell().Open(path);
}

void TznFrmMain::ViewSource1Click()
{
    OpenSelected(true);
}

void TznFrmMain::OpenSource1Click()
{
    OpenSelected(false);
}

void TznFrmMain::aViewExecute()
{
    if (eTarget->text().isEmpty()) {
        eTarget->setFocus();
        return;
    }
    Shell().Open(eTarget->text());
}

void TznFrmMain::showEvent(QShowEvent* event)
{
    TznFrmBase::showEvent(event);
    FormShow();
}

namespace {

const int StatusRole = Qt::UserRole;

// Statuses other than success and failure show as not finished.
int imageOf(int status)
{
    return status == nsSuccess || status == nsFailure ? status : nsPending;
}

bool isExistingFile(const QString& path)
{
    return !path.isEmpty() && QFileInfo(path).isFile();
}

} // namespace

bool TznFrmMain::RepeatPending() const
{
    return FRun->RepeatPending();
}

void TznFrmMain::enableBatchChoice(bool enabled)
{
    bSourceFile->setEnabled(enabled);
    BrowseFiles1->setEnabled(enabled);
}

void TznFrmMain::NewBatch()
{
    FRun->NewBatch();
    lViewer->clear();
    updateRunStatus();
}

QTreeWidgetItem* TznFrmMain::PutRow(const QString& path, TznBatch* batch, TznNode* node)
{
    if (!batch)
        return nullptr;
    if (!node) {
        SuggestTarget(FolderPart(path));
        batch->AddSingle(path);
        return nullptr;
    }
    {
        const std::vector<TznNode*>& nodes = batch->LockNodes();
        // A result can arrive before the listing of its own node has been
        // shown; the rows before it are made from the nodes, so that rows
        // always stand in node order.
        for (int i = lViewer->topLevelItemCount(); i <= node->Index && i < int(nodes.size()); ++i) {
            auto* row = new QTreeWidgetItem;
            row->setIcon(0, Image(nsPending));
            row->setData(0, StatusRole, int(nsPending));
            row->setText(1, ShownText(nodes[i]->Path));
            row->setData(1, PathRole, nodes[i]->Path);
            lViewer->addTopLevelItem(row);
        }
        batch->UnlockNodes();
    }
    QTreeWidgetItem* row = lViewer->topLevelItem(node->Index);
    if (row) {
        const int status = node->Status.load();
        if (row->data(0, StatusRole).toInt() == nsPending)
            row->setIcon(0, Image(imageOf(status)));
    }
    updateRunStatus();
    return row;
}

void TznFrmMain::syncRows()
{
    TznBatch* batch = FRun->Batch();
    if (!batch)
        return;
    const int count = batch->NodeCount();
    for (int i = 0; i < count; ++i) {
        TznNode* node = batch->NodeAt(i);
        QTreeWidgetItem* row = node ? PutRow(node->Path, batch, node) : nullptr;
        const int status = node ? node->Status.load() : nsPending;
        if (!row || imageOf(status) == nsPending || row->data(0, StatusRole).toInt() != nsPending)
            continue;
        const qint64 saved = SavedBytes(*node);
        setResult(row, status, node->Message, saved);
    }
}

void TznFrmMain::setResult(QTreeWidgetItem* row, int status, const QString& message, qint64 savedBytes)
{
    const int image = imageOf(status);
    if (row->data(0, StatusRole).toInt() == nsPending && image != nsPending) {
        FRun->CountResult(image, savedBytes);
    }
    row->setData(0, StatusRole, image);
    row->setIcon(0, Image(image));
    row->setText(2, ShownText(FirstLine(message)));
    updateRunStatus();
}

void TznFrmMain::updateRunStatus()
{
    const int listed = lViewer->topLevelItemCount();
    prgRun->setRange(0, qMax(listed, 1));
    prgRun->setValue(qMin(FRun->Done(), qMax(listed, 1)));
    lblRun->setText(listed == 0 && !IsRunning() ? QString()
                                                : RunStatusText(FRun->Done(), listed, FRun->Failed(), FRun->Saved()));
}

void TznFrmMain::bSourceFileClick()
{
    if (IsRunning() || !Project)
        return;
    QString files = eSource->text();
    if (!OpenFileDialog(Project->SourceFilter, files, true))
        return;
    files = files.trimmed();
    if (!files.contains(u'\n'))
        eSource->setText(files);
    NewBatch();
    for (const QString& piece : files.split(u'\n')) {
        const QString name = piece.trimmed();
        if (!name.isEmpty())
            PutRow(name, FRun->Batch(), nullptr);
    }
}

void TznFrmMain::aSearchExecute()
{
    if (IsRunning())
        return;
    if (eSource->text().isEmpty()) {
        eSource->setFocus();
        RunEnded();
        return;
    }
    if (RefuseInvalidRegExt())
        return;
    NewBatch();
    const QString source = eSource->text();
    if (IsWebSource(source)) {
        PutRow(source, FRun->Batch(), nullptr);
        return;
    }
    FRun->Batch()->StartScan(source, eTarget->text(), cSubdir->isChecked());
}

bool TznFrmMain::RefuseInvalidRegExt()
{
    const QString error = Project ? RegExtError(Project->RegExt()) : QString();
    if (error.isEmpty())
        return false;
    // The matcher would let every file through; with DeleteSource that
    // deletes the files the filter was meant to keep.
    showRefusal(error);
    return true;
}

// The window always writes its results; a project asking for a dry run is
// refused before the target folder is even created, so that nothing is
// written that the project meant only to measure.
bool TznFrmMain::refuseDryRun()
{
    if (!Project || !Project->DryRun())
        return false;
    showRefusal(QStringLiteral("the project asks for a dry run (DryRun), which only the command line "
                               "does: clear DryRun to compact from the window"));
    return true;
}

// Why a run does not start: in the status line, and on the error output of
// a project that runs without anyone watching.
void TznFrmMain::showRefusal(const QString& error)
{
    QString text = error;
    text[0] = text[0].toUpper();
    lblRun->setText(text + u'.');
    FRun->Refuse(error);
}

void TznFrmMain::aConvertExecute()
{
    if (IsRunning())
        return;
    if (RefuseInvalidRegExt() || refuseDryRun()) {
        RunEnded();
        return;
    }
    if (const QString reason = FRun->StartRefusal(eSource->text(), eTarget->text()); !reason.isEmpty()) {
        showRefusal(reason);
        RunEnded();
        return;
    }
    QString target = eTarget->text();
    if (!target.isEmpty())
        target = CutBackTarget(target, NativePathStyle(), isExistingFile);
    if (target.isEmpty()) {
        eTarget->setFocus();
        RunEnded();
        return;
    }
    QDir().mkpath(target);
    target = IncludeTrailingDelimiter(target);
    eTarget->setText(target);
    if (Project)
        Project->CollectOptions(false);

    try {
        if (!FRun->Batch())
            aSearchExecute();
        if (!FRun->Batch())
            throw EznError(QStringLiteral("No batch"));
        if (FRun->Batch()->Drained())
            aSearchExecute();
    } catch (const EznError&) {
        // An unattended run must still come to its end, also when its
        // source could not be listed.
        RunEnded();
        return;
    }

    aConvert->setEnabled(false);
    aSearchConvert->setEnabled(false);
    aSearch->setEnabled(false);
    enableBatchChoice(false);

    FRun->Start(eTarget->text());
}

void TznFrmMain::aSearchConvertExecute()
{
    aSearchExecute();
    aConvertExecute();
}

void TznFrmMain::aPauseExecute()
{
    FRun->Pause();
}

void TznFrmMain::aStopExecute()
{
    FRun->Stop();
}

// The buttons follow the run: while it runs Convert becomes Pause and the
// hidden Start button becomes Stop; while it ends neither can be pressed.
void TznFrmMain::RunStateChanged(TznRunControl::TznRunState state)
{
    prgRun->setVisible(state != TznRunControl::TznRunState::Idle);
    switch (state) {
    case TznRunControl::TznRunState::Running:
        aConvert->setEnabled(false);
        aSearchConvert->setEnabled(false);
        aSearch->setEnabled(false);
        enableBatchChoice(false);
        aStop->setEnabled(true);
        bCreate->SetAction(aPause);
        aPause->setEnabled(true);
        bSearchConvert->SetAction(aStop);
        updateRunStatus();
        break;
    case TznRunControl::TznRunState::Pausing:
    case TznRunControl::TznRunState::Stopping:
        aPause->setEnabled(false);
        aStop->setEnabled(false);
        break;
    case TznRunControl::TznRunState::Idle:
        // The last row changes handed over by the workers may still be on
        // their way; every worker has let go of the nodes now, so the list
        // is brought up to date from them before the run is counted.
        syncRows();
        aConvert->setEnabled(true);
        bCreate->SetAction(aConvert);
        aSearchConvert->setEnabled(true);
        bSearchConvert->SetAction(aSearchConvert);
        aSearch->setEnabled(true);
        enableBatchChoice(true);
        break;
    }
}

void TznFrmMain::OnFinish()
{
    updateRunStatus();
    RunEnded();
    if (FCloseWhenDone) {
        FCloseWhenDone = false;
        QTimer::singleShot(0, this, [this] { close(); });
    }
}

void TznFrmMain::RunEnded()
{
    FRun->EndRun();
}

void TznFrmMain::AutoStart()
{
    if (Project && Project->RunAndClose())
        aConvertExecute();
}

QStringList TznFrmMain::listLines() const
{
    QStringList lines;
    for (int i = 0; i < lViewer->topLevelItemCount(); ++i) {
        const QTreeWidgetItem* row = lViewer->topLevelItem(i);
        lines << ListResultLine(row->data(0, StatusRole).toInt(), row->text(1), row->text(2));
    }
    return lines;
}

void TznFrmMain::ExportList(const QString& path)
{
    WriteTextFile(path, listLines());
}

bool TznFrmMain::IsRunning() const
{
    return FRun->IsRunning();
}

TznBatch* TznFrmMain::Batch() const
{
    return FRun->Batch();
}

void TznFrmMain::ExportList1Click()
{
    QString path;
    if (SaveFileDialog(QStringLiteral("Log File|*.log"), QStringLiteral(".log"), path))
        ExportList(path);
}

void TznFrmMain::FormShow()
{
    if (FShown)
        return;
    FShown = true;
    AutoStart();
}

void TznFrmMain::closeEvent(QCloseEvent* event)
{
    if (IsRunning()) {
        // The workers use the batch until they end: stop them and close
        // when the last one has reported its end.
        FCloseWhenDone = true;
        aStopExecute();
        event->ignore();
        return;
    }
    FRun->CancelRepeat();
    TznFrmBase::closeEvent(event);
}

void TznFrmMain::FormDestroy()
{
    if (FDestroyed)
        return;
    FDestroyed = true;
    FRun->Shutdown();
    setAcceptDrops(false);
}
