// Lossless re-coding of a JPEG through libjpeg-turbo's coefficient
// transcoding: the coefficients stay, the Huffman tables and the segments
// around them are written anew.
#include "picture/znPictureJpegLossless.h"
#include "picture/znPicture.h"
#include "picture/znPictureJpeg.h"
#include "picture/znPictureRecode.h"

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include <jerror.h>
#include <jpeglib.h>

namespace {

// Everything a transcoding run touches lives here, outside the frames that
// libjpeg may leave with longjmp.
struct TznTranscodeJob
{
    jpeg_decompress_struct In{};
    jpeg_compress_struct Out{};
    jpeg_error_mgr InErrors{}, OutErrors{};
    jpeg_progress_mgr Progress{};
    std::jmp_buf Jump{};
    bool InCreated = false, OutCreated = false;
    jvirt_barray_ptr* Coefficients = nullptr;
    unsigned char* Buffer = nullptr;
    unsigned long BufferSize = 0;
    QByteArray Exif;        // the APP1 segment to write, empty for none
    QByteArray Source;
    ~TznTranscodeJob()
    {
        if (OutCreated)
            jpeg_destroy_compress(&Out);
        if (InCreated)
            jpeg_destroy_decompress(&In);
        free(Buffer);
    }
};

TznTranscodeJob* transcodeJobOf(j_common_ptr info) { return reinterpret_cast<TznTranscodeJob*>(info->client_data); }

void transcodeErrorExit(j_common_ptr info) { std::longjmp(transcodeJobOf(info)->Jump, 1); }

// Any warning means damaged data that the decoder patched over; such a
// picture is left exactly as it is.
void transcodeMessage(j_common_ptr info, int level)
{
    if (level < 0)
        std::longjmp(transcodeJobOf(info)->Jump, 1);
}

void transcodeProgress(j_common_ptr info)
{
    const auto* d = reinterpret_cast<j_decompress_ptr>(info);
    if (info->is_decompressor && d->input_scan_number > MaxJpegScans)
        std::longjmp(transcodeJobOf(info)->Jump, 1);
}

bool readCoefficients(TznTranscodeJob* job)
{
    if (setjmp(job->Jump))
        return false;
    jpeg_create_decompress(&job->In);
    job->InCreated = true;
    job->In.client_data = job;
    job->Progress.progress_monitor = transcodeProgress;
    job->In.progress = &job->Progress;
    jpeg_mem_src(&job->In, reinterpret_cast<const unsigned char*>(job->Source.constData()),
                 static_cast<unsigned long>(job->Source.size()));
    jpeg_save_markers(&job->In, JPEG_APP0 + 1, 0xFFFF);
    jpeg_save_markers(&job->In, JPEG_APP0 + 2, 0xFFFF);
    jpeg_read_header(&job->In, TRUE);
    if (qint64(job->In.image_width) * job->In.image_height > MaxRecodePixels)
        return false;
    job->Coefficients = jpeg_read_coefficients(&job->In);
    return job->Coefficients != nullptr;
}

bool isIccSegment(const jpeg_saved_marker_ptr m)
{
    return m->marker == JPEG_APP0 + 2 && m->data_length >= 14 && std::memcmp(m->data, "ICC_PROFILE\0", 12) == 0;
}

// One encoding of the read coefficients; empty when it failed.
QByteArray writeCoefficients(TznTranscodeJob* job, bool progressive)
{
    if (setjmp(job->Jump))
        return {};
    if (job->OutCreated) {
        jpeg_destroy_compress(&job->Out);
        job->OutCreated = false;
    }
    free(job->Buffer);
    job->Buffer = nullptr;
    job->BufferSize = 0;
    job->Out.err = jpeg_std_error(&job->OutErrors);
    job->OutErrors.error_exit = transcodeErrorExit;
    job->OutErrors.emit_message = transcodeMessage;
    jpeg_create_compress(&job->Out);
    job->OutCreated = true;
    job->Out.client_data = job;
    jpeg_mem_dest(&job->Out, &job->Buffer, &job->BufferSize);
    jpeg_copy_critical_parameters(&job->In, &job->Out);
    // The segments that carry meaning are written as the source had them: the
    // JFIF density, and Adobe's segment (which tells how CMYK is stored).
    job->Out.write_JFIF_header = job->In.saw_JFIF_marker;
    job->Out.write_Adobe_marker = job->In.saw_Adobe_marker;
    job->Out.optimize_coding = TRUE;
    if (progressive)
        jpeg_simple_progression(&job->Out);
    jpeg_write_coefficients(&job->Out, job->Coefficients);
    if (!job->Exif.isEmpty())
        jpeg_write_marker(&job->Out, JPEG_APP0 + 1, reinterpret_cast<const JOCTET*>(job->Exif.constData()),
                          unsigned(job->Exif.size()));
    for (jpeg_saved_marker_ptr m = job->In.marker_list; m; m = m->next)
        if (isIccSegment(m))
            jpeg_write_marker(&job->Out, m->marker, m->data, m->data_length);
    jpeg_finish_compress(&job->Out);
    return QByteArray(reinterpret_cast<const char*>(job->Buffer), qsizetype(job->BufferSize));
}

void putLe16(QByteArray& out, int v)
{
    out += char(v & 0xFF);
    out += char((v >> 8) & 0xFF);
}
void putLe32(QByteArray& out, quint32 v)
{
    putLe16(out, int(v & 0xFFFF));
    putLe16(out, int(v >> 16));
}

// An EXIF segment of only what changes how the picture is shown: its
// orientation, and its resolution when no JFIF density gives one.
QByteArray minimalExif(int orientation, bool withDensity, double dpiX, double dpiY)
{
    struct TznTag { int Tag, Type; quint32 Value; };
    QList<TznTag> tags;
    if (orientation != 1)
        tags.append({0x0112, 3, quint32(orientation)});
    if (withDensity) {
        tags.append({0x011A, 5, 0});
        tags.append({0x011B, 5, 0});
        tags.append({0x0128, 3, 2});
    }
    if (tags.isEmpty())
        return {};
    QByteArray out("Exif\0\0II*\0", 10);
    putLe32(out, 8);
    const quint32 dataAt = 8 + 2 + 12 * quint32(tags.size()) + 4;
    putLe16(out, int(tags.size()));
    quint32 rational = dataAt;
    for (const TznTag& t : tags) {
        putLe16(out, t.Tag);
        putLe16(out, t.Type);
        putLe32(out, 1);
        if (t.Type == 5) {
            putLe32(out, rational);
            rational += 8;
        } else {
            putLe16(out, int(t.Value));
            putLe16(out, 0);
        }
    }
    putLe32(out, 0);
    if (withDensity) {
        for (double dpi : {dpiX, dpiY}) {
            putLe32(out, quint32(std::clamp<long>(std::lround(dpi * 100), 1, 100'000'000)));
            putLe32(out, 100);
        }
    }
    return out;
}

} // namespace

