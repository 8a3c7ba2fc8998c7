// Hostile input in a batch: each crafted document goes through the real
// program together with two ordinary ones. The process must end normally,
// the ordinary documents must be compacted, and the hostile one must end
// as a success that left its picture alone or as a clear failure, quickly.

#include "picture/znPicture.h"
#include "picture/znPictureJpeg.h"
#include "znPictureSamples.h"
#include "platform/znError.h"
#include "platform/znTextFile.h"
#include "znTestBytes.h"

#include "znFuzzTargets.h"
#include "znTestDocx.h"
#include "znTestRows.h"

#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <tuple>

#include <sys/stat.h>

namespace {

// A progressive JPEG whose first scan (the DC values) is repeated until the
// picture has scans in all. The decoder takes each repeat as one more pass
// over the picture that gives the same values again.
QByteArray manyScanJpeg(int scans)
{
    TznJpegOptions options;
    options.Progressive = true;
    const QByteArray jpeg = EncodeSampleJpeg(MakePhotographicImage(QSize(640, 480), 3), options);
    int count = 0;
    qsizetype firstScan = -1, firstEnd = -1, at = 2;
    while (at + 4 <= jpeg.size() && quint8(jpeg[at + 1]) != 0xD9) {
        const auto marker = quint8(jpeg[at + 1]);
        qsizetype next = at + 2 + ((quint8(jpeg[at + 2]) << 8) | quint8(jpeg[at + 3]));
        if (marker == 0xDA) {
            // Entropy-coded data runs to the next marker that is no stuffed
            // zero and no restart.
            while (next + 1 < jpeg.size()
                   && !(quint8(jpeg[next]) == 0xFF && jpeg[next + 1] != 0 && (quint8(jpeg[next + 1]) & 0xF8) != 0xD0))
                ++next;
            if (count++ == 0) {
                firstScan = at;
                firstEnd = next;
            }
        }
        at = next;
    }
    if (firstScan < 0 || count >= scans) {
        ADD_FAILURE() << "the progressive JPEG has " << count << " scans";
        return jpeg;
    }
    const QByteArray scan = jpeg.mid(firstScan, firstEnd - firstScan);
    return jpeg.left(firstEnd) + scan.repeated(scans - count) + jpeg.mid(firstEnd);
}

TznTestPicture shownSmaller(QByteArray bytes, const QString& extension)
{
    TznTestPicture picture;
    picture.Bytes = std::move(bytes);
    picture.Extension = extension;
    picture.Cx = kEmuPerInch * 2; // a picture of 6.7 inches at 96 dpi
    picture.Cy = kEmuPerInch * 3 / 2;
    return picture;
}

bool saveOrdinary(const QString& path, quint32 seed)
{
    TznTestImage image;
    image.Width = 640;
    image.Height = 480;
    image.Format = QStringLiteral("jpeg");
    image.Quality = 95 - int(seed);
    TznDocxBuilder builder;
    builder.Paragraph(QStringLiteral("An ordinary document."));
    builder.Picture(shownSmaller(MakeTestImage(image), QStringLiteral("jpeg")));
    return builder.Save(path);
}

bool saveManyScans(const QString& path)
{
    TznDocxBuilder builder;
    builder.Paragraph(QStringLiteral("A picture of 2,000 scans."));
    builder.Picture(shownSmaller(manyScanJpeg(2000), QStringLiteral("jpeg")));
    return builder.Save(path);
}

// One photograph shown 2,000 times at the same size: one rendering serves
// every place.
bool saveManyUses(const QString& path)
{
    TznTestImage image;
    image.Width = 1600;
    image.Height = 1200;
    image.Format = QStringLiteral("jpeg");
    TznTestPicture picture = shownSmaller(MakeTestImage(image), QStringLiteral("jpeg"));
    TznDocxBuilder builder;
    builder.Paragraph(QStringLiteral("One picture in 2,000 places."));
    builder.Picture(picture);
    picture.SameMediaAs = 0;
    for (int i = 1; i < 2000; ++i)
        builder.Picture(picture);
    return builder.Save(path);
}

// An ordinary document whose main part is changed by edit.
bool saveWithMainPart(const QString& path, const std::function<QByteArray(const QByteArray&)>& edit)
{
    if (!saveOrdinary(path, 0))
        return false;
    QList<QPair<QString, QByteArray>> entries;
    for (const TznZipEntry& e : ReadZipEntries(path))
        entries.append({e.Name, e.Name == u"word/document.xml" ? edit(e.Content) : e.Content});
    return WriteZip(path, entries);
}

// A sound package whose main part holds more than 256 MB of XML, varied
// enough not to count as a zip bomb.
bool saveOversizedXml(const QString& path)
{
    return saveWithMainPart(path, [](const QByteArray& content) {
        const qsizetype body = content.indexOf("<w:sectPr") >= 0 ? content.indexOf("<w:sectPr") : content.indexOf("</w:body>");
        QByteArray paragraphs;
        paragraphs.reserve(qsizetype(270) << 20);
        quint32 x = 2463534242u;
        const QByteArray text(160, 'x');
        while (paragraphs.size() < (qsizetype(270) << 20)) {
            x ^= x << 13;
            x ^= x >> 17;
            x ^= x << 5;
            paragraphs += "<w:p><w:r><w:t>" + text + QByteArray::number(x, 16) + "</w:t></w:r></w:p>";
        }
        return content.left(body) + paragraphs + content.mid(body);
    });
}

// A main part whose body holds 100,000 nested elements.
bool saveDeeplyNested(const QString& path)
{
    return saveWithMainPart(path, [](const QByteArray& content) {
        const qsizetype body = content.indexOf("</w:body>");
        const int levels = 100000;
        return content.left(body) + QByteArray("<w:sdt>").repeated(levels) + QByteArray("</w:sdt>").repeated(levels)
               + content.mid(body);
    });
}

// A main part that declares a document type with an entity it uses.
bool saveWithDocumentType(const QString& path)
{
    return saveWithMainPart(path, [](const QByteArray& content) {
        QByteArray xml = content;
        const qsizetype root = xml.indexOf("<w:document");
        xml.insert(root, "<!DOCTYPE w:document [<!ENTITY x \"expanded\">]>");
        return xml.replace("An ordinary document.", "&x;");
    });
}

enum class TznZipField { Checksum = 0, InflatedSize = 8 }; // offsets from the checksum field

// An ordinary document, with one more part when extra is given, whose entry
// name has field changed in the zip's directory and local header, as a
// damaged copy or a hostile writer would leave it.
bool saveDamaged(const QString& path, const QString& name, TznZipField field, bool extra)
{
    if (!saveOrdinary(path, 0))
        return false;
    QList<QPair<QString, QByteArray>> entries;
    for (const TznZipEntry& e : ReadZipEntries(path))
        entries.append({e.Name, e.Content});
    if (extra)
        entries.append({name, QByteArray("<?xml version=\"1.0\"?><item>never read by the program</item>")});
    if (!WriteZip(path, entries))
        return false;
    QByteArray zip = ReadBytes(path);
    const QByteArray entryName = name.toUtf8();
    int patched = 0;
    // Local headers keep the checksum at 14 and the name at 30, directory
    // entries at 16 and 46.
    for (const auto& [signature, checksumAt, nameAt] : {std::tuple{QByteArray("PK\x03\x04"), 14, 30},
                                                         std::tuple{QByteArray("PK\x01\x02"), 16, 46}}) {
        for (qsizetype at = zip.indexOf(signature); at >= 0; at = zip.indexOf(signature, at + 4)) {
            if (zip.mid(at + nameAt, entryName.size()) != entryName)
                continue;
            char* value = zip.data() + at + checksumAt + int(field);
            quint32 v = quint8(value[0]) | quint8(value[1]) << 8 | quint8(value[2]) << 16 | quint32(quint8(value[3])) << 24;
            if (v == 0)
                continue; // sizes given in a data descriptor
            v = field == TznZipField::Checksum ? ~v : v + 100;
            for (int i = 0; i < 4; ++i)
                value[i] = char(v >> (8 * i));
            ++patched;
        }
    }
    return patched > 0 && WriteBytes(path, zip);
}

enum class TznOutcome {
    SuccessUnchanged, // Success, and the result holds the source's pictures as they were
    SuccessSmaller,   // Success, and the result is smaller than the source
    Failure,          // Failure with the message given
    NotListed,        // the scanner does not take it into the batch
    RunRefused,       // the run ends at once with the message given on its error output
};

struct HostileRow
{
    const char* name;
    const char* file; // the hostile document's name in the source folder; nullptr for an option
    std::function<bool(const QString& path)> make;
    QString options;  // more options for the run, after the standard ones
    TznOutcome outcome;
    const char* message;
};

class HostileInputTest : public testing::TestWithParam<HostileRow>
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(FDir.isValid());
        QDir dir(FDir.path());
        dir.mkpath(QStringLiteral("in"));
        dir.mkpath(QStringLiteral("bin"));
        // The program writes its usage store beside itself, and opens the
        // error report through xdg-open: both stay in this folder.
        FExe = FDir.filePath(QStringLiteral("bin/leafpress"));
        ASSERT_TRUE(QFile::copy(QStringLiteral(LP_EXE_PATH), FExe));
        const QString opener = FDir.filePath(QStringLiteral("bin/xdg-open"));
        ASSERT_TRUE(WriteBytes(opener, "#!/bin/sh\nexit 0\n"));
        QFile::setPermissions(opener, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
        ASSERT_TRUE(saveOrdinary(in(QStringLiteral("a.docx")), 1));
        ASSERT_TRUE(saveOrdinary(in(QStringLiteral("b.docx")), 2));
    }

