#include "project/znDialogs.h"

namespace {

class TznNoDialogs : public IznDialogs
{
public:
    bool BrowseForFolder(QString&) override { return false; }
    bool OpenFileDialog(const QString&, QString&, bool) override { return false; }
    bool SaveFileDialog(const QString&, const QString&, QString&) override { return false; }
};

TznNoDialogs noDialogs;
IznDialogs* installed = nullptr;

} // namespace

IznDialogs& Dialogs()
{
    return installed ? *installed : noDialogs;
}

void SetDialogs(IznDialogs* dialogs)
{
    installed = dialogs;
}

void BrowseForFolder(QString& folder)
{
    QString chosen = folder;
    if (Dialogs().BrowseForFolder(chosen))
        folder = chosen.left(260);
}

bool OpenFileDialog(const QString& filter, QString& path, bool multiple)
{
    QString chosen = path;
    if (!Dialogs().OpenFileDialog(filter, chosen, multiple))
        return false;
    path = chosen;
    return true;
}

bool SaveFileDialog(const QString& filter, const QString& defaultExt, QString& path)
{
    QString chosen = path;
    if (!Dialogs().SaveFileDialog(filter, defaultExt, chosen))
        return false;
    path = chosen;
    return true;
}
