#include "ServerTestUtil.h"

#include <QFileInfo>

namespace {

QFileDevice::Permissions newFilePermissions(const QString& folder)
{
    const QString probe = folder + QStringLiteral("/probe.txt");
    QFile f(probe);
    f.open(QIODevice::WriteOnly);
    f.close();
    const auto permissions = QFile::permissions(probe);
    QFile::remove(probe);
    return permissions;
}

TznVariant addWithText(const TznVariant& documents)
{
    return OleCall(documents, QStringLiteral("Add"), {TznVariant::Omitted()});
}

TEST_F(TznServerTest, SavedDocumentGetsTheRightsOfANewFile)
{
    const QString target = PathOf(QStringLiteral("new.docx"));
    OleCall(addWithText(Documents()), QStringLiteral("SaveAs"), {target});
    EXPECT_EQ(QFile::permissions(target), newFilePermissions(FDir.path()));
}

TEST_F(TznServerTest, SavingOverAFileKeepsItsRights)
{
    const QString target = PathOf(QStringLiteral("old.docx"));
    OleCall(addWithText(Documents()), QStringLiteral("SaveAs"), {target});
    const auto chosen = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup
                      | QFileDevice::WriteGroup | QFileDevice::ReadUser | QFileDevice::WriteUser;
    ASSERT_TRUE(QFile::setPermissions(target, chosen));
    OleCall(addWithText(Documents()), QStringLiteral("SaveAs"), {target});
    EXPECT_EQ(QFile::permissions(target), chosen);
}

TEST_F(TznServerTest, PictureRenderedAheadIsTheOneThatIsPasted)
{
    // Reading the scales renders the picture ahead; the paste that follows
    // must give the same document as a copy rendered on the spot.
    const TznTestPicture picture = TestJpegPicture(800, 600, kEmuPerInch * 2, kEmuPerInch * 3 / 2);
    TznDocxBuilder b;
    b.Picture(picture);
    const QString source = PathOf(QStringLiteral("a.docx"));
    ASSERT_TRUE(b.Save(source));

    auto compact = [&](bool readScales, const QString& target) {
        const TznVariant doc = Open(source);
        const TznVariant shape = OleCall(OleGet(doc, QStringLiteral("InlineShapes")), QStringLiteral("Item"), {1});
        if (readScales) {
            EXPECT_LT(OleGet(shape, QStringLiteral("ScaleWidth")).ToDouble(), 100);
            EXPECT_LT(OleGet(shape, QStringLiteral("ScaleHeight")).ToDouble(), 100);
        }
        OleCall(shape, QStringLiteral("Select"));
        const TznVariant selection = OleGet(FApp, QStringLiteral("Selection"));
        OleCall(selection, QStringLiteral("Copy"));
        OleCall(shape, QStringLiteral("Delete"));
        OleCall(selection, QStringLiteral("PasteSpecial"), {0, 0, 0, 0, 13});
        OleCall(doc, QStringLiteral("SaveAs"), {target});
        OleCall(doc, QStringLiteral("Close"), {false});
    };
    compact(true, PathOf(QStringLiteral("ahead.docx")));
    compact(false, PathOf(QStringLiteral("now.docx")));
    const auto ahead = ReadZipEntries(PathOf(QStringLiteral("ahead.docx")));
    const auto now = ReadZipEntries(PathOf(QStringLiteral("now.docx")));
    ASSERT_EQ(ahead.size(), now.size());
    for (qsizetype i = 0; i < ahead.size(); ++i) {
        EXPECT_EQ(ahead[i].Name, now[i].Name);
        EXPECT_EQ(ahead[i].Content, now[i].Content) << ahead[i].Name.toStdString();
    }
}

TEST_F(TznServerTest, PictureThatCannotBeRenderedStillReportsItsScale)
{
    TznTestImage image;
    image.Format = QStringLiteral("jpeg");
    TznTestPicture picture;
    picture.Bytes = MakeTestImage(image).left(400); // cut off after its header
    picture.Extension = QStringLiteral("jpeg");
    picture.Cx = kEmuPerInch;
    picture.Cy = kEmuPerInch * 3 / 4;
    TznDocxBuilder b;
    b.Picture(picture);
    const QString source = PathOf(QStringLiteral("broken.docx"));
    ASSERT_TRUE(b.Save(source));
    const TznVariant doc = Open(source);
    const TznVariant shape = OleCall(OleGet(doc, QStringLiteral("InlineShapes")), QStringLiteral("Item"), {1});
    EXPECT_LT(OleGet(shape, QStringLiteral("ScaleWidth")).ToDouble(), 100);
    EXPECT_LT(OleGet(shape, QStringLiteral("ScaleHeight")).ToDouble(), 100);
    OleCall(shape, QStringLiteral("Select"));
    EXPECT_FALSE(MessageOf([&] { OleCall(OleGet(FApp, QStringLiteral("Selection")), QStringLiteral("Copy")); }).isEmpty());
}

} // namespace
