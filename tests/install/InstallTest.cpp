// Installs the build into a temporary prefix as `make install` does, makes
// the Debian package as `make package` does, and checks what a user's system
// would get: the files, their validity for the desktop's tools, and a program
// that compacts the bundled examples from where it was installed.

#include "znTestBytes.h"
#include "znTestDocx.h"
#include "znTestRequire.h"
#include "znTestRows.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>

namespace {

const QString appId = QStringLiteral(LP_APP_ID);

struct TznToolRun
{
    int status = -1; // -1: did not start, crashed or timed out
    QByteArray out, err;
};

TznToolRun runTool(const QString& program, const QStringList& args,
                   const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment(),
                   const QByteArray& input = {})
{
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(program, args);
    TznToolRun r;
    if (!p.waitForStarted(30000))
        return r;
    p.write(input);
    p.closeWriteChannel();
    if (!p.waitForFinished(300000)) {
        p.kill();
        p.waitForFinished();
        return r;
    }
    r.out = p.readAllStandardOutput();
    r.err = p.readAllStandardError();
    if (p.exitStatus() == QProcess::NormalExit)
        r.status = p.exitCode();
    return r;
}

// A tool that scripts/install-deps.sh installs; its absence fails the test.
QString requiredTool(const char* name)
{
    const QString path = QStandardPaths::findExecutable(QString::fromLatin1(name));
    EXPECT_FALSE(path.isEmpty()) << name << " is not installed: run scripts/install-deps.sh";
    return path;
}

// What the program's --version prints after its name.
QString programVersion(const QString& exe)
{
    const TznToolRun r = runTool(exe, {QStringLiteral("--version")});
    return QString::fromUtf8(r.out).trimmed().section(u' ', -1);
}

// Compacts a copy of the bundled examples with the program at exe, with a
// home, configuration folder and xdg-open of the test's own, so that nothing
// outside work is touched and no browser starts.
void compactExamples(const QString& exe, const QString& work)
{
    const QString in = work + QStringLiteral("/in");
    const QString out = work + QStringLiteral("/out");
    const QString fakeBin = work + QStringLiteral("/fake-bin");
    ASSERT_TRUE(QDir().mkpath(in) && QDir().mkpath(fakeBin));
    const QString opener = fakeBin + QStringLiteral("/xdg-open");
    ASSERT_TRUE(WriteBytes(opener, "#!/bin/sh\nprintf '%s\\n' \"$1\" >> \"$(dirname \"$0\")/links.txt\"\n"));
    QFile::setPermissions(opener, QFile::permissions(opener) | QFileDevice::ExeOwner);
    const QDir examples(QStringLiteral(LP_SOURCE_DIR "/examples/documents"));
    const QStringList names = examples.entryList({QStringLiteral("*.docx")}, QDir::Files, QDir::Name);
    ASSERT_EQ(names.size(), 3);
    for (const QString& name : names)
        ASSERT_TRUE(QFile::copy(examples.filePath(name), in + u'/' + name));

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), work);
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), work + QStringLiteral("/config"));
    env.insert(QStringLiteral("PATH"), fakeBin + u':' + env.value(QStringLiteral("PATH")));
    const TznToolRun r = runTool(
        exe, {QStringLiteral("-pPureConsole=1,Source=%1/*.doc?,Target=%2,ThreadsCount=2").arg(in, out)}, env);
    ASSERT_EQ(r.status, 0) << r.err.constData();
    const QString stdOut = QString::fromUtf8(r.out);
    EXPECT_EQ(stdOut.count(QStringLiteral("Success => ")), 3) << stdOut.toStdString();
    EXPECT_TRUE(stdOut.contains(QStringLiteral("3 documents, 3 converted, 0 skipped, 0 failed"))) << stdOut.toStdString();
    qint64 before = 0, after = 0;
    for (const QString& name : names) {
        const QFileInfo source(in + u'/' + name), target(out + u'/' + name);
        ASSERT_TRUE(target.exists()) << name.toStdString();
        EXPECT_LE(target.size(), source.size()) << name.toStdString();
        EXPECT_FALSE(ReadZipEntry(target.filePath(), QStringLiteral("word/document.xml")).isEmpty())
            << name.toStdString() << " has no main part";
        before += source.size();
        after += target.size();
    }
    EXPECT_LT(after, before) << "nothing was compacted";
    EXPECT_FALSE(QFile::exists(fakeBin + QStringLiteral("/links.txt"))) << "a run without failures opened a link";
}

