#pragma once
// One simulated detector behind an open handle: its registers and the
// library's copy of them, the exposure sequence as a small state machine on
// the library's schedule, the simulated generator, the pixel model and the
// frame buffer handed to the image callback.
//
// States: Idle; Preparing (the panel clears after an arming); Armed (ready for
// X-ray, the exposure window runs); Busy (a frame is on its way). Requests
// that come while Busy wait in order and start when the frame is read out.
#include "orviacquire/ORVIAcquireLib.h"
#include "orviacquire/ParameterBlock.h"
#include "orviacquire/PixelModel.h"
#include "orviacquire/SimSettings.h"

#include <cstdint>
#include <deque>
#include <memory>
#include <string>

namespace orvi::sim {

enum class Correction { Gain, Defect, Offset2, AutoOffset };

class CSimDetector : public std::enable_shared_from_this<CSimDetector> {
public:
    CSimDetector(ORVIAcqHandle h, int32_t nIndex, const SimSettings& settings, std::string strPort,
                 std::string strAdapter);

    ORVIAcqHandle Handle() const { return m_h; }
    int32_t Index() const { return m_nIndex; }
    const std::string& Port() const { return m_strPort; }
    const std::string& Adapter() const { return m_strAdapter; }
    bool LinkUp() const { return m_bLinkUp; }

    // Ends the detector: nothing of it runs any more.
    void Close();

    void SetComCallback(ORVIAcqComCallback fn, void* pUser) { m_com = {fn, pUser}; }
    void SetAecCallback(ORVIAcqAecCallback fn, void* pUser) { m_aec = {fn, pUser}; }
    void SetImageCallback(ORVIAcqImageCallback fn, void* pUser) { m_image = {fn, pUser}; }

    // Parameters. Staging is the library's; the three transfers need the link.
    ParameterBlock& Staged(uint32_t nField) {
        m_nStagedMask |= nField;
        return m_staged;
    }
    bool RequestRead();
    bool UpdateAll();
    bool Reset();
    const ParameterBlock& Values() const { return m_library; }
    const ParameterBlock& Registers() const { return m_registers; }

    // Acquisition requests: 0 or ORVIACQ_ERR_LINK / ORVIACQ_ERR_BUSY.
    int32_t StartAecReady();
    int32_t StartFrame(bool bClear, uint16_t nDelayMs);

    int32_t SetCorrection(Correction kind, bool bOn);

    // Simulator controls.
    int32_t FireXray();
    // As AUTO_FIRE_MS, for the armings that follow.
    void SetAutoFire(int32_t nMs) { m_nAutoFireMs = nMs; }
    // Milliseconds until the generator fires by itself, -1 when it is not counting.
    int32_t XrayDue();
    void SetObjectIn(bool bIn) { m_bObjectIn = bIn; }
    void SetDose(int32_t nDose) { m_nDose = nDose; }
    int32_t SendCorruptPacket();
    void DropLink();
    const CPixelModel& Model() const { return m_model; }

private:
    enum class State { Idle, Preparing, Armed, Busy };
    struct Request {
        bool bArm = false;
        bool bClear = false;
        uint16_t nDelayMs = 0;
    };
    template <typename Fn>
    struct Callback {
        Fn fn = nullptr;
        void* pUser = nullptr;
    };

    static constexpr uint64_t kByHand = UINT64_MAX;  // token of a shot fired by hand
    static constexpr size_t kMaxWaiting = 16;

    int32_t Submit(const Request& r);
    void Begin(const Request& r);
    void StartGenerator();
    void After(uint32_t nDelayMs, void (CSimDetector::*fnStep)(uint64_t), uint64_t nArg);

    // Steps on the schedule; a step whose token is stale does nothing.
    void OnEnabled(uint64_t nArmGen);
    void OnWindowEnd(uint64_t nArmGen);
    void OnShot(uint64_t nShotGen);
    void OnReadout(uint64_t nFrameGen);
    void OnReport(uint64_t nState);
    void OnPacket(uint64_t bCorrupt);
    void OnAck(uint64_t);

    const ORVIAcqHandle m_h;
    const int32_t m_nIndex;
    const SimSettings m_settings;
    const std::string m_strPort, m_strAdapter;
    bool m_bOpen = true;
    bool m_bLinkUp = true;

    Callback<ORVIAcqComCallback> m_com;
    Callback<ORVIAcqAecCallback> m_aec;
    Callback<ORVIAcqImageCallback> m_image;

    ParameterBlock m_registers;  // the detector's own values
    ParameterBlock m_library;    // the getters' values: the last good packet
    ParameterBlock m_staged;
    uint32_t m_nStagedMask = 0;
    int32_t m_nCorruptLeft;

    State m_state = State::Idle;
    uint64_t m_nArmGen = 0;      // changes whenever an arming starts or ends
    uint64_t m_nShotGen = 0;     // changes whenever the generator is started, fires or is stopped
    int32_t m_nAutoFireMs;       // AUTO_FIRE_MS, or what AcquisitionSim_SetAutoFire set
    int64_t m_nShotDue = 0;      // when the generator started as m_nShotDueGen fires
    uint64_t m_nShotDueGen = 0;  // 0: it is not counting
    uint64_t m_nFrameGen = 0;    // changes when a frame is lost with the link
    bool m_bShotHeld = false;    // X-ray arrived while the panel cleared
    std::deque<Request> m_waiting;
    FrameSetup m_frame;  // the frame being read out

    bool m_bObjectIn;
    int32_t m_nDose;
    bool m_bGain = false, m_bDefect = false, m_bOffset2 = false, m_bAutoOffset = false;

    CPixelModel m_model;
    std::unique_ptr<uint16_t[]> m_pBuffer;  // ORVIACQ_FRAME_PIXELS, made at the first frame
    uint64_t m_nFrames = 0;
};

}  // namespace orvi::sim
