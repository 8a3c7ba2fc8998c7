#include "UiTestSupport.h"

#include "app/znVersion.h"
#include "info/znInfo.h"
#include "platform/znApp.h"
#include "platform/znShell.h"
#include "platform/znTextFile.h"
#include "project/znProject.h"
#include "ui/znWindowStartup.h"

#include <QApplication>
#include <QDir>
#include <QTimer>

namespace {

// One application object for the whole test program, of the window's own
// kind so that its error handling is the one under test.
class TznUiEnvironment : public ::testing::Environment
{
public:
    void SetUp() override
    {
        static int argc = 1;
        static char name[] = "test_ui";
        static char* argv[] = {name, nullptr};
        if (!QApplication::instance())
            FApp = std::make_unique<TznApplication>(argc, argv);
    }
    void TearDown() override { FApp.reset(); }

private:
    std::unique_ptr<TznApplication> FApp;
};

const auto* const environment = ::testing::AddGlobalTestEnvironment(new TznUiEnvironment);

} // namespace

bool TznScriptedDialogs::answer(QString& value)
{
    if (FAnswers.empty())
        return false;
    const Answer next = FAnswers.front();
    FAnswers.pop_front();
    if (next.ok)
        value = next.value;
    return next.ok;
}

bool TznScriptedDialogs::BrowseForFolder(QString& folder)
{
    FCalls.push_back({QStringLiteral("folder"), {}, folder, {}, false});
    return answer(folder);
}

bool TznScriptedDialogs::OpenFileDialog(const QString& filter, QString& path, bool multiple)
{
    FCalls.push_back({QStringLiteral("open"), filter, path, {}, multiple});
    return answer(path);
}

bool TznScriptedDialogs::SaveFileDialog(const QString& filter, const QString& defaultExt, QString& path)
{
    FCalls.push_back({QStringLiteral("save"), filter, path, defaultExt, false});
    return answer(path);
}

void UiTest::SetUp()
{
    ASSERT_TRUE(FTemp.isValid());
    App = new TznApp(TempPath(QStringLiteral("leafpress")), {});
    Info = new TznInfo;
    Project = new TznProject;
    Project->FileMask = QStringLiteral("*.doc?");
    Project->SourceFilter = QStringLiteral("Word Document (*.doc;*.docx)|*.doc;*.docx");
    Project->ProductCode = QStringLiteral("docslim");
    Project->ProjectExt = QStringLiteral(".batch-docslim");
    Project->ProjectFilter = QStringLiteral("Leafpress Project|*.batch-docslim");
    Project->Title = QStringLiteral("Leafpress Compactor");
    Project->OverwriteDefault = false;
    Project->Version = QString::fromLatin1(ProductVersion);
    FShell = std::make_unique<TznRecordingShell>();
    SetShell(FShell.get());
}

void UiTest::TearDown()
{
    SetDialogs(nullptr);
    SetShell(nullptr);
    delete Project;
    Project = nullptr;
    delete Info;
    Info = nullptr;
    delete App;
    App = nullptr;
}

QString UiTest::TempPath(const QString& name) const
{
    return QDir::toNativeSeparators(FTemp.filePath(name));
}

QString UiTest::WriteFile(const QString& name, const QStringList& lines) const
{
    const QString path = TempPath(name);
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        for (const QString& line : lines)
            file.write((line + QStringLiteral("\r\n")).toUtf8());
    return path;
}

void WhenModal(std::function<void()> fn)
{
    QTimer::singleShot(0, QApplication::instance(), std::move(fn));
}
