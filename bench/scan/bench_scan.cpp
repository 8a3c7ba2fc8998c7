// Builds a tree of 50,000 files in 500 folders in a temporary folder, lists
// it with a batch (mask "*.doc?", sub-folders, a RegExt) and with find
// using the same filter, and prints both times, their ratio and the files
// per second of the batch.

#include "engine/znBatch.h"
#include "engine/znMatch.h"
#include "project/znProject.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdio>

#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr int kTop = 20;
constexpr int kSub = 25; // 20 x 25 = 500 folders
constexpr int kFilesPerFolder = 100;

void touch(const QString& path)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd >= 0)
        ::close(fd);
}

// Per folder: ten documents (one of them hidden, one a lock file, every
// third one outside the RegExt) and ninety other files.
int buildTree(const QString& root)
{
    static const char* others[] = {".txt", ".pdf", ".jpg", ".xlsx", ".dot", ".docxx", ".doc.bak", ".png", ".odt"};
    int files = 0;
    for (int t = 0; t < kTop; ++t) {
        for (int s = 0; s < kSub; ++s) {
            const QString folder = QStringLiteral("%1/top%2/sub%3/").arg(root).arg(t, 2, 10, QChar(u'0')).arg(s, 2, 10, QChar(u'0'));
            QDir().mkpath(folder);
            for (int i = 0; i < kFilesPerFolder; ++i) {
                QString name;
                if (i < 10) {
                    const QString ext = i % 2 ? QStringLiteral(".docx") : QStringLiteral(".doc");
                    if (i == 0)
                        name = QStringLiteral(".hidden%1").arg(i) + ext;
                    else if (i == 1)
                        name = QStringLiteral("~$lock%1").arg(i) + ext;
                    else
                        name = (i % 3 ? QStringLiteral("report%1") : QStringLiteral("draft%1")).arg(i) + ext;
                } else {
                    name = QStringLiteral("file%1").arg(i) + QString::fromLatin1(others[i % 9]);
                }
                touch(folder + name);
                ++files;
            }
        }
        // One hidden folder per top folder, never entered.
        const QString hidden = QStringLiteral("%1/top%2/.cache/").arg(root).arg(t, 2, 10, QChar(u'0'));
        QDir().mkpath(hidden);
        touch(hidden + "skipped.docx");
    }
    return files;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    TznProject project;
    Project = &project;
    TznMatch matcher;
    Matcher = &matcher;
    SkipLockFiles = true;
    project.SetOption("RegExt", "report");

    QTemporaryDir dir;
    if (!dir.isValid()) {
        std::fprintf(stderr, "cannot create a temporary folder\n");
        return 1;
    }
    QElapsedTimer timer;
    timer.start();
    const int files = buildTree(dir.path());
    std::printf("tree: %d files in %d folders, built in %lld ms\n", files, kTop * kSub, timer.elapsed());

    // A first listing of each warms the file-system cache alike.
    qint64 batchMs = 0;
    int listed = 0;
    for (int round = 0; round < 2; ++round) {
        timer.restart();
        TznBatch batch;
        batch.StartScan(dir.path() + "/*.doc?", dir.path() + "/out", true);
        batch.WaitFor();
        batchMs = timer.elapsed();
        listed = batch.NodeCount();
    }

    // find with the same filter: hidden folders pruned, lock files left
    // out, "*.doc" or "*.doc?" without regard to case, "report" in the path.
    const QStringList findArgs = {dir.path(), "-mindepth", "1", "-type", "d", "-name", ".*", "-prune", "-o",
                                  "-type", "f", "(", "-iname", "*.doc", "-o", "-iname", "*.doc?", ")",
                                  "!", "-name", "~$*", "-ipath", "*report*", "-print"};
    qint64 findMs = 0;
    int found = 0;
    for (int round = 0; round < 2; ++round) {
        timer.restart();
        QProcess find;
        find.start("find", findArgs);
        find.waitForFinished(-1);
        findMs = timer.elapsed();
        found = find.readAllStandardOutput().count('\n');
    }

    std::printf("batch: %d files listed in %lld ms (%.0f files/s over %d entries)\n", listed, batchMs,
                batchMs > 0 ? files * 1000.0 / batchMs : 0.0, files);
    std::printf("find:  %d files listed in %lld ms\n", found, findMs);
    std::printf("ratio batch/find: %.2f\n", findMs > 0 ? double(batchMs) / double(findMs) : 0.0);
    if (listed != found)
        std::printf("warning: the two listings differ\n");
    Matcher = nullptr;
    Project = nullptr;
    return 0;
}
