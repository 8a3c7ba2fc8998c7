#include "platform/znError.h"
#include "platform/znTextFile.h"
#include "znTestBytes.h"

#include <QFile>
#include <QTemporaryDir>

#include "znTestRows.h"

#include <gtest/gtest.h>

namespace {

struct DecodeCase
{
    const char* name;
    QByteArray bytes;
    QString text;
};

class DecodeTextTest : public ::testing::TestWithParam<DecodeCase>
{
};

TEST_P(DecodeTextTest, HonoursMarksAndKeepsEveryByte)
{
    EXPECT_EQ(DecodeText(GetParam().bytes), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(Encodings, DecodeTextTest, ::testing::Values(
    DecodeCase{"Utf8Mark", QByteArray("\xEF\xBB\xBFSource=C:\\\xC3\xA9t\xC3\xA9"), QStringLiteral(u"Source=C:\\été")},
    DecodeCase{"Utf16LEMark", QByteArray("\xFF\xFE" "a\0=\0\xE9\0", 8), QStringLiteral(u"a=é")},
    DecodeCase{"Utf16BEMark", QByteArray("\xFE\xFF\0a\0=\0\xE9", 8), QStringLiteral(u"a=é")},
    DecodeCase{"PlainUtf8", QByteArray("k=\xE2\x82\xAC"), QStringLiteral(u"k=€")},
    DecodeCase{"Ascii", QByteArray("Target=/out"), QStringLiteral("Target=/out")}),
    RowName());

TEST(TextFileTest, InvalidUtf8FallsBackWithoutLosingBytes)
{
    // Not UTF-8: every byte must still come back as one character.
    const QByteArray bytes("a=\xE9t\xE9");
    const QString text = DecodeText(bytes);
    EXPECT_EQ(text.size(), 5);
    EXPECT_TRUE(text.startsWith(QStringLiteral("a=")));
}

TEST(TextFileTest, WritesWithoutMarkAndCrLfAfterEveryLine)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("p.batch-docslim"));
    ASSERT_TRUE(WriteBytes(path, QByteArray("\xEF\xBB\xBFSource=/in\nTarget=/out")));
    const auto text = ReadTextFile(path);
    ASSERT_TRUE(text.has_value());
    WriteTextFile(path, SplitLines(*text));
    EXPECT_EQ(ReadBytes(path), QByteArray("Source=/in\r\nTarget=/out\r\n"));
}

TEST(TextFileTest, WriteFailureNamesThePathAndLeavesNothing)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("missing/sub/log.txt"));
    try {
        WriteTextFile(path, {QStringLiteral("x")});
        FAIL() << "expected an error";
    } catch (const EznError& e) {
        EXPECT_TRUE(e.Message().contains(path));
    }
    EXPECT_FALSE(QFile::exists(path));
}

TEST(TextFileTest, RefusesFilesAboveTheLimit)
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("big.txt"));
    ASSERT_TRUE(WriteBytes(path, QByteArray(2000, 'a')));
    EXPECT_FALSE(ReadTextFile(path, 1000).has_value());
    EXPECT_TRUE(ReadTextFile(path, 4000).has_value());
    EXPECT_FALSE(ReadTextFile(dir.filePath(QStringLiteral("none.txt"))).has_value());
}

struct SplitCase
{
    const char* name;
    const char* text;
    QStringList lines;
};

class SplitLinesTest : public ::testing::TestWithParam<SplitCase>
{
};

TEST_P(SplitLinesTest, BreaksAtCrLfCrAndLf)
{
    EXPECT_EQ(SplitLines(QString::fromUtf8(GetParam().text)), GetParam().lines);
}

INSTANTIATE_TEST_SUITE_P(Breaks, SplitLinesTest, ::testing::Values(
    SplitCase{"AllThreeBreaks", "a\r\nb\rc\nd", {"a", "b", "c", "d"}},
    SplitCase{"FinalBreakEndsTheLastLine", "a\r\n", {"a"}},
    SplitCase{"EmptyLineKept", "a\n\nb", {"a", "", "b"}},
    SplitCase{"OnlyBreaks", "\r\n\r\n", {"", ""}},
    SplitCase{"EmptyText", "", {}}),
    RowName());

} // namespace
