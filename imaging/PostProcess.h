#pragma once
// The pixel steps applied to the working frame (W x H pixels, row-major,
// 16-bit): the row mirror of every incoming frame, the two checks of the raw
// exposure image (standard deviation, dose indicator), and the shaping of the
// corrected image (offset, 3 x 3 median, border cut). Each works in place and
// gives exactly the result of its plain rule; the fast versions are checked
// against literal ones in the tests. Corrected values stay within 14 bits.
#include "imaging/FrameGeometry.h"

#include <cstdint>
#include <string>

namespace orvi {

class CReport;

inline constexpr uint16_t kMaxPixelValue = 16383;  // corrected values are limited to 14 bits

// Reverses every row left to right; rows keep their order.
void MirrorRows(uint16_t* pFrame, int32_t nWidth, int32_t nHeight);

// ---- Exposure check ------------------------------------------------------

struct CExposureCheck {
    bool bChecked = false;  // false: the region (rows 28 to H - 57) has fewer than two pixels
    bool bExposed = false;  // sd > STDDEV_RANGE
    double dStdDev = 0.0;
};

// The standard deviation of rows 28 up to H - 57 with integer mean and
// variance (64-bit, truncating), compared with STDDEV_RANGE. No logging.
CExposureCheck MeasureExposure(const uint16_t* pFrame, int32_t nWidth, int32_t nHeight, int32_t nStdDevRange);

// MeasureExposure, then the log line "Get expose Image.(STDDEV:%lf)" or
// "Expose fail!! exit program.(STDDEV:%lf)". A frame of 85 rows or fewer is
// skipped (nothing logged).
CExposureCheck CheckExposure(const uint16_t* pFrame, int32_t nWidth, int32_t nHeight, int32_t nStdDevRange);

// ---- Dose indicator ------------------------------------------------------

// The 80th-percentile value of a region (values above 16383 count as 16383):
// the first value k whose accumulated count exceeds trunc(0.8 x count); 16384
// when none does (an empty region). The region is clipped to the frame. A
// negative width counts no pixel but adds the width to the count for every
// row of the region: the threshold falls below zero and the result is 0.
int32_t DoseIndicatorValue(const uint16_t* pFrame, int32_t nWidth, int32_t nHeight, int32_t nX, int32_t nY,
                           int32_t nRegionWidth, int32_t nRegionHeight);

// Reads DOSE_INDICATOR_X/Y/WIDTH/HEIGHT from the configuration file now,
// computes the value, writes it to "doseindicator.txt" in the image folder
// (decimal digits, UTF-16LE, no BOM, no terminator) and logs
// "Dose Indicator :%d". When the file cannot be written it shows
// "Message file creation fail!!" instead and logs nothing. Returns the value.
int32_t ComputeDoseIndicator(const uint16_t* pFrame, int32_t nWidth, int32_t nHeight, const std::string& strIniPath,
                             const std::string& strImageFolder, CReport& report);

// ---- Corrected-image steps ----------------------------------------------

// Adds OFFSET_CONTROL to every pixel: a sum above 16382 becomes 16383, any
// other sum (negative ones too) keeps its low 16 bits.
void ApplyOffset(uint16_t* pFrame, size_t nPixels, int32_t nOffset);

// 3 x 3 median of columns 1 to W - 3 and rows 1 to H - 3, computed from the
// frame as it was on entry and limited to 16383; the other pixels keep their
// values. Uses every core for a large frame.
void MedianFilter3x3(uint16_t* pFrame, int32_t nWidth, int32_t nHeight);

// The same filter out of place: pDst (not overlapping pSrc) receives the
// filtered frame, the pixels outside the filtered area copied from pSrc.
void MedianFilter3x3(const uint16_t* pSrc, uint16_t* pDst, int32_t nWidth, int32_t nHeight);

// Rows y0 .. y1 - 1 of the frame as MedianFilter3x3 (when bMedian) and then
// CutImage would leave them, written to pOut at their places in the cut
// image (row y at row y - nCutTop, CutWidth() pixels a row); rows outside the
// cut are skipped. Reads rows y0 - 1 .. y1 of pFrame, which is not changed
// and must not overlap pOut. Runs on up to nWorkers threads.
void MedianCutRows(const uint16_t* pFrame, const CImageGeometry& geometry, bool bMedian, uint16_t* pOut, int32_t y0,
                   int32_t y1, size_t nWorkers);

// Packs the pixels left by the four cuts at the start of the frame, row after
// row, with the configured width as row stride; the rest of the buffer is
// left as it was. Returns false (frame untouched) on an invalid geometry.
bool CutImage(uint16_t* pFrame, const CImageGeometry& geometry);

}  // namespace orvi
