#include "platform/znDirSearch.h"
#include "platform/znFileTimes.h"
#include "platform/znLocalPath.h"
#include "platform/znReplaceFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

struct NameRow
{
    const char* label;
    QByteArray bytes;
    bool raw;
    const char* readable;   // UTF-8
};

class LocalNameTest : public testing::TestWithParam<NameRow> {};

TEST_P(LocalNameTest, RoundTripsEveryByteAndReadsAsText)
{
    const NameRow& row = GetParam();
    const QString name = DecodeLocalPath(row.bytes);
    EXPECT_EQ(EncodeLocalPath(name), row.bytes);
    EXPECT_EQ(HasRawBytes(name), row.raw);
    EXPECT_EQ(ReadableLocalPath(name), QString::fromUtf8(row.readable));
    if (!row.raw) {
        EXPECT_EQ(name, QFile::decodeName(row.bytes));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Names, LocalNameTest,
    testing::Values(NameRow{"Ascii", "/in/a.docx", false, "/in/a.docx"},
                    NameRow{"ValidUtf8", "/in/caf\xc3\xa9.docx", false, "/in/caf\xc3\xa9.docx"},
                    NameRow{"OutsideTheBasicPlane", "/in/\xf0\x9f\x93\x84.docx", false, "/in/\xf0\x9f\x93\x84.docx"},
                    NameRow{"Latin1Byte", "/in/caf\xe9.docx", true, "/in/caf\\xE9.docx"},
                    NameRow{"TruncatedSequence", "a\xc3", true, "a\\xC3"},
                    NameRow{"OverlongSlash", "a\xc0\xaf", true, "a\\xC0\\xAF"},
                    NameRow{"EncodedSurrogate", "\xed\xb2\x80", true, "\\xED\\xB2\\x80"},
                    NameRow{"ValidBesideRaw", "\xf0\x9f\x93\x84\xff\xc3\xa9", true, "\xf0\x9f\x93\x84\\xFF\xc3\xa9"}),
    [](const testing::TestParamInfo<NameRow>& info) { return std::string(info.param.label); });

// Everything the batch does to a source and its target, done by the raw
// name: listed, stat, opened, times copied, replaced, renamed, removed;
// and no file under a mangled name appears.
TEST(LocalFileTest, ServesANameThatIsNotValidUtf8ByItsBytes)
{
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QByteArray folder = QFile::encodeName(dir.path()) + '/';
    const QByteArray raw = folder + "caf\xe9.docx";
    const int fd = ::open(raw.constData(), O_WRONLY | O_CREAT | O_EXCL, 0640);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, "12345", 5), 5);
    ::close(fd);

    const auto found = FindEntries(dir.path() + u'/', QStringLiteral("*.docx"), faArchive);
    ASSERT_EQ(found.size(), 1u);
    const QString source = dir.path() + u'/' + found[0].Name;
    EXPECT_EQ(EncodeLocalPath(source), raw);

    const TznLocalFileInfo info = LocalFileInfo(source);
    EXPECT_TRUE(info.Exists && info.IsFile);
    EXPECT_EQ(info.Size, 5);
    QFile in;
    ASSERT_TRUE(OpenLocalFile(in, source));
    EXPECT_EQ(in.readAll(), QByteArray("12345"));
    in.close();
    EXPECT_TRUE(LocalFileIdentity(source).has_value());

    // A result replaces a raw-named target and takes its times and mode.
    struct timespec old[2] = {{1000000000, 0}, {1000000000, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, raw.constData(), old, 0), 0);
    const QString work = dir.path() + QStringLiteral("/.~lp-work.tmp.docx");
    {
        QFile out(work);
        ASSERT_TRUE(out.open(QIODevice::WriteOnly));
        out.write("xyz");
    }
    TznFileTimes times;
    ASSERT_TRUE(ReadFileTimes(source, times));
    ASSERT_TRUE(WriteFileTimes(work, times));
    QString error;
    ASSERT_TRUE(ReplaceFileAtomically(work, source, &error)) << error.toStdString();
    struct stat st;
    ASSERT_EQ(::stat(raw.constData(), &st), 0);
    EXPECT_EQ(st.st_size, 3);
    EXPECT_EQ(st.st_mtim.tv_sec, 1000000000);
    EXPECT_EQ(st.st_mode & 0777, 0640u);

    const QString renamed = source + QStringLiteral(".old");
    ASSERT_TRUE(RenameLocalFile(source, renamed, &error)) << error.toStdString();
    EXPECT_FALSE(LocalFileInfo(source).Exists);
    EXPECT_FALSE(RenameLocalFile(renamed, renamed, &error));
    ASSERT_TRUE(RemoveLocalFile(renamed, &error)) << error.toStdString();
    EXPECT_FALSE(RemoveLocalFile(renamed, &error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_TRUE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot).isEmpty());
}

// Scratch of runs that ended without cleaning up goes, what belongs to
// running processes and this process's own folder stays.
TEST(ScratchTest, RemovesOnlyTheScratchOfEndedProcesses)
{
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0)
        _exit(0);
    ASSERT_EQ(waitpid(child, nullptr, 0), child);
    QTemporaryDir dir;
    const QString ended = QString::number(child), running = QString::number(getppid()), self = QString::number(getpid());
    const QString uid = QString::number(getuid());
    const QStringList folders{"leafpress-run-" + ended + "-aaaaaa/office-bbbbbb/user", "leafpress-run-" + running + "-cccccc",
                              "leafpress-run-" + self + "-dddddd", "leafpress-run-" + self + "-mine/doc-eeeeee"};
    for (const QString& folder : folders)
        ASSERT_TRUE(QDir(dir.path()).mkpath(folder));
    for (const QString& file : {"leafpress-run-" + ended + "-aaaaaa/office-bbbbbb/user/registrymodifications.xcu",
                                "OSL_PIPE_" + uid + "_leafpress-" + ended + "-1-2", "OSL_PIPE_" + uid + "_leafpress-" + running + "-1-2",
                                QStringLiteral("OSL_PIPE_0_SingleOfficeIPC_abc"), "leafpress-" + ended + ".txt"}) {
        QFile f(dir.filePath(file));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly)) << file.toStdString();
    }
    RemoveStaleScratch(dir.path(), dir.filePath("leafpress-run-" + self + "-mine"));
    QStringList left = QDir(dir.path()).entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
    left.sort();
    QStringList expected{"OSL_PIPE_" + uid + "_leafpress-" + running + "-1-2", QStringLiteral("OSL_PIPE_0_SingleOfficeIPC_abc"),
                         "leafpress-" + ended + ".txt", "leafpress-run-" + running + "-cccccc", "leafpress-run-" + self + "-mine"};
    expected.sort();
    EXPECT_EQ(left, expected);
    EXPECT_TRUE(QFileInfo::exists(dir.filePath("leafpress-run-" + self + "-mine/doc-eeeeee")));
}

} // namespace
