#include "automation/znOle.h"
#include "automation/znRegistry.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

// Records how the helpers call an object, to check the flag and argument conventions.
class TznRecordingDispatch : public IznDispatch
{
public:
    int GetIDOfName(const QString& name) override
    {
        if (name == QLatin1String("Missing"))
            throw EznError(QStringLiteral("Unknown name."));
        LastName = name;
        return 7;
    }
    TznVariant Invoke(int dispId, int flags, const QList<TznVariant>& args, const TznVariant* putValue) override
    {
        LastId = dispId;
        LastFlags = flags;
        LastArgs = args;
        HadPut = putValue != nullptr;
        if (putValue)
            PutValue = *putValue;
        return 42;
    }
    QString LastName;
    int LastId = 0, LastFlags = 0;
    QList<TznVariant> LastArgs;
    bool HadPut = false;
    TznVariant PutValue;
};

TEST(OleTest, HelpersUseTheFlagsOfTheirKind)
{
    auto obj = std::make_shared<TznRecordingDispatch>();
    const TznVariant v(obj);

    EXPECT_EQ(OleGet(v, QStringLiteral("Count")).ToInt(), 42);
    EXPECT_EQ(obj->LastFlags, ifMethod | ifPropertyGet);
    EXPECT_TRUE(obj->LastArgs.isEmpty());
    EXPECT_FALSE(obj->HadPut);

    OleCall(v, QStringLiteral("Open"), {QStringLiteral("a.docx"), TznVariant::Omitted(), false});
    EXPECT_EQ(obj->LastFlags, int(ifMethod));
    ASSERT_EQ(obj->LastArgs.size(), 3);
    EXPECT_EQ(obj->LastArgs[0].ToText(), QStringLiteral("a.docx"));
    EXPECT_TRUE(obj->LastArgs[1].IsOmitted());
    EXPECT_EQ(obj->LastId, 7);

    OlePut(v, QStringLiteral("Visible"), true);
    EXPECT_EQ(obj->LastFlags, int(ifPropertyPut));
    EXPECT_TRUE(obj->LastArgs.isEmpty());
    ASSERT_TRUE(obj->HadPut);
    EXPECT_TRUE(obj->PutValue.ToBool());
}

TEST(OleTest, UnknownNameAndNonObjectsRaise)
{
    const TznVariant v(std::make_shared<TznRecordingDispatch>());
    EXPECT_THROW(OleGet(v, QStringLiteral("Missing")), EznError);
    EXPECT_THROW(OleGet(TznVariant(), QStringLiteral("Count")), EznError);
    EXPECT_THROW(OleGet(TznVariant(3), QStringLiteral("Count")), EznError);
}

struct TznVersionRow { const char* Label; TznVariant Value; int Major; };
void PrintTo(const TznVersionRow& row, std::ostream* os) { *os << row.Label; }

class MajorVersionTest : public ::testing::TestWithParam<TznVersionRow> {};

TEST_P(MajorVersionTest, ReadsTheMajorVersion)
{
    EXPECT_EQ(MajorVersion(GetParam().Value), GetParam().Major);
}

INSTANTIATE_TEST_SUITE_P(Examples, MajorVersionTest, ::testing::Values(
    TznVersionRow{"Sixteen", TznVariant(QStringLiteral("16.0")), 16},
    TznVersionRow{"Twelve", TznVariant(QStringLiteral("12.0")), 12},
    TznVersionRow{"Eight", TznVariant(QStringLiteral("8.0")), 8},
    TznVersionRow{"DividedFrom78", TznVariant(QStringLiteral("78")), 7},
    TznVersionRow{"OneSixty", TznVariant(QStringLiteral("160")), 16},
    TznVersionRow{"KeptUpTo77", TznVariant(77), 77},
    TznVersionRow{"Omitted", TznVariant::Omitted(), 0},
    TznVersionRow{"NoNumber", TznVariant(QStringLiteral("abc")), 0},
    TznVersionRow{"Empty", TznVariant(), 0},
    TznVersionRow{"Integer", TznVariant(11), 11},
    TznVersionRow{"Double", TznVariant(15.9), 15},
    TznVersionRow{"WholeDouble", TznVariant(16.0), 16},
    TznVersionRow{"IntegerDividedFrom160", TznVariant(160), 16}),
    [](const auto& info) { return std::string(info.param.Label); });

TEST(RegistryTest, UnknownProgIdFailsWithTheClassStringText)
{
    try {
        CreateAutomationObject(QStringLiteral("WPS.Application"));
        FAIL();
    } catch (const EznError& e) {
        EXPECT_EQ(e.Message(), QStringLiteral("Invalid class string, ProgID: \"WPS.Application\""));
    }
}

TEST(RegistryTest, WordApplicationIsTheBuiltInServer)
{
    const TznVariant app = CreateAutomationObject(QStringLiteral("Word.Application"));
    ASSERT_FALSE(app.IsEmpty());
    EXPECT_GE(MajorVersion(OleGet(app, QStringLiteral("Version"))), 12);
    // Each creation is an application of its own.
    const TznVariant other = CreateAutomationObject(QStringLiteral("word.application"));
    EXPECT_NE(app.ToObject(), other.ToObject());
}

TEST(RegistryTest, RegistrationsCanBeRemovedAndRestored)
{
    RegisterAutomationClass(QStringLiteral("Word.Application"), {});
    EXPECT_THROW(CreateAutomationObject(QStringLiteral("Word.Application")), EznError);
    RegisterAutomationClass(QStringLiteral("WPS.Application"), [] { return std::make_shared<TznRecordingDispatch>(); });
    EXPECT_FALSE(CreateAutomationObject(QStringLiteral("WPS.Application")).IsEmpty());
    ResetAutomationClasses();
    EXPECT_THROW(CreateAutomationObject(QStringLiteral("WPS.Application")), EznError);
    EXPECT_NO_THROW(CreateAutomationObject(QStringLiteral("Word.Application")));
}

TEST(ServerCallTest, MembersFailWithTheSystemTexts)
{
    const TznVariant app = CreateAutomationObject(QStringLiteral("Word.Application"));
    auto messageOf = [](auto&& call) {
        try {
            call();
        } catch (const EznError& e) {
            return e.Message();
        }
        return QString();
    };
    EXPECT_EQ(messageOf([&] { OleGet(app, QStringLiteral("NoSuchMember")); }), QStringLiteral("Unknown name."));
    EXPECT_EQ(messageOf([&] { OleCall(app, QStringLiteral("Version"), {1}); }), QStringLiteral("Invalid number of parameters."));
    EXPECT_EQ(messageOf([&] { OlePut(app, QStringLiteral("Version"), QStringLiteral("1.0")); }), QStringLiteral("Member not found."));
    EXPECT_EQ(messageOf([&] { OlePut(app, QStringLiteral("WindowState"), QStringLiteral("big")); }), QStringLiteral("Type mismatch."));
    const TznVariant docs = OleGet(app, QStringLiteral("Documents"));
    EXPECT_EQ(messageOf([&] { OleCall(docs, QStringLiteral("Open"), {}); }), QStringLiteral("Invalid number of parameters."));
}

TEST(ServerCallTest, PathIsTheExecutablesFolder)
{
    const TznVariant app = CreateAutomationObject(QStringLiteral("Word.Application"));
    const QString path = OleGet(app, QStringLiteral("Path")).ToText();
    EXPECT_TRUE(QDir(path).exists());
    EXPECT_FALSE(path.endsWith(QDir::separator()));
}

} // namespace
