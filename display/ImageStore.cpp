#include "display/ImageStore.h"

#include "app/AppValues.h"
#include "app/ConfigKeys.h"

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
    if (m_nWidth < 1 || m_nWidth > cfg::kMaxImageSide || m_nHeight < 1 ||
        m_nHeight > cfg::kMaxImageSide)
        return false;  // an impossible size gets no buffers; the caller refuses to start
    size_t n = PixelCount();
    m_pDisplay.assign(n, kInitialPixel);
    m_pFrame1.assign(n, kInitialPixel);
    m_pFrame2.assign(n, kInitialPixel);
    m_nDispWidth = m_nWidth;
    m_nDispHeight = m_nHeight;
    m_bShowSecond = false;
    return true;
}

void CImageStore::SetFrameLinks(const uint32_t* phDetectorB, const uint16_t* pDarkFrame,
                                size_t nDarkPixels) {
    m_phDetectorB = phDetectorB;
    m_pDarkFrame = pDarkFrame;
    m_nDarkPixels = nDarkPixels;
}

bool CImageStore::StoreFrame(uint32_t nHandle, const uint16_t* pPixels) {
    if (m_pDisplay.empty() || pPixels == nullptr) return false;
    m_nDispWidth = m_nWidth;
    m_nDispHeight = m_nHeight;
    size_t n = PixelCount();
    if (m_phDetectorB != nullptr && *m_phDetectorB != 0 && *m_phDetectorB == nHandle) {
        std::memcpy(m_pFrame2.data(), pPixels, n * sizeof(uint16_t));
        return true;
    }
    std::memcpy(m_pFrame1.data(), pPixels, n * sizeof(uint16_t));
    m_bShowSecond = false;
    if (m_pView != nullptr) {
        std::memcpy(m_pDisplay.data(), m_pFrame1.data(), n * sizeof(uint16_t));
        m_bNewImage = 1;
        m_pView->InvalidateView();
    }
    return true;
}

bool CImageStore::ShowSelected() {
    if (m_pDisplay.empty()) return false;
    m_nDispWidth = m_nWidth;
    m_nDispHeight = m_nHeight;
    const std::vector<uint16_t>& src = m_bShowSecond ? m_pFrame2 : m_pFrame1;
    std::memcpy(m_pDisplay.data(), src.data(), PixelCount() * sizeof(uint16_t));
    if (m_pView != nullptr) {
        m_bNewImage = 1;
        m_pView->InvalidateView();
    }
    return true;
}

uint16_t CImageStore::GetOriginalValue(int32_t nColumn, int32_t nRow) const {
    if (nColumn < 0 || nColumn >= m_nDispWidth || nRow < 0 || nRow >= m_nDispHeight ||
        m_pDisplay.empty())
        return 0;
    size_t i = static_cast<size_t>(nRow) * static_cast<size_t>(m_nDispWidth) +
               static_cast<size_t>(nColumn);
    uint32_t nValue = m_pDisplay[i];
    // The dark frame is indexed as the display is (row x display width +
    // column), and only inside its own buffer.
    if (m_pDarkFrame != nullptr && i < m_nDarkPixels) nValue += m_pDarkFrame[i];
    return static_cast<uint16_t>(nValue);
}

}  // namespace orvi
