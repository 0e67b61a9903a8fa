#include "usbio/sim/SimHidBus.h"

#include <algorithm>
#include <deque>
#include <stdexcept>

namespace pelkio::sim {

namespace {

constexpr uint8_t kReadRequest = 3;
constexpr uint8_t kWriteCommand = 4;

struct CDevice {
    std::string strName;
    uint16_t nVendorId = 0;
    uint16_t nProductId = 0;
    bool bPlugged = true;
    int nGeneration = 0;  // bumped at every unplug: older handles are dead
    bool bOpenFails = false;
    HandSwitch handSwitch = HandSwitch::Released;
    std::deque<HandSwitch> script;
    std::vector<uint8_t> data = {0xFF, 0, 0, 0, 0, 0, 0, 0};
    uint32_t nWriteLatency = 0;
    uint32_t nReadLatency = 0;
    int nOpens = 0;
    int nCloses = 0;
    std::vector<std::vector<uint8_t>> written;
    bool bOutputs = false;
    uint8_t byOut1 = 0xFF;
    uint8_t byOut2 = 0xFF;

    std::string Path() const { return "/fake/hidraw-" + strName + "." + std::to_string(nGeneration); }

    std::vector<uint8_t> TakeReport() {
        if (!script.empty()) {
            handSwitch = script.front();
            script.pop_front();
        }
        std::vector<uint8_t> report(1, 0);  // report id 0
        report.insert(report.end(), data.begin(), data.end());
        if (report.size() < 2) report.push_back(0xFF);
        report[1] |= 0x03;
        if (handSwitch != HandSwitch::Released) report[1] &= static_cast<uint8_t>(~0x01);
        if (handSwitch == HandSwitch::Expose) report[1] &= static_cast<uint8_t>(~0x02);
        return report;
    }
};

}  // namespace

struct CBusState {
    std::vector<CDevice> devices;
    std::vector<int> listing;
    std::vector<std::string> wire;
    uint64_t nElapsedMs = 0;
    std::function<void(uint32_t)> fnWait;

    CDevice& At(int nDevice) {
        if (nDevice < 0 || nDevice >= static_cast<int>(devices.size())) throw std::out_of_range("no such fake device");
        return devices[static_cast<size_t>(nDevice)];
    }
    void Wait(uint32_t nMs) {
        if (nMs == 0) return;
        nElapsedMs += nMs;
        if (fnWait) fnWait(nMs);
    }
    // The cost of a transfer with this latency under this limit; false: it timed out.
    bool Spend(uint32_t nLatency, uint32_t nLimit) {
        if (nLatency > nLimit) {
            Wait(nLimit);
            return false;
        }
        Wait(nLatency);
        return true;
    }
};

namespace {

class CFakeHandle final : public IHidDevice {
public:
    CFakeHandle(std::shared_ptr<CBusState> pState, int nDevice)
        : m_pState(std::move(pState)), m_nDevice(nDevice), m_nGeneration(m_pState->At(nDevice).nGeneration) {}

    ~CFakeHandle() override {
        CDevice& d = m_pState->At(m_nDevice);
        ++d.nCloses;
        m_pState->wire.push_back("close " + d.strName);
    }

    HidResult Write(const uint8_t* pReport, size_t nLength, uint32_t nTimeoutMs) override {
        CDevice& d = m_pState->At(m_nDevice);
        std::string strLine = "write " + d.strName + " " + HexBytes(pReport, nLength);
        if (!Alive()) {
            m_pState->wire.push_back(strLine + " failed");
            return HidResult::Failed;
        }
        if (!m_pState->Spend(d.nWriteLatency, nTimeoutMs)) {
            m_pState->wire.push_back(strLine + " timed out");
            return HidResult::TimedOut;
        }
        m_pState->wire.push_back(strLine);
        d.written.emplace_back(pReport, pReport + nLength);
        if (nLength > 1 && pReport[1] == kReadRequest) m_queue.push_back(d.TakeReport());
        // Report: id, code 4, d1, d2 (output byte 2), d3 (output byte 1), d4.
        if (nLength > 4 && pReport[1] == kWriteCommand) {
            d.bOutputs = true;
            d.byOut2 = pReport[3];
            d.byOut1 = pReport[4];
        }
        return HidResult::Ok;
    }

    HidResult Read(uint8_t* pBuffer, size_t nCapacity, size_t& nLength, uint32_t nTimeoutMs) override {
        nLength = 0;
        CDevice& d = m_pState->At(m_nDevice);
        if (!Alive()) {
            m_pState->wire.push_back("read " + d.strName + " failed");
            return HidResult::Failed;
        }
        uint32_t nLatency = m_queue.empty() ? kNever : d.nReadLatency;
        if (!m_pState->Spend(nLatency, nTimeoutMs)) {
            m_pState->wire.push_back("read " + d.strName + " timed out");
            return HidResult::TimedOut;
        }
        std::vector<uint8_t> report = std::move(m_queue.front());
        m_queue.pop_front();
        nLength = std::min(report.size(), nCapacity);
        std::copy(report.begin(), report.begin() + static_cast<std::ptrdiff_t>(nLength), pBuffer);
        m_pState->wire.push_back("read " + d.strName + " " + HexBytes(report.data(), report.size()));
        return HidResult::Ok;
    }

private:
    bool Alive() const {
        const CDevice& d = m_pState->At(m_nDevice);
        return d.bPlugged && d.nGeneration == m_nGeneration;
    }