    QString in(const QString& name) const { return FDir.filePath(QStringLiteral("in/") + name); }
    QString out(const QString& name) const { return FDir.filePath(QStringLiteral("out/") + name); }

    QTemporaryDir FDir;
    QString FExe;
};

TEST_P(HostileInputTest, BatchGoesOnAndEndsNormally)
{
    const HostileRow& row = GetParam();
    if (row.file) {
        ASSERT_TRUE(row.make(in(QString::fromUtf8(row.file)))) << "the hostile document was not built";
    }

    const QString log = FDir.filePath(QStringLiteral("run.log"));
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("PATH"), FDir.filePath(QStringLiteral("bin")) + u':' + env.value(QStringLiteral("PATH")));
    p.setProcessEnvironment(env);
    // The first line of an option wins: the row's come first.
    QString options = QStringLiteral("PureConsole=1,ThreadsCount=2,IsOverwrite=1,Source=%1,Target=%2,LogFile=%3")
                          .arg(in(QStringLiteral("*.doc?")), FDir.filePath(QStringLiteral("out")), log);
    if (!row.options.isEmpty())
        options = row.options + u',' + options;
    QElapsedTimer clock;
    clock.start();
    p.start(FExe, {QStringLiteral("-p") + options});
    ASSERT_TRUE(p.waitForFinished(120000)) << "the run did not end";
    const qint64 ms = clock.elapsed();
    const QString errors = QString::fromUtf8(p.readAllStandardError());
    ASSERT_EQ(p.exitStatus(), QProcess::NormalExit) << "the process crashed: " << errors.toStdString();
    // What a run costs is the benchmark's to measure; the bound only catches a run that hangs
    // or goes through its input far too slowly, even on a busy machine.
    std::printf("%s: the run took %lld ms\n", row.name, static_cast<long long>(ms));
    EXPECT_LT(ms, 60000) << "the run took " << ms << " ms";

    if (row.outcome == TznOutcome::RunRefused) {
        EXPECT_EQ(p.exitCode(), 2);
        EXPECT_TRUE(errors.contains(QString::fromUtf8(row.message))) << errors.toStdString();
        EXPECT_FALSE(QFileInfo::exists(out(QStringLiteral("a.docx"))));
        return;
    }
    EXPECT_EQ(p.exitCode(), 0) << errors.toStdString();
    const auto text = ReadTextFile(log);
    ASSERT_TRUE(text.has_value()) << "no log written";
    const QStringList lines = SplitLines(*text);

    QStringList expected = {in(QStringLiteral("a.docx")), in(QStringLiteral("b.docx"))};
    if (row.file && row.outcome != TznOutcome::NotListed)
        expected << in(QString::fromUtf8(row.file));
    EXPECT_EQ(lines.size(), expected.size()) << text->toStdString();
    const auto lineOf = [&](const QString& path) { return lines.filter(QStringLiteral(" => ") + path + QStringLiteral(" => ")).value(0); };
    for (const QString& name : {QStringLiteral("a.docx"), QStringLiteral("b.docx")}) {
        EXPECT_TRUE(lineOf(in(name)).startsWith(QStringLiteral("Success => "))) << lineOf(in(name)).toStdString();
        EXPECT_LT(QFileInfo(out(name)).size(), QFileInfo(in(name)).size()) << name.toStdString() << " was not compacted";
    }
    if (!row.file)
        return;
    const QString hostile = in(QString::fromUtf8(row.file));
    const QString line = lineOf(hostile);
    switch (row.outcome) {
    case TznOutcome::SuccessUnchanged: {
        EXPECT_TRUE(line.startsWith(QStringLiteral("Success => "))) << line.toStdString();
        const QString result = out(QString::fromUtf8(row.file));
        for (const TznZipEntry& e : ReadZipEntries(hostile)) {
            if (e.Name.startsWith(QStringLiteral("word/media/"))) {
                EXPECT_EQ(ReadZipEntry(result, e.Name), e.Content) << e.Name.toStdString() << " changed";
            }
        }
        break;
    }
    case TznOutcome::SuccessSmaller:
        EXPECT_TRUE(line.startsWith(QStringLiteral("Success => "))) << line.toStdString();
        EXPECT_LT(QFileInfo(out(QString::fromUtf8(row.file))).size(), QFileInfo(hostile).size()) << "not compacted";
        break;
    case TznOutcome::Failure:
        EXPECT_TRUE(line.startsWith(QStringLiteral("Failure => "))) << line.toStdString();
        EXPECT_TRUE(line.contains(QString::fromUtf8(row.message))) << line.toStdString();
        break;
    case TznOutcome::NotListed:
        EXPECT_TRUE(line.isEmpty()) << line.toStdString();
        break;
    case TznOutcome::RunRefused:
        break;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, HostileInputTest,
    testing::Values(
        HostileRow{"ThreadsCountOfThirtyThousand", nullptr, nullptr, QStringLiteral("ThreadsCount=30000"),
                   TznOutcome::SuccessUnchanged, ""},
        HostileRow{"PictureShownInTwoThousandPlaces", "uses.docx", saveManyUses, QString(), TznOutcome::SuccessSmaller, ""},
        HostileRow{"JpegOfTwoThousandScans", "scans.docx", saveManyScans, QString(), TznOutcome::SuccessUnchanged, ""},
        HostileRow{"MaskOfThreeHundredCharacters", nullptr, nullptr,
                   QStringLiteral("Source=") + QDir::tempPath() + u'/' + QString(300, u'*') + QStringLiteral(".docx"),
                   TznOutcome::RunRefused, "The file mask has 305 characters, more than the 255"},
        HostileRow{"LinkToKernelFileOfNoSize", "pagemap.docx",
                   [](const QString& path) { return QFile::link(QStringLiteral("/proc/self/pagemap"), path); }, QString(),
                   TznOutcome::Failure, "holds more than its size says"},
        HostileRow{"NamedPipe", "pipe.docx",
                   [](const QString& path) { return mkfifo(QFile::encodeName(path).constData(), 0600) == 0; }, QString(),
                   TznOutcome::NotListed, ""},
        HostileRow{"MainPartNestedHundredThousandLevels", "deep.docx", saveDeeplyNested, QString(), TznOutcome::Failure,
                   "nests its elements more than 2000 levels deep"},
        HostileRow{"MainPartOfMoreThan256MBOfXml", "huge.docx", saveOversizedXml, QString(), TznOutcome::Failure,
                   "of XML, more than the 256 MB a part may have"},
        HostileRow{"MainPartDeclaresADocumentType", "dtd.docx", saveWithDocumentType, QString(), TznOutcome::Failure,
                   "the part /word/document.xml declares a document type, which Office documents may not"},
        HostileRow{"PictureOfWrongChecksum", "crc.docx",
                   [](const QString& path) {
                       return saveDamaged(path, QStringLiteral("word/media/image1.jpeg"), TznZipField::Checksum, false);
                   },
                   QString(), TznOutcome::Failure, "the part /word/media/image1.jpeg is damaged"},
        HostileRow{"UnreadPartOfWrongChecksum", "unread.docx",
                   [](const QString& path) {
                       return saveDamaged(path, QStringLiteral("customXml/item1.xml"), TznZipField::Checksum, true);
                   },
                   QString(), TznOutcome::Failure, "the part /customXml/item1.xml is damaged"},
        HostileRow{"PictureShorterThanDeclared", "size.docx",
                   [](const QString& path) {
                       return saveDamaged(path, QStringLiteral("word/media/image1.jpeg"), TznZipField::InflatedSize, false);
                   },
                   QString(), TznOutcome::Failure, "the part /word/media/image1.jpeg is damaged"}),
    RowName());

