#pragma once
// Plain, literal versions of the pixel rules, written step by step as the
// rules read, without any speed-up. The tests check every fast step against
// them; the benchmark times them beside the fast steps.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace orvi::literal {

void MirrorRows(uint16_t* frame, int32_t W, int32_t H);

struct Exposure {
    bool bChecked = false;
    bool bExposed = false;
    double dStdDev = 0.0;
};
Exposure CheckExposure(const uint16_t* frame, int32_t W, int32_t H, int32_t nStdDevRange);

// The region clipped to the frame; the total counts the pixels looked at.
int32_t DoseIndicator(const uint16_t* frame, int32_t W, int32_t H, int32_t X, int32_t Y, int32_t WIDTH, int32_t HEIGHT);

void ApplyOffset(uint16_t* frame, size_t N, int32_t nOffsetControl);
void MedianFilter3x3(uint16_t* frame, int32_t W, int32_t H);
// With W as row stride (at W = 3072 the rule's fixed stride of 3072).
void CutImage(uint16_t* frame, int32_t W, int32_t H, int32_t top, int32_t bottom, int32_t left, int32_t right);

// The mean of a dark frame, and bright minus dark with its mean.
int64_t Mean(const uint16_t* frame, size_t N);
int64_t BrightMinusDark(const uint16_t* backup, uint16_t* frame, size_t N);

std::string LevelFileName(bool bDark, int64_t nMean);
int32_t LevelFromName(const std::string& strName, const std::string& strPrefix);

// The gain rule for one pixel.
uint16_t GainPixel(uint16_t v, uint16_t d, uint16_t g, int32_t L);
void Gain(uint16_t* frame, const uint16_t* dark, const uint16_t* ref, int32_t L, size_t N);
// The whole gain step as the rule describes it: every calibration file of the
// folder (listed by name) is read into a slot, then the reference is chosen.
// Returns false when fewer than two files qualify.
bool ApplyGainFromSets(uint16_t* frame, int32_t W, int32_t H, const std::string& strCalFolder);

void BadPixelMap(uint16_t* frame, const uint16_t* map, int32_t W, int32_t H);
bool ApplyBadPixelMap(uint16_t* frame, int32_t W, int32_t H, const std::string& strCalFolder);

// The four box values as the dialog reads them.
void MakeBpm(const uint16_t* dark, const uint16_t* bright, int32_t W, int32_t H, int32_t box1012, int32_t box1018,
             int32_t box1017, int32_t box1019, uint16_t* map);

void BuildLut(float fWidth, float fLevel, unsigned char* table);

// The sequence after the last dark: gain, offset, bad pixel map, median, cut,
// and the image file (create or truncate, one write). False on a file failure.
bool ProcessExposureImage(uint16_t* frame, int32_t W, int32_t H, int32_t top, int32_t bottom, int32_t left,
                          int32_t right, int32_t nOffsetControl, const std::string& strCalFolder,
                          const std::string& strImageFile);

}  // namespace orvi::literal
