#include "ServerTestUtil.h"
#include "znTestBytes.h"
#include "znTestRequire.h"

#include <QFileInfo>
#include <QProcess>
#include <QtEndian>

namespace {

// --- failures of Open, each with a real file of that kind ---------------------------------

struct TznOpenFailureRow
{
    const char* Label;
    const char* CorpusFile;  // nullptr: built by the test
    const char* Expected;    // a piece of the message
};
void PrintTo(const TznOpenFailureRow& row, std::ostream* os) { *os << row.Label; }


class OpenFailureTest : public TznServerTest, public ::testing::WithParamInterface<TznOpenFailureRow> {};

TEST_P(OpenFailureTest, FailsNamingTheFileAndLeavesNothingBehind)
{
    const TznOpenFailureRow& row = GetParam();
    QString path;
    if (row.CorpusFile) {
        path = CopyCorpus(QString::fromUtf8(row.CorpusFile));
        LP_SKIP_UNLESS(!path.isEmpty()) << "corpus not available";
    } else if (QByteArray(row.Label) == "PlainText") {
        path = PathOf(QStringLiteral("notes.docx"));
        ASSERT_TRUE(WriteBytes(path, "This is no zip at all.\n"));
    } else if (QByteArray(row.Label) == "ZipBomb") {
        // 64 MB of zeros deflate to some 64 KB: a ratio no real part reaches.
        path = PathOf(QStringLiteral("bomb.docx"));
        TznDocxBuilder().Paragraph(QStringLiteral("x")).Save(path);
        QList<QPair<QString, QByteArray>> entries;
        for (const TznZipEntry& e : ReadZipEntries(path))
            entries.append({e.Name, e.Content});
        entries.append({QStringLiteral("word/media/zeros.bin"), QByteArray(64 << 20, '\0')});
        ASSERT_TRUE(WriteZip(path, entries));
    } else if (QByteArray(row.Label) == "DuplicateEntry") {
        // A second entry renamed in place to the main part's name.
        path = PathOf(QStringLiteral("twice.docx"));
        TznDocxBuilder().Paragraph(QStringLiteral("x")).Save(path);
        QList<QPair<QString, QByteArray>> entries;
        for (const TznZipEntry& e : ReadZipEntries(path))
            entries.append({e.Name, e.Content});
        entries.append({QStringLiteral("word/document.xmX"), QByteArray("<x/>")});
        ASSERT_TRUE(WriteZip(path, entries));
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::ReadWrite));
        QByteArray zip = f.readAll();
        zip.replace("word/document.xmX", "word/document.xml");
        f.seek(0);
        f.write(zip);
    } else if (QByteArray(row.Label) == "LyingSize") {
        // The directory claims the main part inflates to 40 bytes; it inflates to far more.
        path = PathOf(QStringLiteral("lying.docx"));
        TznDocxBuilder().Paragraph(QString(5000, QLatin1Char('x'))).Save(path);
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::ReadWrite));
        QByteArray zip = f.readAll();
        const QByteArray name = "word/document.xml";
        for (const auto& [signature, sizeAt] : {std::pair<QByteArray, int>{"PK\x03\x04", 22}, {"PK\x01\x02", 24}}) {
            const int nameAt = signature == "PK\x03\x04" ? 30 : 46;
            for (int at = zip.indexOf(signature); at >= 0; at = zip.indexOf(signature, at + 1))
                if (zip.mid(at + nameAt, name.size()) == name)
                    qToLittleEndian<quint32>(40, zip.data() + at + sizeAt);
        }
        f.seek(0);
        f.write(zip);
    }
    const QStringList before = FolderEntries();
    const QString message = MessageOf([&] { Open(path); });
    EXPECT_TRUE(message.contains(QFileInfo(path).fileName())) << message.toStdString();
    EXPECT_TRUE(message.contains(QString::fromUtf8(row.Expected), Qt::CaseInsensitive)) << message.toStdString();
    EXPECT_EQ(FolderEntries(), before);
}

