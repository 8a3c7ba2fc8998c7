// Compaction benchmark of the picture codec.
//
// Builds a photo-heavy picture set (20 photographic JPEGs of 12 megapixels
// shown at 4 x 3 inches, 5 PNG screenshots shown at half size), renders it
// as the document server does, and prints from one run: milliseconds per
// set, input megabytes per second, bytes before and after, the time of
// `djpeg -scale 1/4` on the same JPEGs as the decoding floor with the
// ratio, and the peak memory of a child process that renders one
// 100-megapixel JPEG.
//
// Then it converts two document sets with the product's converter (see
// documents.cpp).
//
//   bench_compact [--photos N] [--keep DIR] [--corpus DIR] [--documents-only | --memory-only] [--set NAME]

#include "documents.h"
#include "picture/znPicture.h"
#include "znPictureSamples.h"
#include "platform/znError.h"

#include <QByteArray>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QImageWriter>
#include <QBuffer>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>
#include <cstring>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

constexpr qint64 EmuPerInch = 914400;

struct TznBenchPicture {
    QString Path;
    QByteArray Bytes;
    qint64 ShownCx, ShownCy;
    bool Jpeg;
};

bool writeFile(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QByteArray readFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QByteArray png(const QImage& image)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter(&buffer, "png").write(image);
    return bytes;
}

// Runs a program with its standard output sent to /dev/null; returns the
// exit status and fills usage with the child's resource use.
int runQuiet(const std::vector<std::string>& args, rusage* usage)
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    std::vector<char*> argv;
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = 0;
    const int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0)
        return -1;
    int status = 0;
    rusage local{};
    wait4(pid, &status, 0, usage ? usage : &local);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TznRendered render(const TznBenchPicture& picture)
{
    TznRenderRequest request;
    request.Bytes = picture.Bytes;
    request.ShownCx = picture.ShownCx;
    request.ShownCy = picture.ShownCy;
    return RenderPicture(request);
}

// Peak resident memory of this process in megabytes (VmHWM).
double peakMegabytes()
{
    QFile status("/proc/self/status");
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').front().toDouble() / 1024;
    }
    return 0;
}

// Child mode: renders one picture file shown at cx x cy EMU and prints its own peak memory, before
// and after the call. A child of its own, because a process's high-water mark never goes down.
int memoryChild(const char* path, qint64 cx, qint64 cy)
{
    TznBenchPicture picture{path, readFile(path), cx, cy, true};
    const double loaded = peakMegabytes();
    try {
        QElapsedTimer timer;
        timer.start();
        const TznRendered rendered = render(picture);
        printf("%.1f %.1f %d %d %lld %lld\n", loaded, peakMegabytes(), rendered.PixelWidth, rendered.PixelHeight,
               qint64(timer.elapsed()), qint64(rendered.Bytes.size()));
    } catch (const EznError& e) {
        fprintf(stderr, "child failed: %s\n", e.what());
        return 1;
    }
    return 0;
}

// Renders one 100-megapixel JPEG, baseline, progressive and progressive
// 4:4:4 (no chroma subsampling), each in a child process of its own, and
// prints each child's peak memory; returns the number of children that
// failed.
int runMemory(const QString& dir)
{
    printf("\nPeak memory for one 100-megapixel JPEG (10000 x 10000) shown at 6.5 x 6.5 in:\n");
    fflush(stdout);
    struct TznBigJpeg { const char* Name; const char* File; TznJpegOptions Options; };
    const TznBigJpeg bigJpegs[] = {
        {"baseline", "photo100mp.jpg", {.Quality = 85}},
        {"progressive", "photo100mp-progressive.jpg", {.Quality = 85, .Progressive = true}},
        {"progressive 4:4:4", "photo100mp-progressive-444.jpg", {.Quality = 85, .Progressive = true, .LumaSampling = {1, 1}}},
    };
    QImage big;
    int failures = 0;
    for (const TznBigJpeg& bigJpeg : bigJpegs) {
        const QString bigPath = dir + "/" + bigJpeg.File;
        if (!QFile::exists(bigPath)) {
            if (big.isNull())
                big = MakePhotographicImage(QSize(10000, 10000), 99);
            writeFile(bigPath, EncodeSampleJpeg(big, bigJpeg.Options));
        }
        QProcess child;
        child.start(QFile::symLinkTarget("/proc/self/exe"), {"--memory-child", bigPath, QString::number(65 * EmuPerInch / 10),
                                                           QString::number(65 * EmuPerInch / 10)});
        child.waitForFinished(-1);
        const QList<QByteArray> fields = child.readAllStandardOutput().trimmed().split(' ');
        printf("  %s, %.1f MB:\n", bigJpeg.Name, QFileInfo(bigPath).size() / 1e6);
        if (child.exitCode() != 0 || fields.size() != 6) {
            printf("    the child failed: %s\n", child.readAllStandardError().constData());
            ++failures;
            continue;
        }
        printf("    rendered:          %10s x %s pixels in %s ms, %s bytes\n", fields[2].constData(),
               fields[3].constData(), fields[4].constData(), fields[5].constData());
        printf("    peak resident:     %10s MB (goal: under 250 MB); %s MB before the call, file bytes included\n",
               fields[1].constData(), fields[0].constData());
    }
    return failures;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 5 && strcmp(argv[1], "--memory-child") == 0)
        return memoryChild(argv[2], atoll(argv[3]), atoll(argv[4]));

    int photos = 20;
    QString keep;
