// Writes seed inputs for every fuzz target into the folder given, made with
// the tests' document builder: fuzz_seeds DIR gives DIR/<target>/<name>.
#include "znTestDocx.h"

#include "znPictureSamples.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>

namespace {

bool put(const QString& dir, const QString& target, const QString& name, const QByteArray& bytes)
{
    QDir().mkpath(dir + u'/' + target);
    QFile f(dir + u'/' + target + u'/' + name);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

QByteArray fileBytes(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: fuzz_seeds DIR\n");
        return 2;
    }
    const QString dir = QString::fromLocal8Bit(argv[1]);
    bool ok = true;

    // Small pictures of every format the header readers know.
    QList<QPair<QString, QByteArray>> pictures;
    for (const char* format : {"png", "jpeg", "gif", "bmp"}) {
        TznTestImage image;
        image.Width = 48;
        image.Height = 32;
        image.Format = QString::fromLatin1(format);
        image.Alpha = image.Format == u"png";
        pictures.append({image.Format, MakeTestImage(image)});
    }
    const QImage photo = MakePhotographicImage(QSize(40, 30), 7);
    TznJpegOptions progressive;
    progressive.Progressive = true;
    TznJpegOptions cmyk;
    cmyk.Cmyk = cmyk.AdobeInverted = true;
    TznJpegOptions exif;
    exif.Orientation = 6;
    exif.ExifDpi = 200;
    exif.BigEndianExif = true;
    pictures.append({QStringLiteral("progressive"), EncodeSampleJpeg(photo, progressive)});
    pictures.append({QStringLiteral("cmyk"), EncodeSampleJpeg(photo, cmyk)});
    pictures.append({QStringLiteral("exif"), EncodeSampleJpeg(photo, exif)});
    for (const auto& [name, bytes] : pictures) {
        ok = put(dir, QStringLiteral("picture_info"), name, bytes) && ok;
        ok = put(dir, QStringLiteral("picture_render"), name, bytes) && ok;
        ok = put(dir, QStringLiteral("picture_recode"), name, bytes) && ok;
    }

    // Documents with the kinds of drawing the server walks.
    QTemporaryDir tmp;
    const auto picture = [&](int i) {
        TznTestPicture p;
        p.Bytes = pictures[i % pictures.size()].second;
        p.Extension = i % pictures.size() == 1 ? QStringLiteral("jpeg") : pictures[i % pictures.size()].first;
        return p;
    };
    QList<QPair<QString, TznDocxBuilder>> docs;
    {
        TznDocxBuilder b;
        b.Paragraph(QStringLiteral("Inline"));
        b.Picture(picture(0));
        docs.append({QStringLiteral("inline"), b});
    }
    {
        TznDocxBuilder b;
        TznTestPicture p = picture(1);
        p.Anchored = true;
        p.CropL = 10000;
        p.CropB = 5000;
        b.Picture(p);
        TznTestPicture shared = picture(1);
        shared.SameMediaAs = 0;
        b.Picture(shared);
        docs.append({QStringLiteral("anchored-crop"), b});
    }
    {
        TznDocxBuilder b;
        TznTestPicture p = picture(2);
        p.AlternateContent = true;
        b.Picture(p);
        TznTestPicture vml = picture(3);
        vml.Vml = true;
        vml.CropR = 20000;
        b.Picture(vml);
        b.HeaderUsingMediaOf(0);
        docs.append({QStringLiteral("alternate-vml-header"), b});
    }
    for (const auto& [name, builder] : docs) {
        const QString path = tmp.filePath(name + QStringLiteral(".docx"));
        ok = builder.Save(path) && ok;
        ok = put(dir, QStringLiteral("package"), name, fileBytes(path)) && ok;
        ok = put(dir, QStringLiteral("document_xml"), name, ReadZipEntry(path, QStringLiteral("word/document.xml"))) && ok;
    }

    const char* masks[] = {"*.doc?\n/in/a.docx", "*.doc\n/in/a.docx", "a+b(1).doc\n/in/a+b(1).doc",
                           "rep*.doc\n/rep/x.doc", "\\\\old\\\\\n/in/OLD/a.doc", "(\n/in/a.doc", "?*?.d?c\n/x/y.doc"};
    int i = 0;
    for (const char* mask : masks)
        ok = put(dir, QStringLiteral("mask"), QStringLiteral("mask%1").arg(i++), QByteArray(mask)) && ok;
    return ok ? 0 : 1;
}
