#include "info/znInfo.h"
#include "app/znVersion.h"
#include "znTestBytes.h"
#include "znTestRequire.h"

#include "platform/znApp.h"
#include "platform/znError.h"
#include "platform/znShell.h"
#include "project/znFileUtils.h"
#include "project/znProject.h"
#include "znTestRows.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QUrl>
#include <QUrlQuery>

#include <gtest/gtest.h>

#include <ctime>
#include <functional>
#include <memory>
#include <stdexcept>
#include <thread>
#include <vector>

namespace {

const QString version = QString::fromLatin1(ProductVersion);

// A program installed in a temporary folder, with the product constants and a
// recording shell, so that nothing real is opened.
class InfoTest : public testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(FDir.isValid());
        QDir(FDir.path()).mkpath(QStringLiteral("bin"));
        FBin = FDir.path() + QStringLiteral("/bin");
        App = new TznApp(FBin + QStringLiteral("/leafpress"), {});
        Project = new TznProject();
        Project->ProductCode = QStringLiteral("docslim");
        Project->Title = QStringLiteral("Leafpress Compactor");
        Project->Version = version;
        SetShell(&FShell);
    }
    void TearDown() override
    {
        SetShell(nullptr);
        delete Project;
        Project = nullptr;
        delete App;
        App = nullptr;
    }

    QString StoreFile() const { return FBin + QStringLiteral("/leafpress.ext"); }
    int32_t Stamp(bool utc) const { return TznFileUtils::FileDosTime(FBin, true, utc); }
    void WriteStore(const QString& text, int32_t key)
    {
        TznFileUtils::WriteFileText(StoreFile(), TznInfo::EncodeStore(text, key));
    }
    QString ReadStore(int32_t key) const
    {
        return TznInfo::DecodeStore(TznFileUtils::ReadFileText(StoreFile()), key);
    }
    // The store of the examples: R=5 and W=16 in that order, stamp 1234.
    void UseExampleStore(TznInfo& info)
    {
        info.InstallStamp = 1234;
        info.Tally(QStringLiteral("R"), 5, 0);
        info.Tally(QStringLiteral("W"), 16, 0);
    }

    QTemporaryDir FDir;
    QString FBin;
    TznRecordingShell FShell;
};

template <class Row>
class RowTest : public InfoTest, public testing::WithParamInterface<Row>
{
};

struct LinkRow
{
    const char* name;
    QString page, action, extra;
    QString expected; // "SITE" stands for the site's root address
    QString title = QStringLiteral("Leafpress Compactor");
};

using LinkTest = RowTest<LinkRow>;

TEST_P(LinkTest, BuildsTheLinkCharacterForCharacter)
{
    const LinkRow& row = GetParam();
    Project->Title = row.title;
    TznInfo info;
    UseExampleStore(info);
    info.OpenLink(row.page, row.action, row.extra);
    QString expected = row.expected;
    expected.replace(QStringLiteral("SITE"), TznInfo::SiteUrl);
    EXPECT_EQ(FShell.Links(), QStringList{expected});
}

const QString usage = "p=docslim&v=" + version + "&c=0r5w16&i=1234";

INSTANTIATE_TEST_SUITE_P(
    Examples, LinkTest,
    testing::Values(
        LinkRow{"Home", {}, {}, {}, "SITE?" + usage},
        LinkRow{"CheckUpdate", "download", {}, {}, "SITE/en/docslim/download.htm?" + usage},
        LinkRow{"Uninstall", {}, "uni", {}, "SITE/net/?a=uni&" + usage},
        LinkRow{"InstallWithExtra", {}, "ins", "from=\"cd\"", "SITE/net/?a=ins&" + usage + "&from=\"cd\""},
        LinkRow{"ErrorReport", {}, "err&e=Access violation", {}, "SITE/net/?a=err&e=Access%20violation&" + usage},
        LinkRow{"QuotesDroppedReservedEncoded", {}, "err&e=File \"a&b?.docx\" failed", {},
                "SITE/net/?a=err&e=File%20a%26b%3F.docx%20failed&" + usage},
        LinkRow{"Support", "supports", {}, {},
                "mailto:support@leafpress.example.com?subject=Support required for Leafpress Compactor "
                + version + " - 1234"},
        LinkRow{"SupportTitleFirstAmpersandOnly", "supports", {}, {},
                "mailto:support@leafpress.example.com?subject=Support required for Fish And Chips & %1 Co "
                + version + " - 1234",
                "Fish & Chips & %1 Co"}),
    RowName());

