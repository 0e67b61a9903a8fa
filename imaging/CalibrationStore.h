#pragma once
// The calibration folder's data the exposure path reads, held in memory: the
// reference bright (its name and level) and BPM.RAW. Each exposure asks the
// store, which compares the folder with what it loaded (the names of the
// bright files and BPM.RAW, their sizes, times and inodes) and reads the
// files again only when that changed: a host may replace a file at any time,
// and the next exposure must use the new one. Only one reference is held,
// however many bright files the folder has. The dark is not held: the
// exposure path corrects with the dark it has just received.
#include "imaging/RawFile.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace orvi {

struct CCalibrationSet {
    uint64_t nGeneration = 0;  // the store's load that made this set
    std::string strFolder;
    int32_t nWidth = 0, nHeight = 0;
    // The bright the gain correction chooses among the folder's bright files
    // (a shorter file, or one of level 0, takes no part), read whole; empty
    // when there is none or it could not be read.
    std::string strReference;
    int32_t nLevel = 0;
    std::vector<uint16_t> reference;
    bool bReferenceAllZero = false;
    // The gain's table L / g for the reference's level (FillGainQuotients).
    std::vector<double> quotient;
    // BPM.RAW's first W x H pixels; empty when missing, unreadable or short.
    std::vector<uint16_t> bpm;
    // The folder's calibration files other than darks, as listed when the
    // set was made, each with the check of its size for W x H pixels
    // (CheckRawFile) and the bytes it holds: the gain step reports them as
    // if it had looked itself.
    struct CListed {
        std::string strName;
        RawRead eCheck = RawRead::OpenFailed;
        uint64_t nBytes = 0;
    };
    std::vector<CListed> listed;
};

class CCalibrationStore {
public:
    // The set of the folder as it is now, for frames of nWidth x nHeight.
    // Reads files only when the folder changed since the last call (or the
    // folder or size differ). Never null. Sets handed out stay valid.
    std::shared_ptr<const CCalibrationSet> Get(const std::string& strFolder, int32_t nWidth, int32_t nHeight);

    // Loads so far (0: none yet).
    uint64_t Generation() const;

    // What identifies a file's content without reading it.
    struct CFileStamp {
        std::string strName;
        uint64_t nDevice = 0, nInode = 0, nSize = 0;
        int64_t nModifiedNs = 0, nChangedNs = 0;
        bool operator==(const CFileStamp&) const = default;
    };

private:
    mutable std::mutex m_mutex;
    std::vector<CFileStamp> m_stamps;
    std::shared_ptr<const CCalibrationSet> m_pSet;
    uint64_t m_nGeneration = 0;
};

}  // namespace orvi
