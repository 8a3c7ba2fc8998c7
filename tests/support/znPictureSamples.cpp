#include "znPictureSamples.h"

#include <QPainter>

#include <algorithm>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <memory>
#include <vector>

#include <jpeglib.h>

namespace {

struct TznRandom {
    quint32 State;
    quint32 Next()
    {
        State ^= State << 13;
        State ^= State >> 17;
        State ^= State << 5;
        return State;
    }
    double Unit() { return (Next() & 0xFFFFFF) / double(0x1000000); }
};

// The EXIF block of an APP1 segment: orientation, and resolution in dots per inch when dpi > 0.
QByteArray exifBlock(int orientation, int dpi, bool bigEndian)
{
    auto u16 = [bigEndian](int v) {
        const char bytes[2] = {char(bigEndian ? v >> 8 : v), char(bigEndian ? v : v >> 8)};
        return QByteArray(bytes, 2);
    };
    auto u32 = [&](quint32 v) { return bigEndian ? u16(int(v >> 16)) + u16(int(v & 0xFFFF)) : u16(int(v & 0xFFFF)) + u16(int(v >> 16)); };
    const int entries = dpi > 0 ? 4 : 1;
    const quint32 rationals = 8 + 2 + 12 * entries + 4; // after the IFD
    QByteArray tiff = QByteArray(bigEndian ? "MM" : "II") + u16(42) + u32(8) + u16(entries);
    tiff += u16(0x0112) + u16(3) + u32(1) + u16(orientation) + u16(0);
    if (dpi > 0) {
        tiff += u16(0x011A) + u16(5) + u32(1) + u32(rationals);
        tiff += u16(0x011B) + u16(5) + u32(1) + u32(rationals + 8);
        tiff += u16(0x0128) + u16(3) + u32(1) + u16(2) + u16(0);
    }
    tiff += u32(0);
    if (dpi > 0)
        tiff += u32(quint32(dpi) * 10) + u32(10) + u32(quint32(dpi) * 10) + u32(10);
    return QByteArray("Exif\0\0", 6) + tiff;
}

struct TznSampleDecoder {
    jpeg_decompress_struct Info{};
    jpeg_error_mgr Errors{};
    std::jmp_buf Jump{};
};

void sampleErrorExit(j_common_ptr info)
{
    std::longjmp(reinterpret_cast<TznSampleDecoder*>(info->client_data)->Jump, 1);
}

bool decodeSample(TznSampleDecoder* d, const QByteArray* jpeg, int eighths, QImage* image)
{
    if (setjmp(d->Jump))
        return false;
    jpeg_mem_src(&d->Info, reinterpret_cast<const unsigned char*>(jpeg->constData()), static_cast<unsigned long>(jpeg->size()));
    jpeg_read_header(&d->Info, TRUE);
    const bool grey = d->Info.jpeg_color_space == JCS_GRAYSCALE;
    d->Info.out_color_space = grey ? JCS_GRAYSCALE : JCS_EXT_BGRX;
    d->Info.scale_num = unsigned(eighths);
    d->Info.scale_denom = 8;
    d->Info.dct_method = JDCT_ISLOW;
    jpeg_start_decompress(&d->Info);
    *image = QImage(int(d->Info.output_width), int(d->Info.output_height),
                    grey ? QImage::Format_Grayscale8 : QImage::Format_RGB32);
    while (d->Info.output_scanline < d->Info.output_height) {
        JSAMPROW rows[1] = {image->scanLine(int(d->Info.output_scanline))};
        jpeg_read_scanlines(&d->Info, rows, 1);
    }
    jpeg_finish_decompress(&d->Info);
    return true;
}

} // namespace

