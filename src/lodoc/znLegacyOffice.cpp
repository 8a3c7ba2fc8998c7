#include "lodoc/znLegacyOffice.h"

#include "platform/znError.h"
#include "platform/znLocalPath.h"
#include "platform/znModule.h"
#include "platform/znReplaceFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

bool IsSingleStreamWordDocument(const QByteArray& head)
{
    // The identifier, then the version (at least Word 1.0's 0x0021 and below 1.x's later ones).
    return head.size() >= 4 && quint8(head[1]) == 0xA5 && (quint8(head[0]) == 0x9B || quint8(head[0]) == 0xDB);
}

TznLegacyOffice::TznLegacyOffice(TznOfficeSettings settings) : FSettings(std::move(settings)) {}

// The instance is deleted by the module's own destructor, which ends the office.
TznLegacyOffice::~TznLegacyOffice() = default;

QString TznLegacyOffice::InstalledProgram()
{
    const QString program = QString::fromLatin1(kOfficeProgramDir) + QStringLiteral("/soffice.bin");
    return QFileInfo(program).isExecutable() ? program : QString();
}

bool TznLegacyOffice::IsRunning() const
{
    return FOffice && FOffice->IsRunning();
}

qint64 TznLegacyOffice::ProcessId() const
{
    return FOffice ? FOffice->ProcessId() : 0;
}

QString TznLegacyOffice::ProfileFolder() const
{
    return FOffice ? FOffice->ProfileFolder() : QString();
}

void TznLegacyOffice::Quit()
{
    if (FOffice)
        FOffice->Quit();
}

TznLegacyOffice& TznLegacyOffice::OfThisThread()
{
    thread_local TznLegacyOffice office;
    return office;
}

QString TznLegacyOffice::Unavailable()
{
    QString reason;
    if (!Instance(reason))
        return reason;
    const QString program = FSettings.Program.isEmpty() ? InstalledProgram() : FSettings.Program;
    if (program.isEmpty() || !QFileInfo(program).isExecutable())
        return QStringLiteral("LibreOffice is not installed; %1.").arg(QLatin1String(kOfficeInstallHint));
    return {};
}

TznOfficeBase* TznLegacyOffice::Instance(QString& reason)
{
    if (FOffice)
        return FOffice.get();
    const TznModuleEntry entry = LoadModuleEntry(QString::fromLatin1(kOfficeModuleName), kOfficeEntryName);
    switch (entry.Status) {
    case TznModuleStatus::Missing:
        reason = QStringLiteral("such documents need the program's LibreOffice module, which is missing (%1); "
                                "reinstall the program (Debian: apt install --reinstall leafpress).")
                     .arg(entry.Error);
        return nullptr;
    case TznModuleStatus::Unloadable:
        // Without LibreOffice the module's UNO libraries are missing.
        reason = QStringLiteral("LibreOffice's UNO runtime cannot be loaded (%1); %2.")
                     .arg(entry.Error, QLatin1String(kOfficeInstallHint));
        return nullptr;
    case TznModuleStatus::Loaded:
        break;
    }
    TznOfficeSettings settings = FSettings;
    if (settings.ScratchFolder.isEmpty())
        settings.ScratchFolder = ScratchFolder();
    FOffice.reset(reinterpret_cast<TznOfficeEntry>(entry.Address)(kOfficeModuleVersion, &settings));
    if (!FOffice)
        reason = QStringLiteral("the LibreOffice module %1 belongs to another version of the program; "
                                "reinstall the program (Debian: apt install --reinstall leafpress).")
                     .arg(QDir::toNativeSeparators(entry.Path));
    return FOffice.get();
}

void TznLegacyOffice::Convert(const QString& source, const QString& target, TznOfficeFormat format,
                              const QString& sourceLabel)
{
    const bool saving = format == TznOfficeFormat::Doc;
    const QString label = QDir::toNativeSeparators(sourceLabel.isEmpty() ? (saving ? target : source) : sourceLabel);
    const QString verb = saving                            ? QStringLiteral("Cannot save")
                         : format == TznOfficeFormat::Pdf ? QStringLiteral("Cannot render")
                                                          : QStringLiteral("Cannot open");
    auto fail = [&](const QString& reason) { throw EznError(QStringLiteral("%1 \"%2\": %3").arg(verb, label, reason)); };
    QString reason;
    TznOfficeBase* office = Instance(reason);
    if (!office)
        fail(reason);

    const QString absTarget = QFileInfo(target).absoluteFilePath();
    QString reserveError;
    const QString tempPath = ReserveLocalFileName(QFileInfo(absTarget).absolutePath(), WorkFilePrefix(),
                                                  QStringLiteral(".tmp"), &reserveError);
    if (tempPath.isEmpty())
        fail(QStringLiteral("the folder cannot be written (%1).").arg(reserveError));
    auto removeTemp = [&] { QFile::remove(tempPath); };

    reason = office->Convert(source, tempPath, format);
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
