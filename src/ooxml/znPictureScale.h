#pragma once

#include "ooxml/znPictureFacts.h"
#include "package/znPackage.h"
#include "package/znPartName.h"
#include "picture/znPicture.h"

#include <QHash>
#include <QString>

#include <map>
#include <optional>
#include <set>
#include <unordered_map>

// Scale and density of pictures on the page: the header facts of each media part, read
// once, and the lowest density of each media part over the places that show it, kept up
// to date place by place as drawings come and go.
class TznPictureScale
{
public:
    // The header facts of a media part; read at the first ask, until Forget or Clear.
    std::optional<TznPictureInfo> InfoOf(const TznPackage& package, const TznPartName& part);
    // The shown size in percent of the natural size of the picture's visible part, across or
    // down; raises when the picture's size cannot be read.
    static double ScaleOf(const TznPictureFacts& facts, const std::optional<TznPictureInfo>& info, bool width);
    // Visible pixels per shown inch in the lower of the two directions; 0 when unknown.
    static double DensityOf(const TznPictureFacts& facts, const std::optional<TznPictureInfo>& info);

    // True once every place was added since the last Clear.
    bool PlacesKnown() const { return FPlacesKnown; }
    // Marks every place added: AddPlace and RemovePlace follow the drawings from now on.
    void SetPlacesKnown() { FPlacesKnown = true; }
    // Counts a place (a drawing's id) that shows media at density.
    void AddPlace(int id, const QString& media, double density);
    // Forgets a place; nothing when it was never added.
    void RemovePlace(int id);
    // The lowest density over the places of media, or own when it has none.
    double LowestOf(const QString& media, double own) const;

    // Forgets the header facts of one part (it was written anew).
    void Forget(const TznPartName& part);
    // Forgets everything: header facts and places.
    void Clear();

private:
    QHash<QString, std::optional<TznPictureInfo>> FInfoOfPart;
    bool FPlacesKnown = false;
    std::unordered_map<int, std::pair<QString, double>> FPlaceOf;
    std::map<QString, std::multiset<double>> FDensities;
};
