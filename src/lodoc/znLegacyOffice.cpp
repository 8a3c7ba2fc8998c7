#include "lodoc/znLegacyOffice.h"

#include "lodoc/znOfficeProcess.h"
#include "platform/znLocalPath.h"
#include "platform/znReplaceFile.h"
#include "platform/znError.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QUrl>

#include <atomic>
#include <chrono>
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

#include <unistd.h>

using namespace com::sun::star;
using rtl::OUString;

namespace {

const char* const kInstallHint = "install LibreOffice Writer (Debian: apt install libreoffice-writer-nogui)";
const char* const kProgramDir = "/usr/lib/libreoffice/program";
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
            const QString dir = QString::fromLatin1(kProgramDir);
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

} // namespace

struct TznLegacyOffice::TznImpl
{
    TznOfficeSettings Settings;
    TznOfficeProcess Process;
    std::unique_ptr<QTemporaryDir> Profile;
    uno::Reference<frame::XDesktop2> Desktop;

    // Starts the instance and connects to it; a reason when it cannot be had.
    QString Start();
    void Stop();
    uno::Reference<lang::XComponent> Load(const QString& source);
    void Store(const uno::Reference<lang::XComponent>& doc, const QString& target, TznOfficeFormat format);
};

QString TznLegacyOffice::TznImpl::Start()
{
    const QString program = Settings.Program.isEmpty() ? InstalledProgram() : Settings.Program;
    if (program.isEmpty() || !QFileInfo(program).isExecutable())
        return QStringLiteral("such documents need LibreOffice; %1.").arg(QLatin1String(kInstallHint));
    QString reason;
    const uno::Reference<uno::XComponentContext> local = localContext(reason);
    if (!local.is())
        return QStringLiteral("LibreOffice's UNO runtime cannot be started (%1); %2.").arg(reason, QLatin1String(kInstallHint));

    // In the run's own scratch folder: when the run is killed, a later run
    // finds the profile by the run's process id and removes it.
    const QString scratch = ScratchFolder();
    Profile = std::make_unique<QTemporaryDir>((scratch.isEmpty() ? QDir::tempPath() + QStringLiteral("/leafpress-") : scratch + u'/')
                                              + QStringLiteral("office-XXXXXX"));
    if (!Profile->isValid())
        return QStringLiteral("no profile folder for LibreOffice can be made (%1).").arg(Profile->errorString());
    const QString pipe = uniquePipeName();
    const QStringList args{
        QStringLiteral("-env:UserInstallation=") + QUrl::fromLocalFile(Profile->path()).toString(),
        QStringLiteral("--headless"), QStringLiteral("--invisible"), QStringLiteral("--nologo"),
        QStringLiteral("--norestore"), QStringLiteral("--nodefault"), QStringLiteral("--nolockcheck"),
        QStringLiteral("--accept=pipe,name=%1;urp;StarOffice.ComponentContext").arg(pipe)};
    // The instance's own temporary files go into its profile folder and leave with it.
    QDir(Profile->path()).mkpath(QStringLiteral("tmp"));
    const QStringList env{QStringLiteral("SAL_ENABLE_FILE_LOCKING=1"), QStringLiteral("TMPDIR=") + Profile->filePath(QStringLiteral("tmp"))};
    int restarts = 0;
    if (!Process.Start(program, args, env, reason))
        return QStringLiteral("LibreOffice cannot be started (%1).").arg(reason);

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kStartTimeoutMs);
    try {
        const uno::Reference<bridge::XUnoUrlResolver> resolver = bridge::UnoUrlResolver::create(local);
        const OUString url = toOU(QStringLiteral("uno:pipe,name=%1;urp;StarOffice.ComponentContext").arg(pipe));
        for (;;) {
            try {
                uno::Reference<uno::XComponentContext> remote(resolver->resolve(url), uno::UNO_QUERY_THROW);
                Desktop = frame::Desktop::create(remote);
                return {};
            } catch (const connection::NoConnectException&) {
            }
            if (!Process.IsAlive()) {
                // The first start in a new profile writes it and asks to be started again.
                if (Process.ExitCode() == kRestartCode && restarts++ == 0) {
                    if (!Process.Start(program, args, env, reason))
                        return QStringLiteral("LibreOffice cannot be started (%1).").arg(reason);
                    continue;
                }
                // Ended by a signal: someone or something killed the instance
                // this conversion waits for.
                if (Process.ExitSignal() != 0)
                    return QStringLiteral("LibreOffice ended while converting (signal %1).").arg(Process.ExitSignal());
                return QStringLiteral("LibreOffice ended while starting (exit code %1).").arg(Process.ExitCode());
            }
            if (std::chrono::steady_clock::now() >= deadline)
                return QStringLiteral("LibreOffice did not answer within %1 seconds of its start.").arg(kStartTimeoutMs / 1000);
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    } catch (const uno::Exception& e) {
        return QStringLiteral("LibreOffice cannot be reached (%1).").arg(fromOU(e.Message));
    }
}

void TznLegacyOffice::TznImpl::Stop()
{
    if (Desktop.is() && Process.IsAlive()) {
        TznOfficeWatchdog guard(Process, kQuitTimeoutMs);
        try {
            Desktop->terminate();
        } catch (const uno::Exception&) {
        }
    }
    try {
        Desktop.clear();
    } catch (const uno::Exception&) {
    }
    if (!Process.WaitForEnd(kQuitTimeoutMs))
        Process.Kill();
    Process.Kill();
    Profile.reset();
}

