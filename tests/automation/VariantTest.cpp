#include "automation/znVariant.h"

#include <gtest/gtest.h>

namespace {

struct TznConversionRow
{
    const char* Label;
    TznVariant Value;
    bool BoolOk; bool Bool;
    bool IntOk; int Int;
    const char* Text; // nullptr when the text conversion fails
};
void PrintTo(const TznConversionRow& row, std::ostream* os) { *os << row.Label; }


class VariantConversionTest : public ::testing::TestWithParam<TznConversionRow> {};

TEST_P(VariantConversionTest, ConvertsAsAutomationDoes)
{
    const TznConversionRow& row = GetParam();
    if (row.BoolOk)
        EXPECT_EQ(row.Value.ToBool(), row.Bool);
    else
        EXPECT_THROW(row.Value.ToBool(), EznError);
    if (row.IntOk)
        EXPECT_EQ(row.Value.ToInt(), row.Int);
    else
        EXPECT_THROW(row.Value.ToInt(), EznError);
    if (row.Text)
        EXPECT_EQ(row.Value.ToText(), QString::fromUtf8(row.Text));
    else
        EXPECT_THROW(row.Value.ToText(), EznError);
}

INSTANTIATE_TEST_SUITE_P(Kinds, VariantConversionTest, ::testing::Values(
    TznConversionRow{"Empty", TznVariant(), true, false, true, 0, ""},
    TznConversionRow{"True", TznVariant(true), true, true, true, -1, "True"},
    TznConversionRow{"IntZero", TznVariant(0), true, false, true, 0, "0"},
    TznConversionRow{"DoubleHalfEven", TznVariant(2.5), true, true, true, 2, "2.5"},
    TznConversionRow{"DoubleRoundsUp", TznVariant(99.9), true, true, true, 100, "99.9"},
    TznConversionRow{"TextNumber", TznVariant(QStringLiteral(" 16.0 ")), true, true, true, 16, " 16.0 "},
    TznConversionRow{"TextFalse", TznVariant(QStringLiteral("false")), true, false, false, 0, "false"},
    TznConversionRow{"TextWord", TznVariant(QStringLiteral("abc")), false, false, false, 0, "abc"},
    TznConversionRow{"Omitted", TznVariant::Omitted(), false, false, false, 0, nullptr},
    TznConversionRow{"NullObject", TznVariant(std::shared_ptr<IznDispatch>()), false, false, false, 0, nullptr}),
    [](const auto& info) { return std::string(info.param.Label); });

TEST(VariantTest, TypeMismatchCarriesTheSystemText)
{
    try {
        TznVariant(QStringLiteral("x")).ToInt();
        FAIL();
    } catch (const EznError& e) {
        EXPECT_EQ(e.Message(), QStringLiteral("Type mismatch."));
    }
}

TEST(VariantTest, EmptinessOfObjects)
{
    EXPECT_TRUE(TznVariant().IsEmpty());
    EXPECT_TRUE(TznVariant(std::shared_ptr<IznDispatch>()).IsEmpty());
    EXPECT_FALSE(TznVariant(0).IsEmpty());
    EXPECT_FALSE(TznVariant::Omitted().IsEmpty());
    EXPECT_THROW(TznVariant(std::shared_ptr<IznDispatch>()).ToObject(), EznError);
    EXPECT_THROW(TznVariant(1).ToObject(), EznError);
}

TEST(VariantTest, NarrowingOverflowRaises)
{
    EXPECT_THROW(TznVariant(3e10).ToInt(), EznError);
}

} // namespace
