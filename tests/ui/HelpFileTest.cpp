#include "app/znVersion.h"
#include "znTestRequire.h"

#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QString>

#include <gtest/gtest.h>

namespace {

const char* const optionKeys[] = {
    "Source", "Subdir", "Target", "ThreadsCount", "IsOverwrite", "KeepFileTime", "KeepTargetSubdirs",
    "DeleteSource", "RenameSource", "RunAndClose", "Daemon", "PureConsole", "LogFile", "RegExt",
    "SkipHidden", "AppVisible", "ReadOnly", "SkipPassword", "DocToDocx", "Type", "Resolution", "Quality",
    "Recompress", "Verify", "VerifyPsnr", "SubsetFonts",
};

QString readAll(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

TEST(HelpFileTest, ManualDescribesEveryOptionAndBothLogFormats)
{
    const QString manual = readAll(QStringLiteral(LP_BINARY_DIR "/share/doc/manual.md"));
    ASSERT_FALSE(manual.isEmpty());
    EXPECT_TRUE(manual.contains(QStringLiteral("\nVersion %1\n").arg(QLatin1String(ProductVersion))));
    for (const char* key : optionKeys)
        EXPECT_TRUE(manual.contains(QStringLiteral("| `%1` |").arg(QLatin1String(key))))
            << key << " has no row in the option table";
    EXPECT_TRUE(manual.contains(QStringLiteral("%s => %s => %s")));
    EXPECT_TRUE(manual.contains(QStringLiteral("[%s] => %s => %s")));
}

TEST(HelpFileTest, HelpFileIsBuiltBesideTheProgram)
{
    const QString pdf = QStringLiteral(LP_BINARY_DIR "/bin/leafpress.pdf");
    QFile file(pdf);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << "missing " << pdf.toStdString();
    EXPECT_TRUE(file.read(5) == "%PDF-");

    const QString pdftotext = QStandardPaths::findExecutable(QStringLiteral("pdftotext"));
    LP_SKIP_UNLESS(!pdftotext.isEmpty()) << "pdftotext not installed";
    QProcess process;
    process.start(pdftotext, {pdf, QStringLiteral("-")});
    ASSERT_TRUE(process.waitForFinished(30000));
    const QString text = QString::fromUtf8(process.readAllStandardOutput());
    for (const char* key : optionKeys)
        EXPECT_TRUE(text.contains(QLatin1String(key))) << key << " missing from the rendered help file";
}

} // namespace
