#pragma once

#include <QString>
#include <QStringList>

// What looking up a module's entry found.
enum class TznModuleStatus
{
    Loaded,     // the entry's address is known
    Missing,    // no folder holds the module
    Unloadable, // the module is there, but it or a library it needs cannot be loaded
};

struct TznModuleEntry
{
    TznModuleStatus Status = TznModuleStatus::Missing;
    void* Address = nullptr; // the entry, when loaded
    QString Path;            // the module's file, when one was found
    QString Error;           // why it cannot be loaded
};

// The folders searched for the program's modules, in order: the program's own folder
// (where the build puts them), its module folder under the same prefix (where the install
// puts them) and, for a test program of the build tree, the folder of the build's program.
// LEAFPRESS_MODULE_DIR, a knob for developers and the tests and no option of the product,
// names one folder searched instead.
QStringList ModuleFolders();

// The entry symbol of the module name (its file name without the platform's suffix),
// loaded from the first of ModuleFolders() that holds it. A module is loaded once per
// process and stays until the process ends, since threads it started may still run its
// code; a failed look-up is tried again the next time. Thread-safe.
TznModuleEntry LoadModuleEntry(const QString& name, const char* symbol);
