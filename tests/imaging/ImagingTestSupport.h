#pragma once
// Frames, RAW files, log capture and instruction-set levels for the imaging
// and display suites.
#include "app/EventLog.h"
#include "imaging/SimdKernels.h"
#include "support/TestSupport.h"

#include <algorithm>
#include <cstdint>
#include <ostream>
#include <random>
#include <string>
#include <vector>

namespace orvi::test {

using Frame = std::vector<uint16_t>;

// Random pixels: mostly 14-bit values, with 0, 16383, 16384 and values up to
// 65535 mixed in, so every limit of a rule is crossed.
inline Frame RandomFrame(int32_t nWidth, int32_t nHeight, uint32_t nSeed) {
    std::mt19937 rng(nSeed);
    Frame f(size_t(nWidth) * size_t(nHeight));
    for (auto& v : f) {
        uint32_t r = rng() % 100;
        v = r < 5    ? 0
            : r < 8  ? 16383
            : r < 11 ? 16384
            : r < 20 ? uint16_t(16384 + rng() % 49152)
                     : uint16_t(rng() % 16384);
    }
    return f;
}

// A detector-like frame: a level with a gentle slope and noise, clipped to
// 16 bits; a few pixels far off.
inline Frame DetectorFrame(int32_t nWidth, int32_t nHeight, int32_t nLevel, int32_t nNoise, uint32_t nSeed) {
    std::mt19937 rng(nSeed);
    std::normal_distribution<double> noise(0.0, double(nNoise));
    Frame f(size_t(nWidth) * size_t(nHeight));
    for (int32_t r = 0; r < nHeight; ++r)
        for (int32_t c = 0; c < nWidth; ++c) {
            double v = nLevel * (0.9 + 0.2 * double(c) / nWidth) + noise(rng);
            if (rng() % 500 == 0) v = (rng() % 2) ? v * 3 : v / 4;  // defects
            f[size_t(r) * nWidth + c] = uint16_t(std::clamp(v, 0.0, 65535.0));
        }
    return f;
}

inline std::string Bytes(const Frame& f) { return std::string(reinterpret_cast<const char*>(f.data()), f.size() * 2); }
inline void WriteRaw(const std::string& strPath, const Frame& f) { WriteFile(strPath, Bytes(f)); }
inline Frame ReadRaw(const std::string& strPath) {
    std::string s = ReadFile(strPath);
    Frame f(s.size() / 2);
    std::copy(s.data(), s.data() + f.size() * 2, reinterpret_cast<char*>(f.data()));
    return f;
}

// Routes the event log into a temporary file for the life of the object.
class LogCapture {
public:
    LogCapture() {
        SetLogPath(m_dir.file(kLogFileName));
        g_bWriteLog = 1;
    }
    ~LogCapture() {
        g_bWriteLog = 0;
        SetLogPath(kLogFileName);
    }
    // The messages written, without their time columns.
    std::vector<std::string> Messages() const {
        std::vector<std::string> v;
        std::string s = ReadFile(m_dir.file(kLogFileName));
        for (size_t nPos = 0; nPos < s.size();) {
            size_t nEnd = s.find('\n', nPos);
            std::string strLine = s.substr(nPos, nEnd - nPos);
            size_t nMark = strLine.find(" ms] ");
            v.push_back(nMark == std::string::npos ? strLine : strLine.substr(nMark + 5));
            nPos = nEnd == std::string::npos ? s.size() : nEnd + 1;
        }
        return v;
    }

private:
    TempDir m_dir;
};

// The instruction-set levels this processor runs; the kernels are checked at each.
inline std::vector<SimdLevel> SimdLevels() {
    std::vector<SimdLevel> v{SimdLevel::Baseline};
    if (SupportedSimdLevel() == SimdLevel::Avx2) v.push_back(SimdLevel::Avx2);
    return v;
}
inline std::string SimdName(SimdLevel e) { return e == SimdLevel::Avx2 ? "Avx2" : "Baseline"; }

class SimdScope {
public:
    explicit SimdScope(SimdLevel e) { LimitSimdLevel(e); }
    ~SimdScope() { LimitSimdLevel(SimdLevel::Avx2); }
};

}  // namespace orvi::test

namespace orvi {
inline void PrintTo(SimdLevel e, std::ostream* os) { *os << test::SimdName(e); }
}  // namespace orvi
