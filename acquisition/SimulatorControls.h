#pragma once
// The simulated detector's own controls (the test object in or out of the
// beam, the dose), when the loaded acquisition library is the simulator. A
// library for a real panel has no such calls: they are looked up by name at
// run time, so the program starts and works without them and simply offers
// no simulator controls.
#include <cstdint>
#include <string>

namespace orvi {

class CSimulatorControls {
public:
    using SetFn = int32_t (*)(uint32_t hDetector, int32_t nValue);

    // The controls of the libraries already loaded into the process.
    static CSimulatorControls Lookup();
    // The controls of one library opened with dlopen (tests).
    static CSimulatorControls LookupIn(void* pLibrary);

    // True when the loaded library offers the controls.
    bool Available() const { return m_pfnSetObjectIn != nullptr && m_pfnSetDose != nullptr; }

    // Each returns the library's result, or -1 when the controls are missing.
    int32_t SetObjectIn(uint32_t hDetector, bool bIn) const;
    int32_t SetDose(uint32_t hDetector, int32_t nDose) const;

    // The simulated generator (the room panel): fire now (1 taken, 0 lost),
    // and the milliseconds until it fires by itself (-1 not counting). -1
    // and -2 without the calls.
    bool CanFire() const { return m_pfnFireXray != nullptr && m_pfnXrayDue != nullptr; }
    int32_t FireXray(uint32_t hDetector) const;
    int32_t XrayDue(uint32_t hDetector) const;

    // The simulated generator fires by itself nMs after each arming (the
    // headless station's --fire-after). The library's result, -1 without the call.
    bool CanAutoFire() const { return m_pfnSetAutoFire != nullptr; }
    int32_t SetAutoFire(uint32_t hDetector, int32_t nMs) const;

    // What the simulator is told at Connect, from [SIMULATOR] of the
    // configuration file: OBJECT (default 1) and DOSE (default 10000).
    static bool ConfiguredObjectIn(const std::string& strIniPath);
    static int32_t ConfiguredDose(const std::string& strIniPath);

    static constexpr int32_t kMaxDose = 16383;

private:
    SetFn m_pfnSetObjectIn = nullptr;
    SetFn m_pfnSetDose = nullptr;
    using HandleFn = int32_t (*)(uint32_t hDetector);
    HandleFn m_pfnFireXray = nullptr;
    HandleFn m_pfnXrayDue = nullptr;
    SetFn m_pfnSetAutoFire = nullptr;
};

}  // namespace orvi
