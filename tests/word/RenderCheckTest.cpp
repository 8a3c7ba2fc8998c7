#include "WordFixture.h"

#include "lodoc/znLegacyOffice.h"
#include "word/znDocslim.h"
#include "word/znRenderCheck.h"

#include "znTestDocx.h"
#include "znTestRequire.h"
#include "znTestRows.h"

#include <QFileInfo>
#include <QtEndian>

#include <atomic>
#include <functional>
#include <thread>

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// The header of an Embedded OpenType font (version 2.1) with its font data, as a legacy
// document stores an embedded font.
QByteArray eotFont()
{
    const QByteArray data(64, '\x11');
    QByteArray header(36, '\0');
    qToLittleEndian<quint32>(quint32(header.size() + data.size()), header.data());
    qToLittleEndian<quint32>(quint32(data.size()), header.data() + 4);
    qToLittleEndian<quint32>(0x00020001, header.data() + 8);
    qToLittleEndian<quint32>(400, header.data() + 28);
    qToLittleEndian<quint16>(0x504C, header.data() + 34);
    return header + data;
}

// A compound file's signature, then filler full of the magic number's bytes and font at
// offset (none when negative).
QByteArray compoundWithFontAt(qsizetype offset, const QByteArray& font = eotFont())
{
    QByteArray bytes = QByteArray::fromHex("D0CF11E0A1B11AE1") + QByteArray("LP").repeated(offset < 0 ? 2048 : (offset - 8) / 2);
    if (offset >= 0 && bytes.size() < offset)
        bytes += 'x';
    return offset < 0 ? bytes : bytes + font + QByteArray(512, 'P');
}

// A package whose font table embeds faces (for example "embedRegular embedBold").
QByteArray packageEmbedding(const QStringList& faces)
{
    TznDocxBuilder builder;
    builder.Paragraph(QStringLiteral("Text"));
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("a.docx"));
    if (!builder.Save(file))
        return {};
    QString table = QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>"
                                   "<w:fonts xmlns:w=\"http://schemas.openxmlformats.org/wordprocessingml/2006/main\" "
                                   "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\">"
                                   "<w:font w:name=\"Calibri\"><w:family w:val=\"swiss\"/>");
    for (const QString& face : faces)
        table += QStringLiteral("<w:%1 r:id=\"rId%2\" w:fontKey=\"{00000000-0000-0000-0000-000000000000}\"/>").arg(face).arg(table.size());
    table += QStringLiteral("</w:font></w:fonts>");
    QList<QPair<QString, QByteArray>> entries;
    for (const TznZipEntry& e : ReadZipEntries(file))
        entries.append({e.Name, e.Content});
    entries.append({QStringLiteral("word/fontTable.xml"), table.toUtf8()});
    if (!WriteZip(file, entries))
        return {};
    return ReadBytes(file);
}

struct FontCountCase
{
    const char* name;
    std::function<QByteArray()> bytes;
    int fonts;
};

class EmbeddedFontCountTest : public ::testing::TestWithParam<FontCountCase>
{
};

// Fonts are no pixels: the check counts them in either format, across the blocks a
// legacy file is read in, and nothing that merely resembles one.
TEST_P(EmbeddedFontCountTest, CountsTheFontsEachFormatEmbeds)
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("document"));
    ASSERT_TRUE(WriteBytes(file, GetParam().bytes()));
    EXPECT_EQ(EmbeddedFontCount(file), GetParam().fonts);
}

