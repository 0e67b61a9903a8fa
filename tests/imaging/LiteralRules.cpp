#include "LiteralRules.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace orvi::literal {

void MirrorRows(uint16_t* frame, int32_t W, int32_t H) {
    std::vector<uint16_t> copy(frame, frame + size_t(W) * size_t(H));
    for (int32_t r = 0; r <= H - 1; ++r)
        for (int32_t c = 0; c <= W - 1; ++c) frame[r * W + c] = copy[r * W + (W - 1 - c)];
}

Exposure CheckExposure(const uint16_t* frame, int32_t W, int32_t H, int32_t nStdDevRange) {
    Exposure e;
    int64_t from = int64_t{28} * W;
    int64_t to = (int64_t{H} - 56) * W;
    int64_t n = to - from;
    if (from >= to || n < 2) return e;
    int64_t S = 0, Q = 0;
    for (int64_t i = from; i < to; ++i) {
        S += frame[i];
        Q += int64_t{frame[i]} * frame[i];
    }
    int64_t mean = S / n;
    int64_t variance = (Q - mean * S) / (n - 1);
    e.bChecked = true;
    e.dStdDev = std::sqrt(double(variance));
    e.bExposed = e.dStdDev > double(nStdDevRange);
    return e;
}

int32_t DoseIndicator(const uint16_t* frame, int32_t W, int32_t H, int32_t X, int32_t Y, int32_t WIDTH,
                      int32_t HEIGHT) {
    std::vector<uint32_t> counter(16384, 0);
    int64_t total = 0;
    for (int64_t r = Y; r <= int64_t{Y} + HEIGHT - 1; ++r) {
        if (r < 0 || r >= H) continue;
        if (WIDTH < 0) total += WIDTH;
        if (WIDTH > 0)
            for (int64_t c = X; c <= int64_t{X} + WIDTH - 1; ++c) {
                if (c < 0 || c >= W) continue;
                uint16_t v = frame[r * W + c];
                if (v > 16383) v = 16383;
                counter[v] += 1;
                total += 1;
            }
    }
    int64_t threshold = int64_t(double(total) * 0.8);
    int64_t accumulated = 0;
    for (int32_t k = 0; k < 16384; ++k) {
        accumulated += counter[size_t(k)];
        if (accumulated > threshold) return k;
    }
    return 16384;
}

void ApplyOffset(uint16_t* frame, size_t N, int32_t nOffsetControl) {
    for (size_t i = 0; i <= N - 1 && N > 0; ++i) {
        int64_t v = int64_t{frame[i]} + nOffsetControl;
        if (v > 16382) v = 16383;
        frame[i] = uint16_t(uint64_t(v) & 0xFFFF);
    }
}

void MedianFilter3x3(uint16_t* frame, int32_t W, int32_t H) {
    std::vector<uint16_t> copy(frame, frame + size_t(W) * size_t(H));
    uint16_t a[9];
    for (int32_t x = 1; x <= W - 3; ++x)
        for (int32_t y = 1; y <= H - 3; ++y) {
            int k = 0;
            for (int32_t yy = y - 1; yy <= y + 1; ++yy)
                for (int32_t xx = x - 1; xx <= x + 1; ++xx) a[k++] = copy[size_t(yy) * W + xx];
            for (int i = 1; i < 9; ++i) {  // insertion sort
                uint16_t t = a[i];
                int j = i - 1;
                while (j >= 0 && a[j] > t) {
                    a[j + 1] = a[j];
                    --j;
                }
                a[j + 1] = t;
            }
            uint16_t median = a[4];
            if (median > 16383) median = 16383;
            frame[size_t(y) * W + x] = median;
        }
}

void CutImage(uint16_t* frame, int32_t W, int32_t H, int32_t top, int32_t bottom, int32_t left, int32_t right) {
    size_t k = 0;
    for (int32_t r = top; r <= H - bottom - 1; ++r)
        for (int32_t c = left; c <= W - right - 1; ++c) {
            frame[k] = frame[size_t(r) * W + c];
            k += 1;
        }
}

