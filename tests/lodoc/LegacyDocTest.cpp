#include "automation/znOle.h"
#include "lodoc/znLegacyOffice.h"
#include "platform/znError.h"
#include "platform/znTextFile.h"

#include "znTestBytes.h"
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

#include <algorithm>
#include <cstdio>

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

// The legacy corpus documents whose LibreOffice round trip changes how they look, with the
// start of what their result line says after "kept as it was: ": the render check keeps
// their source's bytes. Any other document kept fails the test, and so does a listed one
// that is compacted now, so that the table shrinks as the round trip improves.
struct TznKeptByTheCheck
{
    const char* name;  // as copied into the test's folder: the corpus path with "__" for "/"
    const char* why;
};
const TznKeptByTheCheck KeptByTheCheck[] = {
    {"node-word-extractor__test19.doc", "page 1 would look different, 12.5 dB"},
    {"phpword__docChinese.doc", "page 1 would look different, 25.0 dB"},
    {"poi__Bug47731.doc", "page 1 would look different, 14.6 dB"},
    // LibreOffice reads it through its programming interface or, when it gives up there,
    // through its command line, whose layouts differ: the page and figure vary.
    {"poi__FloatingPictures.doc", "page "},
    {"poi__Bug51890.doc", "page 1 would look different, 23.1 dB"},
    {"poi__ca.kwsymphony.www_education_School_Concert_Seat_Booking_Form_2011-12.doc", "page 1 would look different, 23.0 dB"},
    {"poi__header_image.doc", "page 1 would look different, 28.2 dB"},
    {"poi__testPictures.doc", "page 4 would look different, 20.5 dB"},
};

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
    // in the test's folder; it finds its module by itself.
    void start(QProcess& p, const QString& options, const QList<QPair<QString, QString>>& extraEnv = {})
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("LEAFPRESS_MODULE_DIR"));
        env.insert(QStringLiteral("TMPDIR"), tmp());
        for (const auto& [name, value] : extraEnv)
            env.insert(name, value);
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

    // Every result of names (in out/) opens in LibreOffice with its source's pages, each at
    // 30 dB or more at 100 dpi.
    void expectLooksLikeItsSource(const QStringList& names)
    {
        const QString pdfs = FDir.filePath(QStringLiteral("pdf"));
        QDir().mkpath(pdfs + QStringLiteral("/before"));
        QDir().mkpath(pdfs + QStringLiteral("/after"));
        QStringList sources, results;
        for (const QString& name : names) {
            sources << in(name);
            results << out(name);
        }
        const QStringList before = ConvertAllToPdf(sources, pdfs + QStringLiteral("/before"));
        const QStringList after = ConvertAllToPdf(results, pdfs + QStringLiteral("/after"));
        for (qsizetype i = 0; i < names.size(); ++i) {
            const std::string name = names[i].toStdString();
            ASSERT_FALSE(before[i].isEmpty()) << "LibreOffice cannot render the source " << name;
            QStringList differs;
            double lowest = 99;
            qsizetype pages = 0;
            if (after[i].isEmpty()) {
                differs << QStringLiteral("LibreOffice cannot open the result");
            } else {
                const QString prefix = QStringLiteral("/p%1-").arg(i);
                const QList<QImage> a = RenderPdfPages(before[i], pdfs + QStringLiteral("/before") + prefix, 100);
                const QList<QImage> b = RenderPdfPages(after[i], pdfs + QStringLiteral("/after") + prefix, 100);
                ASSERT_FALSE(a.isEmpty()) << name;
                pages = a.size();
                if (a.size() != b.size())
                    differs << QStringLiteral("%1 pages instead of %2").arg(b.size()).arg(a.size());
                for (qsizetype page = 0; page < std::min(a.size(), b.size()); ++page) {
                    const double psnr = PagePsnr(a[page], b[page]);
                    lowest = std::min(lowest, psnr);
                    if (psnr < 30.0)
                        differs << QStringLiteral("page %1 at %2 dB").arg(page + 1).arg(psnr, 0, 'f', 1);
                }
            }
            const QString figures = differs.join(QStringLiteral(", "));
            std::printf("%s: %d pages, lowest %.1f dB%s%s\n", name.c_str(), int(pages), lowest,
                        differs.isEmpty() ? "" : ": ", qPrintable(figures));
            EXPECT_TRUE(differs.isEmpty()) << name << ": " << figures.toStdString();
        }
    }

    QTemporaryDir FDir;
};

