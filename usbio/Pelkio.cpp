// The exports of libPelkio.so: each builds its commands and runs them through
// the board table over the current backend (hidapi unless a test set another),
// falling back on the simulated boards when no real one is found.
#include "usbio/Pelkio.h"
#include "usbio/PelkioSim.h"

#include "usbio/BoardTable.h"
#include "usbio/HidBackend.h"
#include "usbio/hidapi/HidapiBackend.h"
#include "usbio/sim/SimHidBus.h"

#include <algorithm>
#include <memory>
#include <string>

namespace pelkio {
namespace {

enum : uint8_t {
    kCmdConfigure1 = 1,
    kCmdConfigure2 = 2,
    kCmdReadRequest = 3,
    kCmdWrite = 4,
    kCmdWritePort1 = 5,
};

uint8_t Low8(int32_t nValue) { return static_cast<uint8_t>(nValue & 0xFF); }
uint16_t Low16(int32_t nValue) { return static_cast<uint16_t>(nValue & 0xFFFF); }
bool InTable(int32_t nBoard) { return nBoard >= 0 && nBoard < PELKIO_MAX_BOARDS; }

// The process-wide state. The table is declared last so that it closes its
// handles before the backends that made them go away.
struct CLibrary {
    std::unique_ptr<IHidBackend> pHidapi;  // made on first use
    IHidBackend* pInjected = nullptr;
    std::unique_ptr<sim::CSimHidBus> pSim;  // the simulated boards, when asked for
    bool bSimInUse = false;                 // the table holds the simulated boards
    CBoardTable table;

    IHidBackend& Backend() {
        if (pInjected) return *pInjected;
        if (!pHidapi) pHidapi = CreateHidapiBackend();
        return *pHidapi;
    }

    // Real boards first; the simulated ones only when none of those opens.
    int32_t EnumerateBoards() {
        bSimInUse = false;
        int32_t nCount = table.Enumerate(Backend());
        if (nCount == 0 && pSim && pSim->Devices() > 0) {
            nCount = table.Enumerate(*pSim);
            bSimInUse = nCount > 0;
        }
        return nCount;
    }
};

CLibrary& Lib() {
    static CLibrary lib;
    return lib;
}

int32_t Configure(int32_t nBoard, int32_t p1, int32_t p2, int32_t p3, int32_t p4, int32_t p5) {
    CBoardTable& table = Lib().table;
    Command command{};
    command[0] = kCmdConfigure1;
    command[1] = static_cast<uint8_t>(Low16(p1) & 0xFF);
    command[2] = static_cast<uint8_t>(Low16(p1) >> 8);
    command[3] = static_cast<uint8_t>(Low16(p2) & 0xFF);
    command[4] = static_cast<uint8_t>(Low16(p2) >> 8);
    command[5] = static_cast<uint8_t>(Low16(p3) & 0xFF);
    command[6] = static_cast<uint8_t>(Low16(p3) >> 8);
    if (!table.WriteCommand(nBoard, command)) return 0;
    // The second step keeps bytes 3 to 6 of the first.
    command[0] = kCmdConfigure2;
    command[1] = Low8(p5);
    command[2] = Low8(p4);
    return table.WriteCommand(nBoard, command) ? 1 : 0;
}

// Sends the read request and reads one report. A request that cannot be
// written means the board is closed or gone: enumerate again and ask the
// freshly opened board, which answers only what it was asked.
bool ReadBoard(int32_t nBoard, InputReport& report) {
    report.fill(0);
    if (!InTable(nBoard)) return false;  // no enumeration can bring such a board
    CLibrary& lib = Lib();
    Command request{};
    request[0] = kCmdReadRequest;
    if (!lib.table.WriteCommand(nBoard, request)) {
        if (lib.EnumerateBoards() == 0) return false;
        if (!lib.table.WriteCommand(nBoard, request)) return false;
    }
    return lib.table.ReadReport(nBoard, report);
}

int32_t Read(int32_t nBoard, uint8_t* o1, uint8_t* o2, uint8_t* o3, uint8_t* o4, uint8_t* o5) {
    InputReport report{};
    bool bGot = ReadBoard(nBoard, report);
    uint8_t* outs[] = {o1, o2, o3, o4, o5};
    for (size_t i = 0; i < 5; ++i)
        if (outs[i]) *outs[i] = report[i + 1];
    return bGot ? 1 : 0;
}

int32_t Write(int32_t nBoard, int32_t d1, int32_t d2, int32_t d3, int32_t d4) {
    Command command{};
    command[0] = kCmdWrite;
    command[1] = Low8(d1);
    command[2] = Low8(d2);
    command[3] = Low8(d3);
    command[4] = Low8(d4);
    return Lib().table.WriteCommand(nBoard, command) ? 1 : 0;
}

// Command 5 sets the first two outputs and hands back bytes 3 to 7 of the
// board's own input report for the rest, so it needs a fresh report.
int32_t WritePort1(int32_t nBoard, int32_t d1, int32_t d2) {
    InputReport report{};
    if (!ReadBoard(nBoard, report)) return 0;
    Command command{};
    command[0] = kCmdWritePort1;
    command[1] = Low8(d1);
    command[2] = Low8(d2);
    for (size_t i = 3; i <= 7; ++i) command[i] = report[i];
    return Lib().table.WriteCommand(nBoard, command) ? 1 : 0;
}

}  // namespace
}  // namespace pelkio

