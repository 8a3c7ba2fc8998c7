#include "platform/znDirSearch.h"
#include "platform/znFileTimes.h"
#include "znTestBytes.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <sys/stat.h>

namespace {

struct WildcardRow
{
    const char* name;
    const char* mask;
    bool matches;
};

class WildcardTest : public testing::TestWithParam<WildcardRow> {};

TEST_P(WildcardTest, FollowsTheWindowsRules)
{
    EXPECT_EQ(MatchesWildcard(QString::fromUtf8(GetParam().name), QString::fromUtf8(GetParam().mask)), GetParam().matches)
        << GetParam().name << " ~ " << GetParam().mask;
}

INSTANTIATE_TEST_SUITE_P(
    Names, WildcardTest,
    testing::Values(WildcardRow{"a.doc", "*.doc?", true}, WildcardRow{"a.docx", "*.doc?", true},
                    WildcardRow{"B.DOCM", "*.doc?", true}, WildcardRow{"a.docxx", "*.doc?", false},
                    WildcardRow{"a.doc.bak", "*.doc?", false}, WildcardRow{"a.dot", "*.doc?", false},
                    WildcardRow{"ab.txt", "a?.txt", true}, WildcardRow{"a.txt", "a?.txt", true},
                    WildcardRow{"abc.txt", "a?.txt", false}, WildcardRow{"ab", "a?c", false},
                    WildcardRow{"abc", "a?c", true}, WildcardRow{"ac", "a?c", false},
                    WildcardRow{"a", "a??", true}, WildcardRow{"noext", "*.*", true},
                    WildcardRow{".hidden", "*.*", true}, WildcardRow{"x.y.z", "*.z", true},
                    WildcardRow{"abc", "*", true}, WildcardRow{"", "?", true}, WildcardRow{"ab", "*b*", true},
                    WildcardRow{"~$a.doc", "*.doc", true}, WildcardRow{"docs", "docs", true},
                    WildcardRow{"docs2", "docs", false}, WildcardRow{"Ärger.doc", "ä*.DOC", true},
                    WildcardRow{"a;b.doc", "a;b.doc", true}, WildcardRow{"readme", "readme.", true},
                    // Many stars over a long name: answered at once, not after
                    // trying every way of splitting the name.
                    WildcardRow{"aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa.docx", "*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*ab", false},
                    WildcardRow{"aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaab", "*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*a*ab", true}));

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
