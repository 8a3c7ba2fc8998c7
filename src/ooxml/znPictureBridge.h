#pragma once

// The picture codec's interface. Until the codec lands, a private stand-in with the same
// declarations keeps the server building; it goes once ooxml/znPicture.h is there.
#ifdef LP_HAVE_PICTURE_CODEC
#include "ooxml/znPicture.h"
#else
#define LP_PICTURE_STANDIN 1
#include <QByteArray>
#include <QString>

#include <optional>

struct TznPictureInfo {
    int PixelWidth = 0, PixelHeight = 0;
    double DpiX = 96, DpiY = 96;
    QString Format;
    bool Vector = false;
};
std::optional<TznPictureInfo> ReadPictureInfo(const QByteArray& bytes);

struct TznCrop { double Left = 0, Top = 0, Right = 0, Bottom = 0; };
struct TznRenderRequest {
    QByteArray Bytes;
    TznCrop Crop;
    qint64 ShownCx = 0, ShownCy = 0;
    int Resolution = 150;
    int Quality = 85;
    int PasteType = 13;
};
struct TznRendered {
    QByteArray Bytes;
    QString Extension;
    QString ContentType;
    int PixelWidth = 0, PixelHeight = 0;
};
TznRendered RenderPicture(const TznRenderRequest& request);
#endif
