#pragma once
// Measurements on the shown image: statistics of a rectangle of pixels (the
// ROI the operator draws) and the length of a line (the ruler), in pixels and
// in millimetres at the detector's pixel pitch.
#include "display/Histogram.h"

#include <string>

namespace orvi {

struct CRoiStats {
    int64_t nCount = 0;  // pixels inside the image and the rectangle
    double fMean = 0;
    double fStdDev = 0;  // of the population (divided by the count)
    uint16_t nMin = 0;
    uint16_t nMax = 0;
};

// The statistics of the pixels of rc that lie inside the image (rows nWidth
// pixels apart). A rectangle outside the image counts nothing.
CRoiStats ComputeRoiStats(const uint16_t* pPixels, int32_t nWidth, int32_t nHeight, CPixelRect rc);

// The rectangle between two pixel positions, both included, in any order.
CPixelRect RectBetween(int32_t nX0, int32_t nY0, int32_t nX1, int32_t nY1);

// "Mean 1234.5  SD 12.3  Min 1200  Max 1300  N 400"
std::string RoiStatsText(const CRoiStats& s);

struct CRulerLength {
    double fPixels = 0;
    double fMillimetres = 0;  // 0 when the pitch is not known (not positive)
};

// The distance between two pixel centres, and in millimetres at a pitch of
// nPitchUm micrometres per pixel.
CRulerLength RulerLength(double fX0, double fY0, double fX1, double fY1, int32_t nPitchUm);

// "123.4 px  17.15 mm" (the millimetres left out without a pitch).
std::string RulerText(const CRulerLength& r);

}  // namespace orvi
