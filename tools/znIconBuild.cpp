// Renders the product picture at the icon sizes of a desktop icon theme:
// lp_iconbuild <picture.svg> <theme folder> <icon name> <size>...
// writes <theme folder>/<size>x<size>/apps/<icon name>.png. Runs at build time,
// on the offscreen platform.

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QImageReader>

#include <cstdio>

namespace {

int fail(const char* what, const QString& path)
{
    std::fprintf(stderr, "lp_iconbuild: %s: %s\n", what, qPrintable(path));
    return 1;
}

} // namespace

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    if (argc < 5) {
        std::fprintf(stderr, "usage: lp_iconbuild <picture.svg> <theme folder> <icon name> <size>...\n");
        return 2;
    }
    const QString picture = QString::fromLocal8Bit(argv[1]);
    const QString theme = QString::fromLocal8Bit(argv[2]);
    const QString name = QString::fromLocal8Bit(argv[3]);
    for (int i = 4; i < argc; ++i) {
        bool ok = false;
        const int size = QString::fromLatin1(argv[i]).toInt(&ok);
        if (!ok || size < 8 || size > 1024)
            return fail("not an icon size", QString::fromLatin1(argv[i]));
        // The picture is drawn anew at each size, so small icons stay sharp.
        QImageReader reader(picture, "svg");
        reader.setScaledSize(QSize(size, size));
        const QImage image = reader.read();
        if (image.isNull())
            return fail("cannot render", picture + QStringLiteral(" (") + reader.errorString() + u')');
        const QString folder = QStringLiteral("%1/%2x%2/apps").arg(theme).arg(size);
        if (!QDir().mkpath(folder))
            return fail("cannot make", folder);
        const QString output = folder + u'/' + name + QStringLiteral(".png");
        const QString partial = output + QStringLiteral(".part");
        if (!image.save(partial, "PNG"))
            return fail("cannot write", partial);
        QFile::remove(output);
        if (!QFile::rename(partial, output))
            return fail("cannot write", output);
    }
    return 0;
}
