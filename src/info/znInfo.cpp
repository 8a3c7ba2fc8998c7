#include "info/znInfo.h"

#include "platform/znApp.h"
#include "platform/znAppFiles.h"
#include "platform/znError.h"
#include "platform/znPath.h"
#include "platform/znShell.h"
#include "platform/znTextFile.h"
#include "project/znFileUtils.h"
#include "project/znProject.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <limits>

TznInfo* Info = nullptr;

// The manual of an installed program, relative to its executable's folder;
// the install rules pass the folder they install it to.
#ifndef LP_INSTALLED_DOC_DIR
#define LP_INSTALLED_DOC_DIR "../share/doc/leafpress"
#endif

const QString TznInfo::SiteUrl = QStringLiteral("http://leafpress.example.com");
const QString TznInfo::SupportMailTo = QStringLiteral("mailto:support@leafpress.example.com");

namespace {

std::atomic<TznInfo*> exceptionHandler{nullptr};

// --- store lines: name=value, the first line whose name matches wins ---

// The name of a store line: the text before its first "=", empty without one.
QStringView lineName(const QString& line)
{
    const qsizetype eq = line.indexOf(u'=');
    return eq < 0 ? QStringView() : QStringView(line).left(eq);
}

qsizetype findLine(const QStringList& lines, const QString& name)
{
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QStringView n = lineName(lines[i]);
        if (!n.isEmpty() && n.compare(name, Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}

QString valueOf(const QStringList& lines, const QString& name)
{
    const qsizetype i = findLine(lines, name);
    return i < 0 ? QString() : lines[i].mid(lines[i].indexOf(u'=') + 1);
}

void setValue(QStringList& lines, const QString& name, const QString& value)
{
    const qsizetype i = findLine(lines, name);
    const QString line = name + u'=' + value;
    if (i < 0)
        lines << line;
    else
        lines[i] = line;
}

// --- store file scramble ---
//
// The file holds a marker unit, a 32-bit checksum of the text and the text,
// each unit added to a key stream and to the previous output unit. The
// checksum is seeded with the key, so a file read with another key (or a file
// that never was a store) is recognised and yields no lines.

constexpr char16_t storeMark = 0x7A6E;

uint32_t mix32(uint32_t x)
{
    x ^= x >> 16;
    x *= 0x7FEB352Du;
    x ^= x >> 15;
    x *= 0x846CA68Bu;
    x ^= x >> 16;
    return x;
}

class TznKeyStream
{
public:
    explicit TznKeyStream(int32_t key)
        : FState(mix32(uint32_t(key) ^ 0xA5C3E1F7u)) {}

    char16_t Next()
    {
        FState += 0x9E3779B9u;
        return char16_t(mix32(FState) >> 8);
    }

private:
    uint32_t FState;
};

uint32_t storeChecksum(QStringView text, int32_t key)
{
    uint32_t h = 2166136261u ^ mix32(uint32_t(key));
    for (const QChar c : text) {
        h ^= c.unicode();
        h *= 16777619u;
    }
    return h;
}

// A query value as it travels in a web address: double quotes dropped (the
// pages that read the value take them for its end), then every byte of its
// UTF-8 form percent-encoded except letters, digits, "-._~" and the "/:@"
// a query may carry as they are, so that no "&", "#", "%", "+", "=", "?" or
// blank of the value can end it or be read as something else.
QString encodeQueryValue(const QString& value)
{
    QString encoded;
    for (const char byte : QString(value).remove(u'"').toUtf8()) {
        const auto b = static_cast<unsigned char>(byte);
        const bool plain = (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z') || (b >= '0' && b <= '9')
            || std::strchr("-._~/:@", b) != nullptr;
        if (plain && b != 0)
            encoded += QChar(b);
        else
            encoded += QStringLiteral("%%1").arg(b, 2, 16, QChar(u'0')).toUpper();
    }
    return encoded;
}

// Appends name=value to the query, the value encoded.
void addParam(QString& query, const QString& value, const QString& name)
{
    if (value.isEmpty())
        return;
    if (!query.isEmpty())
        query += u'&';
    query += name + u'=' + encodeQueryValue(value);
}

// The action may carry one parameter of its own after its first "&", as
// the reports do ("err&e=" followed by the reason): the action and that
// parameter's value are encoded apart, so the names and their order stay.
void addAction(QString& query, const QString& action)
{
    const qsizetype amp = action.indexOf(u'&');
    if (amp < 0) {
        addParam(query, action, QStringLiteral("a"));
        return;
    }
    addParam(query, action.left(amp), QStringLiteral("a"));
    const QString rest = action.mid(amp + 1);
    const qsizetype eq = rest.indexOf(u'=');
    if (!query.isEmpty())
        query += u'&';
    if (eq < 0)
        query += encodeQueryValue(rest);
    else
        query += encodeQueryValue(rest.left(eq)) + u'=' + encodeQueryValue(rest.mid(eq + 1));
}

QString exeName()
{
    return App ? App->ExeName : QString();
}

} // namespace

QString TznInfo::EncodeStore(const QString& text, int32_t key)
{
    const uint32_t sum = storeChecksum(text, key);
    QString plain;
    plain.reserve(text.size() + 3);
    plain += QChar(storeMark);
    plain += QChar(char16_t(sum >> 16));
    plain += QChar(char16_t(sum & 0xFFFFu));
    plain += text;

    TznKeyStream stream(key);
    QString out(plain.size(), Qt::Uninitialized);
    char16_t prev = 0;
    for (qsizetype i = 0; i < plain.size(); ++i) {
        prev = char16_t(plain[i].unicode() + stream.Next() + prev);
        out[i] = QChar(prev);
    }
    return out;
}

QString TznInfo::DecodeStore(const QString& data, int32_t key)
{
    if (data.size() < 3)
        return {};
    TznKeyStream stream(key);
    QString plain(data.size(), Qt::Uninitialized);
    char16_t prev = 0;
    for (qsizetype i = 0; i < data.size(); ++i) {
        const char16_t unit = data[i].unicode();
        plain[i] = QChar(char16_t(unit - stream.Next() - prev));
        prev = unit;
    }
    if (plain[0].unicode() != storeMark)
        return {};
    const uint32_t sum = (uint32_t(plain[1].unicode()) << 16) | plain[2].unicode();
    const QStringView text = QStringView(plain).mid(3);
    if (sum != storeChecksum(text, key))
        return {};
    return text.toString();
}

TznInfo::TznInfo()
{
    exceptionHandler.store(this);

    // The folder itself, not its trailing delimiter, names the entry.
    QString folder = FolderPart(exeName());
    if (folder.size() > 1 && HasTrailingDelimiter(folder))
        folder.chop(1);
    InstallStampLocal = TznFileUtils::FileDosTime(folder, true, false);
    InstallStamp = TznFileUtils::FileDosTime(folder, true, true);

    LoadStore();
    try {
        Tally(QStringLiteral("R"), 0, 1);
    } catch (...) {
        // The program is not stopped for its usage counters: it runs on with
        // them in memory only and never tries the file again.
        std::lock_guard lock(FLock);
        FPersistent = false;
    }
}

TznInfo::~TznInfo()
{
    TznInfo* self = this;
    exceptionHandler.compare_exchange_strong(self, nullptr);
    try {
        SaveStore();
    } catch (...) {
        // Nothing is left at process end to report a lost counter to.
    }
}

TznInfo* TznInfo::ExceptionHandler()
{
    return exceptionHandler.load();
}

QString TznInfo::StorePath() const
{
    const QString exe = exeName();
    return exe.isEmpty() ? QString() : ChangeFileExt(exe, QStringLiteral(".ext"));
}

void TznInfo::LoadStore()
{
    std::lock_guard lock(FLock);
    loadStoreLocked();
}

void TznInfo::loadStoreLocked()
{
    const QString path = SideFileForRead(StorePath());
    int32_t key = InstallStamp;
    for (;;) {
        FStore.clear();
        try {
            if (!path.isEmpty() && QFileInfo(path).isFile())
                FStore = SplitLines(DecodeStore(TznFileUtils::ReadFileText(path, 2), key));
        } catch (...) {
            FStore.clear();
        }
        if (!valueOf(FStore, QStringLiteral("R")).isEmpty())
            break;
        // A store written while the folder's time was taken as local time.
        if (key == InstallStamp && InstallStampLocal != InstallStamp) {
            key = InstallStampLocal;
            continue;
        }
        FStore.clear();
        break;
    }
    setValue(FStore, QStringLiteral("v"), QStringLiteral("2"));
}

void TznInfo::SaveStore()
{
    std::lock_guard lock(FLock);
    saveStoreLocked();
}

void TznInfo::saveStoreLocked()
{
    if (!FPersistent)
        return;
    const QString path = SideFileForWrite(StorePath());
    if (path.isEmpty())
        throw EznError(QStringLiteral("Cannot create file \"%1\".").arg(path));
    QFile file(path);
    if (file.exists() && !(file.permissions() & QFileDevice::WriteOwner))
        file.setPermissions(file.permissions() | QFileDevice::WriteOwner | QFileDevice::WriteUser);
    TznFileUtils::WriteFileText(path, EncodeStore(JoinLines(FStore), InstallStamp), 2);
}

void TznInfo::Tally(const QString& name, int value, int step)
{
    std::lock_guard lock(FLock);
    const QString stored = valueOf(FStore, name);
    qint64 next = value;
    if (value <= 0) {
        bool ok = false;
        const int current = stored.toInt(&ok, 10);
        // A counter saturates rather than wrapping to a negative count.
        next = std::clamp<qint64>(qint64(ok ? current : 0) + step, std::numeric_limits<int32_t>::min(),
                                  std::numeric_limits<int32_t>::max());
    }
    const QString text = QString::number(next);
    if (stored == text)
        return;
    setValue(FStore, name, text);
    saveStoreLocked();
}

bool TznInfo::IsQuiet() const
{
    std::lock_guard lock(FLock);
    return TextToBool(valueOf(FStore, QStringLiteral("+")), false);
}

QString TznInfo::StoreValue(const QString& name) const
{
    std::lock_guard lock(FLock);
    return valueOf(FStore, name);
}

QStringList TznInfo::StoreLines() const
{
    std::lock_guard lock(FLock);
    return FStore;
}

QString TznInfo::usageSummaryLocked() const
{
    QString summary = QStringLiteral("0");
    for (const QString& line : FStore) {
        const QStringView name = lineName(line);
        if (name.isEmpty())
            continue;
        const char16_t first = name.front().unicode();
        if (first >= u'A' && first <= u'Z')
            summary += QChar(char16_t(first - u'A' + u'a')) + line.mid(name.size() + 1);
    }
    return summary;
}

QString TznInfo::HelpFilePath() const
{
    const QString exe = exeName();
    const QString chm = ChangeFileExt(exe, QStringLiteral(".chm"));
    if (QFileInfo::exists(chm))
        return chm;
    const QString pdf = ChangeFileExt(exe, QStringLiteral(".pdf"));
    if (QFileInfo::exists(pdf) || exe.isEmpty())
        return pdf;
    // An installed program has its manual under the same prefix, in the
    // documentation folder, rather than beside itself.
    const QString installed = QDir::cleanPath(FolderPart(exe) + QStringLiteral(LP_INSTALLED_DOC_DIR "/")
                                              + FileNamePart(pdf));
    return QFileInfo::exists(installed) ? installed : pdf;
}

void TznInfo::OpenLink(const QString& page, const QString& action, const QString& extra)
{
    const QString title = Project ? Project->Title : QString();
    const QString version = Project ? Project->Version : QString();
    const QString productCode = Project ? Project->ProductCode : QString();

    QString link;
    if (page == QLatin1String("supports")) {
        QString subjectTitle = title;
        const qsizetype amp = subjectTitle.indexOf(u'&');
        if (amp >= 0)
            subjectTitle.replace(amp, 1, QStringLiteral("And"));
        // One pass of arg(), so a "%1" inside the title stays as it is.
        link = SupportMailTo
               + QStringLiteral("?subject=Support required for %1 %2 - %3")
                     .arg(subjectTitle, version, QString::number(InstallStamp));
    } else if (page == QLatin1String("h")) {
        link = HelpFilePath();
    } else {
        link = SiteUrl;
        if (!page.isEmpty()) {
            link += QStringLiteral("/en/") + productCode + u'/' + page + QStringLiteral(".htm");
        } else if (!action.isEmpty()) {
            if (IsQuiet())
                return;
            link += QStringLiteral("/net/");
        }

        // What the site is sent never carries a password of a web source,
        // nor the folders of the user's documents.
        QString query;
        addAction(query, action.isEmpty() ? action : CutLocalPaths(WithoutCredentials(action)));
        // Without a project the report still goes out with what it can carry.
        if (Project) {
            addParam(query, productCode, QStringLiteral("p"));
            addParam(query, version, QStringLiteral("v"));
        }
        {
            std::lock_guard lock(FLock);
            addParam(query, usageSummaryLocked(), QStringLiteral("c"));
        }
        addParam(query, QString::number(InstallStamp), QStringLiteral("i"));
        if (!extra.isEmpty())
            query += u'&' + WithoutCredentials(extra);
        link += u'?' + query;
    }
    Shell().Open(link);
}

void TznInfo::AppException(QObject* sender, const std::exception& error)
{
    try {
        Tally(QStringLiteral("E"), 0, 1);
    } catch (...) {
        // A lost count must not stop the report below.
    }
    // The last handler on the way out of the event loop: whatever goes wrong
    // while reporting must not escape it.
    try {
        const auto* own = dynamic_cast<const EznError*>(&error);
        const QString message = own ? own->Message() : QString::fromUtf8(error.what());
        OpenLink(QString(), QStringLiteral("err&e=") + message, QString());
    } catch (...) {
        // Nothing is left to report to; see above.
    }
}
