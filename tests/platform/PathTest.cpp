#include "platform/znPath.h"

#include "znTestRows.h"

#include <gtest/gtest.h>

namespace {

struct PathCase
{
    const char* name;
    PathStyle style;
    const char* path;
    const char* folder;
    const char* file;
    const char* withDelimiter;
};

class PathRulesTest : public ::testing::TestWithParam<PathCase>
{
};

TEST_P(PathRulesTest, SplitsAndCompletes)
{
    const PathCase& c = GetParam();
    const QString path = QString::fromUtf8(c.path);
    EXPECT_EQ(FolderPart(path, c.style), QString::fromUtf8(c.folder));
    EXPECT_EQ(FileNamePart(path, c.style), QString::fromUtf8(c.file));
    EXPECT_EQ(IncludeTrailingDelimiter(path, c.style), QString::fromUtf8(c.withDelimiter));
    // Folder and name always give back the whole path.
    EXPECT_EQ(FolderPart(path, c.style) + FileNamePart(path, c.style), path);
}

INSTANTIATE_TEST_SUITE_P(Both, PathRulesTest, ::testing::Values(
    PathCase{"WindowsFolderAndName", PathStyle::Windows, "C:\\in\\sub\\a.doc", "C:\\in\\sub\\", "a.doc", "C:\\in\\sub\\a.doc\\"},
    PathCase{"WindowsDriveRelative", PathStyle::Windows, "C:a.doc", "C:", "a.doc", "C:a.doc\\"},
    PathCase{"WindowsFolderOnly", PathStyle::Windows, "C:\\in\\", "C:\\in\\", "", "C:\\in\\"},
    PathCase{"WindowsBareName", PathStyle::Windows, "a.doc", "", "a.doc", "a.doc\\"},
    PathCase{"WindowsWebAddressAtColon", PathStyle::Windows, "http://host/dir/a.doc", "http:", "//host/dir/a.doc", "http://host/dir/a.doc\\"},
    PathCase{"WindowsForwardSlashesAreName", PathStyle::Windows, "/home/a.doc", "", "/home/a.doc", "/home/a.doc\\"},
    PathCase{"PosixFolderAndName", PathStyle::Posix, "/home/in/sub/a.doc", "/home/in/sub/", "a.doc", "/home/in/sub/a.doc/"},
    PathCase{"PosixFolderOnly", PathStyle::Posix, "/home/in/", "/home/in/", "", "/home/in/"},
    PathCase{"PosixBareName", PathStyle::Posix, "a.doc", "", "a.doc", "a.doc/"},
    PathCase{"PosixBackslashesAreName", PathStyle::Posix, "C:\\in\\a.doc", "", "C:\\in\\a.doc", "C:\\in\\a.doc/"},
    PathCase{"PosixEmpty", PathStyle::Posix, "", "", "", "/"}),
    RowName());

struct ExtCase
{
    const char* name;
    PathStyle style;
    const char* path;
    const char* ext;
    const char* changed; // with the extension replaced by ".batch-docslim"
};

class FileExtTest : public ::testing::TestWithParam<ExtCase>
{
};

TEST_P(FileExtTest, ReadsAndReplacesTheLastExtensionOfTheName)
{
    const ExtCase& c = GetParam();
    EXPECT_EQ(ExtractFileExt(QString::fromUtf8(c.path), c.style), QString::fromUtf8(c.ext));
    EXPECT_EQ(ChangeFileExt(QString::fromUtf8(c.path), QStringLiteral(".batch-docslim"), c.style),
              QString::fromUtf8(c.changed));
}

INSTANTIATE_TEST_SUITE_P(Both, FileExtTest, ::testing::Values(
    ExtCase{"WindowsExtensionReplaced", PathStyle::Windows, "C:\\Tools\\app.exe", ".exe", "C:\\Tools\\app.batch-docslim"},
    ExtCase{"WindowsDotInFolderOnly", PathStyle::Windows, "C:\\To.ols\\app", "", "C:\\To.ols\\app.batch-docslim"},
    ExtCase{"PosixNoExtension", PathStyle::Posix, "/opt/leafpress/bin/leafpress", "", "/opt/leafpress/bin/leafpress.batch-docslim"},
    ExtCase{"PosixDotInFolderOnly", PathStyle::Posix, "/opt/v1.2/leafpress", "", "/opt/v1.2/leafpress.batch-docslim"},
    ExtCase{"PosixLastExtensionOnly", PathStyle::Posix, "/home/a.b.docx", ".docx", "/home/a.b.batch-docslim"}),
    RowName());

} // namespace
