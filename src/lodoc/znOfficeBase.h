#pragma once

#include <QString>

// What the program and its LibreOffice module (leafpress-lodoc) share. The module alone
// links LibreOffice's UNO libraries; the program loads it when it first meets a legacy
// document, so that it starts and runs on a system without LibreOffice. Only the types of
// this header cross between the two, and no exception does.

// The formats the office instance converts to.
enum class TznOfficeFormat
{
    Docx,   // an OOXML word-processing package
    Doc,    // the legacy binary word-processing format
    Pdf,    // the document's pages as PDF, as LibreOffice lays them out
};

// How an instance is started; the defaults are what the document server uses.
struct TznOfficeSettings
{
    // The office program; empty means the installed LibreOffice.
    QString Program;
    // A conversion that takes longer ends the instance and fails.
    int TimeoutMs = 120000;
    // The folder the instance's profile is made in; empty means the system's temporary folder.
    QString ScratchFolder = QString();
};

// The installed LibreOffice's folder: its program, and the UNO runtime the module links.
inline constexpr char kOfficeProgramDir[] = "/usr/lib/libreoffice/program";
// What a user without LibreOffice is told to install.
inline constexpr char kOfficeInstallHint[] = "install LibreOffice Writer (Debian: apt install libreoffice-writer-nogui)";

// One headless LibreOffice instance, made by the module's entry; TznLegacyOffice (the
// program's side) says how it behaves. Not thread-safe: one owner thread.
class TznOfficeBase
{
public:
    virtual ~TznOfficeBase() = default;
    // Converts source into the file target, a name the caller reserved: it is removed and
    // written anew. Empty on success, otherwise the reason as a sentence ending in a period.
    virtual QString Convert(const QString& source, const QString& target, TznOfficeFormat format) noexcept = 0;
    // Ends the instance and removes its profile; does nothing when none runs.
    virtual void Quit() noexcept = 0;
    virtual bool IsRunning() noexcept = 0;
    // The process id of the running instance, 0 when none runs.
    virtual qint64 ProcessId() noexcept = 0;
    // The user profile folder of the running instance, empty when none runs.
    virtual QString ProfileFolder() noexcept = 0;
};

// The module's name (its file is leafpress-lodoc.so) and its one entry, looked up by name:
// a new instance with the settings, or null when the module was built for another version
// of this header. Raise the version with every change of this header.
inline constexpr char kOfficeModuleName[] = "leafpress-lodoc";
inline constexpr char kOfficeEntryName[] = "lpCreateOffice";
inline constexpr int kOfficeModuleVersion = 2;
using TznOfficeEntry = TznOfficeBase* (*)(int version, const TznOfficeSettings* settings);
