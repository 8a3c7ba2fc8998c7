#include "UiTestSupport.h"

#include "app/znVersion.h"
#include "project/znProject.h"
#include "ui/znDocslimAbout.h"
#include "ui/znDocslimMain.h"
#include "znTestRows.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>

#include <cmath>
#include <memory>

namespace {

class FormAboutTest : public UiTest
{
protected:
    void Create(const QString& options = QString())
    {
        Project->InlineOptions = options.isEmpty() ? QStringLiteral("Subdir=0") : options;
        FMain = std::make_unique<TznFrmDocslimMain>();
        FAbout = std::make_unique<TznFrmDocslimAbout>(FMain.get());
        FMain->SetAboutBox(FAbout.get());
    }
    void TearDown() override
    {
        FAbout.reset();
        FMain.reset();
        UiTest::TearDown();
    }

    // Shows the box through the About action and closes it with close.
    void ShowAndClose(std::function<void(QWidget&)> close)
    {
        bool ran = false;
        WhenModal([&] {
            QWidget* box = QApplication::activeModalWidget();
            ASSERT_EQ(box, FAbout.get());
            ran = true;
            close(*box);
            if (box->isVisible()) {
                ADD_FAILURE() << "the about box stayed open";
                FAbout->done(QDialog::Rejected);
            }
        });
        FMain->aAbout->trigger();
        EXPECT_TRUE(ran);
    }

    std::unique_ptr<TznFrmDocslimMain> FMain;
    std::unique_ptr<TznFrmDocslimAbout> FAbout;
};

int alpha(const QWidget& w)
{
    return int(std::lround(w.windowOpacity() * 255));
}

struct StartUpCase
{
    const char* name;
    const char* options;
    int mainAlpha;
};

class AboutStartUpTest : public FormAboutTest, public ::testing::WithParamInterface<StartUpCase>
{
};

TEST_P(AboutStartUpTest, ShowsNothingAndHidesMainOnlyForPureConsole)
{
    Create(QString::fromUtf8(GetParam().options));
    FAbout->ShowAbout();
    EXPECT_FALSE(FAbout->isVisible());
    EXPECT_EQ(FAbout->ShowCount(), 1);
    EXPECT_EQ(alpha(*FMain), GetParam().mainAlpha);
    EXPECT_TRUE(FAbout->lblProduct->text().isEmpty());
}

INSTANTIATE_TEST_SUITE_P(
    FormAbout, AboutStartUpTest,
    ::testing::Values(StartUpCase{"PureConsoleOn", "Source=http://x/a.docx\r\nPureConsole=1", 0},
                      StartUpCase{"PureConsoleTrueText", "PureConsole=true", 0},
                      StartUpCase{"PureConsoleOff", "PureConsole=0", 255},
                      StartUpCase{"DaemonOnly", "Daemon=500", 255},
                      StartUpCase{"NoOptions", "Subdir=0", 255}),
    RowName());

TEST_F(FormAboutTest, BoxIsBorderlessAndSemiTransparent)
{
    Create();
    EXPECT_EQ(alpha(*FAbout), 200);
    EXPECT_TRUE(FAbout->windowFlags() & Qt::FramelessWindowHint);
    EXPECT_EQ(FAbout->size(), QSize(472, 243));
    EXPECT_EQ(FAbout->palette().color(QPalette::Window), QColor(0, 85, 255));
    EXPECT_EQ(FAbout->img->geometry(), QRect(16, 16, 128, 128));
    EXPECT_FALSE(FAbout->img->pixmap().isNull());
}

TEST_F(FormAboutTest, ClickClosesAndTextsAreSetOnce)
{
    Create();
    FAbout->ShowAbout();
    ShowAndClose([](QWidget& box) {
        auto* label = box.findChild<QLabel*>(QStringLiteral("lblVersion"));
        QMouseEvent press(QEvent::MouseButtonPress, QPointF(5, 5), QPointF(5, 5), Qt::LeftButton, Qt::LeftButton,
                          Qt::NoModifier);
        QMouseEvent release(QEvent::MouseButtonRelease, QPointF(5, 5), QPointF(5, 5), Qt::LeftButton,
                            Qt::NoButton, Qt::NoModifier);
        QApplication::sendEvent(label, &press);
        QApplication::sendEvent(label, &release);
    });
    EXPECT_EQ(FAbout->lblProduct->text(), QStringLiteral("Leafpress Compactor"));
    EXPECT_EQ(FAbout->lblVersion->text(), QString::fromLatin1(ProductVersion));

    Project->Title = QStringLiteral("Renamed");
    Project->Version = QStringLiteral("9");
    ShowAndClose([](QWidget& box) {
        QKeyEvent key(QEvent::KeyPress, Qt::Key_Space, Qt::NoModifier, QStringLiteral(" "));
        QApplication::sendEvent(&box, &key);
    });
    EXPECT_EQ(FAbout->lblProduct->text(), QStringLiteral("Leafpress Compactor"));
    EXPECT_EQ(FAbout->lblVersion->text(), QString::fromLatin1(ProductVersion));
}

TEST_F(FormAboutTest, AmpersandInProductNameShowsAsItself)
{
    Project->Title = QStringLiteral("Leaf & Press");
    Create();
    FAbout->ShowAbout();
    ShowAndClose([](QWidget& box) {
        QKeyEvent key(QEvent::KeyPress, Qt::Key_A, Qt::NoModifier, QStringLiteral("a"));
        QApplication::sendEvent(&box, &key);
    });
    EXPECT_EQ(FAbout->lblProduct->text(), QStringLiteral("Leaf & Press"));
    // Drawn, the "&" is a visible character: the label does not look like
    // the same text with the ampersand taken out as an accelerator mark.
    QLabel* label = FAbout->lblProduct;
    const QImage shown = label->grab().toImage();
    label->setText(QStringLiteral("Leaf  Press"));
    const QImage withoutAmpersand = label->grab().toImage();
    label->setText(QStringLiteral("Leaf & Press"));
    EXPECT_NE(shown, withoutAmpersand);
    EXPECT_EQ(label->grab().toImage(), shown);
}

TEST_F(FormAboutTest, ClickBeforeAnyShowDoesNotClose)
{
    Create();
    // Shown directly, without the start-up call, the count stays at 1 and
    // a click does not close it.
    FAbout->show();
    QMouseEvent release(QEvent::MouseButtonRelease, QPointF(5, 5), QPointF(5, 5), Qt::LeftButton, Qt::NoButton,
                        Qt::NoModifier);
    QApplication::sendEvent(FAbout.get(), &release);
    EXPECT_TRUE(FAbout->isVisible());
    FAbout->hide();
}

} // namespace
