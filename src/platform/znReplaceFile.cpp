#include "platform/znReplaceFile.h"

#include "platform/znLocalPath.h"

#include <QFile>

#include <filesystem>

bool ReplaceFileAtomically(const QString& file, const QString& target, QString* error)
{
    std::error_code ec;
    const std::filesystem::path from(EncodeLocalPath(file).toStdString());
    const std::filesystem::path to(EncodeLocalPath(target).toStdString());
    const auto status = std::filesystem::status(to, ec);
    if (!ec && std::filesystem::exists(status))
        std::filesystem::permissions(from, status.permissions(), ec);
    ec.clear();
    std::filesystem::rename(from, to, ec);
    if (ec && error)
        *error = QString::fromStdString(ec.message());
    return !ec;
}
