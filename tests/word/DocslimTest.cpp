#include "WordFixture.h"

#include "automation/znOle.h"
#include "engine/znMatch.h"
#include "ooxml/znWebDocument.h"
#include "word/znDocslim.h"

#include "znTestDocx.h"
#include "znTestWebServer.h"
#include "znTestRequire.h"
#include "znTestRows.h"

#include <QDirIterator>
#include <QFileInfo>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QDateTime>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

class DocslimTest : public WordFixture
{
protected:
    // Converts one file as a worker would and returns its node.
    TznNode* convert(const QString& file)
    {
        TznNode* node = batchOf(file);
        EXPECT_NE(node, nullptr);
        TznDocslim converter(FBatch.get(), 1, TznNodeEvent());
        converter.ConvertFile(FBatch.get(), node);
        return node;
    }

    // One photo of 1200 × 900 pixels at 96 pixels per inch (12.5 × 9.375
    // inches at full size), shown at the given percentages.
    TznTestPicture photo(double widthPercent, double heightPercent)
    {
        TznTestImage image;
        image.Width = 1200;
        image.Height = 900;
        image.Format = QStringLiteral("jpeg");
        image.Dpi = 96;
        TznTestPicture p;
        p.Bytes = MakeTestImage(image);
        p.Extension = QStringLiteral("jpeg");
        p.Cx = qint64(12.5 * kEmuPerInch * widthPercent / 100);
        p.Cy = qint64(9.375 * kEmuPerInch * heightPercent / 100);
        return p;
    }

    QString save(TznDocxBuilder& b, const char* name)
    {
        const QString file = path(QStringLiteral("in/") + QString::fromUtf8(name));
        EXPECT_TRUE(b.Save(file));
        return file;
    }

    QString mainXml(const QString& file) { return QString::fromUtf8(ReadZipEntry(file, QStringLiteral("word/document.xml"))); }

    // Converts the file into its own folder, replacing it.
    TznNode* convertInPlace(const QString& file)
    {
        FProject->SetOptionsText(QStringLiteral("IsOverwrite=True"));
        FBatch = std::make_unique<TznBatch>();
        FBatch->SetTargetFolder(path(QStringLiteral("in/")));
        FBatch->AddSingle(file);
        TznNode* node = FBatch->NextNode();
        TznDocslim converter(FBatch.get(), 1, TznNodeEvent());
        converter.ConvertFile(FBatch.get(), node);
        return node;
    }

    // The temporary files of saves left in a folder.
    QStringList leftovers(const QString& folder) const
    {
        return QDir(path(folder)).entryList({QStringLiteral(".~lp-*")}, QDir::Files | QDir::Hidden);
    }
};

// Two workers compact their own copies of a document at once; the clipboard
// sequence of each picture is guarded by the converters' own lock.
TEST_F(DocslimTest, WorkersCompactAtTheSameTime)
{
    TznDocxBuilder b;
    for (int i = 0; i < 3; ++i)
        b.Picture(photo(8, 8));
    const QString first = save(b, "a.docx"), second = save(b, "b.docx");
    FBatch = std::make_unique<TznBatch>();
    FBatch->SetTargetFolder(path(QStringLiteral("out/")));
    FBatch->AddSingle(first);
    FBatch->AddSingle(second);
    TznNode* nodes[] = {FBatch->NextNode(), FBatch->NextNode()};
    ASSERT_NE(nodes[0], nullptr);
    ASSERT_NE(nodes[1], nullptr);
    auto worker = [&](int n) {
        TznDocslim converter(FBatch.get(), n + 1, TznNodeEvent());
        converter.ConvertFile(FBatch.get(), nodes[n]);
    };
    std::thread t1(worker, 0), t2(worker, 1);
    t1.join();
    t2.join();
    EXPECT_EQ(FLog->Starting(QStringLiteral("PasteSpecial(")).size(), 6);
    for (const char* name : {"a.docx", "b.docx"}) {
        const QString out = path(QStringLiteral("out/") + QString::fromUtf8(name));
        ASSERT_TRUE(QFileInfo(out).isFile()) << name;
        // The three photographs are alike, so are their renderings: stored once.
        const QList<TznZipEntry> entries = ReadZipEntries(out);
        EXPECT_EQ(std::count_if(entries.begin(), entries.end(),
                                [](const TznZipEntry& e) { return e.Name.startsWith(QLatin1String("word/media/")); }),
                  1)
            << name;
        EXPECT_LT(QFileInfo(out).size(), QFileInfo(path(QStringLiteral("in/") + QString::fromUtf8(name))).size());
    }
    for (TznNode* node : nodes)
        EXPECT_EQ(node->Status, nsSuccess) << node->Message.toStdString();
}

struct ScaleCase
{
    const char* name;
    double width, height;
    bool reinserted;
};

class DocslimScaleTest : public DocslimTest, public ::testing::WithParamInterface<ScaleCase>
{
};

TEST_P(DocslimScaleTest, ReinsertsOnlyPicturesShownSmallerBothWays)
{
    TznDocxBuilder b;
    b.Paragraph(QStringLiteral("before"));
    b.Picture(photo(GetParam().width, GetParam().height));
    const QString file = save(b, "a.docx");
    TznNode* node = convert(file);
    EXPECT_EQ(node->Status, nsSuccess) << node->Message.toStdString();
    EXPECT_EQ(!FLog->Starting(QStringLiteral("PasteSpecial(0,0,0,0,13)")).isEmpty(), GetParam().reinserted);
    EXPECT_EQ(!FLog->Starting(QStringLiteral("Delete()")).isEmpty(), GetParam().reinserted);
}

INSTANTIATE_TEST_SUITE_P(Scales, DocslimScaleTest, ::testing::Values(
    ScaleCase{"HalfWidthFullHeight", 50, 100, false},
    ScaleCase{"FullWidthHalfHeight", 100, 50, false},
    ScaleCase{"Enlarged", 150, 150, false},
    ScaleCase{"JustBelowBoth", 99.9, 99.9, true},
    ScaleCase{"Quarter", 25, 25, true}),
    RowName());

TEST_F(DocslimTest, VisitsTheLastPictureFirstAndKeepsAnchoredOnesFloating)
{
    TznDocxBuilder b;
    for (int i = 0; i < 3; ++i)
        b.Picture(photo(30, 30));
    TznTestPicture floating = photo(30, 30);
    floating.Anchored = true;
    floating.Descr = QStringLiteral("A hill seen from the road");
    b.Picture(floating);
    const QString file = save(b, "a.docx");
    TznNode* node = convert(file);
    ASSERT_EQ(node->Status, nsSuccess) << node->Message.toStdString();

    const QStringList items = FLog->Starting(QStringLiteral("Item("));
    EXPECT_EQ(items, (QStringList{"Item(3)", "Item(2)", "Item(1)", "Item(1)"}));
    EXPECT_EQ(FLog->Starting(QStringLiteral("PasteSpecial(")).size(), 4);

    const QString target = path(QStringLiteral("out/a.docx"));
    const QString xml = mainXml(target);
    EXPECT_EQ(xml.count(QStringLiteral("<wp:inline")), 3);
    EXPECT_EQ(xml.count(QStringLiteral("<wp:anchor")), 1);
    EXPECT_TRUE(xml.contains(QStringLiteral("A hill seen from the road")));
    // Shown size kept: 30 % of 12.5 inches.
    EXPECT_TRUE(xml.contains(QStringLiteral("cx=\"%1\"").arg(qint64(12.5 * kEmuPerInch * 30 / 100))));
    EXPECT_LT(QFileInfo(target).size(), QFileInfo(file).size());
    EXPECT_TRUE(node->Message.startsWith(u'['));
    EXPECT_TRUE(node->Message.endsWith(QStringLiteral("%] ") + target));
    EXPECT_TRUE(PythonDocxOpens(target));
}