#ifdef LP_BENCH_CORPUS
    QString corpus = QString::fromUtf8(LP_BENCH_CORPUS);
#else
    QString corpus;
#endif
    bool documentsOnly = false, memoryOnly = false;
    QString onlySet;  // one document set only
    for (int i = 1; i < argc; ++i) {
        if (strcmp(argv[i], "--documents-only") == 0)
            documentsOnly = true;
        else if (strcmp(argv[i], "--memory-only") == 0)
            memoryOnly = true;
        else if (i + 1 < argc && strcmp(argv[i], "--photos") == 0)
            photos = atoi(argv[++i]);
        else if (i + 1 < argc && strcmp(argv[i], "--keep") == 0)
            keep = QString::fromLocal8Bit(argv[++i]);
        else if (i + 1 < argc && strcmp(argv[i], "--corpus") == 0)
            corpus = QString::fromLocal8Bit(argv[++i]);
        else if (i + 1 < argc && strcmp(argv[i], "--set") == 0)
            onlySet = QString::fromLocal8Bit(argv[++i]);
    }
    QTemporaryDir temp;
    const QString dir = keep.isEmpty() ? temp.path() : keep;
    QDir().mkpath(dir);
    if (!QFileInfo(corpus).isDir())
        corpus.clear();
    if (documentsOnly)
        return RunDocumentSets(dir, corpus, onlySet);
    if (memoryOnly)
        return runMemory(dir) ? 1 : 0;

    printf("Building the picture set in %s ...\n", qPrintable(dir));
    fflush(stdout);
    std::vector<TznBenchPicture> set;
    for (int i = 0; i < photos; ++i) {
        const QString path = QString("%1/photo%2.jpg").arg(dir).arg(i + 1, 2, 10, QChar('0'));
        QByteArray bytes = readFile(path);
        if (bytes.isEmpty()) {
            bytes = EncodeSampleJpeg(MakePhotographicImage(QSize(4000, 3000), quint32(i + 1)), {.Quality = 90, .DensityDpi = 72});
            writeFile(path, bytes);
        }
        set.push_back({path, bytes, 4 * EmuPerInch, 3 * EmuPerInch, true});
    }
    for (int i = 0; i < 5; ++i) {
        const QString path = QString("%1/screen%2.png").arg(dir).arg(i + 1);
        QByteArray bytes = readFile(path);
        if (bytes.isEmpty()) {
            bytes = png(MakeScreenshotImage(QSize(1920, 1080), quint32(i + 1)));
            writeFile(path, bytes);
        }
        // Shown at half its natural size (96 pixels per inch, no pHYs).
        set.push_back({path, bytes, 1920 / 2 * EmuPerInch / 96, 1080 / 2 * EmuPerInch / 96, false});
    }

    render(set.front()); // loads the image plug-ins before timing

    qint64 before = 0, after = 0, kept = 0, jpegBytes = 0;
    double jpegMs = 0;
    QElapsedTimer total;
    total.start();
    for (const TznBenchPicture& picture : set) {
        QElapsedTimer one;
        one.start();
        const TznRendered rendered = render(picture);
        const double ms = one.nsecsElapsed() / 1e6;
        before += picture.Bytes.size();
        after += rendered.Bytes.size();
        // The server keeps the original whenever the new one is not smaller.
        kept += std::min<qint64>(rendered.Bytes.size(), picture.Bytes.size());
        if (picture.Jpeg) {
            jpegMs += ms;
            jpegBytes += picture.Bytes.size();
        }
    }
    const double setMs = total.nsecsElapsed() / 1e6;

    double floorMs = 0;
    bool floorOk = true;
    for (const TznBenchPicture& picture : set) {
        if (!picture.Jpeg)
            continue;
        QElapsedTimer one;
        one.start();
        floorOk &= runQuiet({"djpeg", "-scale", "1/4", picture.Path.toStdString()}, nullptr) == 0;
        floorMs += one.nsecsElapsed() / 1e6;
    }

    printf("\nPicture set: %d photographic JPEGs of 4000 x 3000 shown at 4 x 3 in, 5 PNG screenshots of 1920 x 1080 "
           "shown at half size; 150 pixels per inch, quality 85\n", photos);
    printf("  time per set:        %10.1f ms (%.1f ms per picture)\n", setMs, setMs / set.size());
    printf("  input throughput:    %10.1f MB/s\n", before / 1e6 / (setMs / 1000));
    printf("  size before:         %10.2f MB\n", before / 1e6);
    printf("  size after:          %10.2f MB (%.1f %%), %.2f MB as encoded\n", kept / 1e6, 100.0 * kept / before,
           after / 1e6);
    printf("\nDecoding floor on the same %d JPEGs (%.1f MB):\n", photos, jpegBytes / 1e6);
    printf("  RenderPicture:       %10.1f ms\n", jpegMs);
    if (floorOk)
        printf("  djpeg -scale 1/4:    %10.1f ms\n  ratio:               %10.2f x (goal: at most 3 x)\n", floorMs,
               jpegMs / floorMs);
    else
        printf("  djpeg -scale 1/4:    not available (install libjpeg-turbo-progs)\n");

    const int failures = runMemory(dir);
    RunDocumentSets(dir, corpus, onlySet);
    return failures ? 1 : 0;
}
