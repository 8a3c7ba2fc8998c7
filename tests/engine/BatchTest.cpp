#include "EngineTestEnv.h"
#include "znTestProcess.h"
#include "znTestRequire.h"
#include "znTestRows.h"

#include "engine/znBatch.h"
#include "engine/znConvertor.h"
#include "platform/znError.h"
#include "platform/znLocalPath.h"

#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <climits>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

namespace {

struct NormalizeRow
{
    const char* name;
    const char* text;
    PathStyle style;
    const char* path;
};

class NormalizePathTest : public testing::TestWithParam<NormalizeRow> {};

TEST_P(NormalizePathTest, TurnsFileAddressesIntoPaths)
{
    EXPECT_EQ(NormalizePath(QString::fromUtf8(GetParam().text), GetParam().style), QString::fromUtf8(GetParam().path));
}

INSTANTIATE_TEST_SUITE_P(
    Addresses, NormalizePathTest,
    testing::Values(NormalizeRow{"WindowsDrive", "file:///C:/docs/*.doc", PathStyle::Windows, "C:\\docs\\*.doc"},
                    NormalizeRow{"WindowsServerShare", "file://server/share/*.doc", PathStyle::Windows, "\\\\server\\share\\*.doc"},
                    NormalizeRow{"WindowsServerStartingWithDigit", "file://9box/a:b.doc", PathStyle::Windows, "\\\\9box\\a:b.doc"},
                    NormalizeRow{"WindowsPlainPathKept", "C:\\docs\\*.doc", PathStyle::Windows, "C:\\docs\\*.doc"},
                    NormalizeRow{"WindowsCapitalSchemeKept", "FILE:///C:/x.doc", PathStyle::Windows, "FILE:///C:/x.doc"},
                    NormalizeRow{"WindowsSchemeOnlyEmpty", "file:///", PathStyle::Windows, ""},
                    NormalizeRow{"WindowsSchemeWithoutSlashesEmpty", "file:", PathStyle::Windows, ""},
                    NormalizeRow{"PosixAbsolute", "file:///home/a.docx", PathStyle::Posix, "/home/a.docx"},
                    NormalizeRow{"PosixLocalhost", "file://localhost/home/a.docx", PathStyle::Posix, "/home/a.docx"},
                    NormalizeRow{"PosixOneSlash", "file:/home/a.docx", PathStyle::Posix, "/home/a.docx"},
                    NormalizeRow{"PosixServerShare", "file://server/share/a.doc", PathStyle::Posix, "//server/share/a.doc"},
                    NormalizeRow{"PosixSlashesOnlyEmpty", "file:////", PathStyle::Posix, ""},
                    NormalizeRow{"PosixPlainPathKept", "/home/a.docx", PathStyle::Posix, "/home/a.docx"},
                    NormalizeRow{"PosixWebAddressKept", "http://host/a.doc", PathStyle::Posix, "http://host/a.doc"}),
    RowName());

class BatchScanTest : public testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(FDir.isValid());
        FRoot = FDir.path() + u'/';
        SkipLockFiles = true;
    }
    void TearDown() override { SkipLockFiles = false; }

    // The paths listed from source below the root, relative to the root.
    QStringList listed(TznBatch& batch)
    {
        EXPECT_TRUE(WaitUntil([&] { return batch.Listed(); }));
        QStringList paths;
        const auto& nodes = batch.LockNodes();
        for (const TznNode* node : nodes) {
            EXPECT_EQ(node->Index, paths.size());
            paths << node->Path.mid(FRoot.size());
        }
        batch.UnlockNodes();
        return paths;
    }

    QStringList scan(const QString& source, bool subdirs)
    {
        TznBatch batch;
        batch.StartScan(FRoot + source, FRoot + "out/", subdirs);
        return listed(batch);
    }

    QTemporaryDir FDir;
    QString FRoot;
    TznOptionsScope FOptions;
};

TEST_F(BatchScanTest, ListsFolderFilesBeforeSubFolders)
{
    MakeFiles(FRoot, {"docs/b.docx", "docs/a.doc", "docs/sub/c.doc", "docs/sub/deeper/d.docm", "docs/A2.DOC",
                      "docs/notes.txt", "docs/e.doc.bak", "docs/~$a.doc", "docs/.h.doc", "docs/.hid/x.doc",
                      "docs/zz/y.docx"});
    EXPECT_EQ(scan("docs/*.doc?", true),
              QStringList({"docs/.h.doc", "docs/a.doc", "docs/A2.DOC", "docs/b.docx", "docs/sub/c.doc",
                           "docs/sub/deeper/d.docm", "docs/zz/y.docx"}));
    EXPECT_EQ(scan("docs/*.doc?", false), QStringList({"docs/.h.doc", "docs/a.doc", "docs/A2.DOC", "docs/b.docx"}));
}