TEST_F(DocslimTest, PictureTheServerCannotDecodeStaysInTheDocument)
{
    TznDocxBuilder b;
    TznTestPicture broken = photo(40, 40);
    broken.Bytes = broken.Bytes.left(600); // a cut-off JPEG
    b.Picture(broken);
    const QString file = save(b, "a.docx");
    TznNode* node = convert(file);
    ASSERT_EQ(node->Status, nsSuccess) << node->Message.toStdString();
    EXPECT_TRUE(FLog->Starting(QStringLiteral("Delete()")).isEmpty());
    const QString target = path(QStringLiteral("out/a.docx"));
    EXPECT_EQ(mainXml(target).count(QStringLiteral("<pic:pic")), 1);
    bool mediaKept = false;
    for (const TznZipEntry& e : ReadZipEntries(target))
        mediaKept = mediaKept || e.Content == broken.Bytes;
    EXPECT_TRUE(mediaKept);
}

// The picture is deleted before its copy is pasted: when the paste fails the
// document has lost it, and nothing of it may be saved as a result.
TEST_F(DocslimTest, PictureThatCannotBePutBackFailsTheDocument)
{
    TznDocxBuilder b;
    b.Picture(photo(30, 30));
    const QString file = save(b, "a.docx");
    const QByteArray before = ReadBytes(file);
    FLog->FailCalls(QStringLiteral("PasteSpecial"));
    TznNode* node = convert(file);
    EXPECT_EQ(node->Status, nsFailure);
    EXPECT_TRUE(node->Message.contains(QStringLiteral("could not be put back"))) << node->Message.toStdString();
    EXPECT_TRUE(node->Message.contains(file)) << node->Message.toStdString();
    EXPECT_FALSE(FLog->Starting(QStringLiteral("Delete()")).isEmpty());
    EXPECT_TRUE(FLog->Starting(QStringLiteral("SaveAs(")).isEmpty());
    EXPECT_FALSE(QFileInfo::exists(path(QStringLiteral("out/a.docx"))));
    EXPECT_EQ(ReadBytes(file), before);
}

TEST_F(DocslimTest, DocumentWithoutPicturesGetsItsOwnBytesBack)
{
    TznDocxBuilder b;
    b.Paragraph(QStringLiteral("Only text."));
    const QString file = save(b, "a.docx");
    TznNode* node = convert(file);
    const QString target = path(QStringLiteral("out/a.docx"));
    EXPECT_EQ(node->Status, nsSuccess);
    EXPECT_EQ(node->Message, QStringLiteral("[99%] ") + target);
    EXPECT_EQ(ReadBytes(target), ReadBytes(file));
    EXPECT_EQ(FBatch->Successes(), 1);
}

TEST_F(DocslimTest, DamagedDocumentFailsWithTheServersMessage)
{
    const QString file = path(QStringLiteral("in/a.docx"));
    ASSERT_TRUE(WriteBytes(file, "not a package"));
    TznNode* node = convert(file);
    EXPECT_EQ(node->Status, nsFailure);
    EXPECT_TRUE(node->Message.contains(file)) << node->Message.toStdString();
    EXPECT_EQ(FBatch->Failures(), 1);
    EXPECT_EQ(FBatch->Reasons(), QStringList{node->Message});
    EXPECT_FALSE(QFileInfo::exists(path(QStringLiteral("out/a.docx"))));
    // The document was closed even though it never opened.
    EXPECT_TRUE(FLog->Starting(QStringLiteral("Close(")).isEmpty());
}

// --- in place: the source is the target ---

struct InPlaceCase
{
    const char* name;
    bool pictures; // a picture shown at 30 %, else only text
};

class DocslimInPlaceTest : public DocslimTest, public ::testing::WithParamInterface<InPlaceCase>
{
};

TEST_P(DocslimInPlaceTest, MeasuresTheSourceBeforeAndKeepsItWhenNothingIsGained)
{
    TznDocxBuilder b;
    b.Paragraph(QStringLiteral("text"));
    if (GetParam().pictures)
        b.Picture(photo(30, 30));
    const QString file = save(b, "a.docx");
    const QByteArray before = ReadBytes(file);
    TznNode* node = convertInPlace(file);
    ASSERT_EQ(node->Status, nsSuccess) << node->Message.toStdString();
    const QByteArray after = ReadBytes(file);
    const qint64 percentage = GetParam().pictures ? qint64(after.size()) * 100 / before.size() : 99;
    EXPECT_EQ(node->Message, QStringLiteral("[%1%] ").arg(percentage) + file);
    EXPECT_EQ(node->SourceSize, before.size());
    EXPECT_EQ(node->TargetSize, after.size());
    if (GetParam().pictures) {
        EXPECT_LT(after.size(), before.size());
        EXPECT_TRUE(PythonDocxOpens(file));
    } else {
        EXPECT_EQ(after, before);
    }
    EXPECT_EQ(leftovers(QStringLiteral("in")), QStringList());
}

INSTANTIATE_TEST_SUITE_P(Documents, DocslimInPlaceTest, ::testing::Values(
    InPlaceCase{"Compactable", true},
    InPlaceCase{"NothingToGain", false}),
    RowName());

struct FailingSaveCase
{
    const char* name;
    bool ignoreSignal; // SIGXFSZ ignored: the write fails; else the save is killed
};

class DocslimFailingSaveTest : public DocslimTest, public ::testing::WithParamInterface<FailingSaveCase>
{
};

// The save runs in a child process under a file-size limit well below the
// document's size.
TEST_P(DocslimFailingSaveTest, InPlaceSaveThatFailsLeavesTheSourceAsItWas)
{
    TznDocxBuilder b;
    b.Paragraph(QStringLiteral("text"));
    b.Picture(photo(100, 100));
    const QString file = save(b, "a.docx");
    const QByteArray before = ReadBytes(file);
    ASSERT_GT(before.size(), 64 * 1024);

    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (GetParam().ignoreSignal)
            std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{16 * 1024, 16 * 1024};
        setrlimit(RLIMIT_FSIZE, &limit);
        TznNode* node = convertInPlace(file);
        _exit(node->Status == nsFailure && !node->Message.isEmpty() ? 3 : 4);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    if (GetParam().ignoreSignal) {
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 3) << "the failed save was not a failure";
        EXPECT_EQ(leftovers(QStringLiteral("in")), QStringList());
    } else {
        ASSERT_TRUE(WIFSIGNALED(status));
        EXPECT_EQ(WTERMSIG(status), SIGXFSZ);
        EXPECT_FALSE(leftovers(QStringLiteral("in")).isEmpty());
    }
    EXPECT_EQ(ReadBytes(file), before);

    // A later run, even one started at once, removes what the killed save
    // left and converts anew.
    TznNode* node = convertInPlace(file);
    EXPECT_EQ(node->Status, nsSuccess) << node->Message.toStdString();
    EXPECT_EQ(leftovers(QStringLiteral("in")), QStringList());
}

