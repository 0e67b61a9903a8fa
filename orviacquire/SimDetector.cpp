#include "orviacquire/SimDetector.h"

#include "orviacquire/Schedule.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace orvi::sim {
namespace {

// The simulated radiographer fires this long after the arming, less the
// exposure delay the host pushed: half a second after a host that lights its
// ready lamp at 12000 - AecExpTime.
constexpr int32_t kGeneratorBaseMs = 12500;

}  // namespace

CSimDetector::CSimDetector(ORVIAcqHandle h, int32_t nIndex, const SimSettings& settings, std::string strPort,
                           std::string strAdapter)
    : m_h(h),
      m_nIndex(nIndex),
      m_settings(settings),
      m_strPort(std::move(strPort)),
      m_strAdapter(std::move(strAdapter)),
      m_library(m_registers),  // read while connecting
      m_nCorruptLeft(settings.nCorruptPackets),
      m_nAutoFireMs(settings.nAutoFireMs),
      m_bObjectIn(settings.bObjectIn),
      m_nDose(settings.nDose),
      m_model(settings.nSeed, nIndex, settings.nWidth, settings.nHeight) {
    // The factory's serial number: the detector and the seed of its patterns.
    char sz[32];
    std::snprintf(sz, sizeof sz, "SIM%c%08u", nIndex == 0 ? 'A' : 'B', static_cast<unsigned>(settings.nSeed));
    std::copy_n(sz, std::min(std::strlen(sz), m_registers.serial.size()), m_registers.serial.begin());
    m_library = m_registers;
}

void CSimDetector::Close() {
    m_bOpen = false;
    m_bLinkUp = false;
    m_waiting.clear();
    Schedule().Cancel(m_h);
}

void CSimDetector::After(uint32_t nDelayMs, void (CSimDetector::*fnStep)(uint64_t), uint64_t nArg) {
    if (!m_bOpen || !m_bLinkUp) return;
    // The step holds the detector, so a callback that closes it cannot pull it away mid-step.
    Schedule().Post(m_h, nDelayMs, [self = shared_from_this(), fnStep, nArg] { ((*self).*fnStep)(nArg); });
}

// ---- parameters -----------------------------------------------------------

bool CSimDetector::RequestRead() {
    if (!m_bLinkUp) return false;
    After(static_cast<uint32_t>(m_settings.nSerialMs), &CSimDetector::OnPacket, 0);
    return true;
}

bool CSimDetector::UpdateAll() {
    if (!m_bLinkUp) return false;
    CopyFields(m_registers, m_staged, m_nStagedMask);
    m_nStagedMask = 0;
    After(static_cast<uint32_t>(m_settings.nSerialMs), &CSimDetector::OnAck, 0);
    return true;
}

bool CSimDetector::Reset() {
    if (!m_bLinkUp) return false;
    const auto serial = m_registers.serial;
    m_registers = ParameterBlock{};
    m_registers.serial = serial;
    m_nStagedMask = 0;
    After(static_cast<uint32_t>(m_settings.nSerialMs), &CSimDetector::OnPacket, 0);
    return true;
}

int32_t CSimDetector::SendCorruptPacket() {
    if (!m_bLinkUp) return ORVIACQ_ERR_LINK;
    After(static_cast<uint32_t>(m_settings.nSerialMs), &CSimDetector::OnPacket, 1);
    return ORVIACQ_OK;
}

// The detector answers with its registers as they are when it answers. The
// library renews its copy only from a packet whose sum is right.
void CSimDetector::OnPacket(uint64_t bCorrupt) {
    bool bSpoil = bCorrupt != 0;
    if (!bSpoil && m_nCorruptLeft != 0) {
        bSpoil = true;
        if (m_nCorruptLeft > 0) --m_nCorruptLeft;
    }
    const Packet packet = EncodePacket(m_registers, m_nIndex, bSpoil);
    DecodePacket(packet.data(), packet.size(), m_library);
    if (m_com.fn != nullptr) m_com.fn(m_h, 0, packet.data(), static_cast<int32_t>(packet.size()), m_com.pUser);
}

void CSimDetector::OnAck(uint64_t) {
    const AckPacket ack = EncodeAck(m_nIndex);
    if (m_com.fn != nullptr) m_com.fn(m_h, 0, ack.data(), static_cast<int32_t>(ack.size()), m_com.pUser);
}

// ---- acquisition ----------------------------------------------------------

int32_t CSimDetector::StartAecReady() { return Submit(Request{true, false, 0}); }

int32_t CSimDetector::StartFrame(bool bClear, uint16_t nDelayMs) { return Submit(Request{false, bClear, nDelayMs}); }

int32_t CSimDetector::Submit(const Request& r) {
    if (!m_bLinkUp) return ORVIACQ_ERR_LINK;
    if (m_state == State::Busy) {
        if (m_waiting.size() >= kMaxWaiting) return ORVIACQ_ERR_BUSY;
        m_waiting.push_back(r);
        return ORVIACQ_OK;
    }
    Begin(r);
    return ORVIACQ_OK;
}

void CSimDetector::StartGenerator() {
    ++m_nShotGen;
    int32_t nFireMs = m_nAutoFireMs;
    if (nFireMs == 0) return;
    if (nFireMs < 0) nFireMs = std::max(0, kGeneratorBaseMs - int32_t{m_registers.nAecExpTime});
    After(static_cast<uint32_t>(nFireMs), &CSimDetector::OnShot, m_nShotGen);
    m_nShotDue = Schedule().Now() + nFireMs;
    m_nShotDueGen = m_nShotGen;
}

int32_t CSimDetector::XrayDue() {
    // Any later start, shot or stop of the generator changed its count.
    if (!m_bLinkUp || m_nShotDueGen == 0 || m_nShotDueGen != m_nShotGen) return -1;
    return static_cast<int32_t>(std::max<int64_t>(0, m_nShotDue - Schedule().Now()));
}

