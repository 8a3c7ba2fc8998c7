// The layout of the main window: its actions, tool bar, source and target
// rows, status line, result list and pop-up menus, with their names, texts,
// places and tab order.
#include "ui/znFormMain.h"

#include <QAction>
#include <QCheckBox>
#include <QFrame>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QProgressBar>
#include <QResizeEvent>
#include <QStyledItemDelegate>
#include <QToolBar>
#include <QToolButton>
#include <QToolTip>
#include <QTreeWidget>
#include <QVBoxLayout>

namespace {

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

// Cells of the result list whose text does not fit show it whole as their
// tool tip; other cells leave the list's own hint to the list.
class TznElidedTipDelegate : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    bool helpEvent(QHelpEvent* event, QAbstractItemView* view, const QStyleOptionViewItem& option,
                   const QModelIndex& index) override
    {
        if (event->type() == QEvent::ToolTip && index.isValid() && index.data(Qt::ToolTipRole).isNull()) {
            QStyleOptionViewItem cell = option;
            initStyleOption(&cell, index);
            const QStyle* style = cell.widget ? cell.widget->style() : view->style();
            const QRect textRect = style->subElementRect(QStyle::SE_ItemViewItemText, &cell, cell.widget);
            // The style keeps a margin inside the text rectangle on each side.
            const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, cell.widget) + 1;
            if (!cell.text.isEmpty() && cell.fontMetrics.horizontalAdvance(cell.text) > textRect.width() - 2 * margin) {
                QToolTip::showText(event->globalPos(), cell.text, view->viewport(), option.rect);
                return true;
            }
        }
        return QStyledItemDelegate::helpEvent(event, view, option, index);
    }
};

// "File Name" and "Result" share the list's width after the fixed status
// column, "Result" taking whatever is left; when the list is resized,
// "File Name" keeps its share of the width, which a drag of its edge sets.
class TznColumnShare : public QObject
{
public:
    TznColumnShare(QTreeWidget* list, int fixedWidth)
        : QObject(list), FList(list), FFixed(fixedWidth)
    {
        list->viewport()->installEventFilter(this);
        connect(list->header(), &QHeaderView::sectionResized, this, [this](int section, int, int size) {
            const int rest = FList->viewport()->width() - FFixed;
            if (section == 1 && !FApplying && rest > 0)
                FShare = qBound(0.1, double(size) / rest, 0.9);
        });
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Resize) {
            const int rest = static_cast<QResizeEvent*>(event)->size().width() - FFixed;
            if (rest > 0) {
                FApplying = true;
                FList->header()->resizeSection(1, int(rest * FShare));
                FApplying = false;
            }
        }
        return QObject::eventFilter(watched, event);
    }

private:
    QTreeWidget* FList;
    int FFixed;
    double FShare = 0.5;
    bool FApplying = false;
};

} // namespace

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

    // Tool bar: captions beside the images. Each button is as wide as its
    // image and caption (a drop-down arrow stays beside its caption), and
    // the same gap parts every two neighbours, separators included.
    ToolBar = new QToolBar(this);
    ToolBar->setObjectName(QStringLiteral("ToolBar"));
    ToolBar->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    ToolBar->setIconSize(QSize(16, 16));
    ToolBar->setMovable(false);
    ToolBar->setFloatable(false);
    ToolBar->layout()->setSpacing(8);
    layout->addWidget(ToolBar);
    auto addTool = [this](QAction* action, const char* name) {
        ToolBar->addAction(action);
        auto* button = qobject_cast<QToolButton*>(ToolBar->widgetForAction(action));
        button->setObjectName(QLatin1String(name));
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
    // Shown only while a run goes on (RunStateChanged); its place stays, so
    // the status line does not move when a run starts or ends.
    QSizePolicy keepPlace = prgRun->sizePolicy();
    keepPlace.setRetainSizeWhenHidden(true);
    prgRun->setSizePolicy(keepPlace);
    prgRun->setVisible(false);
    othersLayout->addWidget(prgRun);
    lblRun = new QLabel(pOthers);
    lblRun->setObjectName(QStringLiteral("lblRun"));
    othersLayout->addWidget(lblRun, 1);

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
    header->setMinimumSectionSize(30);
    header->setSectionResizeMode(0, QHeaderView::Fixed);
    header->resizeSection(0, 30);
    header->resizeSection(1, 370);
    // "Result" stretches to the list's right edge; the header never makes a
    // stretched section narrower than it was when stretching began, so it
    // begins at the smallest width.
    header->resizeSection(2, header->minimumSectionSize());
    header->setStretchLastSection(true);
    new TznColumnShare(lViewer, 30);
    lViewer->setItemDelegate(new TznElidedTipDelegate(lViewer));
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
