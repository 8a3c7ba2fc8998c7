// The module's side of the bridge to LibreOffice: the only code of the program that links
// the UNO libraries. It is built as the module leafpress-lodoc and reached only through
// its entry (see znOfficeBase.h), so nothing of UNO is seen outside it.

#include "lodoc/znOfficeBase.h"
#include "lodoc/znOfficeProcess.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QUrl>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <thread>

#include <com/sun/star/beans/PropertyValue.hpp>
#include <com/sun/star/bridge/UnoUrlResolver.hpp>
#include <com/sun/star/bridge/XUnoUrlResolver.hpp>
#include <com/sun/star/connection/NoConnectException.hpp>
#include <com/sun/star/frame/Desktop.hpp>
#include <com/sun/star/frame/XDesktop2.hpp>
#include <com/sun/star/frame/XModel.hpp>
#include <com/sun/star/frame/XStorable.hpp>
#include <com/sun/star/lang/DisposedException.hpp>
#include <com/sun/star/lang/XComponent.hpp>
#include <com/sun/star/uno/XComponentContext.hpp>
#include <com/sun/star/util/XCloseable.hpp>
#include <cppuhelper/bootstrap.hxx>
#include <rtl/bootstrap.hxx>
#include <rtl/ustring.hxx>

#include <string.h>
#include <unistd.h>

using namespace com::sun::star;
using rtl::OUString;

namespace {

// A new profile is written on the first start; that takes a few seconds on a slow machine.
constexpr int kStartTimeoutMs = 90000;
constexpr int kQuitTimeoutMs = 5000;
constexpr int kRestartCode = 81;

OUString toOU(const QString& s)
{
    return OUString(reinterpret_cast<const sal_Unicode*>(s.utf16()), sal_Int32(s.size()));
}

QString fromOU(const OUString& s)
{
    return QString::fromUtf16(reinterpret_cast<const char16_t*>(s.getStr()), s.getLength());
}

OUString fileUrl(const QString& path)
{
    return toOU(QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath()).toString(QUrl::FullyEncoded));
}

beans::PropertyValue property(const char* name, const uno::Any& value)
{
    beans::PropertyValue p;
    p.Name = OUString::createFromAscii(name);
    p.Value = value;
    return p;
}

uno::Sequence<beans::PropertyValue> properties(std::initializer_list<beans::PropertyValue> list)
{
    uno::Sequence<beans::PropertyValue> seq(sal_Int32(list.size()));
    beans::PropertyValue* out = seq.getArray();
    for (const beans::PropertyValue& p : list)
        *out++ = p;
    return seq;
}

// The process's own UNO runtime, bootstrapped once from the installed office's types:
// only the bridge to the office instances runs in it.
uno::Reference<uno::XComponentContext> localContext(QString& reason)
{
    static std::once_flag once;
    static uno::Reference<uno::XComponentContext> context;
    static QString failure;
    std::call_once(once, [] {
        try {
            // unorc names the runtime's types and services; the office's own types (those
            // of the desktop and its documents) come in through fundamentalrc.
            const QString dir = QString::fromLatin1(kOfficeProgramDir);
            rtl::Bootstrap::set("URE_BOOTSTRAP", toOU(QStringLiteral("vnd.sun.star.pathname:") + dir + QStringLiteral("/fundamentalrc")));
            context = cppu::defaultBootstrap_InitialComponentContext(
                toOU(QUrl::fromLocalFile(dir + QStringLiteral("/unorc")).toString()));
        } catch (const uno::Exception& e) {
            failure = fromOU(e.Message);
        }
    });
    reason = failure;
    return context;
}

QString uniquePipeName()
{
    static std::atomic<int> counter{0};
    return QStringLiteral("leafpress-%1-%2-%3")
        .arg(getpid())
        .arg(++counter)
        .arg(std::chrono::steady_clock::now().time_since_epoch().count() % 1000000);
}

