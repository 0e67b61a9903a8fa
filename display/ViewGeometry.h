#pragma once
// Geometry of the image view as plain functions: where the picture is drawn
// (fit, square fit, wheel zoom about the pointer, pan), which image pixel lies
// under the pointer, and the limits the view and the control panel put on a
// window width and level before they hand them to the lookup table.
// All positions are client pixels of the view, all sizes signed 32-bit.
#include "imaging/WindowLevel.h"

#include <cstdint>
#include <string>

namespace orvi {

// Where the image is drawn: left, top, width, height in client pixels.
// A width or height that is not positive means "not fitted yet".
struct CDispRect {
    int32_t nX = 0;
    int32_t nY = 0;
    int32_t nW = -1;
    int32_t nH = -1;

    bool IsFitted() const { return nW > 0 && nH > 0; }
    // Not empty and containing the point: left and top edges inside, right
    // and bottom edges outside.
    bool Contains(int32_t nPx, int32_t nPy) const {
        return nW > 0 && nH > 0 && nPx >= nX && nPx < nX + nW && nPy >= nY && nPy < nY + nH;
    }
    bool operator==(const CDispRect&) const = default;
};

// The whole image in the client area, aspect kept, centred: the scale is the
// larger of Wi / Wc and Hi / Hc in single precision (the horizontal one when
// equal), the displayed size the image size divided by it and truncated, the
// offsets half the spare room (arithmetic shift). An empty client area or
// image gives a zero size, which the view treats as not fitted.
CDispRect FitToWindow(int32_t nClientW, int32_t nClientH, int32_t nImageW, int32_t nImageH);

// A square whose side is the smaller client dimension, centred along the
// longer one and flush with the other, whatever the image's aspect ratio.
CDispRect SquareFit(int32_t nClientW, int32_t nClientH);

// One wheel step about the pointer (px, py): a positive delta grows the
// displayed size by 10 %, a negative one shrinks it by 10 %, keeping the image
// point under the pointer about fixed; products in double precision,
// truncated toward zero. Returns false, changing nothing, at the limits: a
// zoom-in once the width exceeds 9 x the image width, a zoom-out once it is
// below 1 % of it. A zero delta changes nothing and returns true.
bool ZoomAtPointer(CDispRect& rc, int32_t nImageW, int32_t nDelta, int32_t nPx, int32_t nPy);

// The picture follows the pointer by the movement since the last position.
void Pan(CDispRect& rc, int32_t nDx, int32_t nDy);

// The image pixel under the pointer: (px - left) x image width / displayed
// width, likewise for the row, in integer arithmetic truncating toward zero.
// May lie outside the image. Only defined for a positive displayed size.
struct CPixelPos {
    int32_t nColumn = 0;
    int32_t nRow = 0;
    bool operator==(const CPixelPos&) const = default;
};
CPixelPos PointerToPixel(const CDispRect& rc, int32_t nImageW, int32_t nImageH, int32_t nPx, int32_t nPy);

// The readout texts of status panes 2 and 3.
std::string PixelReadoutText(int32_t nColumn, int32_t nRow, int32_t nValue);
std::string OriginalValueText(int32_t nValue);

inline constexpr int32_t kMaxWindowValue = 16383;
inline constexpr int32_t kWindowDragStep = 6;  // table units per pixel of right-drag

// Right-button drag: the current width and level (truncated) plus 6 x the
// horizontal and vertical movement (downwards raises the level); above 16383
// becomes 16383, below 1 becomes 4, for both.
CWindowLevel DragWindowLevel(float fWidth, float fLevel, int32_t nDx, int32_t nDy);

// The panel's width and level boxes: above 16383 becomes 16383; a width below
// 1 becomes 4, a level below 1 becomes 2.
CWindowLevel ClampPanelWindowLevel(int32_t nWidth, int32_t nLevel);

// A box's text read as a signed decimal integer: leading blanks, an optional
// sign, then the digits up to the first other character. Text that is not a
// number reads as 0; a number beyond the 32-bit range saturates.
int32_t ReadSignedInt(const std::string& strText);

}  // namespace orvi