TEST(HostileJpegTest, DecodingGivesUpPastTheScanLimit)
{
    TznRenderRequest request;
    request.Bytes = manyScanJpeg(MaxJpegScans + 1);
    request.ShownCx = kEmuPerInch * 2;
    request.ShownCy = kEmuPerInch * 3 / 2;
    try {
        RenderPicture(request);
        FAIL() << "a JPEG of " << MaxJpegScans + 1 << " scans was rendered";
    } catch (const EznError& e) {
        EXPECT_EQ(e.Message().toStdString(), QStringLiteral("The JPEG picture has more than %1 scans").arg(MaxJpegScans).toStdString());
    }
    // At the limit it is still a picture.
    request.Bytes = manyScanJpeg(MaxJpegScans);
    EXPECT_GT(RenderPicture(request).PixelWidth, 0);
}

// Every input a fuzzer once found a fault with is replayed through its
// target; a fault that comes back crashes this test or a sanitizer reports it.
TEST(FuzzRegressionTest, KeptInputsRunClean)
{
    int replayed = 0;
    for (const TznFuzzTarget& target : FuzzTargets) {
        QDirIterator it(QStringLiteral(LP_SOURCE_DIR "/fuzz/regressions/") + QString::fromLatin1(target.Name), QDir::Files);
        while (it.hasNext()) {
            QFile f(it.next());
            ASSERT_TRUE(f.open(QIODevice::ReadOnly));
            const QByteArray bytes = f.readAll();
            SCOPED_TRACE(it.filePath().toStdString());
            EXPECT_EQ(target.Run(reinterpret_cast<const uint8_t*>(bytes.constData()), size_t(bytes.size())), 0);
            ++replayed;
        }
    }
    RecordProperty("replayed", replayed);
    EXPECT_GT(replayed, 0) << "no kept input under fuzz/regressions";
}

} // namespace