INSTANTIATE_TEST_SUITE_P(Kinds, OpenFailureTest, ::testing::Values(
    TznOpenFailureRow{"EncryptedStandard", "open-xml-sdk/document with password.docx", "encrypted"},
    TznOpenFailureRow{"EncryptedAgile", "poi/protected_agile.docx", "encrypted"},
    TznOpenFailureRow{"TruncatedCompoundFile", "node-word-extractor/badfile-01-bad-header.doc", "damaged"},
    TznOpenFailureRow{"TruncatedZip", "poi/truncated62886.docx", "damaged"},
    TznOpenFailureRow{"BrokenCentralDirectory", "poi/clusterfuzz-testcase-minimized-POIXWPFFuzzer-4959857092198400.docx", "damaged"},
    TznOpenFailureRow{"DamagedMainPart", "phpword/corrupted_main_document_part.docx", "damaged"},
    TznOpenFailureRow{"ThemePackage", "poi/stress025.docx", "no word-processing document"},
    TznOpenFailureRow{"NoRelationships", "pydocx/missing_relationships.docx", "no word-processing document"},
    TznOpenFailureRow{"PlainText", nullptr, "damaged"},
    TznOpenFailureRow{"ZipBomb", nullptr, "zip bomb"},
    TznOpenFailureRow{"LyingSize", nullptr, "damaged"},
    TznOpenFailureRow{"DuplicateEntry", nullptr, "twice"}),
    [](const auto& info) { return std::string(info.param.Label); });

TEST_F(OpenFailureTest, MissingFileNamesIt)
{
    const QString message = MessageOf([&] { Open(PathOf(QStringLiteral("gone.docx"))); });
    EXPECT_TRUE(message.contains(QStringLiteral("gone.docx"))) << message.toStdString();
}

// --- saving -----------------------------------------------------------------------------

class SaveTest : public TznServerTest {};

// Every entry keeps its content; entries the server did not change keep their compressed bytes.
void ExpectSamePackage(const QString& source, const QString& saved)
{
    const QList<TznZipEntry> a = ReadZipEntries(source);
    const QList<TznZipEntry> b = ReadZipEntries(saved);
    ASSERT_FALSE(a.isEmpty());
    ASSERT_EQ(a.size(), b.size());
    for (int i = 0; i < a.size(); ++i) {
        EXPECT_EQ(a[i].Name, b[i].Name);
        EXPECT_EQ(a[i].Content, b[i].Content) << a[i].Name.toStdString();
        EXPECT_EQ(a[i].Raw, b[i].Raw) << a[i].Name.toStdString();
        EXPECT_EQ(a[i].Method, b[i].Method) << a[i].Name.toStdString();
    }
}

TEST_F(SaveTest, UnchangedBuiltDocumentRoundTripsAndOpensElsewhere)
{
    TznDocxBuilder builder;
    builder.Paragraph(QStringLiteral("Before"));
    TznTestPicture pic;
    pic.Bytes = MakeTestImage({640, 480, QStringLiteral("jpeg"), 96});
    pic.Extension = QStringLiteral("jpeg");
    builder.Picture(pic);
    pic.Anchored = true;
    pic.AlternateContent = true;
    builder.Picture(pic);
    const QString source = PathOf(QStringLiteral("source.docx"));
    ASSERT_TRUE(builder.Save(source));

    const TznVariant doc = Open(source);
    const QString saved = PathOf(QStringLiteral("saved.docx"));
    OleCall(doc, QStringLiteral("SaveAs"), {saved});
    OleCall(doc, QStringLiteral("Close"), {false});
    ExpectSamePackage(source, saved);
    QString err;
    EXPECT_TRUE(PythonDocxOpens(saved, &err)) << err.toStdString();
    LP_SKIP_UNLESS(HasLibreOffice()) << "LibreOffice is not installed";
    EXPECT_FALSE(ConvertToPdf(saved, FDir.path()).isEmpty());
}

TEST_F(SaveTest, CorpusDocumentsRoundTrip)
{
    const char* files[] = {"docx4j/Docx4j_Russian.docx", "open-xml-sdk/Complex01.docx", "poi/SimpleMacro.docm",
                           "docx4j/Normal.dotm", "open-xml-sdk/MedianResume_TP10192746.dotx", "poi/stress014.docx"};
    LP_SKIP_UNLESS(!CorpusDir().isEmpty()) << "corpus not available";
    for (const char* file : files) {
        SCOPED_TRACE(file);
        const QString source = CopyCorpus(QString::fromUtf8(file));
        ASSERT_FALSE(source.isEmpty());
        const TznVariant doc = Open(source);
        const QString saved = PathOf(QStringLiteral("saved-") + QFileInfo(source).fileName());
        OleCall(doc, QStringLiteral("SaveAs"), {saved});
        OleCall(doc, QStringLiteral("Close"), {false});
        ExpectSamePackage(source, saved);
        // python-docx reads only documents (not templates or macro documents): what it read
        // before, it reads after.
        QString err;
        if (PythonDocxOpens(source)) {
            EXPECT_TRUE(PythonDocxOpens(saved, &err)) << err.toStdString();
        }
    }
}

