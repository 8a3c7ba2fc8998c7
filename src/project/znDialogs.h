#pragma once

#include <QString>

// The three dialogs of the program. The window installs the real ones; until
// then (and on the unattended path) every dialog answers as cancelled.
class IznDialogs
{
public:
    virtual ~IznDialogs() = default;
    // Folder picker; on confirmation folder becomes the chosen folder.
    virtual bool BrowseForFolder(QString& folder) = 0;
    // filter: pairs of description and patterns, all separated by "|". On
    // confirmation path is the chosen file, or with multiple the chosen files
    // one per line, each followed by CR LF.
    virtual bool OpenFileDialog(const QString& filter, QString& path, bool multiple) = 0;
    // On confirmation path is the chosen file (defaultExt added when none was typed).
    virtual bool SaveFileDialog(const QString& filter, const QString& defaultExt, QString& path) = 0;
};

IznDialogs& Dialogs();
// Installs the dialogs (the caller keeps ownership); nullptr restores the cancelling ones.
void SetDialogs(IznDialogs* dialogs);

// The folder picker with its remembered start folder.
void BrowseForFolder(QString& folder);
bool OpenFileDialog(const QString& filter, QString& path, bool multiple);
bool SaveFileDialog(const QString& filter, const QString& defaultExt, QString& path);