using namespace pelkio;

extern "C" {

int32_t InitBoard(void) { return Lib().EnumerateBoards(); }

int32_t PortConfigure(int32_t p1, int32_t p2, int32_t p3, int32_t p4, int32_t p5) {
    return Configure(0, p1, p2, p3, p4, p5);
}

int32_t PortConfigureEx(int32_t board, int32_t p1, int32_t p2, int32_t p3, int32_t p4, int32_t p5) {
    return Configure(board, p1, p2, p3, p4, p5);
}

int32_t PortRead(uint8_t* o1, uint8_t* o2, uint8_t* o3, uint8_t* o4, uint8_t* o5) {
    return Read(0, o1, o2, o3, o4, o5);
}

int32_t PortReadEx(int32_t board, uint8_t* o1, uint8_t* o2, uint8_t* o3, uint8_t* o4, uint8_t* o5) {
    return Read(board, o1, o2, o3, o4, o5);
}

int32_t PortWrite(int32_t d1, int32_t d2, int32_t d3, int32_t d4) { return Write(0, d1, d2, d3, d4); }

int32_t PortWriteEx(int32_t board, int32_t d1, int32_t d2, int32_t d3, int32_t d4) {
    return Write(board, d1, d2, d3, d4);
}

int32_t Port1Write(int32_t d1, int32_t d2) { return WritePort1(0, d1, d2); }

int32_t Port1WriteEx(int32_t board, int32_t d1, int32_t d2) { return WritePort1(board, d1, d2); }

void PelkioSetBackend(IHidBackend* pBackend) {
    CLibrary& lib = Lib();
    lib.table.ReleaseAll();
    lib.bSimInUse = false;
    lib.pInjected = pBackend;
}

// ---- The simulated boards ---------------------------------------------------------

int32_t PelkioSim_SetBoards(int32_t n) {
    CLibrary& lib = Lib();
    n = std::clamp<int32_t>(n, 0, PELKIO_SIM_MAX_BOARDS);
    // The table may hold handles on the old bus: let them go before it does.
    if (lib.bSimInUse) lib.table.ReleaseAll();
    lib.bSimInUse = false;
    lib.pSim.reset();
    if (n > 0) {
        lib.pSim = std::make_unique<sim::CSimHidBus>();
        for (int32_t i = 0; i < n; ++i) lib.pSim->AddBoard("sim" + std::to_string(i));
    }
    return n;
}

int32_t PelkioSim_Boards(void) {
    const CLibrary& lib = Lib();
    return lib.pSim ? lib.pSim->Devices() : 0;
}

int32_t PelkioSim_InUse(void) { return Lib().bSimInUse ? 1 : 0; }

int32_t PelkioSim_SetHandSwitch(int32_t board, int32_t stage) {
    CLibrary& lib = Lib();
    if (board < 0 || board >= PelkioSim_Boards()) return 0;
    sim::HandSwitch state;
    switch (stage) {
    case PELKIO_SIM_RELEASED: state = sim::HandSwitch::Released; break;
    case PELKIO_SIM_READY: state = sim::HandSwitch::Ready; break;
    case PELKIO_SIM_EXPOSE: state = sim::HandSwitch::Expose; break;
    default: return 0;
    }
    lib.pSim->SetHandSwitch(board, state);
    return 1;
}

int32_t PelkioSim_GetHandSwitch(int32_t board) {
    CLibrary& lib = Lib();
    if (board < 0 || board >= PelkioSim_Boards()) return -1;
    switch (lib.pSim->HandSwitchOf(board)) {
    case sim::HandSwitch::Ready: return PELKIO_SIM_READY;
    case sim::HandSwitch::Expose: return PELKIO_SIM_EXPOSE;
    default: return PELKIO_SIM_RELEASED;
    }
}

int32_t PelkioSim_GetOutputs(int32_t board, uint8_t* out1, uint8_t* out2) {
    CLibrary& lib = Lib();
    uint8_t by1 = 0xFF, by2 = 0xFF;
    const bool bWritten = board >= 0 && board < PelkioSim_Boards() && lib.pSim->Outputs(board, by1, by2);
    if (out1) *out1 = by1;
    if (out2) *out2 = by2;
    return bWritten ? 1 : 0;
}

}  // extern "C"
