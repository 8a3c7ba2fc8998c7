// The codec on the pictures of real documents that other programs wrote.
#include "picture/znPicture.h"
#include "platform/znError.h"

#include "znTestDocx.h"
#include "znTestRequire.h"

#include <QBuffer>
#include <QDir>
#include <QDirIterator>
#include <QImageReader>
#include <QPainter>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <zip.h>

#include <cmath>

namespace {

struct TznMedia { QString Name; QByteArray Bytes; };

// Every entry under a media folder of a package; nothing when it is no zip.
QList<TznMedia> mediaOf(const QString& path)
{
    QList<TznMedia> media;
    int error = 0;
    zip_t* archive = zip_open(QFile::encodeName(path).constData(), ZIP_RDONLY, &error);
    if (!archive)
        return media;
    const zip_int64_t count = zip_get_num_entries(archive, 0);
    for (zip_int64_t i = 0; i < count; ++i) {
        const QString name = QString::fromUtf8(zip_get_name(archive, zip_uint64_t(i), 0));
        zip_stat_t stat;
        if (!name.contains("media/") || zip_stat_index(archive, zip_uint64_t(i), 0, &stat) != 0)
            continue;
        zip_file_t* file = zip_fopen_index(archive, zip_uint64_t(i), 0);
        if (!file)
            continue;
        QByteArray bytes(qsizetype(stat.size), '\0');
        const zip_int64_t read = zip_fread(file, bytes.data(), stat.size);
        zip_fclose(file);
        if (read == zip_int64_t(stat.size))
            media.append({name, bytes});
    }
    zip_close(archive);
    return media;
}

QImage onWhite(const QImage& image)
{
    QImage flat(image.size(), QImage::Format_RGB32);
    flat.fill(Qt::white);
    QPainter painter(&flat);
    painter.drawImage(0, 0, image);
    return flat;
}

TEST(PictureCorpusTest, RendersRealPicturesAsQtShowsThem)
{
    const QString corpus = QStringLiteral(LP_CORPUS_DIR);
    LP_SKIP_UNLESS(QDir(corpus).exists()) << "no corpus at " << corpus.toStdString();
    QTemporaryDir temp;
    ASSERT_TRUE(temp.isValid());
    int rendered = 0, refused = 0;
    QDirIterator it(corpus, {"*.docx", "*.docm", "*.dotx", "*.dotm"}, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString source = it.next();
        const QString copy = temp.filePath(QString::number(rendered + refused) + ".zip");
        QFile::remove(copy);
        ASSERT_TRUE(QFile::copy(source, copy));
        for (const TznMedia& media : mediaOf(copy)) {
            const std::string where = source.mid(corpus.size()).toStdString() + ":" + media.Name.toStdString();
            const std::optional<TznPictureInfo> info = ReadPictureInfo(media.Bytes);
            if (!info || info->Vector) {
                ++refused;
                continue;
            }
            QBuffer buffer;
            buffer.setData(media.Bytes);
            QImageReader reader(&buffer);
            reader.setAutoTransform(true);
            QImage reference = reader.read();
            TznRenderRequest request;
            request.Bytes = media.Bytes;
            // At its own size, so that only decoding is compared, not two resampling filters; an
            // eighth cropped off the right, since a picture not reduced comes back as it was.
            const int cut = (info->PixelWidth + 7) / 8, kept = info->PixelWidth - cut;
            if (kept < 1)
                continue;
            request.Crop.Right = double(cut) / info->PixelWidth;
            request.ShownCx = qint64(kept) * 9525;
            request.ShownCy = qint64(info->PixelHeight) * 9525;
            request.Resolution = 96;
            request.Quality = 95;
            try {
                const TznRendered out = RenderPicture(request);
                ++rendered;
                EXPECT_FALSE(reference.isNull()) << where << ": rendered what Qt cannot read";
                if (reference.isNull())
                    continue;
                EXPECT_EQ(reference.size(), QSize(info->PixelWidth, info->PixelHeight)) << where;
                reference = reference.copy(0, 0, kept, reference.height());
                const QImage mine = QImage::fromData(out.Bytes);
                ASSERT_EQ(mine.size(), QSize(out.PixelWidth, out.PixelHeight)) << where;
                ASSERT_EQ(mine.size(), reference.size()) << where;
                EXPECT_GE(PagePsnr(onWhite(mine), onWhite(reference)), 30) << where;
            } catch (const EznError& e) {
                ++refused;
                // Refused only where there is nothing to render: what Qt reads, the codec reads too.
                QBuffer again;
                again.setData(media.Bytes);
                EXPECT_TRUE(reference.isNull() || QImageReader(&again).imageCount() > 1) << where << ": " << e.what();
            }
        }
    }
    EXPECT_GT(rendered, 10);
    RecordProperty("rendered", rendered);
    RecordProperty("refused", refused);
}

} // namespace
