// The calibration folder filled from fuzzed entries (names, sizes, contents,
// folders, links, pipes): listing, gain from sets, the bad pixel map, MAKE BPM,
// the deletion of darks and the clean-up of temporaries never crash or read
// past a file, never list a temporary, and never use a reference of level 0.
#include "FuzzSupport.h"

#include "app/Report.h"
#include "imaging/BadPixelMap.h"
#include "imaging/Calibration.h"
#include "imaging/RawFile.h"

#include <chrono>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using orvi::fuzz::CInput;

namespace {

constexpr int32_t kW = 8, kH = 4;
constexpr size_t kPixels = size_t{kW} * kH;

const char* const kNames[] = {
    "BRIGHT_10000.RAW",          "BRIGHT_09565.RAW",         "DARK_01017.RAW", "BPM.RAW",          "BRIGHT_0000-12.RAW",
    ".BRIGHT_09565.RAW.old-1-2", ".DARK_01017.RAW.part-1-0", "DARK_old.raw",   "BRIGHT_00000.RAW", "xDARKy.raw"};

std::string EntryName(CInput& in) {
    const uint8_t b = in.Byte();
    if (b < 160) return kNames[b % 10];
    // Any bytes but '/' and NUL; "x" when nothing usable is left.
    std::string s = in.Bytes(in.Byte() % 24);
    std::erase_if(s, [](char c) { return c == '/' || c == '\0'; });
    if (s.empty() || s == "." || s == "..") return std::string(1, 'x');
    return s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize) {
    CInput in(pData, nSize);
    const std::string strFolder = orvi::fuzz::ScratchFolder() + "cal/";
    ::mkdir(strFolder.c_str(), 0755);
    orvi::fuzz::EmptyFolder(strFolder);
    std::vector<std::string> names;
    for (int n = 0; n < 12 && !in.Empty(); ++n) {
        const std::string strName = EntryName(in);
        const std::string strPath = strFolder + strName;
        std::error_code ec;
        std::filesystem::remove_all(strPath, ec);  // a name given twice: the later entry (never write into a pipe)
        switch (in.Byte() % 6) {
        case 0: ::mkdir(strPath.c_str(), 0755); break;
        case 1: (void)::symlink((strFolder + EntryName(in)).c_str(), strPath.c_str()); break;
        case 2: ::mkfifo(strPath.c_str(), 0644); break;
        default: {
            // A file of a whole frame or of any length, with a fuzzed or flat content.
            const uint8_t nKind = in.Byte();
            size_t nBytes = nKind & 1 ? kPixels * 2 : size_t(in.Byte()) % (kPixels * 2 + 8);
            std::string strBytes = in.Bytes(nBytes);
            strBytes.resize(nBytes, char(nKind >> 1));
            orvi::fuzz::WriteBytes(strPath, strBytes.data(), strBytes.size());
        }
        }
        names.push_back(strName);
    }

    orvi::CReport ui;  // what would be shown is dropped
    const std::vector<std::string> list = orvi::ListCalibrationFiles(strFolder);
    for (size_t i = 0; i < list.size(); ++i) {
        FUZZ_CHECK(orvi::IsCalibrationFileName(list[i]));
        FUZZ_CHECK(!orvi::IsTemporaryName(list[i]));
        if (i > 0) FUZZ_CHECK(list[i - 1] < list[i]);
    }

    std::vector<uint16_t> frame(kPixels), original;
    for (size_t i = 0; i < kPixels; ++i) frame[i] = uint16_t(in.Byte() << 4 | 1);
    original = frame;
    const orvi::CGainResult r = orvi::ApplyGainFromSets(frame.data(), kW, kH, strFolder, ui);
    if (r.bApplied) {
        FUZZ_CHECK(r.nLevel > 0);
        for (uint16_t v : frame) FUZZ_CHECK(int32_t(v) <= r.nLevel);
    } else {
        FUZZ_CHECK(frame == original);
    }
    orvi::ApplyBadPixelMap(frame.data(), kW, kH, strFolder, ui);

    orvi::CBpmThresholds t;
    (void)orvi::RunMakeBpm(list, strFolder, kW, kH, t, ui);

    const std::string strKeep = names.empty() ? std::string() : names[in.Byte() % names.size()];
    orvi::DeleteDarkFiles(strFolder, strKeep);
    for (const std::string& s : orvi::ListCalibrationFiles(strFolder))
        FUZZ_CHECK(s.find("DARK") == std::string::npos || s == strKeep);
    (void)orvi::RemoveStaleTemporaries(strFolder, std::chrono::system_clock::now());
    return 0;
}