TEST_F(BatchScanTest, SkipHiddenLeavesHiddenFilesOut)
{
    MakeFiles(FRoot, {"docs/a.doc", "docs/.h.doc"});
    FOptions.Set("SkipHidden", "1");
    EXPECT_EQ(scan("docs/*.doc?", true), QStringList({"docs/a.doc"}));
}

TEST_F(BatchScanTest, LockFilesAreListedWhenTheSwitchIsOff)
{
    MakeFiles(FRoot, {"docs/~$a.doc"});
    SkipLockFiles = false;
    EXPECT_EQ(scan("docs/*.doc", true), QStringList({"docs/~$a.doc"}));
}

TEST_F(BatchScanTest, RegExtFiltersOnTheWholePath)
{
    MakeFiles(FRoot, {"docs/old/a.doc", "docs/a.doc", "docs/OLD2/b.doc"});
    FOptions.Set("RegExt", "/old/");
    EXPECT_EQ(scan("docs/*.doc", true), QStringList({"docs/old/a.doc"}));
    FOptions.Set("RegExt", "(");
    EXPECT_EQ(scan("docs/*.doc", true), QStringList({"docs/a.doc", "docs/old/a.doc", "docs/OLD2/b.doc"}));
}

TEST_F(BatchScanTest, RegExtMatchingNothingLetsWorkersEnd)
{
    MakeFiles(FRoot, {"docs/a.doc"});
    FOptions.Set("RegExt", "^nothing$");
    TznBatch batch;
    batch.StartScan(FRoot + "docs/*.doc", FRoot + "out", false);
    EXPECT_EQ(batch.NextNode(), nullptr);
    EXPECT_TRUE(batch.Drained());
    EXPECT_EQ(batch.NodeCount(), 0);
}

TEST_F(BatchScanTest, SourceWithoutMaskPartUsesTheLastNameAsMask)
{
    MakeFiles(FRoot, {"docs/a.doc", "other/x.doc"});
    TznBatch batch;
    batch.StartScan(FRoot + "docs", FRoot + "out", false);
    EXPECT_EQ(batch.Mask(), "docs");
    EXPECT_EQ(batch.SourceFolder(), FRoot);
    // The folder named by the mask is not a file, so nothing is listed.
    EXPECT_TRUE(listed(batch).isEmpty());
}

TEST_F(BatchScanTest, LinkedFolderLoopIsListedOnce)
{
    MakeFiles(FRoot, {"docs/a.doc", "docs/sub/b.doc"});
    ASSERT_TRUE(QFile::link(FRoot + "docs", FRoot + "docs/sub/back"));
    ASSERT_TRUE(QFile::link(FRoot + "docs/sub", FRoot + "docs/again"));
    // "again" comes before "sub", so the folder is listed under that name.
    EXPECT_EQ(scan("docs/*.doc", true), QStringList({"docs/a.doc", "docs/again/b.doc"}));
}

TEST_F(BatchScanTest, MissingSourceFolderEndsListedAndEmpty)
{
    TznBatch batch;
    batch.StartScan(FRoot + "nowhere/*.doc", FRoot + "out", true);
    EXPECT_TRUE(listed(batch).isEmpty());
    EXPECT_TRUE(QFileInfo(FRoot + "out").isDir());
}

struct ResultsRow
{
    const char* name;
    const char* source;
    const char* target;
    bool subdirs;
    QStringList expected;
};

class ResultsAreNoSourcesTest : public BatchScanTest, public testing::WithParamInterface<ResultsRow>
{
};

