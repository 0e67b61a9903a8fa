#include "acquisition/SimulatorControls.h"

#include "app/Profile.h"

#include <algorithm>
#include <dlfcn.h>

namespace orvi {

namespace {

constexpr const char* kSimSection = "SIMULATOR";

CSimulatorControls::SetFn Find(void* pLibrary, const char* szName) {
    return reinterpret_cast<CSimulatorControls::SetFn>(dlsym(pLibrary, szName));
}

}  // namespace

CSimulatorControls CSimulatorControls::Lookup() { return LookupIn(RTLD_DEFAULT); }

CSimulatorControls CSimulatorControls::LookupIn(void* pLibrary) {
    CSimulatorControls c;
    c.m_pfnSetObjectIn = Find(pLibrary, "AcquisitionSim_SetObjectIn");
    c.m_pfnSetDose = Find(pLibrary, "AcquisitionSim_SetDose");
    c.m_pfnFireXray = reinterpret_cast<HandleFn>(dlsym(pLibrary, "AcquisitionSim_FireXray"));
    c.m_pfnXrayDue = reinterpret_cast<HandleFn>(dlsym(pLibrary, "AcquisitionSim_GetXrayDue"));
    c.m_pfnSetAutoFire = Find(pLibrary, "AcquisitionSim_SetAutoFire");
    return c;
}

int32_t CSimulatorControls::SetObjectIn(uint32_t hDetector, bool bIn) const {
    return m_pfnSetObjectIn != nullptr ? m_pfnSetObjectIn(hDetector, bIn ? 1 : 0) : -1;
}

int32_t CSimulatorControls::SetDose(uint32_t hDetector, int32_t nDose) const {
    return m_pfnSetDose != nullptr ? m_pfnSetDose(hDetector, nDose) : -1;
}

int32_t CSimulatorControls::FireXray(uint32_t hDetector) const {
    return m_pfnFireXray != nullptr ? m_pfnFireXray(hDetector) : -1;
}

int32_t CSimulatorControls::XrayDue(uint32_t hDetector) const {
    return m_pfnXrayDue != nullptr ? m_pfnXrayDue(hDetector) : -2;
}

int32_t CSimulatorControls::SetAutoFire(uint32_t hDetector, int32_t nMs) const {
    return m_pfnSetAutoFire != nullptr ? m_pfnSetAutoFire(hDetector, nMs) : -1;
}

bool CSimulatorControls::ConfiguredObjectIn(const std::string& strIniPath) {
    return ReadProfileInt(strIniPath, kSimSection, "OBJECT", 1) != 0;
}

int32_t CSimulatorControls::ConfiguredDose(const std::string& strIniPath) {
    return std::clamp(ReadProfileInt(strIniPath, kSimSection, "DOSE", 10000), 0, kMaxDose);
}

}  // namespace orvi
