#include "engine/znBatch.h"
#include "engine/znRunReport.h"
#include "znTestRows.h"

#include <gtest/gtest.h>

namespace {

struct ReportCase
{
    const char* name;
    QStringList reasons;
    const char* expected;
};

class FailureReportTest : public ::testing::TestWithParam<ReportCase>
{
};

TEST_P(FailureReportTest, QuotesOnlyWhatWouldSplitTheList)
{
    EXPECT_EQ(FailureReport(GetParam().reasons), QString::fromUtf8(GetParam().expected));
}

INSTANTIATE_TEST_SUITE_P(
    Reasons, FailureReportTest,
    ::testing::Values(
        ReportCase{"None", {}, "err&e="},
        ReportCase{"PlainWords", {QStringLiteral("Locked"), QStringLiteral("Damaged")}, "err&e=Locked,Damaged"},
        ReportCase{"BlankIsQuoted", {QStringLiteral("Cannot open")}, "err&e=\"Cannot open\""},
        ReportCase{"CommaIsQuoted", {QStringLiteral("a,b")}, "err&e=\"a,b\""},
        ReportCase{"QuoteIsDoubled", {QStringLiteral("say \"x\"")}, "err&e=\"say \"\"x\"\"\""},
        ReportCase{"ControlCharacterIsQuoted", {QStringLiteral("a\tb")}, "err&e=\"a\tb\""},
        ReportCase{"AmpersandIsLeftToTheAddress", {QStringLiteral("a&b")}, "err&e=a&b"}),
    RowName());

struct BytesCase
{
    const char* name;
    int status;
    qint64 source;
    qint64 target;
    qint64 saved;
};

class SavedBytesTest : public ::testing::TestWithParam<BytesCase>
{
};

TEST_P(SavedBytesTest, CountsOnlyMeasuredSuccesses)
{
    const BytesCase& c = GetParam();
    TznNode node(0, QStringLiteral("/in/a.docx"));
    node.Status = c.status;
    node.SourceSize = c.source;
    node.TargetSize = c.target;
    EXPECT_EQ(SavedBytes(node), c.saved);
    EXPECT_EQ(CountsBytes(node), c.status == nsSuccess && c.source >= 0 && c.target >= 0);
}

INSTANTIATE_TEST_SUITE_P(
    Nodes, SavedBytesTest,
    ::testing::Values(BytesCase{"Success", nsSuccess, 2048, 1024, 1024},
                      BytesCase{"SuccessThatGrew", nsSuccess, 1000, 1200, -200},
                      BytesCase{"Failure", nsFailure, 2048, 1024, 0},
                      BytesCase{"Pending", nsPending, 2048, 1024, 0},
                      BytesCase{"SourceSizeUnknown", nsSuccess, -1, 1024, 0},
                      BytesCase{"TargetSizeUnknown", nsSuccess, 2048, -1, 0}),
    RowName());

TEST(RunReportTest, TheTwoResultLinesDifferOnlyInTheBrackets)
{
    const QString path = QStringLiteral("/in/a.docx");
    EXPECT_EQ(RunnerResultLine(nsSuccess, path, QStringLiteral("[50%] /out/a.docx")),
              QStringLiteral("Success => /in/a.docx => [50%] /out/a.docx"));
    EXPECT_EQ(ListResultLine(nsFailure, path, QStringLiteral("Locked")),
              QStringLiteral("[Failure] => /in/a.docx => Locked"));
    EXPECT_EQ(ListResultLine(nsPending, path, QString()), QStringLiteral("[Running] => /in/a.docx => "));
}

} // namespace
