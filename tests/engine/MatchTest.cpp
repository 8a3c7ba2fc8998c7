#include "engine/VBScriptRegex.h"
#include "engine/znBatch.h"
#include "engine/znMatch.h"

#include "znTestRows.h"

#include <gtest/gtest.h>

#include <set>

namespace {

struct MaskRow
{
    const char* name;
    const char* mask;
    const char* pattern;
};

class MaskToPatternTest : public testing::TestWithParam<MaskRow> {};

TEST_P(MaskToPatternTest, ConvertsInStepOrder)
{
    EXPECT_EQ(MaskToPattern(QString::fromUtf8(GetParam().mask)), QString::fromUtf8(GetParam().pattern));
}

INSTANTIATE_TEST_SUITE_P(Masks, MaskToPatternTest,
                         testing::Values(MaskRow{"QuestionMarkIsOptional", "*.doc?", ".*\\.doc.?$"},
                                         MaskRow{"StarIsAnyRun", "*.doc", ".*\\.doc$"},
                                         MaskRow{"PlusAndBracketsEscaped", "a+b(1).doc", "a\\+b\\(1\\)\\.doc$"},
                                         MaskRow{"EmptyMatchesAll", "", "$"},
                                         MaskRow{"AnchorsAndClassesEscaped", "^x$[a]{2}", "\\^x\\$\\[a\\]\\{2\\}$"},
                                         MaskRow{"SeparatorsKept", "a\\b|c;d,e", "a\\b|c;d,e$"}),
                         RowName());

TEST(MaskToPatternTest, RefusesMaskLongerThanAnyFileName)
{
    const QString longest(MaxMaskLength, u'?');
    EXPECT_EQ(MaskToPattern(longest).size(), 2 * MaxMaskLength + 1);
    try {
        MaskToPattern(longest + u'*');
        FAIL() << "a mask of 256 characters was taken";
    } catch (const EznError& e) {
        EXPECT_EQ(e.Message(), "The file mask has 256 characters, more than the 255 a file name may have");
    }
}

struct NameRow
{
    const char* name;
    const char* path;
    const char* pattern; // a mask when mask is true, else an expression
    bool mask;
    bool accepted;
};

class MatchNameTest : public testing::TestWithParam<NameRow> {};

TEST_P(MatchNameTest, AcceptsOrRefuses)
{
    const NameRow& row = GetParam();
    const QString pattern = row.mask ? MaskToPattern(QString::fromUtf8(row.pattern)) : QString::fromUtf8(row.pattern);
    TznMatch matcher;
    EXPECT_EQ(matcher.MatchName(QString::fromUtf8(row.path), pattern), row.accepted) << row.path << " " << row.pattern;
}

INSTANTIATE_TEST_SUITE_P(
    Paths, MatchNameTest,
    testing::Values(NameRow{"DocMatchesDocQ", "C:\\in\\a.doc", "*.doc?", true, true},
                    NameRow{"CapitalsMatch", "C:\\in\\B.DOCX", "*.doc?", true, true},
                    NameRow{"DocmMatchesDocQ", "C:\\in\\c.docm", "*.doc?", true, true},
                    NameRow{"LaterExtensionRefused", "C:\\in\\d.doc.bak", "*.doc?", true, false},
                    NameRow{"TwoExtraLettersRefused", "C:\\in\\e.docxx", "*.doc?", true, false},
                    NameRow{"DocxRefusedByDoc", "C:\\in\\a.docx", "*.doc", true, false},
                    NameRow{"MaskMatchesFolderPart", "C:\\rep\\x.doc", "rep*.doc", true, true},
                    NameRow{"MaskMissesOtherFolder", "C:\\in\\a.doc", "rep*.doc", true, false},
                    NameRow{"EmptyMaskTakesAll", "/home/u/any thing", "", true, true},
                    // A name ending in a line break is not at the end of the input.
                    NameRow{"TrailingLineBreakRefused", "C:\\in\\a.doc\n", "*.doc", true, false},
                    NameRow{"ExpressionIgnoresCase", "C:\\in\\OLD\\a.doc", "\\\\old\\\\", false, true},
                    NameRow{"ExpressionMisses", "C:\\in\\a.doc", "\\\\old\\\\", false, false},
                    NameRow{"UnclosedGroupTakesFile", "C:\\in\\a.doc", "(", false, true},
                    NameRow{"UnclosedRangeTakesFile", "C:\\in\\a.doc", "[a-", false, true},
                    NameRow{"NothingToRepeatTakesFile", "C:\\in\\a.doc", "*x", false, true}),
    RowName());

struct SyntaxRow
{
    const char* name;
    const char* pattern;
    int number;
};

class RegexSyntaxErrorTest : public testing::TestWithParam<SyntaxRow> {};

TEST_P(RegexSyntaxErrorTest, RaisesTheEngineNumber)
{
    auto re = Regex::Compile(QString::fromUtf8(GetParam().pattern), 0);
    try {
        re->IsMatch(QStringLiteral("abc"));
        FAIL() << "no error for " << GetParam().pattern;
    } catch (const ERegexException& e) {
        EXPECT_EQ(e.ErrorCode & 0xFFFF, GetParam().number);
        EXPECT_EQ(static_cast<uint32_t>(e.ErrorCode) & 0xFFFF0000u, 0x800A0000u);
        EXPECT_EQ(e.Message(), VBScriptErrorMessage(e.ErrorCode));
    }
}

INSTANTIATE_TEST_SUITE_P(Patterns, RegexSyntaxErrorTest,
                         testing::Values(SyntaxRow{"LoneOpenParen", "(", 5020}, SyntaxRow{"UnclosedGroup", "a(b", 5020},
                                         SyntaxRow{"UnclosedClass", "[ab", 5019},
                                         SyntaxRow{"LeadingStar", "*a", 5018}, SyntaxRow{"PlusAfterBar", "a|+", 5018},
                                         SyntaxRow{"ReversedRange", "[z-a]", 5021},
                                         SyntaxRow{"UnopenedParen", "a)", 5017}),
                         RowName());

TEST(RegexTest, OverlongExpressionRaisesOutOfStringSpace)
{
    const QString pattern(MaxPatternLength + 1, u'a');
    EXPECT_FALSE(Regex::IsMatch(pattern.left(MaxPatternLength), 0, QStringLiteral("b")));
    try {
        Regex::IsMatch(pattern, 0, pattern);
        FAIL() << "an expression of " << pattern.size() << " characters was compiled";
    } catch (const ERegexException& e) {
        EXPECT_EQ(e.ErrorCode, VBScriptErrorCode(14));
        EXPECT_EQ(e.Message(), "Out of string space");
    }
    // As RegExt it is an invalid expression: the file is taken.
    EXPECT_TRUE(TznMatch().MatchName(QStringLiteral("/in/a.doc"), pattern));
}

TEST(RegexTest, ErrorTableHoldsEveryNumberOnce)
{
    std::set<int> numbers;
    for (const auto& row : VBScriptErrors)
        numbers.insert(row.Number);
    EXPECT_EQ(numbers.size(), 43u);
    EXPECT_EQ(VBScriptErrorMessage(VBScriptErrorCode(5019)), QStringLiteral("Expected ']' in regular expression"));
    EXPECT_EQ(VBScriptErrorMessage(VBScriptErrorCode(438)), QStringLiteral("Object doesn't support this property or method"));
    EXPECT_TRUE(VBScriptErrorMessage(VBScriptErrorCode(1234)).isEmpty());
}

TEST(RegexTest, ReplaceRemovesTheFileSchemeWithCaseCounting)
{
    EXPECT_EQ(Regex::Replace("^file:/*", "file:///C:/x.doc", "", 0), "C:/x.doc");
    EXPECT_EQ(Regex::Replace("^file:/*", "FILE:///C:/x.doc", "", 0), "FILE:///C:/x.doc");
    EXPECT_EQ(Regex::Replace("^file:/*", "FILE:///C:/x.doc", "", roIgnoreCase), "C:/x.doc");
}

TEST(RegexTest, DollarEndsInputUnlessMultiline)
{
    EXPECT_FALSE(Regex::IsMatch("b$", 0, "ab\n"));
    EXPECT_TRUE(Regex::IsMatch("b$", roMultiline, "ab\ncd"));
    EXPECT_FALSE(Regex::IsMatch("b$", 0, "ab\ncd"));
    // Inside a class or escaped, "$" is a plain character.
    EXPECT_TRUE(Regex::IsMatch("a[$]b", 0, "a$b"));
    EXPECT_TRUE(Regex::IsMatch("a\\$b", 0, "a$b"));
    EXPECT_FALSE(Regex::IsMatch("[]", 0, "[]"));
    EXPECT_TRUE(Regex::IsMatch("a[^]b", 0, "a\nb"));
}

TEST(RegexTest, MatchesGiveValuesPositionsAndGroups)
{
    auto re = Regex::Compile("(\\d)(x)?", 0);
    EXPECT_EQ(re->Pattern(), "(\\d)(x)?");
    EXPECT_FALSE(re->IgnoreCase());
    auto all = re->Matches("a1x b2 c3x");
    ASSERT_EQ(all->Count(), 3);
    EXPECT_EQ(all->Item(1)->Value(), "2");
    EXPECT_EQ(all->Item(1)->FirstIndex(), 5);
    EXPECT_EQ(all->Item(2)->Length(), 2);
    auto groups = all->Item(1)->SubMatches();
    ASSERT_EQ(groups->Count(), 2);
    EXPECT_EQ(groups->Item(0).toString(), "2");
    EXPECT_FALSE(groups->Item(1).isValid());
    EXPECT_EQ(re->Match("a1x b2")->Count(), 1);
    EXPECT_EQ(re->Match("none")->Count(), 0);
    EXPECT_THROW(all->Item(3), ERegexException);
}

TEST(RegexTest, ReplacementReferences)
{
    auto re = Regex::Compile("(\\w+)@(\\w+)", 0);
    EXPECT_EQ(re->Replace("a@b c@d", "$2@$1"), "b@a c@d");
    EXPECT_EQ(re->ReplaceAll("a@b c@d", "$2@$1"), "b@a d@c");
    EXPECT_EQ(re->Replace("x a@b y", "[$&|$`|$'|$$|$9]"), "x [a@b|x | y|$|$9] y");
    EXPECT_EQ(Regex::Compile("o", roIgnoreCase)->ReplaceAll("fOo", ""), "f");
    EXPECT_EQ(Regex::Compile("x*", 0)->ReplaceAll("ab", "-"), "-a-b-");
}

} // namespace
