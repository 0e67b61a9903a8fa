// The exports of libPelkio.so: each builds its commands and runs them through
// the board table over the current backend (hidapi unless a test set another).
#include "usbio/Pelkio.h"

#include "usbio/BoardTable.h"
#include "usbio/HidBackend.h"
#include "usbio/hidapi/HidapiBackend.h"

#include <memory>

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
// handles before the backend that made them goes away.
struct CLibrary {
    std::unique_ptr<IHidBackend> pHidapi;  // made on first use
    IHidBackend* pInjected = nullptr;
    CBoardTable table;

    IHidBackend& Backend() {
        if (pInjected) return *pInjected;
        if (!pHidapi) pHidapi = CreateHidapiBackend();
        return *pHidapi;
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
        if (lib.table.Enumerate(lib.Backend()) == 0) return false;
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

int32_t InitBoard(void) {
    CLibrary& lib = Lib();
    return lib.table.Enumerate(lib.Backend());
}

int32_t PortConfigure(int32_t p1, int32_t p2, int32_t p3, int32_t p4, int32_t p5) {
    return Configure(0, p1, p2, p3, p4, p5);
}

int32_t PortConfigureEx(int32_t board, int32_t p1, int32_t p2, int32_t p3, int32_t p4,
                        int32_t p5) {
    return Configure(board, p1, p2, p3, p4, p5);
}

int32_t PortRead(uint8_t* o1, uint8_t* o2, uint8_t* o3, uint8_t* o4, uint8_t* o5) {
    return Read(0, o1, o2, o3, o4, o5);
}

int32_t PortReadEx(int32_t board, uint8_t* o1, uint8_t* o2, uint8_t* o3, uint8_t* o4,
                   uint8_t* o5) {
    return Read(board, o1, o2, o3, o4, o5);
}

int32_t PortWrite(int32_t d1, int32_t d2, int32_t d3, int32_t d4) {
    return Write(0, d1, d2, d3, d4);
}

int32_t PortWriteEx(int32_t board, int32_t d1, int32_t d2, int32_t d3, int32_t d4) {
    return Write(board, d1, d2, d3, d4);
}

int32_t Port1Write(int32_t d1, int32_t d2) { return WritePort1(0, d1, d2); }

int32_t Port1WriteEx(int32_t board, int32_t d1, int32_t d2) { return WritePort1(board, d1, d2); }

void PelkioSetBackend(IHidBackend* pBackend) {
    CLibrary& lib = Lib();
    lib.table.ReleaseAll();
    lib.pInjected = pBackend;
}

}  // extern "C"