// What a run writes into its target folder is never listed by the next run.
TEST_P(ResultsAreNoSourcesTest, ListsOnlyWhatTheUserPutThere)
{
    MakeFiles(FRoot, {"in/a.doc", "in/-docslim-a.doc", "in/sub/b.doc", "in/sub/-docslim--docslim-b.doc",
                      "in/zout/a.doc", "in/zout/sub/b.doc", "in/x-docslim-c.doc"});
    TznBatch batch;
    batch.StartScan(FRoot + GetParam().source, FRoot + GetParam().target, GetParam().subdirs);
    EXPECT_EQ(listed(batch), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Runs, ResultsAreNoSourcesTest,
    testing::Values(
        ResultsRow{"TargetInsideTheSourceIsNotEntered", "in/*.doc", "in/zout", true,
                   {"in/-docslim-a.doc", "in/a.doc", "in/x-docslim-c.doc", "in/sub/-docslim--docslim-b.doc",
                    "in/sub/b.doc"}},
        ResultsRow{"InPlaceSkipsTheProductsNames", "in/*.doc", "in", true,
                   {"in/a.doc", "in/x-docslim-c.doc", "in/sub/b.doc", "in/zout/a.doc", "in/zout/sub/b.doc"}},
        ResultsRow{"InPlaceSubFolderSource", "in/sub/*.doc", "in", false, {"in/sub/b.doc"}},
        ResultsRow{"ElsewhereTheNamesAreSources", "in/*.doc", "out", false,
                   {"in/-docslim-a.doc", "in/a.doc", "in/x-docslim-c.doc"}}),
    RowName());

struct SourcesRow
{
    const char* name;
    QStringList sources; // below the root
    bool subdirs;
    QStringList expected; // "path -> target name" or "path failed", in listing order
};

class SeveralSourcesTest : public BatchScanTest, public testing::WithParamInterface<SourcesRow>
{
protected:
    // Each node of a batch of the given sources with the name its target
    // gets below the target folder, or its failure.
    QStringList listSources(const QStringList& sources, bool subdirs, const TznShard& shard = {})
    {
        QStringList absolute;
        for (const QString& source : sources)
            absolute << FRoot + source;
        TznBatch batch;
        batch.Shard = shard;
        batch.StartScan(absolute, FRoot + "out", subdirs);
        const QStringList paths = listed(batch);
        QStringList rows;
        for (int i = 0; i < paths.size(); ++i) {
            const TznNode* node = batch.NodeAt(i);
            rows << (node->ListingFailure ? paths[i] + " failed"
                                          : paths[i] + " -> " + TargetRelativeName(node->Path, batch.SourceFolderOf(*node), true));
        }
        return rows;
    }
};

// Folders, masks and documents make one batch in which every document keeps
// the layout below its own source and no two share a target.
TEST_P(SeveralSourcesTest, ListsEverySourceInOrder)
{
    MakeFiles(FRoot, {"A/a.doc", "A/sub/b.doc", "A/x.doc", "A/c.docx", "B/x.doc", "B/d.docx", "B/sub/e.docx", "one.doc"});
    EXPECT_EQ(listSources(GetParam().sources, GetParam().subdirs), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Batches, SeveralSourcesTest,
    testing::Values(
        SourcesRow{"EachSourceKeepsItsLayout", {"B/*.docx", "A/*.doc", "one.doc"}, true,
                   {"B/d.docx -> d.docx", "B/sub/e.docx -> sub/e.docx", "A/a.doc -> a.doc", "A/x.doc -> x.doc",
                    "A/sub/b.doc -> sub/b.doc", "one.doc -> one.doc"}},
        SourcesRow{"WithoutSubdirsEachFolderAlone", {"B/*.docx", "A/*.doc"}, false,
                   {"B/d.docx -> d.docx", "A/a.doc -> a.doc", "A/x.doc -> x.doc"}},
        SourcesRow{"ADocumentByItselfGoesToItsName", {"A/sub/b.doc", "B/*.docx"}, true,
                   {"A/sub/b.doc -> b.doc", "B/d.docx -> d.docx", "B/sub/e.docx -> sub/e.docx"}},
        SourcesRow{"SameTargetNameIsAFailureOfItsOwn", {"A/*.doc", "B/*.doc"}, false,
                   {"A/a.doc -> a.doc", "A/x.doc -> x.doc", "B/x.doc failed"}},
        SourcesRow{"DocumentMetAgainIsListedOnce", {"A/*.doc", "A/x.doc", "A/*.doc"}, false,
                   {"A/a.doc -> a.doc", "A/x.doc -> x.doc"}},
        SourcesRow{"SameFolderWithAnotherMaskIsWalkedAgain", {"A/*.docx", "A/*.doc"}, false,
                   {"A/c.docx -> c.docx", "A/a.doc -> a.doc", "A/x.doc -> x.doc"}}),
    RowName());

// Shards hash the path below each source: they partition the batch, and two
// documents with one target name always meet in the same shard, which then
// refuses the second.
TEST_F(SeveralSourcesTest, ShardsPartitionTheBatchAndKeepCollisionsTogether)
{
    QStringList files;
    for (int i = 0; i < 12; ++i)
        files << QStringLiteral("A/f%1.doc").arg(i) << QStringLiteral("B/g%1.doc").arg(i);
    files << "B/f3.doc";
    MakeFiles(FRoot, files);
    const QStringList whole = listSources({"A/*.doc", "B/*.doc"}, false);
    ASSERT_EQ(whole.size(), 25);
    ASSERT_TRUE(whole.contains("B/f3.doc failed"));
    QStringList joined;
    for (int i = 0; i < 3; ++i) {
        TznShard shard;
        QString error;
        ASSERT_TRUE(ParseShard(QStringLiteral("%1/3").arg(i), shard, error)) << error.toStdString();
        const QStringList part = listSources({"A/*.doc", "B/*.doc"}, false, shard);
        EXPECT_LT(part.size(), whole.size());
        EXPECT_EQ(part.contains("A/f3.doc -> f3.doc"), part.contains("B/f3.doc failed")) << "shard " << i;
        joined << part;
    }
    std::sort(joined.begin(), joined.end());
    QStringList sorted = whole;
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(joined, sorted);
}

// Makes below root a chain of folders whose full path is longer than the
// system takes, step by step relative to the folder before.
QString makeTooLongPath(const QString& root)
{
    const QByteArray name(200, 'd');
    int fd = open(QFile::encodeName(root).constData(), O_RDONLY | O_DIRECTORY);
    QString path = root;
    for (int depth = 0; fd >= 0 && path.size() <= PATH_MAX + 200; ++depth) {
        if (mkdirat(fd, name.constData(), 0755) != 0)
            break;
        const int next = openat(fd, name.constData(), O_RDONLY | O_DIRECTORY);
        close(fd);
        fd = next;
        path += QString::fromLatin1(name) + u'/';
    }
    if (fd >= 0)
        close(fd);
    return path;
}

TEST_F(BatchScanTest, FolderThatCannotBeReadIsAFailureOfItsOwn)
{
    MakeFiles(FRoot, {"in/a.doc", "in/deep/b.doc"});
    const QString tooLong = makeTooLongPath(FRoot + "in/deep/");
    ASSERT_GT(QFile::encodeName(tooLong).size(), PATH_MAX);
    TznBatch batch;
    std::vector<bool> reportedAtOnce;
    batch.OnNodeAdded = [&](TznBatch*, TznNode* node) { reportedAtOnce.push_back(node->ListingFailure); };
    batch.StartScan(FRoot + "in/*.doc", FRoot + "out", true);
    const QStringList paths = listed(batch);
    ASSERT_EQ(paths.size(), 3) << paths.join(u' ').toStdString();
    EXPECT_EQ(paths.mid(0, 2), QStringList({"in/a.doc", "in/deep/b.doc"}));
    const TznNode* failed = batch.NodeAt(2);
    EXPECT_EQ(failed->Status.load(), nsFailure);
    EXPECT_TRUE(failed->ListingFailure);
    EXPECT_TRUE(failed->Message.startsWith(QStringLiteral("Cannot read the folder \"") + FRoot + "in/deep/"))
        << failed->Message.toStdString();
    EXPECT_EQ(reportedAtOnce, std::vector<bool>({false, false, true}));
    EXPECT_EQ(batch.Failures(), 1);
    // Workers get the documents only.
    EXPECT_EQ(batch.NextNode(), batch.NodeAt(0));
    EXPECT_EQ(batch.NextNode(), batch.NodeAt(1));
    EXPECT_EQ(batch.NextNode(), nullptr);
    EXPECT_TRUE(batch.Drained());
}

TEST_F(BatchScanTest, FolderWithoutReadPermissionIsAFailureOfItsOwn)
{
    if (geteuid() == 0) {
        // Permissions do not bind the superuser: this case runs again in a child of this
        // program as the unprivileged user "nobody", so that it runs on a root machine too.
        const QString setpriv = QStandardPaths::findExecutable(QStringLiteral("setpriv"));
        LP_SKIP_UNLESS(!setpriv.isEmpty()) << "setpriv (util-linux) is not installed";
        const QString self = QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();
        const TznProcessResult child = RunProcess(setpriv, {QStringLiteral("--reuid=65534"), QStringLiteral("--regid=65534"),
            QStringLiteral("--clear-groups"), self,
            QStringLiteral("--gtest_filter=BatchScanTest.FolderWithoutReadPermissionIsAFailureOfItsOwn")});
        EXPECT_EQ(child.status, 0) << child.out.toStdString() << child.err.toStdString();
        EXPECT_TRUE(child.out.contains(QStringLiteral("[  PASSED  ] 1 test"))) << child.out.toStdString();
        return;
    }
    MakeFiles(FRoot, {"in/a.doc", "in/locked/b.doc"});
    ASSERT_EQ(chmod(QFile::encodeName(FRoot + "in/locked").constData(), 0), 0);
    TznBatch batch;
    batch.StartScan(FRoot + "in/*.doc", FRoot + "out/", true);
    const QStringList paths = listed(batch);
    chmod(QFile::encodeName(FRoot + "in/locked").constData(), 0755);
    ASSERT_EQ(paths, QStringList({"in/a.doc", "in/locked/"}));
    const TznNode* locked = batch.NodeAt(1);
    EXPECT_TRUE(locked->ListingFailure);
    EXPECT_EQ(locked->Status, nsFailure);
    EXPECT_TRUE(locked->Message.startsWith("Cannot read the folder \"")) << locked->Message.toStdString();
    EXPECT_TRUE(locked->Message.contains("locked")) << locked->Message.toStdString();
    EXPECT_EQ(batch.Failures(), 1);
}

struct ByBytesRow
{
    const char* name;
    bool several;               // given as a list of sources
    const char* source;         // below the root, as bytes
    QList<QByteArray> expected; // "path" or "path failed: reason", paths below the root
};

class ScanByBytesTest : public BatchScanTest, public testing::WithParamInterface<ByBytesRow>
{
};

// Names that are not valid UTF-8 are listed by their bytes, below the
// source folder and in its sub-folders; a pipe or a device named by itself
// is a failure of its own instead of an empty batch.
TEST_P(ScanByBytesTest, ListsEveryDocumentByItsBytes)
{
    const ByBytesRow& row = GetParam();
    MakeFiles(FRoot, {"in/b.docx", "in/sub/x.txt"});
    const QByteArray root = QFile::encodeName(FRoot);
    for (const char* name : {"in/caf\xe9.docx", "in/sub/caf\xe9.docx"}) {
        const int fd = ::open((root + name).constData(), O_WRONLY | O_CREAT | O_EXCL, 0644);
        ASSERT_GE(fd, 0) << name;
        ::close(fd);
    }
    ASSERT_EQ(mkfifo((root + "in/pipe.docx").constData(), 0600), 0);
    ASSERT_EQ(symlink("/dev/null", (root + "in/null.docx").constData()), 0);

    const QString source = DecodeLocalPath(root + row.source);
    TznBatch batch;
    if (row.several)
        batch.StartScan(QStringList{source}, FRoot + "out", true);
    else
        batch.StartScan(source, FRoot + "out", true);
    const QStringList paths = listed(batch);
    QList<QByteArray> rows;
    for (int i = 0; i < paths.size(); ++i) {
        const TznNode* node = batch.NodeAt(i);
        const QByteArray path = EncodeLocalPath(paths[i]);
        rows << (node->ListingFailure ? path + " failed: " + QString(node->Message).remove(FRoot).toUtf8() : path);
    }
    EXPECT_EQ(rows, row.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Names, ScanByBytesTest,
    testing::Values(
        ByBytesRow{"FolderAndSubFolder", false, "in/*.doc?", {"in/b.docx", "in/caf\xe9.docx", "in/sub/caf\xe9.docx"}},
        ByBytesRow{"FolderAndSubFolderAmongSources", true, "in/*.doc?", {"in/b.docx", "in/caf\xe9.docx", "in/sub/caf\xe9.docx"}},
        // A name alone in a source is a mask that the sub-folders match too.
        ByBytesRow{"NameAsMask", false, "in/caf\xe9.docx", {"in/caf\xe9.docx", "in/sub/caf\xe9.docx"}},
        ByBytesRow{"NamedAloneAmongSources", true, "in/caf\xe9.docx", {"in/caf\xe9.docx"}},
        ByBytesRow{"PipeNamedAlone", false, "in/pipe.docx", {"in/pipe.docx failed: Cannot open \"in/pipe.docx\": not a regular file"}},
        ByBytesRow{"PipeNamedAmongSources", true, "in/pipe.docx", {"in/pipe.docx failed: Cannot open \"in/pipe.docx\": not a regular file"}},
        ByBytesRow{"DeviceNamedAlone", false, "in/null.docx", {"in/null.docx failed: Cannot open \"in/null.docx\": not a regular file"}}),
    RowName());

struct TargetRow
{
    const char* name;
    const char* target;
    bool fails;
};

class StartScanTargetTest : public testing::TestWithParam<TargetRow> {};

TEST_P(StartScanTargetTest, RefusesTargetsItCannotCreate)
{
    QTemporaryDir dir;
    const QString old = QDir::currentPath();
    QDir::setCurrent(dir.path());
    TznBatch batch;
    if (GetParam().fails) {
        try {
            batch.StartScan(dir.path() + "/*.doc", QString::fromUtf8(GetParam().target), false);
            ADD_FAILURE() << "no error for " << GetParam().target;
        } catch (const EznError& e) {
            EXPECT_EQ(e.Message(), "Unable to create directory");
        }
        // Nothing will ever be listed, so a worker must not wait for it.
        EXPECT_TRUE(batch.Listed());
        EXPECT_EQ(batch.NextNode(), nullptr);
        EXPECT_FALSE(batch.Started());
    } else {
        EXPECT_NO_THROW(batch.StartScan(dir.path() + "/*.doc", QString::fromUtf8(GetParam().target), false));
        EXPECT_TRUE(WaitUntil([&] { return batch.Listed(); }));
    }
    QDir::setCurrent(old);
}

INSTANTIATE_TEST_SUITE_P(Targets, StartScanTargetTest,
                         testing::Values(TargetRow{"EmptyRefused", "", true},
                                         TargetRow{"BareNameRefused", "out", true},
                                         TargetRow{"BareNameWithSlashRefused", "out/", true},
                                         TargetRow{"SubfolderTaken", "sub/out", false},
                                         TargetRow{"CurrentFolderTaken", ".", false}),
                         RowName());

TEST(BatchTest, AddSingleAcceptsAnyPathAndEndsTheListing)
{
    TznBatch batch;
    std::vector<int> added;
    batch.OnNodeAdded = [&](TznBatch* b, TznNode* n) {
        EXPECT_EQ(b, &batch);
        added.push_back(n->Index);
    };
    batch.AddSingle("C:\\x\\y.txt");
    EXPECT_TRUE(batch.Listed());
    ASSERT_EQ(batch.NodeCount(), 1);
    EXPECT_EQ(batch.NodeAt(0)->Path, "C:\\x\\y.txt");
    EXPECT_EQ(batch.NodeAt(0)->Status.load(), nsPending);
    EXPECT_EQ(added, std::vector<int>({0}));
    EXPECT_EQ(batch.NextNode(), batch.NodeAt(0));
    EXPECT_FALSE(batch.Drained());
    EXPECT_EQ(batch.NextNode(), nullptr);
    EXPECT_TRUE(batch.Drained());
}

TEST(BatchTest, FailureReasonsAreKeptOnceIgnoringCase)
{
    TznBatch batch;
    batch.AddFailure("Disk full");
    batch.AddFailure("DISK FULL");
    batch.AddFailure("Other");
    batch.AddSuccess();
    EXPECT_EQ(batch.Failures(), 3);
    EXPECT_EQ(batch.Successes(), 1);
    EXPECT_EQ(batch.Reasons(), QStringList({"Disk full", "Other"}));
}

TEST(BatchTest, NextNodeWaitsWhileTheListIsStillGrowing)
{
    TznBatch batch;
    std::atomic<TznNode*> got{nullptr};
    std::atomic<bool> returned{false};
    std::thread worker([&] {
        got = batch.NextNode();
        returned = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(returned);
    batch.AddFile("/a.doc");
    worker.join();
    EXPECT_EQ(got.load(), batch.NodeAt(0));
    EXPECT_FALSE(batch.Drained());
}

// Four workers take nodes while the scanner is still listing: every node is
// handed out once, in listing order, and every worker ends with the listing.
TEST(BatchConcurrencyTest, FourWorkersTakeEachNodeOnceWhileListing)
{
    QTemporaryDir dir(FastTempTemplate());
    const QString root = dir.path() + u'/';
    QStringList files;
    for (int f = 0; f < 40; ++f)
        for (int i = 0; i < 500; ++i)
            files << QStringLiteral("d%1/f%2.doc").arg(f, 2, 10, QChar(u'0')).arg(i, 3, 10, QChar(u'0'));
    MakeFiles(root, files);

    TznBatch batch;
    std::mutex takenLock;
    std::vector<std::vector<int>> taken(4);
    std::vector<std::thread> workers;
    std::atomic<bool> sawUnlisted{false};
    batch.StartScan(root + "*.doc", root + "out", true);
    for (int w = 0; w < 4; ++w)
        workers.emplace_back([&, w] {
            while (TznNode* node = batch.NextNode()) {
                if (!batch.Listed())
                    sawUnlisted = true;
                taken[static_cast<size_t>(w)].push_back(node->Index);
            }
        });
    for (auto& t : workers)
        t.join();

    ASSERT_EQ(batch.NodeCount(), 20000);
    EXPECT_TRUE(sawUnlisted) << "the listing ended before any node was taken";
    EXPECT_TRUE(batch.Drained());
    std::vector<int> owner(20000, -1);
    for (int w = 0; w < 4; ++w) {
        const auto& mine = taken[static_cast<size_t>(w)];
        for (size_t i = 0; i < mine.size(); ++i) {
            ASSERT_EQ(owner[static_cast<size_t>(mine[i])], -1) << "node " << mine[i] << " handed out twice";
            owner[static_cast<size_t>(mine[i])] = w;
            if (i > 0) {
                EXPECT_LT(mine[i - 1], mine[i]) << "worker " << w << " got nodes out of order";
            }
        }
    }
    EXPECT_EQ(std::count(owner.begin(), owner.end(), -1), 0);
    // Listing order is the walk's order: folder d00 first, its files by name.
    EXPECT_TRUE(batch.NodeAt(0)->Path.endsWith("d00/f000.doc"));
    EXPECT_TRUE(batch.NodeAt(19999)->Path.endsWith("d39/f499.doc"));
}

TEST(BatchConcurrencyTest, StopDuringTheWalkKeepsWhatWasListed)
{
    QTemporaryDir dir;
    const QString root = dir.path() + u'/';
    QStringList files;
    for (int i = 0; i < 200; ++i)
        files << QStringLiteral("d%1/f%2.doc").arg(i % 4).arg(i, 3, 10, QChar(u'0'));
    MakeFiles(root, files);

    TznBatch batch;
    std::atomic<int> seen{0};
    batch.OnNodeAdded = [&](TznBatch* b, TznNode*) {
        if (++seen == 10)
            b->Terminate();
    };
    batch.StartScan(root + "*.doc", root + "out", true);
    ASSERT_TRUE(WaitUntil([&] { return batch.Listed(); }));
    EXPECT_EQ(batch.NodeCount(), 10);
    int handed = 0;
    while (batch.NextNode())
        ++handed;
    EXPECT_EQ(handed, 10);
}

TEST(BatchConcurrencyTest, ErrorOfNodeAddedEndsTheWalkListed)
{
    QTemporaryDir dir;
    MakeFiles(dir.path(), {"a.doc", "b.doc", "c.doc"});
    TznBatch batch;
    batch.OnNodeAdded = [](TznBatch*, TznNode* n) {
        if (n->Index == 1)
            throw EznError("stop here");
    };
    batch.StartScan(dir.path() + "/*.doc", dir.path() + "/out", false);
    ASSERT_TRUE(WaitUntil([&] { return batch.Listed(); }));
    EXPECT_EQ(batch.NodeCount(), 2);
}

TEST(BatchConcurrencyTest, DestroyingAScanningBatchStopsItsThread)
{
    QTemporaryDir dir;
    QStringList files;
    for (int i = 0; i < 300; ++i)
        files << QStringLiteral("d%1/f%2.doc").arg(i % 10).arg(i);
    MakeFiles(dir.path(), files);
    auto batch = std::make_unique<TznBatch>();
    batch->StartScan(dir.path() + "/*.doc", dir.path() + "/out", true);
    batch.reset();
    SUCCEED();
}

} // namespace