TEST_F(SaveTest, PythonDocxDocumentRoundTripsAndConverts)
{
    const QString source = PathOf(QStringLiteral("python.docx"));
    const QString image = PathOf(QStringLiteral("photo.png"));
    ASSERT_TRUE(WriteBytes(image, MakeTestImage({300, 200, QStringLiteral("png"), 72})));
    QProcess p;
    p.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral("-c"),
        QStringLiteral("import sys, docx; from docx.shared import Inches; d = docx.Document(); d.add_paragraph('Hello');"
                       " d.add_picture(sys.argv[2], width=Inches(1)); d.save(sys.argv[1])"), source, image});
    ASSERT_TRUE(p.waitForFinished(60000));
    LP_SKIP_UNLESS(p.exitCode() == 0) << "python-docx is not installed: " << p.readAllStandardError().toStdString();
    const TznVariant doc = Open(source);
    EXPECT_EQ(OleGet(OleGet(doc, QStringLiteral("InlineShapes")), QStringLiteral("Count")).ToInt(), 1);
    const QString saved = PathOf(QStringLiteral("saved.docx"));
    OleCall(doc, QStringLiteral("SaveAs"), {saved});
    ExpectSamePackage(source, saved);
}

TEST_F(SaveTest, NewDocumentIsAValidPackage)
{
    const TznVariant doc = OleCall(Documents(), QStringLiteral("Add"), {TznVariant::Omitted()});
    EXPECT_EQ(OleGet(OleGet(doc, QStringLiteral("InlineShapes")), QStringLiteral("Count")).ToInt(), 0);
    const QString saved = PathOf(QStringLiteral("new.docx"));
    OleCall(doc, QStringLiteral("SaveAs"), {saved});
    QString err;
    EXPECT_TRUE(PythonDocxOpens(saved, &err)) << err.toStdString();
    // The server reads back what it wrote.
    EXPECT_NO_THROW(Open(saved));
    LP_SKIP_UNLESS(HasLibreOffice()) << "LibreOffice is not installed";
    EXPECT_FALSE(ConvertToPdf(saved, FDir.path()).isEmpty());
}

TEST_F(SaveTest, LegacyFormatWritesCompoundFileOnly)
{
    const QString source = PathOf(QStringLiteral("a.docx"));
    ASSERT_TRUE(TznDocxBuilder().Paragraph(QStringLiteral("x")).Save(source));
    const TznVariant doc = Open(source);
    const QStringList before = FolderEntries();
    OleCall(doc, QStringLiteral("SaveAs"), {PathOf(QStringLiteral("a.doc")), 0});
    QStringList expected = QStringList(before) << QStringLiteral("a.doc");
    expected.sort();
    QStringList after = FolderEntries();
    after.sort();
    EXPECT_EQ(after, expected);
    QFile f(PathOf(QStringLiteral("a.doc")));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.read(4), QByteArray("\xD0\xCF\x11\xE0", 4));
}

TEST_F(SaveTest, FailedSaveLeavesNoFileBehind)
{
    const QString source = PathOf(QStringLiteral("a.docx"));
    ASSERT_TRUE(TznDocxBuilder().Paragraph(QStringLiteral("x")).Save(source));
    const TznVariant doc = Open(source);
    const QString message = MessageOf([&] { OleCall(doc, QStringLiteral("SaveAs"), {PathOf(QStringLiteral("no/such/folder/b.docx"))}); });
    EXPECT_TRUE(message.contains(QStringLiteral("b.docx"))) << message.toStdString();
    // A target that is a folder cannot be replaced: the temporary file goes again.
    QDir(FDir.path()).mkdir(QStringLiteral("taken.docx"));
    EXPECT_FALSE(MessageOf([&] { OleCall(doc, QStringLiteral("SaveAs"), {PathOf(QStringLiteral("taken.docx"))}); }).isEmpty());
    EXPECT_EQ(FolderEntries(), QStringList{QStringLiteral("a.docx")});
}

TEST_F(SaveTest, SavingOverTheSourceKeepsItReadable)
{
    const QString source = PathOf(QStringLiteral("a.docx"));
    ASSERT_TRUE(TznDocxBuilder().Paragraph(QStringLiteral("kept")).Save(source));
    const QList<TznZipEntry> original = ReadZipEntries(source);
    const TznVariant doc = Open(source);
    OleCall(doc, QStringLiteral("SaveAs"), {source});
    OleCall(doc, QStringLiteral("SaveAs"), {source});
    const QList<TznZipEntry> saved = ReadZipEntries(source);
    ASSERT_EQ(saved.size(), original.size());
    for (int i = 0; i < saved.size(); ++i)
        EXPECT_EQ(saved[i].Content, original[i].Content);
}