// The settings every profile starts with: documents never fetch what they link to (a
// picture on a web server would tell its owner who opened the document, and when) and
// never run their macros; the document is only converted.
bool writeProfileSettings(const QString& profile)
{
    static const char settings[] =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<oor:items xmlns:oor=\"http://openoffice.org/2001/registry\" xmlns:xs=\"http://www.w3.org/2001/XMLSchema\" "
        "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\">\n"
        "<item oor:path=\"/org.openoffice.Office.Common/Security/Scripting\"><prop oor:name=\"BlockUntrustedRefererLinks\" "
        "oor:op=\"fuse\"><value>true</value></prop></item>\n"
        "<item oor:path=\"/org.openoffice.Office.Common/Security/Scripting\"><prop oor:name=\"DisableMacrosExecution\" "
        "oor:op=\"fuse\"><value>true</value></prop></item>\n"
        "</oor:items>\n";
    if (!QDir(profile).mkpath(QStringLiteral("user")))
        return false;
    QFile f(profile + QStringLiteral("/user/registrymodifications.xcu"));
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(settings, qint64(sizeof settings - 1)) == qint64(sizeof settings - 1)
           && f.flush();
}

// The import filter for a conversion by LibreOffice's own command line, by the source's
// first bytes: it must read the file as a word-processing document, never fall back to
// plain text. Empty when the source is no file LibreOffice may take for the format.
QString commandLineFilterFor(const QString& source, TznOfficeFormat format)
{
    QFile f(source);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    const QByteArray head = f.read(4);
    if (head == QByteArray("PK\x03\x04", 4))
        return QStringLiteral("MS Word 2007 XML");
    if (head == QByteArray("\xD0\xCF\x11\xE0", 4) && format != TznOfficeFormat::Doc)
        return QStringLiteral("MS Word 97");
    return {};
}

} // namespace

// One LibreOffice instance driven through its UNO API over a pipe.
class TznUnoOffice final : public TznOfficeBase
{
public:
    explicit TznUnoOffice(TznOfficeSettings settings) : FSettings(std::move(settings)) {}
    ~TznUnoOffice() override { Quit(); }

    QString Convert(const QString& source, const QString& target, TznOfficeFormat format) noexcept override;
    void Quit() noexcept override;
    bool IsRunning() noexcept override { return FProcess.IsAlive(); }
    qint64 ProcessId() noexcept override { return FProcess.IsAlive() ? FProcess.Pid() : 0; }
    QString ProfileFolder() noexcept override { return FProfile && FProcess.IsAlive() ? FProfile->path() : QString(); }

private:
    TznOfficeSettings FSettings;
    TznOfficeProcess FProcess;
    std::unique_ptr<QTemporaryDir> FProfile;
    uno::Reference<frame::XDesktop2> FDesktop;

    // Starts the instance and connects to it; a reason when it cannot be had.
    QString Start();
    void Stop();
    QString ConvertOrThrow(const QString& source, const QString& target, TznOfficeFormat format);
    bool ConvertAlone(const QString& source, const QString& target, TznOfficeFormat format);
    uno::Reference<lang::XComponent> Load(const QString& source);
    void Store(const uno::Reference<lang::XComponent>& doc, const QString& target, TznOfficeFormat format);
};

namespace {

QString programOf(const TznOfficeSettings& settings)
{
    return settings.Program.isEmpty() ? QString::fromLatin1(kOfficeProgramDir) + QStringLiteral("/soffice.bin") : settings.Program;
}

std::unique_ptr<QTemporaryDir> newProfile(const TznOfficeSettings& settings)
{
    // In the run's own scratch folder: when the run is killed, a later run
    // finds the profile by the run's process id and removes it.
    const QString& scratch = settings.ScratchFolder;
    return std::make_unique<QTemporaryDir>((scratch.isEmpty() ? QDir::tempPath() + QStringLiteral("/leafpress-") : scratch + u'/')
                                           + QStringLiteral("office-XXXXXX"));
}

// The export filter and the file name extension of a format.
const char* exportFilter(TznOfficeFormat format)
{
    return format == TznOfficeFormat::Doc ? "MS Word 97" : format == TznOfficeFormat::Pdf ? "writer_pdf_Export" : "MS Word 2007 XML";
}

const char* extensionOf(TznOfficeFormat format)
{
    return format == TznOfficeFormat::Doc ? "doc" : format == TznOfficeFormat::Pdf ? "pdf" : "docx";
}

const QStringList& quietArgs()
{
    static const QStringList args{QStringLiteral("--headless"), QStringLiteral("--invisible"), QStringLiteral("--nologo"),
                                  QStringLiteral("--norestore"), QStringLiteral("--nodefault"), QStringLiteral("--nolockcheck")};
    return args;
}

} // namespace

