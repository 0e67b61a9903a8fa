#pragma once
// A host for the acquisition library in virtual time, as the program is one:
// the library's dispatcher on a CVirtualClock, a configuration file with a
// [SIMULATOR] section, and callbacks that record what arrives and when.
#include "acquisition/LibraryDispatch.h"
#include "acquisition/VirtualClock.h"
#include "orviacquire/ORVIAcquireLib.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace orvi::test {

inline constexpr const char* kPortA = "SIMCOM1";
inline constexpr const char* kPortB = "SIMCOM2";
inline constexpr const char* kAdapterA = "Simulated GigE Adapter 1";
inline constexpr const char* kAdapterB = "Simulated GigE Adapter 2";

class SimFixture : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Sets a [SIMULATOR] key for the detectors opened afterwards.
    void SetKey(const std::string& strKey, const std::string& strValue);

    ORVIAcqOpenRecord Record(int32_t nIndex) const;
    // Opens a detector and registers the recording callbacks; fails the test
    // when it does not open.
    ORVIAcqHandle Open(int32_t nIndex = 0, const char* szPort = kPortA, const char* szAdapter = kAdapterA);
    int32_t TryOpen(int32_t nIndex, const char* szPort, const char* szAdapter, ORVIAcqHandle* pHandle);
    void Close(ORVIAcqHandle h);

    // Callbacks so far, each as "<ms> <label> <what>": "aec 1", "aec 999",
    // "image", "com <count>".
    std::vector<std::string> Take();
    // The last frame delivered (width x height pixels), kept when m_bKeepFrames.
    const std::vector<uint16_t>& LastFrame() const { return m_lastFrame; }

    static void OnCom(ORVIAcqHandle h, int32_t nUnused, const uint8_t* pBytes, int32_t nCount, void* pUser);
    static void OnAec(ORVIAcqHandle h, int32_t nState, void* pUser);
    static void OnImage(ORVIAcqHandle h, uint16_t* pPixels, void* pUser);

    CVirtualClock m_clock;
    TempDir m_dir;
    std::string m_strIni;
    std::map<ORVIAcqHandle, std::string> m_labels;  // "A", "B"
    std::vector<std::string> m_events;
    std::vector<std::vector<uint8_t>> m_packets;
    bool m_bKeepFrames = false;
    std::vector<uint16_t> m_lastFrame;
    uint16_t* m_pLastBuffer = nullptr;
    int32_t m_nImages = 0;
    // Run inside the image callback after it was recorded (the host's reaction).
    std::function<void(ORVIAcqHandle, uint16_t*)> m_onImage;
};

// Mean of a rectangle of a frame with the given row stride.
double MeanOf(const std::vector<uint16_t>& frame, int32_t nStride, int32_t x0, int32_t y0, int32_t w, int32_t h);

}  // namespace orvi::test
