#pragma once

#include "engine/znConvertor.h"
#include "platform/znPath.h"
#include "ui/znActionButton.h"
#include "ui/znFormBase.h"
#include "ui/znQtDialogs.h"
#include "ui/znRunControl.h"
#include "ui/znRunText.h"

#include <QIcon>
#include <QList>
#include <QPointer>
#include <QPushButton>

#include <functional>
#include <memory>

class QAction;
class QCheckBox;
class QFrame;
class QLabel;
class QLineEdit;
class QMenu;
class QProgressBar;
class QTimer;
class QToolBar;
class QToolButton;
class QTreeWidget;
class QTreeWidgetItem;
class TznFrmAbout;
class TznFrmCfg;

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

    // The end of a run, or of a Search or Convert that found nothing to do:
    // for an unattended project writes the log file, then closes the window
    // or schedules the next run.
    void RunEnded();
    // Converts when the project asks for an unattended run.
    void AutoStart();
    // One line "[status] => source => result" per row, in list order.
    // Raises EznError when the file cannot be written.
    void ExportList(const QString& path);
    // Workers of the current run have not all ended yet.
    bool IsRunning() const;
    // The current batch (owned by the run control), or none.
    TznBatch* Batch() const;
    // The run control: batch, run state, counters, end of a run.
    TznRunControl* RunControl() const { return FRun; }
    // Whether the next Daemon repeat is scheduled.
    bool RepeatPending() const;

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
    QProgressBar* prgRun;
    QLabel* lblRun;
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

    // Frees the current batch and makes a new, empty one for a cleared list.
    virtual void NewBatch();
    // Without a node: suggests the path's folder as target and adds the path
    // to batch (its row comes through NodeAdded); gives none. With a node:
    // the node's row, inserted (with the rows before it) when missing, its
    // image set to the node's status. Window thread only.
    virtual QTreeWidgetItem* PutRow(const QString& path, TznBatch* batch, TznNode* node);
    void showEvent(QShowEvent* event) override;
    // A close during a run stops the run and closes once its last worker has ended.
    void closeEvent(QCloseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

    TznRunControl* FRun;
    bool FShown = false;

private:
    void build();
    // Sets a row's status and result text and counts it for the status line.
    void setResult(QTreeWidgetItem* row, int status, const QString& message, qint64 savedBytes);
    void updateRunStatus();
    // Every row made and given its result from the nodes of the batch.
    void syncRows();
    // Shows in the status line why RegExt does not compile and gives true
    // then: no run may start with such a filter.
    bool RefuseInvalidRegExt();
    // Shows that a dry run is not run from the window and gives true then.
    bool refuseDryRun();
    void showRefusal(const QString& error);
    // Files and Browse Files, which would replace the batch, only while idle.
    void enableBatchChoice(bool enabled);
    // The buttons of a run state.
    void RunStateChanged(TznRunControl::TznRunState state);
    // One log line per row, as ExportList writes them.
    QStringList listLines() const;

    bool FCloseWhenDone = false;
    bool FDestroyed = false;

    QList<QIcon> imgList;
    TznQtDialogs FDialogs;
    TznFrmAbout* FAbout = nullptr;
    TznFrmCfg* FFrmCfg = nullptr;
};
