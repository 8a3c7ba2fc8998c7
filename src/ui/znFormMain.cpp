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
#include "ui/znWindowStartup.h"

#include <QAction>
#include <QCheckBox>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QFrame>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QProgressBar>
#include <QRegularExpression>
#include <QThread>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QTreeWidget>
#include <QUrl>
#include <QVBoxLayout>

#include <cstdio>
#include <utility>

// --- TznActionButton ---

TznActionButton::TznActionButton(QWidget* parent)
    : QPushButton(parent)
{
    setAutoDefault(false);
    connect(this, &QPushButton::clicked, this, [this] {
        if (FAction)
            FAction->trigger();
    });
}

void TznActionButton::SetAction(QAction* action)
{
    if (FChanged)
        disconnect(FChanged);
    FAction = action;
    if (action)
        FChanged = connect(action, &QAction::changed, this, &TznActionButton::sync);
    sync();
}

void TznActionButton::SetHint(const QString& hint)
{
    FHintAction = FAction;
    FHint = hint;
    setToolTip(hint);
}

void TznActionButton::sync()
{
    if (!FAction)
        return;
    setText(FAction->text());
    setToolTip(FHintAction == FAction ? FHint : HintOf(FAction));
    setEnabled(FAction->isEnabled());
    setVisible(FAction->isVisible());
}

QString HintOf(const QAction* action)
{
    return action ? action->property("hint").toString() : QString();
}

void SetHintOf(QAction* action, const QString& hint)
{
    action->setProperty("hint", hint);
    action->setToolTip(hint);
    action->setStatusTip(hint);
}

// --- TznFrmMain ---