// One file the install puts under the prefix, and so the package under /usr.
struct InstalledFile
{
    const char* name;
    QString path;     // relative to the prefix
    int iconSize = 0; // a PNG icon of that many pixels square
};

QString iconPath(int size)
{
    return QStringLiteral("share/icons/hicolor/%1x%1/apps/%2.png").arg(size).arg(appId);
}

const QList<InstalledFile>& installedFiles()
{
    static const QList<InstalledFile> files = {
        {"Program", QStringLiteral("bin/leafpress")},
        {"OfficeModule", QStringLiteral(LP_MODULE_DIR "/leafpress-lodoc.so")},
        {"DesktopEntry", QStringLiteral("share/applications/%1.desktop").arg(appId)},
        {"ScalableIcon", QStringLiteral("share/icons/hicolor/scalable/apps/%1.svg").arg(appId)},
        {"Icon16", iconPath(16), 16},
        {"Icon24", iconPath(24), 24},
        {"Icon32", iconPath(32), 32},
        {"Icon48", iconPath(48), 48},
        {"Icon64", iconPath(64), 64},
        {"Icon128", iconPath(128), 128},
        {"Icon256", iconPath(256), 256},
        {"Metainfo", QStringLiteral("share/metainfo/%1.metainfo.xml").arg(appId)},
        {"MimeType", QStringLiteral("share/mime/packages/%1.xml").arg(appId)},
        {"ManPage", QStringLiteral("share/man/man1/leafpress.1.gz")},
        {"Manual", QStringLiteral("share/doc/leafpress/leafpress.pdf")},
        {"Copyright", QStringLiteral("share/doc/leafpress/copyright")},
        {"LintianOverrides", QStringLiteral("share/lintian/overrides/leafpress")},
        {"Screenshot", QStringLiteral("share/leafpress/screenshots/main.png")},
    };
    return files;
}

// The build installed once into a temporary prefix, as `make install` does.
class InstallTest : public testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        FRoot = std::make_unique<QTemporaryDir>();
        const TznToolRun r = runTool(QStringLiteral(LP_CMAKE), {QStringLiteral("--install"), QStringLiteral(LP_BINARY_DIR),
                                                                QStringLiteral("--prefix"), prefix()});
        FInstalled = r.status == 0;
        FLog = r.out + r.err;
    }
    static void TearDownTestSuite() { FRoot.reset(); }
    void SetUp() override { ASSERT_TRUE(FInstalled) << "cmake --install failed:\n" << FLog.constData(); }

    static QString prefix(const QString& path = {})
    {
        return FRoot->path() + QStringLiteral("/prefix") + (path.isEmpty() ? QString() : u'/' + path);
    }
    static QString work(const char* name) { return FRoot->path() + u'/' + QString::fromLatin1(name); }

    static inline std::unique_ptr<QTemporaryDir> FRoot;
    static inline bool FInstalled = false;
    static inline QByteArray FLog;
};

class InstalledFileTest : public InstallTest, public testing::WithParamInterface<InstalledFile>
{
};

TEST_P(InstalledFileTest, IsInPlaceAndWhole)
{
    const InstalledFile& row = GetParam();
    const QFileInfo info(prefix(row.path));
    ASSERT_TRUE(info.isFile()) << row.path.toStdString();
    EXPECT_GT(info.size(), 0);
    EXPECT_EQ(info.isExecutable(), row.path.startsWith(QStringLiteral("bin/")));
    if (row.iconSize > 0) {
        EXPECT_EQ(QImage(info.filePath()).size(), QSize(row.iconSize, row.iconSize));
    }
    if (row.path.startsWith(QStringLiteral("share/leafpress/screenshots/"))) {
        const QImage shot(info.filePath());
        EXPECT_GE(shot.width(), 640) << "no picture of the window";
        EXPECT_GE(shot.height(), 400) << "no picture of the window";
    }
    if (row.path.endsWith(QStringLiteral(".pdf"))) {
        EXPECT_TRUE(ReadBytes(info.filePath()).startsWith("%PDF-"));
    }
    if (row.path.endsWith(QStringLiteral(".gz"))) {
        EXPECT_TRUE(ReadBytes(info.filePath()).startsWith("\x1f\x8b"));
    }
}

INSTANTIATE_TEST_SUITE_P(Files, InstalledFileTest, testing::ValuesIn(installedFiles()),
                         RowName());

TEST_F(InstallTest, InstalledProgramCompactsTheExamples)
{
    compactExamples(prefix(QStringLiteral("bin/leafpress")), work("run"));
}

