#include "UiTestSupport.h"

#include "ui/znQtDialogs.h"
#include "znTestRows.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QLineEdit>

namespace {

struct FilterCase
{
    const char* name;
    const char* filter;
    QStringList expected;
};

class NameFilterTest : public ::testing::TestWithParam<FilterCase>
{
};

TEST_P(NameFilterTest, BecomesQtNameFilters)
{
    EXPECT_EQ(QtNameFilters(QString::fromUtf8(GetParam().filter)), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    QtDialogs, NameFilterTest,
    ::testing::Values(
        FilterCase{"DocumentsKeepTheirPatternsOnce", "Word Document (*.doc;*.docx)|*.doc;*.docx",
                   {QStringLiteral("Word Document (*.doc *.docx)")}},
        FilterCase{"ProjectThenDocuments",
                   "Leafpress Project|*.batch-docslim|Word Document (*.doc;*.docx)|*.doc;*.docx",
                   {QStringLiteral("Leafpress Project (*.batch-docslim)"),
                    QStringLiteral("Word Document (*.doc *.docx)")}},
        FilterCase{"OnePattern", "Log File|*.log", {QStringLiteral("Log File (*.log)")}},
        FilterCase{"DescriptionWithOtherBrackets", "Docs (old)|*.doc", {QStringLiteral("Docs (old) (*.doc)")}},
        FilterCase{"BlanksAroundPatterns", "Both| *.a ; *.b ;", {QStringLiteral("Both (*.a *.b)")}},
        FilterCase{"MissingPatternsMatchAll", "Anything", {QStringLiteral("Anything (*)")}},
        FilterCase{"Empty", "", {}}),
    RowName());

// The real dialogs, answered by the test while they are shown.
class QtDialogsTest : public UiTest
{
protected:
    void SetUp() override
    {
        UiTest::SetUp();
        ASSERT_TRUE(QDir(FTemp.path()).mkpath(QStringLiteral("one/two")));
        ASSERT_TRUE(QDir(FTemp.path()).mkpath(QStringLiteral("three")));
        for (const char* name : {"a.docx", "b.docx", "c.doc", "note.txt"})
            WriteFile(QString::fromUtf8(name), {QStringLiteral("x")});
    }

    // Runs answer on the file dialog once it is shown; records its state.
    void Answer(std::function<void(QFileDialog&)> answer)
    {
        WhenModal([this, answer] {
            auto* dialog = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
            if (!dialog) {
                ADD_FAILURE() << "no file dialog shown";
                return;
            }
            FShownDirectory = QDir::cleanPath(dialog->directory().absolutePath());
            FShownFilters = dialog->nameFilters();
            FShownName = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->text();
            answer(*dialog);
        });
    }

    QString Clean(const QString& path) const { return QDir::cleanPath(path); }

    TznQtDialogs FQt;
    QString FShownDirectory;
    QStringList FShownFilters;
    QString FShownName;
};

TEST_F(QtDialogsTest, FolderPickerRemembersStartFolder)
{
    const QString start = TempPath(QStringLiteral("one"));
    const QString chosen = TempPath(QStringLiteral("one/two"));
    QString folder = start;
    Answer([&](QFileDialog& d) {
        d.selectFile(chosen);
        QMetaObject::invokeMethod(&d, "accept");
    });
    ASSERT_TRUE(FQt.BrowseForFolder(folder));
    EXPECT_EQ(Clean(folder), Clean(chosen));
    EXPECT_EQ(FShownDirectory, Clean(start));

    // An empty start folder starts where the last non-empty one was.
    QString empty;
    Answer([](QFileDialog& d) { d.reject(); });
    EXPECT_FALSE(FQt.BrowseForFolder(empty));
    EXPECT_TRUE(empty.isEmpty());
    EXPECT_EQ(FShownDirectory, Clean(start));
}

TEST_F(QtDialogsTest, CancelledFolderPickerKeepsFolder)
{
    QString folder = TempPath(QStringLiteral("three"));
    const QString before = folder;
    Answer([](QFileDialog& d) { d.reject(); });
    EXPECT_FALSE(FQt.BrowseForFolder(folder));
    EXPECT_EQ(folder, before);
}

TEST_F(QtDialogsTest, OpenSeveralGivesOneLineEachWithCrLf)
{
    QString path = TempPath(QStringLiteral("a?.docx"));
    Answer([&](QFileDialog& d) {
        d.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))
            ->setText(QStringLiteral("\"a.docx\" \"b.docx\" \"c.doc\""));
        QMetaObject::invokeMethod(&d, "accept");
    });
    ASSERT_TRUE(FQt.OpenFileDialog(QStringLiteral("Word Document (*.doc;*.docx)|*.doc;*.docx"), path, true));
    EXPECT_EQ(FShownDirectory, Clean(FTemp.path()));
    EXPECT_EQ(FShownName, QStringLiteral("a*.docx"));
    EXPECT_EQ(FShownFilters, QStringList{QStringLiteral("Word Document (*.doc *.docx)")});
    const QString expected = TempPath(QStringLiteral("a.docx")) + QStringLiteral("\r\n")
                             + TempPath(QStringLiteral("b.docx")) + QStringLiteral("\r\n")
                             + TempPath(QStringLiteral("c.doc")) + QStringLiteral("\r\n");
    EXPECT_EQ(path, expected);
}

TEST_F(QtDialogsTest, OpenOneGivesThePathAlone)
{
    QString path;
    Answer([&](QFileDialog& d) {
        d.selectFile(TempPath(QStringLiteral("note.txt")));
        QMetaObject::invokeMethod(&d, "accept");
    });
    ASSERT_TRUE(FQt.OpenFileDialog(QStringLiteral("Text|*.txt"), path, false));
    EXPECT_EQ(path, TempPath(QStringLiteral("note.txt")));
}

TEST_F(QtDialogsTest, SaveAddsDefaultExtension)
{
    QString path = TempPath(QStringLiteral("old.log"));
    Answer([&](QFileDialog& d) {
        d.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->setText(QStringLiteral("results"));
        QMetaObject::invokeMethod(&d, "accept");
    });
    ASSERT_TRUE(FQt.SaveFileDialog(QStringLiteral("Log File|*.log"), QStringLiteral(".log"), path));
    EXPECT_EQ(FShownName, QStringLiteral("old.log"));
    EXPECT_EQ(path, TempPath(QStringLiteral("results.log")));
}

TEST_F(QtDialogsTest, CancelledSaveKeepsPath)
{
    QString path = TempPath(QStringLiteral("keep.log"));
    Answer([](QFileDialog& d) { d.reject(); });
    EXPECT_FALSE(FQt.SaveFileDialog(QStringLiteral("Log File|*.log"), QStringLiteral(".log"), path));
    EXPECT_EQ(path, TempPath(QStringLiteral("keep.log")));
}

} // namespace
