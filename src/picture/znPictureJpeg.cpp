// JPEG decoding straight through libjpeg-turbo: the DCT shrinks the picture
// while it is decoded (down to 1/8), rows stream into the area-averaging
// scaler, and CMYK pictures are converted according to their convention.
// Progressive pictures hold their coefficients in packed arrays.
#include "picture/znPictureJpeg.h"
#include "picture/znPictureJpegStore.h"
#include "picture/znPictureScale.h"
#include "platform/znError.h"

#include <QColorSpace>

#include <algorithm>
#include <cmath>

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include <jpeglib.h>
#include <jerror.h>

namespace {

// Everything a decoding run touches lives here, outside the frames that
// libjpeg may leave with longjmp.
struct TznJpegJob {
    jpeg_decompress_struct Info{};
    jpeg_error_mgr Errors{};
    jpeg_progress_mgr Progress{};
    bool TooManyScans = false;
    std::jmp_buf Jump{};
    char Message[JMSG_LENGTH_MAX] = {};
    bool Created = false;
    const QByteArray* Bytes = nullptr;
    QRectF Region;
    QSize OutSize;
    bool Cmyk = false, Inverted = false;
    TznBoxScaler* Scaler = nullptr;
    uchar* Row = nullptr;
    uchar* Converted = nullptr;
    JOCTET* Icc = nullptr;
    unsigned int IccLength = 0;
    TznPackedBlockStore Coefficients;
    void (*RealizeLibraryArrays)(j_common_ptr) = nullptr;
};

TznJpegJob* jobOf(j_common_ptr info) { return reinterpret_cast<TznJpegJob*>(info->client_data); }

// The memory manager's methods for whole-image block arrays, which libjpeg
// asks for only to gather a progressive (or multi-scan) picture's scans.
// They must not throw into libjpeg: failures leave through ERREXIT.
jvirt_barray_ptr requestBlockArray(j_common_ptr info, int pool, boolean, JDIMENSION blocksPerRow, JDIMENSION rows,
                                   JDIMENSION maxAccess)
{
    if (pool != JPOOL_IMAGE)
        ERREXIT1(info, JERR_BAD_POOL_ID, pool);
    TznPackedBlockArray* array = jobOf(info)->Coefficients.Add(blocksPerRow, rows, maxAccess);
    if (!array)
        ERREXIT1(info, JERR_OUT_OF_MEMORY, 0);
    return reinterpret_cast<jvirt_barray_ptr>(array);
}

void realizeArrays(j_common_ptr info)
{
    jobOf(info)->RealizeLibraryArrays(info); // the sample arrays stay libjpeg's
    if (!jobOf(info)->Coefficients.Realize())
        ERREXIT1(info, JERR_OUT_OF_MEMORY, 0);
}

JBLOCKARRAY accessBlockArray(j_common_ptr info, jvirt_barray_ptr handle, JDIMENSION start, JDIMENSION count,
                             boolean writable)
{
    auto* array = reinterpret_cast<TznPackedBlockArray*>(handle);
    JBLOCKARRAY rows = array->Access(start, count, writable != FALSE);
    if (!rows) {
        if (array->BadAccess())
            ERREXIT(info, JERR_BAD_VIRTUAL_ACCESS);
        ERREXIT1(info, JERR_OUT_OF_MEMORY, 0);
    }
    return rows;
}

void errorExit(j_common_ptr info)
{
    (*info->err->format_message)(info, jobOf(info)->Message);
    std::longjmp(jobOf(info)->Jump, 1);
}

// Warnings that mean the data is broken (the decoder would paint grey over
// the rest) end the run; harmless ones (stray bytes between markers) do not.
void emitMessage(j_common_ptr info, int level)
{
    if (level >= 0)
        return;
    const int code = info->err->msg_code;
    if (code == JWRN_JPEG_EOF || code == JWRN_HIT_MARKER || code == JWRN_MUST_RESYNC || code == JWRN_HUFF_BAD_CODE
        || code == JWRN_ARITH_BAD_CODE || code == JWRN_NOT_SEQUENTIAL) {
        (*info->err->format_message)(info, jobOf(info)->Message);
        std::longjmp(jobOf(info)->Jump, 1);
    }
}

// Called while the decoder takes in the data; ends the run once the scans
// counted exceed the limit, before the next one is decoded.
void progressMonitor(j_common_ptr info)
{
    const auto* d = reinterpret_cast<j_decompress_ptr>(info);
    if (d->input_scan_number > MaxJpegScans) {
        jobOf(info)->TooManyScans = true;
        std::longjmp(jobOf(info)->Jump, 1);
    }
}

// Reads the header and picks the DCT scale M/8: the smallest that still
// leaves at least the requested pixels in the region.
bool startJob(TznJpegJob* job)
{
    if (setjmp(job->Jump))
        return false;
    jpeg_create_decompress(&job->Info);
    job->Created = true;
    job->Info.client_data = job;
    // Set after creation, which clears every other field.
    job->Progress.progress_monitor = progressMonitor;
    job->Info.progress = &job->Progress;
    job->RealizeLibraryArrays = job->Info.mem->realize_virt_arrays;
    job->Info.mem->request_virt_barray = requestBlockArray;
    job->Info.mem->realize_virt_arrays = realizeArrays;
    job->Info.mem->access_virt_barray = accessBlockArray;
    jpeg_mem_src(&job->Info, reinterpret_cast<const unsigned char*>(job->Bytes->constData()),
                 static_cast<unsigned long>(job->Bytes->size()));
    jpeg_save_markers(&job->Info, JPEG_APP0 + 2, 0xFFFF);
    jpeg_read_header(&job->Info, TRUE);
    jpeg_read_icc_profile(&job->Info, &job->Icc, &job->IccLength);
    switch (job->Info.jpeg_color_space) {
    case JCS_GRAYSCALE:
        job->Info.out_color_space = JCS_GRAYSCALE;
        break;
    case JCS_CMYK:
    case JCS_YCCK:
        job->Info.out_color_space = JCS_CMYK;
        job->Cmyk = true;
        // Adobe's programs store CMYK inverted and mark it with their APP14 segment.
        job->Inverted = job->Info.saw_Adobe_marker;
        break;
    case JCS_RGB:
    case JCS_YCbCr:
        job->Info.out_color_space = JCS_EXT_BGRX;
        break;
    default:
        snprintf(job->Message, sizeof job->Message, "unsupported colour space with %d components",
                 job->Info.num_components);
        return false;
    }
    int scale = 8;
    for (int m = 1; m < 8; ++m) {
        if (job->Region.width() * m / 8 >= job->OutSize.width() && job->Region.height() * m / 8 >= job->OutSize.height()) {
            scale = m;
            break;
        }
    }
    job->Info.scale_num = scale;
    job->Info.scale_denom = 8;
    job->Info.dct_method = JDCT_ISLOW;
    jpeg_calc_output_dimensions(&job->Info);
    return true;
}

void cmykToBgrx(const uchar* cmyk, uchar* bgrx, int width, bool inverted)
{
    for (int x = 0; x < width; ++x, cmyk += 4, bgrx += 4) {
        int c = cmyk[0], m = cmyk[1], y = cmyk[2], k = cmyk[3];
        if (!inverted) {
            c = 255 - c;
            m = 255 - m;
            y = 255 - y;
            k = 255 - k;
        }
        // Now each value is the light the ink lets through.
        bgrx[0] = uchar((y * k + 127) / 255);
        bgrx[1] = uchar((m * k + 127) / 255);
        bgrx[2] = uchar((c * k + 127) / 255);
        bgrx[3] = 255;
    }
}

bool decodeRows(TznJpegJob* job)
{
    if (setjmp(job->Jump))
        return false;
    jpeg_start_decompress(&job->Info);
    const int width = int(job->Info.output_width);
    const int end = job->Scaler->EndRow();
    while (int(job->Info.output_scanline) < end && job->Info.output_scanline < job->Info.output_height) {
        const int y = int(job->Info.output_scanline);
        JSAMPROW rows[1] = {job->Row};
        if (jpeg_read_scanlines(&job->Info, rows, 1) != 1)
            break;
        if (job->Cmyk) {
            cmykToBgrx(job->Row, job->Converted, width, job->Inverted);
            job->Scaler->AddRow(y, job->Converted);
        } else {
            job->Scaler->AddRow(y, job->Row);
        }
    }
    jpeg_abort_decompress(&job->Info);
    return true;
}

struct TznJobCleanup {
    TznJpegJob* Job;
    ~TznJobCleanup()
    {
        free(Job->Icc);
        if (Job->Created)
            jpeg_destroy_decompress(&Job->Info);
    }
};

} // namespace

