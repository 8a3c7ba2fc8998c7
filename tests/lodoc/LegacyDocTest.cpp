#include "automation/znOle.h"
#include "lodoc/znLegacyOffice.h"
#include "platform/znTextFile.h"

#include "znTestDocx.h"
#include "znTestRequire.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSet>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include <signal.h>

namespace {

QByteArray headOf(const QString& path, int n)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.read(n) : QByteArray();
}

// The user profiles of the running LibreOffice processes whose profile lies under folder.
QSet<QString> officeProfilesUnder(const QString& folder)
{
    QSet<QString> profiles;
    for (const QString& pid : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        QFile f(QStringLiteral("/proc/%1/cmdline").arg(pid));
        if (!f.open(QIODevice::ReadOnly))
            continue;
        const QList<QByteArray> args = f.readAll().split('\0');
        if (args.isEmpty() || !args[0].endsWith("soffice.bin"))
            continue;
        for (const QByteArray& a : args)
            if (a.startsWith("-env:UserInstallation=") && a.contains(folder.toUtf8()))
                profiles.insert(QString::fromUtf8(a));
    }
    return profiles;
}

// The corpus's legacy documents and what its manifest says each is.
QList<QPair<QString, QString>> corpusDocs()
{
    QList<QPair<QString, QString>> docs;
    const auto text = ReadTextFile(CorpusDir() + QStringLiteral("/MANIFEST.tsv"));
    if (!text)
        return docs;
    for (const QString& line : SplitLines(*text)) {
        const QStringList f = line.split(u'\t');
        if (f.size() > 6 && f[0].endsWith(QStringLiteral(".doc")))
            docs.append({f[0], f[6]});
    }
    return docs;
}

class LegacyDocTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        LP_SKIP_UNLESS(!TznLegacyOffice::InstalledProgram().isEmpty() && !CorpusDir().isEmpty()) << "LibreOffice or the corpus is missing";
        ASSERT_TRUE(FDir.isValid());
        QDir(FDir.path()).mkpath(QStringLiteral("in"));
        QDir(FDir.path()).mkpath(QStringLiteral("tmp"));
    }
    QString in(const QString& name) const { return FDir.filePath(QStringLiteral("in/") + name); }
    QString out(const QString& name) const { return FDir.filePath(QStringLiteral("out/") + name); }
    QString tmp() const { return FDir.filePath(QStringLiteral("tmp")); }

    // The real program over in/*.doc?, its temporary files (and so the office profiles)
    // in the test's folder.
    void start(QProcess& p, const QString& options)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("TMPDIR"), tmp());
        p.setProcessEnvironment(env);
        p.start(QStringLiteral(LP_EXE_PATH),
                {QStringLiteral("-pPureConsole=1,IsOverwrite=1,%1,Source=%2,Target=%3,LogFile=%4")
                     .arg(options, in(QStringLiteral("*.doc?")), FDir.filePath(QStringLiteral("out")),
                          FDir.filePath(QStringLiteral("run.log")))});
        ASSERT_TRUE(p.waitForStarted());
    }
    QStringList logLines() const
    {
        const auto text = ReadTextFile(FDir.filePath(QStringLiteral("run.log")));
        return text ? SplitLines(*text) : QStringList();
    }

    QTemporaryDir FDir;
};

// Every legacy document of the corpus, two workers, results in the legacy format.
TEST_F(LegacyDocTest, CorpusDocsEndWithTwoOwnInstances)
{
    QHash<QString, QString> kindOf;
    for (const auto& [rel, kind] : corpusDocs()) {
        const QString name = QString(rel).replace(u'/', QStringLiteral("__"));
        ASSERT_TRUE(QFile::copy(CorpusDir() + u'/' + rel, in(name)));
        kindOf.insert(name, kind);
    }
    ASSERT_GE(kindOf.size(), 10);

    QProcess p;
    start(p, QStringLiteral("ThreadsCount=2,DocToDocx=0"));
    QSet<QString> profiles;
    QByteArray console;
    qsizetype together = 0;
    while (!p.waitForFinished(200)) {
        const QSet<QString> now = officeProfilesUnder(tmp());
        together = qMax(together, now.size());
        profiles.unite(now);
        console += p.readAllStandardOutput();
    }
    console += p.readAllStandardOutput();
    EXPECT_EQ(p.exitCode(), 0);
    // Two instances side by side; an instance that failed is replaced by one with a new profile.
    EXPECT_EQ(together, 2) << "each worker runs an instance with a profile of its own";
    EXPECT_GE(profiles.size(), 2);
    EXPECT_TRUE(officeProfilesUnder(tmp()).isEmpty()) << "an office instance outlived the run";
    EXPECT_TRUE(QDir(tmp()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).isEmpty());

    // The result lines as the runner prints them.
    const QStringList log = QString::fromUtf8(console).split(u'\n').filter(QStringLiteral(" => "));
    EXPECT_EQ(log.size(), kindOf.size());
    QString smallest;
    int smallestPercent = 100;
    for (auto it = kindOf.cbegin(); it != kindOf.cend(); ++it) {
        const QString line = log.filter(QStringLiteral(" => ") + in(it.key()) + QStringLiteral(" => ")).value(0);
        const std::string what = line.toStdString();
        if (it.value() == QStringLiteral("encrypted")) {
            EXPECT_TRUE(line.startsWith(QStringLiteral("Failure")) && line.contains(QStringLiteral("encrypted with a password"))) << what;
        } else if (line.startsWith(QStringLiteral("Failure"))) {
            // Anything else may only be refused as damaged, or because LibreOffice itself
            // fails on it (it aborts on one corpus document, also when run by hand).
            EXPECT_TRUE(line.contains(QStringLiteral("damaged")) || line.contains(QStringLiteral("LibreOffice failed"))) << what;
        } else {
            ASSERT_TRUE(line.startsWith(QStringLiteral("Success"))) << what;
            EXPECT_EQ(headOf(out(it.key()), 4), QByteArray("\xD0\xCF\x11\xE0", 4)) << what;
            const int percent = line.section(u'[', 1).section(u'%', 0, 0).toInt();
            if (percent < smallestPercent && QFileInfo(in(it.key())).size() > 100000) {
                smallestPercent = percent;
                smallest = it.key();
            }
        }
    }
    ASSERT_FALSE(smallest.isEmpty()) << "no document with pictures got smaller";
    EXPECT_LT(QFileInfo(out(smallest)).size(), QFileInfo(in(smallest)).size());

    // The smallest result opens in LibreOffice and looks like its source.
    const QString pdfs = FDir.filePath(QStringLiteral("pdf"));
    QDir().mkpath(pdfs + QStringLiteral("/before"));
    QDir().mkpath(pdfs + QStringLiteral("/after"));
    const QString before = ConvertToPdf(in(smallest), pdfs + QStringLiteral("/before"));
    const QString after = ConvertToPdf(out(smallest), pdfs + QStringLiteral("/after"));
    ASSERT_FALSE(before.isEmpty());
    ASSERT_FALSE(after.isEmpty()) << "LibreOffice cannot open " << smallest.toStdString();
    const QList<QImage> a = RenderPdfPages(before, pdfs + QStringLiteral("/before/p"), 100);
    const QList<QImage> b = RenderPdfPages(after, pdfs + QStringLiteral("/after/p"), 100);
    ASSERT_EQ(a.size(), b.size()) << smallest.toStdString();
    for (qsizetype i = 0; i < a.size(); ++i)
        EXPECT_GE(PagePsnr(a[i], b[i]), 30.0) << smallest.toStdString() << " page " << i + 1;
}

