#pragma once
// MAKE BPM: the bad pixel map built from a dark frame and a bright frame
// (bright minus dark) of the calibration folder. A pixel is marked (8192) when
// it departs from the mean of the good pixels of its 256 x 256 block by more
// than a percentage in the bright or the dark frame (area defects), or from
// the mean of the five-pixel vertical run centred on it by more than a number
// of grey levels (line defects).
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace orvi {

class CReport;

inline constexpr uint16_t kBadPixelMark = 8192;
inline constexpr int32_t kBpmBlockSide = 256;     // pixels per block side
inline constexpr int32_t kBpmBlocksPerSide = 96;  // block tables cover 96 x 256 pixels per side

inline constexpr const char* kDarkFileDontExist = "DARK file don`t exist!!";
inline constexpr const char* kBrightFileDontExist = "BRIGHT file don`t exist!!";
inline constexpr const char* kBpmFileCreationFail = "BPM file creation fail!!";

// The four boxes of the calibration dialog as the dialog reads them (signed
// integers). The area thresholds are percentages: each is taken as an
// unsigned 32-bit number divided by 100; the line thresholds are grey levels.
struct CBpmThresholds {
    int32_t nAreaBright = 8;    // box 1012
    int32_t nAreaDark = 8;      // box 1018
    int32_t nLineBright = 500;  // box 1017
    int32_t nLineDark = 600;    // box 1019
};

// Computes the map of W x H pixels into pMap (0 good, 8192 defective):
//  1. block means of bright and dark (block sum / n, truncating, n the block's
//     pixels: 65536, fewer for the partial blocks at the right and bottom
//     edges of a side that is not a multiple of 256);
//  2. coarse outliers: above 1.5 x or below 0.5 x a block mean;
//  3. refined block means over the other pixels (sum / (n - outliers));
//  4. area defects: above mean x (1 + a) or below mean x (1 - a), a = box / 100,
//     in the bright or the dark frame (double precision, strict comparisons);
//  5. line defects in rows 2 to H - 3: |(sum of the five pixels r-2..r+2 of
//     the column) / 5 - pixel| above the line threshold, bright or dark.
// Returns false (map untouched) for a size outside 1 .. 96 x 256 per side.
bool MakeBadPixelMap(const uint16_t* pDark, const uint16_t* pBright, int32_t nWidth, int32_t nHeight,
                     const CBpmThresholds& thresholds, uint16_t* pMap);

enum class MakeBpmResult {
    TooFewFiles,       // fewer than two listed files: nothing shown
    NoDark,            // "DARK file don`t exist!!"
    DarkOpenFailed,    // "Dark file open fail!!" (a short file is logged too)
    NoBright,          // "BRIGHT file don`t exist!!"
    BrightOpenFailed,  // "Bright file open fail!!" (a short file is logged too)
    CreateFailed,      // "BPM file creation fail!!"
    Written,           // BPM.RAW written; nothing shown
};

// The MAKE BPM command of the calibration dialog, from its list (in list
// order) to BPM.RAW in the calibration folder: the last entry must contain
// "DARK" and the one before it "BRIGHT"; both files are read (their first
// W x H pixels; shorter files are refused), the map is computed and written
// whole (an existing BPM.RAW stays as it was on any failure). The dialog
// disables and re-enables its button around this call. *pnMarked (when
// given) receives the number of pixels the written map marks.
MakeBpmResult RunMakeBpm(const std::vector<std::string>& listEntries, const std::string& strCalFolder, int32_t nWidth,
                         int32_t nHeight, const CBpmThresholds& thresholds, CReport& report,
                         size_t* pnMarked = nullptr);

}  // namespace orvi
