#pragma once
// The HID backend under Pelkio: how the library lists, opens, writes and reads
// HID devices. Production uses hidapi (usbio/hidapi/); the tests use an
// in-process fake bus (usbio/fake/) injected with PelkioSetBackend. The board
// table never includes a backend's own header.
#include "usbio/Pelkio.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace pelkio {

enum class HidResult {
    Ok,
    TimedOut,  // nothing completed within the time limit
    Failed,    // the device refused or is gone
};

struct CHidDeviceInfo {
    std::string strPath;
    uint16_t nVendorId = 0;
    uint16_t nProductId = 0;
};

// One open device. Destroying it closes it.
class PELKIO_API IHidDevice {
public:
    virtual ~IHidDevice() = default;

    // Sends one output report, report id first. Ok only when all nLength bytes
    // went out within nTimeoutMs.
    virtual HidResult Write(const uint8_t* pReport, size_t nLength, uint32_t nTimeoutMs) = 0;

    // Waits at most nTimeoutMs for one input report and stores it, report id
    // first, in pBuffer; a report longer than nCapacity is cut. nLength gets the
    // number of bytes stored (0 unless Ok).
    virtual HidResult Read(uint8_t* pBuffer, size_t nCapacity, size_t& nLength, uint32_t nTimeoutMs) = 0;
};

class PELKIO_API IHidBackend {
public:
    virtual ~IHidBackend() = default;

    // The HID devices present that carry these ids, in the system's order. The
    // same device may be listed more than once.
    virtual std::vector<CHidDeviceInfo> Enumerate(uint16_t nVendorId, uint16_t nProductId) = 0;

    // Opens a listed device for reading and writing; null when it cannot be opened.
    virtual std::unique_ptr<IHidDevice> Open(const std::string& strPath) = 0;
};

}  // namespace pelkio

// For tests and tools: makes Pelkio run over this backend instead of hidapi.
// Every board handle open on the previous backend is closed first and the
// board table is emptied. The backend stays owned by the caller and must
// outlive its use; pass nullptr before destroying it, which returns Pelkio to
// hidapi. Like every Pelkio call, it must not run during another call.
extern "C" PELKIO_API void PelkioSetBackend(pelkio::IHidBackend* pBackend);