QImage DecodeJpegRegion(const QByteArray& bytes, const QRectF& region, QSize outSize, QByteArray* iccProfile)
{
    auto job = std::make_unique<TznJpegJob>();
    TznJobCleanup cleanup{job.get()};
    job->Bytes = &bytes;
    job->Region = region;
    job->OutSize = outSize;
    job->Info.err = jpeg_std_error(&job->Errors);
    job->Errors.error_exit = errorExit;
    job->Errors.emit_message = emitMessage;
    const auto fail = [&job] {
        if (job->TooManyScans)
            throw EznError(QStringLiteral("The JPEG picture has more than %1 scans").arg(MaxJpegScans));
        throw EznError(QStringLiteral("The JPEG picture is damaged or unsupported: %1").arg(QString::fromLocal8Bit(job->Message)));
    };
    if (!startJob(job.get()))
        fail();

    const int width = int(job->Info.output_width), height = int(job->Info.output_height);
    const double fx = double(width) / job->Info.image_width, fy = double(height) / job->Info.image_height;
    const QRectF scaled(region.x() * fx, region.y() * fy, region.width() * fx, region.height() * fy);
    const bool grey = job->Info.out_color_space == JCS_GRAYSCALE;
    TznBoxScaler scaler(width, height, grey ? 1 : 4, scaled, outSize,
                        grey ? QImage::Format_Grayscale8 : QImage::Format_RGB32);
    std::vector<uchar> row(size_t(width) * 4), converted(job->Cmyk ? size_t(width) * 4 : 0);
    job->Scaler = &scaler;
    job->Row = row.data();
    job->Converted = converted.data();
    if (!decodeRows(job.get()))
        fail();
    QImage result = scaler.Result();
    // The colour profile goes with the pixels, so wide-gamut photographs keep their colours.
    // CMYK profiles do not fit the converted pixels and are left out.
    // Qt reads RGB profiles only; the bytes go on as they are for the others (grey).
    if (job->Icc && !job->Cmyk) {
        const QByteArray icc(reinterpret_cast<const char*>(job->Icc), qsizetype(job->IccLength));
        const QColorSpace space = QColorSpace::fromIccProfile(icc);
        if (space.isValid())
            result.setColorSpace(space);
        if (iccProfile)
            *iccProfile = icc;
    }
    return result;
}

