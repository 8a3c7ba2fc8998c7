#include "ServerTestUtil.h"
#include "znTestBytes.h"

#include "ooxml/znWebDocument.h"

#include "znTestWebServer.h"
#include "znTestRows.h"

#include <QTemporaryFile>

namespace {

// --- documents that are no readable file ------------------------------------------------

class DocumentsAddTest : public TznServerTest {};

TEST_F(DocumentsAddTest, MissingTemplateFailsAsOpenOfTheFileDoes)
{
    const QString gone = PathOf(QStringLiteral("gone.docx"));
    const QString added = MessageOf([&] { OleCall(Documents(), QStringLiteral("Add"), {gone}); });
    EXPECT_FALSE(added.isEmpty());
    EXPECT_EQ(added, MessageOf([&] { Open(gone); }));
    EXPECT_EQ(OleGet(Documents(), QStringLiteral("Count")).ToInt(), 0);
}

TEST_F(DocumentsAddTest, ReadableTemplateGivesItsContent)
{
    TznDocxBuilder b;
    b.Paragraph(QStringLiteral("from the template"));
    b.Picture(TznTestPicture{MakeTestImage({})});
    const QString templ = PathOf(QStringLiteral("t.docx"));
    ASSERT_TRUE(b.Save(templ));
    const TznVariant doc = OleCall(Documents(), QStringLiteral("Add"), {templ});
    EXPECT_EQ(OleGet(OleGet(doc, QStringLiteral("InlineShapes")), QStringLiteral("Count")).ToInt(), 1);
}

// --- web documents ------------------------------------------------------------------------

struct WebCase
{
    const char* name;
    const char* path;     // on the test server; empty: an address nobody answers
    const char* failure;  // empty when the document opens
};

class WebOpenTest : public TznServerTest, public ::testing::WithParamInterface<WebCase>
{
protected:
    TznTestApplication FApplication;
};

TEST_P(WebOpenTest, OpensServedDocumentsAndNamesTheReasonOtherwise)
{
    const WebCase& c = GetParam();
    TznDocxBuilder b;
    b.Picture(TznTestPicture{MakeTestImage({})});
    ASSERT_TRUE(b.Save(PathOf(QStringLiteral("a.docx"))));
    ASSERT_TRUE(WriteBytes(PathOf(QStringLiteral("note.txt")), "no document"));

    TznTestWebServer server(FDir.path());
    ASSERT_TRUE(server.IsRunning());
    const QString url = *c.path ? server.Url(QString::fromUtf8(c.path)) : TznTestWebServer::UnreachableUrl("/a.docx");
    TznVariant doc;
    const QString message = MessageOf([&] { doc = Open(url); });
    if (!*c.failure) {
        EXPECT_TRUE(message.isEmpty()) << message.toStdString();
        EXPECT_EQ(OleGet(OleGet(doc, QStringLiteral("InlineShapes")), QStringLiteral("Count")).ToInt(), 1);
        return;
    }
    EXPECT_TRUE(message.startsWith(QStringLiteral("Cannot open \"%1\": ").arg(url))) << message.toStdString();
    EXPECT_TRUE(message.contains(QString::fromUtf8(c.failure), Qt::CaseInsensitive)) << message.toStdString();
    EXPECT_FALSE(message.contains(QStringLiteral("lp-web-"))) << message.toStdString();
    EXPECT_EQ(OleGet(Documents(), QStringLiteral("Count")).ToInt(), 0);
}

INSTANTIATE_TEST_SUITE_P(Addresses, WebOpenTest, ::testing::Values(
    WebCase{"Served", "/a.docx", ""},
    WebCase{"FiveRedirects", "/redirect/5/a.docx", ""},
    WebCase{"SixRedirects", "/redirect/6/a.docx", "redirect"},
    WebCase{"NotFound", "/status/404", "404 Not Found"},
    WebCase{"ServerError", "/status/500", "500 Internal Server Error"},
    WebCase{"NoDocument", "/note.txt", "damaged"},
    WebCase{"Unreachable", "", "refused"}),
    RowName());

TEST(DownloadTest, RefusesMoreThanTheLimitAndLeavesNoCopy)
{
    TznTestApplication application;
    QTemporaryDir dir;
    ASSERT_TRUE(WriteBytes(dir.filePath(QStringLiteral("big.docx")), QByteArray(5000, 'x')));
    TznTestWebServer server(dir.path());
    ASSERT_TRUE(server.IsRunning());
    const QStringList before = QDir::temp().entryList({QStringLiteral("lp-web-*")});
    TznDownloadLimits limits;
    limits.MaxSize = 4999;
    try {
        DownloadDocument(server.Url(QStringLiteral("/big.docx")), limits);
        ADD_FAILURE() << "a download over the limit was taken";
    } catch (const EznError& e) {
        EXPECT_TRUE(e.Message().contains(QStringLiteral("limit of 4999 bytes"))) << e.Message().toStdString();
    }
    EXPECT_EQ(QDir::temp().entryList({QStringLiteral("lp-web-*")}), before);
    limits.MaxSize = 5000;
    EXPECT_EQ(DownloadDocument(server.Url(QStringLiteral("/big.docx")), limits)->size(), 5000);
}

} // namespace
