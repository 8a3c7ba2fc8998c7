#include "project/znProject.h"

#include "platform/znApp.h"
#include "platform/znAppFiles.h"
#include "platform/znError.h"
#include "platform/znPath.h"
#include "platform/znTextFile.h"
#include "project/znDialogs.h"
#include "project/znPropList.h"

#include <QDir>
#include <QFileInfo>
#include <QLocale>
#include <QReadLocker>
#include <QWriteLocker>

TznProject* Project = nullptr;

namespace {

// The name of an option line: everything before its first "=", or nothing
// for a line without one.
bool lineNameEquals(const QString& line, const QString& key)
{
    const qsizetype eq = line.indexOf(u'=');
    if (eq < 0)
        return false;
    return QStringView(line).left(eq).compare(key, Qt::CaseInsensitive) == 0;
}

qsizetype findLine(const QStringList& lines, const QString& key)
{
    for (qsizetype i = 0; i < lines.size(); ++i)
        if (lineNameEquals(lines[i], key))
            return i;
    return -1;
}

QString exeName()
{
    return App ? App->ExeName : ExecutablePath();
}

} // namespace

bool TextToBool(const QString& text, bool def)
{
    const QString t = text.trimmed();
    if (t.isEmpty())
        return def;
    bool ok = false;
    const double number = QLocale::system().toDouble(t, &ok);
    if (ok)
        return number != 0.0;
    const double cNumber = QLocale::c().toDouble(t, &ok);
    if (ok)
        return cNumber != 0.0;
    if (text.compare(QLatin1String("True"), Qt::CaseInsensitive) == 0)
        return true;
    if (text.compare(QLatin1String("False"), Qt::CaseInsensitive) == 0)
        return false;
    return def;
}

int TextToInt(const QString& text, int def)
{
    qsizetype i = 0;
    const qsizetype n = text.size();
    while (i < n && text[i].unicode() <= 32 && text[i].unicode() > 0)
        ++i;
    bool negative = false;
    if (i < n && (text[i] == u'-' || text[i] == u'+')) {
        negative = text[i] == u'-';
        ++i;
    }
    int base = 10;
    if (i < n && text[i] == u'$') {
        base = 16;
        ++i;
    } else if (i + 1 < n && text[i] == u'0' && (text[i + 1] == u'x' || text[i + 1] == u'X')) {
        base = 16;
        i += 2;
    }
    if (i >= n)
        return def;
    qint64 value = 0;
    for (; i < n; ++i) {
        const int digit = QChar::isDigit(text[i].unicode()) ? text[i].digitValue()
                        : (base == 16 && text[i].isLetter()) ? (text[i].toLower().unicode() - u'a' + 10)
                        : -1;
        if (digit < 0 || digit >= base || text[i].unicode() > 127)
            return def;
        value = value * base + digit;
        if (value > qint64(0xFFFFFFFF))
            return def;
    }
    if (negative)
        value = -value;
    // Hexadecimal texts may spell the full 32 bits, as in $FFFFFFFF = -1.
    if (base == 16 && value > INT32_MAX && value <= qint64(0xFFFFFFFF))
        value -= qint64(1) << 32;
    if (value < INT32_MIN || value > INT32_MAX)
        return def;
    return int(value);
}

bool IsWebSource(const QString& source)
{
    return source.startsWith(QLatin1String("http://"), Qt::CaseInsensitive)
        || source.startsWith(QLatin1String("https://"), Qt::CaseInsensitive);
}

QString BoolToText(bool value)
{
    return value ? QStringLiteral("True") : QStringLiteral("False");
}

TznProject::TznProject()
{
    loadRecent();
}

TznProject::~TznProject()
{
    for (const auto& control : FBoundControls)
        if (control && FBinders.count(control.data()))
            control->setProperty("tag", -1);
    saveRecent();
}

// --- option text ---

QString TznProject::GetOption(const QString& key) const
{
    QReadLocker lock(&FOptionsLock);
    const qsizetype i = findLine(FOptions, key);
    return i < 0 ? QString() : FOptions[i].mid(FOptions[i].indexOf(u'=') + 1);
}

void TznProject::SetOption(const QString& key, const QString& value)
{
    QWriteLocker lock(&FOptionsLock);
    const qsizetype i = findLine(FOptions, key);
    if (value.isEmpty()) {
        if (i >= 0)
            FOptions.removeAt(i);
    } else if (i >= 0) {
        FOptions[i] = key + u'=' + value;
    } else {
        FOptions << key + u'=' + value;
    }
}

QString TznProject::OptionsText() const
{
    QReadLocker lock(&FOptionsLock);
    return JoinLines(FOptions);
}

QStringList TznProject::OptionLines() const
{
    QReadLocker lock(&FOptionsLock);
    return FOptions;
}

void TznProject::SetOptionsText(const QString& text)
{
    const qsizetype nul = text.indexOf(QChar(0));
    QStringList lines = SplitLines(nul >= 0 ? text.left(nul) : text);
    QWriteLocker lock(&FOptionsLock);
    FOptions = std::move(lines);
}