int64_t Mean(const uint16_t* frame, size_t N) {
    int64_t sum = 0;
    for (size_t i = 0; i < N; ++i) sum += frame[i];
    return sum / int64_t(N);
}

int64_t BrightMinusDark(const uint16_t* backup, uint16_t* frame, size_t N) {
    int64_t sum = 0;
    for (size_t i = 0; i <= N - 1; ++i) {
        int32_t d = int32_t{backup[i]} - int32_t{frame[i]};
        sum += d;
        frame[i] = uint16_t(uint32_t(d) & 0xFFFF);
    }
    return sum / int64_t(N);
}

std::string LevelFileName(bool bDark, int64_t m) {
    const char* format;
    if (m < 10)
        format = bDark ? "DARK_0000%d.RAW" : "BRIGHT_0000%d.RAW";
    else if (m < 100)
        format = bDark ? "DARK_000%d.RAW" : "BRIGHT_000%d.RAW";
    else if (m < 1000)
        format = bDark ? "DARK_00%d.RAW" : "BRIGHT_00%d.RAW";
    else if (m < 10000)
        format = bDark ? "DARK_0%d.RAW" : "BRIGHT_0%d.RAW";
    else
        format = bDark ? "DARK_%d.RAW" : "BRIGHT_%d.RAW";
    char name[64];
    std::snprintf(name, sizeof name, format, int32_t(uint32_t(uint64_t(m))));
    return name;
}

int32_t LevelFromName(const std::string& strName, const std::string& strPrefix) {
    std::string s = strName;
    while (!s.empty() && strPrefix.find(s.front()) != std::string::npos) s.erase(0, 1);
    while (!s.empty() && std::string(".raw").find(s.back()) != std::string::npos) s.pop_back();
    int32_t n = 0;
    for (size_t i = 0; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) n = n * 10 + (s[i] - '0');
    return n;
}

uint16_t GainPixel(uint16_t v, uint16_t d, uint16_t g, int32_t L) {
    double result;
    if (v == 0) {
        result = 0;
    } else {
        int32_t diff = int32_t{v} - int32_t{d};
        if (g == 0)
            result = 0;
        else
            result = std::trunc(double(L) / double(g) * double(diff));
    }
    if (result > L) result = L;
    if (result > 16383) result = 16383;
    if (result < 0) result = 0;
    return uint16_t(uint64_t(int64_t(result)) & 0xFFFF);
}

void Gain(uint16_t* frame, const uint16_t* dark, const uint16_t* ref, int32_t L, size_t N) {
    for (size_t i = 0; i < N; ++i) frame[i] = GainPixel(frame[i], dark[i], ref[i], L);
}

namespace {

bool Qualifies(const std::string& name) {
    return (name.find(".raw") != std::string::npos || name.find(".RAW") != std::string::npos) &&
           (name.find("BRIGHT") != std::string::npos || name.find("DARK") != std::string::npos);
}

std::vector<std::string> Listing(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator(folder))
        if (!e.is_directory()) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

void ReadWhole(const std::string& path, uint16_t* p, size_t N) {
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return;
    size_t got = std::fread(p, 2, N, f);
    (void)got;
    std::fclose(f);
}

}  // namespace

bool ApplyGainFromSets(uint16_t* frame, int32_t W, int32_t H, const std::string& folder) {
    const size_t N = size_t(W) * size_t(H);
    int32_t count = 0;
    for (const std::string& name : Listing(folder))
        if (Qualifies(name)) ++count;
    if (count < 2) return false;
    struct Slot {
        std::vector<uint16_t> pixels;
        int32_t level = 0;
    };
    std::vector<Slot> slots(static_cast<size_t>(count));
    int32_t p = 0;
    for (const std::string& name : Listing(folder)) {
        if (!Qualifies(name)) continue;
        p += 1;
        size_t slot = p == count ? 0 : size_t(p);
        slots[slot].level = LevelFromName(name, p == count ? "DARK_" : "BRIGHT_");
        slots[slot].pixels.assign(N, 0);
        ReadWhole(folder + "/" + name, slots[slot].pixels.data(), N);
    }
    size_t r = 1;
    for (size_t s = 2; s < slots.size(); ++s)
        if (std::llabs(int64_t{slots[s].level} - 10000) < std::llabs(int64_t{slots[r].level} - 10000)) r = s;
    int32_t L = slots[r].level;
    std::vector<uint16_t> values(slots.size());
    for (size_t i = 0; i <= N - 1; ++i) {
        for (size_t s = 0; s < slots.size(); ++s) values[s] = slots[s].pixels[i];  // gather every slot
        frame[i] = GainPixel(frame[i], values[0], values[r], L);
    }
    return true;
}

