#include "ProjectFixture.h"
#include "znTestRows.h"

#include "platform/znError.h"
#include "project/znDialogs.h"

#include <QDir>

namespace {

// Answers the dialogs from a script instead of asking anybody.
class ScriptedDialogs : public IznDialogs
{
public:
    QString NextFile;
    bool Confirm = true;
    QString LastFilter;

    bool BrowseForFolder(QString& folder) override
    {
        if (Confirm)
            folder = NextFile;
        return Confirm;
    }
    bool OpenFileDialog(const QString& filter, QString& path, bool) override
    {
        LastFilter = filter;
        if (Confirm)
            path = NextFile;
        return Confirm;
    }
    bool SaveFileDialog(const QString& filter, const QString&, QString& path) override
    {
        LastFilter = filter;
        if (Confirm)
            path = NextFile;
        return Confirm;
    }
};

class ProjectFileTest : public ProjectFixture
{
protected:
    void SetUp() override
    {
        ProjectFixture::SetUp();
        SetDialogs(&FDialogs);
    }
    void TearDown() override
    {
        SetDialogs(nullptr);
        ProjectFixture::TearDown();
    }
    ScriptedDialogs FDialogs;
};

TEST_F(ProjectFileTest, OpensAProjectFileAndRemembersIt)
{
    const QString file = path("a.batch-docslim");
    ASSERT_TRUE(WriteBytes(file, "\xEF\xBB\xBFSource=/in/*.doc?\r\nTarget=/out\r\n"));
    FProject->FileName = file;
    FProject->OpenProject(true);
    EXPECT_EQ(FProject->Source(), QStringLiteral("/in/*.doc?"));
    EXPECT_EQ(FProject->RecentFiles, QStringList{file});
    // Written back in the locale's code page without the mark.
    FProject->CollectOptions(true);
    EXPECT_EQ(ReadBytes(file), QByteArray("Source=/in/*.doc?\r\nTarget=/out\r\n"));
}

TEST_F(ProjectFileTest, UnreadableProjectKeepsTheOptions)
{
    FProject->SetOptionsText(QStringLiteral("Source=/keep"));
    FProject->FileName = path("missing.batch-docslim");
    FProject->OpenProject(true);
    EXPECT_EQ(FProject->Source(), QStringLiteral("/keep"));
    EXPECT_TRUE(FProject->RecentFiles.isEmpty());
}

TEST_F(ProjectFileTest, BinaryProjectFileStopsAtNul)
{
    const QString file = path("bin.batch-docslim");
    ASSERT_TRUE(WriteBytes(file, QByteArray("Source=/x\r\n\0\x01\x02garbage=1", 22)));
    FProject->FileName = file;
    FProject->OpenProject(true);
    EXPECT_EQ(FProject->OptionLines(), QStringList{QStringLiteral("Source=/x")});
}

TEST_F(ProjectFileTest, OpeningADocumentKeepsOtherOptions)
{
    FProject->SetOptionsText(QStringLiteral("ThreadsCount=3"));
    FProject->FileName = QStringLiteral("/data/in/report.docx");
    FProject->OpenProject(true);
    EXPECT_EQ(FProject->Source(), QStringLiteral("/data/in/report.docx"));
    EXPECT_EQ(FProject->Target(), QStringLiteral("/data/in/"));
    EXPECT_EQ(FProject->ThreadsCount(), 3);
    EXPECT_TRUE(FProject->FileName.isEmpty());

    // An existing target is kept.
    FProject->FileName = QStringLiteral("/other/b.doc");
    FProject->OpenProject(true);
    EXPECT_EQ(FProject->Target(), QStringLiteral("/data/in/"));
}

TEST_F(ProjectFileTest, ExtensionInCapitalsIsASourcePath)
{
    EXPECT_TRUE(FProject->IsProjectFile(QStringLiteral("/a/b.batch-docslim")));
    EXPECT_FALSE(FProject->IsProjectFile(QStringLiteral("/a/b.BATCH-DOCSLIM")));
    FProject->FileName = QStringLiteral("/a/b.BATCH-DOCSLIM");
    FProject->OpenProject(true);
    EXPECT_EQ(FProject->Source(), QStringLiteral("/a/b.BATCH-DOCSLIM"));
}

TEST_F(ProjectFileTest, InlineOptionsWinOverAnyPathThatIsNoProject)
{
    FProject->InlineOptions = QStringLiteral("Source=/in/x.docx\r\nThreadsCount=2");
    FProject->FileName = QStringLiteral("/some/doc.docx");
    FProject->OpenProject(true);
    EXPECT_EQ(FProject->Source(), QStringLiteral("/in/x.docx"));
    EXPECT_EQ(FProject->Target(), QStringLiteral("/in/"));
    EXPECT_EQ(FProject->ThreadsCount(), 2);
}

TEST_F(ProjectFileTest, CancelledOpenDialogChangesNothing)
{
    FProject->SetOptionsText(QStringLiteral("Source=/keep"));
    FProject->FileName = path("p?.batch-docslim");
    FDialogs.Confirm = false;
    FProject->OpenProject(false);
    EXPECT_EQ(FProject->FileName, path("p?.batch-docslim"));
    EXPECT_EQ(FDialogs.LastFilter,
              QStringLiteral("Leafpress Project|*.batch-docslim|Word Document (*.doc;*.docx)|*.doc;*.docx"));
}

TEST_F(ProjectFileTest, SaveAsWritesTheChosenFile)
{
    FProject->SetOptionsText(QStringLiteral("Source=/in"));
    FDialogs.NextFile = path("saved.batch-docslim");
    FProject->SaveProject(); // no file name yet: asks where
    EXPECT_EQ(FProject->FileName, path("saved.batch-docslim"));
    EXPECT_EQ(ReadBytes(path("saved.batch-docslim")), QByteArray("Source=/in\r\n"));
    EXPECT_EQ(FProject->RecentFiles, QStringList{path("saved.batch-docslim")});
}

TEST_F(ProjectFileTest, UnwritableProjectRaisesAndIsNotRemembered)
{
    FProject->FileName = path("no/such/folder/p.batch-docslim");
    EXPECT_THROW(FProject->CollectOptions(true), EznError);
    EXPECT_TRUE(FProject->RecentFiles.isEmpty());
}

TEST_F(ProjectFileTest, NewProjectClearsEverything)
{
    FProject->SetOptionsText(QStringLiteral("Source=/in"));
    FProject->FileName = path("x.batch-docslim");
    FProject->NewProject();
    EXPECT_TRUE(FProject->FileName.isEmpty());
    EXPECT_TRUE(FProject->OptionLines().isEmpty());
}

TEST_F(ProjectFileTest, DefaultProjectBesideTheExecutable)
{
    EXPECT_EQ(FProject->DefaultProjectPath(), path("leafpress.batch-docslim"));
    EXPECT_EQ(FProject->RecentFilesPath(), path("leafpress.log"));
    ASSERT_TRUE(WriteBytes(path("leafpress.batch-docslim"), "Target=/t\r\n"));
    FProject->OpenInitial();
    EXPECT_EQ(FProject->Target(), QStringLiteral("/t"));
}

TEST_F(ProjectFileTest, NoDefaultProjectNamesNoProjectAndKeepsTheOptions)
{
    // The window opens the project a second time; a document given on the
    // command line must survive that when there is no default project.
    FProject->ParseCommandLine(QStringLiteral("/in/a.docx"));
    FProject->OpenInitial();
    EXPECT_TRUE(FProject->FileName.isEmpty());
    EXPECT_EQ(FProject->Source(), QStringLiteral("/in/a.docx"));
    EXPECT_EQ(FProject->Target(), QStringLiteral("/in/"));
}

// --- the recent-project list ---

TEST_F(ProjectFileTest, RecentListNeitherDuplicatesNorReorders)
{
    for (const char* name : {"a.batch-docslim", "b.batch-docslim", "A.BATCH-docslim"}) {
        FProject->FileName = path(name);
        FProject->AddRecent();
    }
    EXPECT_EQ(FProject->RecentFiles, (QStringList{path("b.batch-docslim"), path("a.batch-docslim")}));
    FProject->FileName = path("a.batch-docslim");
    FProject->AddRecent();
    EXPECT_EQ(FProject->RecentFiles.first(), path("b.batch-docslim"));
}

TEST_F(ProjectFileTest, RecentListSurvivesTheProcessWithMissingFiles)
{
    FProject->RecentFiles = {path("gone.batch-docslim"), QStringLiteral("/x/y.batch-docslim")};
    FProject.reset();
    EXPECT_EQ(ReadBytes(path("leafpress.log")), QByteArray()
              .append(path("gone.batch-docslim").toUtf8()).append("\r\n/x/y.batch-docslim\r\n"));
    FProject = std::make_unique<TznProject>();
    EXPECT_EQ(FProject->RecentFiles, (QStringList{path("gone.batch-docslim"), QStringLiteral("/x/y.batch-docslim")}));
}

TEST_F(ProjectFileTest, EmptyRecentListIsStillWritten)
{
    FProject.reset();
    EXPECT_TRUE(QFile::exists(path("leafpress.log")));
    EXPECT_EQ(ReadBytes(path("leafpress.log")), QByteArray());
}

// --- the command line ---

struct CommandCase
{
    const char* name;
    const char* param;
    QStringList lines;    // option lines afterwards
    bool goesOn;          // false: the process ends
    const char* link;     // "action|extra" asked of the link opener, or empty
};

class CommandLineTest : public ProjectFixture, public ::testing::WithParamInterface<CommandCase>
{
};

TEST_P(CommandLineTest, InterpretsTheFirstParameter)
{
    const CommandCase& c = GetParam();
    QString link;
    FProject->OnOpenLink = [&](const QString& page, const QString& action, const QString& extra) {
        link = page + u'|' + action + u'|' + extra;
    };
    EXPECT_EQ(FProject->ParseCommandLine(QString::fromUtf8(c.param)), c.goesOn);
    EXPECT_EQ(link, QString::fromUtf8(c.link));
    if (c.goesOn) {
        EXPECT_EQ(FProject->OptionLines(), c.lines);
    }
}

INSTANTIATE_TEST_SUITE_P(Forms, CommandLineTest, ::testing::Values(
    CommandCase{"ColonCommaSemicolon", "-p:a=1,b=2;c=3", {"a=1", "b=2", "c=3"}, true, ""},
    CommandCase{"CapitalNoColon", "-Pa=1;b=2;c=3", {"a=1", "b=2", "c=3"}, true, ""},
    CommandCase{"SourceAndTarget", "-pSource=/in,Target=/out", {"Source=/in", "Target=/out"}, true, ""},
    CommandCase{"SourceGivesTarget", "-pSource=/in/a.docx", {"Source=/in/a.docx", "Target=/in/"}, true, ""},
    CommandCase{"SingleDashIgnored", "-", {}, true, ""},
    CommandCase{"UnknownSwitchIgnored", "-x", {}, true, ""},
    CommandCase{"Install", "-iabc", {}, false, "|ins|abc"},
    CommandCase{"Uninstall", "-U", {}, false, "|uni|"},
    CommandCase{"DocumentPath", "/in/a b.docx", {"Source=/in/a b.docx", "Target=/in/"}, true, ""},
    CommandCase{"SlashIsAPathHere", "/pSource=x", {"Source=/pSource=x", "Target=/"}, true, ""}),
    RowName());

} // namespace