INSTANTIATE_TEST_SUITE_P(Limits, DocslimFailingSaveTest, ::testing::Values(
    FailingSaveCase{"WriteFails", true},
    FailingSaveCase{"KilledMidSave", false}),
    RowName());

// --- names that are not valid UTF-8 ---

// The names of a folder as the system keeps them, sorted.
QList<QByteArray> rawNames(const QString& folder)
{
    QList<QByteArray> names;
    if (DIR* dir = opendir(QFile::encodeName(folder).constData())) {
        while (const dirent* e = readdir(dir))
            if (e->d_name[0] != '.')
                names << QByteArray(e->d_name);
        closedir(dir);
    }
    std::sort(names.begin(), names.end());
    return names;
}

QByteArray rawBytesOf(const QByteArray& name)
{
    QByteArray bytes;
    if (FILE* f = std::fopen(name.constData(), "rb")) {
        char buf[65536];
        for (size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;)
            bytes.append(buf, qsizetype(n));
        std::fclose(f);
    }
    return bytes;
}

struct RawNameCase
{
    const char* name;
    bool inPlace;
    const char* options;
    const char* sourceLeftAs; // the name the unchanged source has after the run; "" when replaced
};

class DocslimRawNameTest : public DocslimTest, public ::testing::WithParamInterface<RawNameCase>
{
protected:
    // The program's own matcher decides what the scan takes, as in a run.
    void SetUp() override
    {
        DocslimTest::SetUp();
        Matcher = &FMatcher;
    }
    void TearDown() override
    {
        Matcher = nullptr;
        DocslimTest::TearDown();
    }
    TznMatch FMatcher;
};

// A Latin-1 name found by a folder scan is opened, saved, timed and
// finished by its bytes, shown readably, and nothing under another name
// appears.
TEST_P(DocslimRawNameTest, CompactsTheFileByTheBytesOfItsName)
{
    const RawNameCase& row = GetParam();
    TznDocxBuilder b;
    b.Picture(photo(30, 30));
    const QString made = save(b, "made.docx");
    const QByteArray before = ReadBytes(made);
    const QByteArray in = QFile::encodeName(path(QStringLiteral("in/")));
    const QByteArray out = QFile::encodeName(path(QStringLiteral("out/")));
    const QByteArray raw = "caf\xe9.docx";
    ASSERT_EQ(std::rename(QFile::encodeName(made).constData(), (in + raw).constData()), 0);
    struct timespec old[2] = {{1000000000, 0}, {1000000000, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, (in + raw).constData(), old, 0), 0);

    FProject->SetOptionsText(QString::fromUtf8(row.options));
    FBatch = std::make_unique<TznBatch>();
    const QString folder = path(row.inPlace ? QStringLiteral("in/") : QStringLiteral("out/"));
    FBatch->StartScan(path(QStringLiteral("in/*.docx")), folder, false);
    TznNode* node = FBatch->NextNode();
    ASSERT_NE(node, nullptr);
    EXPECT_EQ(FBatch->NextNode(), nullptr);
    TznDocslim converter(FBatch.get(), 1, TznNodeEvent());
    converter.ConvertFile(FBatch.get(), node);
    ASSERT_EQ(node->Status, nsSuccess) << node->Message.toStdString();

    const QByteArray target = (row.inPlace ? in : out) + raw;
    const QByteArray result = rawBytesOf(target);
    ASSERT_GT(result.size(), 0);
    EXPECT_LT(result.size(), before.size());
    EXPECT_EQ(node->Message, QStringLiteral("[%1%] ").arg(qint64(result.size()) * 100 / before.size()) + folder
                                 + QStringLiteral("caf\\xE9.docx"));
    const QString check = path(QStringLiteral("check.docx"));
    ASSERT_TRUE(WriteBytes(check, result));
    EXPECT_TRUE(PythonDocxOpens(check));
    struct stat st;
    ASSERT_EQ(::stat(target.constData(), &st), 0);
    EXPECT_EQ(st.st_mtim.tv_sec, 1000000000);

    const QByteArray left = row.sourceLeftAs;
    EXPECT_EQ(rawNames(path(QStringLiteral("in"))), QList<QByteArray>{left.isEmpty() ? raw : left});
    if (!left.isEmpty()) {
        EXPECT_EQ(rawBytesOf(in + left), before);
    }
    EXPECT_EQ(rawNames(path(QStringLiteral("out"))), row.inPlace ? QList<QByteArray>() : QList<QByteArray>{raw});
}

INSTANTIATE_TEST_SUITE_P(Runs, DocslimRawNameTest, ::testing::Values(
    RawNameCase{"IntoTargetFolder", false, "KeepFileTime=True", "caf\xe9.docx"},
    RawNameCase{"InPlace", true, "IsOverwrite=True\r\nKeepFileTime=True", ""},
    RawNameCase{"SourceRenamed", false, "KeepFileTime=True\r\nRenameSource=.old", "caf\xe9.docx.old"}),
    RowName());

// A target folder on a read-only file system: the failure names the target,
// not the name the result is written under first, and the system's reason.
// The file system is mounted in a mount namespace of a child process of its
// own, which needs the right to mount.
TEST_F(DocslimTest, ReadOnlyTargetNamesTheTargetAndTheReason)
{
    TznDocxBuilder b;
    b.Picture(photo(30, 30));
    const QString file = save(b, "a.docx");
    int channel[2];
    ASSERT_EQ(pipe(channel), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        close(channel[0]);
        const QByteArray out = QFile::encodeName(path(QStringLiteral("out")));
        QByteArray report = "skip";
        if (unshare(CLONE_NEWNS) == 0 && mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0
            && mount("tmpfs", out.constData(), "tmpfs", MS_RDONLY, "size=64k") == 0) {
            report = convert(file)->Message.toUtf8();
        }
        (void)!write(channel[1], report.constData(), size_t(report.size()));
        _exit(0);
    }
    close(channel[1]);
    QByteArray report;
    char buffer[512];
    for (ssize_t n; (n = read(channel[0], buffer, sizeof buffer)) > 0;)
        report.append(buffer, n);
    close(channel[0]);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    LP_SKIP_UNLESS(report != "skip") << "no mount namespace can be made here (needs root)";
    EXPECT_EQ(QString::fromUtf8(report), QStringLiteral("Cannot save \"%1\": the folder cannot be written (%2).")
                                             .arg(path(QStringLiteral("out/a.docx")), QString::fromLocal8Bit(strerror(EROFS))));
}

// --- web sources ---

struct WebCase
{
    const char* name;
    bool pictures; // a picture shown at 30 %, else only text, which gains nothing
};

class DocslimWebTest : public DocslimTest, public ::testing::WithParamInterface<WebCase>
{
};