TEST_F(SaveTest, MainPartIsFoundThroughThePackageRelationships)
{
    const QString source = PathOf(QStringLiteral("odd.docx"));
    TznTestPicture pic;
    pic.Bytes = MakeTestImage({100, 100});
    ASSERT_TRUE(TznDocxBuilder().MainPart(QStringLiteral("content/main.xml")).Picture(pic) >= 0);
    TznDocxBuilder builder;
    builder.MainPart(QStringLiteral("content/main.xml")).Picture(pic);
    ASSERT_TRUE(builder.Save(source));
    const TznVariant doc = Open(source);
    EXPECT_EQ(OleGet(OleGet(doc, QStringLiteral("InlineShapes")), QStringLiteral("Count")).ToInt(), 1);
}

// --- macros -----------------------------------------------------------------------------

struct TznMacroRow { const char* Label; const char* CorpusFile; bool Built; bool Vba; bool Expected; };
void PrintTo(const TznMacroRow& row, std::ostream* os) { *os << row.Label; }

class HasVBProjectTest : public TznServerTest, public ::testing::WithParamInterface<TznMacroRow> {};

TEST_P(HasVBProjectTest, TellsWhetherThePackageHoldsAMacroProject)
{
    const TznMacroRow& row = GetParam();
    QString path;
    if (row.Built) {
        path = PathOf(QStringLiteral("built.docm"));
        TznDocxBuilder builder;
        builder.Paragraph(QStringLiteral("x"));
        if (row.Vba)
            builder.VbaProject();
        ASSERT_TRUE(builder.Save(path));
    } else {
        path = CopyCorpus(QString::fromUtf8(row.CorpusFile));
        LP_SKIP_UNLESS(!path.isEmpty()) << "corpus not available";
    }
    EXPECT_EQ(OleGet(Open(path), QStringLiteral("HasVBProject")).ToBool(), row.Expected);
}

INSTANTIATE_TEST_SUITE_P(Documents, HasVBProjectTest, ::testing::Values(
    TznMacroRow{"BuiltWithProject", nullptr, true, true, true},
    TznMacroRow{"BuiltWithout", nullptr, true, false, false},
    TznMacroRow{"CorpusDocm", "poi/SimpleMacro.docm", false, false, true},
    TznMacroRow{"CorpusDocx", "mammoth.js/tiny-picture.docx", false, false, false}),
    [](const auto& info) { return std::string(info.param.Label); });

// --- application ------------------------------------------------------------------------

TEST_F(SaveTest, CloseAndQuitAreSafeToRepeat)
{
    const QString source = PathOf(QStringLiteral("a.docx"));
    ASSERT_TRUE(TznDocxBuilder().Paragraph(QStringLiteral("x")).Save(source));
    const TznVariant doc = Open(source);
    EXPECT_EQ(OleGet(Documents(), QStringLiteral("Count")).ToInt(), 1);
    OleCall(doc, QStringLiteral("Close"), {false});
    EXPECT_EQ(OleGet(Documents(), QStringLiteral("Count")).ToInt(), 0);
    // A closed document raises rather than crashing.
    EXPECT_THROW(OleGet(doc, QStringLiteral("HasVBProject")), EznError);
    Open(source);
    OleCall(FApp, QStringLiteral("Quit"), {false});
    OleCall(FApp, QStringLiteral("Quit"), {false});
    EXPECT_EQ(OleGet(Documents(), QStringLiteral("Count")).ToInt(), 0);
}

TEST_F(SaveTest, ApplicationSettingsAreKept)
{
    OlePut(FApp, QStringLiteral("Visible"), true);
    OlePut(FApp, QStringLiteral("WindowState"), 2);
    OlePut(FApp, QStringLiteral("DisplayAlerts"), 0);
    EXPECT_TRUE(OleGet(FApp, QStringLiteral("Visible")).ToBool());
    EXPECT_EQ(OleGet(FApp, QStringLiteral("WindowState")).ToInt(), 2);
    const TznVariant options = OleGet(FApp, QStringLiteral("Options"));
    OlePut(options, QStringLiteral("UpdateFieldsAtPrint"), false);
    OlePut(options, QStringLiteral("UpdateLinksAtPrint"), false);
    EXPECT_FALSE(OleGet(options, QStringLiteral("UpdateFieldsAtPrint")).ToBool());
    EXPECT_EQ(OleGet(options, QStringLiteral("PictureResolution")).ToInt(), 150);
    EXPECT_EQ(OleGet(options, QStringLiteral("PictureQuality")).ToInt(), 85);
    OlePut(options, QStringLiteral("PictureResolution"), 220);
    EXPECT_EQ(OleGet(OleGet(FApp, QStringLiteral("Options")), QStringLiteral("PictureResolution")).ToInt(), 220);
    EXPECT_THROW(OlePut(options, QStringLiteral("PictureQuality"), 0), EznError);
    EXPECT_THROW(OlePut(options, QStringLiteral("PictureQuality"), 101), EznError);
}

} // namespace
