#pragma once
// The program's side of the hand-switch board: the two output bytes, the board
// count, the bit setters, and the operations that send them to the boards and
// read the hand switch back through the Pelkio library.
//
// Bits are active low: 0 lights a lamp or switches an output on, 1 switches it
// off. Output byte 1 (g_byOut1) goes out as the fourth argument of PortWriteEx,
// output byte 2 (g_byOut2) as the third; the second and fifth are always 0.
//
// How the controller uses it (all calls on the window thread, one at a time):
//   creation               StartupConfiguration()
//   any output change      change the bits (setters below), then WriteOutputs()
//   hand-switch polling    ReadInputs(); then test m_nBoardCount / the result
//   ready time-out (809)   ReadyTimeout()
//   destruction            Shutdown()
// Each operation makes exactly its library calls in the order given below and
// ignores every result but InitBoard's and the reads'. A board transfer blocks
// for up to one second when a board does not answer.
#include <cstdint>
#include <functional>
#include <vector>

namespace orvi {

// Process-wide output bytes; 0xFF (everything off) at start-up.
extern uint8_t g_byOut1;
extern uint8_t g_byOut2;

// Output byte 1.
inline constexpr uint8_t kOut1EnableLamp = 0x04;
inline constexpr uint8_t kOut1ReadyLamp = 0x08;
inline constexpr uint8_t kOut1ConnectionLamp = 0x10;
// Output byte 2.
inline constexpr uint8_t kOut2ReadyOutput = 0x10;
inline constexpr uint8_t kOut2ExposeOutput = 0x20;
// Input byte 1 (the first value PortReadEx returns); 0 while pressed.
inline constexpr uint8_t kIn1Ready = 0x01;
inline constexpr uint8_t kIn1Expose = 0x02;

inline constexpr uint8_t kOutAllOff = 0xFF;
// Output byte 1 with only the connection lamp lit (an image was processed).
inline constexpr uint8_t kOut1OnlyConnection = 0xEF;

// Bit setters: true lights the lamp or switches the output on (clears the bit).
void SetReadyOutput(bool bOn);     // g_byOut2 bit 4
void SetExposeOutput(bool bOn);    // g_byOut2 bit 5
void SetReadyLamp(bool bOn);       // g_byOut1 bit 3
void SetEnableLamp(bool bOn);      // g_byOut1 bit 2
void SetConnectionLamp(bool bOn);  // g_byOut1 bit 4
// Ready and expose outputs off (g_byOut2 | 0x30), enable and ready lamps off
// (g_byOut1 | 0x0C): the hand switch was let go, or a frame arrived.
void ReleaseSwitchOutputs();
// Both bytes at once (a frame arrived, processing finished, the watchdog).
void SetOutputs(uint8_t byOut1, uint8_t byOut2);

// Watches the outputs (the lamp view of the room panel, a tool wiring a
// board). Called on the thread that drives the protocol, inside its calls;
// an observer must not call back into the protocol.
class ILampObserver {
public:
    virtual ~ILampObserver() = default;
    // Every output operation, board or no board: the bytes the program holds
    // now and the board count of the last InitBoard.
    virtual void OnOutputs(uint8_t byOut1, uint8_t byOut2, int32_t nBoardCount) = 0;
    // Every PortWriteEx the protocol makes, with the bytes sent to that board
    // and whether the library took them (1 = written).
    virtual void OnBoardWrite(int32_t nBoard, uint8_t byOut1, uint8_t byOut2, bool bWritten) = 0;
};

// The four Pelkio calls the program makes, as a table so that tests can record
// them or run them through the real library over a fake bus.
struct CPelkioApi {
    std::function<int32_t()> InitBoard;
    std::function<int32_t(int32_t nBoard, int32_t p1, int32_t p2, int32_t p3, int32_t p4, int32_t p5)> PortConfigureEx;
    std::function<int32_t(int32_t nBoard, uint8_t* o1, uint8_t* o2, uint8_t* o3, uint8_t* o4, uint8_t* o5)> PortReadEx;
    std::function<int32_t(int32_t nBoard, int32_t d1, int32_t d2, int32_t d3, int32_t d4)> PortWriteEx;
};

// The real exports of libPelkio.so. Defined in the orvi_pelkio_exports
// library, which links libPelkio.so; link it wherever this is used (the core
// itself does not depend on the shared library).
CPelkioApi PelkioExports();

// The hand switch as ReadInputs found it; pressed means seen on either board.
struct CHandSwitchState {
    bool bReady = false;
    bool bExpose = false;
};

class CBoardProtocol {
public:
    // Without an argument the protocol calls libPelkio.so (link orvi_pelkio_exports).
    explicit CBoardProtocol(CPelkioApi api = PelkioExports());

    // Main frame creation: both output bytes 0xFF; m_nBoardCount = InitBoard();
    // if not 0: PortWriteEx(0, 0, FF, FF, 0), PortConfigureEx(0, 0, FFFF, FFFF, 0, 0);
    // if exactly 2: PortWriteEx(1, 0, g_byOut2, g_byOut1, 0), PortConfigureEx(1, ...).
    void StartupConfiguration();

    // Every other change of the outputs: m_nBoardCount = InitBoard(); if not 0:
    // PortWriteEx(0, 0, g_byOut2, g_byOut1, 0), then the same to board 1, which
    // is written even when only one board was found (it then fails without effect).
    void WriteOutputs();

    // PortReadEx(0, ...); if m_nBoardCount is not 1 also PortReadEx(1, ...).
    // A stage is pressed when its bit of input byte 1 is 0 on either board. A
    // read that brought no report counts as released, and so does a second
    // board that was not read.
    CHandSwitchState ReadInputs();

    // Timer 809: both output bytes 0xFF; PortWriteEx(0, 0, FF, FF, 0) only,
    // without InitBoard.
    void ReadyTimeout();

    // Main frame destruction: if m_nBoardCount is not 0, PortWriteEx(0, 0, FF, FF, 0)
    // then the same to board 1, without InitBoard. The output bytes keep their values.
    void Shutdown();

    // The result of the last InitBoard: the number of boards found.
    int32_t m_nBoardCount = 0;

    // Observers are not owned; remove one before it is destroyed.
    void AddObserver(ILampObserver* pObserver);
    void RemoveObserver(ILampObserver* pObserver);

private:
    void NotifyOutputs();
    void Write(int32_t nBoard, uint8_t byOut2, uint8_t byOut1);
    // Input byte 1 of a board, 0xFF (all released) when no report came.
    uint8_t ReadInputByte1(int32_t nBoard);

    CPelkioApi m_api;
    std::vector<ILampObserver*> m_observers;
};

}  // namespace orvi