INSTANTIATE_TEST_SUITE_P(Files, EmbeddedFontCountTest, ::testing::Values(
    FontCountCase{"PackageFaces", [] { return packageEmbedding({QStringLiteral("embedRegular"), QStringLiteral("embedBold"),
                                                               QStringLiteral("embedBoldItalic")}); }, 3},
    FontCountCase{"PackageWithoutEmbeds", [] { return packageEmbedding({QStringLiteral("sig")}); }, 0},
    FontCountCase{"CompoundWithFont", [] { return compoundWithFontAt(4096); }, 1},
    FontCountCase{"CompoundWithTwoFonts", [] { return compoundWithFontAt(4096, eotFont() + eotFont()); }, 2},
    FontCountCase{"FontAcrossReadBlocks", [] { return compoundWithFontAt((qsizetype(1) << 20) - 20); }, 1},
    FontCountCase{"MagicAtTheStartOfABlock", [] { return compoundWithFontAt((qsizetype(1) << 20) - 34); }, 1},
    FontCountCase{"FontLongerThanTheFile", [] {
        QByteArray font = eotFont();
        qToLittleEndian<quint32>(0x7FFFFFFF, font.data());
        return compoundWithFontAt(4096, font);
    }, 0},
    FontCountCase{"CompoundWithoutFont", [] { return compoundWithFontAt(-1); }, 0},
    FontCountCase{"FontInNoDocument", [] { return QByteArray(4096, 'x') + eotFont(); }, 0}),
    RowName());

// A package of paragraphs, a page break before each but the first of pages.
QByteArray packageOfPages(const QStringList& pages)
{
    TznDocxBuilder builder;
    for (qsizetype i = 0; i < pages.size(); ++i) {
        if (i > 0)
            builder.Body(QStringLiteral("<w:p><w:r><w:br w:type=\"page\"/></w:r></w:p>"));
        for (int line = 0; line < 15; ++line)
            builder.Paragraph(pages[i]);
    }
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("a.docx"));
    return builder.Save(file) ? ReadBytes(file) : QByteArray();
}

struct DifferenceCase
{
    const char* name;
    std::function<QByteArray()> source, result;
    bool render;
    const char* says;  // what follows "kept as it was: ", or empty when the result may stand
};

class ResultDifferenceTest : public ::testing::TestWithParam<DifferenceCase>
{
};

// The reasons a result is thrown away, each in the words of its result line.
TEST_P(ResultDifferenceTest, SaysWhyTheResultMustNotStand)
{
    const DifferenceCase& c = GetParam();
    LP_SKIP_UNLESS(!c.render || !TznLegacyOffice::InstalledProgram().isEmpty()) << "LibreOffice is not installed";
    QTemporaryDir dir;
    const QString source = dir.filePath(QStringLiteral("source.docx")), result = dir.filePath(QStringLiteral("result.docx"));
    ASSERT_TRUE(WriteBytes(source, c.source()));
    ASSERT_TRUE(WriteBytes(result, c.result()));
    const QString says = ResultDifference(source, result, c.render, 30, source, result);
    TznLegacyOffice::OfThisThread().Quit();
    EXPECT_TRUE(QString::fromUtf8(c.says).isEmpty() ? says.isEmpty() : says.startsWith(QString::fromUtf8(c.says))) << says.toStdString();
}

const QString kLine = QStringLiteral("The quick brown fox jumps over the lazy dog, again and again.");
const QString kOther = QStringLiteral("WWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWWW");

INSTANTIATE_TEST_SUITE_P(Pairs, ResultDifferenceTest, ::testing::Values(
    DifferenceCase{"SamePages", [] { return packageOfPages({kLine, kLine}); }, [] { return packageOfPages({kLine, kLine}); }, true, ""},
    DifferenceCase{"OneMorePage", [] { return packageOfPages({kLine}); }, [] { return packageOfPages({kLine, kLine}); }, true,
                   "2 pages instead of 1"},
    DifferenceCase{"SecondPageDiffers", [] { return packageOfPages({kLine, kLine}); }, [] { return packageOfPages({kLine, kOther}); },
                   true, "page 2 would look different, "},
    DifferenceCase{"FewerFonts", [] { return packageEmbedding({QStringLiteral("embedRegular"), QStringLiteral("embedItalic")}); },
                   [] { return packageEmbedding({QStringLiteral("embedRegular")}); }, false, "1 embedded font instead of 2"},
    DifferenceCase{"AsManyFonts", [] { return packageEmbedding({QStringLiteral("embedRegular")}); },
                   [] { return packageEmbedding({QStringLiteral("embedBold")}); }, false, ""}),
    RowName());

