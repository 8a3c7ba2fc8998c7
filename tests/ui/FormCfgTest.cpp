#include "UiTestSupport.h"

#include "project/znProject.h"
#include "ui/znDocslimMain.h"
#include "ui/znFormCfg.h"

#include <QApplication>
#include <QCheckBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>

#include <memory>

namespace {

class FormCfgTest : public UiTest
{
protected:
    void SetUp() override
    {
        UiTest::SetUp();
        Project->InlineOptions = QStringLiteral("Target=/out/\r\nThreadsCount=2");
        FWindow = std::make_unique<TznFrmDocslimMain>();
    }
    void TearDown() override
    {
        FWindow.reset();
        UiTest::TearDown();
    }

    // Opens the editor through the Config action; edit runs while it is
    // shown and ends it.
    void Config(std::function<void(TznFrmCfg&)> edit)
    {
        bool ran = false;
        WhenModal([&] {
            auto* cfg = qobject_cast<TznFrmCfg*>(QApplication::activeModalWidget());
            ASSERT_NE(cfg, nullptr);
            ran = true;
            edit(*cfg);
            if (cfg->isVisible())
                cfg->done(QDialog::Rejected);
        });
        FWindow->aConfig->trigger();
        EXPECT_TRUE(ran);
    }

    std::unique_ptr<TznFrmDocslimMain> FWindow;
};

TEST_F(FormCfgTest, ShowsSourceTypedInWindow)
{
    FWindow->eSource->setText(QStringLiteral("/typed/*.doc?"));
    QString shown;
    Config([&](TznFrmCfg& cfg) { shown = cfg.txtCfg->toPlainText(); });
    EXPECT_EQ(shown, QStringLiteral("Target=/out/\nThreadsCount=2\nSource=/typed/*.doc?\nSubdir=False\n"));
}

TEST_F(FormCfgTest, OkPushesEditedTargetIntoWindow)
{
    Config([](TznFrmCfg& cfg) {
        QString text = cfg.txtCfg->toPlainText();
        text.replace(QStringLiteral("Target=/out/"), QStringLiteral("Target=/elsewhere/"));
        text += QStringLiteral("Subdir=1\nLogFile=/log.txt");
        text.replace(QStringLiteral("Subdir=False\n"), QString());
        cfg.txtCfg->setPlainText(text);
        cfg.btnOk->click();
    });
    EXPECT_EQ(FWindow->eTarget->text(), QStringLiteral("/elsewhere/"));
    EXPECT_EQ(Project->GetOption(QStringLiteral("LogFile")), QStringLiteral("/log.txt"));
    EXPECT_EQ(Project->ThreadsCount(), 2);
    // Subdir=1 means the same to the check box as to the runner.
    EXPECT_TRUE(FWindow->cSubdir->isChecked());
    EXPECT_EQ(FWindow->windowTitle(), QStringLiteral("Leafpress Compactor - None"));
}

TEST_F(FormCfgTest, CancelAndCloseChangeNothing)
{
    FWindow->eSource->setText(QStringLiteral("/s/*.doc?"));
    const auto editAway = [](TznFrmCfg& cfg) { cfg.txtCfg->setPlainText(QStringLiteral("Target=/changed/")); };
    Config([&](TznFrmCfg& cfg) {
        editAway(cfg);
        cfg.btnCancel->click();
    });
    EXPECT_EQ(FWindow->eTarget->text(), QStringLiteral("/out/"));
    Config([&](TznFrmCfg& cfg) {
        editAway(cfg);
        cfg.close();
    });
    EXPECT_EQ(FWindow->eTarget->text(), QStringLiteral("/out/"));
    EXPECT_EQ(Project->OptionLines(),
              (QStringList{QStringLiteral("Target=/out/"), QStringLiteral("ThreadsCount=2"),
                           QStringLiteral("Source=/s/*.doc?"), QStringLiteral("Subdir=False")}));
}

TEST_F(FormCfgTest, DeletingEveryLineClearsFieldsAndCheckBox)
{
    FWindow->eSource->setText(QStringLiteral("/s/*.doc?"));
    FWindow->cSubdir->setChecked(true);
    Config([](TznFrmCfg& cfg) {
        cfg.txtCfg->clear();
        cfg.btnOk->click();
    });
    EXPECT_TRUE(Project->OptionLines().isEmpty());
    EXPECT_TRUE(FWindow->eSource->text().isEmpty());
    EXPECT_TRUE(FWindow->eTarget->text().isEmpty());
    EXPECT_FALSE(FWindow->cSubdir->isChecked());
}

TEST_F(FormCfgTest, EscapeDoesNotClose)
{
    bool stillOpen = false;
    Config([&](TznFrmCfg& cfg) {
        QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
        QApplication::sendEvent(&cfg, &escape);
        QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
        QApplication::sendEvent(&cfg, &enter);
        stillOpen = cfg.isVisible();
    });
    EXPECT_TRUE(stillOpen);
}

TEST_F(FormCfgTest, SameEditorEachTime)
{
    TznFrmCfg* first = nullptr;
    TznFrmCfg* second = nullptr;
    Config([&](TznFrmCfg& cfg) { first = &cfg; });
    Config([&](TznFrmCfg& cfg) { second = &cfg; });
    EXPECT_EQ(first, second);
    EXPECT_EQ(first->size(), QSize(292, 273));
    EXPECT_EQ(first->windowTitle(), QStringLiteral("Config"));
}

} // namespace