// Every legacy document of the corpus, two workers, results in the legacy format: the
// results the render check lets through look like their sources, the others end with
// their source's bytes.
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
    QStringList converted, kept;
    for (auto it = kindOf.cbegin(); it != kindOf.cend(); ++it) {
        const QString line = log.filter(QStringLiteral(" => ") + in(it.key()) + QStringLiteral(" => ")).value(0);
        const std::string what = line.toStdString();
        if (it.value() == QStringLiteral("encrypted")) {
            EXPECT_TRUE(line.startsWith(QStringLiteral("Failure")) && line.contains(QStringLiteral("encrypted with a password"))) << what;
        } else if (line.startsWith(QStringLiteral("Failure"))) {
            // Anything else may only be refused as damaged, or because LibreOffice itself
            // fails on it, saying how it ended.
            EXPECT_TRUE(line.contains(QStringLiteral("damaged")) || line.contains(QStringLiteral("LibreOffice failed while converting it: it ended")))
                << what;
        } else {
            ASSERT_TRUE(line.startsWith(QStringLiteral("Success"))) << what;
            // A legacy result, or the source's bytes where it would not be smaller (a Word 2
            // document of a few kilobytes comes back as a larger Word 97 one).
            EXPECT_TRUE(headOf(out(it.key()), 4) == QByteArray("\xD0\xCF\x11\xE0", 4)
                        || ReadBytes(out(it.key())) == ReadBytes(in(it.key()))) << what;
            const qsizetype why = line.indexOf(QStringLiteral(" (kept as it was: "));
            const auto listed = std::find_if(std::begin(KeptByTheCheck), std::end(KeptByTheCheck),
                                             [&](const TznKeptByTheCheck& k) { return it.key() == QLatin1String(k.name); });
            if (why >= 0) {
                std::printf("%s\n", qPrintable(line));
                EXPECT_EQ(ReadBytes(out(it.key())), ReadBytes(in(it.key()))) << what;
                if (listed == std::end(KeptByTheCheck))
                    ADD_FAILURE() << "kept by the check, but not in its table: " << what;
                else
                    EXPECT_TRUE(line.mid(why).startsWith(QStringLiteral(" (kept as it was: ") + QLatin1String(listed->why))) << what;
                kept << it.key();
                continue;
            }
            if (listed != std::end(KeptByTheCheck))
                ADD_FAILURE() << it.key().toStdString() << " is compacted now: take it out of the table (" << listed->why << ")";
            converted << it.key();
            const int percent = line.section(u'[', 1).section(u'%', 0, 0).toInt();
            if (percent < smallestPercent && QFileInfo(in(it.key())).size() > 100000) {
                smallestPercent = percent;
                smallest = it.key();
            }
        }
    }
    ASSERT_FALSE(smallest.isEmpty()) << "no document with pictures got smaller";
    EXPECT_LT(QFileInfo(out(smallest)).size(), QFileInfo(in(smallest)).size());
    for (const TznKeptByTheCheck& k : KeptByTheCheck)
        EXPECT_TRUE(kindOf.contains(QString::fromUtf8(k.name))) << k.name << " is no corpus document";
    std::printf("%d results kept by the check, %d compacted\n", int(kept.size()), int(converted.size()));
    RecordProperty("keptByTheCheck", int(kept.size()));
    expectLooksLikeItsSource(converted);
}