QImage MakePhotographicImage(QSize size, quint32 seed, int noise)
{
    TznRandom random{seed * 2654435761u + 1};
    const int w = size.width(), h = size.height();
    // Separable smooth light: one profile across, one down, per channel.
    std::vector<float> across(size_t(w) * 3), down(size_t(h) * 3);
    for (int c = 0; c < 3; ++c) {
        const double f1 = (1 + 3 * random.Unit()) * 2 * M_PI / w, p1 = random.Unit() * 6.3;
        const double f2 = (1 + 3 * random.Unit()) * 2 * M_PI / h, p2 = random.Unit() * 6.3;
        const double base = 60 + 80 * random.Unit();
        for (int x = 0; x < w; ++x)
            across[size_t(x) * 3 + c] = float(base + 45 * std::sin(x * f1 + p1));
        for (int y = 0; y < h; ++y)
            down[size_t(y) * 3 + c] = float(45 * std::sin(y * f2 + p2));
    }
    struct TznDisc { double X, Y, R2; int Shift[3]; };
    std::vector<TznDisc> discs(12);
    for (TznDisc& d : discs) {
        const double r = (0.03 + 0.12 * random.Unit()) * std::min(w, h);
        d = {random.Unit() * w, random.Unit() * h, r * r, {}};
        for (int& s : d.Shift)
            s = int(random.Next() % 121) - 60;
    }
    QImage image(size, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y) {
        QRgb* row = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < w; ++x) {
            float v[3];
            for (int c = 0; c < 3; ++c)
                v[c] = across[size_t(x) * 3 + c] + down[size_t(y) * 3 + c];
            for (const TznDisc& d : discs) {
                const double dx = x - d.X, dy = y - d.Y;
                if (dx * dx + dy * dy < d.R2) {
                    for (int c = 0; c < 3; ++c)
                        v[c] += d.Shift[c];
                }
            }
            const int n = int(random.Next() % quint32(2 * noise + 1)) - noise;
            row[x] = qRgb(std::clamp(int(v[0]) + n, 0, 255), std::clamp(int(v[1]) + n, 0, 255),
                          std::clamp(int(v[2]) + n, 0, 255));
        }
    }
    return image;
}

QImage MakeScreenshotImage(QSize size, quint32 seed)
{
    TznRandom random{seed * 2246822519u + 7};
    QImage image(size, QImage::Format_RGB32);
    image.fill(QColor(240, 240, 240));
    QPainter painter(&image);
    painter.fillRect(0, 0, size.width(), 28, QColor(45, 85, 150));
    painter.fillRect(0, 28, 220, size.height() - 28, QColor(225, 228, 232));
    const QColor ink(30, 30, 30), link(20, 90, 200);
    // Lines of word-like marks, as text looks from afar.
    for (int y = 50; y + 10 < size.height(); y += 18) {
        int x = 240 + int(random.Next() % 20);
        const int end = size.width() - 40 - int(random.Next() % 200);
        while (x < end) {
            const int word = 12 + int(random.Next() % 50);
            painter.fillRect(x, y, std::min(word, end - x), 9, random.Next() % 9 == 0 ? link : ink);
            x += word + 6;
        }
    }
    for (int i = 0; i < 6; ++i) {
        const int x = 240 + int(random.Next() % std::max(1, size.width() - 500));
        const int y = 60 + int(random.Next() % std::max(1, size.height() - 300));
        painter.setPen(QColor(120, 120, 120));
        painter.setBrush(QColor(255, 255, 255));
        painter.drawRect(x, y, 220, 120);
    }
    painter.end();
    return image;
}

QImage MakeRibbonImage(QSize size, quint32 seed)
{
    TznRandom random{seed * 3266489917u + 11};
    QImage image(size, QImage::Format_RGB32);
    image.fill(QColor(245, 246, 247));
    QPainter painter(&image);
    painter.fillRect(0, 0, size.width(), 22, QColor(43, 87, 154));
    painter.fillRect(0, size.height() * 2 / 3, size.width(), size.height(), Qt::white);
    painter.setRenderHint(QPainter::Antialiasing);
    const QColor inks[] = {QColor(200, 30, 40, 150), QColor(30, 90, 200, 150), QColor(20, 140, 60, 150),
                           QColor(50, 50, 50, 150), QColor(240, 240, 250)};
    // Buttons: small squares in a gradient of their own.
    for (int x = 6; x + 18 < size.width(); x += 46) {
        QLinearGradient fill(x, 30, x + 18, 48);
        fill.setColorAt(0, QColor::fromHsv(int(random.Next() % 360), 160, 240));
        fill.setColorAt(1, QColor::fromHsv(int(random.Next() % 360), 220, 150));
        painter.fillRect(QRectF(x, 30, 18, 18), fill);
    }
    // Letters: strokes a pixel and a bit wide at fractional positions, as a text renderer draws them.
    for (double y = 56; y + 8 < size.height(); y += 11.5) {
        const QColor ink = y < 22 ? inks[4] : inks[random.Next() % 4];
        double x = 4 + random.Unit() * 3;
        while (x + 8 < size.width()) {
            painter.setPen(QPen(ink, 1.1));
            for (int letter = 0, n = 2 + int(random.Next() % 7); letter < n && x + 8 < size.width(); ++letter, x += 5.6) {
                switch (random.Next() % 4) {
                case 0: painter.drawEllipse(QRectF(x, y + 2.3, 4.2, 5.1)); break;
                case 1: painter.drawLine(QPointF(x + 0.6, y), QPointF(x + 0.6, y + 7.4)); painter.drawArc(QRectF(x, y + 2.5, 4, 5), 0, 180 * 16); break;
                case 2: painter.drawLine(QPointF(x, y + 7.4), QPointF(x + 2.1, y + 0.3)); painter.drawLine(QPointF(x + 2.1, y + 0.3), QPointF(x + 4.3, y + 7.4)); break;
                default: painter.drawArc(QRectF(x, y + 2.2, 4.4, 5.2), 40 * 16, 280 * 16); break;
                }
            }
            x += 4.3;
        }
    }
    painter.end();
    return image;
}