namespace {

struct TznJpegWriteJob {
    jpeg_compress_struct Info{};
    jpeg_error_mgr Errors{};
    std::jmp_buf Jump{};
    bool Created = false;
    const QImage* Image = nullptr;
    int Quality = 85;
    const QByteArray* Icc = nullptr;
    unsigned char* Out = nullptr;
    unsigned long OutSize = 0;
};

void writeErrorExit(j_common_ptr info)
{
    std::longjmp(reinterpret_cast<TznJpegWriteJob*>(info->client_data)->Jump, 1);
}

bool compress(TznJpegWriteJob* job)
{
    if (setjmp(job->Jump))
        return false;
    jpeg_create_compress(&job->Info);
    job->Created = true;
    job->Info.client_data = job;
    jpeg_mem_dest(&job->Info, &job->Out, &job->OutSize);
    const QImage& image = *job->Image;
    const bool grey = image.format() == QImage::Format_Grayscale8;
    job->Info.image_width = JDIMENSION(image.width());
    job->Info.image_height = JDIMENSION(image.height());
    job->Info.input_components = grey ? 1 : 4;
    job->Info.in_color_space = grey ? JCS_GRAYSCALE : JCS_EXT_BGRX; // QRgb in memory on little-endian machines
    jpeg_set_defaults(&job->Info);
    jpeg_set_quality(&job->Info, job->Quality, TRUE);
    job->Info.optimize_coding = TRUE;
    if (image.dotsPerMeterX() > 0 && image.dotsPerMeterY() > 0) {
        job->Info.density_unit = 1;
        job->Info.X_density = UINT16(std::clamp<long>(std::lround(image.dotsPerMeterX() * 0.0254), 1, 65535));
        job->Info.Y_density = UINT16(std::clamp<long>(std::lround(image.dotsPerMeterY() * 0.0254), 1, 65535));
    }
    jpeg_start_compress(&job->Info, TRUE);
    if (!job->Icc->isEmpty())
        jpeg_write_icc_profile(&job->Info, reinterpret_cast<const JOCTET*>(job->Icc->constData()),
                               unsigned(job->Icc->size()));
    while (job->Info.next_scanline < job->Info.image_height) {
        JSAMPROW rows[1] = {const_cast<JSAMPROW>(image.constScanLine(int(job->Info.next_scanline)))};
        jpeg_write_scanlines(&job->Info, rows, 1);
    }
    jpeg_finish_compress(&job->Info);
    return true;
}

} // namespace

QByteArray EncodeJpeg(const QImage& image, int quality, const QByteArray& iccProfile)
{
    static_assert(Q_BYTE_ORDER == Q_LITTLE_ENDIAN, "RGB32 rows are handed to libjpeg as BGRX");
    const QImage pixels = image.format() == QImage::Format_Grayscale8 || image.format() == QImage::Format_RGB32
                              ? image
                              : image.convertToFormat(QImage::Format_RGB32);
    auto job = std::make_unique<TznJpegWriteJob>();
    job->Info.err = jpeg_std_error(&job->Errors);
    job->Errors.error_exit = writeErrorExit;
    job->Image = &pixels;
    job->Quality = std::clamp(quality, 1, 100);
    job->Icc = &iccProfile;
    const bool done = compress(job.get());
    if (job->Created)
        jpeg_destroy_compress(&job->Info);
    QByteArray bytes = done ? QByteArray(reinterpret_cast<const char*>(job->Out), qsizetype(job->OutSize)) : QByteArray();
    free(job->Out);
    return bytes;
}
