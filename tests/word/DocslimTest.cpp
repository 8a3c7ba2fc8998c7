#include "WordFixture.h"

#include "automation/znOle.h"
#include "word/znDocslim.h"

#include "znTestDocx.h"

#include <QFileInfo>

namespace {

class DocslimTest : public WordFixture
{
protected:
    // Converts one file as a worker would and returns its node.
    TznNode* convert(const QString& file)
    {
        TznNode* node = batchOf(file);
        EXPECT_NE(node, nullptr);
        TznDocslim converter(FBatch.get(), 1, TznNodeEvent());
        converter.ConvertFile(FBatch.get(), node);
        return node;
    }

    // One photo of 1200 × 900 pixels at 96 pixels per inch (12.5 × 9.375
    // inches at full size), shown at the given percentages.
    TznTestPicture photo(double widthPercent, double heightPercent)
    {
        TznTestImage image;
        image.Width = 1200;
        image.Height = 900;
        image.Format = QStringLiteral("jpeg");
        image.Dpi = 96;
        TznTestPicture p;
        p.Bytes = MakeTestImage(image);
        p.Extension = QStringLiteral("jpeg");
        p.Cx = qint64(12.5 * kEmuPerInch * widthPercent / 100);
        p.Cy = qint64(9.375 * kEmuPerInch * heightPercent / 100);
        return p;
    }

    QString save(TznDocxBuilder& b, const char* name)
    {
        const QString file = path(QStringLiteral("in/") + QString::fromUtf8(name));
        EXPECT_TRUE(b.Save(file));
        return file;
    }