void CSimDetector::Begin(const Request& r) {
    if (r.bArm) {
        // From idle the generator starts its count; arming again only restarts the window.
        if (m_state == State::Idle) StartGenerator();
        m_state = State::Preparing;
        ++m_nArmGen;
        After(static_cast<uint32_t>(m_settings.nEnableMs), &CSimDetector::OnEnabled, m_nArmGen);
        return;
    }
    // A frame request ends an arming without an exposure.
    if (m_state == State::Armed) After(0, &CSimDetector::OnReport, ORVIACQ_AEC_DISABLED);
    ++m_nArmGen;
    ++m_nShotGen;
    m_bShotHeld = false;
    m_state = State::Busy;
    m_frame = FrameSetup{};
    const uint32_t nWait = (r.bClear ? r.nDelayMs : 0u) + static_cast<uint32_t>(m_settings.nReadoutMs);
    After(nWait, &CSimDetector::OnReadout, m_nFrameGen);
}

void CSimDetector::OnEnabled(uint64_t nArmGen) {
    if (nArmGen != m_nArmGen || m_state != State::Preparing) return;
    m_state = State::Armed;
    if (m_settings.nExposureWindowMs > 0)
        After(static_cast<uint32_t>(m_settings.nExposureWindowMs), &CSimDetector::OnWindowEnd, m_nArmGen);
    if (m_bShotHeld) {
        m_bShotHeld = false;
        After(0, &CSimDetector::OnShot, kByHand);
    }
    if (m_aec.fn != nullptr) m_aec.fn(m_h, ORVIACQ_AEC_ENABLED, m_aec.pUser);
}

void CSimDetector::OnWindowEnd(uint64_t nArmGen) {
    if (nArmGen != m_nArmGen || m_state != State::Armed) return;
    m_state = State::Idle;
    ++m_nArmGen;
    ++m_nShotGen;
    if (m_aec.fn != nullptr) m_aec.fn(m_h, ORVIACQ_AEC_DISABLED, m_aec.pUser);
}

int32_t CSimDetector::FireXray() {
    if (!m_bLinkUp) return ORVIACQ_ERR_LINK;
    if (m_state != State::Armed && m_state != State::Preparing) return 0;
    After(0, &CSimDetector::OnShot, kByHand);
    return 1;
}

void CSimDetector::OnShot(uint64_t nShotGen) {
    if (nShotGen != kByHand && nShotGen != m_nShotGen) return;  // that generator was stopped
    ++m_nShotGen;  // one exposure per generator count; a shot by hand ends the count too
    if (m_state == State::Preparing) {
        m_bShotHeld = true;
        return;
    }
    if (m_state != State::Armed) return;  // nobody ready: the X-ray is lost
    m_state = State::Busy;
    ++m_nArmGen;
    m_frame = FrameSetup{};
    m_frame.bExposure = true;
    m_frame.nDose = m_nDose;
    m_frame.nPga = m_registers.nPga;
    m_frame.bObjectIn = m_bObjectIn;
    After(static_cast<uint32_t>(m_settings.nReadoutMs), &CSimDetector::OnReadout, m_nFrameGen);
    if (m_aec.fn != nullptr) m_aec.fn(m_h, ORVIACQ_AEC_DISABLED, m_aec.pUser);
}

void CSimDetector::OnReport(uint64_t nState) {
    if (m_aec.fn != nullptr) m_aec.fn(m_h, static_cast<int32_t>(nState), m_aec.pUser);
}

// The frame is read out: make it, start what waited for the panel, hand it over.
void CSimDetector::OnReadout(uint64_t nFrameGen) {
    if (nFrameGen != m_nFrameGen || m_state != State::Busy) return;
    if (!m_pBuffer) m_pBuffer = std::make_unique<uint16_t[]>(ORVIACQ_FRAME_PIXELS);
    FrameSetup setup = m_frame;
    setup.bOffset = m_bOffset2 || m_bAutoOffset;
    setup.bGain = m_bGain;
    setup.bDefect = m_bDefect;
    setup.bNoise = m_settings.bNoise;
    m_model.Produce(m_pBuffer.get(), setup, m_nFrames++);

    m_state = State::Idle;
    while (!m_waiting.empty() && m_state != State::Busy) {
        const Request r = m_waiting.front();
        m_waiting.pop_front();
        Begin(r);
    }
    if (m_image.fn != nullptr) m_image.fn(m_h, m_pBuffer.get(), m_image.pUser);
}

// ---- corrections and controls ----------------------------------------------

int32_t CSimDetector::SetCorrection(Correction kind, bool bOn) {
    const bool bMissing = (kind == Correction::Gain && m_settings.bMissingGain) ||
                          (kind == Correction::Defect && m_settings.bMissingDefect) ||
                          (kind == Correction::Offset2 && m_settings.bMissingOffset);
    const bool bRefused = bOn && bMissing;
    if (bRefused) bOn = false;
    switch (kind) {
    case Correction::Gain: m_bGain = bOn; break;
    case Correction::Defect: m_bDefect = bOn; break;
    case Correction::Offset2: m_bOffset2 = bOn; break;
    case Correction::AutoOffset: m_bAutoOffset = bOn; break;
    }
    return bRefused ? ORVIACQ_ERR_CORRECTION_FILE : ORVIACQ_OK;
}

void CSimDetector::DropLink() {
    m_bLinkUp = false;
    Schedule().Cancel(m_h);
    m_waiting.clear();
    m_state = State::Idle;
    ++m_nArmGen;
    ++m_nShotGen;
    ++m_nFrameGen;
    m_bShotHeld = false;
}

}  // namespace orvi::sim
