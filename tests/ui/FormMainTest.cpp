#include "UiTestSupport.h"

#include "app/znVersion.h"
#include "info/znInfo.h"
#include "platform/znShell.h"
#include "project/znProject.h"
#include "ui/znDocslimMain.h"
#include "ui/znFormCfg.h"
#include "znTestRows.h"

#include <QAction>
#include <QApplication>
#include <QPushButton>
#include <QCheckBox>
#include <QDir>
#include <QLineEdit>
#include <QMenu>
#include <QHeaderView>
#include <QHelpEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QProgressBar>
#include <QToolBar>
#include <QToolButton>
#include <QScreen>
#include <QToolTip>
#include <QTreeWidget>

#include <memory>

namespace {

class FormMainTest : public UiTest
{
protected:
    // The product window, created as the program creates it, with the
    // scripted dialogs answering.
    TznFrmDocslimMain& Window()
    {
        if (!FWindow) {
            FWindow = std::make_unique<TznFrmDocslimMain>();
            SetDialogs(&FDialogs);
        }
        return *FWindow;
    }

    void TearDown() override
    {
        FWindow.reset();
        UiTest::TearDown();
    }

    void AddRows(const QStringList& paths)
    {
        for (const QString& path : paths) {
            auto* row = new QTreeWidgetItem(Window().lViewer);
            row->setIcon(0, TznFrmMain::Image(0));
            row->setText(1, path);
        }
    }

