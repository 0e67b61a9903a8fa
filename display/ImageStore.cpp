#include "display/ImageStore.h"

#include "app/ConfigKeys.h"
#include "display/AppValues.h"

#include <algorithm>
#include <cstring>

namespace orvi {

size_t CImageStore::PixelCount() const {
    if (m_nWidth <= 0 || m_nHeight <= 0) return 0;
    return static_cast<size_t>(m_nWidth) * static_cast<size_t>(m_nHeight);
}

bool CImageStore::Initialize(CAppValues& app) {
    app.m_strConfigPath = app.m_strProgramDir + cfg::kIniFileName;
    cfg::CStoreConfig c = cfg::ReadStoreConfig(app.m_strConfigPath);
    m_nWidth = c.nImageWidth;
    m_nHeight = c.nImageHeight;
    m_strDetectorName2 = c.strDetectorName2;
    m_strImageName = c.strImageName;
    m_strImagePath = c.strImagePath;
    m_strComName1 = c.strComName1;
    m_strComName2 = c.strComName2;
    m_strAdapterName1 = c.strAdapterName1;
    m_strAdapterName2 = c.strAdapterName2;
    app.m_strExpDelay = c.strExpDelay;
    app.m_strIntegrate = c.strIntegrate;

    m_bNewImage = 1;
    m_pDisplay.clear();
    m_pFrame1.clear();
    m_pFrame2.clear();
    if (m_nWidth < 1 || m_nWidth > cfg::kMaxImageSide || m_nHeight < 1 || m_nHeight > cfg::kMaxImageSide)
        return false;  // an impossible size gets no buffers; the caller refuses to start
    size_t n = PixelCount();
    m_pDisplay.assign(n, kInitialPixel);
    m_pFrame1.assign(n, kInitialPixel);
    m_pFrame2.assign(n, kInitialPixel);
    m_shape1 = m_shape2 = CFrameShape{m_nWidth, m_nHeight, 0, 0};
    ShowShape(m_shape1);
    m_bShowSecond = false;
    return true;
}

void CImageStore::SetFrameLinks(const uint32_t* phDetectorB, const uint16_t* pDarkFrame, size_t nDarkPixels) {
    m_phDetectorB = phDetectorB;
    m_pDarkFrame = pDarkFrame;
    m_nDarkPixels = nDarkPixels;
}

void CImageStore::ShowShape(const CFrameShape& shape) {
    m_nDispWidth = shape.nWidth;
    m_nDispHeight = shape.nHeight;
    m_nDispLeft = shape.nLeft;
    m_nDispTop = shape.nTop;
}

bool CImageStore::StoreFrame(uint32_t nHandle, const uint16_t* pPixels) {
    return Store(nHandle, pPixels, CFrameShape{m_nWidth, m_nHeight, 0, 0});
}

bool CImageStore::StoreCutFrame(uint32_t nHandle, const uint16_t* pPixels, int32_t nWidth, int32_t nHeight,
                                int32_t nLeft, int32_t nTop) {
    if (nWidth < 1 || nHeight < 1 || nLeft < 0 || nTop < 0 || int64_t{nLeft} + nWidth > m_nWidth ||
        int64_t{nTop} + nHeight > m_nHeight)
        return false;
    return Store(nHandle, pPixels, CFrameShape{nWidth, nHeight, nLeft, nTop});
}

bool CImageStore::Store(uint32_t nHandle, const uint16_t* pPixels, const CFrameShape& shape) {
    if (m_pDisplay.empty() || pPixels == nullptr) return false;
    const size_t n = static_cast<size_t>(shape.nWidth) * static_cast<size_t>(shape.nHeight);
    if (m_phDetectorB != nullptr && *m_phDetectorB != 0 && *m_phDetectorB == nHandle) {
        std::memcpy(m_pFrame2.data(), pPixels, n * sizeof(uint16_t));
        m_shape2 = shape;
        return true;
    }
    std::memcpy(m_pFrame1.data(), pPixels, n * sizeof(uint16_t));
    m_shape1 = shape;
    m_bShowSecond = false;
    // The display size follows the frame the display holds.
    if (m_pView != nullptr) {
        std::memcpy(m_pDisplay.data(), m_pFrame1.data(), n * sizeof(uint16_t));
        ShowShape(shape);
        m_bNewImage = 1;
        m_pView->InvalidateView();
    }
    return true;
}

bool CImageStore::ShowSelected() {
    if (m_pDisplay.empty()) return false;
    // A frame buffer never stored into holds a full frame.
    CFrameShape shape = m_bShowSecond ? m_shape2 : m_shape1;
    if (shape.nWidth <= 0 || shape.nHeight <= 0) shape = CFrameShape{m_nWidth, m_nHeight, 0, 0};
    const std::vector<uint16_t>& src = m_bShowSecond ? m_pFrame2 : m_pFrame1;
    ShowShape(shape);
    const size_t n = std::min(
        {static_cast<size_t>(shape.nWidth) * static_cast<size_t>(shape.nHeight), src.size(), m_pDisplay.size()});
    std::memcpy(m_pDisplay.data(), src.data(), n * sizeof(uint16_t));
    if (m_pView != nullptr) {
        m_bNewImage = 1;
        m_pView->InvalidateView();
    }
    return true;
}

uint16_t CImageStore::GetOriginalValue(int32_t nColumn, int32_t nRow) const {
    if (nColumn < 0 || nColumn >= m_nDispWidth || nRow < 0 || nRow >= m_nDispHeight || m_pDisplay.empty()) return 0;
    const size_t i = static_cast<size_t>(nRow) * static_cast<size_t>(m_nDispWidth) + static_cast<size_t>(nColumn);
    uint32_t nValue = m_pDisplay[i];
    // The dark pixel under the same detector pixel: the full frame's row and
    // column (a cut image starts m_nDispTop rows and m_nDispLeft columns in),
    // read only inside the dark buffer.
    const size_t nDark = static_cast<size_t>(nRow + m_nDispTop) * static_cast<size_t>(m_nWidth) +
                         static_cast<size_t>(nColumn + m_nDispLeft);
    if (m_pDarkFrame != nullptr && nDark < m_nDarkPixels) nValue += m_pDarkFrame[nDark];
    return static_cast<uint16_t>(nValue);
}

}  // namespace orvi