QImage MakeIconImage(int side)
{
    QImage image(side, side, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    QLinearGradient fill(0, 0, side, side);
    fill.setColorAt(0, QColor(255, 150, 40));
    fill.setColorAt(1, QColor(200, 30, 90));
    painter.setPen(Qt::NoPen);
    painter.setBrush(fill);
    painter.drawRoundedRect(QRectF(1, 1, side - 2, side - 2), side / 6.0, side / 6.0);
    painter.setPen(QPen(Qt::white, side / 12.0));
    painter.setBrush(Qt::NoBrush);
    painter.drawEllipse(QRectF(side * 0.28, side * 0.28, side * 0.44, side * 0.44));
    painter.drawLine(QPointF(side * 0.62, side * 0.62), QPointF(side * 0.8, side * 0.8));
    painter.end();
    // The border: one pixel of dark grey all round.
    for (int i = 0; i < side; ++i) {
        image.setPixel(i, 0, qRgb(60, 60, 60));
        image.setPixel(i, side - 1, qRgb(60, 60, 60));
        image.setPixel(0, i, qRgb(60, 60, 60));
        image.setPixel(side - 1, i, qRgb(60, 60, 60));
    }
    return image;
}

QByteArray MakeGreyIccProfile(double gamma)
{
    auto be32 = [](quint32 v) { const char b[4] = {char(v >> 24), char(v >> 16), char(v >> 8), char(v)}; return QByteArray(b, 4); };
    auto be16 = [](int v) { const char b[2] = {char(v >> 8), char(v)}; return QByteArray(b, 2); };
    auto s15 = [&](double v) { return be32(quint32(qint32(std::lround(v * 65536)))); };
    auto padded = [](QByteArray b) { return b + QByteArray(int((4 - b.size() % 4) % 4), '\0'); };
    const QByteArray text = "Grey, dot gain like";
    const QByteArray desc = padded(QByteArray("desc") + be32(0) + be32(quint32(text.size() + 1)) + text + QByteArray(1, '\0')
                                   + be32(0) + be32(0) + be16(0) + QByteArray(1, '\0') + QByteArray(67, '\0'));
    const QByteArray wtpt = QByteArray("XYZ ") + be32(0) + s15(0.9642) + s15(1.0) + s15(0.8249);
    const QByteArray trc = padded(QByteArray("curv") + be32(0) + be32(1) + be16(int(std::lround(gamma * 256))));
    const QByteArray cprt = padded(QByteArray("text") + be32(0) + QByteArray("No copyright\0", 13));
    const std::pair<const char*, QByteArray> tags[] = {{"desc", desc}, {"wtpt", wtpt}, {"kTRC", trc}, {"cprt", cprt}};
    QByteArray table = be32(4), data;
    quint32 offset = 128 + 4 + 4 * 12;
    for (const auto& [signature, body] : tags) {
        table += QByteArray(signature, 4) + be32(offset + quint32(data.size())) + be32(quint32(body.size()));
        data += body;
    }
    QByteArray header = be32(quint32(128 + table.size() + data.size())) + "lcms" + be32(0x02100000) + "mntrGRAYXYZ "
                        + QByteArray(12, '\0') + "acsp" + "APPL" + be32(0) + be32(0) + be32(0)
                        + QByteArray(8, '\0') + be32(0) + s15(0.9642) + s15(1.0) + s15(0.8249) + be32(0);
    header += QByteArray(128 - header.size(), '\0');
    return header + table + data;
}

QByteArray EncodeSampleJpeg(const QImage& image, const TznJpegOptions& options)
{
    const QImage rgb = image.convertToFormat(QImage::Format_RGB888);
    jpeg_compress_struct info;
    jpeg_error_mgr errors;
    info.err = jpeg_std_error(&errors);
    jpeg_create_compress(&info);
    unsigned char* out = nullptr;
    unsigned long outSize = 0;
    jpeg_mem_dest(&info, &out, &outSize);
    info.image_width = JDIMENSION(rgb.width());
    info.image_height = JDIMENSION(rgb.height());
    if (options.Cmyk) {
        info.input_components = 4;
        info.in_color_space = JCS_CMYK;
    } else if (options.Grey) {
        info.input_components = 1;
        info.in_color_space = JCS_GRAYSCALE;
    } else {
        info.input_components = 3;
        info.in_color_space = JCS_RGB;
    }
    jpeg_set_defaults(&info);
    if (options.Cmyk) {
        jpeg_set_colorspace(&info, JCS_CMYK);
        info.write_Adobe_marker = options.AdobeInverted ? TRUE : FALSE;
    }
    if (options.DensityDpi > 0) {
        info.density_unit = 1;
        info.X_density = UINT16(options.DensityDpi);
        info.Y_density = UINT16(options.DensityDpi);
    }
    jpeg_set_quality(&info, options.Quality, TRUE);
    if (!options.Cmyk && !options.Grey) {
        info.comp_info[0].h_samp_factor = options.LumaSampling.width();
        info.comp_info[0].v_samp_factor = options.LumaSampling.height();
    }
    if (options.Progressive)
        jpeg_simple_progression(&info);
    jpeg_start_compress(&info, TRUE);
    if (options.Orientation > 0) {
        const QByteArray exif = exifBlock(options.Orientation, options.ExifDpi, options.BigEndianExif);
        jpeg_write_marker(&info, JPEG_APP0 + 1, reinterpret_cast<const JOCTET*>(exif.constData()),
                          unsigned(exif.size()));
    }
    if (!options.IccProfile.isEmpty())
        jpeg_write_icc_profile(&info, reinterpret_cast<const JOCTET*>(options.IccProfile.constData()),
                               unsigned(options.IccProfile.size()));
    std::vector<JSAMPLE> row(size_t(rgb.width()) * 4);
    while (info.next_scanline < info.image_height) {
        const uchar* src = rgb.constScanLine(int(info.next_scanline));
        for (int x = 0; x < rgb.width(); ++x) {
            const int r = src[x * 3], g = src[x * 3 + 1], b = src[x * 3 + 2];
            if (options.Cmyk) {
                const int k = 255 - std::max({r, g, b});
                const int light = 255 - k;
                int ink[4] = {light ? (light - r) * 255 / light : 0, light ? (light - g) * 255 / light : 0,
                              light ? (light - b) * 255 / light : 0, k};
                for (int c = 0; c < 4; ++c)
                    row[size_t(x) * 4 + c] = JSAMPLE(options.AdobeInverted ? 255 - ink[c] : ink[c]);
            } else if (options.Grey) {
                row[size_t(x)] = JSAMPLE(qGray(r, g, b));
            } else {
                for (int c = 0; c < 3; ++c)
                    row[size_t(x) * 3 + c] = src[x * 3 + c];
            }
        }
        JSAMPROW rows[1] = {row.data()};
        jpeg_write_scanlines(&info, rows, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    QByteArray bytes(reinterpret_cast<const char*>(out), qsizetype(outSize));
    free(out);
    return bytes;
}

QByteArray KeepFirstJpegScans(const QByteArray& jpeg, int scans)
{
    int count = 0;
    qsizetype at = 2;
    while (at + 4 <= jpeg.size() && quint8(jpeg[at + 1]) != 0xD9) {
        qsizetype next = at + 2 + ((quint8(jpeg[at + 2]) << 8) | quint8(jpeg[at + 3]));
        if (quint8(jpeg[at + 1]) == 0xDA) {
            // Entropy-coded data runs to the next marker that is no stuffed zero and no restart.
            while (next + 1 < jpeg.size()
                   && !(quint8(jpeg[next]) == 0xFF && jpeg[next + 1] != 0 && (quint8(jpeg[next + 1]) & 0xF8) != 0xD0))
                ++next;
            if (++count == scans)
                return jpeg.left(next) + QByteArray("\xFF\xD9", 2);
        }
        at = next;
    }
    return jpeg;
}

QImage DecodeSampleJpeg(const QByteArray& jpeg, int eighths)
{
    auto decoder = std::make_unique<TznSampleDecoder>();
    decoder->Info.err = jpeg_std_error(&decoder->Errors);
    decoder->Errors.error_exit = sampleErrorExit;
    jpeg_create_decompress(&decoder->Info);
    decoder->Info.client_data = decoder.get();
    QImage image;
    const bool done = decodeSample(decoder.get(), &jpeg, eighths, &image);
    jpeg_destroy_decompress(&decoder->Info);
    return done ? image : QImage();
}