// The installed program finds its LibreOffice module under its prefix and converts a
// legacy document through it.
TEST_F(InstallTest, InstalledProgramConvertsALegacyDocument)
{
    const QString source = QStringLiteral(LP_CORPUS_DIR "/poi/picture.doc");
    LP_SKIP_UNLESS(HasLibreOffice() && QFileInfo::exists(source)) << "LibreOffice or the corpus is missing";
    const QString in = work("legacy") + QStringLiteral("/in");
    ASSERT_TRUE(QDir().mkpath(in) && QFile::copy(source, in + QStringLiteral("/picture.doc")));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("LEAFPRESS_MODULE_DIR"));
    env.insert(QStringLiteral("HOME"), work("legacy"));
    const TznToolRun r = runTool(prefix(QStringLiteral("bin/leafpress")),
                                 {QStringLiteral("-pPureConsole=1,DocToDocx=0,Source=%1/*.doc,Target=%2").arg(in, work("legacy") + QStringLiteral("/out"))},
                                 env);
    EXPECT_EQ(r.status, 0) << r.err.constData();
    EXPECT_TRUE(r.out.contains("Success => ")) << r.out.constData();
    EXPECT_TRUE(ReadBytes(work("legacy") + QStringLiteral("/out/picture.doc")).startsWith("\xD0\xCF\x11\xE0"));
}

TEST_F(InstallTest, DesktopEntryIsValidAndNamesInstalledFiles)
{
    const QString entry = prefix(QStringLiteral("share/applications/%1.desktop").arg(appId));
    const TznToolRun r = runTool(requiredTool("desktop-file-validate"), {entry});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out + r.err, QByteArray());

    const QString text = QString::fromUtf8(ReadBytes(entry));
    const auto value = [&](const char* key) {
        const auto match = QRegularExpression(QStringLiteral("^%1=(.*)$").arg(QLatin1String(key)),
                                              QRegularExpression::MultilineOption)
                               .match(text);
        return match.captured(1);
    };
    EXPECT_TRUE(QFileInfo(prefix(QStringLiteral("bin/") + value("Exec").section(u' ', 0, 0))).isExecutable());
    // A file manager hands over every chosen file, not only the first.
    EXPECT_EQ(value("Exec"), QStringLiteral("leafpress %F"));
    // Desktops that rank the handlers of a type by InitialPreference (1
    // unless given) must rank the user's word processor first for documents.
    bool ranked = false;
    EXPECT_LT(value("InitialPreference").toInt(&ranked), 1);
    EXPECT_TRUE(ranked) << "no InitialPreference: the program may become the documents' default";
    EXPECT_TRUE(QFile::exists(prefix(QStringLiteral("share/icons/hicolor/scalable/apps/%1.svg").arg(value("Icon")))));
    // "Open with" offers the program for the three document kinds and its own projects.
    const QStringList types = value("MimeType").split(u';', Qt::SkipEmptyParts);
    for (const char* type : {"application/vnd.openxmlformats-officedocument.wordprocessingml.document",
                             "application/vnd.ms-word.document.macroEnabled.12", "application/msword",
                             "application/x-leafpress-project"})
        EXPECT_TRUE(types.contains(QLatin1String(type))) << type;
}

// The validator's issues, one "tag hint" per line, from its text report.
QStringList validatorIssues(const QByteArray& report)
{
    QStringList issues;
    const QStringList lines = QString::fromUtf8(report).split(u'\n');
    static const QRegularExpression issueLine(QStringLiteral("^[EWIP]: [^:]+:\\d+: (.*)$"));
    for (const QString& line : lines) {
        const auto match = issueLine.match(line);
        if (match.hasMatch())
            issues << match.captured(1);
        else if (!issues.isEmpty() && line.startsWith(QStringLiteral("     ")))
            issues.last() += u' ' + line.trimmed();
    }
    return issues;
}

// Issues of the metainfo that the file is not at fault for: the id keeps its
// capital letter (see the metainfo's comment), and a machine without network
// reaches no URL, which says nothing about the URL.
bool excusedIssue(const QString& issue)
{
    if (issue.startsWith(QStringLiteral("cid-contains-uppercase-letter ")))
        return true;
    static const QRegularExpression offline(
        QStringLiteral("^(url-not-reachable|screenshot-image-not-found) .* - Failed to download file: "
                       "(Could not resolve host|Couldn't resolve host|Couldn't connect to server|Failed to connect)"));
    return offline.match(issue).hasMatch();
}

