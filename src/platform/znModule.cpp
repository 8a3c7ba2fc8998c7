#include "platform/znModule.h"

#include "platform/znAppFiles.h"
#include "platform/znPath.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QLibrary>

#include <mutex>

// The module folder of an installed program, relative to the program's folder; the
// install rules give the real one.
#ifndef LP_INSTALLED_MODULE_DIR
#define LP_INSTALLED_MODULE_DIR "../lib/leafpress/modules"
#endif

namespace {

#ifdef _WIN32
const QString kModuleSuffix = QStringLiteral(".dll");
#else
const QString kModuleSuffix = QStringLiteral(".so");
#endif

TznModuleEntry load(const QStringList& folders, const QString& name, const char* symbol)
{
    TznModuleEntry entry;
    for (const QString& folder : folders) {
        const QString path = QDir(folder).filePath(name + kModuleSuffix);
        if (QFileInfo(path).isFile()) {
            entry.Path = path;
            break;
        }
    }
    if (entry.Path.isEmpty()) {
        entry.Error = QStringLiteral("%1 is in none of %2").arg(name + kModuleSuffix, folders.join(QStringLiteral(", ")));
        return entry;
    }
    entry.Status = TznModuleStatus::Unloadable;
    // Never unloaded: the QLibrary object may go, the module stays.
    QLibrary library(entry.Path);
    library.setLoadHints(QLibrary::PreventUnloadHint);
    if (!library.load()) {
        entry.Error = library.errorString();
        return entry;
    }
    entry.Address = reinterpret_cast<void*>(library.resolve(symbol));
    if (!entry.Address) {
        entry.Error = library.errorString();
        return entry;
    }
    entry.Status = TznModuleStatus::Loaded;
    return entry;
}

} // namespace

QStringList ModuleFolders()
{
    const QString knob = qEnvironmentVariable("LEAFPRESS_MODULE_DIR");
    if (!knob.isEmpty())
        return {QDir::cleanPath(knob)};
    const QString exe = ExecutablePath();
    if (exe.isEmpty())
        return {};
    const QString own = FolderPart(exe);
    QStringList folders{QDir::cleanPath(own), QDir::cleanPath(own + QStringLiteral("/" LP_INSTALLED_MODULE_DIR))};
#ifdef LP_BUILD_BIN_DIR
    // A test program of the build tree finds the modules where the build puts them, beside
    // the program; a program anywhere else never looks into a build tree.
    const QString build = QDir::cleanPath(QStringLiteral(LP_BUILD_BIN_DIR "/.."));
    if (QDir::cleanPath(exe).startsWith(build + u'/'))
        folders << QDir::cleanPath(QStringLiteral(LP_BUILD_BIN_DIR));
#endif
    folders.removeDuplicates();
    return folders;
}

TznModuleEntry LoadModuleEntry(const QString& name, const char* symbol)
{
    static std::mutex lock;
    static QHash<QString, TznModuleEntry> loaded;
    const QStringList folders = ModuleFolders();
    const QString key = folders.join(u'\n') + u'\n' + name + u'\n' + QLatin1String(symbol);
    const std::lock_guard guard(lock);
    const auto it = loaded.constFind(key);
    if (it != loaded.cend())
        return *it;
    TznModuleEntry entry = load(folders, name, symbol);
    // Only what loaded is kept: a module or library installed meanwhile is found by the
    // next look-up.
    if (entry.Status == TznModuleStatus::Loaded)
        loaded.insert(key, entry);
    return entry;
}