    std::shared_ptr<CBusState> m_pState;
    int m_nDevice;
    int m_nGeneration;
    std::deque<std::vector<uint8_t>> m_queue;
};

}  // namespace

std::string HexBytes(const uint8_t* pBytes, size_t nLength) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string s;
    for (size_t i = 0; i < nLength; ++i) {
        if (i) s += ' ';
        s += kDigits[pBytes[i] >> 4];
        s += kDigits[pBytes[i] & 0x0F];
    }
    return s;
}

CSimHidBus::CSimHidBus() : m_pState(std::make_shared<CBusState>()) {}
CSimHidBus::~CSimHidBus() = default;

int CSimHidBus::AddBoard(const std::string& strName) { return AddDevice(strName, PELKIO_VENDOR_ID, PELKIO_PRODUCT_ID); }

int CSimHidBus::AddDevice(const std::string& strName, uint16_t nVendorId, uint16_t nProductId) {
    CDevice d;
    d.strName = strName;
    d.nVendorId = nVendorId;
    d.nProductId = nProductId;
    m_pState->devices.push_back(std::move(d));
    int nDevice = static_cast<int>(m_pState->devices.size()) - 1;
    m_pState->listing.push_back(nDevice);
    return nDevice;
}

void CSimHidBus::ListAgain(int nDevice) {
    m_pState->At(nDevice);
    m_pState->listing.push_back(nDevice);
}

void CSimHidBus::Unplug(int nDevice) {
    CDevice& d = m_pState->At(nDevice);
    if (!d.bPlugged) return;
    d.bPlugged = false;
    ++d.nGeneration;
}

void CSimHidBus::Plug(int nDevice) { m_pState->At(nDevice).bPlugged = true; }

void CSimHidBus::SetOpenFails(int nDevice, bool bFails) { m_pState->At(nDevice).bOpenFails = bFails; }

void CSimHidBus::SetHandSwitch(int nDevice, HandSwitch state) {
    CDevice& d = m_pState->At(nDevice);
    d.script.clear();
    d.handSwitch = state;
}

HandSwitch CSimHidBus::HandSwitchOf(int nDevice) const {
    const CDevice& d = m_pState->At(nDevice);
    return d.script.empty() ? d.handSwitch : d.script.front();
}

bool CSimHidBus::Outputs(int nDevice, uint8_t& byOut1, uint8_t& byOut2) const {
    const CDevice& d = m_pState->At(nDevice);
    byOut1 = d.byOut1;
    byOut2 = d.byOut2;
    return d.bOutputs;
}

int CSimHidBus::Devices() const { return static_cast<int>(m_pState->devices.size()); }

void CSimHidBus::ScriptHandSwitch(int nDevice, std::vector<HandSwitch> states) {
    CDevice& d = m_pState->At(nDevice);
    d.script.assign(states.begin(), states.end());
}

void CSimHidBus::SetInputData(int nDevice, std::vector<uint8_t> data) { m_pState->At(nDevice).data = std::move(data); }

void CSimHidBus::SetWriteLatency(int nDevice, uint32_t nMs) { m_pState->At(nDevice).nWriteLatency = nMs; }
void CSimHidBus::SetReadLatency(int nDevice, uint32_t nMs) { m_pState->At(nDevice).nReadLatency = nMs; }

const std::vector<std::string>& CSimHidBus::Wire() const { return m_pState->wire; }
void CSimHidBus::ClearWire() { m_pState->wire.clear(); }

std::vector<std::vector<uint8_t>> CSimHidBus::Written(int nDevice) const { return m_pState->At(nDevice).written; }
int CSimHidBus::Opens(int nDevice) const { return m_pState->At(nDevice).nOpens; }
int CSimHidBus::Closes(int nDevice) const { return m_pState->At(nDevice).nCloses; }
std::string CSimHidBus::PathOf(int nDevice) const { return m_pState->At(nDevice).Path(); }

uint64_t CSimHidBus::ElapsedMs() const { return m_pState->nElapsedMs; }
void CSimHidBus::SetWaitHook(std::function<void(uint32_t)> fnWait) { m_pState->fnWait = std::move(fnWait); }

std::vector<CHidDeviceInfo> CSimHidBus::Enumerate(uint16_t nVendorId, uint16_t nProductId) {
    m_pState->wire.push_back("enumerate");
    std::vector<CHidDeviceInfo> list;
    for (int nDevice : m_pState->listing) {
        const CDevice& d = m_pState->At(nDevice);
        if (!d.bPlugged || d.nVendorId != nVendorId || d.nProductId != nProductId) continue;
        list.push_back({d.Path(), d.nVendorId, d.nProductId});
    }
    return list;
}

std::unique_ptr<IHidDevice> CSimHidBus::Open(const std::string& strPath) {
    for (size_t i = 0; i < m_pState->devices.size(); ++i) {
        CDevice& d = m_pState->devices[i];
        if (!d.bPlugged || d.Path() != strPath) continue;
        if (d.bOpenFails) {
            m_pState->wire.push_back("open " + d.strName + " failed");
            return nullptr;
        }
        ++d.nOpens;
        m_pState->wire.push_back("open " + d.strName);
        return std::make_unique<CFakeHandle>(m_pState, static_cast<int>(i));
    }
    return nullptr;
}

}  // namespace pelkio::sim