// A served document is measured by its download: its percentage is the
// real one, and a result that gains nothing gives way to the served bytes.
TEST_P(DocslimWebTest, ServedDocumentIsMeasuredByItsDownload)
{
    TznTestApplication application;
    TznDocxBuilder b;
    b.Paragraph(QStringLiteral("text"));
    if (GetParam().pictures)
        b.Picture(photo(30, 30));
    const QString served = save(b, "a.docx");
    const QByteArray source = ReadBytes(served);
    TznTestWebServer server(path(QStringLiteral("in")));
    ASSERT_TRUE(server.IsRunning());
    const QString target = path(QStringLiteral("out/a.docx"));
    ASSERT_TRUE(WriteBytes(target, QByteArray("an older result")));
    FProject->SetOptionsText(QStringLiteral("IsOverwrite=True"));
    TznNode* node = convert(server.Url(QStringLiteral("/a.docx")));
    ASSERT_EQ(node->Status, nsSuccess) << node->Message.toStdString();
    EXPECT_EQ(FLog->Starting(QStringLiteral("Add(")), QStringList());
    const QByteArray result = ReadBytes(target);
    EXPECT_EQ(node->SourceSize, source.size());
    EXPECT_EQ(node->TargetSize, result.size());
    if (GetParam().pictures) {
        EXPECT_EQ(node->Message, QStringLiteral("[%1%] ").arg(qint64(result.size()) * 100 / source.size()) + target);
        EXPECT_LT(result.size(), source.size());
        EXPECT_EQ(mainXml(target).count(QStringLiteral("<wp:inline")), 1);
        EXPECT_TRUE(PythonDocxOpens(target));
    } else {
        EXPECT_EQ(node->Message, QStringLiteral("[99%] ") + target);
        EXPECT_EQ(result, source);
    }
    EXPECT_EQ(leftovers(QStringLiteral("out")), QStringList());
}

INSTANTIATE_TEST_SUITE_P(Served, DocslimWebTest, ::testing::Values(
    WebCase{"Compactable", true},
    WebCase{"NothingToGain", false}),
    RowName());

struct HostileWebCase
{
    const char* name;
    const char* path;     // on the test server
    bool credentials;     // the address carries admin:s3cret@
    const char* written;  // the file the run writes in out/; empty: none
    const char* failure;  // in the node's message; empty when it succeeds
};

class DocslimHostileWebTest : public DocslimTest, public ::testing::WithParamInterface<HostileWebCase>
{
protected:
    void TearDown() override
    {
        const TznDownloadLimits defaults;
        SetServerDownloadTimes(defaults.TimeoutMs, defaults.DeadlineMs);
        DocslimTest::TearDown();
    }