TEST_F(InstallTest, MetainfoValidatesWithTheInstalledTree)
{
    // validate-tree checks the metainfo file and that its launchable desktop
    // entry is installed beside it.
    const TznToolRun r = runTool(requiredTool("appstreamcli"),
                                 {QStringLiteral("validate-tree"), QStringLiteral("--no-net"), prefix()});
    EXPECT_EQ(r.status, 0) << r.out.constData() << r.err.constData();
    const QString metainfoFile = prefix(QStringLiteral("share/metainfo/%1.metainfo.xml").arg(appId));
    const QString metainfo = QString::fromUtf8(ReadBytes(metainfoFile));
    EXPECT_TRUE(metainfo.contains(QStringLiteral("<release version=\"%1\"")
                                      .arg(programVersion(prefix(QStringLiteral("bin/leafpress"))))))
        << "the metainfo's release is not the program's version";
    // The screenshot entry names the picture the package installs.
    EXPECT_TRUE(metainfo.contains(QStringLiteral("/leafpress/screenshots/main.png</image>")));

    // Every hint counts, pedantic ones too, with and without the URL checks.
    for (const bool net : {false, true}) {
        QStringList args = {QStringLiteral("validate"), QStringLiteral("--pedantic"), QStringLiteral("--strict")};
        if (!net)
            args << QStringLiteral("--no-net");
        const TznToolRun v = runTool(requiredTool("appstreamcli"), args << metainfoFile);
        QStringList issues = validatorIssues(v.out + v.err);
        issues.removeIf(excusedIssue);
        EXPECT_TRUE(issues.isEmpty()) << (net ? "with" : "without") << " network checks:\n" << v.out.constData();
        ASSERT_NE(v.status, -1) << "appstreamcli did not run";
        if (!net) {
            EXPECT_EQ(v.status, 0) << v.out.constData();
        }
    }
}

TEST_F(InstallTest, ProjectFilesGetTheirOwnMimeType)
{
    const QString mime = prefix(QStringLiteral("share/mime"));
    const TznToolRun r = runTool(requiredTool("update-mime-database"), {mime});
    ASSERT_EQ(r.status, 0) << r.err.constData();
    EXPECT_TRUE(ReadBytes(mime + QStringLiteral("/globs2")).contains("application/x-leafpress-project:*.batch-docslim"));
    EXPECT_TRUE(QFile::exists(mime + QStringLiteral("/application/x-leafpress-project.xml")));
}

TEST_F(InstallTest, ManPageRendersWithoutWarningsAndNamesEveryProjectKey)
{
    const TznToolRun page = runTool(requiredTool("gzip"), {QStringLiteral("-dc"), prefix(QStringLiteral("share/man/man1/leafpress.1.gz"))});
    ASSERT_EQ(page.status, 0);
    const TznToolRun groff = runTool(requiredTool("groff"), {QStringLiteral("-man"), QStringLiteral("-ww"), QStringLiteral("-z")},
                                     QProcessEnvironment::systemEnvironment(), page.out);
    EXPECT_EQ(groff.status, 0);
    EXPECT_EQ(groff.err, QByteArray());

    // Every key of the manual's option table has its paragraph in the man page.
    const QString manual = QString::fromUtf8(ReadBytes(QStringLiteral(LP_SOURCE_DIR "/docs/manual.md.in")));
    const QString man = QString::fromUtf8(page.out);
    int keys = 0;
    auto it = QRegularExpression(QStringLiteral("^\\| `(\\w+)` \\|"), QRegularExpression::MultilineOption).globalMatch(manual);
    while (it.hasNext()) {
        const QString key = it.next().captured(1);
        ++keys;
        EXPECT_TRUE(man.contains(QStringLiteral("\n.BR %1 \"").arg(key))) << key.toStdString() << " is not in the man page";
    }
    EXPECT_GE(keys, 20);
    for (const char* section : {".SH SYNOPSIS", ".SH OPTIONS", ".SH PROJECT KEYS", ".SH EXIT STATUS", ".SH FILES", ".SH EXAMPLES"})
        EXPECT_TRUE(man.contains(QLatin1String(section))) << section;
}

// The package made once from the same install rules, as `make package` does.
class PackageTest : public InstallTest
{
protected:
    static void SetUpTestSuite()
    {
        InstallTest::SetUpTestSuite();
        const QString dir = work("package");
        const TznToolRun r = runTool(QStringLiteral(LP_CPACK), {QStringLiteral("-G"), QStringLiteral("DEB"), QStringLiteral("--config"),
                                                               QStringLiteral(LP_BINARY_DIR "/CPackConfig.cmake"), QStringLiteral("-B"), dir});
        const QStringList debs = QDir(dir).entryList({QStringLiteral("leafpress_*.deb")}, QDir::Files);
        if (r.status == 0 && debs.size() == 1)
            FDeb = dir + u'/' + debs.front();
        FPackLog = r.out + r.err;
    }
    void SetUp() override
    {
        InstallTest::SetUp();
        ASSERT_FALSE(FDeb.isEmpty()) << "cpack made no package:\n" << FPackLog.constData();
    }
    static QString field(const char* name)
    {
        return QString::fromUtf8(runTool(QStringLiteral("dpkg-deb"), {QStringLiteral("-f"), FDeb, QString::fromLatin1(name)}).out).trimmed();
    }