    std::unique_ptr<TznFrmDocslimMain> FWindow;
};

TEST_F(FormMainTest, TitleNamesNoneWithoutProjectFile)
{
    Project->InlineOptions = QStringLiteral("Source=/in/*.doc?");
    EXPECT_EQ(Window().windowTitle(), QStringLiteral("Leafpress Compactor - None"));
}

TEST_F(FormMainTest, TitleFollowsNewAndSaveAs)
{
    const QString file = WriteFile(QStringLiteral("a.batch-docslim"), {QStringLiteral("Source=/in/*.doc?")});
    Project->FileName = file;
    EXPECT_EQ(Window().windowTitle(), QStringLiteral("Leafpress Compactor - ") + file);
    EXPECT_EQ(Window().eSource->text(), QStringLiteral("/in/*.doc?"));

    Window().aNewExecute();
    EXPECT_EQ(Window().windowTitle(), QStringLiteral("Leafpress Compactor - None"));
    EXPECT_TRUE(Window().eSource->text().isEmpty());

    const QString saved = TempPath(QStringLiteral("b.batch-docslim"));
    Window().eTarget->setText(QStringLiteral("/out/"));
    FDialogs.Push(true, saved);
    Window().aSaveExecute();
    EXPECT_EQ(Window().windowTitle(), QStringLiteral("Leafpress Compactor - ") + saved);
    QFile written(saved);
    ASSERT_TRUE(written.open(QIODevice::ReadOnly));
    EXPECT_EQ(written.readAll(), QByteArray("Subdir=False\r\nTarget=/out/\r\n"));
}

TEST_F(FormMainTest, StartUpWithDocumentShowsItAndItsFolder)
{
    Project->FileName = QStringLiteral("/in/deep/a.docx");
    Window();
    EXPECT_EQ(Window().eSource->text(), QStringLiteral("/in/deep/a.docx"));
    EXPECT_EQ(Window().eTarget->text(), QStringLiteral("/in/deep/"));
    EXPECT_EQ(Window().windowTitle(), QStringLiteral("Leafpress Compactor - None"));
}

// --- choosing the source and the target folder ---

struct SourceFolderCase
{
    const char* name;
    const char* source;
    const char* target;
    bool confirmed;
    const char* chosen;
    const char* startFolder; // what the picker was started from
    const char* newSource;
    const char* newTarget;
};

class SourceFolderTest : public FormMainTest, public ::testing::WithParamInterface<SourceFolderCase>
{
};

TEST_P(SourceFolderTest, SetsFolderPlusMaskAndFillsOnlyAnEmptyTarget)
{
    const SourceFolderCase& c = GetParam();
    Project->InlineOptions = QStringLiteral("Subdir=0");
    Window().eSource->setText(QString::fromUtf8(c.source));
    Window().eTarget->setText(QString::fromUtf8(c.target));
    FDialogs.Push(c.confirmed, QString::fromUtf8(c.chosen));

    Window().bSourceClick();

    ASSERT_EQ(FDialogs.Calls().size(), 1u);
    EXPECT_EQ(FDialogs.Calls()[0].path, QString::fromUtf8(c.startFolder));
    EXPECT_EQ(Window().eSource->text(), QString::fromUtf8(c.newSource));
    EXPECT_EQ(Window().eTarget->text(), QString::fromUtf8(c.newTarget));
}

INSTANTIATE_TEST_SUITE_P(
    FormMain, SourceFolderTest,
    ::testing::Values(
        SourceFolderCase{"EmptyTargetGetsFolder", "", "", true, "/data/docs", "", "/data/docs/*.doc?", "/data/docs/"},
        SourceFolderCase{"TargetKept", "", "/out/", true, "/data/docs", "", "/data/docs/*.doc?", "/out/"},
        SourceFolderCase{"DelimiterNotDoubled", "", "", true, "/data/", "", "/data/*.doc?", "/data/"},
        SourceFolderCase{"StartsFromFolderOfSource", "/in/sub/a*.doc", "/out/", true, "/x", "/in/sub/", "/x/*.doc?",
                         "/out/"},
        SourceFolderCase{"CancelResetsMask", "/in/a.docx", "/out/", false, "", "/in/", "/in/*.doc?", "/out/"},
        SourceFolderCase{"CancelSuggestsOldFolder", "/in/a.docx", "", false, "", "/in/", "/in/*.doc?", "/in/"},
        SourceFolderCase{"CancelOnEmptyNeverGivesRoot", "", "", false, "", "", "*.doc?", ""}),
    RowName());

TEST_F(FormMainTest, TargetFolderGetsDelimiterAndCancelKeepsIt)
{
    Window().eTarget->setText(QStringLiteral("/old"));
    FDialogs.Push(true, QStringLiteral("/new"));
    Window().bTargetClick();
    EXPECT_EQ(Window().eTarget->text(), QStringLiteral("/new/"));
    EXPECT_EQ(FDialogs.Calls().back().path, QStringLiteral("/old"));

    FDialogs.Push(false);
    Window().bTargetClick();
    EXPECT_EQ(Window().eTarget->text(), QStringLiteral("/new/"));

    Window().eTarget->clear();
    FDialogs.Push(false);
    Window().bTargetClick();
    EXPECT_TRUE(Window().eTarget->text().isEmpty());
}

// --- the result list's pop-up menu ---

TEST_F(FormMainTest, ViewSourceActsOnFirstSelectedRowInListOrder)
{
    AddRows({QStringLiteral("/in/a/one.docx"), QStringLiteral("/in/b/two.docx"), QStringLiteral("/in/c/three.docx")});
    QTreeWidget* list = Window().lViewer;
    list->topLevelItem(2)->setSelected(true);
    list->topLevelItem(1)->setSelected(true);

    Window().ViewSource1->trigger();
    Window().OpenSource1->trigger();

    EXPECT_EQ(FShell->Links(), (QStringList{QStringLiteral("/in/b/"), QStringLiteral("/in/b/two.docx")}));
}

TEST_F(FormMainTest, PopupEnablesSourceItemsOnlyWithSelection)
{
    AddRows({QStringLiteral("/in/one.docx")});
    TznFrmDocslimMain& w = Window();
    w.pm1Popup();
    EXPECT_FALSE(w.ViewSource1->isEnabled());
    EXPECT_FALSE(w.OpenSource1->isEnabled());
    EXPECT_TRUE(w.BrowseFiles1->isEnabled());
    EXPECT_TRUE(w.ViewOutput1->isEnabled());
    EXPECT_TRUE(w.ExportList1->isEnabled());

    w.OpenSelected(false);
    EXPECT_TRUE(FShell->Links().isEmpty());

    w.lViewer->topLevelItem(0)->setSelected(true);
    w.pm1Popup();
    EXPECT_TRUE(w.ViewSource1->isEnabled());
    EXPECT_TRUE(w.OpenSource1->isEnabled());
}

TEST_F(FormMainTest, ViewOpensTargetOrFocusesEmptyField)
{
    TznFrmDocslimMain& w = Window();
    w.show();
    w.eSource->setFocus();
    w.ViewOutput1->trigger();
    EXPECT_TRUE(FShell->Links().isEmpty());
    EXPECT_EQ(w.focusWidget(), w.eTarget);

    w.eTarget->setText(QStringLiteral("/out/"));
    w.aView->trigger();
    EXPECT_EQ(FShell->Links(), QStringList{QStringLiteral("/out/")});
}

// --- recent projects ---

TEST_F(FormMainTest, RecentProjectsListInOrderAndDisableMissingFiles)
{
    const QString present = WriteFile(QStringLiteral("R&D.batch-docslim"),
                                      {QStringLiteral("Source=/rd/*.doc?"), QStringLiteral("Target=/rd-out/")});
    const QString missing = TempPath(QStringLiteral("gone.batch-docslim"));
    Project->RecentFiles = {missing, present};
    TznFrmDocslimMain& w = Window();

    emit w.pm2->aboutToShow();
    emit w.pm2->aboutToShow(); // opening twice does not add the entries twice
    const QList<QAction*> entries = w.pm2->actions();
    ASSERT_EQ(entries.size(), 2);
    EXPECT_EQ(entries[0]->data().toString(), missing);
    EXPECT_FALSE(entries[0]->isEnabled());
    EXPECT_EQ(entries[1]->data().toString(), present);
    EXPECT_TRUE(entries[1]->isEnabled());
    EXPECT_TRUE(entries[1]->text().contains(QStringLiteral("R&&D")));

    entries[1]->trigger();
    EXPECT_EQ(Project->FileName, present);
    EXPECT_EQ(w.eSource->text(), QStringLiteral("/rd/*.doc?"));
    EXPECT_EQ(w.eTarget->text(), QStringLiteral("/rd-out/"));
    EXPECT_EQ(w.windowTitle(), QStringLiteral("Leafpress Compactor - ") + present);
}

TEST_F(FormMainTest, OpenButtonCarriesRecentMenu)
{
    TznFrmDocslimMain& w = Window();
    EXPECT_EQ(w.tbOpen->menu(), w.pm2);
    EXPECT_EQ(w.tbOpen->popupMode(), QToolButton::MenuButtonPopup);
    EXPECT_EQ(w.tbOpen->defaultAction(), w.aOpen);
}

TEST_F(FormMainTest, OpenUsesProjectAndDocumentFilters)
{
    FDialogs.Push(false);
    Window().aOpen->trigger();
    ASSERT_EQ(FDialogs.Calls().size(), 1u);
    EXPECT_EQ(FDialogs.Calls()[0].filter,
              QStringLiteral("Leafpress Project|*.batch-docslim|Word Document (*.doc;*.docx)|*.doc;*.docx"));
    EXPECT_FALSE(FDialogs.Calls()[0].multiple);
}

// --- action buttons and the product's wording ---

TEST_F(FormMainTest, ProductWindowUsesCompactWording)
{
    TznFrmDocslimMain& w = Window();
    EXPECT_EQ(w.objectName(), QStringLiteral("znFrmDocslimMain"));
    EXPECT_EQ(w.aConvert->text(), QStringLiteral("&Compact"));
    EXPECT_EQ(w.bCreate->text(), QStringLiteral("&Compact"));
    EXPECT_EQ(w.bCreate->toolTip(), QStringLiteral("Compact the file(s) instantly"));
    EXPECT_EQ(w.bView->toolTip(), QStringLiteral("View the compact result"));
    EXPECT_EQ(w.bSearch->toolTip(), QStringLiteral("Search files from the source folder"));
    EXPECT_EQ(w.bSourceFile->toolTip(), QStringLiteral("Choose file(s) and click \"Compact\" to compact them"));
}

TEST_F(FormMainTest, ButtonTakesEverythingFromItsNewAction)
{
    TznFrmDocslimMain& w = Window();
    EXPECT_TRUE(w.bSearchConvert->isHidden());

    w.bSearchConvert->SetAction(w.aStop);
    EXPECT_FALSE(w.bSearchConvert->isHidden());
    EXPECT_EQ(w.bSearchConvert->text(), QStringLiteral("Sto&p"));
    w.aStop->setEnabled(false);
    EXPECT_FALSE(w.bSearchConvert->isEnabled());

    w.bSearchConvert->SetAction(w.aSearchConvert);
    EXPECT_TRUE(w.bSearchConvert->isHidden());
    // The old action no longer reaches the button.
    w.aStop->setText(QStringLiteral("Halt"));
    EXPECT_EQ(w.bSearchConvert->text(), QStringLiteral("Start"));

    // The product's own hint gives way to the new action's.
    w.bCreate->SetAction(w.aPause);
    EXPECT_EQ(w.bCreate->text(), QStringLiteral("Pause"));
    EXPECT_TRUE(w.bCreate->toolTip().isEmpty());
}

TEST_F(FormMainTest, BoundControlsCarryTheirPropertyNames)
{
    TznFrmDocslimMain& w = Window();
    EXPECT_EQ(w.eSource->toolTip(), QStringLiteral("Text"));
    EXPECT_EQ(w.cSubdir->toolTip(), QStringLiteral("Checked"));
    EXPECT_EQ(w.eTarget->toolTip(), QStringLiteral("Text"));

    w.eSource->setText(QStringLiteral("/s/*.doc?"));
    w.cSubdir->setChecked(true);
    w.eTarget->setText(QStringLiteral("/t/"));
    Project->CollectOptions(false);
    EXPECT_EQ(Project->OptionLines(),
              (QStringList{QStringLiteral("Source=/s/*.doc?"), QStringLiteral("Subdir=True"),
                           QStringLiteral("Target=/t/")}));
}

// --- drops ---

TEST_F(FormMainTest, DropOnEditTakesFirstNameOnly)
{
    TznFrmDocslimMain& w = Window();
    w.WMDropFiles({QStringLiteral("/d/one.docx"), QStringLiteral("/e/two.docx"), QStringLiteral("/f/three.docx")},
                  w.eTarget);
    EXPECT_EQ(w.eTarget->text(), QStringLiteral("/d/one.docx"));

    w.WMDropFiles({QStringLiteral("/g/four.docx")}, w.eSource);
    EXPECT_EQ(w.eSource->text(), QStringLiteral("/g/four.docx"));
    EXPECT_EQ(w.eTarget->text(), QStringLiteral("/d/one.docx"));

    w.WMDropFiles({QStringLiteral("/h/five.docx")}, w.ToolBar);
    EXPECT_EQ(w.eSource->text(), QStringLiteral("/g/four.docx"));
}

TEST_F(FormMainTest, DroppedProjectFileOpensProject)
{
    const QString file = WriteFile(QStringLiteral("p.batch-docslim"), {QStringLiteral("Source=/p/*.doc?")});
    TznFrmDocslimMain& w = Window();
    w.WMDropFiles({file}, w.eTarget);
    EXPECT_EQ(Project->FileName, file);
    EXPECT_EQ(w.eSource->text(), QStringLiteral("/p/*.doc?"));
    EXPECT_TRUE(w.eTarget->text().isEmpty());
    EXPECT_EQ(w.windowTitle(), QStringLiteral("Leafpress Compactor - ") + file);
}

} // namespace