    // Every file below the test's folder, relative to it.
    QStringList files() const
    {
        QStringList out;
        QDirIterator it(FDir.path(), QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
        while (it.hasNext())
            out << QDir(FDir.path()).relativeFilePath(it.next());
        out.sort();
        return out;
    }
};

// A web source writes only the document its address names, by the last
// segment of its path, into the target folder; its user name and password
// reach the server and no message; a server that trickles, stops short or
// sends it round in circles ends the document with what happened.
TEST_P(DocslimHostileWebTest, WritesOnlyTheNamedDocumentAndSaysWhatHappened)
{
    const HostileWebCase& row = GetParam();
    TznTestApplication application;
    SetServerDownloadTimes(1000, 1500);
    TznDocxBuilder b;
    b.Picture(photo(30, 30));
    save(b, "a.docx");
    TznTestWebServer server(path(QStringLiteral("in")));
    ASSERT_TRUE(server.IsRunning());
    QString url = server.Url(QString::fromUtf8(row.path));
    const QString shown = url;
    if (row.credentials)
        url.insert(url.indexOf(QLatin1String("://")) + 3, QStringLiteral("admin:s3cret@"));
    FProject->FileMask = QStringLiteral("*.doc?");

    QStringList expected = files();
    TznNode* node = convert(url);
    EXPECT_FALSE(node->Message.contains(QStringLiteral("s3cret"))) << node->Message.toStdString();
    if (*row.written)
        expected << QStringLiteral("out/") + QString::fromUtf8(row.written);
    expected.sort();
    EXPECT_EQ(files(), expected);
    if (!*row.failure) {
        ASSERT_EQ(node->Status, nsSuccess) << node->Message.toStdString();
        EXPECT_TRUE(node->Message.endsWith(path(QStringLiteral("out/")) + QString::fromUtf8(row.written)))
            << node->Message.toStdString();
        return;
    }
    EXPECT_EQ(node->Status, nsFailure);
    EXPECT_TRUE(node->Message.startsWith(QStringLiteral("Cannot open \"%1\": ").arg(shown))) << node->Message.toStdString();
    EXPECT_TRUE(node->Message.contains(QString::fromUtf8(row.failure))) << node->Message.toStdString();
}

INSTANTIATE_TEST_SUITE_P(Servers, DocslimHostileWebTest, ::testing::Values(
    HostileWebCase{"DotDotSegments", "/../../../a.docx", false, "a.docx", ""},
    HostileWebCase{"QueryNeverNamesTheFile", "/a.docx?next=../../b.docx", false, "a.docx", ""},
    HostileWebCase{"EncodedSlashRefused", "/..%2F..%2Fa.docx", false, "", "the address names no document"},
    HostileWebCase{"QueryOnlyName", "/download.php?id=5", false, "", "the address names no document"},
    HostileWebCase{"BareHost", "", false, "", "the address names no document"},
    HostileWebCase{"PercentDecoded", "/%61.docx", false, "a.docx", ""},
    HostileWebCase{"CredentialsReachTheServer", "/private/a.docx", true, "a.docx", ""},
    HostileWebCase{"CredentialsLeftOutOfMessages", "/private/gone.docx", true, "", "the server answered 404"},
    HostileWebCase{"Trickle", "/trickle/a.docx", false, "", "the download took longer than 1.5 seconds"},
    HostileWebCase{"ShortBody", "/short/a.docx", false, "", "the download ended after "},
    HostileWebCase{"StallAfterHeaders", "/stall/a.docx", false, "", "(no data for 1 second)"},
    HostileWebCase{"RedirectLoop", "/loop/a.docx", false, "", "more than 5 redirects"}),
    RowName());

// --- the size check and the save form, against a scripted word processor ---

struct FakeWord
{
    QString Version = QStringLiteral("16.0");
    qint64 SavedSize = 0; // bytes SaveAs writes
    QString Vanishing;    // a file SaveAs deletes, as another program might meanwhile
};

void registerFakeWord(const FakeWord& word, std::shared_ptr<TznCallLog> log)
{
    RegisterAutomationClass(QStringLiteral("Word.Application"), [word, log]() -> std::shared_ptr<IznDispatch> {
        auto empty = std::make_shared<TznFakeObject>();
        empty->On(QStringLiteral("Count"), [](const auto&, const auto*) { return TznVariant(0); });
        auto doc = std::make_shared<TznFakeObject>();
        doc->On(QStringLiteral("InlineShapes"), [empty](const auto&, const auto*) { return TznVariant(std::shared_ptr<IznDispatch>(empty)); })
            .On(QStringLiteral("Shapes"), [empty](const auto&, const auto*) { return TznVariant(std::shared_ptr<IznDispatch>(empty)); })
            .On(QStringLiteral("SaveAs"), [word, log](const QList<TznVariant>& args, const auto*) {
                QStringList parts;
                for (const auto& a : args)
                    parts << DescribeValue(a);
                log->Add(QStringLiteral("SaveAs(") + parts.join(u',') + u')');
                QFile f(args.value(0).ToText());
                if (!f.open(QIODevice::WriteOnly))
                    throw EznError(QStringLiteral("Cannot save"));
                f.write(QByteArray(word.SavedSize, 'x'));
                if (!word.Vanishing.isEmpty())
                    QFile::remove(word.Vanishing);
                return TznVariant();
            })
            .On(QStringLiteral("Close"), [](const auto&, const auto*) { return TznVariant(); });
        auto docs = std::make_shared<TznFakeObject>();
        docs->On(QStringLiteral("Open"), [doc](const auto&, const auto*) { return TznVariant(std::shared_ptr<IznDispatch>(doc)); });
        auto app = std::make_shared<TznFakeObject>();
        app->On(QStringLiteral("Version"), [word](const auto&, const auto*) { return TznVariant(word.Version); })
            .On(QStringLiteral("Documents"), [docs](const auto&, const auto*) { return TznVariant(std::shared_ptr<IznDispatch>(docs)); })
            .On(QStringLiteral("Quit"), [](const auto&, const auto*) { return TznVariant(); });
        return app;
    });
}

struct SizeCase
{
    const char* name;
    qint64 source, saved;
    const char* prefix;
    bool copiedBack;
};

class DocslimSizeTest : public DocslimTest, public ::testing::WithParamInterface<SizeCase>
{
};

TEST_P(DocslimSizeTest, TruncatesThePercentageAndNeverGrows)
{
    const SizeCase& c = GetParam();
    FakeWord word;
    word.SavedSize = c.saved;
    registerFakeWord(word, FLog);
    const QString file = path(QStringLiteral("in/a.docx"));
    ASSERT_TRUE(WriteBytes(file, QByteArray(c.source, 's')));
    TznNode* node = convert(file);
    const QString target = path(QStringLiteral("out/a.docx"));
    EXPECT_EQ(node->Status, nsSuccess);
    EXPECT_EQ(node->Message, QString::fromUtf8(c.prefix) + target);
    EXPECT_EQ(ReadBytes(target) == ReadBytes(file), c.copiedBack);
}

INSTANTIATE_TEST_SUITE_P(Sizes, DocslimSizeTest, ::testing::Values(
    SizeCase{"JustSmaller", 1000, 999, "[99%] ", false},
    SizeCase{"Equal", 1000, 1000, "[99%] ", true},
    SizeCase{"Larger", 1000, 4000, "[99%] ", true},
    SizeCase{"Half", 1000, 500, "[50%] ", false},
    SizeCase{"TinyResult", 1000, 9, "[0%] ", false},
    SizeCase{"EmptySource", 0, 10, "", false}),
    RowName());

// --- failures never touch an existing target ---

enum class TznLostSource { Vanished, Unreachable, GoneBeforeCopyBack, NameNotUtf8 };

struct LostSourceCase
{
    const char* name;
    TznLostSource kind;
    const char* reason;
};

class DocslimLostSourceTest : public DocslimTest, public ::testing::WithParamInterface<LostSourceCase>
{
};

TEST_P(DocslimLostSourceTest, FailsAndLeavesTheOlderTargetAsItWas)
{
    const LostSourceCase& c = GetParam();
    TznTestApplication application;
    FProject->SetOptionsText(QStringLiteral("IsOverwrite=True"));
    QString source = path(QStringLiteral("in/a.docx"));
    // The temporary folder cannot remove a name that is no UTF-8: it goes by its bytes.
    struct TznRemovedByBytes
    {
        QByteArray Name;
        ~TznRemovedByBytes() { if (!Name.isEmpty()) std::remove(Name.constData()); }
    } made;
    if (c.kind == TznLostSource::NameNotUtf8) {
        // Listed under a name that reads the stray byte as U+FFFD, which
        // names no file.
        const QByteArray raw = QFile::encodeName(path(QStringLiteral("in/"))) + "caf\xe9.docx";
        made.Name = raw;
        FILE* f = std::fopen(raw.constData(), "w");
        ASSERT_NE(f, nullptr);
        std::fputs("a document", f);
        std::fclose(f);
        source = QFile::decodeName(raw);
    }
    const QString target = path(QStringLiteral("out/")) + QFileInfo(source).fileName();
    ASSERT_TRUE(WriteBytes(target, "an earlier good result"));
    if (c.kind == TznLostSource::Unreachable) {
        source = TznTestWebServer::UnreachableUrl(QStringLiteral("/a.docx"));
    } else if (c.kind == TznLostSource::GoneBeforeCopyBack) {
        FakeWord word;
        word.SavedSize = 4000;
        word.Vanishing = source;
        registerFakeWord(word, FLog);
        ASSERT_TRUE(WriteBytes(source, QByteArray(1000, 's')));
    }
    TznNode* node = convert(source);
    EXPECT_EQ(node->Status, nsFailure);
    EXPECT_TRUE(node->Message.contains(QString::fromUtf8(c.reason), Qt::CaseInsensitive)) << node->Message.toStdString();
    EXPECT_EQ(FBatch->Failures(), 1);
    EXPECT_EQ(ReadBytes(target), QByteArray("an earlier good result"));
    EXPECT_EQ(leftovers(QStringLiteral("out")), QStringList());
}

INSTANTIATE_TEST_SUITE_P(Sources, DocslimLostSourceTest, ::testing::Values(
    LostSourceCase{"VanishedBeforeTheRun", TznLostSource::Vanished, "cannot be found"},
    LostSourceCase{"UnreachableWebAddress", TznLostSource::Unreachable, "refused"},
    LostSourceCase{"GoneBeforeTheCopyBack", TznLostSource::GoneBeforeCopyBack, "Cannot copy"},
    LostSourceCase{"NameNotUtf8", TznLostSource::NameNotUtf8, "cannot be found"}),
    RowName());

struct FormatCase
{
    const char* name;
    const char* options;
    const char* version;
    const char* file;
    bool formatCode;
};

class DocslimFormatTest : public DocslimTest, public ::testing::WithParamInterface<FormatCase>
{
};

TEST_P(DocslimFormatTest, PassesTheFormatCodeOnlyForLowerCaseDoc)
{
    const FormatCase& c = GetParam();
    FProject->SetOptionsText(QString::fromUtf8(c.options));
    FakeWord word;
    word.Version = QString::fromUtf8(c.version);
    word.SavedSize = 10;
    registerFakeWord(word, FLog);
    const QString file = path(QStringLiteral("in/") + QString::fromUtf8(c.file));
    ASSERT_TRUE(WriteBytes(file, QByteArray(100, 's')));
    convert(file);
    const QString target = path(QStringLiteral("out/") + QString::fromUtf8(c.file));
    // Saved beside the target under a name of its own with the target's
    // extension, then put in its place.
    const QStringList saves = FLog->Starting(QStringLiteral("SaveAs(") + path(QStringLiteral("out/.~lp-")));
    ASSERT_EQ(saves.size(), 1) << FLog->Lines().join(u'\n').toStdString();
    const QString ext = u'.' + QFileInfo(target).suffix();
    EXPECT_TRUE(saves[0].endsWith(ext + (c.formatCode ? QStringLiteral(",0)") : QStringLiteral(")")))) << saves[0].toStdString();
    EXPECT_TRUE(QFileInfo::exists(target));
}

INSTANTIATE_TEST_SUITE_P(Formats, DocslimFormatTest, ::testing::Values(
    FormatCase{"KeepDoc", "DocToDocx=False", "16.0", "a.doc", true},
    FormatCase{"KeepDocCapitals", "DocToDocx=False", "16.0", "a.DOC", false},
    FormatCase{"KeepDocx", "DocToDocx=False", "16.0", "a.docx", false},
    FormatCase{"OldServer", "DocToDocx=False", "11.0", "a.doc", false},
    FormatCase{"Default", "", "16.0", "a.doc", false}),
    RowName());

// What Recompress adds: one picture in each place the main-text passes do
// not reach. Each is re-inserted once, at its place, in its own frame, and
// the document gets smaller.
struct RecompressCase
{
    const char* name;
    QString part;      // the part that shows the picture
    QString kind;      // builder story kind; empty: the main text
    QString type;      // header/footer type
    double percent;    // shown size in percent of the natural size
    double dpi;        // declared density of the picture
    bool vml = false;
    bool textBox = false;
    bool anchored = false;
    bool recompress = true;
};

class DocslimRecompressTest : public DocslimTest, public ::testing::WithParamInterface<RecompressCase>
{
};

TEST_P(DocslimRecompressTest, ReinsertsPicturesBeyondTheMainTextPassesOnce)
{
    const RecompressCase& c = GetParam();
    FProject->SetOptionsText(c.recompress ? QStringLiteral("Recompress=True") : QStringLiteral("Recompress=False"));
    TznTestImage image;
    image.Width = 1200;
    image.Height = 900;
    image.Format = QStringLiteral("jpeg");
    image.Dpi = c.dpi;
    TznTestPicture p;
    p.Bytes = MakeTestImage(image);
    p.Extension = QStringLiteral("jpeg");
    p.Cx = qint64(1200 / c.dpi * kEmuPerInch * c.percent / 100);
    p.Cy = qint64(900 / c.dpi * kEmuPerInch * c.percent / 100);
    p.Vml = c.vml;
    p.Anchored = c.anchored;
    p.Descr = QStringLiteral("Harbour at dawn");
    TznDocxBuilder b;
    b.Paragraph(QStringLiteral("before"));
    if (!c.kind.isEmpty())
        b.StoryPicture(c.kind, c.type, p);
    else if (c.textBox)
        b.Body(QStringLiteral("<w:p>%1</w:p>").arg(TznDocxBuilder::TextBoxRun(QStringLiteral("<w:p>%1</w:p>").arg(b.PictureRun(p)))));
    else
        b.Picture(p);
    const QString file = save(b, "a.docx");
    TznNode* node = convert(file);
    ASSERT_EQ(node->Status, nsSuccess) << node->Message.toStdString();
    const QString target = path(QStringLiteral("out/a.docx"));

    // One visit that re-inserts, never two.
    EXPECT_EQ(FLog->Starting(QStringLiteral("PasteSpecial(")).size(), c.recompress ? 1 : 0);
    if (!c.recompress) {
        EXPECT_EQ(ReadBytes(target), ReadBytes(file));
        return;
    }
    EXPECT_LT(QFileInfo(target).size(), QFileInfo(file).size());
    const QString xml = QString::fromUtf8(ReadZipEntry(target, c.part));
    EXPECT_EQ(xml.count(QStringLiteral("Harbour at dawn")), 1) << xml.toStdString();
    if (c.vml) {
        EXPECT_TRUE(xml.contains(QStringLiteral("<v:imagedata"))) << xml.toStdString();
    } else {
        // A text box's own frame is anchored; its picture is inline.
        EXPECT_EQ(xml.count(c.anchored ? QStringLiteral("<wp:anchor") : QStringLiteral("<wp:inline")), 1) << xml.toStdString();
        EXPECT_TRUE(xml.contains(QStringLiteral("cx=\"%1\" cy=\"%2\"").arg(p.Cx).arg(p.Cy))) << xml.toStdString();
    }
    // The new picture is at Resolution (150) for its shown size.
    qint64 media = 0;
    for (const TznZipEntry& entry : ReadZipEntries(target))
        if (entry.Name.startsWith(QStringLiteral("word/media/"))) {
            media += entry.Content.size();
            const QImage shown = QImage::fromData(entry.Content);
            EXPECT_NEAR(shown.width(), double(p.Cx) / kEmuPerInch * 150, 2) << entry.Name.toStdString();
        }
    EXPECT_LT(media, p.Bytes.size());
    EXPECT_TRUE(PythonDocxOpens(target));
}

INSTANTIATE_TEST_SUITE_P(Places, DocslimRecompressTest, ::testing::Values(
    RecompressCase{"OverResolutionAtFullSize", "word/document.xml", {}, {}, 100, 300},
    RecompressCase{"OverResolutionFloatingAtFullSize", "word/document.xml", {}, {}, 100, 600, false, false, true},
    RecompressCase{"OverResolutionWithRecompressOff", "word/document.xml", {}, {}, 100, 300, false, false, false, false},
    RecompressCase{"VmlOnlyAtFullSize", "word/document.xml", {}, {}, 100, 300, true},
    RecompressCase{"TextBox", "word/document.xml", {}, {}, 50, 96, false, true},
    RecompressCase{"Header", "word/header1.xml", "header", "default", 50, 96},
    RecompressCase{"FirstPageHeader", "word/header1.xml", "header", "first", 100, 300},
    RecompressCase{"EvenPageFooter", "word/footer1.xml", "footer", "even", 50, 96},
    RecompressCase{"Footer", "word/footer1.xml", "footer", "default", 100, 300},
    RecompressCase{"Footnote", "word/footnotes1.xml", "footnotes", {}, 50, 96},
    RecompressCase{"Endnote", "word/endnotes1.xml", "endnotes", {}, 100, 300},
    RecompressCase{"Comment", "word/comments1.xml", "comments", {}, 100, 600}),
    RowName());

// A text box in alternate content keeps a copy of its story for older
// readers. The copy of a re-inserted picture follows it to the new media,
// without the crop baked into it, so that the old media goes; a copy that
// does not certainly show the same picture stays as it is. A copy that shows the
// same bytes stored a second time, under another part, follows too.
enum class EznFallbackCopy { Drawing, VmlCropped, VmlOwnPart, OtherPicture, OtherCrop };

struct FallbackCase
{
    const char* name;
    EznFallbackCopy copy;
    bool follows;      // the copy names the new media afterwards
    int mediaParts;    // media parts in the result
    bool smaller = true;  // false: the result is the source as it was
    bool render = false;
};

class DocslimFallbackTest : public DocslimTest, public ::testing::WithParamInterface<FallbackCase>
{
protected:
    // The text box's own choice and fallback (the outermost alternate content).
    static QString branch(const QString& xml, const char* name)
    {
        const QRegularExpression re(QStringLiteral("<mc:%1[^>]*>(.*)</mc:%1>").arg(QLatin1String(name)),
                                    QRegularExpression::DotMatchesEverythingOption);
        return re.match(xml).captured(1);
    }
    static QString relIn(const QString& xml)
    {
        return QRegularExpression(QStringLiteral("r:(?:embed|id)=\"([^\"]+)\"")).match(xml).captured(1);
    }
    // The document as a reader that knows only the fallback sees it.
    QString fallbackOnly(const QString& file, const QString& name)
    {
        QList<QPair<QString, QByteArray>> entries;
        for (const TznZipEntry& e : ReadZipEntries(file)) {
            QByteArray content = e.Content;
            if (e.Name == QLatin1String("word/document.xml"))
                content = QString::fromUtf8(content)
                              .remove(QRegularExpression(QStringLiteral("<mc:Choice .*</mc:Choice>"),
                                                         QRegularExpression::DotMatchesEverythingOption))
                              .toUtf8();
            entries.append({e.Name, content});
        }
        const QString out = path(QStringLiteral("render/") + name);
        EXPECT_TRUE(WriteZip(out, entries));
        return out;
    }
};

TEST_P(DocslimFallbackTest, FallbackCopyFollowsTheReinsertedPicture)
{
    const FallbackCase& c = GetParam();
    FProject->SetOptionsText(QStringLiteral("Recompress=True"));
    // A quarter cropped away on the left, the rest shown 2.2 inches wide: far
    // above the resolution, and small enough for the box.
    TznTestPicture p = photo(100, 100);
    // Four flat colours: a crop applied twice moves their edge.
    p.Bytes = MakeTestImage({1200, 900, QStringLiteral("jpeg"), 96, false, false});
    p.CropL = 25000;
    p.Cx = p.Cy = 22 * kEmuPerInch / 10;
    const double wPt = p.Cx / 12700.0, hPt = p.Cy / 12700.0;
    auto vml = [&](const char* crop, const char* rel = "rIdP1") {
        return QStringLiteral("<w:r><w:pict><v:shape type=\"#_x0000_t75\" style=\"width:%1pt;height:%2pt\">"
                              "<v:imagedata r:id=\"%4\" o:title=\"\"%3/></v:shape></w:pict></w:r>")
            .arg(wPt).arg(hPt).arg(QLatin1String(crop), QLatin1String(rel));
    };
    TznDocxBuilder b;
    b.Paragraph(QStringLiteral("A text box with a photograph:"));
    const QString run = b.PictureRun(p);
    QString copy;
    switch (c.copy) {
    case EznFallbackCopy::Drawing: copy = run; break;
    case EznFallbackCopy::VmlCropped: copy = vml(" cropleft=\"16384f\""); break;
    case EznFallbackCopy::VmlOwnPart:
        b.PictureRun(p);  // the same bytes again, as word/media/image2 under rIdP2
        copy = vml(" cropleft=\"16384f\"", "rIdP2");
        break;
    case EznFallbackCopy::OtherPicture: {
        TznTestPicture other = p;
        other.Bytes = MakeTestImage({900, 600, QStringLiteral("jpeg"), 96});
        copy = b.PictureRun(other);
        break;
    }
    case EznFallbackCopy::OtherCrop: copy = vml(""); break;
    }
    b.Body(QStringLiteral("<w:p>%1</w:p>").arg(TznDocxBuilder::AlternateTextBoxRun(
        QStringLiteral("<w:p>%1</w:p>").arg(run), QStringLiteral("<w:p>%1</w:p>").arg(copy))));
    const QString file = save(b, "a.docx");
    TznNode* node = convert(file);
    ASSERT_EQ(node->Status, nsSuccess) << node->Message.toStdString();
    EXPECT_EQ(FLog->Starting(QStringLiteral("PasteSpecial(")).size(), 1);
    const QString target = path(QStringLiteral("out/a.docx"));
    if (!c.smaller) {
        EXPECT_EQ(ReadBytes(target), ReadBytes(file));
        return;
    }
    EXPECT_LT(QFileInfo(target).size(), QFileInfo(file).size());

    const QString xml = mainXml(target);
    const QString choice = branch(xml, "Choice"), fallback = branch(xml, "Fallback");
    ASSERT_FALSE(choice.isEmpty()) << xml.toStdString();
    ASSERT_FALSE(fallback.isEmpty()) << xml.toStdString();
    const QString newRel = relIn(choice);
    EXPECT_NE(newRel, QStringLiteral("rIdP1"));
    EXPECT_FALSE(choice.contains(QStringLiteral("srcRect"))) << "the crop is baked into the new picture";
    if (c.follows) {
        EXPECT_EQ(relIn(fallback), newRel) << fallback.toStdString();
        EXPECT_FALSE(fallback.contains(QStringLiteral("srcRect"))) << fallback.toStdString();
        EXPECT_FALSE(fallback.contains(QStringLiteral("crop"))) << fallback.toStdString();
    } else {
        EXPECT_EQ(fallback, branch(mainXml(file), "Fallback"));
    }
    QStringList media;
    for (const TznZipEntry& e : ReadZipEntries(target))
        if (e.Name.startsWith(QStringLiteral("word/media/")))
            media << e.Name;
    EXPECT_EQ(media.size(), c.mediaParts) << media.join(u' ').toStdString();
    QString err;
    EXPECT_TRUE(PythonDocxOpens(target, &err)) << err.toStdString();
    if (!c.render)
        return;

    LP_SKIP_UNLESS(HasLibreOffice() && !QStandardPaths::findExecutable(QStringLiteral("pdftoppm")).isEmpty())
        << "LibreOffice or pdftoppm is not installed";
    // Both stores of the text box, each as its readers see it: the whole document and
    // the fallback alone.
    QDir().mkpath(path(QStringLiteral("render")));
    QFile::copy(file, path(QStringLiteral("render/source.docx")));
    QFile::copy(target, path(QStringLiteral("render/result.docx")));
    const QStringList pdfs = ConvertAllToPdf({path(QStringLiteral("render/source.docx")), path(QStringLiteral("render/result.docx")),
                                              fallbackOnly(file, QStringLiteral("sourceFallback.docx")),
                                              fallbackOnly(target, QStringLiteral("resultFallback.docx"))},
                                             path(QStringLiteral("render")));
    ASSERT_EQ(pdfs.size(), 4);
    for (int pair = 0; pair < 2; ++pair) {
        const QList<QImage> a = RenderPdfPages(pdfs[2 * pair], path(QStringLiteral("render/a%1-").arg(pair)), 60);
        const QList<QImage> r = RenderPdfPages(pdfs[2 * pair + 1], path(QStringLiteral("render/r%1-").arg(pair)), 60);
        ASSERT_EQ(a.size(), 1) << "pair " << pair;
        ASSERT_EQ(r.size(), 1) << "pair " << pair;
        // The photograph is on the page, not only the text.
        qint64 dark = 0;
        for (int y = 0; y < a[0].height(); ++y)
            for (int x = 0; x < a[0].width(); ++x)
                dark += qGray(a[0].pixel(x, y)) < 160;
        EXPECT_GT(dark, a[0].width() * a[0].height() / 50) << "pair " << pair;
        EXPECT_GE(PagePsnr(a[0], r[0]), 30.0) << "pair " << pair;
    }
}

INSTANTIATE_TEST_SUITE_P(Copies, DocslimFallbackTest, ::testing::Values(
    FallbackCase{"DrawingCopy", EznFallbackCopy::Drawing, true, 1},
    FallbackCase{"VmlCopyWithItsCrop", EznFallbackCopy::VmlCropped, true, 1, true, true},
    FallbackCase{"VmlCopyOfItsOwnPart", EznFallbackCopy::VmlOwnPart, true, 1},
    // The other picture keeps its media; the replaced one's goes.
    FallbackCase{"OtherPictureUntouched", EznFallbackCopy::OtherPicture, false, 2},
    // Still named by the copy, the replaced media stays; with both the document
    // would grow, so it stays as it was.
    FallbackCase{"OtherCropUntouched", EznFallbackCopy::OtherCrop, false, 1, false}),
    RowName());

// A media part shown at several places is judged by the place that needs the
// most of its pixels: the lowest density over every place that shows it.
struct SharedMediaCase
{
    const char* name;
    double secondPercent;  // the second place's size, in percent of the first's
    int pastes;
};

class DocslimSharedMediaTest : public DocslimTest, public ::testing::WithParamInterface<SharedMediaCase>
{
};

TEST_P(DocslimSharedMediaTest, TheLowestDensityOverEveryPlaceDecides)
{
    FProject->SetOptionsText(QStringLiteral("Recompress=True"));
    TznTestImage image;
    image.Width = 1200;
    image.Height = 900;
    image.Format = QStringLiteral("jpeg");
    image.Dpi = 300;
    TznTestPicture first;
    first.Bytes = MakeTestImage(image);
    first.Extension = QStringLiteral("jpeg");
    first.Cx = 4 * kEmuPerInch;  // 300 pixels per inch
    first.Cy = 3 * kEmuPerInch;
    TznTestPicture second = first;
    second.SameMediaAs = 0;
    second.Cx = qint64(first.Cx * GetParam().secondPercent / 100);
    second.Cy = qint64(first.Cy * GetParam().secondPercent / 100);
    TznDocxBuilder b;
    b.Picture(first);
    b.Picture(second);
    const QString file = save(b, "a.docx");
    TznNode* node = convert(file);
    ASSERT_EQ(node->Status, nsSuccess) << node->Message.toStdString();
    EXPECT_EQ(FLog->Starting(QStringLiteral("PasteSpecial(")).size(), GetParam().pastes);
}

INSTANTIATE_TEST_SUITE_P(Places, DocslimSharedMediaTest, ::testing::Values(
    // Two places of a 300 pixels per inch picture; 150 is asked for, with a margin of 10 %.
    SharedMediaCase{"SecondPlaceNeedsThePixels", 200, 0},      // 150 there
    SharedMediaCase{"WithinTheMargin", 190, 0},                // 158 there, not above 150 by more than 10 %
    SharedMediaCase{"SecondPlaceAboveTheMargin", 150, 2},      // 200 there
    SharedMediaCase{"BothPlacesFarAbove", 100, 2}),            // 300 at both
    RowName());

// Embedded fonts cut down to the document's characters, only when asked: the
// result still shows its text in the embedded fonts (LibreOffice reads them;
// the fonts are not installed here), and says that it embeds subsets.
struct FontSubsetCase
{
    const char* name;
    bool subset;
};

class DocslimFontSubsetTest : public DocslimTest, public ::testing::WithParamInterface<FontSubsetCase>
{
};

TEST_P(DocslimFontSubsetTest, EmbeddedFontsAreSubsetOnlyWhenAsked)
{
    const FontSubsetCase& c = GetParam();
    const QString source = path(QStringLiteral("in/fonts.docx"));
    ASSERT_TRUE(QFile::copy(QStringLiteral(LP_CORPUS_DIR "/open-xml-powertools/DB0016-DocDefaultStyles.docx"), source));
    QFile(source).setPermissions(QFile::ReadOwner | QFile::WriteOwner);
    FProject->SetOptionsText(QStringLiteral("SubsetFonts=%1").arg(c.subset ? "True" : "False"));
    TznNode* node = convert(source);
    ASSERT_EQ(node->Status, nsSuccess) << node->Message.toStdString();
    const QString target = path(QStringLiteral("out/fonts.docx"));
    QHash<QString, QByteArray> before, after;
    for (const TznZipEntry& e : ReadZipEntries(source))
        if (e.Name.startsWith(QStringLiteral("word/fonts/")))
            before.insert(e.Name, e.Content);
    for (const TznZipEntry& e : ReadZipEntries(target))
        if (e.Name.startsWith(QStringLiteral("word/fonts/")))
            after.insert(e.Name, e.Content);
    ASSERT_EQ(after.keys().size(), before.keys().size());
    qint64 fontsBefore = 0, fontsAfter = 0;
    for (auto it = before.cbegin(); it != before.cend(); ++it) {
        fontsBefore += it.value().size();
        fontsAfter += after[it.key()].size();
        if (!c.subset) {
            EXPECT_EQ(after[it.key()], it.value()) << it.key().toStdString();
        }
    }
    const bool saysSubset = ReadZipEntry(target, QStringLiteral("word/settings.xml")).contains("saveSubsetFonts");
    EXPECT_EQ(saysSubset, c.subset);
    if (!c.subset)
        return;
    EXPECT_LT(fontsAfter, fontsBefore / 3) << fontsBefore << " -> " << fontsAfter;

    LP_SKIP_UNLESS(HasLibreOffice() && !QStandardPaths::findExecutable(QStringLiteral("pdftoppm")).isEmpty())
        << "LibreOffice or pdftoppm is not installed";
    QDir().mkpath(path(QStringLiteral("render")));
    QFile::copy(source, path(QStringLiteral("render/source.docx")));
    QFile::copy(target, path(QStringLiteral("render/result.docx")));
    const QStringList pdfs = ConvertAllToPdf({path(QStringLiteral("render/source.docx")), path(QStringLiteral("render/result.docx"))},
                                             path(QStringLiteral("render")));
    ASSERT_EQ(pdfs.size(), 2);
    const QList<QImage> a = RenderPdfPages(pdfs[0], path(QStringLiteral("render/a-")), 100);
    const QList<QImage> r = RenderPdfPages(pdfs[1], path(QStringLiteral("render/r-")), 100);
    ASSERT_FALSE(a.isEmpty());
    ASSERT_EQ(r.size(), a.size());
    for (int i = 0; i < a.size(); ++i)
        EXPECT_GE(PagePsnr(a[i], r[i]), 35.0) << "page " << i + 1;
}

INSTANTIATE_TEST_SUITE_P(Options, DocslimFontSubsetTest, ::testing::Values(
    FontSubsetCase{"WholeByDefault", false},
    FontSubsetCase{"SubsetWhenAsked", true}),
    RowName());

} // namespace
