#include "WordFixture.h"

#include "automation/znOle.h"
#include "platform/znError.h"
#include "word/znWordOle.h"

#include "znTestDocx.h"
#include "znTestRows.h"

namespace {

// The worker's fields, for looking at them.
class TestWordOle : public TznWordOle
{
public:
    using TznWordOle::TznWordOle;
    using TznWordOle::FApp;
    using TznWordOle::FDoc;
    using TznWordOle::FVersion;
};

class WordOleTest : public WordFixture
{
protected:
    std::unique_ptr<TestWordOle> worker()
    {
        FBatch = std::make_unique<TznBatch>();
        return std::make_unique<TestWordOle>(FBatch.get(), 1, TznNodeEvent());
    }

    QString document(const char* name, bool macros = false)
    {
        TznDocxBuilder b;
        b.Paragraph(QStringLiteral("Hello"));
        if (macros)
            b.VbaProject();
        const QString file = path(QStringLiteral("in/") + QString::fromUtf8(name));
        EXPECT_TRUE(b.Save(file));
        return file;
    }
};

TEST_F(WordOleTest, StartsTheServerHiddenAndQuiet)
{
    auto w = worker();
    w->StartApplication();
    EXPECT_FALSE(w->FApp.IsEmpty());
    EXPECT_GE(w->FVersion, 12);
    EXPECT_EQ(FLog->Lines(), (QStringList{"Version()", "DisplayAlerts=0"}));
}

TEST_F(WordOleTest, AppVisibleShowsAndMinimisesTheWindow)
{
    FProject->SetOptionsText(QStringLiteral("AppVisible=True"));
    auto w = worker();
    w->StartApplication();
    EXPECT_EQ(FLog->Lines(), (QStringList{"Version()", "Visible=true", "WindowState=2", "DisplayAlerts=0"}));
}

TEST_F(WordOleTest, FallsBackToTheSecondServerAndNamesItWhenBothFail)
{
    RegisterAutomationClass(QStringLiteral("WPS.Application"), FindAutomationClass(QStringLiteral("Word.Application")));
    RegisterAutomationClass(QStringLiteral("Word.Application"), {});
    auto w = worker();
    w->StartApplication();
    EXPECT_FALSE(w->FApp.IsEmpty());
    w->QuitApplication();

    RegisterAutomationClass(QStringLiteral("WPS.Application"), {});
    try {
        w->OpenDocument(document("a.docx"));
        FAIL() << "expected an error";
    } catch (const EznError& e) {
        EXPECT_EQ(e.Message(), QStringLiteral("Invalid class string, ProgID: \"WPS.Application\""));
    }
    EXPECT_TRUE(w->FApp.IsEmpty());
    EXPECT_TRUE(w->FDoc.IsEmpty());
}

struct OpenCase
{
    const char* name;
    const char* options;
    const char* call; // %1 is the file
};

class OpenDocumentTest : public WordOleTest, public ::testing::WithParamInterface<OpenCase>
{
};

TEST_P(OpenDocumentTest, PicksTheOpenCallAndSetsThePrintOptions)
{
    const OpenCase& c = GetParam();
    FProject->SetOptionsText(QString::fromUtf8(c.options));
    const QString file = document("a.docx");
    auto w = worker();
    w->OpenDocument(file);
    EXPECT_FALSE(w->FDoc.IsEmpty());
    const QStringList lines = FLog->Lines();
    const qsizetype at = lines.indexOf(QString::fromUtf8(c.call).arg(file));
    ASSERT_GE(at, 0) << lines.join(u'\n').toStdString();
    EXPECT_EQ(lines.mid(at + 1), (QStringList{"Options()", "UpdateFieldsAtPrint=false", "UpdateLinksAtPrint=false"}));
}

INSTANTIATE_TEST_SUITE_P(Forms, OpenDocumentTest, ::testing::Values(
    OpenCase{"ThreeArguments", "", "Open(%1,<omitted>,false)"},
    OpenCase{"ReadOnly", "ReadOnly=1", "Open(%1,<omitted>,true)"},
    OpenCase{"WithPassword", "SkipPassword=True", "Open(%1,<omitted>,false,<omitted>,37)"}),
    RowName());

TEST_F(WordOleTest, SecondOpenKeepsTheFirstDocument)
{
    auto w = worker();
    const QString a = document("a.docx"), b = document("b.docx");
    w->OpenDocument(a);
    w->OpenDocument(b);
    EXPECT_EQ(FLog->Starting(QStringLiteral("Open(")).size(), 1);
    EXPECT_EQ(FLog->Starting(QStringLiteral("Open(")).first(), QStringLiteral("Open(%1,<omitted>,false)").arg(a));
}

TEST_F(WordOleTest, CloseAndQuitAreSafeToRepeat)
{
    auto w = worker();
    w->CloseDocument();
    w->QuitApplication();
    w->OpenDocument(document("a.docx"));
    w->CloseDocument();
    w->CloseDocument();
    w->QuitApplication();
    w->QuitApplication();
    EXPECT_EQ(FLog->Starting(QStringLiteral("Close(")), QStringList{"Close(false)"});
    EXPECT_EQ(FLog->Starting(QStringLiteral("Quit(")), QStringList{"Quit(false)"});
    EXPECT_TRUE(w->FApp.IsEmpty());
    EXPECT_TRUE(w->FDoc.IsEmpty());
}

TEST_F(WordOleTest, QuitsWhenTheWorkerGoesAway)
{
    auto w = worker();
    w->OpenDocument(document("a.docx"));
    w.reset();
    EXPECT_EQ(FLog->Starting(QStringLiteral("Quit(")), QStringList{"Quit(false)"});
}

TEST_F(WordOleTest, HasMacrosAsksTheDocument)
{
    auto w = worker();
    w->OpenDocument(document("m.docm", true));
    EXPECT_TRUE(w->HasMacros());
    w->CloseDocument();
    w->OpenDocument(document("plain.docx"));
    EXPECT_FALSE(w->HasMacros());
    EXPECT_EQ(FLog->Starting(QStringLiteral("HasVBProject")).size(), 2);
}

TEST_F(WordOleTest, OldServersAreTakenToKeepMacros)
{
    // A server of major version 11 is not asked: the answer is "keeps macros".
    auto log = FLog;
    RegisterAutomationClass(QStringLiteral("Word.Application"), [log]() -> std::shared_ptr<IznDispatch> {
        auto doc = std::make_shared<TznFakeObject>();
        doc->On(QStringLiteral("HasVBProject"), [log](const auto&, const auto*) { log->Add(QStringLiteral("HasVBProject()")); return TznVariant(false); });
        auto docs = std::make_shared<TznFakeObject>();
        docs->On(QStringLiteral("Open"), [doc](const auto&, const auto*) { return TznVariant(std::shared_ptr<IznDispatch>(doc)); });
        auto app = std::make_shared<TznFakeObject>();
        app->On(QStringLiteral("Version"), [](const auto&, const auto*) { return TznVariant(QStringLiteral("11.0")); })
            .On(QStringLiteral("Documents"), [docs](const auto&, const auto*) { return TznVariant(std::shared_ptr<IznDispatch>(docs)); })
            .On(QStringLiteral("Path"), [](const auto&, const auto*) { return TznVariant(QStringLiteral("C:\\Office")); });
        return app;
    });
    auto w = worker();
    w->OpenDocument(document("a.docx"));
    EXPECT_EQ(w->FVersion, 11);
    EXPECT_TRUE(w->HasMacros());
    EXPECT_TRUE(FLog->Starting(QStringLiteral("HasVBProject")).isEmpty());
    EXPECT_EQ(w->AppPath(), QStringLiteral("C:\\Office\\WINWORD.EXE"));
}

} // namespace