struct CheckCase
{
    const char* name;
    const char* options;
    const char* corpusDoc;  // a corpus document, else a built package with a picture to compact
    bool appendFont;        // an embedded font after the document's bytes, which LibreOffice drops
    const char* kept;       // what the result line says after "kept as it was: ", or none
    bool rendered;          // the thread's LibreOffice instance ran for the check
};

class RenderCheckTest : public WordFixture, public ::testing::WithParamInterface<CheckCase>
{
};

// A result replaces its target only when it looks like its source: otherwise the source's
// bytes are what the target holds, and the line says why. Auto renders what went through
// LibreOffice only.
TEST_P(RenderCheckTest, KeepsTheSourceWhereTheResultWouldLookDifferent)
{
    const CheckCase& c = GetParam();
    LP_SKIP_UNLESS(!TznLegacyOffice::InstalledProgram().isEmpty() && !CorpusDir().isEmpty()) << "LibreOffice or the corpus is missing";
    FProject->SetOptionsText(QString::fromUtf8(c.options));
    QString source;
    if (c.corpusDoc) {
        source = path(QStringLiteral("in/") + QFileInfo(QString::fromUtf8(c.corpusDoc)).fileName());
        QByteArray bytes = ReadBytes(CorpusDir() + u'/' + QString::fromUtf8(c.corpusDoc));
        ASSERT_FALSE(bytes.isEmpty());
        ASSERT_TRUE(WriteBytes(source, c.appendFont ? bytes + eotFont() : bytes));
    } else {
        const TznTestPicture picture = TestJpegPicture(1600, 1200, 3 * kEmuPerInch, qint64(2.25 * kEmuPerInch));
        TznDocxBuilder builder;
        builder.Paragraph(QStringLiteral("A photograph shown far below its size."));
        builder.Picture(picture);
        source = path(QStringLiteral("in/photo.docx"));
        ASSERT_TRUE(builder.Save(source));
    }
    TznLegacyOffice::OfThisThread().Quit();

    TznNode* node = batchOf(source);
    {
        TznDocslim converter(FBatch.get(), 1, TznNodeEvent());
        converter.ConvertFile(FBatch.get(), node);
        EXPECT_EQ(TznLegacyOffice::OfThisThread().IsRunning(), c.rendered || c.corpusDoc);
    }
    TznLegacyOffice::OfThisThread().Quit();
    const QString target = path(QStringLiteral("out/") + QFileInfo(source).fileName());
    ASSERT_EQ(node->Status, nsSuccess) << node->Message.toStdString();
    if (c.kept) {
        EXPECT_EQ(ReadBytes(target), ReadBytes(source));
        EXPECT_TRUE(node->Message.startsWith(QStringLiteral("[99%] ") + target + QStringLiteral(" (kept as it was: ")
                                             + QString::fromUtf8(c.kept)))
            << node->Message.toStdString();
        EXPECT_EQ(node->TargetSize, node->SourceSize);
    } else {
        EXPECT_LT(QFileInfo(target).size(), QFileInfo(source).size());
        EXPECT_EQ(node->Message.indexOf(QStringLiteral("kept as it was")), -1) << node->Message.toStdString();
    }
    EXPECT_EQ(QDir(path(QStringLiteral("out"))).entryList(QDir::Files | QDir::Hidden), QStringList{QFileInfo(target).fileName()});
}

INSTANTIATE_TEST_SUITE_P(Documents, RenderCheckTest, ::testing::Values(
    CheckCase{"DocWhoseLayoutChanges", "", "poi/Bug47731.doc", false, "page 1 would look different, ", true},
    CheckCase{"DocWhoseRoundTripHolds", "", "poi/testCroppedPictures.doc", false, nullptr, true},
    CheckCase{"DocUncheckedWhenOff", "Verify=False", "poi/Bug47731.doc", false, nullptr, false},
    CheckCase{"DocLosingItsEmbeddedFont", "", "poi/testCroppedPictures.doc", true, "0 embedded fonts instead of 1)", false},
    CheckCase{"PackageCheckedWhenOn", "Verify=True", nullptr, false, nullptr, true},
    CheckCase{"PackageUncheckedByDefault", "", nullptr, false, nullptr, false},
    CheckCase{"PackageBelowAStricterThreshold", "Verify=True\nVerifyPsnr=99", nullptr, false, "page 1 would look different, ", true}),
    RowName());

