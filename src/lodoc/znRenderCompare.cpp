#include "lodoc/znRenderCompare.h"

#include "lodoc/znLegacyOffice.h"
#include "platform/znError.h"
#include "platform/znLocalPath.h"

#include <QDir>
#include <QImage>
#include <QTemporaryDir>

#include <poppler-qt6.h>

#include <cmath>
#include <memory>

namespace {

// A page is rasterised whole: one far larger than any paper (a hostile document's) is
// refused rather than allocated.
constexpr double kMaxPagePixels = 60e6;

std::unique_ptr<Poppler::Document> loadPdf(const QString& pdf, const QString& label)
{
    std::unique_ptr<Poppler::Document> doc = Poppler::Document::load(pdf);
    if (!doc || doc->isLocked())
        throw EznError(QStringLiteral("Cannot render \"%1\": LibreOffice wrote a PDF that cannot be read.").arg(QDir::toNativeSeparators(label)));
    // As pdftoppm and viewers draw them: text and lines smoothed.
    doc->setRenderHint(Poppler::Document::Antialiasing);
    doc->setRenderHint(Poppler::Document::TextAntialiasing);
    return doc;
}

QImage rasterise(const Poppler::Document& doc, int index, int dpi, const QString& label)
{
    const std::unique_ptr<Poppler::Page> page = doc.page(index);
    const QSizeF points = page ? page->pageSizeF() : QSizeF();
    const double width = points.width() * dpi / 72.0, height = points.height() * dpi / 72.0;
    if (!page || !(width >= 1 && height >= 1 && width * height <= kMaxPagePixels))
        throw EznError(QStringLiteral("Cannot render \"%1\": page %2 cannot be rasterised.")
                           .arg(QDir::toNativeSeparators(label))
                           .arg(index + 1));
    QImage image = page->renderToImage(dpi, dpi);
    if (image.isNull())
        throw EznError(QStringLiteral("Cannot render \"%1\": page %2 cannot be rasterised.")
                           .arg(QDir::toNativeSeparators(label))
                           .arg(index + 1));
    return image;
}

} // namespace

TznRenderComparison CompareRenderings(TznLegacyOffice& office, const QString& source, const QString& result, int dpi,
                                      double minPsnr, const QString& sourceLabel, const QString& resultLabel)
{
    // In the run's own scratch folder, which a later run removes when this one was killed.
    const QString scratch = ScratchFolder();
    const QTemporaryDir dir((scratch.isEmpty() ? QDir::tempPath() + QStringLiteral("/leafpress-") : scratch + u'/')
                            + QStringLiteral("render-XXXXXX"));
    if (!dir.isValid())
        throw EznError(QStringLiteral("No temporary folder can be made (%1).").arg(dir.errorString()));
    const QString sourcePdf = dir.filePath(QStringLiteral("source.pdf")), resultPdf = dir.filePath(QStringLiteral("result.pdf"));
    office.Convert(source, sourcePdf, TznOfficeFormat::Pdf, sourceLabel);
    office.Convert(result, resultPdf, TznOfficeFormat::Pdf, resultLabel);
    const auto before = loadPdf(sourcePdf, sourceLabel);
    const auto after = loadPdf(resultPdf, resultLabel);

    TznRenderComparison comparison;
    comparison.SourcePages = before->numPages();
    comparison.ResultPages = after->numPages();
    if (comparison.SourcePages != comparison.ResultPages)
        return comparison;
    for (int i = 0; i < comparison.SourcePages; ++i) {
        const double psnr = PagePsnr(rasterise(*before, i, dpi, sourceLabel), rasterise(*after, i, dpi, resultLabel));
        if (comparison.Page == 0 || psnr < comparison.Psnr) {
            comparison.Page = i + 1;
            comparison.Psnr = psnr;
        }
        if (psnr < minPsnr)
            break;
    }
    return comparison;
}

double PagePsnr(const QImage& a, const QImage& b)
{
    if (a.size() != b.size() || a.isNull())
        return 0;
    const QImage pa = a.convertToFormat(QImage::Format_RGB888), pb = b.convertToFormat(QImage::Format_RGB888);
    double sum = 0;
    for (int y = 0; y < pa.height(); ++y) {
        const uchar* ra = pa.constScanLine(y);
        const uchar* rb = pb.constScanLine(y);
        for (int x = 0; x < pa.width() * 3; ++x) {
            const double d = double(ra[x]) - double(rb[x]);
            sum += d * d;
        }
    }
    const double mse = sum / (3.0 * pa.width() * pa.height());
    return mse == 0 ? 99 : 10 * std::log10(255.0 * 255.0 / mse);
}
