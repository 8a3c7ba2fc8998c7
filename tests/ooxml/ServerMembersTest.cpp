#include "ServerTestUtil.h"
#include "znTestRows.h"

#include <functional>
#include <string>

namespace {

// One call on a fresh application: the text of its result, or the message it fails with.
struct TznMemberRow
{
    std::string name;
    std::function<QString(const TznVariant& app)> call;
    const char* expected;
};

TznVariant newDocument(const TznVariant& app)
{
    return OleCall(OleGet(app, QStringLiteral("Documents")), QStringLiteral("Add"));
}

TznVariant options(const TznVariant& app) { return OleGet(app, QStringLiteral("Options")); }

class ServerMembersTest : public TznServerTest, public ::testing::WithParamInterface<TznMemberRow> {};

TEST_P(ServerMembersTest, CallsAreCheckedAgainstTheirMember)
{
    QString outcome;
    try {
        outcome = GetParam().call(FApp);
    } catch (const EznError& e) {
        outcome = e.Message();
    }
    EXPECT_EQ(outcome, QString::fromUtf8(GetParam().expected));
}

INSTANTIATE_TEST_SUITE_P(Calls, ServerMembersTest, ::testing::Values(
    TznMemberRow{"NameInAnyLetterCase", [](const TznVariant& app) {
        return OleGet(app, QStringLiteral("vERSION")).ToText();
    }, "16.0"},
    TznMemberRow{"PropertyCalledAsMethod", [](const TznVariant& app) {
        return OleCall(app, QStringLiteral("Name")).ToText();
    }, "Leafpress document server"},
    TznMemberRow{"PutOfMethod", [](const TznVariant& app) {
        OlePut(app, QStringLiteral("Quit"), 1);
        return QString();
    }, "Member not found."},
    TznMemberRow{"MethodWithTooManyArguments", [](const TznVariant& app) {
        return OleCall(app, QStringLiteral("Quit"), {1, 2, 3, 4}).ToText();
    }, "Invalid number of parameters."},
    TznMemberRow{"RequiredArgumentOmitted", [](const TznVariant& app) {
        return OleCall(OleGet(app, QStringLiteral("Documents")), QStringLiteral("Open"), {TznVariant::Omitted()}).ToText();
    }, "Parameter not found."},
    TznMemberRow{"OptionPutIsReadBack", [](const TznVariant& app) {
        OlePut(options(app), QStringLiteral("PictureResolution"), 300);
        return OleGet(options(app), QStringLiteral("pictureresolution")).ToText();
    }, "300"},
    TznMemberRow{"OptionOutOfRange", [](const TznVariant& app) {
        OlePut(options(app), QStringLiteral("PictureQuality"), 101);
        return QString();
    }, "Value out of range."},
    TznMemberRow{"OptionKeptAfterRefusedPut", [](const TznVariant& app) {
        try {
            OlePut(options(app), QStringLiteral("PictureQuality"), 0);
        } catch (const EznError&) {
            // The refusal is the row before; this one reads what stayed.
        }
        return OleGet(options(app), QStringLiteral("PictureQuality")).ToText();
    }, "85"},
    TznMemberRow{"ItemPastTheEnd", [](const TznVariant& app) {
        return OleCall(OleGet(newDocument(app), QStringLiteral("Shapes")), QStringLiteral("Item"), {1}).ToText();
    }, "The requested member of the collection does not exist."},
    TznMemberRow{"StoryTypesOfNewDocument", [](const TznVariant& app) {
        return OleGet(OleGet(newDocument(app), QStringLiteral("StoryRanges")), QStringLiteral("Count")).ToText();
    }, "1"},
    TznMemberRow{"ClosedDocumentFailsEvenAMalformedCall", [](const TznVariant& app) {
        const TznVariant doc = newDocument(app);
        OleCall(doc, QStringLiteral("Close"));
        OlePut(doc, QStringLiteral("Name"), QStringLiteral("x"));
        return QString();
    }, "Object has been deleted."},
    TznMemberRow{"ShapesOfClosedDocument", [](const TznVariant& app) {
        const TznVariant doc = newDocument(app);
        const TznVariant shapes = OleGet(doc, QStringLiteral("InlineShapes"));
        OleCall(doc, QStringLiteral("Close"));
        return OleGet(shapes, QStringLiteral("Count")).ToText();
    }, "Object has been deleted."}),
    RowName());

} // namespace