// A web server on a port of the loopback that counts the connections made to it and
// answers each with "404 Not Found".
class TznCountingServer
{
public:
    TznCountingServer()
    {
        FSocket = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        if (FSocket < 0 || bind(FSocket, reinterpret_cast<sockaddr*>(&address), size) != 0 || listen(FSocket, 8) != 0
            || getsockname(FSocket, reinterpret_cast<sockaddr*>(&address), &size) != 0)
            return;
        FPort = ntohs(address.sin_port);
        FThread = std::thread([this] {
            while (!FStop) {
                pollfd p{FSocket, POLLIN, 0};
                if (poll(&p, 1, 50) <= 0)
                    continue;
                const int client = accept(FSocket, nullptr, nullptr);
                if (client < 0)
                    continue;
                ++FConnections;
                static const char answer[] = "HTTP/1.0 404 Not Found\r\nContent-Length: 0\r\n\r\n";
                [[maybe_unused]] const ssize_t sent = send(client, answer, sizeof answer - 1, MSG_NOSIGNAL);
                close(client);
            }
        });
    }
    ~TznCountingServer()
    {
        FStop = true;
        if (FThread.joinable())
            FThread.join();
        if (FSocket >= 0)
            close(FSocket);
    }
    int Port() const { return FPort; }
    int Connections() const { return FConnections; }

private:
    int FSocket = -1, FPort = 0;
    std::atomic<bool> FStop{false};
    std::atomic<int> FConnections{0};
    std::thread FThread;
};

class RenderCheckPrivacyTest : public WordFixture
{
};

// The check renders a document that links a picture on a web server: LibreOffice shows
// what the document holds and never asks the server, which would learn who opened the
// document, and when.
TEST_F(RenderCheckPrivacyTest, PictureOnAWebServerIsNeverFetched)
{
    LP_SKIP_UNLESS(!TznLegacyOffice::InstalledProgram().isEmpty()) << "LibreOffice is not installed";
    TznCountingServer server;
    ASSERT_GT(server.Port(), 0);
    TznDocxBuilder builder;
    builder.Paragraph(QStringLiteral("A photograph shown far below its size, and a picture on the web."));
    builder.Picture(TestJpegPicture(1600, 1200, 3 * kEmuPerInch, qint64(2.25 * kEmuPerInch)));
    TznTestPicture web = TestJpegPicture(64, 48, kEmuPerInch, kEmuPerInch);
    web.Linked = true;
    builder.Picture(web);
    const QString built = path(QStringLiteral("built.docx")), source = path(QStringLiteral("in/web.docx"));
    ASSERT_TRUE(builder.Save(built));
    QList<QPair<QString, QByteArray>> entries;
    for (const TznZipEntry& e : ReadZipEntries(built))
        entries.append({e.Name, QByteArray(e.Content).replace("file:///missing/picture2.png",
                                                              QStringLiteral("http://127.0.0.1:%1/picture.png").arg(server.Port()).toUtf8())});
    ASSERT_TRUE(WriteZip(source, entries));
    ASSERT_TRUE(ReadZipEntry(source, QStringLiteral("word/_rels/document.xml.rels")).contains("http://127.0.0.1:"));

    FProject->SetOptionsText(QStringLiteral("Verify=True"));
    TznNode* node = batchOf(source);
    {
        TznDocslim converter(FBatch.get(), 1, TznNodeEvent());
        converter.ConvertFile(FBatch.get(), node);
    }
    TznLegacyOffice::OfThisThread().Quit();
    ASSERT_EQ(node->Status, nsSuccess) << node->Message.toStdString();
    EXPECT_EQ(node->Message.indexOf(QStringLiteral("kept as it was")), -1) << node->Message.toStdString();
    EXPECT_EQ(server.Connections(), 0) << "LibreOffice fetched the linked picture";
}

} // namespace
