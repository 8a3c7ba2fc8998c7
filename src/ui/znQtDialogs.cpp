#include "ui/znQtDialogs.h"

#include "platform/znPath.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>

namespace {

// Qt reads the patterns from the last bracketed group of a name filter,
// separated by blanks.
QString qtPatterns(const QString& patterns)
{
    QStringList parts = patterns.split(u';', Qt::SkipEmptyParts);
    for (QString& part : parts)
        part = part.trimmed();
    parts.removeAll(QString());
    return parts.isEmpty() ? QStringLiteral("*") : parts.join(u' ');
}

QString withoutBracketedPatterns(const QString& description, const QString& patterns)
{
    const QString tail = u'(' + patterns + u')';
    if (description.endsWith(tail, Qt::CaseInsensitive))
        return description.chopped(tail.size()).trimmed();
    return description.trimmed();
}

QWidget* dialogParent(QWidget* parent)
{
    return parent ? parent : QApplication::activeWindow();
}

void prepare(QFileDialog& dialog)
{
    // One look on every platform, and a dialog that tests can answer.
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    dialog.setWindowModality(Qt::ApplicationModal);
}

QString nativePath(const QString& path)
{
    return QDir::toNativeSeparators(path);
}

} // namespace

QStringList QtNameFilters(const QString& filter)
{
    QStringList result;
    const QStringList parts = filter.split(u'|');
    for (qsizetype i = 0; i < parts.size(); i += 2) {
        const QString description = parts[i];
        const QString patterns = i + 1 < parts.size() ? parts[i + 1] : QString();
        if (description.isEmpty() && patterns.isEmpty())
            continue;
        const QString shown = withoutBracketedPatterns(description, patterns);
        const QString qt = qtPatterns(patterns);
        result << (shown.isEmpty() ? qt : shown + QStringLiteral(" (") + qt + u')');
    }
    return result;
}

bool TznQtDialogs::BrowseForFolder(QString& folder)
{
    if (!folder.isEmpty())
        FStartFolder = folder;
    QFileDialog dialog(dialogParent(FParent));
    prepare(dialog);
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly, true);
    if (!FStartFolder.isEmpty())
        dialog.setDirectory(FStartFolder);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    const QStringList chosen = dialog.selectedFiles();
    if (chosen.isEmpty())
        return false;
    folder = nativePath(chosen.first());
    return true;
}

bool TznQtDialogs::OpenFileDialog(const QString& filter, QString& path, bool multiple)
{
    QFileDialog dialog(dialogParent(FParent));
    prepare(dialog);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(multiple ? QFileDialog::ExistingFiles : QFileDialog::ExistingFile);
    dialog.setNameFilters(QtNameFilters(filter));
    if (!path.isEmpty()) {
        const QString folder = FolderPart(path);
        if (!folder.isEmpty())
            dialog.setDirectory(folder);
        QString name = FileNamePart(path);
        name.replace(u'?', u'*');
        dialog.selectFile(name);
    }
    if (dialog.exec() != QDialog::Accepted)
        return false;
    const QStringList chosen = dialog.selectedFiles();
    if (chosen.isEmpty())
        return false;
    if (!multiple) {
        path = nativePath(chosen.first());
        return true;
    }
    QString lines;
    for (const QString& file : chosen)
        lines += nativePath(file) + QStringLiteral("\r\n");
    path = lines;
    return true;
}

bool TznQtDialogs::SaveFileDialog(const QString& filter, const QString& defaultExt, QString& path)
{
    QFileDialog dialog(dialogParent(FParent));
    prepare(dialog);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilters(QtNameFilters(filter));
    QString suffix = defaultExt;
    if (suffix.startsWith(u'.'))
        suffix.remove(0, 1);
    dialog.setDefaultSuffix(suffix);
    if (!path.isEmpty()) {
        const QString folder = FolderPart(path);
        if (!folder.isEmpty())
            dialog.setDirectory(folder);
        dialog.selectFile(FileNamePart(path));
    }
    if (dialog.exec() != QDialog::Accepted)
        return false;
    const QStringList chosen = dialog.selectedFiles();
    if (chosen.isEmpty())
        return false;
    path = nativePath(chosen.first());
    return true;
}
