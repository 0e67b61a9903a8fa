#pragma once
// The image geometry the pixel steps work with: the frame size and the four
// border cuts as loaded and checked at start-up (sides 1..3072, cuts >= 0 and
// leaving at least one row and one column). The steps receive it explicitly
// and never re-read it from the configuration, so a file edited while the
// program runs cannot make a step read or write outside the frame buffers.
#include <cstddef>
#include <cstdint>

namespace orvi {

struct CImageGeometry {
    int32_t nWidth = 0;
    int32_t nHeight = 0;
    int32_t nCutTop = 0;
    int32_t nCutBottom = 0;
    int32_t nCutLeft = 0;
    int32_t nCutRight = 0;

    constexpr size_t Pixels() const { return size_t(nWidth) * size_t(nHeight); }
    constexpr int32_t CutWidth() const { return nWidth - nCutLeft - nCutRight; }
    constexpr int32_t CutHeight() const { return nHeight - nCutTop - nCutBottom; }
    constexpr size_t CutPixels() const { return size_t(CutWidth()) * size_t(CutHeight()); }

    // True when the size is positive and the cuts are >= 0 and leave pixels.
    // The steps do nothing on a geometry that fails this (start-up refuses it).
    constexpr bool IsValid() const {
        return nWidth > 0 && nHeight > 0 && nCutTop >= 0 && nCutBottom >= 0 && nCutLeft >= 0 && nCutRight >= 0 &&
               int64_t{nCutLeft} + nCutRight < nWidth && int64_t{nCutTop} + nCutBottom < nHeight;
    }
};

}  // namespace orvi