// With DocToDocx a real run writes a package under the source's name, which LibreOffice
// opens with the source's pages; the server shows the source's name for the converted
// document.
TEST_F(LegacyDocTest, DocToDocxWritesPackageAndKeepsSourceName)
{
    const QString name = QStringLiteral("testCroppedPictures.doc");
    ASSERT_TRUE(QFile::copy(CorpusDir() + QStringLiteral("/poi/testCroppedPictures.doc"), in(name)));
    QProcess p;
    start(p, QStringLiteral("ThreadsCount=1,DocToDocx=1"));
    ASSERT_TRUE(p.waitForFinished(300000));
    EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
    const QString console = QString::fromUtf8(p.readAllStandardOutput());
    const QString line = console.split(u'\n').filter(QStringLiteral(" => ") + in(name) + QStringLiteral(" => ")).value(0);
    EXPECT_TRUE(line.startsWith(QStringLiteral("Success"))) << console.toStdString();
    EXPECT_EQ(headOf(out(name), 4), QByteArray("PK\x03\x04"));
    QString err;
    EXPECT_TRUE(PythonDocxOpens(out(name), &err)) << err.toStdString();
    expectLooksLikeItsSource({name});

    TznVariant app = CreateAutomationObject(QStringLiteral("Word.Application"));
    TznVariant doc = OleCall(OleGet(app, QStringLiteral("Documents")), QStringLiteral("Open"),
                             {TznVariant(in(name)), TznVariant::Omitted(), TznVariant(false)});
    EXPECT_EQ(OleGet(doc, QStringLiteral("FullName")).ToText(), in(name));
    OleCall(doc, QStringLiteral("Close"), {TznVariant(false)});
    OleCall(app, QStringLiteral("Quit"), {TznVariant(false)});
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
    const qint64 pid = p.processId();
    ::kill(pid_t(pid), SIGKILL);
    p.waitForFinished();
    bool gone = false;
    for (int i = 0; i < 50 && !gone; ++i) {
        gone = officeProfilesUnder(tmp()).isEmpty();
        QThread::msleep(100);
    }
    EXPECT_TRUE(gone) << "an office instance outlived its killed owner";

    // Its scratch (profile, pipe socket) stays behind; the next run removes it.
    const QString killed = QStringLiteral("leafpress-%1-").arg(pid);
    const QStringList scratch = QDir(tmp()).entryList({QStringLiteral("leafpress-run-%1-*").arg(pid)}, QDir::Dirs);
    EXPECT_EQ(scratch.size(), 1) << "the killed run's scratch is not in one folder";
    QProcess next;
    start(next, QStringLiteral("ThreadsCount=1,DocToDocx=0"));
    ASSERT_TRUE(next.waitForFinished(120000));
    EXPECT_EQ(QDir(tmp()).entryList({QStringLiteral("leafpress-run-*")}, QDir::Dirs), QStringList());
    EXPECT_EQ(QDir(tmp()).entryList({QStringLiteral("leafpress-office-*"), QStringLiteral("leafpress-doc-*")}, QDir::Dirs),
              QStringList());
    EXPECT_EQ(QDir(QStringLiteral("/tmp")).entryList({QStringLiteral("OSL_PIPE_*_") + killed + u'*'}, QDir::System),
              QStringList());
}

