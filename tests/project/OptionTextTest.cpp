#include "ProjectFixture.h"
#include "znTestRows.h"

#include <QDir>
#include <QFileInfo>
#include <QReadWriteLock>

#include <atomic>
#include <thread>

namespace {

// --- the access rules of the option text ---

struct SetCase
{
    const char* name;
    QStringList before;
    const char* key;
    const char* value;
    QStringList after;
};

class OptionSetTest : public ProjectFixture, public ::testing::WithParamInterface<SetCase>
{
};

TEST_P(OptionSetTest, ChangesOnlyTheFirstMatchingLine)
{
    const SetCase& c = GetParam();
    FProject->SetOptionsText(c.before.join(QStringLiteral("\r\n")));
    FProject->SetOption(QString::fromUtf8(c.key), QString::fromUtf8(c.value));
    EXPECT_EQ(FProject->OptionLines(), c.after);
}

INSTANTIATE_TEST_SUITE_P(Rules, OptionSetTest, ::testing::Values(
    SetCase{"ReplacesFirstInPlace", {"a=1", "Source=x", "source=y"}, "Source", "z", {"a=1", "Source=z", "source=y"}},
    SetCase{"KeySpelledAsGiven", {"source=x"}, "SOURCE", "z", {"SOURCE=z"}},
    SetCase{"AppendsWhenAbsent", {"; remark", "a=1"}, "Target", "/out", {"; remark", "a=1", "Target=/out"}},
    SetCase{"EmptyDeletesFirst", {"Target=/a", "b=2", "Target=/b"}, "Target", "", {"b=2", "Target=/b"}},
    SetCase{"EmptyOnAbsentKeyChangesNothing", {"b=2"}, "Target", "", {"b=2"}},
    SetCase{"BlankBeforeEqualsIsPartOfTheName", {"Subdir = True"}, "Subdir", "False", {"Subdir = True", "Subdir=False"}},
    SetCase{"LineWithoutEqualsNeverMatches", {"Source", "Source=a"}, "Source", "b", {"Source", "Source=b"}}),
    RowName());

struct TextCase
{
    const char* name;
    QString text;
    QStringList lines;
};

class OptionTextSplitTest : public ProjectFixture, public ::testing::WithParamInterface<TextCase>
{
};

TEST_P(OptionTextSplitTest, SplitsLinesAndStopsAtNul)
{
    FProject->SetOptionsText(GetParam().text);
    EXPECT_EQ(FProject->OptionLines(), GetParam().lines);
}

INSTANTIATE_TEST_SUITE_P(Texts, OptionTextSplitTest, ::testing::Values(
    TextCase{"MixedBreaks", QStringLiteral("a=1\rb=2\nc=3\r\nd=4"), {"a=1", "b=2", "c=3", "d=4"}},
    TextCase{"NulEndsText", QString::fromUtf16(u"a=1\r\nb=2\0c=3", 12), {"a=1", "b=2"}},
    TextCase{"BlankLinesStay", QStringLiteral("\r\na=1\r\n\r\n"), {"", "a=1", ""}}),
    RowName());

TEST_F(ProjectFixture, LookupIgnoresCaseAndTakesTheFirstLine)
{
    FProject->SetOptionsText(QStringLiteral("subdir=TRUE\r\nSOURCE=/first\r\nSource=/second\r\nx=a=b"));
    EXPECT_TRUE(FProject->Subdir());
    EXPECT_EQ(FProject->Source(), QStringLiteral("/first"));
    EXPECT_EQ(FProject->GetOption(QStringLiteral("X")), QStringLiteral("a=b"));
    EXPECT_EQ(FProject->GetOption(QStringLiteral("missing")), QString());
    EXPECT_EQ(FProject->OptionsText(), QStringLiteral("subdir=TRUE\r\nSOURCE=/first\r\nSource=/second\r\nx=a=b\r\n"));
}

// --- typed readings ---

struct TypedCase
{
    const char* name;
    const char* text;
    std::function<QString(const TznProject&)> read;
    const char* expected;
};

QString b(bool v) { return v ? QStringLiteral("true") : QStringLiteral("false"); }
QString overwriteName(TznOverwrite o)
{
    switch (o) {
    case TznOverwrite::Skip: return QStringLiteral("skip");
    case TznOverwrite::Overwrite: return QStringLiteral("overwrite");
    case TznOverwrite::Rename: return QStringLiteral("rename");
    }
    return {};
}

class TypedReadTest : public ProjectFixture, public ::testing::WithParamInterface<TypedCase>
{
};

TEST_P(TypedReadTest, ConvertsOrFallsBackToTheDefault)
{
    FProject->SetOptionsText(QString::fromUtf8(GetParam().text));
    EXPECT_EQ(GetParam().read(*FProject), QString::fromUtf8(GetParam().expected)) << GetParam().text;
}

const auto subdir = [](const TznProject& p) { return b(p.Subdir()); };
const auto threads = [](const TznProject& p) { return QString::number(p.ThreadsCount()); };
const auto overwrite = [](const TznProject& p) { return overwriteName(p.IsOverwrite()); };
const auto runAndClose = [](const TznProject& p) { return b(p.RunAndClose()); };
const auto verify = [](const TznProject& p) {
    return p.Verify() == TznVerify::Auto ? QStringLiteral("auto") : b(p.Verify() == TznVerify::On);
};
const auto verifyPsnr = [](const TznProject& p) { return QString::number(p.VerifyPsnr()); };

INSTANTIATE_TEST_SUITE_P(Options, TypedReadTest, ::testing::Values(
    TypedCase{"BoolUpperTrue", "subdir=TRUE", subdir, "true"},
    TypedCase{"BoolNumber", "Subdir=2", subdir, "true"},
    TypedCase{"BoolZeroWithBlanks", "Subdir= 0 ", subdir, "false"},
    TypedCase{"BoolFraction", "Subdir=0.5", subdir, "true"},
    TypedCase{"BoolFalseWord", "Subdir=false", subdir, "false"},
    TypedCase{"BoolGarbageGivesDefault", "Subdir=yes", subdir, "false"},
    TypedCase{"BoolBlankNameNotTheKey", "Subdir = True", subdir, "false"},
    TypedCase{"KeepSubdirsDefault", "", [](const TznProject& p) { return b(p.KeepTargetSubdirs()); }, "true"},
    TypedCase{"DocToDocxDefault", "", [](const TznProject& p) { return b(p.DocToDocx()); }, "true"},
    TypedCase{"IntDefault", "", threads, "1"},
    TypedCase{"IntZero", "ThreadsCount=0", threads, "0"},
    TypedCase{"IntGarbage", "ThreadsCount=abc", threads, "1"},
    TypedCase{"IntLeadingBlanks", "ThreadsCount=  4", threads, "4"},
    TypedCase{"IntTrailingBlank", "ThreadsCount=4 ", threads, "1"},
    TypedCase{"IntSign", "ThreadsCount=-3", threads, "-3"},
    TypedCase{"IntDollarHex", "ThreadsCount=$10", threads, "16"},
    TypedCase{"IntZeroXHex", "ThreadsCount=0x1F", threads, "31"},
    TypedCase{"IntOverflow", "ThreadsCount=99999999999", threads, "1"},
    TypedCase{"IntFraction", "ThreadsCount=2.5", threads, "1"},
    TypedCase{"TypeDefault", "", [](const TznProject& p) { return QString::number(p.Type()); }, "13"},
    TypedCase{"ResolutionDefault", "", [](const TznProject& p) { return QString::number(p.Resolution()); }, "150"},
    TypedCase{"QualityDefault", "", [](const TznProject& p) { return QString::number(p.Quality()); }, "85"},
    TypedCase{"OverwriteSkipAnyCase", "IsOverwrite=SKIP", overwrite, "skip"},
    TypedCase{"OverwriteOne", "IsOverwrite=1", overwrite, "overwrite"},
    TypedCase{"OverwriteTrue", "IsOverwrite=true", overwrite, "overwrite"},
    TypedCase{"OverwriteYes", "IsOverwrite=yes", overwrite, "rename"},
    TypedCase{"OverwriteZero", "IsOverwrite=0", overwrite, "rename"},
    TypedCase{"OverwriteAbsent", "", overwrite, "rename"},
    TypedCase{"RunAndCloseByDaemon", "Daemon=500", runAndClose, "true"},
    TypedCase{"RunAndCloseByConsole", "PureConsole=True", runAndClose, "true"},
    TypedCase{"RunAndCloseOwnKey", "RunAndClose=1", runAndClose, "true"},
    TypedCase{"RunAndCloseNegativeDaemon", "Daemon=-5", runAndClose, "false"},
    TypedCase{"RunAndCloseNone", "", runAndClose, "false"},
    TypedCase{"VerifyDefault", "", verify, "auto"},
    TypedCase{"VerifyAutoAnyCase", "Verify=AUTO", verify, "auto"},
    TypedCase{"VerifyGarbageIsAuto", "Verify=sometimes", verify, "auto"},
    TypedCase{"VerifyTrue", "Verify=True", verify, "true"},
    TypedCase{"VerifyZero", "Verify=0", verify, "false"},
    TypedCase{"VerifyPsnrDefault", "", verifyPsnr, "30"},
    TypedCase{"VerifyPsnrFraction", "VerifyPsnr=27.5", verifyPsnr, "27.5"},
    TypedCase{"VerifyPsnrOutOfRange", "VerifyPsnr=120", verifyPsnr, "30"}),
    RowName());

TEST_F(ProjectFixture, TargetFolderCreatesTheFolderAndEndsWithADelimiter)
{
    const QString target = path("out/deep");
    FProject->SetOption(QStringLiteral("Target"), target);
    EXPECT_EQ(FProject->TargetFolder(), target + u'/');
    EXPECT_TRUE(QFileInfo(target).isDir());
    FProject->SetOption(QStringLiteral("Target"), target + u'/');
    EXPECT_EQ(FProject->TargetFolder(), target + u'/');
}

TEST_F(ProjectFixture, EmptyTargetFolderIsEmptyAndCreatesNothing)
{
    const QStringList before = QDir::current().entryList();
    EXPECT_EQ(FProject->TargetFolder(), QString());
    EXPECT_EQ(QDir::current().entryList(), before);
}

// --- readers on other threads while the main thread replaces the text ---

TEST_F(ProjectFixture, ReadsDuringReplacementsSeeOneWholeText)
{
    // Two texts whose lines agree with each other; a reader must see one or
    // the other, never a mixture or a half-built list.
    QStringList a, bLines;
    for (int i = 0; i < 200; ++i) {
        a << QStringLiteral("k%1=a").arg(i);
        bLines << QStringLiteral("k%1=b").arg(i);
    }
    const QString textA = a.join(QStringLiteral("\r\n"));
    const QString textB = bLines.join(QStringLiteral("\r\n"));
    FProject->SetOptionsText(textA);

    std::atomic<bool> stop{false};
    std::atomic<int> bad{0};
    std::atomic<long> reads{0};
    std::vector<std::thread> readers;
    for (int t = 0; t < 3; ++t)
        readers.emplace_back([&] {
            while (!stop) {
                const QStringList lines = FProject->OptionLines();
                if (lines.size() != 200) {
                    ++bad;
                    continue;
                }
                const QChar first = lines.first().back();
                for (const QString& line : lines)
                    if (line.back() != first)
                        ++bad;
                const QString v = FProject->GetOption(QStringLiteral("k199"));
                if (v != QStringLiteral("a") && v != QStringLiteral("b"))
                    ++bad;
                ++reads;
            }
        });
    for (int i = 0; i < 3000; ++i) {
        FProject->SetOptionsText(i % 2 ? textA : textB);
        FProject->SetOption(QStringLiteral("k199"), i % 2 ? QStringLiteral("a") : QStringLiteral("b"));
    }
    stop = true;
    for (auto& r : readers)
        r.join();
    EXPECT_EQ(bad.load(), 0);
    EXPECT_GT(reads.load(), 0);
}

} // namespace
