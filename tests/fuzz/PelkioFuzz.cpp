// Pelkio's exports over a HID backend whose every answer comes from the
// fuzzer: any number of devices, opens that fail, writes and reads that fail,
// time out, or return reports of any length and content. No call crashes,
// reads past a report, or claims more boards than were opened.
#include "FuzzSupport.h"

#include "usbio/HidBackend.h"
#include "usbio/Pelkio.h"

#include <algorithm>
#include <cstring>

using orvi::fuzz::CInput;

namespace {

pelkio::HidResult ResultOf(uint8_t b) {
    switch (b % 4) {
    case 0: return pelkio::HidResult::TimedOut;
    case 1: return pelkio::HidResult::Failed;
    default: return pelkio::HidResult::Ok;
    }
}

class CFuzzedDevice final : public pelkio::IHidDevice {
public:
    explicit CFuzzedDevice(CInput& in) : m_in(in) {}
    pelkio::HidResult Write(const uint8_t* pReport, size_t nLength, uint32_t) override {
        FUZZ_CHECK(pReport != nullptr && nLength > 0 && nLength <= 64);
        volatile uint8_t sink = 0;
        for (size_t i = 0; i < nLength; ++i) sink = uint8_t(sink ^ pReport[i]);  // every byte readable
        return ResultOf(m_in.Byte());
    }
    pelkio::HidResult Read(uint8_t* pBuffer, size_t nCapacity, size_t& nLength, uint32_t) override {
        nLength = 0;
        const pelkio::HidResult r = ResultOf(m_in.Byte());
        if (r != pelkio::HidResult::Ok) return r;
        const std::string strReport = m_in.Bytes(m_in.Byte() % 24);
        nLength = std::min(nCapacity, strReport.size());
        std::memcpy(pBuffer, strReport.data(), nLength);
        return r;
    }

private:
    CInput& m_in;
};

class CFuzzedBackend final : public pelkio::IHidBackend {
public:
    explicit CFuzzedBackend(CInput& in) : m_in(in) {}
    std::vector<pelkio::CHidDeviceInfo> Enumerate(uint16_t nVendorId, uint16_t nProductId) override {
        std::vector<pelkio::CHidDeviceInfo> list(m_in.Byte() % 14);
        for (size_t i = 0; i < list.size(); ++i) {
            list[i].strPath = "/dev/hidraw" + std::to_string(m_in.Byte() % 4);
            const bool bOurs = m_in.Byte() % 5 != 0;
            list[i].nVendorId = bOurs ? nVendorId : uint16_t(m_in.U32());
            list[i].nProductId = bOurs ? nProductId : uint16_t(m_in.U32());
        }
        return list;
    }
    std::unique_ptr<pelkio::IHidDevice> Open(const std::string&) override {
        if (m_in.Byte() % 6 == 0) return nullptr;
        ++nOpened;
        return std::make_unique<CFuzzedDevice>(m_in);
    }
    int32_t nOpened = 0;

private:
    CInput& m_in;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize) {
    CInput in(pData, nSize);
    CFuzzedBackend backend(in);
    PelkioSetBackend(&backend);
    int32_t nBoards = 0;
    for (int nCall = 0; nCall < 64 && !in.Empty(); ++nCall) {
        const int32_t board = int32_t(in.Byte() % 14) - 2;
        const int32_t a = int32_t(int8_t(in.Byte())), b = in.Byte(), c = in.Byte(), d = in.Byte();
        uint8_t o[5] = {0x11, 0x22, 0x33, 0x44, 0x55};
        int32_t r = 0;
        const uint8_t nOp = in.Byte() % 8;
        int32_t nTarget = board;
        if (nOp == 5 || nOp == 6) nTarget = 0;  // the calls without a board use board 0
        switch (nOp) {
        case 0:
            nBoards = InitBoard();
            FUZZ_CHECK(nBoards >= 0 && nBoards <= PELKIO_MAX_BOARDS && nBoards <= backend.nOpened);
            continue;
        case 1: r = PortConfigureEx(board, a, b, c, d, a); break;
        case 2: r = PortReadEx(board, &o[0], &o[1], &o[2], &o[3], &o[4]); break;
        case 3: r = PortWriteEx(board, a, b, c, d); break;
        case 4: r = Port1WriteEx(board, a, b); break;
        case 5: r = PortRead(&o[0], &o[1], &o[2], &o[3], &o[4]); break;
        case 6: r = PortWrite(a, b, c, d); break;
        default: r = PortReadEx(board, nullptr, &o[1], nullptr, &o[3], nullptr); break;
        }
        FUZZ_CHECK(r == 0 || r == 1);
        // A read may enumerate again by itself, so a board exists only as far
        // as devices were opened at all.
        if (nTarget < 0 || nTarget >= PELKIO_MAX_BOARDS || nTarget >= backend.nOpened) FUZZ_CHECK(r == 0);
    }
    PelkioSetBackend(nullptr);
    return 0;
}