    QString mainXml(const QString& file) { return QString::fromUtf8(ReadZipEntry(file, QStringLiteral("word/document.xml"))); }
};

struct ScaleCase
{
    const char* name;
    double width, height;
    bool reinserted;
};

class DocslimScaleTest : public DocslimTest, public ::testing::WithParamInterface<ScaleCase>
{
};

TEST_P(DocslimScaleTest, ReinsertsOnlyPicturesShownSmallerBothWays)
{
    TznDocxBuilder b;
    b.Paragraph(QStringLiteral("before"));
    b.Picture(photo(GetParam().width, GetParam().height));
    const QString file = save(b, "a.docx");
    TznNode* node = convert(file);
    EXPECT_EQ(node->Status, nsSuccess) << node->Message.toStdString();
    EXPECT_EQ(!FLog->Starting(QStringLiteral("PasteSpecial(0,0,0,0,13)")).isEmpty(), GetParam().reinserted);
    EXPECT_EQ(!FLog->Starting(QStringLiteral("Delete()")).isEmpty(), GetParam().reinserted);
}

INSTANTIATE_TEST_SUITE_P(Scales, DocslimScaleTest, ::testing::Values(
    ScaleCase{"HalfWidthFullHeight", 50, 100, false},
    ScaleCase{"FullWidthHalfHeight", 100, 50, false},
    ScaleCase{"Enlarged", 150, 150, false},
    ScaleCase{"JustBelowBoth", 99.9, 99.9, true},
    ScaleCase{"Quarter", 25, 25, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(DocslimTest, VisitsTheLastPictureFirstAndKeepsAnchoredOnesFloating)
{
    TznDocxBuilder b;
    for (int i = 0; i < 3; ++i)
        b.Picture(photo(30, 30));
    TznTestPicture floating = photo(30, 30);
    floating.Anchored = true;
    floating.Descr = QStringLiteral("A hill seen from the road");
    b.Picture(floating);
    const QString file = save(b, "a.docx");
    TznNode* node = convert(file);
    ASSERT_EQ(node->Status, nsSuccess) << node->Message.toStdString();

    const QStringList items = FLog->Starting(QStringLiteral("Item("));
    EXPECT_EQ(items, (QStringList{"Item(3)", "Item(2)", "Item(1)", "Item(1)"}));
    EXPECT_EQ(FLog->Starting(QStringLiteral("PasteSpecial(")).size(), 4);

    const QString target = path(QStringLiteral("out/a.docx"));
    const QString xml = mainXml(target);
    EXPECT_EQ(xml.count(QStringLiteral("<wp:inline")), 3);
    EXPECT_EQ(xml.count(QStringLiteral("<wp:anchor")), 1);
    EXPECT_TRUE(xml.contains(QStringLiteral("A hill seen from the road")));
    // Shown size kept: 30 % of 12.5 inches.
    EXPECT_TRUE(xml.contains(QStringLiteral("cx=\"%1\"").arg(qint64(12.5 * kEmuPerInch * 30 / 100))));
    EXPECT_LT(QFileInfo(target).size(), QFileInfo(file).size());
    EXPECT_TRUE(node->Message.startsWith(u'['));
    EXPECT_TRUE(node->Message.endsWith(QStringLiteral("%] ") + target));
    EXPECT_TRUE(PythonDocxOpens(target));
}

TEST_F(DocslimTest, PictureTheServerCannotDecodeStaysInTheDocument)
{
    TznDocxBuilder b;
    TznTestPicture broken = photo(40, 40);
    broken.Bytes = broken.Bytes.left(600); // a cut-off JPEG
    b.Picture(broken);
    const QString file = save(b, "a.docx");
    TznNode* node = convert(file);
    ASSERT_EQ(node->Status, nsSuccess) << node->Message.toStdString();
    EXPECT_TRUE(FLog->Starting(QStringLiteral("Delete()")).isEmpty());
    const QString target = path(QStringLiteral("out/a.docx"));
    EXPECT_EQ(mainXml(target).count(QStringLiteral("<pic:pic")), 1);
    bool mediaKept = false;
    for (const TznZipEntry& e : ReadZipEntries(target))
        mediaKept = mediaKept || e.Content == broken.Bytes;
    EXPECT_TRUE(mediaKept);
}

TEST_F(DocslimTest, DocumentWithoutPicturesGetsItsOwnBytesBack)
{
    TznDocxBuilder b;
    b.Paragraph(QStringLiteral("Only text."));
    const QString file = save(b, "a.docx");
    TznNode* node = convert(file);
    const QString target = path(QStringLiteral("out/a.docx"));
    EXPECT_EQ(node->Status, nsSuccess);
    EXPECT_EQ(node->Message, QStringLiteral("[99%] ") + target);
    EXPECT_EQ(bytesOf(target), bytesOf(file));
    EXPECT_EQ(FBatch->Successes(), 1);
}

TEST_F(DocslimTest, DamagedDocumentFailsWithTheServersMessage)
{
    const QString file = path(QStringLiteral("in/a.docx"));
    writeBytes(file, "not a package");
    TznNode* node = convert(file);
    EXPECT_EQ(node->Status, nsFailure);
    EXPECT_TRUE(node->Message.contains(file)) << node->Message.toStdString();
    EXPECT_EQ(FBatch->Failures(), 1);
    EXPECT_EQ(FBatch->Reasons(), QStringList{node->Message});
    EXPECT_FALSE(QFileInfo::exists(path(QStringLiteral("out/a.docx"))));
    // The document was closed even though it never opened.
    EXPECT_TRUE(FLog->Starting(QStringLiteral("Close(")).isEmpty());
}

// --- the size check and the save form, against a scripted word processor ---

struct FakeWord
{
    QString Version = QStringLiteral("16.0");
    qint64 SavedSize = 0; // bytes SaveAs writes
};

void registerFakeWord(const FakeWord& word, std::shared_ptr<TznCallLog> log)
{
    RegisterAutomationClass(QStringLiteral("Word.Application"), [word, log]() -> std::shared_ptr<IznDispatch> {
        auto empty = std::make_shared<TznFakeObject>();
        empty->On(QStringLiteral("Count"), [](const auto&, const auto*) { return TznVariant(0); });
        auto doc = std::make_shared<TznFakeObject>();
        doc->On(QStringLiteral("InlineShapes"), [empty](const auto&, const auto*) { return TznVariant(std::shared_ptr<IznDispatch>(empty)); })
            .On(QStringLiteral("Shapes"), [empty](const auto&, const auto*) { return TznVariant(std::shared_ptr<IznDispatch>(empty)); })
            .On(QStringLiteral("SaveAs"), [word, log](const QList<TznVariant>& args, const auto*) {
                QStringList parts;
                for (const auto& a : args)
                    parts << DescribeValue(a);
                log->Add(QStringLiteral("SaveAs(") + parts.join(u',') + u')');
                QFile f(args.value(0).ToText());
                if (!f.open(QIODevice::WriteOnly))
                    throw EznError(QStringLiteral("Cannot save"));
                f.write(QByteArray(word.SavedSize, 'x'));
                return TznVariant();
            })
            .On(QStringLiteral("Close"), [](const auto&, const auto*) { return TznVariant(); });
        auto docs = std::make_shared<TznFakeObject>();
        docs->On(QStringLiteral("Open"), [doc](const auto&, const auto*) { return TznVariant(std::shared_ptr<IznDispatch>(doc)); });
        auto app = std::make_shared<TznFakeObject>();
        app->On(QStringLiteral("Version"), [word](const auto&, const auto*) { return TznVariant(word.Version); })
            .On(QStringLiteral("Documents"), [docs](const auto&, const auto*) { return TznVariant(std::shared_ptr<IznDispatch>(docs)); })
            .On(QStringLiteral("Quit"), [](const auto&, const auto*) { return TznVariant(); });
        return app;
    });
}

struct SizeCase
{
    const char* name;
    qint64 source, saved;
    const char* prefix;
    bool copiedBack;
};

class DocslimSizeTest : public DocslimTest, public ::testing::WithParamInterface<SizeCase>
{
};

TEST_P(DocslimSizeTest, TruncatesThePercentageAndNeverGrows)
{
    const SizeCase& c = GetParam();
    FakeWord word;
    word.SavedSize = c.saved;
    registerFakeWord(word, FLog);
    const QString file = path(QStringLiteral("in/a.docx"));
    writeBytes(file, QByteArray(c.source, 's'));
    TznNode* node = convert(file);
    const QString target = path(QStringLiteral("out/a.docx"));
    EXPECT_EQ(node->Status, nsSuccess);
    EXPECT_EQ(node->Message, QString::fromUtf8(c.prefix) + target);
    EXPECT_EQ(bytesOf(target) == bytesOf(file), c.copiedBack);
}

INSTANTIATE_TEST_SUITE_P(Sizes, DocslimSizeTest, ::testing::Values(
    SizeCase{"JustSmaller", 1000, 999, "[99%] ", false},
    SizeCase{"Equal", 1000, 1000, "[99%] ", true},
    SizeCase{"Larger", 1000, 4000, "[99%] ", true},
    SizeCase{"Half", 1000, 500, "[50%] ", false},
    SizeCase{"TinyResult", 1000, 9, "[0%] ", false},
    SizeCase{"EmptySource", 0, 10, "", false}),
    [](const auto& info) { return std::string(info.param.name); });

struct FormatCase
{
    const char* name;
    const char* options;
    const char* version;
    const char* file;
    bool formatCode;
};

class DocslimFormatTest : public DocslimTest, public ::testing::WithParamInterface<FormatCase>
{
};

TEST_P(DocslimFormatTest, PassesTheFormatCodeOnlyForLowerCaseDoc)
{
    const FormatCase& c = GetParam();
    FProject->SetOptionsText(QString::fromUtf8(c.options));
    FakeWord word;
    word.Version = QString::fromUtf8(c.version);
    word.SavedSize = 10;
    registerFakeWord(word, FLog);
    const QString file = path(QStringLiteral("in/") + QString::fromUtf8(c.file));
    writeBytes(file, QByteArray(100, 's'));
    convert(file);
    const QString target = path(QStringLiteral("out/") + QString::fromUtf8(c.file));
    EXPECT_EQ(FLog->Starting(QStringLiteral("SaveAs(")),
              QStringList{QStringLiteral("SaveAs(") + target + (c.formatCode ? QStringLiteral(",0)") : QStringLiteral(")"))});
}

INSTANTIATE_TEST_SUITE_P(Formats, DocslimFormatTest, ::testing::Values(
    FormatCase{"KeepDoc", "DocToDocx=False", "16.0", "a.doc", true},
    FormatCase{"KeepDocCapitals", "DocToDocx=False", "16.0", "a.DOC", false},
    FormatCase{"KeepDocx", "DocToDocx=False", "16.0", "a.docx", false},
    FormatCase{"OldServer", "DocToDocx=False", "11.0", "a.doc", false},
    FormatCase{"Default", "", "16.0", "a.doc", false}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
