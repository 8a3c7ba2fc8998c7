#pragma once

#include <QString>

class QImage;
class TznLegacyOffice;

// How a result's pages, as LibreOffice lays them out, compare with its source's.
struct TznRenderComparison
{
    int SourcePages = 0;
    int ResultPages = 0;
    // The first page (from 1) below the threshold, else the page of the lowest PSNR; 0
    // when no page pair was compared.
    int Page = 0;
    double Psnr = 99;  // that page's PSNR in dB
};

// Renders source and result to PDF in office, one after the other in the same instance,
// rasterises their pages at dpi in process and compares them pair by pair, stopping at the
// first pair below minPsnr. With page counts that differ no page is compared. Raises
// EznError naming the file (sourceLabel or resultLabel) that cannot be rendered, or whose
// page is too large to be rasterised.
TznRenderComparison CompareRenderings(TznLegacyOffice& office, const QString& source, const QString& result, int dpi,
                                      double minPsnr, const QString& sourceLabel, const QString& resultLabel);

// Peak signal-to-noise ratio of two pictures of one size over their RGB values, in dB:
// 99 when they are equal, 0 when their sizes differ or one is empty.
double PagePsnr(const QImage& a, const QImage& b);
