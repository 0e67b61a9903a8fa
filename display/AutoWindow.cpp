#include "display/AutoWindow.h"

#include "display/WindowLevelLut.h"

#include <memory>

namespace orvi {

CWindowLevel ComputeAutoWindow(const CHistogram& h) {
    if (h.nTotal == h.counts[0]) return {kDefaultWindowWidth, kDefaultWindowLevel};
    const int32_t nLow = HistogramPercentile(h, kAutoWindowLowFraction, 1);
    const int32_t nHigh = HistogramPercentile(h, kAutoWindowHighFraction, 1);
    const int32_t nWidth = nHigh > nLow ? nHigh - nLow : 1;
    return {nWidth, (nLow + nHigh) / 2};
}

CWindowLevel ComputeAutoWindow(const uint16_t* pPixels, int32_t nWidth, int32_t nHeight) {
    auto pHist = std::make_unique<CHistogram>();
    ComputeFieldHistogram(pPixels, nWidth, nHeight, *pHist);
    return ComputeAutoWindow(*pHist);
}

}  // namespace orvi
