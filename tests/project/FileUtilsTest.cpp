#include "platform/znError.h"
#include "project/znFileUtils.h"
#include "znTestBytes.h"
#include "znTestRows.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

TEST(FileUtilsTest, SizeOfFilesAndMissingPaths)
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("a.bin"));
    ASSERT_TRUE(WriteBytes(file, QByteArray(1234, 'x')));
    EXPECT_EQ(TznFileUtils::FileSizeOf(file), 1234);
    EXPECT_EQ(TznFileUtils::FileSizeOf(dir.filePath(QStringLiteral("none"))), 0);
    // Past 4 GiB: a sparse file takes no room.
    ASSERT_TRUE(QFile::resize(file, (qint64(1) << 32) + 5));
    EXPECT_EQ(TznFileUtils::FileSizeOf(file), (qint64(1) << 32) + 5);
}

struct DosCase
{
    const char* name;
    int y, mo, d, h, mi, s;
    int32_t packed;
};

class PackDosTimeTest : public ::testing::TestWithParam<DosCase>
{
};

TEST_P(PackDosTimeTest, PacksDateHighAndTimeLow)
{
    const DosCase& c = GetParam();
    EXPECT_EQ(PackDosTime(c.y, c.mo, c.d, c.h, c.mi, c.s), c.packed);
}

INSTANTIATE_TEST_SUITE_P(Dates, PackDosTimeTest, ::testing::Values(
    DosCase{"FirstDay", 1980, 1, 1, 0, 0, 0, 0x00210000},
    DosCase{"SecondsHalved", 2024, 3, 23, 13, 45, 59, int32_t(((44u << 9 | 3u << 5 | 23u) << 16) | (13u << 11 | 45u << 5 | 29u))},
    DosCase{"LastDay", 2107, 12, 31, 23, 59, 58, int32_t(0xFF9FBF7Du)},
    DosCase{"BeforeTheRange", 1979, 12, 31, 23, 59, 59, -1},
    DosCase{"AfterTheRange", 2108, 1, 1, 0, 0, 0, -1}),
    RowName());

TEST(FileUtilsTest, DosTimeOfFoldersFilesAndNothing)
{
    QTemporaryDir dir;
    EXPECT_EQ(TznFileUtils::FileDosTime(dir.filePath(QStringLiteral("none")), true, true), -1);
    const int32_t folder = TznFileUtils::FileDosTime(dir.path(), false, true);
    const int32_t folderSlash = TznFileUtils::FileDosTime(dir.path() + u'/', false, true);
    EXPECT_NE(folder, -1);
    EXPECT_EQ(folder, folderSlash);
    const QDateTime now = QDateTime::currentDateTimeUtc();
    const int32_t expectedDate = PackDosTime(now.date().year(), now.date().month(), now.date().day(), 0, 0, 0);
    EXPECT_EQ(folder & int32_t(0xFFFF0000), expectedDate & int32_t(0xFFFF0000));
}

TEST(FileUtilsTest, Utf16TextRoundTripWithoutMark)
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("sub/dir/store.ext"));
    const QString text = QStringLiteral(u"R=1\r\nv=2\r\n€\u0000x");
    TznFileUtils::WriteFileText(file, text, 2, false);
    EXPECT_EQ(QFileInfo(file).size(), text.size() * 2);
    EXPECT_EQ(TznFileUtils::ReadFileText(file, 2), text);
    TznFileUtils::WriteFileText(file, QStringLiteral("ab"), 2, true);
    EXPECT_EQ(TznFileUtils::ReadFileText(file, 2), text + QStringLiteral("ab"));
    TznFileUtils::WriteFileText(file, QString(), 2, false);
    EXPECT_EQ(QFileInfo(file).size(), 0);
    EXPECT_EQ(TznFileUtils::ReadFileText(file, 2), QString());
}

TEST(FileUtilsTest, OddByteIsDroppedAndMissingFileRaises)
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("odd"));
    ASSERT_TRUE(WriteBytes(file, QByteArray("a\0b", 3)));
    EXPECT_EQ(TznFileUtils::ReadFileText(file, 2), QStringLiteral("a"));
    EXPECT_THROW(TznFileUtils::ReadFileText(dir.filePath(QStringLiteral("none")), 2), EznError);
}

} // namespace