// --- typed getters ---

QString TznProject::Source() const { return GetOption(QStringLiteral("Source")); }
bool TznProject::Subdir() const { return TextToBool(GetOption(QStringLiteral("Subdir")), false); }
QString TznProject::Target() const { return GetOption(QStringLiteral("Target")); }
int TznProject::ThreadsCount() const { return TextToInt(GetOption(QStringLiteral("ThreadsCount")), 1); }

TznOverwrite TznProject::IsOverwrite() const
{
    const QString text = GetOption(QStringLiteral("IsOverwrite"));
    if (text.compare(QLatin1String("skip"), Qt::CaseInsensitive) == 0)
        return TznOverwrite::Skip;
    return TextToBool(text, OverwriteDefault) ? TznOverwrite::Overwrite : TznOverwrite::Rename;
}

bool TznProject::KeepFileTime() const { return TextToBool(GetOption(QStringLiteral("KeepFileTime")), false); }
bool TznProject::KeepTargetSubdirs() const { return TextToBool(GetOption(QStringLiteral("KeepTargetSubdirs")), true); }
bool TznProject::DeleteSource() const { return TextToBool(GetOption(QStringLiteral("DeleteSource")), false); }
QString TznProject::RenameSource() const { return GetOption(QStringLiteral("RenameSource")); }
bool TznProject::DryRun() const { return TextToBool(GetOption(QStringLiteral("DryRun")), false); }
QString TznProject::Shard() const { return GetOption(QStringLiteral("Shard")).trimmed(); }

bool TznProject::RunAndClose() const
{
    return TextToBool(GetOption(QStringLiteral("RunAndClose")), false) || PureConsole() || Daemon() > 0;
}

int TznProject::Daemon() const { return TextToInt(GetOption(QStringLiteral("Daemon")), 0); }
bool TznProject::PureConsole() const { return TextToBool(GetOption(QStringLiteral("PureConsole")), false); }
QString TznProject::LogFile() const { return GetOption(QStringLiteral("LogFile")); }
QString TznProject::RegExt() const { return GetOption(QStringLiteral("RegExt")); }
bool TznProject::SkipHidden() const { return TextToBool(GetOption(QStringLiteral("SkipHidden")), false); }
bool TznProject::AppVisible() const { return TextToBool(GetOption(QStringLiteral("AppVisible")), false); }
bool TznProject::ReadOnly() const { return TextToBool(GetOption(QStringLiteral("ReadOnly")), false); }
bool TznProject::SkipPassword() const { return TextToBool(GetOption(QStringLiteral("SkipPassword")), false); }
bool TznProject::DocToDocx() const { return TextToBool(GetOption(QStringLiteral("DocToDocx")), true); }
int TznProject::Type() const { return TextToInt(GetOption(QStringLiteral("Type")), 13); }
int TznProject::Resolution() const { return TextToInt(GetOption(QStringLiteral("Resolution")), 150); }
int TznProject::Quality() const { return TextToInt(GetOption(QStringLiteral("Quality")), 85); }
bool TznProject::Recompress() const { return TextToBool(GetOption(QStringLiteral("Recompress")), true); }

TznVerify TznProject::Verify() const
{
    const QString text = GetOption(QStringLiteral("Verify"));
    // A text that reads as a Boolean reads so whatever the default; anything else is Auto.
    const bool on = TextToBool(text, true);
    if (on != TextToBool(text, false))
        return TznVerify::Auto;
    return on ? TznVerify::On : TznVerify::Off;
}

double TznProject::VerifyPsnr() const
{
    bool ok = false;
    const double psnr = QLocale::c().toDouble(GetOption(QStringLiteral("VerifyPsnr")).trimmed(), &ok);
    return ok && psnr >= 0 && psnr <= 99 ? psnr : 30;
}

bool TznProject::SubsetFonts() const { return TextToBool(GetOption(QStringLiteral("SubsetFonts")), false); }

QString TznProject::TargetFolder() const
{
    const QString target = Target();
    if (target.isEmpty())
        return {};
    if (!QFileInfo(target).isDir())
        QDir().mkpath(target);
    return IncludeTrailingDelimiter(target);
}

// --- opening and saving ---

bool TznProject::ParseCommandLine(const QString& firstParam)
{
    const QString& p = firstParam;
    if (p.size() >= 2) {
        const bool isSwitch = p[0] == u'-' || (NativePathStyle() == PathStyle::Windows && p[0] == u'/');
        if (isSwitch) {
            QChar sw = p[1];
            if (sw.unicode() >= 'a' && sw.unicode() <= 'z')
                sw = QChar(sw.unicode() - 'a' + 'A');
            if (sw == u'I') {
                if (OnOpenLink)
                    OnOpenLink(QString(), QStringLiteral("ins"), p.mid(2));
                return false;
            }
            if (sw == u'U') {
                if (OnOpenLink)
                    OnOpenLink(QString(), QStringLiteral("uni"), QString());
                return false;
            }
            if (sw == u'P') {
                QString text = p.mid(2);
                if (text.startsWith(u':'))
                    text.remove(0, 1);
                text.replace(u',', u';');
                text.replace(QStringLiteral(";"), QStringLiteral("\r\n"));
                InlineOptions = text;
            }
        } else {
            FileName = p;
        }
    }
    OpenInitial();
    return true;
}

