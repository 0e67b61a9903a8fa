#pragma once
// Settings of the simulated detector: section [SIMULATOR] of the configuration
// file named in the open record. Every key is documented in ORVIAcquireLib.h.
#include <cstdint>
#include <string>

namespace orvi::sim {

inline constexpr const char* kSimSection = "SIMULATOR";

struct SimSettings {
    uint32_t nSeed = 1;
    int32_t nDose = 10000;
    bool bObjectIn = true;
    bool bNoise = true;
    int32_t nAutoFireMs = -1;  // -1 derived from AecExpTime, 0 never
    int32_t nEnableMs = 500;
    int32_t nReadoutMs = 300;
    int32_t nExposureWindowMs = 30000;  // 0 = no limit
    int32_t nSerialMs = 50;
    int32_t nWidth = 3072;
    int32_t nHeight = 3072;
    int32_t nInitFailure[2] = {0, 0};
    bool bMissingGain = false;
    bool bMissingDefect = false;
    bool bMissingOffset = false;
    int32_t nCorruptPackets = 0;  // -1 = every packet
};

// Reads the settings. A missing file or key gives the default; a value out of
// its range is brought to the nearest end of it.
SimSettings ReadSimSettings(const std::string& strIniPath);

}  // namespace orvi::sim