QString TznUnoOffice::Start()
{
    const QString program = programOf(FSettings);
    if (program.isEmpty() || !QFileInfo(program).isExecutable())
        return QStringLiteral("such documents need LibreOffice; %1.").arg(QLatin1String(kOfficeInstallHint));
    QString reason;
    const uno::Reference<uno::XComponentContext> local = localContext(reason);
    if (!local.is())
        return QStringLiteral("LibreOffice's UNO runtime cannot be started (%1); %2.").arg(reason, QLatin1String(kOfficeInstallHint));

    FProfile = newProfile(FSettings);
    if (!FProfile->isValid())
        return QStringLiteral("no profile folder for LibreOffice can be made (%1).").arg(FProfile->errorString());
    const QString pipe = uniquePipeName();
    const QStringList args = QStringList{QStringLiteral("-env:UserInstallation=") + QUrl::fromLocalFile(FProfile->path()).toString()}
                             + quietArgs()
                             + QStringList{QStringLiteral("--accept=pipe,name=%1;urp;StarOffice.ComponentContext").arg(pipe)};
    // The instance's own temporary files go into its profile folder and leave with it.
    QDir(FProfile->path()).mkpath(QStringLiteral("tmp"));
    if (!writeProfileSettings(FProfile->path()))
        return QStringLiteral("the settings of LibreOffice's profile cannot be written in %1.").arg(FProfile->path());
    const QStringList env{QStringLiteral("SAL_ENABLE_FILE_LOCKING=1"), QStringLiteral("TMPDIR=") + FProfile->filePath(QStringLiteral("tmp"))};
    int restarts = 0;
    if (!FProcess.Start(program, args, env, reason))
        return QStringLiteral("LibreOffice cannot be started (%1).").arg(reason);

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kStartTimeoutMs);
    try {
        const uno::Reference<bridge::XUnoUrlResolver> resolver = bridge::UnoUrlResolver::create(local);
        const OUString url = toOU(QStringLiteral("uno:pipe,name=%1;urp;StarOffice.ComponentContext").arg(pipe));
        for (;;) {
            try {
                uno::Reference<uno::XComponentContext> remote(resolver->resolve(url), uno::UNO_QUERY_THROW);
                FDesktop = frame::Desktop::create(remote);
                return {};
            } catch (const connection::NoConnectException&) {
                // Not listening yet: the instance is still starting; try again below.
            }
            if (!FProcess.IsAlive()) {
                // The first start in a new profile writes it and asks to be started again.
                if (FProcess.ExitCode() == kRestartCode && restarts++ == 0) {
                    if (!FProcess.Start(program, args, env, reason))
                        return QStringLiteral("LibreOffice cannot be started (%1).").arg(reason);
                    continue;
                }
                // Ended by a signal: someone or something killed the instance
                // this conversion waits for.
                if (FProcess.ExitSignal() != 0)
                    return QStringLiteral("LibreOffice ended while converting (signal %1).").arg(FProcess.ExitSignal());
                return QStringLiteral("LibreOffice ended while starting (exit code %1).").arg(FProcess.ExitCode());
            }
            if (std::chrono::steady_clock::now() >= deadline)
                return QStringLiteral("LibreOffice did not answer within %1 seconds of its start.").arg(kStartTimeoutMs / 1000);
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    } catch (const uno::Exception& e) {
        return QStringLiteral("LibreOffice cannot be reached (%1).").arg(fromOU(e.Message));
    }
}

void TznUnoOffice::Stop()
{
    if (FDesktop.is() && FProcess.IsAlive()) {
        TznOfficeWatchdog guard(FProcess, kQuitTimeoutMs);
        try {
            FDesktop->terminate();
        } catch (const uno::Exception&) {
            // An instance that refuses or has already gone is killed just below.
        }
    }
    try {
        FDesktop.clear();
    } catch (const uno::Exception&) {
        // Releasing the last reference over a dead bridge raises; it is released anyway.
    }
    if (!FProcess.WaitForEnd(kQuitTimeoutMs))
        FProcess.Kill();
    FProcess.Kill();
    FProfile.reset();
}

uno::Reference<lang::XComponent> TznUnoOffice::Load(const QString& source)
{
    const uno::Sequence<beans::PropertyValue> args = properties({
        property("Hidden", uno::Any(true)),
        property("ReadOnly", uno::Any(true)),
        property("Silent", uno::Any(true)),
        // Macros never run and links are never updated: the document is only converted.
        property("MacroExecutionMode", uno::Any(sal_Int16(0))),
        property("UpdateDocMode", uno::Any(sal_Int16(0))),
    });
    return FDesktop->loadComponentFromURL(fileUrl(source), "_blank", 0, args);
}