// With DocToDocx the target keeps its name and holds a package; the server shows the
// source's name for the converted document.
TEST_F(LegacyDocTest, DocToDocxWritesPackageAndKeepsSourceName)
{
    const QString source = in(QStringLiteral("header_image.doc"));
    ASSERT_TRUE(QFile::copy(CorpusDir() + QStringLiteral("/poi/header_image.doc"), source));
    QDir().mkpath(FDir.filePath(QStringLiteral("out")));
    {
        TznVariant app = CreateAutomationObject(QStringLiteral("Word.Application"));
        TznVariant doc = OleCall(OleGet(app, QStringLiteral("Documents")), QStringLiteral("Open"),
                                 {TznVariant(source), TznVariant::Omitted(), TznVariant(false)});
        EXPECT_EQ(OleGet(doc, QStringLiteral("FullName")).ToText(), source);
        OleCall(doc, QStringLiteral("SaveAs"), {TznVariant(out(QStringLiteral("header_image.doc")))});
        OleCall(doc, QStringLiteral("Close"), {TznVariant(false)});
        OleCall(app, QStringLiteral("Quit"), {TznVariant(false)});
    }
    QString err;
    EXPECT_TRUE(PythonDocxOpens(out(QStringLiteral("header_image.doc")), &err)) << err.toStdString();
}

// A run that is killed takes its office instance with it.
TEST_F(LegacyDocTest, KilledRunLeavesNoOffice)
{
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(QFile::copy(CorpusDir() + QStringLiteral("/poi/testPictures.doc"), in(QStringLiteral("p%1.doc").arg(i))));
    QProcess p;
    start(p, QStringLiteral("ThreadsCount=1,DocToDocx=0"));
    bool seen = false;
    for (int i = 0; i < 600 && !seen; ++i) {
        seen = !officeProfilesUnder(tmp()).isEmpty();
        QThread::msleep(100);
    }
    ASSERT_TRUE(seen) << "no office instance was started";
    ::kill(pid_t(p.processId()), SIGKILL);
    p.waitForFinished();
    bool gone = false;
    for (int i = 0; i < 50 && !gone; ++i) {
        gone = officeProfilesUnder(tmp()).isEmpty();
        QThread::msleep(100);
    }
    EXPECT_TRUE(gone) << "an office instance outlived its killed owner";
}

// Without the office the message says what to install; a conversion over its time fails
// naming the file and the time-out, and the next conversion gets a new instance.
TEST_F(LegacyDocTest, MissingOfficeAndTimeOutFailClearly)
{
    const QString source = in(QStringLiteral("picture.doc"));
    ASSERT_TRUE(QFile::copy(CorpusDir() + QStringLiteral("/poi/picture.doc"), source));
    auto messageOf = [&](TznLegacyOffice& office) {
        try {
            office.Convert(source, FDir.filePath(QStringLiteral("r.docx")), TznOfficeFormat::Docx);
        } catch (const EznError& e) {
            return e.Message();
        }
        return QString();
    };
    TznLegacyOffice missing({QStringLiteral("/nonexistent/soffice.bin")});
    const QString none = messageOf(missing);
    EXPECT_TRUE(none.contains(source) && none.contains(QStringLiteral("apt install libreoffice-writer-nogui"))) << none.toStdString();

    TznLegacyOffice hasty({QString(), 1000});
    const QString late = messageOf(hasty);
    if (!late.isEmpty()) {
        EXPECT_TRUE(late.contains(source) && late.contains(QStringLiteral("within 1 seconds"))) << late.toStdString();
        EXPECT_FALSE(hasty.IsRunning());
    }
}

} // namespace
