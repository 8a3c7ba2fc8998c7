#pragma once

#include "ui/znFormBase.h"
#include "ui/znQtDialogs.h"

#include <QIcon>
#include <QList>
#include <QPointer>
#include <QPushButton>

class QAction;
class QCheckBox;
class QFrame;
class QLabel;
class QLineEdit;
class QMenu;
class QToolBar;
class QToolButton;
class QTreeWidget;
class QTreeWidgetItem;
class TznBatch;
class TznConvertor;
class TznFrmAbout;
class TznFrmCfg;

// A push button that shows an action's caption, hint, enabled state and
// visibility and triggers it when clicked. Given another action it takes
// all four from the new one.
class TznActionButton : public QPushButton
{
    Q_OBJECT
public:
    explicit TznActionButton(QWidget* parent = nullptr);

    void SetAction(QAction* action);
    QAction* Action() const { return FAction; }
    // A hint of the button's own, shown instead of the action's until the
    // next SetAction.
    void SetHint(const QString& hint);

private:
    void sync();

    QPointer<QAction> FAction;
    QMetaObject::Connection FChanged;
    bool FOwnHint = false;
};

// The hint of an action: its tool tip as given, empty when it has none (Qt
// would otherwise offer the caption as tool tip).
QString HintOf(const QAction* action);
void SetHintOf(QAction* action, const QString& hint);

// The main window: tool bar, source and target rows, the result list and
// its pop-up menus. Runs are driven by the run-control handlers (Search,
// Convert, Start, Pause, Stop, Files, drops on the list, the end of a run).
class TznFrmMain : public TznFrmBase
{
    Q_OBJECT
public:
    // Builds the window and runs FormCreate.
    explicit TznFrmMain(QWidget* parent = nullptr);
    ~TznFrmMain() override;

    // The about box that About shows (not owned).
    void SetAboutBox(TznFrmAbout* about) { FAbout = about; }
    TznFrmAbout* AboutBox() const { return FAbout; }
    // The options editor, created on first use.
    TznFrmCfg* FrmCfg() const { return FFrmCfg; }

    // The status images and button images, by role.
    static QIcon Image(int index);

    // Caption: the product name, " - ", and the project file or "None".
    void UpdateTitle();
    // Fills an empty target field with folder; a non-empty one stays.
    void SuggestTarget(const QString& folder);
    // Opens the first selected row's file, or with folderOnly its folder.
    void OpenSelected(bool folderOnly);
    // Handles files dropped on target (the control under the drop point).
    void WMDropFiles(const QStringList& names, QWidget* target);

    // Components, by their names.
    QToolBar* ToolBar;
    QToolButton* tbOpen;
    QToolButton* tbNew;
    QToolButton* tbConfig;
    QToolButton* tbSave;
    QToolButton* tbSaveAs;
    QAction* tb1;
    QToolButton* tbUpdate;
    QAction* tb2;
    QToolButton* tbHelp;
    QToolButton* tbHomePage;
    QToolButton* tbSupports;
    QToolButton* tbAbout;

    QFrame* pAction;
    QWidget* pSource;
    QLabel* lblSource;
    QLineEdit* eSource;
    QPushButton* bSource;
    QPushButton* bSourceFile;
    QCheckBox* cSubdir;
    TznActionButton* bSearch;
    QWidget* pTarget;
    QLabel* lblTarget;
    QLineEdit* eTarget;
    QPushButton* bTarget;
    TznActionButton* bView;
    TznActionButton* bSearchConvert;
    TznActionButton* bCreate;
    QWidget* pOthers;
    QWidget* pSpacer;
    QFrame* pViewer;
    QTreeWidget* lViewer;

    QMenu* pm1;
    QAction* BrowseFiles1;
    QAction* N1;
    QAction* ViewSource1;
    QAction* OpenSource1;
    QAction* N2;
    QAction* ViewOutput1;
    QAction* N3;
    QAction* ExportList1;
    QMenu* pm2;

    QAction* aConvert;
    QAction* aStop;
    QAction* aOpen;
    QAction* aNew;
    QAction* aConfig;
    QAction* aSave;
    QAction* aSaveAs;
    QAction* aUpdate;
    QAction* aHelp;
    QAction* aHomePage;
    QAction* aSupports;
    QAction* aAbout;
    QAction* aSearch;
    QAction* aView;
    QAction* aSearchConvert;
    QAction* aPause;

public slots:
    void bSourceClick();
    void bTargetClick();
    virtual void aConvertExecute();
    virtual void aStopExecute();
    virtual void OnFinish();
    void FormCreate();
    virtual void FormDestroy();
    virtual void FormShow();
    void aOpenExecute();
    void aNewExecute();
    void aConfigExecute();
    void aSaveExecute();
    void aSaveAsExecute();
    void aUpdateExecute();
    void aHelpExecute();
    void aHomePageExecute();
    void aSupportsExecute();
    void aAboutExecute();
    virtual void aSearchExecute();
    void aViewExecute();
    virtual void bSourceFileClick();
    virtual void aSearchConvertExecute();
    virtual void aPauseExecute();
    void ViewSource1Click();
    void OpenSource1Click();
    virtual void ExportList1Click();
    void pm1Popup();
    void pm2Popup();
    void RecentProjectClick(QAction* entry);

protected:
    // For a derived window that changes texts first and runs FormCreate itself.
    struct TznDeferCreate {};
    TznFrmMain(TznDeferCreate, QWidget* parent);

    // Binds eSource, cSubdir and eTarget to their option keys, in that order.
    virtual void BindControls();

    // Run control: a fresh, empty batch for the list, and one file added to
    // it by path. Filled in with the batch engine.
    virtual void NewBatch();
    virtual void PutRow(const QString& path);

    void showEvent(QShowEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

    // Run state; the run control owns the batch and never frees converters.
    TznBatch* FBatch = nullptr;
    TznConvertor* FConvertor = nullptr;
    int FRunning = 0;
    bool FStopped = false;
    bool FShown = false;

private:
    void build();

    QList<QIcon> imgList;
    TznQtDialogs FDialogs;
    TznFrmAbout* FAbout = nullptr;
    TznFrmCfg* FFrmCfg = nullptr;
};