namespace {

const char* const imageFiles[16] = {
    "00-pending", "01-success", "02-failure", "03-open", "04-new", "05-save",
    "06-saveas", "07-update", "08-help", "09-home", "10-support", "11-about",
    "12-search", "13-view", "14-config", "15-compact",
};


TznActionButton* makeActionButton(QWidget* parent, const char* name, QAction* action, const QRect& geometry)
{
    auto* button = new TznActionButton(parent);
    button->setObjectName(QLatin1String(name));
    button->setGeometry(geometry);
    button->SetAction(action);
    return button;
}

// A labelled edit: the label to the left of the edit, its accelerator
// focusing the edit.
QLineEdit* makeLabelledEdit(QWidget* parent, const char* name, const QString& label,
                            QLabel*& labelOut, const QRect& geometry)
{
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(QLatin1String(name));
    edit->setGeometry(geometry);
    auto* caption = new QLabel(label, parent);
    caption->setObjectName(QStringLiteral("lbl") + QLatin1String(name + 1));
    caption->setBuddy(edit);
    caption->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    caption->setGeometry(geometry.left() - 63, geometry.top(), 60, geometry.height());
    labelOut = caption;
    return edit;
}

// Bound controls carry the name of their value's property as tool tip, which
// is never shown.
void prepareBound(QWidget* control, const QString& property)
{
    control->setToolTip(property);
    control->setProperty("tag", -1);
}

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
    : TznFrmBase(parent), FDialogs(this)
{
    setObjectName(QStringLiteral("znFrmMain"));
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

void TznFrmMain::build()
{
    auto makeAction = [this](const char* name, const QString& caption, const QString& hint, int image,
                             void (TznFrmMain::*handler)()) {
        auto* action = new QAction(caption, this);
        action->setObjectName(QLatin1String(name));
        SetHintOf(action, hint);
        if (image >= 0)
            action->setIcon(imgList[image]);
        connect(action, &QAction::triggered, this, handler);
        return action;
    };
    aConvert = makeAction("aConvert", QStringLiteral("&Convert"), QStringLiteral("Convert the file(s) instantly"),
                          -1, &TznFrmMain::aConvertExecute);
    aStop = makeAction("aStop", QStringLiteral("Sto&p"), QString(), -1, &TznFrmMain::aStopExecute);
    aOpen = makeAction("aOpen", QStringLiteral("&Open"), QStringLiteral("Open a batch project"), 3,
                       &TznFrmMain::aOpenExecute);
    aNew = makeAction("aNew", QStringLiteral("&New"), QStringLiteral("New a batch project"), 4,
                      &TznFrmMain::aNewExecute);
    aConfig = makeAction("aConfig", QStringLiteral("Config"),
                         QStringLiteral("Config the options of the batch project"), 14,
                         &TznFrmMain::aConfigExecute);
    aSave = makeAction("aSave", QStringLiteral("Sa&ve"), QStringLiteral("Save the batch project"), 5,
                       &TznFrmMain::aSaveExecute);
    aSaveAs = makeAction("aSaveAs", QStringLiteral("Save &As"), QStringLiteral("Save the batch project as ..."),
                         6, &TznFrmMain::aSaveAsExecute);
    aUpdate = makeAction("aUpdate", QStringLiteral("Check &Update"), QString(), 7, &TznFrmMain::aUpdateExecute);
    aHelp = makeAction("aHelp", QStringLiteral("&Help"), QString(), 8, &TznFrmMain::aHelpExecute);
    aHomePage = makeAction("aHomePage", QStringLiteral("Home"), QString(), 9, &TznFrmMain::aHomePageExecute);
    aSupports = makeAction("aSupports", QStringLiteral("Support"), QStringLiteral("Send us e-mail for support"), 10,
                           &TznFrmMain::aSupportsExecute);
    aAbout = makeAction("aAbout", QStringLiteral("About"), QString(), 11, &TznFrmMain::aAboutExecute);
    aSearch = makeAction("aSearch", QStringLiteral("Search"), QStringLiteral("Search files from the source folder"),
                         -1, &TznFrmMain::aSearchExecute);
    aView = makeAction("aView", QStringLiteral("View"), QStringLiteral("View the convert result"), -1,
                       &TznFrmMain::aViewExecute);
    aSearchConvert = makeAction("aSearchConvert", QStringLiteral("Start"), QString(), -1,
                                &TznFrmMain::aSearchConvertExecute);
    aSearchConvert->setVisible(false);
    aPause = makeAction("aPause", QStringLiteral("Pause"), QString(), -1, &TznFrmMain::aPauseExecute);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);

    // Tool bar: captions beside the images, every button 101 wide.
    ToolBar = new QToolBar(this);
    ToolBar->setObjectName(QStringLiteral("ToolBar"));
    ToolBar->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    ToolBar->setIconSize(QSize(16, 16));
    ToolBar->setMovable(false);
    ToolBar->setFloatable(false);
    layout->addWidget(ToolBar);
    auto addTool = [this](QAction* action, const char* name) {
        ToolBar->addAction(action);
        auto* button = qobject_cast<QToolButton*>(ToolBar->widgetForAction(action));
        button->setObjectName(QLatin1String(name));
        button->setFixedWidth(101);
        button->setAutoRaise(true);
        button->installEventFilter(this);
        return button;
    };
    pm2 = new QMenu(this);
    pm2->setObjectName(QStringLiteral("pm2"));
    tbOpen = addTool(aOpen, "tbOpen");
    tbOpen->setMenu(pm2);
    tbOpen->setPopupMode(QToolButton::MenuButtonPopup);
    tbNew = addTool(aNew, "tbNew");
    tbConfig = addTool(aConfig, "tbConfig");
    tbSave = addTool(aSave, "tbSave");
    tbSaveAs = addTool(aSaveAs, "tbSaveAs");
    tb1 = ToolBar->addSeparator();
    tb1->setObjectName(QStringLiteral("tb1"));
    tbUpdate = addTool(aUpdate, "tbUpdate");
    tb2 = ToolBar->addSeparator();
    tb2->setObjectName(QStringLiteral("tb2"));
    tbHelp = addTool(aHelp, "tbHelp");
    tbHomePage = addTool(aHomePage, "tbHomePage");
    tbSupports = addTool(aSupports, "tbSupports");
    tbAbout = addTool(aAbout, "tbAbout");

    // Source and target rows.
    pAction = new QFrame(this);
    pAction->setObjectName(QStringLiteral("pAction"));
    pAction->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    pAction->setFixedHeight(70);
    layout->addWidget(pAction);
    auto* actionLayout = new QVBoxLayout(pAction);
    actionLayout->setContentsMargins(1, 1, 1, 1);
    actionLayout->setSpacing(0);

    pSource = new QWidget(pAction);
    pSource->setObjectName(QStringLiteral("pSource"));
    pSource->setFixedHeight(32);
    pSource->setToolTip(QStringLiteral("Choose or drag & drop source folder or file(s)"));
    actionLayout->addWidget(pSource);
    eSource = makeLabelledEdit(pSource, "eSource", QStringLiteral("&Source"), lblSource, QRect(72, 6, 500, 21));
    bSource = MakeButton(pSource, "bSource", QStringLiteral("Folder"), QRect(576, 6, 38, 21));
    bSource->setToolTip(QStringLiteral("Choose a folder and click \"Search\" to list files"));
    bSourceFile = MakeButton(pSource, "bSourceFile", QStringLiteral("Files"), QRect(618, 6, 38, 21));
    bSourceFile->setToolTip(QStringLiteral("Choose file(s) and click \"Convert\" to convert them"));
    cSubdir = new QCheckBox(QStringLiteral("Su&b folders"), pSource);
    cSubdir->setObjectName(QStringLiteral("cSubdir"));
    cSubdir->setLayoutDirection(Qt::RightToLeft);
    cSubdir->setGeometry(660, 6, 96, 21);
    bSearch = makeActionButton(pSource, "bSearch", aSearch, QRect(760, 6, 76, 21));

    pTarget = new QWidget(pAction);
    pTarget->setObjectName(QStringLiteral("pTarget"));
    pTarget->setFixedHeight(30);
    pTarget->setToolTip(QStringLiteral("Choose or drag & drop target folder"));
    actionLayout->addWidget(pTarget);
    eTarget = makeLabelledEdit(pTarget, "eTarget", QStringLiteral("&Target"), lblTarget, QRect(72, 4, 500, 21));
    bTarget = MakeButton(pTarget, "bTarget", QStringLiteral("Folder"), QRect(576, 4, 38, 21));
    bTarget->setToolTip(QStringLiteral("Choose a target folder to save the converted file(s)"));
    bView = makeActionButton(pTarget, "bView", aView, QRect(618, 4, 38, 21));
    bSearchConvert = makeActionButton(pTarget, "bSearchConvert", aSearchConvert, QRect(680, 4, 76, 21));
    bCreate = makeActionButton(pTarget, "bCreate", aConvert, QRect(760, 4, 76, 21));

    pOthers = new QWidget(pAction);
    pOthers->setObjectName(QStringLiteral("pOthers"));
    actionLayout->addWidget(pOthers, 1);
    auto* othersLayout = new QHBoxLayout(pOthers);
    othersLayout->setContentsMargins(8, 0, 8, 0);
    prgRun = new QProgressBar(pOthers);
    prgRun->setObjectName(QStringLiteral("prgRun"));
    prgRun->setFixedSize(200, 12);
    prgRun->setTextVisible(false);
    prgRun->setRange(0, 1);
    prgRun->setValue(0);
    othersLayout->addWidget(prgRun);
    lblRun = new QLabel(pOthers);
    lblRun->setObjectName(QStringLiteral("lblRun"));
    othersLayout->addWidget(lblRun, 1);

    FDaemonTimer = new QTimer(this);
    FDaemonTimer->setSingleShot(true);
    connect(FDaemonTimer, &QTimer::timeout, this, &TznFrmMain::AutoStart);

    pSpacer = new QWidget(this);
    pSpacer->setObjectName(QStringLiteral("pSpacer"));
    pSpacer->setFixedHeight(2);
    layout->addWidget(pSpacer);

    // The result list.
    pViewer = new QFrame(this);
    pViewer->setObjectName(QStringLiteral("pViewer"));
    pViewer->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    layout->addWidget(pViewer, 1);
    auto* viewerLayout = new QVBoxLayout(pViewer);
    viewerLayout->setContentsMargins(1, 1, 1, 1);
    lViewer = new QTreeWidget(pViewer);
    lViewer->setObjectName(QStringLiteral("lViewer"));
    lViewer->setFrameShape(QFrame::NoFrame);
    lViewer->setColumnCount(3);
    lViewer->setHeaderLabels({QStringLiteral("@"), QStringLiteral("File Name"), QStringLiteral("Result")});
    lViewer->setRootIsDecorated(false);
    lViewer->setUniformRowHeights(true);
    lViewer->setItemsExpandable(false);
    lViewer->setSelectionMode(QAbstractItemView::ExtendedSelection);
    lViewer->setSelectionBehavior(QAbstractItemView::SelectRows);
    lViewer->setEditTriggers(QAbstractItemView::NoEditTriggers);
    lViewer->setIconSize(QSize(16, 16));
    lViewer->setAllColumnsShowFocus(true);
    lViewer->setContextMenuPolicy(Qt::CustomContextMenu);
    lViewer->setToolTip(QStringLiteral("Drag & drop file(s) here and click \"Convert\" to convert them"));
    QHeaderView* header = lViewer->header();
    header->setStretchLastSection(false);
    header->setMinimumSectionSize(30);
    header->setSectionResizeMode(0, QHeaderView::Fixed);
    header->resizeSection(0, 30);
    header->resizeSection(1, 370);
    header->resizeSection(2, 370);
    viewerLayout->addWidget(lViewer);

    pm1 = new QMenu(this);
    pm1->setObjectName(QStringLiteral("pm1"));
    auto addItem = [this](const char* name, const QString& caption) {
        QAction* item = pm1->addAction(caption);
        item->setObjectName(QLatin1String(name));
        return item;
    };
    auto addSeparator = [this](const char* name) {
        QAction* item = pm1->addSeparator();
        item->setObjectName(QLatin1String(name));
        return item;
    };
    BrowseFiles1 = addItem("BrowseFiles1", QStringLiteral("Browse Files"));
    N1 = addSeparator("N1");
    ViewSource1 = addItem("ViewSource1", QStringLiteral("View  Source"));
    OpenSource1 = addItem("OpenSource1", QStringLiteral("Open Source"));
    N2 = addSeparator("N2");
    ViewOutput1 = addItem("ViewOutput1", QStringLiteral("View  Output"));
    N3 = addSeparator("N3");
    ExportList1 = addItem("ExportList1", QStringLiteral("Export the List"));
    connect(BrowseFiles1, &QAction::triggered, this, &TznFrmMain::bSourceFileClick);
    connect(ViewSource1, &QAction::triggered, this, &TznFrmMain::ViewSource1Click);
    connect(OpenSource1, &QAction::triggered, this, &TznFrmMain::OpenSource1Click);
    connect(ViewOutput1, &QAction::triggered, aView, &QAction::trigger);
    connect(ExportList1, &QAction::triggered, this, &TznFrmMain::ExportList1Click);
    connect(pm1, &QMenu::aboutToShow, this, &TznFrmMain::pm1Popup);
    connect(lViewer, &QWidget::customContextMenuRequested, this, [this](const QPoint& pos) {
        pm1->popup(lViewer->viewport()->mapToGlobal(pos));
    });
    connect(pm2, &QMenu::aboutToShow, this, &TznFrmMain::pm2Popup);

    connect(bSource, &QPushButton::clicked, this, &TznFrmMain::bSourceClick);
    connect(bSourceFile, &QPushButton::clicked, this, &TznFrmMain::bSourceFileClick);
    connect(bTarget, &QPushButton::clicked, this, &TznFrmMain::bTargetClick);

    prepareBound(eSource, QStringLiteral("Text"));
    prepareBound(cSubdir, QStringLiteral("Checked"));
    prepareBound(eTarget, QStringLiteral("Text"));
    for (QWidget* w : {static_cast<QWidget*>(eSource), static_cast<QWidget*>(cSubdir),
                       static_cast<QWidget*>(eTarget)})
        w->installEventFilter(this);
    // Drops on the edits reach the window, which decides what they mean.
    eSource->setAcceptDrops(false);
    eTarget->setAcceptDrops(false);

    setTabOrder(eSource, bSource);
    setTabOrder(bSource, bSourceFile);
    setTabOrder(bSourceFile, cSubdir);
    setTabOrder(cSubdir, bSearch);
    setTabOrder(bSearch, eTarget);
    setTabOrder(eTarget, bTarget);
    setTabOrder(bTarget, bSearchConvert);
    setTabOrder(bSearchConvert, bCreate);
    setTabOrder(bCreate, bView);
    setTabOrder(bView, lViewer);
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
    QString path = row->text(1);
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
        PutRow(name, FBatch, nullptr);
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

void TznFrmMain::showEvent(QShowEvent* event)
{
    TznFrmBase::showEvent(event);
    FormShow();
}

// --- run control ---

namespace {

const int StatusRole = Qt::UserRole;

// Statuses other than success and failure show as not finished.
int imageOf(int status)
{
    return status == nsSuccess || status == nsFailure ? status : nsPending;
}

// The result column shows the first line of the result text.
QString firstLine(const QString& text)
{
    const qsizetype end = text.indexOf(QRegularExpression(QStringLiteral("[\r\n]")));
    return end < 0 ? text : text.left(end);
}

bool isExistingFile(const QString& path)
{
    return !path.isEmpty() && QFileInfo(path).isFile();
}

// Runs a step whose error must not keep the end of a run from happening;
// the error goes to the handler of unhandled errors.
template <class F>
void guarded(QObject* receiver, F&& step)
{
    try {
        step();
    } catch (const std::exception& error) {
        TznApplication::HandleException(receiver, error);
    }
}

} // namespace

QString CutBackTarget(QString target, PathStyle style, const std::function<bool(const QString&)>& isFile)
{
    const QChar delimiter = PathDelimiter(style);
    auto withoutDelimiter = [delimiter](const QString& t) { return t.endsWith(delimiter) ? t.chopped(1) : t; };
    auto passes = [&](const QString& t) {
        if (t.contains(u'?') || t.contains(u'*'))
            return false;
        if (style == PathStyle::Windows && t.indexOf(u':') >= 10)
            return false;
        return !isFile(withoutDelimiter(t));
    };
    while (!passes(target)) {
        const QString next = FolderPart(withoutDelimiter(target), style);
        if (next.isEmpty() || next == target)
            return QString();
        target = next;
    }
    return target;
}

QString RunStatusText(int done, int listed, int failed, qint64 savedBytes)
{
    QString saved;
    if (savedBytes < 0)
        saved = QStringLiteral("0 KB");
    else if (savedBytes < 1024 * 1024)
        saved = QStringLiteral("%1 KB").arg((savedBytes + 1023) / 1024);
    else
        saved = QStringLiteral("%1 MB").arg(double(savedBytes) / (1024.0 * 1024.0), 0, 'f', 1);
    return QStringLiteral("%1 of %2 documents done, %3 failed, %4 saved").arg(done).arg(listed).arg(failed).arg(saved);
}

bool TznFrmMain::RepeatPending() const
{
    return FDaemonTimer->isActive();
}

void TznFrmMain::enableBatchChoice(bool enabled)
{
    bSourceFile->setEnabled(enabled);
    BrowseFiles1->setEnabled(enabled);
}

void TznFrmMain::freeBatch()
{
    TznBatch* old = std::exchange(FBatch, nullptr);
    ++FBatchSerial;
    try {
        delete old;
    } catch (...) {
    }
}

void TznFrmMain::NewBatch()
{
    freeBatch();
    FBatch = new TznBatch;
    lViewer->clear();
    FDone = 0;
    FFailed = 0;
    FSaved = 0;
    updateRunStatus();
    const quint64 serial = FBatchSerial;
    FBatch->OnNodeAdded = [this, serial](TznBatch* batch, TznNode* node) { NodeAdded(serial, batch, node); };
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
            row->setText(1, nodes[i]->Path);
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

void TznFrmMain::NodeAdded(quint64 serial, TznBatch* batch, TznNode* node)
{
    auto apply = [this, alive = FAlive, serial, batch, node] {
        if (*alive && serial == FBatchSerial && batch == FBatch)
            PutRow(node->Path, batch, node);
    };
    if (QThread::currentThread() == thread())
        apply();
    else
        QMetaObject::invokeMethod(this, apply, Qt::QueuedConnection);
}

void TznFrmMain::FileDone(quint64 serial, TznBatch* batch, TznNode* node)
{
    // The worker holding the node wrote these; the window gets copies.
    const int status = node->Status.load();
    const QString message = node->Message;
    const qint64 saved = SavedBytes(*node);
    auto apply = [this, alive = FAlive, serial, batch, node, status, message, saved] {
        if (!*alive || serial != FBatchSerial || batch != FBatch)
            return;
        if (QTreeWidgetItem* row = PutRow(node->Path, batch, node))
            setResult(row, status, message, saved);
    };
    if (QThread::currentThread() == thread())
        apply();
    else
        QMetaObject::invokeMethod(this, apply, Qt::QueuedConnection);
}

void TznFrmMain::syncRows()
{
    if (!FBatch)
        return;
    const int count = FBatch->NodeCount();
    for (int i = 0; i < count; ++i) {
        TznNode* node = FBatch->NodeAt(i);
        QTreeWidgetItem* row = node ? PutRow(node->Path, FBatch, node) : nullptr;
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
        ++FDone;
        if (image == nsFailure)
            ++FFailed;
        FSaved += savedBytes;
    }
    row->setData(0, StatusRole, image);
    row->setIcon(0, Image(image));
    row->setText(2, firstLine(message));
    updateRunStatus();
}

void TznFrmMain::updateRunStatus()
{
    const int listed = lViewer->topLevelItemCount();
    prgRun->setRange(0, qMax(listed, 1));
    prgRun->setValue(qMin(FDone, qMax(listed, 1)));
    lblRun->setText(listed == 0 && !IsRunning() ? QString() : RunStatusText(FDone, listed, FFailed, FSaved));
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
            PutRow(name, FBatch, nullptr);
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
        PutRow(source, FBatch, nullptr);
        return;
    }
    FBatch->StartScan(source, eTarget->text(), cSubdir->isChecked());
}

bool TznFrmMain::RefuseInvalidRegExt()
{
    const QString error = Project ? RegExtError(Project->RegExt()) : QString();
    if (error.isEmpty())
        return false;
    // The matcher would let every file through; with DeleteSource that
    // deletes the files the filter was meant to keep.
    QString text = error;
    text[0] = text[0].toUpper();
    lblRun->setText(text + u'.');
    if (Project->RunAndClose())
        std::fprintf(stderr, "leafpress: %s\n", qPrintable(error));
    return true;
}

void TznFrmMain::aConvertExecute()
{
    if (IsRunning())
        return;
    if (RefuseInvalidRegExt()) {
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
        if (!FBatch)
            aSearchExecute();
        if (!FBatch)
            throw EznError(QStringLiteral("No batch"));
        if (FBatch->Drained())
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

    const quint64 serial = FBatchSerial;
    FConvertor = TznConvertor::StartConversion(
        FBatch, eTarget->text(),
        TznNodeEvent([this, serial](TznBatch* batch, TznNode* node) { FileDone(serial, batch, node); }));
    FRunning = FConvertor->WorkerCount();
    FConvertor->SetOnFinish(TznEvent([this, alive = FAlive] {
        if (*alive)
            guarded(this, [this] { OnFinish(); });
    }));

    aStop->setEnabled(true);
    bCreate->SetAction(aPause);
    aPause->setEnabled(true);
    bSearchConvert->SetAction(aStop);
    FStopped = false;
    updateRunStatus();
    FConvertor->Start();
    if (Info)
        Info->Tally(RunCounterRuns, 0, 1);
}

void TznFrmMain::aSearchConvertExecute()
{
    aSearchExecute();
    aConvertExecute();
}

void TznFrmMain::aPauseExecute()
{
    if (!IsRunning())
        return;
    aPause->setEnabled(false);
    aStop->setEnabled(false);
    FConvertor->Stop();
    aStop->setData(0);
}

void TznFrmMain::aStopExecute()
{
    FStopped = true;
    FDaemonTimer->stop();
    if (!IsRunning())
        return;
    aPause->setEnabled(false);
    aStop->setEnabled(false);
    if (FBatch)
        FBatch->Terminate();
    FConvertor->Stop();
    aStop->setData(1);
}

void TznFrmMain::OnFinish()
{
    if (--FRunning > 0)
        return;
    FRunning = 0;
    // The last row changes handed over by the workers may still be on their
    // way; every worker has let go of the nodes now, so the list is brought
    // up to date from them before the run is counted and logged.
    syncRows();
    aConvert->setEnabled(true);
    bCreate->SetAction(aConvert);
    aSearchConvert->setEnabled(true);
    bSearchConvert->SetAction(aSearchConvert);
    aSearch->setEnabled(true);
    enableBatchChoice(true);

    if (FBatch && Info) {
        guarded(this, [this] {
            Info->Tally(RunCounterDocuments, 0, FBatch->NodeCount());
            Info->Tally(RunCounterSuccesses, 0, FBatch->Successes());
            Info->Tally(RunCounterFailures, 0, FBatch->Failures());
        });
        if (FBatch->Failures() > 0)
            guarded(this, [this] { Info->OpenLink(QString(), FailureReport(FBatch->Reasons()), QString()); });
    }
    if (aStop->data().toInt() == 1) {
        freeBatch();
        aStop->setData(0);
    }
    updateRunStatus();
    RunEnded();
    if (FCloseWhenDone) {
        FCloseWhenDone = false;
        QTimer::singleShot(0, this, [this] { close(); });
    }
}

void TznFrmMain::RunEnded()
{
    if (!Project || !Project->RunAndClose())
        return;
    const QString logFile = Project->GetOption(QStringLiteral("LogFile"));
    const QString logError = LogFileError(logFile, Project->Source(), Project->Target(), Project->Subdir(),
                                          Project->RegExt(), Project->ProductCode);
    if (!logError.isEmpty()) {
        std::fprintf(stderr, "leafpress: %s\n", qPrintable(logError));
    } else if (!logFile.isEmpty()) {
        try {
            ExportList(logFile);
        } catch (const EznError& error) {
            // Nobody watches an unattended run: the reason goes where its
            // caller can read it, and the run still ends.
            std::fprintf(stderr, "leafpress: the log file was not written: %s\n", qPrintable(error.Message()));
        }
    }
    if (Project->Daemon() < 1) {
        // Closed from the event loop, so that a run that ends inside the
        // first show or inside a handler finishes that step first.
        QTimer::singleShot(0, this, [this] { close(); });
        return;
    }
    // One pending repeat at most: a repeat that finds nothing to do ends
    // here again and only restarts the timer.
    if (!FStopped)
        FDaemonTimer->start(Project->Daemon());
}

void TznFrmMain::AutoStart()
{
    if (Project && Project->RunAndClose())
        aConvertExecute();
}

void TznFrmMain::ExportList(const QString& path)
{
    QStringList lines;
    for (int i = 0; i < lViewer->topLevelItemCount(); ++i) {
        const QTreeWidgetItem* row = lViewer->topLevelItem(i);
        lines << ListResultLine(row->data(0, StatusRole).toInt(), row->text(1), row->text(2));
    }
    WriteTextFile(path, lines);
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
    FDaemonTimer->stop();
    TznFrmBase::closeEvent(event);
}

void TznFrmMain::FormDestroy()
{
    if (FDestroyed)
        return;
    FDestroyed = true;
    // Workers that end from here on find no window to report to.
    *FAlive = false;
    FDaemonTimer->stop();
    if (FConvertor) {
        // Nobody is left to run OnFinish for: workers end without asking
        // the main thread.
        FConvertor->SetOnFinish(TznEvent());
        FConvertor->Stop();
    }
    if (FBatch)
        FBatch->Terminate();
    // Waits for the scanner and for every worker still holding the batch.
    freeBatch();
    setAcceptDrops(false);
}
