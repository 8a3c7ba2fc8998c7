#include "platform/znDirSearch.h"
#include "platform/znFileTimes.h"
#include "znTestBytes.h"
#include "znTestRows.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

struct WildcardRow
{
    const char* name;
    const char* file;
    const char* mask;
    bool matches;
};

class WildcardTest : public testing::TestWithParam<WildcardRow> {};

TEST_P(WildcardTest, FollowsTheWindowsRules)
{
    EXPECT_EQ(MatchesWildcard(QString::fromUtf8(GetParam().file), QString::fromUtf8(GetParam().mask)), GetParam().matches)
        << GetParam().file << " ~ " << GetParam().mask;
}

INSTANTIATE_TEST_SUITE_P(
    Names, WildcardTest,
    testing::Values(WildcardRow{"DocUnderDocQ", "a.doc", "*.doc?", true}, WildcardRow{"DocxUnderDocQ", "a.docx", "*.doc?", true},
                    WildcardRow{"CapitalsUnderDocQ", "B.DOCM", "*.doc?", true}, WildcardRow{"TwoExtraLettersRefused", "a.docxx", "*.doc?", false},
                    WildcardRow{"LaterExtensionRefused", "a.doc.bak", "*.doc?", false}, WildcardRow{"OtherLetterRefused", "a.dot", "*.doc?", false},
                    WildcardRow{"QuestionMarkTakesOne", "ab.txt", "a?.txt", true}, WildcardRow{"QuestionMarkBeforeDotTakesNone", "a.txt", "a?.txt", true},
                    WildcardRow{"QuestionMarkTakesNoMoreThanOne", "abc.txt", "a?.txt", false}, WildcardRow{"QuestionMarkInsideNeedsTheRest", "ab", "a?c", false},
                    WildcardRow{"QuestionMarkInsideTakesOne", "abc", "a?c", true}, WildcardRow{"QuestionMarkInsideNeedsOne", "ac", "a?c", false},
                    WildcardRow{"TrailingQuestionMarksTakeNone", "a", "a??", true}, WildcardRow{"StarDotStarTakesNoExtension", "noext", "*.*", true},
                    WildcardRow{"StarDotStarTakesDotName", ".hidden", "*.*", true}, WildcardRow{"StarTakesSeveralDots", "x.y.z", "*.z", true},
                    WildcardRow{"StarAlone", "abc", "*", true}, WildcardRow{"QuestionMarkTakesEmpty", "", "?", true}, WildcardRow{"StarsAround", "ab", "*b*", true},
                    WildcardRow{"TildeDollarName", "~$a.doc", "*.doc", true}, WildcardRow{"ExactName", "docs", "docs", true},
                    WildcardRow{"ExactNameRefusesMore", "docs2", "docs", false}, WildcardRow{"CaseFoldedBeyondAscii", "Ärger.doc", "ä*.DOC", true},
                    WildcardRow{"SemicolonIsALetter", "a;b.doc", "a;b.doc", true}, WildcardRow{"TrailingDotMatchesNoExtension", "readme", "readme.", true},
                    // Many stars over a long name: answered at once, not after
                    // trying every way of splitting the name.
                    WildcardRow{"ManyStarsRefusedAtOnce", "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa.docx", "*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*ab", false},
                    WildcardRow{"ManyStarsTakenAtOnce", "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaab", "*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*ab", true}),
    RowName());

class FindEntriesTest : public testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(FDir.isValid());
        FRoot = FDir.path() + u'/';
        for (const char* name : {"b.doc", "A.doc", "c.DOC", ".h.doc", "x.txt"})
            touch(FRoot + name);
        QDir(FRoot).mkpath("sub.doc");
        QDir(FRoot).mkpath(".hid");
        QDir(FRoot).mkpath("zdir");
    }

    void touch(const QString& path)
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    }

    QStringList names(const QString& mask, int attr)
    {
        QStringList out;
        for (const auto& rec : FindEntries(FRoot, mask, attr))
            out << rec.Name;
        return out;
    }

    QTemporaryDir FDir;
    QString FRoot;
};