    static inline QString FDeb;
    static inline QByteArray FPackLog;
};

TEST_F(PackageTest, HoldsEveryInstalledFileUnderUsr)
{
    const TznToolRun r = runTool(requiredTool("dpkg-deb"), {QStringLiteral("-c"), FDeb});
    ASSERT_EQ(r.status, 0);
    const QString listing = QString::fromUtf8(r.out);
    for (const InstalledFile& file : installedFiles())
        EXPECT_TRUE(listing.contains(QStringLiteral(" ./usr/") + file.path + u'\n')) << file.name;
    EXPECT_TRUE(listing.contains(QRegularExpression(QStringLiteral("^-rwxr-xr-x root/root .* \\./usr/bin/leafpress$"),
                                                    QRegularExpression::MultilineOption)));
    EXPECT_FALSE(listing.contains(QStringLiteral("./usr/local/")));
}

TEST_F(PackageTest, ControlFieldsComeFromTheProgramAndItsLibraries)
{
    EXPECT_EQ(field("Package"), QStringLiteral("leafpress"));
    EXPECT_EQ(field("Version"), programVersion(prefix(QStringLiteral("bin/leafpress"))) + QStringLiteral("-" LP_DEB_REVISION));
    EXPECT_EQ(field("Section"), QStringLiteral("text"));
    const QString depends = field("Depends");
    for (const char* library : {"libc6", "libqt6core6", "libqt6widgets6", "libzip4", "libpugixml1v5", "libqt6svg6"})
        EXPECT_TRUE(depends.contains(QLatin1String(library))) << library << " missing from " << depends.toStdString();
    // The office's libraries are the LibreOffice module's, which only a .doc needs.
    EXPECT_FALSE(depends.contains(QStringLiteral("libuno"))) << depends.toStdString();
    EXPECT_TRUE(field("Recommends").contains(QStringLiteral("libreoffice-writer")));
    EXPECT_FALSE(field("Description").isEmpty());
}

// Debian's checker finds no error in the package: what it would call one
// and the program needs is explained in the package's overrides.
TEST_F(PackageTest, LintianFindsNoError)
{
    const TznToolRun r = runTool(requiredTool("lintian"), {QStringLiteral("--fail-on"), QStringLiteral("error"), FDeb});
    EXPECT_EQ(r.status, 0) << r.out.constData() << r.err.constData();
    EXPECT_FALSE(r.out.contains("\nE: ") || r.out.startsWith("E: ")) << r.out.constData();
}

// With its pedantic hints too, lintian names nothing the overrides do not
// explain: no bare initial upload in the changelog, no .comment section, the
// manual registered. Fortified C library functions need Debian's build flags
// (`make package` builds with them); a tree built without them may lack them.
TEST_F(PackageTest, LintianPedanticReportsOnlyTheBuildFlags)
{
    const TznToolRun r = runTool(requiredTool("lintian"),
                                 {QStringLiteral("--pedantic"), QStringLiteral("--display-info"), FDeb});
    ASSERT_NE(r.status, -1);
    QStringList tags;
    static const QRegularExpression tagLine(QStringLiteral("^[EWIPX]: leafpress[^:]*: (\\S+)"),
                                            QRegularExpression::MultilineOption);
    auto it = tagLine.globalMatch(QString::fromUtf8(r.out));
    while (it.hasNext())
        tags << it.next().captured(1);
    if (!QStringLiteral(LP_CXX_FLAGS).contains(QStringLiteral("-D_FORTIFY_SOURCE=")))
        tags.removeAll(QStringLiteral("hardening-no-fortify-functions"));
    EXPECT_TRUE(tags.isEmpty()) << r.out.constData();
}

TEST_F(PackageTest, UnpackedProgramCompactsTheExamples)
{
    const QString root = work("unpacked");
    ASSERT_EQ(runTool(QStringLiteral("dpkg-deb"), {QStringLiteral("-x"), FDeb, root}).status, 0);
    compactExamples(root + QStringLiteral("/usr/bin/leafpress"), work("package-run"));
}

} // namespace
