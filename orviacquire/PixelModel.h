#pragma once
// The simulated panel's pixels.
//
// Fixed patterns (dark offset, gain, test object, defects, a table of noise)
// are built once per panel and shared by every detector opened with the same
// seed, index and size. For each combination of dose, amplifier gain, object
// and library corrections the model keeps the expected frame (mean and noise
// level per pixel); a frame is then one pass over it that adds noise drawn
// from the table at seeded offsets, so it costs little more than a copy.
#include "orviacquire/ORVIAcquireLib.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace orvi::sim {

// Signal factor of the amplifier setting: PGA 5 is 1.0, values above 7 act as 7.
double PgaFactor(uint16_t nPga);

// Deterministic random numbers (splitmix64).
uint64_t Mix64(uint64_t x);

// What one frame is.
struct FrameSetup {
    bool bExposure = false;  // X-ray reached the panel
    int32_t nDose = 0;       // grey levels at the centre at PGA 5 (exposures)
    uint16_t nPga = 5;
    bool bObjectIn = false;
    bool bOffset = false;  // the library's corrections
    bool bGain = false;
    bool bDefect = false;
    bool bNoise = true;
    bool operator==(const FrameSetup&) const = default;
};

struct FixedMaps;

class CPixelModel {
public:
    // The patterns of panel nIndex for nSeed. Detector B's differ from A's.
    CPixelModel(uint32_t nSeed, int32_t nIndex, int32_t nWidth, int32_t nHeight);
    ~CPixelModel();
    CPixelModel(const CPixelModel&) = delete;
    CPixelModel& operator=(const CPixelModel&) = delete;

    int32_t Width() const;
    int32_t Height() const;
    const std::vector<ORVIAcqSimDefect>& Defects() const;
    ORVIAcqSimRect ObjectRect() const;

    // Writes the frame's width x height pixels at pFrame (row stride = width).
    // nFrameNumber picks the noise: the same number gives the same frame.
    void Produce(uint16_t* pFrame, const FrameSetup& setup, uint64_t nFrameNumber);

private:
    struct Expected {
        bool bValid = false;
        FrameSetup key;
        std::vector<uint16_t> mean;   // may exceed 16383 where a pixel saturates
        std::vector<uint8_t> sigma2;  // twice the noise's standard deviation
    };
    const Expected& ExpectedFor(const FrameSetup& key);
    void Build(Expected& e, const FrameSetup& key) const;

    std::shared_ptr<const FixedMaps> m_pMaps;
    uint64_t m_nNoiseSeed;
    Expected m_exposure;  // the last exposure kind asked for
    Expected m_dark;      // darks with defect correction
};

}  // namespace orvi::sim
