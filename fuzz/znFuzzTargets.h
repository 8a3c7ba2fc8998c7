#pragma once

#include <cstddef>
#include <cstdint>

// The bodies of the fuzz targets, shared by the fuzzers and by the test that
// replays their regression inputs. Each takes any bytes and returns 0; the
// only errors it lets through are those that are not the system's own
// (EznError is what hostile input may raise), so a finding is a crash, a
// sanitizer report, a foreign exception or a timeout.

// The bytes as a package file: opened as a word-processing document, its
// drawings walked, measured and rendered small.
int FuzzPackage(const uint8_t* data, size_t size);
// The bytes as a picture part: the header readers of every format sniffed.
int FuzzPictureInfo(const uint8_t* data, size_t size);
// The bytes as a picture part rendered at half its size, for pictures of at
// most a megapixel.
int FuzzPictureRender(const uint8_t* data, size_t size);
// The bytes as a picture a document keeps, re-coded by the lossless pass on
// save, for pictures of at most a megapixel.
int FuzzPictureRecode(const uint8_t* data, size_t size);
// The bytes as the main part of an otherwise sound package: the XML loader
// and the drawing walk.
int FuzzDocumentXml(const uint8_t* data, size_t size);
// The bytes as a file mask, a line break, a path: MaskToPattern and the
// matcher, and the same text as an expression of its own.
int FuzzMask(const uint8_t* data, size_t size);

struct TznFuzzTarget
{
    const char* Name; // folder of its regression inputs under fuzz/regressions
    int (*Run)(const uint8_t* data, size_t size);
};
inline constexpr TznFuzzTarget FuzzTargets[] = {
    {"package", FuzzPackage},   {"picture_info", FuzzPictureInfo}, {"picture_render", FuzzPictureRender},
    {"picture_recode", FuzzPictureRecode}, {"document_xml", FuzzDocumentXml}, {"mask", FuzzMask},
};
