#pragma once
// The table of boards and the two transfer steps every export is built from:
// writing one command and reading one input report, each within the time limit.
#include "usbio/HidBackend.h"

#include <array>
#include <cstdint>
#include <memory>
#include <string>

namespace pelkio {

using Command = std::array<uint8_t, PELKIO_COMMAND_BYTES>;
using InputReport = std::array<uint8_t, PELKIO_INPUT_REPORT_BYTES>;

class CBoardTable {
public:
    CBoardTable() = default;
    ~CBoardTable() { ReleaseAll(); }
    CBoardTable(const CBoardTable&) = delete;
    CBoardTable& operator=(const CBoardTable&) = delete;

    // Releases every open handle, then opens the boards the backend lists, up
    // to PELKIO_MAX_BOARDS, in listing order. Returns the number opened.
    int32_t Enumerate(IHidBackend& backend);

    // Closes every open handle and forgets the boards.
    void ReleaseAll();

    // Sends the command as output report 0. On a time-out or failure the
    // board's handle is closed and its entry marked closed.
    bool WriteCommand(int32_t nBoard, const Command& command);

    // Reads one input report; false when none arrived (the report is then all
    // zeros). On a time-out or failure the board is closed as above.
    bool ReadReport(int32_t nBoard, InputReport& report);

    bool IsOpen(int32_t nBoard) const { return Device(nBoard) != nullptr; }

private:
    struct CEntry {
        std::string strPath;
        std::unique_ptr<IHidDevice> pDevice;  // null: closed or never opened
    };

    IHidDevice* Device(int32_t nBoard) const;
    void Close(int32_t nBoard);

    std::array<CEntry, PELKIO_MAX_BOARDS> m_entries;
};

}  // namespace pelkio
