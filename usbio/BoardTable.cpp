#include "usbio/BoardTable.h"

#include <algorithm>

namespace pelkio {

int32_t CBoardTable::Enumerate(IHidBackend& backend) {
    ReleaseAll();
    int32_t nCount = 0;
    for (const CHidDeviceInfo& info : backend.Enumerate(PELKIO_VENDOR_ID, PELKIO_PRODUCT_ID)) {
        if (info.nVendorId != PELKIO_VENDOR_ID || info.nProductId != PELKIO_PRODUCT_ID) continue;
        // One device may be listed once per top-level collection; it is one board.
        bool bListed = std::any_of(m_entries.begin(), m_entries.begin() + nCount,
                                   [&](const CEntry& e) { return e.strPath == info.strPath; });
        if (bListed) continue;
        if (nCount == PELKIO_MAX_BOARDS) break;
        std::unique_ptr<IHidDevice> pDevice = backend.Open(info.strPath);
        if (!pDevice) continue;  // no access or gone meanwhile: not a usable board
        m_entries[nCount].strPath = info.strPath;
        m_entries[nCount].pDevice = std::move(pDevice);
        ++nCount;
    }
    return nCount;
}

void CBoardTable::ReleaseAll() {
    for (CEntry& e : m_entries) {
        e.pDevice.reset();
        e.strPath.clear();
    }
}

IHidDevice* CBoardTable::Device(int32_t nBoard) const {
    if (nBoard < 0 || nBoard >= PELKIO_MAX_BOARDS) return nullptr;
    return m_entries[nBoard].pDevice.get();
}

void CBoardTable::Close(int32_t nBoard) {
    // The path stays: the entry is closed, not forgotten, until the next enumeration.
    m_entries[nBoard].pDevice.reset();
}

bool CBoardTable::WriteCommand(int32_t nBoard, const Command& command) {
    IHidDevice* pDevice = Device(nBoard);
    if (!pDevice) return false;
    std::array<uint8_t, PELKIO_OUTPUT_REPORT_BYTES> report{};
    report[0] = 0;  // report id
    std::copy(command.begin(), command.end(), report.begin() + 1);
    if (pDevice->Write(report.data(), report.size(), PELKIO_TIMEOUT_MS) == HidResult::Ok) return true;
    Close(nBoard);
    return false;
}

bool CBoardTable::ReadReport(int32_t nBoard, InputReport& report) {
    report.fill(0);
    IHidDevice* pDevice = Device(nBoard);
    if (!pDevice) return false;
    size_t nLength = 0;
    HidResult result = pDevice->Read(report.data(), report.size(), nLength, PELKIO_TIMEOUT_MS);
    if (result == HidResult::Ok && nLength > 0) {
        // Bytes beyond the report's own length stay zero.
        std::fill(report.begin() + std::min(nLength, report.size()), report.end(), 0);
        return true;
    }
    report.fill(0);
    if (result != HidResult::Ok) Close(nBoard);
    return false;
}

}  // namespace pelkio