TEST_F(FindEntriesTest, FiltersByAttributesAndSortsIgnoringCase)
{
    EXPECT_EQ(names("*.doc", 0), QStringList({"A.doc", "b.doc", "c.DOC"}));
    EXPECT_EQ(names("*.doc", 0x1EF), QStringList({".h.doc", "A.doc", "b.doc", "c.DOC"}));
    EXPECT_EQ(names("*.doc", 0x1EF | faDirectory), QStringList({".h.doc", "A.doc", "b.doc", "c.DOC", "sub.doc"}));
    EXPECT_EQ(names("*.*", faDirectory), QStringList({"A.doc", "b.doc", "c.DOC", "sub.doc", "x.txt", "zdir"}));
}

TEST_F(FindEntriesTest, ReportsTheAttributesOfEachEntry)
{
    ASSERT_EQ(chmod(QFile::encodeName(FRoot + "b.doc").constData(), 0444), 0);
    for (const auto& rec : FindEntries(FRoot, "*", faBasic)) {
        const bool dir = rec.Name == "sub.doc" || rec.Name == ".hid" || rec.Name == "zdir";
        EXPECT_EQ(bool(rec.Attr & faDirectory), dir) << rec.Name.toStdString();
        EXPECT_EQ(bool(rec.Attr & faHidden), rec.Name.startsWith('.')) << rec.Name.toStdString();
        EXPECT_EQ(bool(rec.Attr & faReadOnly), rec.Name == "b.doc") << rec.Name.toStdString();
        EXPECT_FALSE(rec.Attr & faSysFile);
    }
}

TEST_F(FindEntriesTest, FollowsLinksAndSkipsBrokenOnes)
{
    ASSERT_TRUE(QFile::link(FRoot + "zdir", FRoot + "linkdir"));
    ASSERT_TRUE(QFile::link(FRoot + "A.doc", FRoot + "link.doc"));
    ASSERT_TRUE(QFile::link(FRoot + "gone.doc", FRoot + "broken.doc"));
    EXPECT_EQ(names("*.doc", 0), QStringList({"A.doc", "b.doc", "c.DOC", "link.doc"}));
    EXPECT_TRUE(names("*", faDirectory).contains("linkdir"));
    EXPECT_EQ(FolderIdentity(FRoot + "linkdir"), FolderIdentity(FRoot + "zdir/"));
    EXPECT_NE(FolderIdentity(FRoot + "zdir"), FolderIdentity(FRoot + "sub.doc"));
    EXPECT_FALSE(FolderIdentity(FRoot + "A.doc").has_value());
}

TEST_F(FindEntriesTest, UnreadableFolderGivesNothing)
{
    EXPECT_TRUE(FindEntries(FRoot + "missing/", "*", faBasic).empty());
}

TEST(FileTimesTest, CopiesAccessAndWriteTimes)
{
    QTemporaryDir dir;
    const QString source = dir.path() + "/s.doc";
    const QString target = dir.path() + "/t.doc";
    for (const QString& p : {source, target}) {
        ASSERT_TRUE(WriteBytes(p, "content"));
    }
    const QDateTime written = QDateTime::fromString("2001-02-03T04:05:06.789Z", Qt::ISODateWithMs);
    const QDateTime accessed = QDateTime::fromString("2002-03-04T05:06:07Z", Qt::ISODate);
    {
        QFile f(source);
        ASSERT_TRUE(f.open(QIODevice::ReadWrite));
        ASSERT_TRUE(f.setFileTime(written, QFileDevice::FileModificationTime));
        ASSERT_TRUE(f.setFileTime(accessed, QFileDevice::FileAccessTime));
    }
    TznFileTimes times;
    ASSERT_TRUE(ReadFileTimes(source, times));
    EXPECT_EQ(times.LastWrite, written);
    ASSERT_TRUE(WriteFileTimes(target, times));
    EXPECT_EQ(QFileInfo(target).lastModified(), written);
    EXPECT_EQ(QFileInfo(target).lastRead(), accessed);
    QFile t(target);
    ASSERT_TRUE(t.open(QIODevice::ReadOnly));
    EXPECT_EQ(t.readAll(), "content");
}

TEST(FileTimesTest, MissingFilesFailWithoutCreatingAnything)
{
    QTemporaryDir dir;
    TznFileTimes times;
    EXPECT_FALSE(ReadFileTimes(dir.path() + "/none", times));
    times.LastWrite = QDateTime::currentDateTimeUtc();
    EXPECT_FALSE(WriteFileTimes(dir.path() + "/none", times));
    EXPECT_FALSE(QFile::exists(dir.path() + "/none"));
}

} // namespace
