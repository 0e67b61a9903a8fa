#include "orviacquire/SimFixture.h"

#include "app/Profile.h"

#include <cstring>

namespace orvi::test {

void SimFixture::SetUp() {
    m_strIni = m_dir.file("ORVI2.ini");
    // Small panels keep the suite fast; the tests where the size matters set it.
    WriteFile(m_strIni, "[CONFIG]\nIMAGE_WIDTH=3072\n[SIMULATOR]\nFRAME_WIDTH=256\nFRAME_HEIGHT=256\n");
    ASSERT_EQ(InstallLibraryDispatch(m_clock), ORVIACQ_OK);
}

void SimFixture::TearDown() {
    for (const auto& [h, label] : m_labels) Acquisition_Close(h);
    m_labels.clear();
    EXPECT_EQ(UninstallLibraryDispatch(), ORVIACQ_OK);
}

void SimFixture::SetKey(const std::string& strKey, const std::string& strValue) {
    ASSERT_TRUE(WriteProfileText(m_strIni, "SIMULATOR", strKey, strValue));
}

ORVIAcqOpenRecord SimFixture::Record(int32_t nIndex) const {
    ORVIAcqOpenRecord r{};
    r.nDetectorIndex = nIndex;
    std::strncpy(r.szIniPath, m_strIni.c_str(), ORVIACQ_TEXT_SIZE - 1);
    std::strncpy(r.szProgramFolder, m_dir.dir().c_str(), ORVIACQ_TEXT_SIZE - 1);
    return r;
}

int32_t SimFixture::TryOpen(int32_t nIndex, const char* szPort, const char* szAdapter, ORVIAcqHandle* pHandle) {
    int32_t nResult = Acquisition_Initialize(Record(nIndex), szPort, szAdapter, pHandle);
    if (nResult == ORVIACQ_OK) {
        m_labels.insert_or_assign(*pHandle, std::string(1, nIndex == 0 ? 'A' : 'B'));
        Acquisition_SetComCallback(*pHandle, &OnCom, this);
        Acquisition_SetAecCallback(*pHandle, &OnAec, this);
        Acquisition_GigeAdapterObjectSetImageCallback(*pHandle, &OnImage, this);
    }
    return nResult;
}

ORVIAcqHandle SimFixture::Open(int32_t nIndex, const char* szPort, const char* szAdapter) {
    ORVIAcqHandle h = 0;
    EXPECT_EQ(TryOpen(nIndex, szPort, szAdapter, &h), ORVIACQ_OK);
    EXPECT_NE(h, 0u);
    return h;
}

void SimFixture::Close(ORVIAcqHandle h) {
    EXPECT_EQ(Acquisition_Close(h), ORVIACQ_OK);
    m_labels.erase(h);
}

std::vector<std::string> SimFixture::Take() {
    std::vector<std::string> v;
    v.swap(m_events);
    return v;
}

void SimFixture::OnCom(ORVIAcqHandle h, int32_t, const uint8_t* pBytes, int32_t nCount, void* pUser) {
    auto* self = static_cast<SimFixture*>(pUser);
    self->m_events.push_back(std::to_string(self->m_clock.now()) + " " + self->m_labels[h] + " com " +
                             std::to_string(nCount));
    self->m_packets.emplace_back(pBytes, pBytes + nCount);
}

void SimFixture::OnAec(ORVIAcqHandle h, int32_t nState, void* pUser) {
    auto* self = static_cast<SimFixture*>(pUser);
    self->m_events.push_back(std::to_string(self->m_clock.now()) + " " + self->m_labels[h] + " aec " +
                             std::to_string(nState));
}

void SimFixture::OnImage(ORVIAcqHandle h, uint16_t* pPixels, void* pUser) {
    auto* self = static_cast<SimFixture*>(pUser);
    self->m_events.push_back(std::to_string(self->m_clock.now()) + " " + self->m_labels[h] + " image");
    ++self->m_nImages;
    self->m_pLastBuffer = pPixels;
    if (self->m_bKeepFrames) {
        int32_t w = 0, hgt = 0;
        AcquisitionSim_GetFrameSize(h, &w, &hgt);
        self->m_lastFrame.assign(pPixels, pPixels + static_cast<size_t>(w) * static_cast<size_t>(hgt));
    }
    if (self->m_onImage) self->m_onImage(h, pPixels);
}

double MeanOf(const std::vector<uint16_t>& frame, int32_t nStride, int32_t x0, int32_t y0, int32_t w, int32_t h) {
    double fSum = 0.0;
    for (int32_t y = y0; y < y0 + h; ++y)
        for (int32_t x = x0; x < x0 + w; ++x)
            fSum += frame[static_cast<size_t>(y) * static_cast<size_t>(nStride) + static_cast<size_t>(x)];
    return fSum / (static_cast<double>(w) * h);
}

}  // namespace orvi::test