void BadPixelMap(uint16_t* frame, const uint16_t* map, int32_t W, int32_t H) {
    for (int32_t r = 0; r <= H - 1; ++r)
        for (int32_t c = 0; c <= W - 1; ++c) {
            if (map[r * W + c] == 0) continue;
            int32_t sum = 0, count = 0;
            for (int32_t radius = 1; radius <= 2 && count == 0; ++radius)
                for (int32_t rr = r - radius; rr <= r + radius; ++rr)
                    for (int32_t cc = c - radius; cc <= c + radius; ++cc) {
                        if (rr < 0 || rr >= H || cc < 0 || cc >= W) continue;
                        if (map[rr * W + cc] != 0) continue;
                        sum += frame[rr * W + cc];
                        count += 1;
                    }
            if (count == 0) continue;
            int32_t value = sum / count;
            if (value > 16383) value = 16383;
            if (value < 0) value = 0;
            frame[r * W + c] = uint16_t(value);
        }
}

bool ApplyBadPixelMap(uint16_t* frame, int32_t W, int32_t H, const std::string& folder) {
    const size_t N = size_t(W) * size_t(H);
    std::vector<uint16_t> map(N);
    std::FILE* f = std::fopen((folder + "/BPM.RAW").c_str(), "rb");
    if (!f) return false;
    size_t got = std::fread(map.data(), 2, N, f);
    std::fclose(f);
    if (got != N) return false;
    BadPixelMap(frame, map.data(), W, H);
    return true;
}

