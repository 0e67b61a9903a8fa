#include "display/ViewGeometry.h"

#include <cctype>
#include <cstdio>
#include <limits>

namespace orvi {

CDispRect FitToWindow(int32_t nClientW, int32_t nClientH, int32_t nImageW, int32_t nImageH) {
    CDispRect rc;
    if (nClientW <= 0 || nClientH <= 0 || nImageW <= 0 || nImageH <= 0) {
        rc.nW = rc.nH = 0;
        return rc;
    }
    const float fScaleX = float(nImageW) / float(nClientW);
    const float fScaleY = float(nImageH) / float(nClientH);
    const float fScale = fScaleY > fScaleX ? fScaleY : fScaleX;
    rc.nW = static_cast<int32_t>(float(nImageW) / fScale);
    rc.nH = static_cast<int32_t>(float(nImageH) / fScale);
    rc.nX = (nClientW - rc.nW) >> 1;
    rc.nY = (nClientH - rc.nH) >> 1;
    return rc;
}

CDispRect SquareFit(int32_t nClientW, int32_t nClientH) {
    CDispRect rc;
    if (nClientW > nClientH) {
        rc.nW = rc.nH = nClientH;
        rc.nX = (nClientW - nClientH) / 2;
        rc.nY = 0;
    } else {
        rc.nW = rc.nH = nClientW;
        rc.nX = 0;
        rc.nY = (nClientH - nClientW) / 2;
    }
    return rc;
}

namespace {

// Truncation toward zero of a double that may lie outside the 32-bit range.
int32_t TruncToInt(double v) {
    if (v >= double(std::numeric_limits<int32_t>::max())) return std::numeric_limits<int32_t>::max();
    if (v <= double(std::numeric_limits<int32_t>::min())) return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(v);
}

}  // namespace

bool ZoomAtPointer(CDispRect& rc, int32_t nImageW, int32_t nDelta, int32_t nPx, int32_t nPy) {
    if ((int64_t(rc.nW) > 9 * int64_t(nImageW) && nDelta > 0) || (0.01 * double(nImageW) > double(rc.nW) && nDelta < 0))
        return false;
    const double x = rc.nX, y = rc.nY;
    if (nDelta > 0) {
        rc.nW = TruncToInt(double(rc.nW) * 1.1);
        rc.nH = TruncToInt(double(rc.nH) * 1.1);
        rc.nX = TruncToInt(x + (x - nPx) * 0.1);
        rc.nY = TruncToInt(y + (y - nPy) * 0.1);
    } else if (nDelta < 0) {
        rc.nW = TruncToInt(double(rc.nW) * 0.9);
        rc.nH = TruncToInt(double(rc.nH) * 0.9);
        rc.nX = TruncToInt(x - (x - nPx) * 0.1);
        rc.nY = TruncToInt(y - (y - nPy) * 0.1);
    }
    return true;
}

void Pan(CDispRect& rc, int32_t nDx, int32_t nDy) {
    rc.nX += nDx;
    rc.nY += nDy;
}

CPixelPos PointerToPixel(const CDispRect& rc, int32_t nImageW, int32_t nImageH, int32_t nPx, int32_t nPy) {
    CPixelPos pos;
    if (rc.nW <= 0 || rc.nH <= 0) return pos;
    // 64-bit products: a pointer far outside a deeply zoomed picture cannot overflow.
    pos.nColumn = static_cast<int32_t>((int64_t(nPx) - rc.nX) * nImageW / rc.nW);
    pos.nRow = static_cast<int32_t>((int64_t(nPy) - rc.nY) * nImageH / rc.nH);
    return pos;
}

std::string PixelReadoutText(int32_t nColumn, int32_t nRow, int32_t nValue) {
    char sz[96];
    std::snprintf(sz, sizeof sz, "Pos(X:%4d Y:%4d ) Value:%6d", nColumn, nRow, nValue);
    return sz;
}

std::string OriginalValueText(int32_t nValue) {
    char sz[32];
    std::snprintf(sz, sizeof sz, "Original:%6d", nValue);
    return sz;
}

namespace {

int32_t ClampDrag(int64_t v) {
    if (v > kMaxWindowValue) return kMaxWindowValue;
    if (v < 1) return 4;
    return static_cast<int32_t>(v);
}

}  // namespace

CWindowLevel DragWindowLevel(float fWidth, float fLevel, int32_t nDx, int32_t nDy) {
    const int64_t nWidth = static_cast<int64_t>(fWidth) + int64_t(kWindowDragStep) * nDx;
    const int64_t nLevel = static_cast<int64_t>(fLevel) + int64_t(kWindowDragStep) * nDy;
    return {ClampDrag(nWidth), ClampDrag(nLevel)};
}

CWindowLevel ClampPanelWindowLevel(int32_t nWidth, int32_t nLevel) {
    CWindowLevel wl{nWidth, nLevel};
    if (wl.nWidth > kMaxWindowValue)
        wl.nWidth = kMaxWindowValue;
    else if (wl.nWidth < 1)
        wl.nWidth = 4;
    if (wl.nLevel > kMaxWindowValue)
        wl.nLevel = kMaxWindowValue;
    else if (wl.nLevel < 1)
        wl.nLevel = 2;
    return wl;
}

int32_t ReadSignedInt(const std::string& strText) {
    size_t i = 0;
    while (i < strText.size() && (strText[i] == ' ' || strText[i] == '\t')) ++i;
    bool bNegative = false;
    if (i < strText.size() && (strText[i] == '-' || strText[i] == '+')) bNegative = strText[i++] == '-';
    int64_t nValue = 0;
    for (; i < strText.size() && std::isdigit(static_cast<unsigned char>(strText[i])); ++i) {
        nValue = nValue * 10 + (strText[i] - '0');
        if (nValue > int64_t(std::numeric_limits<int32_t>::max()) + 1) break;  // saturates below
    }
    if (bNegative) nValue = -nValue;
    if (nValue > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
    if (nValue < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(nValue);
}

}  // namespace orvi
