#include "orviacquire/PixelModel.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>
#include <tuple>

// The row kernels are the hot path: built twice, so that processors with AVX2
// run the wider version. Not under ThreadSanitizer: the clone's resolver runs
// while the library is relocated, before the sanitizer's runtime is ready.
#if defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__) && !defined(__SANITIZE_THREAD__)
#define ORVI_SIM_KERNEL __attribute__((target_clones("avx2", "default")))
#else
#define ORVI_SIM_KERNEL
#endif

namespace orvi::sim {

uint64_t Mix64(uint64_t x) {
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

double PgaFactor(uint16_t nPga) {
    static constexpr std::array<double, 8> kFactors{0.40, 0.50, 0.60, 0.70, 0.85, 1.00, 1.20, 1.45};
    return kFactors[std::min<uint16_t>(nPga, 7)];
}

// The fixed patterns of one panel.
struct FixedMaps {
    int32_t nWidth = 0, nHeight = 0;
    std::vector<uint16_t> dark;  // offset in grey levels; saturated pixels lie above 16383
    std::vector<uint16_t> gain;  // gain x kGainOne; 0 = no response
    double fMeanGain = 1.0;      // mean of the responding pixels, in units of kGainOne
    ORVIAcqSimRect object{};
    std::vector<uint8_t> transmission;  // over the object's rectangle, x 255
    std::vector<ORVIAcqSimDefect> defects;
    std::vector<uint64_t> defectMask;  // one bit per pixel
    std::vector<int16_t> noise;        // unit normal x kNoiseOne

    bool IsDefect(size_t i) const { return (defectMask[i >> 6] >> (i & 63)) & 1u; }
};

namespace {

constexpr uint64_t kGolden = 0x9E3779B97F4A7C15ull;

// Pattern constants.
constexpr double kDarkBase = 1000.0;
constexpr double kChannelOffsetSd = 25.0;  // per readout group of 256 columns
constexpr double kColumnOffsetSd = 8.0;
constexpr double kRowRamp = 30.0;  // top to bottom
constexpr double kPixelOffsetSd = 4.0;
constexpr double kFallOff = 0.06;  // gain 1 - kFallOff (dx^2 + dy^2): 0.88 in the corners
constexpr double kChannelGainSd = 0.004;
constexpr double kPixelGainSd = 0.005;
constexpr int32_t kChannelWidth = 256;
constexpr double kGainOne = 16384.0;

// Noise constants.
constexpr double kReadNoise = 3.0;       // grey levels
constexpr double kPhotonVariance = 0.5;  // variance per grey level of signal
constexpr double kRowNoiseSd = 0.7;
constexpr int32_t kNoiseOne = 64;   // the table's unit
constexpr int32_t kNoiseClamp = 4;  // the table holds draws within 4 standard deviations
constexpr size_t kNoiseLength = size_t{1} << 17;

// Defects.
constexpr double kHotRaiseMin = 2500.0, kHotRaiseMax = 9000.0;
constexpr int kSaturatedHot = 5;
constexpr uint16_t kSaturated = ORVIACQ_MAX_PIXEL + 64;  // stays at 16383 whatever the noise
constexpr double kWeakColumnGain = 0.55;
constexpr double kBrightColumnRaise = 400.0;
constexpr double kBadRowRaise = 900.0, kBadRowGain = 1.25;
constexpr double kWeakClusterGain = 0.3;
constexpr int32_t kDefectGap = 3;
constexpr int32_t kDefectEdge = 8;

// A splitmix64 stream.
class CRandom {
public:
    explicit CRandom(uint64_t nSeed) : m_nState(nSeed) {}
    uint64_t Next() { return Mix64(m_nState += kGolden); }
    double Uniform() { return static_cast<double>(Next() >> 11) * 0x1.0p-53; }
    double Normal() {
        double u1 = 1.0 - Uniform();  // (0, 1]
        double u2 = Uniform();
        return std::sqrt(-2.0 * std::log(u1)) * std::cos(2.0 * std::numbers::pi * u2);
    }
    int32_t Range(int32_t nLow, int32_t nHigh) {  // inclusive; nLow when the range is empty
        if (nHigh <= nLow) return nLow;
        return nLow + static_cast<int32_t>(Next() % static_cast<uint64_t>(nHigh - nLow + 1));
    }

private:
    uint64_t m_nState;
};

uint64_t Hash(uint64_t nSeed, uint64_t a, uint64_t b) { return Mix64(Mix64(nSeed + a * kGolden) + (b + 1) * kGolden); }

// A unit normal from one hash: four 16-bit uniforms summed. It never goes past
// 3.46 standard deviations, so fixed patterns never make an accidental defect.
double BoundedNormal(uint64_t h) {
    double s = static_cast<double>(h & 0xFFFF) + static_cast<double>((h >> 16) & 0xFFFF) +
               static_cast<double>((h >> 32) & 0xFFFF) + static_cast<double>(h >> 48);
    return (s - 2.0 * 65535.0) / (65536.0 * 0.5773502691896258);
}

uint16_t ToU16(double v) { return static_cast<uint16_t>(std::clamp(std::lround(v), 0L, 65535L)); }

// ---- row kernels ----------------------------------------------------------

ORVI_SIM_KERNEL
void NoisyRow(uint16_t* __restrict pOut, const uint16_t* __restrict pMean, const uint8_t* __restrict pSigma2,
              const int16_t* __restrict pNoise, int32_t nBias, int32_t nCount) {
    for (int32_t x = 0; x < nCount; ++x) {
        int32_t v = int32_t{pMean[x]} + nBias + ((int32_t{pNoise[x]} * int32_t{pSigma2[x]} + 64) >> 7);
        v = v < 0 ? 0 : v;
        v = v > ORVIACQ_MAX_PIXEL ? ORVIACQ_MAX_PIXEL : v;
        pOut[x] = static_cast<uint16_t>(v);
    }
}

ORVI_SIM_KERNEL
void NoisyRowFlatSigma(uint16_t* __restrict pOut, const uint16_t* __restrict pMean, int32_t nSigma2,
                       const int16_t* __restrict pNoise, int32_t nBias, int32_t nCount) {
    for (int32_t x = 0; x < nCount; ++x) {
        int32_t v = int32_t{pMean[x]} + nBias + ((int32_t{pNoise[x]} * nSigma2 + 64) >> 7);
        v = v < 0 ? 0 : v;
        v = v > ORVIACQ_MAX_PIXEL ? ORVIACQ_MAX_PIXEL : v;
        pOut[x] = static_cast<uint16_t>(v);
    }
}

ORVI_SIM_KERNEL
void NoisyRowFlat(uint16_t* __restrict pOut, int32_t nMean, int32_t nSigma2, const int16_t* __restrict pNoise,
                  int32_t nCount) {
    for (int32_t x = 0; x < nCount; ++x) {
        int32_t v = nMean + ((int32_t{pNoise[x]} * nSigma2 + 64) >> 7);
        v = v < 0 ? 0 : v;
        v = v > ORVIACQ_MAX_PIXEL ? ORVIACQ_MAX_PIXEL : v;
        pOut[x] = static_cast<uint16_t>(v);
    }
}

ORVI_SIM_KERNEL
void ClampRow(uint16_t* __restrict pOut, const uint16_t* __restrict pMean, int32_t nCount) {
    for (int32_t x = 0; x < nCount; ++x)
        pOut[x] = pMean[x] > ORVIACQ_MAX_PIXEL ? uint16_t{ORVIACQ_MAX_PIXEL} : pMean[x];
}

// ---- fixed patterns -------------------------------------------------------

bool Near(const ORVIAcqSimRect& a, const ORVIAcqSimRect& b, int32_t nGap) {
    return b.nX - nGap < a.nX + a.nWidth && a.nX < b.nX + b.nWidth + nGap && b.nY - nGap < a.nY + a.nHeight &&
           a.nY < b.nY + b.nHeight + nGap;
}

// Rows first, then columns (which cross the rows), then clusters and single
// pixels, each kept kDefectGap from every defect placed before it.
std::vector<ORVIAcqSimDefect> PlantDefects(uint64_t nSeed, int32_t w, int32_t h) {
    CRandom rng(Mix64(nSeed ^ 0xDEFEC7ull));
    std::vector<ORVIAcqSimDefect> defects;
    auto place = [&](int32_t nKind, ORVIAcqSimRect r, int32_t nMaxX, int32_t nMaxY, bool bCrossesRows) {
        const int32_t nMinX = r.nX, nMinY = r.nY;
        for (int nTry = 0; nTry < 200; ++nTry) {
            r.nX = rng.Range(nMinX, nMaxX);
            r.nY = rng.Range(nMinY, nMaxY);
            bool bFree = true;
            for (const auto& d : defects) {
                if (bCrossesRows && d.nKind == ORVIACQ_DEFECT_BAD_ROW) continue;
                bFree = bFree && !Near(d.rect, r, kDefectGap);
            }
            if (bFree) {
                defects.push_back(ORVIAcqSimDefect{nKind, r});
                return;
            }
        }
    };
    const int32_t e = kDefectEdge;
    const double fArea = static_cast<double>(w) * h / (double{ORVIACQ_FRAME_WIDTH} * ORVIACQ_FRAME_HEIGHT);
    auto scaled = [&](int n, int nMin) { return std::max(nMin, static_cast<int>(std::lround(n * fArea))); };

    for (int i = 0; i < 2; ++i) place(ORVIACQ_DEFECT_BAD_ROW, {0, e, w, 1}, 0, h - 1 - e, false);
    for (int i = 0; i < 2; ++i) {
        int32_t nLength = rng.Range(h / 4, 3 * h / 4);
        place(ORVIACQ_DEFECT_WEAK_COLUMN, {e, e, 1, nLength}, w - 1 - e, h - e - nLength, true);
    }
    place(ORVIACQ_DEFECT_BRIGHT_COLUMN, {e, 0, 1, h}, w - 1 - e, 0, true);
    static constexpr std::array<std::array<int32_t, 2>, 6> kClusters{{{2, 2}, {3, 3}, {3, 2}, {4, 4}, {2, 3}, {3, 3}}};
    const int nClusters = scaled(6, 2);
    for (int i = 0; i < nClusters; ++i) {
        const auto& c = kClusters[static_cast<size_t>(i) % kClusters.size()];
        place(ORVIACQ_DEFECT_CLUSTER, {e, e, c[0], c[1]}, w - e - c[0], h - e - c[1], false);
    }
    const int nSingles = scaled(40, 4);
    for (int i = 0; i < nSingles; ++i) place(ORVIACQ_DEFECT_HOT, {e, e, 1, 1}, w - 1 - e, h - 1 - e, false);
    for (int i = 0; i < nSingles; ++i) place(ORVIACQ_DEFECT_DEAD, {e, e, 1, 1}, w - 1 - e, h - 1 - e, false);
    return defects;
}

// Transmission of the test object at (u, v) inside its rectangle of rw x rh.
double ObjectTransmission(int32_t u, int32_t v, int32_t rw, int32_t rh) {
    const double fu = static_cast<double>(u), fv = static_cast<double>(v);
    // Step wedge: eight steps from 0.85 down to 0.15.
    if (fv >= 0.05 * rh && fv < 0.30 * rh) return 0.85 - 0.1 * std::min(7, static_cast<int32_t>(8.0 * fu / rw));
    // Five discs of falling size and contrast.
    static constexpr std::array<double, 5> kDiscT{0.45, 0.65, 0.80, 0.90, 0.95};
    for (size_t k = 0; k < kDiscT.size(); ++k) {
        const double cu = rw * (0.1 + 0.2 * static_cast<double>(k)), cv = 0.52 * rh;
        const double r = rh * (0.16 - 0.025 * static_cast<double>(k));
        if ((fu - cu) * (fu - cu) + (fv - cv) * (fv - cv) <= r * r) return kDiscT[k];
    }
    // Line pairs: groups of five bars, bar width = gap width.
    if (fv >= 0.72 * rh && fv < 0.95 * rh) {
        static constexpr std::array<int32_t, 8> kBar{16, 12, 8, 6, 4, 3, 2, 1};
        int32_t nStart = rw / 20;
        for (int32_t b : kBar) {
            const int32_t nOff = u - nStart;
            if (nOff >= 0 && nOff < 10 * b) return (nOff / b) % 2 == 0 ? 0.30 : 0.92;
            nStart += 10 * b + 16;
        }
    }
    return 0.92;  // the phantom's base plate
}

std::shared_ptr<const FixedMaps> BuildFixedMaps(uint64_t nSeed, int32_t w, int32_t h) {
    auto pMaps = std::make_shared<FixedMaps>();
    FixedMaps& m = *pMaps;
    m.nWidth = w;
    m.nHeight = h;
    const size_t n = static_cast<size_t>(w) * static_cast<size_t>(h);
    m.defects = PlantDefects(nSeed, w, h);

    CRandom rng(Mix64(nSeed ^ 0xC01ull));
    const int32_t nChannels = (w + kChannelWidth - 1) / kChannelWidth;
    std::vector<double> chanOffset(static_cast<size_t>(nChannels)), chanGain(chanOffset.size());
    for (size_t c = 0; c < chanOffset.size(); ++c) {
        chanOffset[c] = kChannelOffsetSd * BoundedNormal(rng.Next());
        chanGain[c] = 1.0 + kChannelGainSd * BoundedNormal(rng.Next());
    }
    std::vector<double> colOffset(static_cast<size_t>(w));
    for (auto& c : colOffset) c = kColumnOffsetSd * BoundedNormal(rng.Next());

    // Dark and gain as doubles first, so the defects can be applied before rounding.
    std::vector<float> dark(n), gain(n);
    const uint64_t nPixelSeed = Mix64(nSeed ^ 0xF1A7ull);
    const double cx = (w - 1) / 2.0, cy = (h - 1) / 2.0;
    for (int32_t y = 0; y < h; ++y) {
        const double dy = (y - cy) / cy;
        const double fRamp = kRowRamp * y / std::max(1, h - 1);
        for (int32_t x = 0; x < w; ++x) {
            const double dx = (x - cx) / cx;
            const size_t i = static_cast<size_t>(y) * static_cast<size_t>(w) + static_cast<size_t>(x);
            const size_t c = static_cast<size_t>(x / kChannelWidth);
            dark[i] = static_cast<float>(kDarkBase + chanOffset[c] + colOffset[static_cast<size_t>(x)] + fRamp +
                                         kPixelOffsetSd * BoundedNormal(Hash(nPixelSeed, i, 0)));
            gain[i] = static_cast<float>((1.0 - kFallOff * (dx * dx + dy * dy)) * chanGain[c] *
                                         (1.0 + kPixelGainSd * BoundedNormal(Hash(nPixelSeed, i, 1))));
        }
    }

    m.defectMask.assign((n + 63) / 64, 0);
    int nHot = 0, nCluster = 0;
    for (const auto& d : m.defects) {
        const float fHotRaise = static_cast<float>(kHotRaiseMin + (kHotRaiseMax - kHotRaiseMin) * rng.Uniform());
        for (int32_t y = d.rect.nY; y < d.rect.nY + d.rect.nHeight; ++y)
            for (int32_t x = d.rect.nX; x < d.rect.nX + d.rect.nWidth; ++x) {
                const size_t i = static_cast<size_t>(y) * static_cast<size_t>(w) + static_cast<size_t>(x);
                m.defectMask[i >> 6] |= uint64_t{1} << (i & 63);
                switch (d.nKind) {
                case ORVIACQ_DEFECT_HOT:
                    if (nHot < kSaturatedHot) {
                        dark[i] = kSaturated;  // stuck at full scale, no response left
                        gain[i] = 0.0f;
                    } else {
                        dark[i] += fHotRaise;
                    }
                    break;
                case ORVIACQ_DEFECT_DEAD: gain[i] = 0.0f; break;
                case ORVIACQ_DEFECT_CLUSTER:
                    gain[i] = nCluster % 2 == 0 ? 0.0f : gain[i] * static_cast<float>(kWeakClusterGain);
                    break;
                case ORVIACQ_DEFECT_WEAK_COLUMN: gain[i] *= static_cast<float>(kWeakColumnGain); break;
                case ORVIACQ_DEFECT_BRIGHT_COLUMN: dark[i] += static_cast<float>(kBrightColumnRaise); break;
                case ORVIACQ_DEFECT_BAD_ROW:
                    dark[i] += static_cast<float>(kBadRowRaise);
                    gain[i] *= static_cast<float>(kBadRowGain);
                    break;
                default: break;
                }
            }
        if (d.nKind == ORVIACQ_DEFECT_HOT) ++nHot;
        if (d.nKind == ORVIACQ_DEFECT_CLUSTER) ++nCluster;
    }

    m.dark.resize(n);
    m.gain.resize(n);
    double fSum = 0.0;
    size_t nLive = 0;
    for (size_t i = 0; i < n; ++i) {
        m.dark[i] = ToU16(dark[i]);
        m.gain[i] = ToU16(gain[i] * kGainOne);
        if (m.gain[i] != 0) fSum += m.gain[i], ++nLive;
    }
    m.fMeanGain = nLive != 0 ? fSum / static_cast<double>(nLive) : kGainOne;

    m.object = ORVIAcqSimRect{w * 8 / 100, h * 8 / 100, w * 84 / 100, h * 44 / 100};
    m.transmission.resize(static_cast<size_t>(m.object.nWidth) * static_cast<size_t>(m.object.nHeight));
    for (int32_t v = 0; v < m.object.nHeight; ++v)
        for (int32_t u = 0; u < m.object.nWidth; ++u)
            m.transmission[static_cast<size_t>(v) * static_cast<size_t>(m.object.nWidth) + static_cast<size_t>(u)] =
                static_cast<uint8_t>(std::lround(255.0 * ObjectTransmission(u, v, m.object.nWidth, m.object.nHeight)));

    CRandom noise(Mix64(nSeed ^ 0x5E15Eull));
    m.noise.resize(kNoiseLength + static_cast<size_t>(w));
    constexpr long kLimit = long{kNoiseClamp} * kNoiseOne;
    for (auto& v : m.noise)
        v = static_cast<int16_t>(std::clamp(std::lround(kNoiseOne * noise.Normal()), -kLimit, kLimit));
    return pMaps;
}

// The last panels built stay ready: a detector opened again (each test does)
// does not build its patterns again.
std::shared_ptr<const FixedMaps> FixedMapsFor(uint64_t nSeed, int32_t w, int32_t h) {
    constexpr size_t kKeep = 2;
    using Key = std::tuple<uint64_t, int32_t, int32_t>;
    static std::vector<std::pair<Key, std::shared_ptr<const FixedMaps>>> s_recent;
    const Key key{nSeed, w, h};
    for (size_t i = 0; i < s_recent.size(); ++i)
        if (s_recent[i].first == key) {
            auto entry = s_recent[i];
            s_recent.erase(s_recent.begin() + static_cast<std::ptrdiff_t>(i));
            s_recent.insert(s_recent.begin(), entry);
            return entry.second;
        }
    auto pMaps = BuildFixedMaps(nSeed, w, h);
    s_recent.insert(s_recent.begin(), {key, pMaps});
    if (s_recent.size() > kKeep) s_recent.pop_back();
    return pMaps;
}

// Twice the noise's standard deviation for a signal, by whole grey levels.
const std::vector<uint8_t>& SigmaTable() {
    static const std::vector<uint8_t> s_table = [] {
        std::vector<uint8_t> t(65536);
        for (size_t s = 0; s < t.size(); ++s)
            t[s] = static_cast<uint8_t>(std::min(
                255L,
                std::lround(2.0 * std::sqrt(kReadNoise * kReadNoise + kPhotonVariance * static_cast<double>(s)))));
        return t;
    }();
    return s_table;
}

constexpr int32_t kDarkSigma2 = static_cast<int32_t>(2 * kReadNoise);

// A key with the fields that do not change the expected frame set to one value.
FrameSetup Normalised(FrameSetup s) {
    s.bNoise = true;
    if (!s.bExposure) {
        s.nDose = 0;
        s.nPga = 5;
        s.bObjectIn = false;
        s.bGain = false;
    }
    return s;
}

}  // namespace

CPixelModel::CPixelModel(uint32_t nSeed, int32_t nIndex, int32_t nWidth, int32_t nHeight)
    : m_nNoiseSeed(Hash(nSeed, static_cast<uint64_t>(nIndex), 0x4E015Eull)) {
    const uint64_t nPanelSeed = Hash(nSeed, static_cast<uint64_t>(nIndex), 0x9A4E1ull);
    m_pMaps = FixedMapsFor(nPanelSeed, std::clamp(nWidth, 1, int32_t{ORVIACQ_FRAME_WIDTH}),
                           std::clamp(nHeight, 1, int32_t{ORVIACQ_FRAME_HEIGHT}));
}

CPixelModel::~CPixelModel() = default;

int32_t CPixelModel::Width() const { return m_pMaps->nWidth; }
int32_t CPixelModel::Height() const { return m_pMaps->nHeight; }
const std::vector<ORVIAcqSimDefect>& CPixelModel::Defects() const { return m_pMaps->defects; }
ORVIAcqSimRect CPixelModel::ObjectRect() const { return m_pMaps->object; }

void CPixelModel::Build(Expected& e, const FrameSetup& key) const {
    const FixedMaps& m = *m_pMaps;
    const int32_t w = m.nWidth, h = m.nHeight;
    const size_t n = static_cast<size_t>(w) * static_cast<size_t>(h);
    const std::vector<uint8_t>& sigmaOf = SigmaTable();
    e.mean.resize(n);
    e.sigma2.resize(n);
    const float fScale = key.bExposure ? static_cast<float>(key.nDose * PgaFactor(key.nPga) / kGainOne) : 0.0f;
    const float fFlatGain = static_cast<float>(m.fMeanGain);
    const ORVIAcqSimRect& o = m.object;
    std::vector<float> rowScale(static_cast<size_t>(w));
    for (int32_t y = 0; y < h; ++y) {
        // The signal per unit of gain along the row: the object's transmission where it lies.
        std::fill(rowScale.begin(), rowScale.end(), fScale);
        if (key.bObjectIn && y >= o.nY && y < o.nY + o.nHeight) {
            const uint8_t* pT = &m.transmission[static_cast<size_t>(y - o.nY) * static_cast<size_t>(o.nWidth)];
            for (int32_t u = 0; u < o.nWidth; ++u)
                rowScale[static_cast<size_t>(o.nX + u)] = fScale * pT[u] * (1.0f / 255.0f);
        }
        const size_t nRow = static_cast<size_t>(y) * static_cast<size_t>(w);
        const uint16_t* pGain = &m.gain[nRow];
        const uint16_t* pDark = &m.dark[nRow];
        uint16_t* pMean = &e.mean[nRow];
        uint8_t* pSigma = &e.sigma2[nRow];
        for (int32_t x = 0; x < w; ++x) {
            const float fGain = (key.bGain && pGain[x] != 0) ? fFlatGain : static_cast<float>(pGain[x]);
            const float fSignal = std::min(rowScale[static_cast<size_t>(x)] * fGain, 65535.0f);
            const float fDark = key.bOffset ? float{ORVIACQ_OFFSET_PEDESTAL} : static_cast<float>(pDark[x]);
            pMean[x] = static_cast<uint16_t>(std::min(fDark + fSignal + 0.5f, 65535.0f));
            pSigma[x] = sigmaOf[static_cast<size_t>(fSignal + 0.5f)];
        }
    }
    if (key.bDefect) {
        // Only good pixels are read and only defects written, so the order does not matter.
        for (const auto& d : m.defects)
            for (int32_t y = d.rect.nY; y < d.rect.nY + d.rect.nHeight; ++y)
                for (int32_t x = d.rect.nX; x < d.rect.nX + d.rect.nWidth; ++x) {
                    for (int32_t r = 1; r <= 2; ++r) {
                        uint32_t nMean = 0, nSigma = 0, nCount = 0;
                        for (int32_t yy = std::max(0, y - r); yy <= std::min(h - 1, y + r); ++yy)
                            for (int32_t xx = std::max(0, x - r); xx <= std::min(w - 1, x + r); ++xx) {
                                const size_t j =
                                    static_cast<size_t>(yy) * static_cast<size_t>(w) + static_cast<size_t>(xx);
                                if (m.IsDefect(j)) continue;
                                nMean += e.mean[j], nSigma += e.sigma2[j], ++nCount;
                            }
                        if (nCount != 0) {
                            const size_t i = static_cast<size_t>(y) * static_cast<size_t>(w) + static_cast<size_t>(x);
                            e.mean[i] = static_cast<uint16_t>((nMean + nCount / 2) / nCount);
                            e.sigma2[i] = static_cast<uint8_t>((nSigma + nCount / 2) / nCount);
                            break;
                        }
                    }
                }
    }
    e.key = key;
    e.bValid = true;
}

const CPixelModel::Expected& CPixelModel::ExpectedFor(const FrameSetup& key) {
    Expected& e = key.bExposure ? m_exposure : m_dark;
    if (!e.bValid || !(e.key == key)) Build(e, key);
    return e;
}

void CPixelModel::Produce(uint16_t* pFrame, const FrameSetup& setup, uint64_t nFrameNumber) {
    const FixedMaps& m = *m_pMaps;
    const int32_t w = m.nWidth, h = m.nHeight;
    const FrameSetup key = Normalised(setup);

    // What the rows are made of: a flat pedestal, the dark map, or an expected frame.
    const bool bFlat = !key.bExposure && key.bOffset;
    const bool bPlainDark = !key.bExposure && !key.bOffset && !key.bDefect;
    const Expected* pExpected = (bFlat || bPlainDark) ? nullptr : &ExpectedFor(key);

    const uint64_t nFrameSeed = Hash(m_nNoiseSeed, nFrameNumber, 0xF4A3Eull);
    for (int32_t y = 0; y < h; ++y) {
        const size_t nRow = static_cast<size_t>(y) * static_cast<size_t>(w);
        uint16_t* pOut = pFrame + nRow;
        const uint16_t* pMean = bPlainDark ? &m.dark[nRow] : (pExpected ? &pExpected->mean[nRow] : nullptr);
        if (!setup.bNoise) {
            if (pMean != nullptr)
                ClampRow(pOut, pMean, w);
            else
                std::fill(pOut, pOut + w, uint16_t{ORVIACQ_OFFSET_PEDESTAL});
            continue;
        }
        const uint64_t nHash = Hash(nFrameSeed, static_cast<uint64_t>(y), 0);
        const int16_t* pNoise = &m.noise[nHash & (kNoiseLength - 1)];
        const int32_t nBias = static_cast<int32_t>(std::lround(kRowNoiseSd * BoundedNormal(Mix64(nHash))));
        if (bFlat)
            NoisyRowFlat(pOut, ORVIACQ_OFFSET_PEDESTAL + nBias, kDarkSigma2, pNoise, w);
        else if (bPlainDark)
            NoisyRowFlatSigma(pOut, pMean, kDarkSigma2, pNoise, nBias, w);
        else
            NoisyRow(pOut, pMean, &pExpected->sigma2[nRow], pNoise, nBias, w);
    }
}

}  // namespace orvi::sim