void TznUnoOffice::Store(const uno::Reference<lang::XComponent>& doc, const QString& target,
                                     TznOfficeFormat format)
{
    const uno::Sequence<beans::PropertyValue> args = properties({
        property("FilterName", uno::Any(OUString::createFromAscii(exportFilter(format)))),
        property("Overwrite", uno::Any(true)),
    });
    uno::Reference<frame::XStorable> storable(doc, uno::UNO_QUERY_THROW);
    storable->storeToURL(fileUrl(target), args);
}

namespace {

void closeDocument(const uno::Reference<lang::XComponent>& doc)
{
    if (!doc.is())
        return;
    try {
        uno::Reference<util::XCloseable> closeable(doc, uno::UNO_QUERY);
        if (closeable.is())
            closeable->close(true);
        else
            doc->dispose();
    } catch (const uno::Exception&) {
        // The document is closed by the instance's end if not here: a hung or dead
        // instance is ended by the caller, and a live one closes its documents at Quit.
    }
}

// True when LibreOffice read the file as a word-processing document of the Word family,
// not as some other format its detection fell back to (plain text for damaged files). A
// package is the source of a conversion to the legacy format; a rendering takes either.
bool loadedAsWord(const uno::Reference<lang::XComponent>& doc, TznOfficeFormat sourceKind)
{
    uno::Reference<frame::XModel> model(doc, uno::UNO_QUERY);
    if (!model.is())
        return false;
    const uno::Sequence<beans::PropertyValue> args = model->getArgs();
    for (const beans::PropertyValue& p : args) {
        OUString filter;
        if (p.Name == "FilterName" && (p.Value >>= filter)) {
            const QString name = fromOU(filter);
            return sourceKind == TznOfficeFormat::Doc ? name.startsWith(QLatin1String("MS Word 2007"))
                                                     : name.contains(QLatin1String("Word"));
        }
    }
    return false;
}

} // namespace

void TznUnoOffice::Quit() noexcept
{
    try {
        Stop();
    } catch (...) {
        // Stop catches what UNO raises; anything else (an allocation failing) leaves the
        // process to its owner, which kills it when this object goes.
    }
}

// One conversion by LibreOffice's command line in a profile of its own, in the time a
// conversion may take; true when it wrote target.
bool TznUnoOffice::ConvertAlone(const QString& source, const QString& target, TznOfficeFormat format)
{
    const QString filter = commandLineFilterFor(source, format);
    const std::unique_ptr<QTemporaryDir> profile = newProfile(FSettings);
    if (filter.isEmpty() || !profile->isValid() || !writeProfileSettings(profile->path()))
        return false;
    const QDir dir(profile->path());
    if (!dir.mkpath(QStringLiteral("tmp")) || !dir.mkpath(QStringLiteral("out")))
        return false;
    const QString extension = QLatin1String(extensionOf(format));
    const QStringList args = QStringList{QStringLiteral("-env:UserInstallation=") + QUrl::fromLocalFile(profile->path()).toString()}
                             + quietArgs()
                             + QStringList{QStringLiteral("--infilter=") + filter, QStringLiteral("--convert-to"),
                                           extension + u':' + QLatin1String(exportFilter(format)), QStringLiteral("--outdir"),
                                           dir.filePath(QStringLiteral("out")), QFileInfo(source).absoluteFilePath()};
    const QStringList env{QStringLiteral("SAL_ENABLE_FILE_LOCKING=1"), QStringLiteral("TMPDIR=") + dir.filePath(QStringLiteral("tmp"))};
    TznOfficeProcess process;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(FSettings.TimeoutMs);
    for (int start = 0; start < 2; ++start) {
        QString reason;
        if (!process.Start(programOf(FSettings), args, env, reason))
            return false;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (!process.WaitForEnd(int(std::max<qint64>(0, left.count())))) {
            process.Kill();
            return false;
        }
        // The first start in a new profile writes it and asks to be started again.
        if (process.ExitCode() != kRestartCode)
            break;
    }
    const QString produced = dir.filePath(QStringLiteral("out/") + QFileInfo(source).completeBaseName() + u'.' + extension);
    if (process.ExitCode() != 0 || QFileInfo(produced).size() <= 0)
        return false;
    QFile::remove(target);
    return QFile::rename(produced, target) || QFile::copy(produced, target);
}