namespace {

TEST_F(FormMainTest, WindowsUseSmallSansSerifFaceCentred)
{
    TznFrmDocslimMain& w = Window();
    const QFontInfo info(w.eSource->font());
    EXPECT_EQ(info.pixelSize(), 11);
    EXPECT_FALSE(info.fixedPitch());
    EXPECT_EQ(w.size(), QSize(1200, 600));
    w.show();
    const QRect screen = w.screen()->availableGeometry();
    EXPECT_LE(std::abs(w.frameGeometry().center().x() - screen.center().x()), 1);
}

} // namespace

namespace {

struct LinkCase
{
    const char* name;
    QAction* TznFrmMain::*action;
    QString prefix; // the opened link begins with it
    QString helpCount; // the "H" counter afterwards
};

class ToolBarLinkTest : public FormMainTest, public ::testing::WithParamInterface<LinkCase>
{
};

TEST_P(ToolBarLinkTest, OpensItsLink)
{
    const LinkCase& c = GetParam();
    (Window().*c.action)->trigger();
    ASSERT_EQ(FShell->Links().size(), 1);
    const QString prefix = c.prefix.isEmpty() ? TempPath(QStringLiteral("leafpress.pdf")) : c.prefix;
    EXPECT_TRUE(FShell->Links()[0].startsWith(prefix)) << FShell->Links()[0].toStdString();
    EXPECT_EQ(Info->StoreValue(QStringLiteral("H")), c.helpCount);
}

INSTANTIATE_TEST_SUITE_P(
    FormMain, ToolBarLinkTest,
    ::testing::Values(
        LinkCase{"HelpOpensHelpFileAndCounts", &TznFrmMain::aHelp, QString(), QStringLiteral("1")},
        LinkCase{"UpdateOpensDownloadPage", &TznFrmMain::aUpdate,
                 TznInfo::SiteUrl + QStringLiteral("/en/docslim/download.htm?p=docslim&v=") +
                     QString::fromLatin1(ProductVersion),
                 QString()},
        LinkCase{"HomeOpensSite", &TznFrmMain::aHomePage, TznInfo::SiteUrl + QStringLiteral("?p=docslim&v="),
                 QString()},
        LinkCase{"SupportWritesMail", &TznFrmMain::aSupports,
                 TznInfo::SupportMailTo + QStringLiteral("?subject=Support required for Leafpress Compactor"),
                 QString()}),
    RowName());

TEST_F(FormMainTest, EditorHelpOpensHelpFileWithoutCounting)
{
    bool ran = false;
    WhenModal([&] {
        auto* cfg = qobject_cast<TznFrmCfg*>(QApplication::activeModalWidget());
        ASSERT_NE(cfg, nullptr);
        cfg->btnHelp->click();
        ran = cfg->isVisible();
        cfg->btnCancel->click();
    });
    Window().aConfig->trigger();
    EXPECT_TRUE(ran);
    EXPECT_EQ(FShell->Links(), QStringList{TempPath(QStringLiteral("leafpress.pdf"))});
    EXPECT_TRUE(Info->StoreValue(QStringLiteral("H")).isEmpty());
}

TEST_F(FormMainTest, ErrorOfSaveReachesHandlerWithoutChangingWindow)
{
    // A project file in a folder that does not exist cannot be written.
    Project->InlineOptions = QStringLiteral("Target=/out/");
    Window().eSource->setText(QStringLiteral("/s/*.doc?"));
    Project->FileName = TempPath(QStringLiteral("missing/deeper/p.batch-docslim"));
    Window().show();
    // Clicked with the mouse, as the user does, so that the error travels
    // through the application object's event dispatch.
    QToolButton* save = Window().tbSave;
    const QPointF at = QRectF(save->rect()).center();
    QMouseEvent press(QEvent::MouseButtonPress, at, save->mapToGlobal(at), Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QMouseEvent release(QEvent::MouseButtonRelease, at, save->mapToGlobal(at), Qt::LeftButton, Qt::NoButton,
                        Qt::NoModifier);
    QApplication::sendEvent(save, &press);
    QApplication::sendEvent(save, &release);
    EXPECT_EQ(Info->StoreValue(QStringLiteral("E")), QStringLiteral("1"));
    ASSERT_EQ(FShell->Links().size(), 1);
    EXPECT_TRUE(FShell->Links()[0].startsWith(TznInfo::SiteUrl + QStringLiteral("/net/?a=err&e=")));
    EXPECT_EQ(Window().eSource->text(), QStringLiteral("/s/*.doc?"));
    EXPECT_EQ(Window().eTarget->text(), QStringLiteral("/out/"));
}

} // namespace

namespace {

struct ListWidthCase
{
    const char* name;
    int windowWidth;
};

class ResultListWidthTest : public FormMainTest, public ::testing::WithParamInterface<ListWidthCase>
{
};

// "@" keeps 30 pixels; "File Name" and "Result" share the rest of the list
// to the last pixel, at any width of the window and after it changes.
TEST_P(ResultListWidthTest, ColumnsFillTheList)
{
    TznFrmDocslimMain& w = Window();
    AddRows({QStringLiteral("/in/one.docx")});
    w.show();
    for (const int width : {GetParam().windowWidth, GetParam().windowWidth + 250}) {
        w.resize(width, 600);
        QCoreApplication::processEvents();
        const QHeaderView* header = w.lViewer->header();
        const int listWidth = w.lViewer->viewport()->width();
        EXPECT_EQ(header->sectionSize(0), 30) << width;
        EXPECT_EQ(header->sectionSize(0) + header->sectionSize(1) + header->sectionSize(2), listWidth) << width;
        EXPECT_LE(std::abs(header->sectionSize(1) - header->sectionSize(2)), 1) << width;
    }
}

INSTANTIATE_TEST_SUITE_P(FormMain, ResultListWidthTest,
                         ::testing::Values(ListWidthCase{"Narrow", 600}, ListWidthCase{"Medium", 810},
                                           ListWidthCase{"Wide", 1600}),
                         RowName());

TEST_F(FormMainTest, ProgressBarShowsOnlyWhileARunGoesOn)
{
    TznFrmDocslimMain& w = Window();
    w.show();
    EXPECT_FALSE(w.prgRun->isVisible());
    emit w.RunControl()->RunStateChanged(TznRunControl::TznRunState::Running);
    EXPECT_TRUE(w.prgRun->isVisible());
    const QPoint statusAt = w.lblRun->pos();
    emit w.RunControl()->RunStateChanged(TznRunControl::TznRunState::Idle);
    EXPECT_FALSE(w.prgRun->isVisible());
    QCoreApplication::processEvents();
    EXPECT_EQ(w.lblRun->pos(), statusAt) << "the status line moved when the bar went";
}

// No button is wider than its image and caption (with the Open button's
// arrow) and the same gap parts all neighbours, separators included, so
// that no caption sits apart from its button or crowds the next one.
TEST_F(FormMainTest, ToolBarGapsAreEven)
{
    TznFrmDocslimMain& w = Window();
    w.show();
    QCoreApplication::processEvents();
    QList<QWidget*> items;
    for (QAction* action : w.ToolBar->actions())
        if (QWidget* item = w.ToolBar->widgetForAction(action); item && item->isVisible())
            items << item;
    ASSERT_EQ(items.size(), 12);
    for (QWidget* item : items) {
        if (auto* button = qobject_cast<QToolButton*>(item)) {
            EXPECT_EQ(button->width(), button->sizeHint().width()) << button->objectName().toStdString();
        }
    }
    const int gap = items[1]->x() - items[0]->geometry().right();
    EXPECT_GT(gap, 1);
    for (int i = 1; i < items.size(); ++i)
        EXPECT_EQ(items[i]->x() - items[i - 1]->geometry().right(), gap) << items[i]->objectName().toStdString();
}

// A result cut by its column shows whole in the tool tip over it; one that
// fits leaves the list's own hint.
TEST_F(FormMainTest, CutResultShowsWholeInItsToolTip)
{
    TznFrmDocslimMain& w = Window();
    const QString reason = QStringLiteral("The document is protected by a password, which the user must remove "
                                          "in the word processor before it can be compacted");
    AddRows({QStringLiteral("/in/locked.docx"), QStringLiteral("/in/short.docx")});
    w.lViewer->topLevelItem(0)->setText(2, reason);
    w.lViewer->topLevelItem(1)->setText(2, QStringLiteral("[12%]"));
    w.show();
    w.resize(700, 600);
    QCoreApplication::processEvents();
    auto tipAt = [&](int row) {
        QToolTip::hideText();
        const QRect cell = w.lViewer->visualItemRect(w.lViewer->topLevelItem(row));
        const QPoint at(w.lViewer->header()->sectionViewportPosition(2) + 10, cell.center().y());
        QHelpEvent help(QEvent::ToolTip, at, w.lViewer->viewport()->mapToGlobal(at));
        QApplication::sendEvent(w.lViewer->viewport(), &help);
        return QToolTip::isVisible() ? QToolTip::text() : QString();
    };
    EXPECT_EQ(tipAt(0), reason);
    EXPECT_NE(tipAt(1), QStringLiteral("[12%]"));
}

} // namespace
