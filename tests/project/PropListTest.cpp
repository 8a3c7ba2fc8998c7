#include "ProjectFixture.h"
#include "znTestRows.h"

#include "project/znPropList.h"

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QSlider>

namespace {

QApplication& app()
{
    static int argc = 1;
    static char name[] = "test_project";
    static char* argv[] = {name, nullptr};
    static QApplication* instance = new QApplication(argc, argv);
    return *instance;
}

// Widgets need the application object before they are constructed.
struct AppFirst
{
    AppFirst() { app(); }
};

class PropListTest : public AppFirst, public ProjectFixture
{
protected:
    void SetUp() override
    {
        app();
        ProjectFixture::SetUp();
    }
};

struct PropCase
{
    const char* name;
    const char* property;
    const char* value;
    const char* readBack; // what GetPropText gives afterwards
};

class CheckBoxPropTest : public PropListTest, public ::testing::WithParamInterface<PropCase>
{
};

TEST_P(CheckBoxPropTest, ReadsBooleanText)
{
    QCheckBox box;
    box.setChecked(true);
    TznPropList binder(&box);
    binder.SetPropText(QString::fromUtf8(GetParam().property), QString::fromUtf8(GetParam().value));
    EXPECT_EQ(binder.GetPropText(QStringLiteral("Checked")), QString::fromUtf8(GetParam().readBack));
}

INSTANTIATE_TEST_SUITE_P(Values, CheckBoxPropTest, ::testing::Values(
    PropCase{"EmptyUnchecks", "Checked", "", "False"},
    PropCase{"ZeroUnchecks", "Checked", "0", "False"},
    PropCase{"NumberWithBlanksChecks", "Checked", " 2 ", "True"},
    PropCase{"OtherTextLeavesIt", "Checked", "yes", "True"},
    PropCase{"LowerFalse", "checked", "false", "False"},
    PropCase{"UpperFalse", "CHECKED", "FALSE", "False"},
    PropCase{"TrueStays", "Checked", "True", "True"},
    PropCase{"UnknownProperty", "Ticked", "False", "True"}),
    RowName());

TEST_F(PropListTest, ReadsTextEnumerationsAndIntegers)
{
    QLineEdit edit;
    edit.setText(QStringLiteral("/in/*.doc?"));
    QSlider slider(Qt::Vertical);
    slider.setValue(42);
    TznPropList e(&edit), s(&slider);
    EXPECT_EQ(e.GetPropText(QStringLiteral("TEXT")), QStringLiteral("/in/*.doc?"));
    EXPECT_EQ(s.GetPropText(QStringLiteral("orientation")), QStringLiteral("Vertical"));
    EXPECT_EQ(s.GetPropText(QStringLiteral("value")), QStringLiteral("42"));
    EXPECT_EQ(e.GetPropText(QStringLiteral("nosuch")), QString());

    s.SetPropText(QStringLiteral("orientation"), QStringLiteral("horizontal"));
    EXPECT_EQ(slider.orientation(), Qt::Horizontal);
    s.SetPropText(QStringLiteral("orientation"), QStringLiteral("sideways"));
    EXPECT_EQ(slider.orientation(), Qt::Horizontal);
    // A number is not text: the integer property is left alone.
    s.SetPropText(QStringLiteral("value"), QStringLiteral("7"));
    EXPECT_EQ(slider.value(), 42);
}

TEST_F(PropListTest, FreedControlReadsEmptyAndIgnoresWrites)
{
    auto* edit = new QLineEdit;
    TznPropList binder(edit);
    delete edit;
    EXPECT_EQ(binder.GetPropText(QStringLiteral("Text")), QString());
    binder.SetPropText(QStringLiteral("Text"), QStringLiteral("x"));
}

// The three controls the main window binds, as it binds them.
class BoundControlsTest : public PropListTest
{
protected:
    void SetUp() override
    {
        PropListTest::SetUp();
        eSource.setObjectName(QStringLiteral("eSource"));
        eSource.setToolTip(QStringLiteral("Text"));
        cSubdir.setObjectName(QStringLiteral("cSubdir"));
        cSubdir.setToolTip(QStringLiteral("Checked"));
        eTarget.setObjectName(QStringLiteral("eTarget"));
        eTarget.setToolTip(QStringLiteral("Text"));
        for (QObject* c : {static_cast<QObject*>(&eSource), static_cast<QObject*>(&cSubdir), static_cast<QObject*>(&eTarget)}) {
            c->setProperty("tag", -1);
            FProject->BindControl(c);
        }
    }
    QLineEdit eSource, eTarget;
    QCheckBox cSubdir;
};

TEST_F(BoundControlsTest, ControlsToOptionsDropsEmptyFields)
{
    FProject->SetOptionsText(QStringLiteral("Target=/old\r\nThreadsCount=2"));
    eSource.setText(QStringLiteral("/in/*.doc?"));
    eTarget.clear();
    cSubdir.setChecked(true);
    FProject->ControlsToOptions();
    EXPECT_EQ(FProject->OptionLines(), (QStringList{"ThreadsCount=2", "Source=/in/*.doc?", "Subdir=True"}));
    EXPECT_GT(eSource.property("tag").toInt(), 0);
}

TEST_F(BoundControlsTest, AlternativeKeyFillsTheFieldAndLeavesTheText)
{
    const QString file = path("alt.batch-docslim");
    ASSERT_TRUE(WriteBytes(file, "eSource.Text=/in\r\ncSubdir.Checked=true\r\nTarget=/out\r\neTarget.Text=/ignored\r\n"));
    FProject->FileName = file;
    FProject->OpenProject(true);
    EXPECT_EQ(eSource.text(), QStringLiteral("/in"));
    EXPECT_TRUE(cSubdir.isChecked());
    EXPECT_EQ(eTarget.text(), QStringLiteral("/out"));
    // Only the alternative lines that were used are removed.
    EXPECT_EQ(FProject->OptionLines(), (QStringList{"Target=/out", "eTarget.Text=/ignored"}));
    FProject->CollectOptions(true);
    EXPECT_EQ(ReadBytes(file), QByteArray("Target=/out\r\neTarget.Text=/ignored\r\nSource=/in\r\nSubdir=True\r\n"));
}

TEST_F(BoundControlsTest, EmptyOptionsClearTheControls)
{
    eSource.setText(QStringLiteral("x"));
    eTarget.setText(QStringLiteral("y"));
    cSubdir.setChecked(true);
    FProject->SetOptionsText(QString());
    FProject->OptionsToControls();
    EXPECT_TRUE(eSource.text().isEmpty());
    EXPECT_TRUE(eTarget.text().isEmpty());
    EXPECT_FALSE(cSubdir.isChecked());
}

TEST_F(BoundControlsTest, DestructionResetsTheTags)
{
    FProject->ControlsToOptions();
    EXPECT_GT(cSubdir.property("tag").toInt(), 0);
    FProject.reset();
    EXPECT_EQ(cSubdir.property("tag").toInt(), -1);
}

} // namespace
