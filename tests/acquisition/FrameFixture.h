#pragma once
// A whole station in virtual time: the controller (CMainFrame) with the real
// simulated detector on a CVirtualClock, the board through a recording table
// (or the real libPelkio.so over the fake bus), a recording UI port, and real
// files in a temporary program folder.
#include "acquisition/MainFrame.h"
#include "acquisition/VirtualClock.h"
#include "support/PelkioRecorder.h"
#include "support/TestSupport.h"
#include "usbio/sim/SimHidBus.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace orvi::test {

inline constexpr int32_t kSide = 256;  // small frames keep the suite fast

class FrameFixture : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Keys of ORVI2.ini before Create / Connect.
    void SetConfig(const std::string& strKey, const std::string& strValue);
    void SetSim(const std::string& strKey, const std::string& strValue);

    // Creates the frame as the application does. With bFakeBus the real
    // libPelkio.so runs over m_bus (add boards first); otherwise m_rec answers
    // with m_rec.nBoards boards.
    void Create(bool bFakeBus = false);
    // Creates the frame on this board library as it is, unrecorded (the real
    // libPelkio.so as the program loads it: PelkioExports()).
    void CreateWith(CPelkioApi api);
    // Connect with the configured names; no message box may appear.
    void Connect();
    // Create and Connect, then forget the calls and lines so far.
    void Start(bool bFakeBus = false);

    // OnAcquisition, noting its time as t = 0 for Since() and BoardCalls().
    void Acquire();
    // Times of a log line relative to the last Acquire().
    std::vector<uint64_t> Since(const std::string& strText) const;

    // The log as "<elapsed ms> <text>" lines, and helpers on it.
    std::vector<std::string> Log() const;
    std::vector<uint64_t> TimesOf(const std::string& strText) const;
    bool Logged(const std::string& strText) const { return !TimesOf(strText).empty(); }

    // Board calls as "<ms since Acquire> <call>" since the last ClearBoard().
    std::vector<std::string> BoardCalls() const;
    std::vector<std::string> BoardWrites() const;  // PortWriteEx lines only
    void ClearBoard();

    // X-ray from the simulated generator at the given time.
    void FireAt(uint64_t nTimeMs);
    // Runs the clock to the given time.
    void RunTo(uint64_t nTimeMs) { m_clock.advance_to(nTimeMs); }
    // Through the calibration dialog: GET BRIGHT (its X-ray 600 ms after the
    // press, m_nT0 the press), then MAKE BPM.
    void TakeBrightAndBpm();

    // Files of the image and calibration folders.
    std::vector<std::string> ImageFiles() const { return ListFiles(m_strImageDir); }
    std::vector<std::string> CalFiles() const { return ListFiles(m_strCalDir); }
    std::vector<uint16_t> ReadPixels(const std::string& strPath) const;

    CMainFrame& Frame() { return *m_pFrame; }
    uint32_t Handle() const { return m_pFrame->Detector(); }

    TempDir m_dir;
    std::string m_strIni;
    std::string m_strImageDir;
    std::string m_strCalDir;
    CVirtualClock m_clock;
    RecordingUi m_ui;
    PelkioRecorder m_rec;
    pelkio::sim::CSimHidBus m_bus;
    CAppValues m_app;
    std::unique_ptr<CMainFrame> m_pFrame;

private:
    std::vector<uint64_t> m_callTimes;
    size_t m_nCallsCleared = 0;
    bool m_bFakeBus = false;

protected:
    uint64_t m_nT0 = 0;  // t = 0 of Since() and BoardCalls()
};

}  // namespace orvi::test