QString TznUnoOffice::Convert(const QString& source, const QString& target, TznOfficeFormat format) noexcept
{
    try {
        return ConvertOrThrow(source, target, format);
    } catch (...) {
        // Whatever else the office's runtime raises must not pass into the program, which
        // knows nothing of its types: the instance is of no more use.
        Quit();
        return QStringLiteral("LibreOffice failed while converting it; its instance was restarted.");
    }
}

QString TznUnoOffice::ConvertOrThrow(const QString& source, const QString& target, TznOfficeFormat format)
{
    if (!FDesktop.is() || !FProcess.IsAlive()) {
        Stop();
        const QString reason = Start();
        if (!reason.isEmpty()) {
            Stop();
            return reason;
        }
    }

    QString reason;
    bool timedOut = false, endedReading = false;
    {
        TznOfficeWatchdog guard(FProcess, FSettings.TimeoutMs);
        uno::Reference<lang::XComponent> doc;
        bool crashed = false;
        try {
            doc = Load(source);
        } catch (const lang::DisposedException&) {
            // The bridge went away: the instance ended (crashed) while reading the file.
            crashed = true;
        } catch (const uno::Exception&) {
            // LibreOffice refused the file (an I/O or illegal-argument error); the null
            // document below reports it as damaged.
            doc.clear();
        } catch (...) {
            crashed = true;
        }
        // An instance that ends from here on without having returned a document ended
        // while it read the file.
        endedReading = !doc.is();
        bool asWord = false;
        if (!crashed && doc.is()) {
            try {
                asWord = loadedAsWord(doc, format);
            } catch (const uno::Exception&) {
                // The instance went away just after it returned the document, still
                // busy with it (seen on a loaded machine).
                endedReading = crashed = true;
            }
        }
        if (crashed) {
            FProcess.WaitForEnd(kQuitTimeoutMs);
            reason = QStringLiteral("LibreOffice failed while reading it.");
        } else if (!asWord) {
            reason = QStringLiteral("the file is damaged or is no document package.");
        } else {
            try {
                // The name is ours now; LibreOffice creates the file itself so that it gets
                // the permissions of a new file, not those of a private temporary.
                QFile::remove(target);
                Store(doc, target, format);
            } catch (const uno::Exception& e) {
                reason = QStringLiteral("LibreOffice cannot convert it (%1).").arg(fromOU(e.Message));
            }
        }
        if (!guard.Fired())
            closeDocument(doc);
        try {
            doc.clear();
        } catch (const uno::Exception&) {
            // Releasing the reference over a bridge whose instance ended raises; the
            // reference is gone either way and the instance is checked just below.
        }
        timedOut = guard.Fired();
    }
    if (timedOut || !FProcess.IsAlive()) {
        // A hung or crashed instance is of no use to the next document: a new one is started.
        const int signal = FProcess.ExitSignal(), code = FProcess.ExitCode();
        Stop();
        if (timedOut)
            return QStringLiteral("LibreOffice did not convert it within %1 seconds; its instance was restarted.")
                .arg(FSettings.TimeoutMs / 1000);
        // LibreOffice gives up now and then on a document it reads through its programming
        // interface, which its own command line, reading on its main thread with the same
        // filters, converts.
        if (endedReading && ConvertAlone(source, target, format))
            return {};
        // How the instance ended says what happened to it (an abort is LibreOffice giving
        // up on the document by itself, a segmentation fault a crash).
        QString how;
        if (const char* what = signal > 0 ? sigdescr_np(signal) : nullptr)
            how = QStringLiteral(" on signal %1 (%2)").arg(signal).arg(QString::fromLocal8Bit(what));
        else if (code >= 0)
            how = QStringLiteral(" with exit code %1").arg(code);
        return QStringLiteral("LibreOffice failed while converting it: it ended%1 while %2 the document; its instance was restarted.")
            .arg(how, endedReading ? QStringLiteral("reading") : QStringLiteral("writing"));
    }
    return reason;
}

// The module's one entry (see znOfficeBase.h); it raises nothing.
extern "C" Q_DECL_EXPORT TznOfficeBase* lpCreateOffice(int version, const TznOfficeSettings* settings)
{
    if (version != kOfficeModuleVersion || !settings)
        return nullptr;
    try {
        return new TznUnoOffice(*settings);
    } catch (...) {
        // Only an allocation can fail here; the program reports a null instance.
        return nullptr;
    }
}