// Whether a JPEG holds segments the re-coding drops or shrinks: comments,
// EXIF, XMP, JFIF thumbnails and other application data, anything but the
// JFIF and Adobe segments and the ICC profile. True when the segments
// cannot be walked.
bool HasDroppableJpegSegments(const QByteArray& jpeg)
{
    const auto at = [&](qsizetype i) { return quint8(jpeg[i]); };
    qsizetype i = 2;
    while (i + 4 <= jpeg.size()) {
        if (at(i) != 0xFF)
            return true;
        const int marker = at(i + 1);
        if (marker == 0xFF) {  // fill byte
            ++i;
            continue;
        }
        if (marker == 0xDA)
            return false;
        const qsizetype length = (qsizetype(at(i + 2)) << 8) | at(i + 3);
        if (length < 2 || i + 2 + length > jpeg.size())
            return true;
        const bool icc = marker == 0xE2 && length >= 16 && std::memcmp(jpeg.constData() + i + 4, "ICC_PROFILE\0", 12) == 0;
        const bool jfif = marker == 0xE0 && length >= 7 && std::memcmp(jpeg.constData() + i + 4, "JFIF\0", 5) == 0;
        if (marker == 0xFE || (marker >= 0xE0 && marker <= 0xEF && marker != 0xEE && !icc && !jfif))
            return true;
        i += 2 + length;
    }
    return true;
}

QByteArray RecodeJpegLossless(const QByteArray& jpeg)
{
    const std::optional<TznPictureInfo> info = ReadPictureInfo(jpeg);
    if (!info || info->Format != QLatin1String("jpeg"))
        return {};
    auto job = std::make_unique<TznTranscodeJob>();
    job->Source = jpeg;
    job->In.err = jpeg_std_error(&job->InErrors);
    job->InErrors.error_exit = transcodeErrorExit;
    job->InErrors.emit_message = transcodeMessage;
    if (!readCoefficients(job.get()))
        return {};
    bool hadExif = false;
    for (jpeg_saved_marker_ptr m = job->In.marker_list; m; m = m->next)
        if (m->marker == JPEG_APP0 + 1 && m->data_length >= 6 && std::memcmp(m->data, "Exif\0\0", 6) == 0)
            hadExif = true;
    if (hadExif) {
        const bool jfifDensity = job->In.saw_JFIF_marker && job->In.density_unit != 0;
        job->Exif = minimalExif(info->Orientation, !jfifDensity, info->DpiX, info->DpiY);
    }
    // Progression pays off on pictures of some size and costs on small ones: one write
    // each, the other only when the first fails (writing dominates the pass's time).
    const bool large = jpeg.size() >= 10 * 1024;
    QByteArray best = writeCoefficients(job.get(), large);
    if (best.isEmpty())
        best = writeCoefficients(job.get(), !large);
    return best;
}
