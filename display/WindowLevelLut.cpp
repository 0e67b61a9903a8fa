#include "display/WindowLevelLut.h"

#include "acquisition/UiPort.h"
#include "imaging/Parallel.h"

#include <cmath>
#include <new>

namespace orvi {

void BuildWindowLevelTable(float fWidth, float fLevel, unsigned char* pTable) {
    const float fLow = fLevel - fWidth * 0.5f;
    const float fHigh = fLevel + fWidth * 0.5f;
    for (size_t i = 0; i < kLutEntries; ++i) {
        const float x = float(i);
        if (x >= fHigh) {
            pTable[i] = 255;
        } else if (x < fLow) {
            pTable[i] = 0;
        } else {
            const float fProduct = (x - fLow) * 255.0f;
            const float fValue = fProduct / fWidth;
            pTable[i] = static_cast<unsigned char>(static_cast<int32_t>(fValue));
        }
    }
}

namespace {

unsigned char* DefaultAllocate(size_t nBytes) { return new (std::nothrow) unsigned char[nBytes]; }

}  // namespace

CWLLUT::CWLLUT(IUiPort* pUi, TableAllocator fnAllocate)
    : m_pUi(pUi), m_fnAllocate(fnAllocate ? fnAllocate : &DefaultAllocate) {
    if (!ObtainTable()) return;
    BuildWindowLevelTable(m_fWidth, m_fLevel, m_pTable);
    m_bChanged = true;
}

CWLLUT::~CWLLUT() { delete[] m_pTable; }

bool CWLLUT::ObtainTable() {
    if (m_pTable) return true;
    m_pTable = m_fnAllocate(kLutEntries);
    if (m_pTable) return true;
    if (m_pUi) m_pUi->MessageBox(kMemoryLess, kMemoryLessCaption, MessageIcon::Warning);
    return false;
}

bool CWLLUT::SetWindowLevel(int nWidth, int nLevel) {
    const float fWidth = float(nWidth);
    const float fLevel = float(nLevel);
    if (std::fabs(fLevel - m_fLevel) <= 1.0f && std::fabs(fWidth - m_fWidth) <= 1.0f) return false;
    m_fWidth = fWidth;
    m_fLevel = fLevel;
    m_nMaxIn = kLutMaxIn;
    m_nMaxOut = kLutMaxOut;
    if (!ObtainTable()) return false;
    BuildWindowLevelTable(m_fWidth, m_fLevel, m_pTable);
    if (m_bInvert) InvertTable();
    m_bChanged = true;
    return true;
}

void CWLLUT::SetInvert(bool bInvert) {
    if (bInvert == m_bInvert) return;
    m_bInvert = bInvert;
    if (!m_pTable) return;
    InvertTable();
    m_bChanged = true;
}

void CWLLUT::InvertTable() {
    for (size_t i = 0; i < kLutEntries; ++i) m_pTable[i] = static_cast<unsigned char>(255 - m_pTable[i]);
}

void CWLLUT::Convert(const uint16_t* pSrc, size_t nWidth, size_t nHeight, size_t nSrcStride, uint8_t* pDst,
                     size_t nDstStride) const {
    if (!m_pTable) return;
    const unsigned char* pTable = m_pTable;
    RunRanges(nHeight, WorkerCount(nWidth * nHeight, size_t{1} << 20), [&](size_t b, size_t e) {
        for (size_t r = b; r < e; ++r) {
            const uint16_t* s = pSrc + r * nSrcStride;
            uint8_t* d = pDst + r * nDstStride;
            for (size_t x = 0; x < nWidth; ++x) d[x] = pTable[s[x] & kLutMaxIn];
        }
    });
}

}  // namespace orvi
