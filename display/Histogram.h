#pragma once
// The histogram of a 14-bit image and the part of the image it is taken over.
// A detector image may carry a border of zero pixels (cuts of a full frame, a
// short file shown from its start): that border is not part of the exposed
// field, and counting it would pull every percentile down to 0.
#include <array>
#include <cstddef>
#include <cstdint>

namespace orvi {

inline constexpr size_t kHistogramBins = 16384;  // one bin per 14-bit value
inline constexpr uint16_t kHistogramMaxValue = 0x3FFF;

// An axis-aligned block of pixels: first column and row, width and height.
struct CPixelRect {
    int32_t nX = 0;
    int32_t nY = 0;
    int32_t nW = 0;
    int32_t nH = 0;
    bool IsEmpty() const { return nW <= 0 || nH <= 0; }
    int64_t Count() const { return IsEmpty() ? 0 : int64_t(nW) * nH; }
    bool operator==(const CPixelRect&) const = default;
};

// The smallest block that holds every non-zero pixel: the rows and columns
// at the edges that are zero throughout are left out. Empty for an image of
// zeros (or no image).
CPixelRect ExposedField(const uint16_t* pPixels, int32_t nWidth, int32_t nHeight);

struct CHistogram {
    // Pixels per 14-bit value (values above 16383 are masked to 14 bits, as
    // the display does).
    std::array<uint32_t, kHistogramBins> counts{};
    uint64_t nTotal = 0;
    uint16_t nMin = 0;  // lowest and highest value counted (0 and 0 when empty)
    uint16_t nMax = 0;
    // The largest count of one bin, for drawing.
    uint32_t nPeak = 0;
};

// Histogram of the block rc of an image (rows nWidth pixels apart); the
// block is first clipped to the image.
void ComputeHistogram(const uint16_t* pPixels, int32_t nWidth, int32_t nHeight, CPixelRect rc, CHistogram& h);

// Histogram of the exposed field of an image.
void ComputeFieldHistogram(const uint16_t* pPixels, int32_t nWidth, int32_t nHeight, CHistogram& h);

// The smallest value v with at least fFraction x (the pixels counted from
// value nFrom up) at or below it; 0 when none is counted. fFraction is taken
// within 0 .. 1.
uint16_t HistogramPercentile(const CHistogram& h, double fFraction, uint16_t nFrom = 0);

}  // namespace orvi
