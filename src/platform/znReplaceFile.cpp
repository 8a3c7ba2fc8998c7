#include "platform/znReplaceFile.h"

#include <QFile>
#include <QFileInfo>

#include <filesystem>

bool ReplaceFileAtomically(const QString& file, const QString& target, QString* error)
{
    if (QFileInfo::exists(target))
        QFile::setPermissions(file, QFile::permissions(target));
    std::error_code ec;
    std::filesystem::rename(std::filesystem::path(QFile::encodeName(file).toStdString()),
                            std::filesystem::path(QFile::encodeName(target).toStdString()), ec);
    if (ec && error)
        *error = QString::fromStdString(ec.message());
    return !ec;
}
