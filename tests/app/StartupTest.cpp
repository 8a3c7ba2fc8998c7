#include "platform/znApp.h"

#include <QProcess>

#include <gtest/gtest.h>

namespace {

struct ParamCase
{
    const char* name;
    QString line;
    const char* first;
};

class FirstParamTest : public ::testing::TestWithParam<ParamCase>
{
};

TEST_P(FirstParamTest, SplitsAtBlanksAndJoinsQuotedStretches)
{
    EXPECT_EQ(FirstParamOf(GetParam().line), QString::fromUtf8(GetParam().first));
}

INSTANTIATE_TEST_SUITE_P(Lines, FirstParamTest, ::testing::Values(
    ParamCase{"None", QStringLiteral("app.exe"), ""},
    ParamCase{"Plain", QStringLiteral("app.exe /p:a=1 second"), "/p:a=1"},
    ParamCase{"QuotedProgram", QStringLiteral("\"C:\\Program Files\\app.exe\" x"), "x"},
    ParamCase{"QuotedBlanks", QStringLiteral("app \"C:\\my docs\\a.docx\" b"), "C:\\my docs\\a.docx"},
    ParamCase{"QuoteInside", QStringLiteral("app C:\\\"my docs\"\\a.docx"), "C:\\my docs\\a.docx"},
    ParamCase{"Unbalanced", QStringLiteral("app \"C:\\a b"), "C:\\a b"},
    ParamCase{"ControlCharsAreBlanks", QStringLiteral("app\t\x01x\x1Fy"), "x"},
    ParamCase{"NulEnds", QString::fromUtf16(u"app a\0b", 7), "a"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(TznAppTest, TakesOnlyTheFirstParameterWithoutQuotes)
{
    TznApp app(QStringLiteral("/opt/leafpress"), {QStringLiteral("\"/in/a b\""), QStringLiteral("ignored")});
    EXPECT_EQ(app.ExeName, QStringLiteral("/opt/leafpress"));
    EXPECT_EQ(app.FirstParam, QStringLiteral("/in/a b"));
    EXPECT_EQ(TznApp(QStringLiteral("x"), {}).FirstParam, QString());
}

struct ProgramCase
{
    const char* name;
    QStringList args;
    int status;
    const char* out; // text standard output must hold
};

class ProgramTest : public ::testing::TestWithParam<ProgramCase>
{
};

TEST_P(ProgramTest, AnswersAndEnds)
{
    QProcess p;
    p.start(QStringLiteral(LP_EXE_PATH), GetParam().args);
    ASSERT_TRUE(p.waitForFinished(30000));
    EXPECT_EQ(p.exitCode(), GetParam().status);
    EXPECT_TRUE(QString::fromLocal8Bit(p.readAllStandardOutput()).contains(QString::fromUtf8(GetParam().out)));
}

INSTANTIATE_TEST_SUITE_P(Switches, ProgramTest, ::testing::Values(
    ProgramCase{"Version", {QStringLiteral("--version")}, 0, "2024.16.323.3021"},
    ProgramCase{"Help", {QStringLiteral("--help")}, 0, "Usage: leafpress"}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
