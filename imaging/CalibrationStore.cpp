#include "imaging/CalibrationStore.h"

#include "imaging/Calibration.h"
#include "imaging/RawFile.h"

#include <sys/stat.h>

#include <algorithm>

namespace orvi {
namespace {

// The listed bright files and BPM.RAW as they are now; a listed name that
// cannot be looked at has an empty stamp, a BPM.RAW that cannot counts as
// absent. The dark files take no part: the exposure path
// uses the dark just received from memory, and a new dark file comes with
// every exposure.
std::vector<CCalibrationStore::CFileStamp> FolderStamps(const std::string& strFolder) {
    std::vector<std::string> names = ListCalibrationFiles(strFolder);
    std::erase_if(names, [](const std::string& s) { return s.find("DARK") != std::string::npos; });
    names.push_back(kBpmFileName);
    std::vector<CCalibrationStore::CFileStamp> stamps;
    stamps.reserve(names.size());
    for (const std::string& strName : names) {
        CCalibrationStore::CFileStamp s;
        s.strName = strName;
        struct stat st {};
        if (::stat(JoinPath(strFolder, strName).c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
            // Listed all the same (with no size): the gain step reports it.
            if (strName != kBpmFileName) stamps.push_back(std::move(s));
            continue;
        }
        s.nDevice = uint64_t(st.st_dev);
        s.nInode = uint64_t(st.st_ino);
        s.nSize = uint64_t(st.st_size);
        s.nModifiedNs = int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
        s.nChangedNs = int64_t(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec;
        stamps.push_back(std::move(s));
    }
    return stamps;
}

// The gain correction's choice among the bright files that are long enough
// and not of level 0.
void LoadReference(const std::vector<CCalibrationStore::CFileStamp>& stamps, size_t nPixels, CCalibrationSet& set) {
    std::vector<std::string> brights;
    for (const auto& s : stamps)
        if (s.strName != kBpmFileName && s.nSize >= nPixels * sizeof(uint16_t) &&
            LevelFromFileName(s.strName, kPrefixBright) > 0)
            brights.push_back(s.strName);
    const int32_t nRef = ChooseReferenceBright(brights.data(), brights.size());
    if (nRef < 0) return;
    std::vector<uint16_t> pixels(nPixels);
    if (ReadRawFile(JoinPath(set.strFolder, brights[size_t(nRef)]), pixels.data(), nPixels) != RawRead::Ok) return;
    set.strReference = brights[size_t(nRef)];
    set.nLevel = LevelFromFileName(set.strReference, kPrefixBright);
    set.bReferenceAllZero = std::all_of(pixels.begin(), pixels.end(), [](uint16_t v) { return v == 0; });
    set.reference = std::move(pixels);
    FillGainQuotients(set.nLevel, set.quotient);
}

}  // namespace

std::shared_ptr<const CCalibrationSet> CCalibrationStore::Get(const std::string& strFolder, int32_t nWidth,
                                                              int32_t nHeight) {
    std::lock_guard<std::mutex> lock(m_mutex);
    std::vector<CFileStamp> stamps = FolderStamps(strFolder);
    if (m_pSet && m_pSet->strFolder == strFolder && m_pSet->nWidth == nWidth && m_pSet->nHeight == nHeight &&
        stamps == m_stamps)
        return m_pSet;
    // The old set goes first, so that only one is held (unless a caller still uses it).
    m_pSet.reset();
    auto pSet = std::make_shared<CCalibrationSet>();
    pSet->nGeneration = ++m_nGeneration;
    pSet->strFolder = strFolder;
    pSet->nWidth = nWidth;
    pSet->nHeight = nHeight;
    const size_t nPixels = nWidth > 0 && nHeight > 0 ? size_t(nWidth) * size_t(nHeight) : 0;
    if (nPixels > 0) {
        for (const CFileStamp& stamp : stamps) {
            if (stamp.strName == kBpmFileName) continue;
            CCalibrationSet::CListed listed;
            listed.strName = stamp.strName;
            listed.eCheck = CheckRawFile(JoinPath(strFolder, stamp.strName), nPixels, &listed.nBytes);
            pSet->listed.push_back(std::move(listed));
        }
        LoadReference(stamps, nPixels, *pSet);
        std::vector<uint16_t> bpm(nPixels);
        if (ReadRawFile(JoinPath(strFolder, kBpmFileName), bpm.data(), nPixels) == RawRead::Ok)
            pSet->bpm = std::move(bpm);
    }
    // Stamps taken before the reads: a file replaced meanwhile makes the next call load again.
    m_stamps = std::move(stamps);
    m_pSet = pSet;
    return m_pSet;
}

uint64_t CCalibrationStore::Generation() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_nGeneration;
}

}  // namespace orvi
