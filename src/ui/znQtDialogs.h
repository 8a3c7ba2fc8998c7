#pragma once

#include "project/znDialogs.h"

#include <QString>
#include <QStringList>

class QWidget;

// A filter text of description and pattern pairs, all separated by "|"
// ("Word Document (*.doc;*.docx)|*.doc;*.docx"), as the name filters of a
// Qt file dialog ("Word Document (*.doc *.docx)"). A description that already
// ends with its patterns in brackets keeps them once; a description without
// patterns matches every file.
QStringList QtNameFilters(const QString& filter);

// The three dialogs on Qt's file dialog, modal over the application's windows.
class TznQtDialogs : public IznDialogs
{
public:
    // parent: the window the dialogs are shown over (may be null).
    explicit TznQtDialogs(QWidget* parent = nullptr) : FParent(parent) {}

    // A non-empty start folder is remembered and selected; an empty one
    // selects the folder remembered last.
    bool BrowseForFolder(QString& folder) override;
    bool OpenFileDialog(const QString& filter, QString& path, bool multiple) override;
    // Asks before an existing file is replaced.
    bool SaveFileDialog(const QString& filter, const QString& defaultExt, QString& path) override;

    // The folder the next folder picker starts in.
    const QString& StartFolder() const { return FStartFolder; }

private:
    QWidget* FParent;
    QString FStartFolder;
};