uno::Reference<lang::XComponent> TznLegacyOffice::TznImpl::Load(const QString& source)
{
    const uno::Sequence<beans::PropertyValue> args = properties({
        property("Hidden", uno::Any(true)),
        property("ReadOnly", uno::Any(true)),
        property("Silent", uno::Any(true)),
        // Macros never run and links are never updated: the document is only converted.
        property("MacroExecutionMode", uno::Any(sal_Int16(0))),
        property("UpdateDocMode", uno::Any(sal_Int16(0))),
    });
    return Desktop->loadComponentFromURL(fileUrl(source), "_blank", 0, args);
}

void TznLegacyOffice::TznImpl::Store(const uno::Reference<lang::XComponent>& doc, const QString& target,
                                     TznOfficeFormat format)
{
    const char* filter = format == TznOfficeFormat::Doc ? "MS Word 97" : "MS Word 2007 XML";
    const uno::Sequence<beans::PropertyValue> args = properties({
        property("FilterName", uno::Any(OUString::createFromAscii(filter))),
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
    }
}

// True when LibreOffice read the file as a word-processing document of the Word family,
// not as some other format its detection fell back to (plain text for damaged files).
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

TznLegacyOffice::TznLegacyOffice(TznOfficeSettings settings) : F(std::make_unique<TznImpl>())
{
    F->Settings = std::move(settings);
}

TznLegacyOffice::~TznLegacyOffice()
{
    Quit();
}

QString TznLegacyOffice::InstalledProgram()
{
    const QString program = QString::fromLatin1(kProgramDir) + QStringLiteral("/soffice.bin");
    return QFileInfo(program).isExecutable() ? program : QString();
}

bool TznLegacyOffice::IsRunning() const
{
    return F->Process.IsAlive();
}

qint64 TznLegacyOffice::ProcessId() const
{
    return F->Process.IsAlive() ? F->Process.Pid() : 0;
}

QString TznLegacyOffice::ProfileFolder() const
{
    return F->Profile && F->Process.IsAlive() ? F->Profile->path() : QString();
}

void TznLegacyOffice::Quit()
{
    F->Stop();
}

void TznLegacyOffice::Convert(const QString& source, const QString& target, TznOfficeFormat format,
                              const QString& sourceLabel)
{
    const bool saving = format == TznOfficeFormat::Doc;
    const QString label = QDir::toNativeSeparators(sourceLabel.isEmpty() ? (saving ? target : source) : sourceLabel);
    auto fail = [&](const QString& reason) {
        throw EznError(QStringLiteral("%1 \"%2\": %3").arg(saving ? QStringLiteral("Cannot save") : QStringLiteral("Cannot open"), label, reason));
    };
    if (!F->Desktop.is() || !F->Process.IsAlive()) {
        F->Stop();
        const QString reason = F->Start();
        if (!reason.isEmpty()) {
            F->Stop();
            fail(reason);
        }
    }

    const QString absTarget = QFileInfo(target).absoluteFilePath();
    QString reserveError;
    const QString tempPath = ReserveLocalFileName(QFileInfo(absTarget).absolutePath(), WorkFilePrefix(),
                                                  QStringLiteral(".tmp"), &reserveError);
    if (tempPath.isEmpty())
        fail(QStringLiteral("the folder cannot be written (%1).").arg(reserveError));
    auto removeTemp = [&] { QFile::remove(tempPath); };

    QString reason;
    bool timedOut = false;
    {
        TznOfficeWatchdog guard(F->Process, F->Settings.TimeoutMs);
        uno::Reference<lang::XComponent> doc;
        bool crashed = false;
        try {
            doc = F->Load(source);
        } catch (const lang::DisposedException&) {
            // The bridge went away: the instance ended (crashed) while reading the file.
            crashed = true;
        } catch (const uno::Exception&) {
            doc.clear();
        } catch (...) {
            crashed = true;
        }
        if (crashed)
            F->Process.WaitForEnd(kQuitTimeoutMs);
        if (crashed) {
            reason = QStringLiteral("LibreOffice failed while reading it.");
        } else if (!doc.is() || !loadedAsWord(doc, format)) {
            reason = QStringLiteral("the file is damaged or is no document package.");
        } else {
            try {
                // The name is ours now; LibreOffice creates the file itself so that it gets
                // the permissions of a new file, not those of a private temporary.
                QFile::remove(tempPath);
                F->Store(doc, tempPath, format);
            } catch (const uno::Exception& e) {
                reason = QStringLiteral("LibreOffice cannot convert it (%1).").arg(fromOU(e.Message));
            }
        }
        if (!guard.Fired())
            closeDocument(doc);
        try {
            doc.clear();
        } catch (const uno::Exception&) {
        }
        timedOut = guard.Fired();
    }
    if (timedOut || !F->Process.IsAlive()) {
        // A hung or crashed instance is of no use to the next document: a new one is started.
        F->Stop();
        removeTemp();
        if (timedOut)
            fail(QStringLiteral("LibreOffice did not convert it within %1 seconds; its instance was restarted.")
                     .arg(F->Settings.TimeoutMs / 1000));
        fail(QStringLiteral("LibreOffice failed while converting it; its instance was restarted."));
    }
    if (!reason.isEmpty()) {
        removeTemp();
        fail(reason);
    }
    if (QFileInfo(tempPath).size() == 0) {
        removeTemp();
        fail(QStringLiteral("LibreOffice wrote nothing."));
    }
    QString renameReason;
    if (!ReplaceFileAtomically(tempPath, absTarget, &renameReason)) {
        removeTemp();
        fail(renameReason + QLatin1Char('.'));
    }
}
