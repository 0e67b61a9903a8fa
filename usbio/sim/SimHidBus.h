#pragma once
// An in-process bus of simulated HID devices: boards with a two-stage hand
// switch, and devices with other ids. libPelkio.so falls back on one of its own
// when [SIMULATOR] BOARDS asks for simulated boards and no real board is
// plugged in (PelkioSim.h); tests inject one with PelkioSetBackend. It records
// everything written, keeps the outputs last written to each board, answers
// read requests, and can stay silent past the time limit, refuse to open, or
// vanish and come back.
//
// Time: the bus never sleeps. A transfer costs the device's latency, or the
// caller's whole limit when the latency is beyond it (then the transfer times
// out); the cost is added to ElapsedMs() and handed to the wait hook, which a
// test can point at a virtual clock.
//
// A board answers reads the way the real one is driven: each read request
// (command 3) written to a handle queues one input report on that handle,
// taken with the hand switch as it is at that moment; a read takes the oldest
// queued report, and times out when there is none.
#include "usbio/HidBackend.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace pelkio::sim {

enum class HandSwitch {
    Released,
    Ready,   // first stage pressed
    Expose,  // both stages pressed
};

// Latency of a device that never completes the transfer.
inline constexpr uint32_t kNever = UINT32_MAX;

struct CBusState;

class PELKIO_API CSimHidBus final : public IHidBackend {
public:
    CSimHidBus();
    ~CSimHidBus() override;
    CSimHidBus(const CSimHidBus&) = delete;
    CSimHidBus& operator=(const CSimHidBus&) = delete;

    // Adds a device at the end of the listing and returns its number on the bus.
    int AddBoard(const std::string& strName);
    int AddDevice(const std::string& strName, uint16_t nVendorId, uint16_t nProductId);
    // Lists the device once more at the end (as hidapi does for a device with
    // several top-level collections).
    void ListAgain(int nDevice);

    // Gone from the listing; every handle open on it fails from now on.
    void Unplug(int nDevice);
    // Back in its place in the listing, under a new path.
    void Plug(int nDevice);
    // Listed, but opening it fails (as a hidraw node without permission).
    void SetOpenFails(int nDevice, bool bFails);

    void SetHandSwitch(int nDevice, HandSwitch state);
    // The hand switch as the next read request will find it.
    HandSwitch HandSwitchOf(int nDevice) const;
    // One state per answered read request, in order; the last one stays.
    void ScriptHandSwitch(int nDevice, std::vector<HandSwitch> states);
    // The input report's data bytes (after the report id). Bits 0 and 1 of the
    // first are replaced by the hand switch (0 = pressed). Default: FF 00 .. 00.
    void SetInputData(int nDevice, std::vector<uint8_t> data);

    // Time the device takes to accept a report or to answer a read.
    void SetWriteLatency(int nDevice, uint32_t nMs);
    void SetReadLatency(int nDevice, uint32_t nMs);

    // Every event on the bus, in order, one line each:
    //   "enumerate"; "open A"; "open A failed"; "close A";
    //   "write A 00 04 00 FF EF 00 00 00 00", ending " timed out" or " failed" when it did;
    //   "read A 00 FE 00 00 00 00 00 00 00"; "read A timed out"; "read A failed".
    const std::vector<std::string>& Wire() const;
    void ClearWire();
    // The reports the device accepted, in order.
    std::vector<std::vector<uint8_t>> Written(int nDevice) const;
    // The output bytes of the last write command (4) the board accepted: output
    // byte 1 is its byte 3, output byte 2 its byte 2. False (and 0xFF, 0xFF)
    // before the first.
    bool Outputs(int nDevice, uint8_t& byOut1, uint8_t& byOut2) const;
    int Devices() const;
    int Opens(int nDevice) const;
    int Closes(int nDevice) const;
    std::string PathOf(int nDevice) const;

    uint64_t ElapsedMs() const;
    void SetWaitHook(std::function<void(uint32_t nMs)> fnWait);

    std::vector<CHidDeviceInfo> Enumerate(uint16_t nVendorId, uint16_t nProductId) override;
    std::unique_ptr<IHidDevice> Open(const std::string& strPath) override;

private:
    std::shared_ptr<CBusState> m_pState;
};

// The bytes as the wire lines show them: "00 04 00 FF".
PELKIO_API std::string HexBytes(const uint8_t* pBytes, size_t nLength);

}  // namespace pelkio::sim