void MakeBpm(const uint16_t* dark, const uint16_t* bright, int32_t W, int32_t H, int32_t box1012, int32_t box1018,
             int32_t box1017, int32_t box1019, uint16_t* map) {
    const size_t N = size_t(W) * size_t(H);
    auto block = [](int32_t r, int32_t c) { return size_t(r / 256) * 96 + size_t(c / 256); };
    std::fill(map, map + N, uint16_t{0});
    double aB = double(uint32_t(box1012)) / 100;
    double aD = double(uint32_t(box1018)) / 100;
    int32_t LB = box1017;
    int32_t LD = box1019;
    std::vector<uint32_t> brightSum(96 * 96, 0), brightCount(96 * 96, 0);
    std::vector<uint32_t> darkSum(96 * 96, 0), darkCount(96 * 96, 0);
    // 7. coarse block means
    for (int32_t r = 0; r < H; ++r)
        for (int32_t c = 0; c < W; ++c) {
            brightSum[block(r, c)] += bright[r * W + c];
            darkSum[block(r, c)] += dark[r * W + c];
        }
    // A block's pixels: 65536, or those of a partial block at the edges.
    std::vector<uint32_t> pixels(96 * 96, 0);
    for (int32_t r = 0; r < H; ++r)
        for (int32_t c = 0; c < W; ++c) pixels[block(r, c)] += 1;
    for (size_t k = 0; k < brightSum.size(); ++k) {
        if (pixels[k] == 0) continue;
        brightSum[k] = brightSum[k] / pixels[k];
        darkSum[k] = darkSum[k] / pixels[k];
    }
    // 8. coarse outliers
    for (int32_t r = 0; r < H; ++r)
        for (int32_t c = 0; c < W; ++c) {
            size_t i = size_t(r) * W + c;
            double Mb = brightSum[block(r, c)], Md = darkSum[block(r, c)];
            if (bright[i] > 1.5 * Mb || bright[i] < 0.5 * Mb)
                map[i] = 8192;
            else if (dark[i] > 1.5 * Md || dark[i] < 0.5 * Md)
                map[i] = 8192;
        }
    // 9. refined block means
    std::fill(brightSum.begin(), brightSum.end(), 0u);
    std::fill(darkSum.begin(), darkSum.end(), 0u);
    for (int32_t r = 0; r < H; ++r)
        for (int32_t c = 0; c < W; ++c) {
            size_t i = size_t(r) * W + c;
            if (map[i] != 0) {
                brightCount[block(r, c)] += 1;
                darkCount[block(r, c)] += 1;
            } else {
                brightSum[block(r, c)] += bright[i];
                darkSum[block(r, c)] += dark[i];
            }
        }
    for (size_t k = 0; k < brightSum.size(); ++k) {
        if (pixels[k] == 0) continue;
        if (brightCount[k] != pixels[k]) brightSum[k] = brightSum[k] / (pixels[k] - brightCount[k]);
        if (darkCount[k] != pixels[k]) darkSum[k] = darkSum[k] / (pixels[k] - darkCount[k]);
    }
    // 10. clear the map
    std::fill(map, map + N, uint16_t{0});
    // 11. area defects
    for (int32_t r = 0; r < H; ++r)
        for (int32_t c = 0; c < W; ++c) {
            size_t i = size_t(r) * W + c;
            uint32_t Mb = brightSum[block(r, c)], Md = darkSum[block(r, c)];
            if (bright[i] > Mb * (1 + aB) || bright[i] < Mb * (1 - aB)) map[i] = 8192;
            if (dark[i] > Md * (1 + aD) || dark[i] < Md * (1 - aD)) map[i] = 8192;
        }
    // 12. line defects
    for (int32_t c = 0; c <= W - 1; ++c)
        for (int32_t r = 2; r <= H - 3; ++r) {
            if (map[r * W + c] != 0) continue;
            auto b = [&](int32_t rr) { return int32_t{bright[rr * W + c]}; };
            auto d = [&](int32_t rr) { return int32_t{dark[rr * W + c]}; };
            int32_t e = (b(r - 2) + b(r - 1) + b(r) + b(r + 1) + b(r + 2)) / 5 - b(r);
            if (std::abs(e) > LB) map[r * W + c] = 8192;
            e = (d(r - 2) + d(r - 1) + d(r) + d(r + 1) + d(r + 2)) / 5 - d(r);
            if (std::abs(e) > LD) map[r * W + c] = 8192;
        }
}

void BuildLut(float W, float L, unsigned char* table) {
    float low = L - W * 0.5f;
    float high = L + W * 0.5f;
    for (int i = 0; i <= 16383; ++i) {
        float x = float(i);
        if (x >= high)
            table[i] = 255;
        else if (x < low)
            table[i] = 0;
        else {
            float v = (x - low) * 255 / W;
            table[i] = (unsigned char)(int)v;
        }
    }
}

bool ProcessExposureImage(uint16_t* frame, int32_t W, int32_t H, int32_t top, int32_t bottom, int32_t left,
                          int32_t right, int32_t nOffsetControl, const std::string& strCalFolder,
                          const std::string& strImageFile) {
    ApplyGainFromSets(frame, W, H, strCalFolder);
    if (nOffsetControl != 0) ApplyOffset(frame, size_t(W) * size_t(H), nOffsetControl);
    ApplyBadPixelMap(frame, W, H, strCalFolder);
    MedianFilter3x3(frame, W, H);
    CutImage(frame, W, H, top, bottom, left, right);
    std::FILE* f = std::fopen(strImageFile.c_str(), "wb");
    if (!f) return false;
    size_t n = size_t(W - left - right) * size_t(H - top - bottom);
    bool ok = std::fwrite(frame, 2, n, f) == n;
    return std::fclose(f) == 0 && ok;
}

}  // namespace orvi::literal
