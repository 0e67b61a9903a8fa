#include "acquisition/BoardSimControls.h"

#include "app/Profile.h"

#include <algorithm>
#include <dlfcn.h>

namespace orvi {

namespace {

template <typename Fn>
void Find(Fn& pfn, const char* szName) {
    pfn = reinterpret_cast<Fn>(dlsym(RTLD_DEFAULT, szName));
}

}  // namespace

CBoardSimControls CBoardSimControls::Lookup() {
    CBoardSimControls c;
    Find(c.m_pfnSetBoards, "PelkioSim_SetBoards");
    Find(c.m_pfnBoards, "PelkioSim_Boards");
    Find(c.m_pfnInUse, "PelkioSim_InUse");
    Find(c.m_pfnSetHandSwitch, "PelkioSim_SetHandSwitch");
    Find(c.m_pfnGetHandSwitch, "PelkioSim_GetHandSwitch");
    Find(c.m_pfnGetOutputs, "PelkioSim_GetOutputs");
    // All or nothing: a library with only some of them is not the simulator.
    if (!c.m_pfnSetBoards || !c.m_pfnBoards || !c.m_pfnInUse || !c.m_pfnSetHandSwitch || !c.m_pfnGetHandSwitch ||
        !c.m_pfnGetOutputs)
        c = CBoardSimControls{};
    return c;
}

int32_t CBoardSimControls::SetBoards(int32_t nBoards) const { return Available() ? m_pfnSetBoards(nBoards) : 0; }

int32_t CBoardSimControls::Boards() const { return Available() ? m_pfnBoards() : 0; }

bool CBoardSimControls::InUse() const { return Available() && m_pfnInUse() != 0; }

bool CBoardSimControls::SetHandSwitch(int32_t nBoard, HandStage stage) const {
    return Available() && m_pfnSetHandSwitch(nBoard, static_cast<int32_t>(stage)) != 0;
}

int32_t CBoardSimControls::HandSwitch(int32_t nBoard) const { return Available() ? m_pfnGetHandSwitch(nBoard) : -1; }

bool CBoardSimControls::Outputs(int32_t nBoard, uint8_t& byOut1, uint8_t& byOut2) const {
    byOut1 = 0xFF;
    byOut2 = 0xFF;
    return Available() && m_pfnGetOutputs(nBoard, &byOut1, &byOut2) != 0;
}

int32_t CBoardSimControls::ConfiguredBoards(const std::string& strIniPath) {
    return std::clamp(ReadProfileInt(strIniPath, "SIMULATOR", "BOARDS", 0), 0, 2);
}

}  // namespace orvi
