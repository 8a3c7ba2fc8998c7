#pragma once

#include <QByteArray>

// Whether a JPEG holds segments the lossless re-coding drops or shrinks:
// comments, EXIF, XMP, JFIF thumbnails and other application data, anything
// but the JFIF and Adobe segments and the ICC profile. True when the
// segments cannot be walked.
bool HasDroppableJpegSegments(const QByteArray& jpeg);
