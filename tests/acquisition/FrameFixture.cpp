#include "acquisition/FrameFixture.h"

#include "acquisition/LibraryDispatch.h"
#include "app/EventLog.h"
#include "app/Profile.h"
#include "imaging/RawFile.h"
#include "usbio/HidBackend.h"

#include <filesystem>

namespace orvi::test {

void FrameFixture::SetUp() {
    m_strIni = m_dir.file("ORVI2.ini");
    m_strImageDir = m_dir.dir() + "images/";
    m_strCalDir = m_dir.dir() + "cal/";
    std::filesystem::create_directories(m_strImageDir);
    std::filesystem::create_directories(m_strCalDir);
    const std::string strSide = std::to_string(kSide);
    WriteFile(m_strIni,
              "[CONFIG]\n"
              "IMAGE_PATH=" +
                  m_strImageDir +
                  "\n"
                  "CAL_PATH=" +
                  m_strCalDir +
                  "\n"
                  "IMAGE_NAME=IMAGE.RAW\n"
                  "WRITE_LOG=1\n"
                  "IMAGE_WIDTH=" +
                  strSide +
                  "\n"
                  "IMAGE_HEIGHT=" +
                  strSide +
                  "\n"
                  "EXT_TRIGGER=0\n"
                  "EXP_DELAY=0\n"
                  "COM_NAME_1=SIMCOM1\n"
                  "ADAPTER_NAME_1=Simulated GigE Adapter 1\n"
                  "COM_NAME_2=SIMCOM2\n"
                  "ADAPTER_NAME_2=Simulated GigE Adapter 2\n"
                  "[SIMULATOR]\n"
                  "FRAME_WIDTH=" +
                  strSide +
                  "\n"
                  "FRAME_HEIGHT=" +
                  strSide + "\n");
    SetLogPath(m_dir.file(kLogFileName));
}

void FrameFixture::TearDown() {
    m_pFrame.reset();
    UninstallLibraryDispatch();
    if (m_bFakeBus) PelkioSetBackend(nullptr);
    SetLogPath(kLogFileName);
    g_bWriteLog = 0;
}

void FrameFixture::SetConfig(const std::string& strKey, const std::string& strValue) {
    ASSERT_TRUE(WriteProfileText(m_strIni, "CONFIG", strKey, strValue));
}

void FrameFixture::SetSim(const std::string& strKey, const std::string& strValue) {
    ASSERT_TRUE(WriteProfileText(m_strIni, "SIMULATOR", strKey, strValue));
}

void FrameFixture::Create(bool bFakeBus) {
    m_bFakeBus = bFakeBus;
    CPelkioApi inner;
    if (bFakeBus) {
        PelkioSetBackend(&m_bus);
        m_bus.SetWaitHook([this](uint32_t nMs) { m_clock.sleep_ms(nMs); });
        inner = PelkioExports();
        // The fake bus's traffic is on its wire; calls are recorded as well.
    }
    PelkioRecorder* pRec = &m_rec;
    if (!bFakeBus) inner = m_rec.Api();
    // Every call is noted with its time; with the fake bus the recorder keeps
    // only the call lines (the answers come from the real library).
    CPelkioApi api;
    CPelkioApi rec = m_rec.Api();
    auto note = [this, pRec] {
        while (m_callTimes.size() < pRec->calls.size()) m_callTimes.push_back(m_clock.now());
    };
    api.InitBoard = [=] {
        int32_t n = inner.InitBoard();
        if (bFakeBus) pRec->calls.push_back("InitBoard");
        note();
        return n;
    };
    api.PortConfigureEx = [=](int32_t b, int32_t p1, int32_t p2, int32_t p3, int32_t p4, int32_t p5) {
        int32_t r = inner.PortConfigureEx(b, p1, p2, p3, p4, p5);
        if (bFakeBus) rec.PortConfigureEx(b, p1, p2, p3, p4, p5);
        note();
        return r;
    };
    api.PortReadEx = [=](int32_t b, uint8_t* o1, uint8_t* o2, uint8_t* o3, uint8_t* o4, uint8_t* o5) {
        int32_t r = inner.PortReadEx(b, o1, o2, o3, o4, o5);
        if (bFakeBus) pRec->calls.push_back("PortReadEx(" + std::to_string(b) + ")");
        note();
        return r;
    };
    api.PortWriteEx = [=](int32_t b, int32_t d1, int32_t d2, int32_t d3, int32_t d4) {
        int32_t r = inner.PortWriteEx(b, d1, d2, d3, d4);
        if (bFakeBus) rec.PortWriteEx(b, d1, d2, d3, d4);
        note();
        return r;
    };

    CreateWith(api);
}

void FrameFixture::CreateWith(CPelkioApi api) {
    m_pFrame = std::make_unique<CMainFrame>(m_app, m_ui, m_clock, std::move(api));
    ASSERT_EQ(m_pFrame->OnCreate(m_dir.dir()), CMainFrame::CreateResult::Ok);
    m_app.m_strProgramDir = m_dir.dir();
    ASSERT_TRUE(m_app.m_imageStore.Initialize(m_app));
    ASSERT_TRUE(m_pFrame->AttachImageStore());
}

void FrameFixture::Connect() {
    m_pFrame->OnConnect();
    ASSERT_EQ(m_ui.texts(), std::vector<std::string>{});
    ASSERT_NE(m_pFrame->Detector(), 0u);
}

void FrameFixture::Start(bool bFakeBus) {
    ASSERT_NO_FATAL_FAILURE(Create(bFakeBus));
    ASSERT_NO_FATAL_FAILURE(Connect());
    // The parameter block read after Connect arrives; the story starts at 1 s.
    m_clock.advance_to(1000);
    ClearBoard();
    m_ui.status.clear();
}

void FrameFixture::Acquire() {
    m_nT0 = m_clock.now();
    m_pFrame->OnAcquisition();
}

std::vector<uint64_t> FrameFixture::Since(const std::string& strText) const {
    std::vector<uint64_t> times;
    for (uint64_t t : TimesOf(strText))
        if (t >= m_nT0) times.push_back(t - m_nT0);
    return times;
}

std::vector<std::string> FrameFixture::Log() const {
    std::vector<std::string> lines;
    const std::string strAll = ReadFile(LogPath());
    size_t nPos = 0;
    while (nPos < strAll.size()) {
        size_t nEnd = strAll.find('\n', nPos);
        if (nEnd == std::string::npos) nEnd = strAll.size();
        const std::string strLine = strAll.substr(nPos, nEnd - nPos);
        nPos = nEnd + 1;
        const size_t nOpen = strLine.find('[');
        const size_t nClose = strLine.find(" ms] ");
        if (nOpen == std::string::npos || nClose == std::string::npos) continue;
        const int64_t nMs = std::stoll(strLine.substr(nOpen + 1, nClose - nOpen - 1));
        lines.push_back(std::to_string(nMs) + " " + strLine.substr(nClose + 5));
    }
    return lines;
}

std::vector<uint64_t> FrameFixture::TimesOf(const std::string& strText) const {
    std::vector<uint64_t> times;
    for (const std::string& strLine : Log()) {
        const size_t nSpace = strLine.find(' ');
        if (strLine.compare(nSpace + 1, std::string::npos, strText) == 0)
            times.push_back(std::stoull(strLine.substr(0, nSpace)));
    }
    return times;
}

std::vector<std::string> FrameFixture::BoardCalls() const {
    std::vector<std::string> v;
    for (size_t i = m_nCallsCleared; i < m_rec.calls.size(); ++i)
        v.push_back(std::to_string((i < m_callTimes.size() ? m_callTimes[i] : 0) - m_nT0) + " " + m_rec.calls[i]);
    return v;
}

std::vector<std::string> FrameFixture::BoardWrites() const {
    std::vector<std::string> v;
    for (const std::string& s : BoardCalls())
        if (s.find("PortWriteEx") != std::string::npos) v.push_back(s);
    return v;
}

void FrameFixture::ClearBoard() { m_nCallsCleared = m_rec.calls.size(); }

void FrameFixture::FireAt(uint64_t nTimeMs) {
    m_clock.post(static_cast<uint32_t>(nTimeMs - m_clock.now()),
                 [this] { AcquisitionSim_FireXray(m_pFrame->Detector()); });
}

void FrameFixture::TakeBrightAndBpm() {
    CCalibration& dlg = m_pFrame->CalibrationDialog();
    m_pFrame->OnMakeCalibration();
    m_nT0 = m_clock.now();
    dlg.OnGetBright();
    FireAt(m_nT0 + 600);
    RunTo(m_nT0 + 5000);
    dlg.OnMakeBpm();
}

std::vector<uint16_t> FrameFixture::ReadPixels(const std::string& strPath) const {
    const std::string strBytes = ReadFile(strPath);
    std::vector<uint16_t> v(strBytes.size() / 2);
    for (size_t i = 0; i < v.size(); ++i)
        v[i] = static_cast<uint16_t>(static_cast<uint8_t>(strBytes[2 * i]) |
                                     (static_cast<uint8_t>(strBytes[2 * i + 1]) << 8));
    return v;
}

}  // namespace orvi::test
