#pragma once
// The simulated hand-switch boards of the board library, when the loaded
// libPelkio.so offers them (usbio/PelkioSim.h). Looked up by name at run time,
// like the simulated detector's controls: a board library without them simply
// has no simulated boards.
#include <cstdint>
#include <string>

namespace orvi {

// Hand switch stages, as the library numbers them.
enum class HandStage : int32_t { Released = 0, Ready = 1, Expose = 2 };

class CBoardSimControls {
public:
    // The controls of the libraries already loaded into the process.
    static CBoardSimControls Lookup();

    bool Available() const { return m_pfnSetBoards != nullptr; }

    // Each does nothing and returns 0 (-1 for HandSwitch) without the controls.
    int32_t SetBoards(int32_t nBoards) const;
    int32_t Boards() const;
    bool InUse() const;  // the boards open now are the simulated ones
    bool SetHandSwitch(int32_t nBoard, HandStage stage) const;
    int32_t HandSwitch(int32_t nBoard) const;
    // Output bytes last written to the simulated board; false before the first.
    bool Outputs(int32_t nBoard, uint8_t& byOut1, uint8_t& byOut2) const;

    // [SIMULATOR] BOARDS of the configuration file: simulated boards wanted at
    // start, 0 to 2; 0 when the key is missing (the real boards only).
    static int32_t ConfiguredBoards(const std::string& strIniPath);

private:
    using IntFn = int32_t (*)(int32_t);
    using CountFn = int32_t (*)();
    using SetSwitchFn = int32_t (*)(int32_t, int32_t);
    using OutputsFn = int32_t (*)(int32_t, uint8_t*, uint8_t*);

    IntFn m_pfnSetBoards = nullptr;
    CountFn m_pfnBoards = nullptr;
    CountFn m_pfnInUse = nullptr;
    SetSwitchFn m_pfnSetHandSwitch = nullptr;
    IntFn m_pfnGetHandSwitch = nullptr;
    OutputsFn m_pfnGetOutputs = nullptr;
};

}  // namespace orvi
