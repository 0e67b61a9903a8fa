#include "orviacquire/SimSettings.h"

#include "app/Profile.h"
#include "orviacquire/ORVIAcquireLib.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>

namespace orvi::sim {
namespace {

constexpr int32_t kMaxStepMs = 60000;
constexpr int32_t kMaxWaitMs = 3600000;

int32_t ReadClamped(const std::string& strPath, const char* szKey, int32_t nDefault, int32_t nMin, int32_t nMax) {
    return std::clamp(ReadProfileInt(strPath, kSimSection, szKey, nDefault), nMin, nMax);
}

// The seed takes the whole unsigned 32-bit range, which the integer reader saturates.
uint32_t ReadSeed(const std::string& strPath, uint32_t nDefault) {
    std::string strText = ReadProfileText(strPath, kSimSection, "SEED", "", 32);
    size_t i = strText.find_first_not_of(" \t");
    if (i == std::string::npos || !std::isdigit(static_cast<unsigned char>(strText[i]))) return nDefault;
    uint64_t nValue = 0;
    for (; i < strText.size() && std::isdigit(static_cast<unsigned char>(strText[i])); ++i)
        nValue = std::min<uint64_t>(nValue * 10 + static_cast<uint64_t>(strText[i] - '0'), UINT32_MAX);
    return static_cast<uint32_t>(nValue);
}

}  // namespace

SimSettings ReadSimSettings(const std::string& strIniPath) {
    SimSettings s;
    if (strIniPath.empty()) return s;
    const std::string& p = strIniPath;
    s.nSeed = ReadSeed(p, s.nSeed);
    s.nDose = ReadClamped(p, "DOSE", s.nDose, 0, ORVIACQ_MAX_PIXEL);
    s.bObjectIn = ReadProfileInt(p, kSimSection, "OBJECT", 1) != 0;
    s.bNoise = ReadProfileInt(p, kSimSection, "NOISE", 1) != 0;
    s.nAutoFireMs = ReadClamped(p, "AUTO_FIRE_MS", s.nAutoFireMs, -1, kMaxWaitMs);
    s.nEnableMs = ReadClamped(p, "ENABLE_MS", s.nEnableMs, 0, kMaxStepMs);
    s.nReadoutMs = ReadClamped(p, "READOUT_MS", s.nReadoutMs, 0, kMaxStepMs);
    s.nExposureWindowMs = ReadClamped(p, "EXPOSURE_WINDOW_MS", s.nExposureWindowMs, 0, kMaxWaitMs);
    s.nSerialMs = ReadClamped(p, "SERIAL_MS", s.nSerialMs, 0, kMaxStepMs);
    s.nWidth = ReadClamped(p, "FRAME_WIDTH", s.nWidth, 64, ORVIACQ_FRAME_WIDTH);
    s.nHeight = ReadClamped(p, "FRAME_HEIGHT", s.nHeight, 64, ORVIACQ_FRAME_HEIGHT);
    for (int32_t i = 0; i < 2; ++i) {
        const std::string strKey = "INIT_FAILURE_" + std::to_string(i + 1);
        int32_t n = ReadProfileInt(p, kSimSection, strKey, 0);
        s.nInitFailure[i] = (n >= ORVIACQ_INIT_LINK_SPEED && n <= ORVIACQ_INIT_SERIAL_PORT) ? n : 0;
    }
    std::string strMissing = ReadProfileText(p, kSimSection, "MISSING_CORRECTION", "", 256);
    for (char& c : strMissing) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    size_t nPos = 0;
    while (nPos <= strMissing.size()) {
        size_t nEnd = strMissing.find_first_of(", \t", nPos);
        if (nEnd == std::string::npos) nEnd = strMissing.size();
        const std::string strWord = strMissing.substr(nPos, nEnd - nPos);
        if (strWord == "GAIN") s.bMissingGain = true;
        if (strWord == "DEFECT") s.bMissingDefect = true;
        if (strWord == "OFFSET") s.bMissingOffset = true;
        nPos = nEnd + 1;
    }
    s.nCorruptPackets = ReadClamped(p, "CORRUPT_PACKET", 0, -1, INT32_MAX);
    return s;
}

}  // namespace orvi::sim
