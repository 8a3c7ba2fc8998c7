#include "ooxml/znPictureScale.h"

#include "platform/znError.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr double kEmuPerInch = 914400.0;

}

std::optional<TznPictureInfo> TznPictureScale::InfoOf(const TznPackage& package, const TznPartName& part)
{
    auto it = FInfoOfPart.constFind(part.Key());
    if (it == FInfoOfPart.constEnd())
        it = FInfoOfPart.insert(part.Key(), ReadPictureInfo(package.Read(part)));
    return *it;
}

double TznPictureScale::ScaleOf(const TznPictureFacts& f, const std::optional<TznPictureInfo>& info, bool width)
{
    if (!info || info->PixelWidth <= 0 || info->PixelHeight <= 0)
        throw EznError(QStringLiteral("The picture's size cannot be read."));
    const double visible = width ? 1 - f.Crop[0] - f.Crop[2] : 1 - f.Crop[1] - f.Crop[3];
    const double pixels = (width ? info->PixelWidth : info->PixelHeight) * visible;
    const double dpi = width ? info->DpiX : info->DpiY;
    const double shown = double(width ? f.Cx : f.Cy);
    if (pixels <= 0 || dpi <= 0)
        throw EznError(QStringLiteral("The picture's size cannot be read."));
    return shown / (pixels / dpi * kEmuPerInch) * 100.0;
}

double TznPictureScale::DensityOf(const TznPictureFacts& f, const std::optional<TznPictureInfo>& info)
{
    if (!info || info->Vector || info->PixelWidth <= 0 || info->PixelHeight <= 0)
        return 0;
    const double across = info->PixelWidth * (1 - f.Crop[0] - f.Crop[2]) / (double(f.Cx) / kEmuPerInch);
    const double down = info->PixelHeight * (1 - f.Crop[1] - f.Crop[3]) / (double(f.Cy) / kEmuPerInch);
    if (!(across > 0) || !(down > 0) || !std::isfinite(across) || !std::isfinite(down))
        return 0;
    return std::min(across, down);
}

void TznPictureScale::AddPlace(int id, const QString& media, double density)
{
    RemovePlace(id);
    FPlaceOf.emplace(id, std::make_pair(media, density));
    FDensities[media].insert(density);
}

void TznPictureScale::RemovePlace(int id)
{
    const auto it = FPlaceOf.find(id);
    if (it == FPlaceOf.end())
        return;
    const auto media = FDensities.find(it->second.first);
    if (media != FDensities.end()) {
        media->second.erase(media->second.find(it->second.second));
        if (media->second.empty())
            FDensities.erase(media);
    }
    FPlaceOf.erase(it);
}

double TznPictureScale::LowestOf(const QString& media, double own) const
{
    const auto it = FDensities.find(media);
    return it == FDensities.end() || it->second.empty() ? own : *it->second.begin();
}

void TznPictureScale::Forget(const TznPartName& part)
{
    FInfoOfPart.remove(part.Key());
}

void TznPictureScale::Clear()
{
    FInfoOfPart.clear();
    FPlacesKnown = false;
    FPlaceOf.clear();
    FDensities.clear();
}
