#pragma once
// The image history: every finished exposure is also kept in the folder
// "history" beside the image file, as YYYYMMDD-HHMMSS-NNN.RAW (the time it
// arrived, NNN its milliseconds) with a small JSON sidecar of the same name
// that says what the RAW file alone cannot (size, cuts, trigger mode,
// detector, dose indicator, the automatic window, the exposure index). Both are written the
// atomic way of every RAW file. At most HISTORY_KEEP ([VIEW], read at every
// image) exposures are kept, the oldest removed first; 0 keeps none (and
// removes nothing). IMAGE.RAW and the message files are not touched.
#include "imaging/AcquiredImage.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace orvi {

inline constexpr const char* kHistoryFolder = "history";

// What a sidecar says of its image.
struct CHistoryEntry {
    std::string strRawPath;  // the history RAW file
    std::string strName;     // its name without ".RAW"
    int32_t nWidth = 0;      // the cut image's size
    int32_t nHeight = 0;
    int32_t nFrameWidth = 0;  // the detector frame and its cuts
    int32_t nFrameHeight = 0;
    int32_t nCutTop = 0, nCutBottom = 0, nCutLeft = 0, nCutRight = 0;
    int32_t nTriggerMode = 0;
    char cDetector = 'A';
    int32_t nDoseIndicator = -1;  // -1: not computed
    int32_t nWindowWidth = 0;
    int32_t nWindowLevel = 0;
    std::string strTime;  // "14:03:22", local time of the exposure
    // The exposure index as worked out at the exposure (bValid false: none,
    // or a sidecar written before it was kept).
    dose::CExposureIndex exposureIndex;
};

class CImageHistory final : public IImageSink {
public:
    // strIniPath: the configuration file HISTORY_KEEP is read from at every
    // image. fnProblem (may be empty) is told, in words, when an image could
    // not be kept.
    explicit CImageHistory(std::string strIniPath, std::function<void(const std::string&)> fnProblem = {});

    void OnImageAcquired(const AcquiredImagePtr& pImage) override;

    // The exposures this run kept, oldest first (also those removed since by
    // the retention: their files may be gone).
    const std::vector<CHistoryEntry>& RunEntries() const { return m_entries; }

    // Keeps one image in folder strFolder with at most nKeep images there.
    // Returns the entry written, or sets strError and returns false.
    static bool Keep(const CAcquiredImage& image, const std::string& strFolder, int32_t nKeep, CHistoryEntry& entry,
                     std::string& strError);
    // Removes the oldest history images (and sidecars) of the folder beyond nKeep.
    static void Prune(const std::string& strFolder, int32_t nKeep);
    // The history file names of a folder (only names of the history pattern), sorted.
    static std::vector<std::string> ListNames(const std::string& strFolder);

private:
    std::string m_strIniPath;
    std::function<void(const std::string&)> m_fnProblem;
    std::vector<CHistoryEntry> m_entries;
};

// "20261210-140322-045" for a time (local time).
std::string HistoryName(std::chrono::system_clock::time_point t);
// True for names "YYYYMMDD-HHMMSS-NNN.RAW".
bool IsHistoryRawName(const std::string& strName);

// The sidecar text of an entry, and the entry read back from sidecar text.
// The reader takes only what it knows and checks every size: false when the
// size or cuts are missing or impossible.
std::string HistorySidecarText(const CHistoryEntry& e);
bool ParseHistorySidecar(const std::string& strText, CHistoryEntry& e);
// The sidecar of a history RAW file read from disk (strRawPath filled in).
bool ReadHistorySidecar(const std::string& strRawPath, CHistoryEntry& e);

}  // namespace orvi