void TznProject::OpenInitial()
{
    if (FileName.isEmpty() && InlineOptions.isEmpty()) {
        // Without a default project there is nothing to open: the options
        // stay as they are and no project is named (the title says "None"
        // and Save asks where to save).
        const QString defaultProject = SideFileForRead(DefaultProjectPath());
        if (!QFileInfo::exists(defaultProject)) {
            OptionsToControls();
            return;
        }
        FileName = defaultProject;
    }
    OpenProject(true);
}

void TznProject::OpenProject(bool skipDialog)
{
    if (!skipDialog) {
        QString path = FileName;
        path.replace(u'?', u'*');
        if (!::OpenFileDialog(ProjectFilter + u'|' + SourceFilter, path, false))
            return;
        FileName = path;
    }
    const QString path = FileName;
    if (IsProjectFile(path)) {
        if (const auto text = ReadTextFile(path)) {
            SetOptionsText(*text);
            AddRecent();
        }
    } else if (!InlineOptions.isEmpty()) {
        SetOptionsText(InlineOptions);
        if (Target().isEmpty())
            SetOption(QStringLiteral("Target"), FolderPart(Source()));
    } else {
        FileName.clear();
        SetOption(QStringLiteral("Source"), path);
        if (Target().isEmpty())
            SetOption(QStringLiteral("Target"), FolderPart(path));
    }
    OptionsToControls();
}

void TznProject::NewProject()
{
    FileName.clear();
    SetOptionsText(QString());
    OptionsToControls();
}

void TznProject::SaveProject()
{
    if (!FileName.isEmpty())
        CollectOptions(true);
    else
        SaveProjectAs();
}

void TznProject::SaveProjectAs()
{
    QString path = FileName;
    if (!::SaveFileDialog(ProjectFilter, ProjectExt, path))
        return;
    FileName = path;
    CollectOptions(true);
}

void TznProject::CollectOptions(bool writeFile)
{
    ControlsToOptions();
    if (!writeFile)
        return;
    WriteTextFile(FileName, OptionLines());
    AddRecent();
}

TznPropList& TznProject::binder(QObject* control)
{
    auto& slot = FBinders[control];
    if (!slot) {
        slot = std::make_unique<TznPropList>(control);
        control->setProperty("tag", int(FBinders.size()));
    }
    return *slot;
}

namespace {

QString propertyNameOf(const QObject* control)
{
    return control->property("toolTip").toString();
}

} // namespace

void TznProject::ControlsToOptions()
{
    for (const auto& control : FBoundControls) {
        if (!control)
            continue;
        const QString value = binder(control).GetPropText(propertyNameOf(control));
        SetOption(control->objectName().mid(1), value);
    }
}

void TznProject::OptionsToControls()
{
    for (const auto& control : FBoundControls) {
        if (!control)
            continue;
        const QString prop = propertyNameOf(control);
        QString value = GetOption(control->objectName().mid(1));
        if (value.isEmpty()) {
            const QString alt = control->objectName() + u'.' + prop;
            value = GetOption(alt);
            SetOption(alt, QString());
        }
        binder(control).SetPropText(prop, value);
    }
}

void TznProject::AddRecent()
{
    for (const QString& file : std::as_const(RecentFiles))
        if (file.compare(FileName, Qt::CaseInsensitive) == 0)
            return;
    RecentFiles.prepend(FileName);
}

bool TznProject::IsProjectFile(const QString& path) const
{
    return !ProjectExt.isEmpty() && path.endsWith(ProjectExt, Qt::CaseSensitive);
}

void TznProject::BindControl(QObject* control)
{
    FBoundControls.emplace_back(control);
}

QString TznProject::RecentFilesPath() const
{
    return exeName() + QStringLiteral(".log");
}

QString TznProject::DefaultProjectPath() const
{
    return ChangeFileExt(exeName(), ProjectExt);
}

void TznProject::loadRecent()
{
    if (const auto text = ReadTextFile(SideFileForRead(RecentFilesPath()))) {
        const qsizetype nul = text->indexOf(QChar(0));
        RecentFiles = SplitLines(nul >= 0 ? text->left(nul) : *text);
    }
}

void TznProject::saveRecent() const
{
    try {
        WriteTextFile(SideFileForWrite(RecentFilesPath()), RecentFiles);
    } catch (const EznError&) {
        // The list is a convenience; a read-only place loses it silently.
    }
}
