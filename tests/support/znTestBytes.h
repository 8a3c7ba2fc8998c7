#pragma once

#include <QByteArray>
#include <QImage>
#include <QImageIOHandler>
#include <QString>

// Files as bytes, pictures encoded by Qt and a minimal metafile, shared by every area's tests.

// The whole content of a file; empty when it cannot be read.
QByteArray ReadBytes(const QString& path);
// Writes the file anew with exactly these bytes; false when it cannot be written.
bool WriteBytes(const QString& path, const QByteArray& bytes);

// How EncodeWithQt writes a picture.
struct TznQtEncoding
{
    int Quality = -1;                       // the writer's quality, -1 for its default
    double Dpi = 0;                         // resolution to record, 0 to leave the image's own
    QImageIOHandler::Transformations Transformation = QImageIOHandler::TransformationNone;
};
// The picture encoded by Qt's writer for format ("png", "jpeg", "tiff", "webp"...); a failed
// write is a test failure and gives empty bytes. "gif", which Qt reads but cannot write, is
// written here: 256 colours at most, the first translucent one transparent, every code a literal.
QByteArray EncodeWithQt(QImage image, const char* format, const TznQtEncoding& how = {});

// A minimal enhanced metafile: its header record, with the frame (inclusive, in hundredths of a
// millimetre) as given, and the end-of-file record.
QByteArray MakeTestEmf(int frameRight = 5291, int frameBottom = 2645);