TEST_F(InfoTest, ReportReasonDecodesBackWithParametersInOrder)
{
    TznInfo info;
    UseExampleStore(info);
    const QString reason = QStringLiteral(u"Tom & Jerry #2: 100% + more = é?/x");
    info.OpenLink({}, QStringLiteral("err&e=") + reason, {});
    ASSERT_EQ(FShell.Links().size(), 1);
    const QUrl url(FShell.Links().first(), QUrl::StrictMode);
    ASSERT_TRUE(url.isValid()) << url.errorString().toStdString();
    EXPECT_TRUE(url.fragment().isEmpty());
    const QList<QPair<QString, QString>> items = QUrlQuery(url).queryItems(QUrl::FullyDecoded);
    QStringList names;
    for (const auto& item : items)
        names << item.first;
    EXPECT_EQ(names, (QStringList{"a", "e", "p", "v", "c", "i"}));
    EXPECT_EQ(QUrlQuery(url).queryItemValue(QStringLiteral("e"), QUrl::FullyDecoded), reason);
    EXPECT_EQ(QUrlQuery(url).queryItemValue(QStringLiteral("a")), QStringLiteral("err"));
}

struct QuietRow
{
    const char* name;
    QString page, action;
    bool opens;
};

using QuietTest = RowTest<QuietRow>;