// An instance killed while a conversion waits for it to start says so.
TEST_F(LegacyDocTest, InstanceKilledAtItsStartSaysSo)
{
    const QString program = FDir.filePath(QStringLiteral("soffice.bin"));
    ASSERT_TRUE(WriteBytes(program, "#!/bin/sh\nkill -KILL $$\n"));
    QFile::setPermissions(program, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
    const QString source = in(QStringLiteral("picture.doc"));
    ASSERT_TRUE(QFile::copy(CorpusDir() + QStringLiteral("/poi/picture.doc"), source));
    TznLegacyOffice office({program});
    try {
        office.Convert(source, FDir.filePath(QStringLiteral("r.docx")), TznOfficeFormat::Docx);
        ADD_FAILURE() << "a killed instance converted";
    } catch (const EznError& e) {
        EXPECT_EQ(e.Message(), QStringLiteral("Cannot open \"%1\": LibreOffice ended while converting (signal 9).").arg(source));
    }
}

// Without the module, or with it but without LibreOffice's UNO libraries (stood in for by
// an empty one that the loader finds first), a legacy document fails on its row saying
// what to install, and so does a package whose result Verify=True asks to render; the
// program itself runs without either, and no target is written.
TEST_F(LegacyDocTest, MissingModuleOrOfficeSaysWhatToInstall)
{
    struct TznRow
    {
        const char* name;
        const char* variable; // set for the run to a folder of the test's own
        const char* file;     // an empty file made in that folder, or none
        const char* says;
    };
    const TznRow rows[] = {
        {"NoModule", "LEAFPRESS_MODULE_DIR", nullptr, "LibreOffice module, which is missing"},
        {"NoOffice", "LD_LIBRARY_PATH", "libuno_sal.so.3", "UNO runtime cannot be loaded"},
    };
    const QString source = in(QStringLiteral("picture.doc"));
    ASSERT_TRUE(QFile::copy(CorpusDir() + QStringLiteral("/poi/picture.doc"), source));
    // A photograph shown at a quarter of its width: the result is smaller, and checked.
    const TznTestPicture picture = TestJpegPicture(1600, 1200, 4 * kEmuPerInch, 3 * kEmuPerInch);
    TznDocxBuilder builder;
    builder.Picture(picture);
    const QString package = in(QStringLiteral("photo.docx"));
    ASSERT_TRUE(builder.Save(package));
    for (const TznRow& row : rows) {
        SCOPED_TRACE(row.name);
        const QString folder = FDir.filePath(QString::fromLatin1(row.name));
        ASSERT_TRUE(QDir().mkpath(folder));
        if (row.file) {
            ASSERT_TRUE(WriteBytes(folder + u'/' + QLatin1String(row.file), {}));
        }
        QProcess p;
        start(p, QStringLiteral("ThreadsCount=1,DocToDocx=0,Verify=True"), {{QLatin1String(row.variable), folder}});
        ASSERT_TRUE(p.waitForFinished(120000));
        const QString console = QString::fromUtf8(p.readAllStandardOutput());
        const QString install = row.file ? QStringLiteral("apt install libreoffice-writer-nogui")
                                         : QStringLiteral("apt install --reinstall leafpress");
        const QString line = console.split(u'\n').filter(QStringLiteral(" => ") + source + QStringLiteral(" => ")).value(0);
        EXPECT_TRUE(line.startsWith(QStringLiteral("Failure")) && line.contains(QLatin1String(row.says))) << console.toStdString();
        EXPECT_TRUE(line.contains(install)) << line.toStdString();
        EXPECT_FALSE(QFileInfo::exists(out(QStringLiteral("picture.doc"))));
        const QString checked = console.split(u'\n').filter(QStringLiteral(" => ") + package + QStringLiteral(" => ")).value(0);
        EXPECT_TRUE(checked.startsWith(QStringLiteral("Failure => %1 => Cannot check \"%2\" (Verify): ").arg(package, out(QStringLiteral("photo.docx"))))
                    && checked.contains(QLatin1String(row.says)) && checked.contains(install))
            << checked.toStdString();
        EXPECT_FALSE(QFileInfo::exists(out(QStringLiteral("photo.docx"))));
    }
}

// Without the office the message says what to install. A conversion that cannot finish
// in its time (a text far too long to be read in it) fails naming the file and the
// time-out, its instance is ended, and the next document gets a new instance.
TEST_F(LegacyDocTest, MissingOfficeAndTimeOutFailClearly)
{
    const QString source = in(QStringLiteral("header_image.doc"));
    ASSERT_TRUE(QFile::copy(CorpusDir() + QStringLiteral("/poi/header_image.doc"), source));
    auto messageOf = [&](TznLegacyOffice& office, const QString& file, const QString& target) {
        try {
            office.Convert(file, FDir.filePath(target), TznOfficeFormat::Docx);
        } catch (const EznError& e) {
            return e.Message();
        }
        return QString();
    };
    TznLegacyOffice missing({QStringLiteral("/nonexistent/soffice.bin")});
    const QString none = messageOf(missing, source, QStringLiteral("r.docx"));
    EXPECT_TRUE(none.contains(source) && none.contains(QStringLiteral("apt install libreoffice-writer-nogui"))) << none.toStdString();

    TznLegacyOffice office({QString(), 8000});
    ASSERT_EQ(messageOf(office, source, QStringLiteral("r1.docx")), QString());
    const qint64 first = office.ProcessId();
    const QString firstProfile = office.ProfileFolder();
    ASSERT_NE(first, 0);
    // 40 MB of plain text: LibreOffice reads about a megabyte a second of it.
    const QString stuck = in(QStringLiteral("long.txt"));
    {
        QFile f(stuck);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        const QByteArray lines = QByteArray("A paragraph of plain text that LibreOffice reads one by one.\n").repeated(16384);
        for (int i = 0; i < 40; ++i)
            ASSERT_EQ(f.write(lines), lines.size());
    }
    const QString late = messageOf(office, stuck, QStringLiteral("r2.docx"));
    EXPECT_TRUE(late.contains(stuck) && late.contains(QStringLiteral("within 8 seconds"))) << late.toStdString();
    EXPECT_FALSE(office.IsRunning());
    EXPECT_FALSE(QFileInfo::exists(firstProfile)) << "the ended instance left its profile";
    EXPECT_NE(::kill(pid_t(first), 0), 0) << "the instance that timed out still runs";

    EXPECT_EQ(messageOf(office, source, QStringLiteral("r3.docx")), QString());
    EXPECT_NE(office.ProcessId(), first);
    EXPECT_NE(office.ProfileFolder(), firstProfile);
    EXPECT_TRUE(PythonDocxOpens(FDir.filePath(QStringLiteral("r3.docx"))));
}

} // namespace
