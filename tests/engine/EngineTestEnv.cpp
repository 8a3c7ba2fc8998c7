#include "EngineTestEnv.h"

#include "engine/znMatch.h"

#include <QCoreApplication>
#include <QFile>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

namespace {

// The process-wide objects the engine relies on: an application object for
// main-thread calls, the project and the matcher.
class TznEngineEnvironment : public testing::Environment
{
public:
    void SetUp() override
    {
        static int argc = 1;
        static char name[] = "test_engine";
        static char* argv[] = {name, nullptr};
        FApp = new QCoreApplication(argc, argv);
        Project = new TznProject();
        Project->ProductCode = QStringLiteral("docslim");
        Project->OverwriteDefault = false;
        Matcher = new TznMatch();
    }
    void TearDown() override
    {
        delete Matcher;
        Matcher = nullptr;
        delete Project;
        Project = nullptr;
        delete FApp;
    }

private:
    QCoreApplication* FApp = nullptr;
};

const auto* registered = testing::AddGlobalTestEnvironment(new TznEngineEnvironment);

} // namespace

QString FastTempTemplate()
{
    const QFileInfo shm(QStringLiteral("/dev/shm"));
    if (shm.isDir() && shm.isWritable())
        return QStringLiteral("/dev/shm/test_engine-XXXXXX");
    return QDir::tempPath() + QStringLiteral("/test_engine-XXXXXX");
}

void MakeFiles(const QString& root, const QStringList& relativePaths)
{
    QString lastFolder;
    for (const QString& rel : relativePaths) {
        const QString path = root + u'/' + rel;
        const QString folder = QFileInfo(path).absolutePath();
        if (folder != lastFolder) {
            QDir().mkpath(folder);
            lastFolder = folder;
        }
        const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd < 0)
            ADD_FAILURE() << "cannot create " << path.toStdString();
        else
            ::close(fd);
    }
}
