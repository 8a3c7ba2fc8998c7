// Drawings benchmark: how the compaction of one document grows with the
// number of its drawings.
//
// Builds four documents (one picture shown in N places, N different small
// pictures; N = 2,000 and 20,000 unless told otherwise), compacts each with
// the real program in a child process of its own, and prints per document
// the time, the peak resident memory (ru_maxrss of the child), the sizes
// before and after, and per kind the ratio of the times at the largest and
// the smallest N (linear growth gives the ratio of the N).
//
//   bench_drawings [--places 2000,20000] [--keep DIR] [--exe PATH] [--only same|different]

#include "znTestDocx.h"

#include <QBuffer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <cstdio>
#include <optional>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <vector>

extern char** environ;

namespace {

// One picture of 1,600 x 1,200 pixels shown at 2 x 1.5 inches in n places.
bool saveSamePicture(const QString& path, int n)
{
    TznTestPicture picture = TestJpegPicture(1600, 1200, 2 * kEmuPerInch, kEmuPerInch * 3 / 2);
    TznDocxBuilder builder;
    builder.Paragraph(QStringLiteral("One picture in %1 places.").arg(n));
    builder.Picture(picture);
    picture.SameMediaAs = 0;
    for (int i = 1; i < n; ++i)
        builder.Picture(picture);
    return builder.Save(path);
}

// n different JPEGs of 96 x 72 pixels, each shown at a quarter of an inch
// across (384 pixels per inch): every one is re-inserted.
bool saveDifferentPictures(const QString& path, int n)
{
    QImage base(96, 72, QImage::Format_RGB32);
    QRandomGenerator rng(7);
    for (int y = 0; y < base.height(); ++y)
        for (int x = 0; x < base.width(); ++x)
            base.setPixel(x, y, qRgb(x * 255 / 95, y * 255 / 71, int(rng.bounded(256))));
    TznDocxBuilder builder;
    builder.Paragraph(QStringLiteral("%1 different pictures.").arg(n));
    for (int i = 0; i < n; ++i) {
        QImage image = base;
        // A block of its own makes each picture's bytes differ.
        for (int y = 0; y < 8; ++y)
            for (int x = 0; x < 8; ++x)
                image.setPixel((i % 12) * 8 + x, (i / 12 % 9) * 8 + y, qRgb(i % 256, i / 256 % 256, i / 65536 % 256));
        QByteArray bytes;
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        image.save(&buffer, "JPEG", 85);
        TznTestPicture picture;
        picture.Bytes = bytes;
        picture.Extension = QStringLiteral("jpeg");
        picture.Cx = kEmuPerInch / 4;
        picture.Cy = kEmuPerInch * 3 / 16;
        builder.Picture(picture);
    }
    return builder.Save(path);
}

struct TznChildRun
{
    bool Ok = false;
    int ExitCode = -1;
    double Seconds = 0;
    long PeakKb = 0;
};

// Runs the program on one document in a child process: wall time and the
// child's peak resident memory.
TznChildRun compact(const QString& exe, const QString& source, const QString& target, const QString& log)
{
    const QByteArray options = QStringLiteral("-pPureConsole=1,ThreadsCount=1,IsOverwrite=1,Source=%1,Target=%2,LogFile=%3")
                                   .arg(source, target, log)
                                   .toUtf8();
    const QByteArray program = QFile::encodeName(exe);
    char* argv[] = {const_cast<char*>(program.constData()), const_cast<char*>(options.constData()), nullptr};
    TznChildRun run;
    QElapsedTimer clock;
    clock.start();
    pid_t pid = 0;
    if (posix_spawn(&pid, program.constData(), nullptr, nullptr, argv, environ) != 0)
        return run;
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) != pid)
        return run;
    run.Seconds = clock.nsecsElapsed() / 1e9;
    run.PeakKb = usage.ru_maxrss;
    run.Ok = WIFEXITED(status);
    run.ExitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return run;
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QList<int> places = {2000, 20000};
    QString keep, exe = QStringLiteral(LP_BENCH_EXE), only;
    const QStringList args = app.arguments();
    for (int i = 1; i + 1 < args.size(); i += 2) {
        if (args[i] == QLatin1String("--places")) {
            places.clear();
            for (const QString& n : args[i + 1].split(QLatin1Char(',')))
                places << n.toInt();
        } else if (args[i] == QLatin1String("--keep")) {
            keep = args[i + 1];
        } else if (args[i] == QLatin1String("--exe")) {
            exe = args[i + 1];
        } else if (args[i] == QLatin1String("--only")) {
            only = args[i + 1];
        }
    }
    QTemporaryDir temp;
    const QString dir = keep.isEmpty() ? temp.path() : keep;
    QDir().mkpath(dir + QStringLiteral("/in"));
    QDir().mkpath(dir + QStringLiteral("/bin"));
    // The program writes its usage store beside itself and opens its error
    // report through xdg-open: both stay in the benchmark's folder.
    const QString copy = dir + QStringLiteral("/bin/leafpress");
    QFile::remove(copy);
    if (!QFile::copy(exe, copy)) {
        std::fprintf(stderr, "cannot copy %s\n", qPrintable(exe));
        return 1;
    }
    const QString opener = dir + QStringLiteral("/bin/xdg-open");
    QFile f(opener);
    if (f.open(QIODevice::WriteOnly))
        f.write("#!/bin/sh\nexit 0\n");
    f.close();
    QFile::setPermissions(opener, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    qputenv("PATH", (dir + QStringLiteral("/bin:")).toUtf8() + qgetenv("PATH"));

    struct TznKind { const char* Name; bool (*Save)(const QString&, int); };
    const TznKind kinds[] = {{"same", saveSamePicture}, {"different", saveDifferentPictures}};
    for (const TznKind& kind : kinds) {
        if (!only.isEmpty() && only != QLatin1String(kind.Name))
            continue;
        std::vector<std::pair<int, double>> times;
        for (int n : places) {
            const QString name = QStringLiteral("%1-%2.docx").arg(QLatin1String(kind.Name)).arg(n);
            const QString source = dir + QStringLiteral("/in/") + name;
            if (!QFileInfo::exists(source) && !kind.Save(source, n)) {
                std::fprintf(stderr, "cannot build %s\n", qPrintable(source));
                return 1;
            }
            const QString target = dir + QStringLiteral("/out-") + QLatin1String(kind.Name) + QString::number(n);
            QDir(target).removeRecursively();
            QDir().mkpath(target);
            const QString log = dir + QStringLiteral("/") + name + QStringLiteral(".log");
            QFile::remove(log);
            const TznChildRun run = compact(copy, source, target, log);
            QFile logFile(log);
            const QByteArray logText = logFile.open(QIODevice::ReadOnly) ? logFile.readAll().trimmed() : QByteArray();
            const qint64 before = QFileInfo(source).size(), after = QFileInfo(target + QLatin1Char('/') + name).size();
            std::printf("%-9s %6d places: %8.2f s  peak %7.1f MB  %8.2f MB -> %8.2f MB  exit %d  %s\n", kind.Name, n, run.Seconds,
                        run.PeakKb / 1024.0, before / 1e6, after / 1e6, run.ExitCode, logText.left(80).constData());
            std::fflush(stdout);
            if (run.Ok && run.ExitCode == 0)
                times.emplace_back(n, run.Seconds);
        }
        if (times.size() >= 2 && times.front().second > 0)
            std::printf("%-9s time at %d / time at %d: %.1f (linear: %.1f)\n", kind.Name, times.back().first, times.front().first,
                        times.back().second / times.front().second, double(times.back().first) / times.front().first);
    }
    return 0;
}