TEST_P(QuietTest, SuppressesOnlyReports)
{
    WriteStore(QStringLiteral("R=3\r\n+=True"), Stamp(true));
    TznInfo info;
    ASSERT_TRUE(info.IsQuiet());
    info.OpenLink(GetParam().page, GetParam().action, {});
    EXPECT_EQ(FShell.Links().size(), GetParam().opens ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(Links, QuietTest,
                         testing::Values(QuietRow{"Home", {}, {}, true}, QuietRow{"CheckUpdate", "download", {}, true},
                                         QuietRow{"Help", "h", {}, true}, QuietRow{"Support", "supports", {}, true},
                                         QuietRow{"Uninstall", {}, "uni", false},
                                         QuietRow{"Error", {}, "err&e=x", false}),
                         RowName());

TEST_F(InfoTest, AppExceptionCountsAndReportsWithoutRaising)
{
    auto info = std::make_unique<TznInfo>();
    EXPECT_EQ(TznInfo::ExceptionHandler(), info.get());
    UseExampleStore(*info);
    info->AppException(nullptr, EznError(QStringLiteral("Cannot open \"x.doc\"")));
    info->AppException(nullptr, std::runtime_error("bad alloc"));
    EXPECT_EQ(FShell.Links(),
              (QStringList{TznInfo::SiteUrl + "/net/?a=err&e=Cannot%20open%20x.doc&p=docslim&v=" + version + "&c=0r5w16e1&i=1234",
                           TznInfo::SiteUrl + "/net/?a=err&e=bad%20alloc&p=docslim&v=" + version + "&c=0r5w16e2&i=1234"}));
    EXPECT_TRUE(ReadStore(1234).contains(QStringLiteral("E=2")));
    info.reset();
    EXPECT_EQ(TznInfo::ExceptionHandler(), nullptr);
}

struct HelpRow
{
    const char* name;
    bool chm, pdf, installed; // leafpress.chm, leafpress.pdf beside the program; the installed manual
    const char* opened;       // relative to the prefix the program's bin/ folder is in
};

using HelpTest = RowTest<HelpRow>;

TEST_P(HelpTest, PrefersTheFilesBesideTheProgram)
{
    const HelpRow& row = GetParam();
    const QString prefix = FDir.path();
    const QString manual = prefix + QStringLiteral("/share/doc/leafpress/leafpress.pdf");
    for (const auto& [present, file] : {std::pair{row.chm, FBin + "/leafpress.chm"}, std::pair{row.pdf, FBin + "/leafpress.pdf"},
                                        std::pair{row.installed, manual}})
        if (present)
            TznFileUtils::WriteFileText(file, QStringLiteral("x"));
    TznInfo info;
    info.OpenLink(QStringLiteral("h"), QStringLiteral("ignored"), QStringLiteral("ignored"));
    EXPECT_EQ(FShell.Links(), QStringList{prefix + u'/' + QString::fromUtf8(row.opened)});
}

INSTANTIATE_TEST_SUITE_P(Files, HelpTest,
                         testing::Values(HelpRow{"NoneOpensThePdfBeside", false, false, false, "bin/leafpress.pdf"},
                                         HelpRow{"PdfBeside", false, true, false, "bin/leafpress.pdf"},
                                         HelpRow{"ChmBeside", true, false, false, "bin/leafpress.chm"},
                                         HelpRow{"ChmBeforePdf", true, true, false, "bin/leafpress.chm"},
                                         HelpRow{"InstalledOnly", false, false, true, "share/doc/leafpress/leafpress.pdf"},
                                         HelpRow{"PdfBesideBeforeInstalled", false, true, true, "bin/leafpress.pdf"},
                                         HelpRow{"ChmBesideBeforeInstalled", true, false, true, "bin/leafpress.chm"}),
                         RowName());

TEST_F(InfoTest, StoreSurvivesTheNextStart)
{
    {
        TznInfo info;
        info.Tally(QStringLiteral("C"), 0, 3);
        info.Tally(QStringLiteral("W"), 16, 0);
    }
    ASSERT_FALSE(ReadStore(Stamp(true)).isEmpty());
    EXPECT_FALSE(TznFileUtils::ReadFileText(StoreFile()).contains(QStringLiteral("W=16")));
    TznInfo info;
    EXPECT_EQ(info.StoreLines(), (QStringList{"v=2", "R=2", "C=3", "W=16"}));
}

struct LoadRow
{
    const char* name;
    std::function<QByteArray(int32_t key)> file; // key: the UTC stamp
    QString r, h;                               // after the start that reads it
};

using LoadTest = RowTest<LoadRow>;

QByteArray encoded(const QString& text, int32_t key)
{
    const QString units = TznInfo::EncodeStore(text, key);
    return QByteArray(reinterpret_cast<const char*>(units.utf16()), units.size() * 2);
}

TEST_P(LoadTest, ReadsOnlyAGoodStore)
{
    const QByteArray bytes = GetParam().file(Stamp(true));
    ASSERT_TRUE(WriteBytes(StoreFile(), bytes));
    TznInfo info;
    EXPECT_EQ(info.StoreValue(QStringLiteral("R")), GetParam().r);
    EXPECT_EQ(info.StoreValue(QStringLiteral("H")), GetParam().h);
    EXPECT_EQ(ReadStore(Stamp(true)), info.StoreLines().join("\r\n") + "\r\n");
}

INSTANTIATE_TEST_SUITE_P(
    Files, LoadTest,
    testing::Values(LoadRow{"Good", [](int32_t k) { return encoded("R=4\r\nH=3", k); }, "5", "3"},
                    LoadRow{"Empty", [](int32_t) { return QByteArray(); }, "1", ""},
                    LoadRow{"PlainText", [](int32_t) { return QByteArray("R\0=\0" "9\0", 6); }, "1", ""},
                    LoadRow{"Truncated", [](int32_t k) { return encoded("R=4\r\nH=3", k).chopped(2); }, "1", ""},
                    LoadRow{"OtherKey", [](int32_t k) { return encoded("R=4\r\nH=3", k ^ 0x5A5A); }, "1", ""},
                    LoadRow{"WithoutR", [](int32_t k) { return encoded("H=3", k); }, "1", ""}),
    RowName());

TEST_F(InfoTest, StoreKeyedByLocalStampIsReadAndRekeyed)
{
    const QByteArray oldTz = qgetenv("TZ");
    qputenv("TZ", "JST-9");
    tzset();
    const int32_t utc = Stamp(true), local = Stamp(false);
    const auto restoreTz = [&] {
        oldTz.isNull() ? qunsetenv("TZ") : qputenv("TZ", oldTz);
        tzset();
    };
    if (utc == local)
        restoreTz();
    LP_SKIP_UNLESS(utc != local) << "the folder's time reads the same in local time";
    WriteStore(QStringLiteral("R=7\r\nH=2"), local);
    {
        TznInfo info;
        EXPECT_EQ(info.InstallStamp, utc);
        EXPECT_EQ(info.InstallStampLocal, local);
        EXPECT_EQ(info.StoreValue(QStringLiteral("H")), "2");
        EXPECT_EQ(info.StoreValue(QStringLiteral("R")), "8");
    }
    restoreTz();
    EXPECT_EQ(ReadStore(utc), "R=8\r\nH=2\r\nv=2\r\n");
    EXPECT_EQ(ReadStore(local), "");
}

struct TallyRow
{
    const char* name;
    QString before; // store lines after "R=1"
    QString key;
    int value, step;
    QString after;
    bool writes;
};

using TallyTest = RowTest<TallyRow>;

TEST_P(TallyTest, WritesOnlyAChange)
{
    const TallyRow& row = GetParam();
    WriteStore("R=1\r\n" + row.before, Stamp(true));
    TznInfo info;
    QFile::remove(StoreFile());
    info.Tally(row.key, row.value, row.step);
    EXPECT_EQ(info.StoreValue(row.key), row.after);
    EXPECT_EQ(QFile::exists(StoreFile()), row.writes);
}

INSTANTIATE_TEST_SUITE_P(
    Counters, TallyTest,
    testing::Values(TallyRow{"NewNameStepZero", "", "X", 0, 0, "0", true},
                    TallyRow{"SameZeroAgain", "X=0", "X", 0, 0, "0", false},
                    TallyRow{"SetToSameValue", "W=16", "W", 16, 0, "16", false},
                    TallyRow{"ZeroValueAdvances", "W=16", "W", 0, 1, "17", true},
                    TallyRow{"NotANumberCountsAsZero", "H=abc", "H", 0, 1, "1", true},
                    TallyRow{"NameIgnoresCase", "h=4", "H", 0, 2, "6", true},
                    TallyRow{"Saturates", "A=2147483647", "A", 0, 1, "2147483647", false}),
    RowName());

TEST_F(InfoTest, ConcurrentTallyLosesNoCount)
{
    constexpr int perThread = 100, threads = 4;
    {
        TznInfo info;
        std::vector<std::thread> workers;
        for (int t = 0; t < threads; ++t)
            workers.emplace_back([&info] {
                for (int i = 0; i < perThread; ++i)
                    info.Tally(QStringLiteral("A"), 0, 1);
            });
        for (int i = 0; i < perThread; ++i)
            info.Tally(QStringLiteral("S"), 0, 1);
        for (auto& w : workers)
            w.join();
    }
    TznInfo info;
    EXPECT_EQ(info.StoreValue(QStringLiteral("A")).toInt(), perThread * threads);
    EXPECT_EQ(info.StoreValue(QStringLiteral("S")).toInt(), perThread);
}

TEST_F(InfoTest, UnwritableStoreAtStartRunsWithoutOne)
{
    QDir().mkpath(StoreFile()); // a folder where the file should be
    TznInfo info;
    EXPECT_EQ(info.StoreValue(QStringLiteral("R")), "1");
    EXPECT_NO_THROW(info.Tally(QStringLiteral("H"), 0, 1));
    EXPECT_EQ(info.StoreValue(QStringLiteral("H")), "1");
}

TEST_F(InfoTest, WriteFailureAfterStartRaisesButErrorsStillReport)
{
    TznInfo info;
    QFile::remove(StoreFile());
    QDir().mkpath(StoreFile());
    EXPECT_THROW(info.Tally(QStringLiteral("H"), 0, 1), EznError);
    info.AppException(nullptr, EznError(QStringLiteral("x")));
    EXPECT_EQ(FShell.Links().size(), 1);
    EXPECT_EQ(info.StoreValue(QStringLiteral("E")), "1");
}

} // namespace
