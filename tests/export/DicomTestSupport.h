#pragma once
// Reading a written DICOM file back with DCMTK, and judging it with dciodvfy.
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace orvi::test {

struct CDicomRead {
    bool bLoaded = false;
    std::string strTransferUid;
    std::map<std::string, std::string> tags;  // by keyword, e.g. "PatientName", values as DCMTK prints them
    uint16_t nRows = 0, nColumns = 0, nBitsStored = 0, nHighBit = 0;
    std::vector<uint16_t> pixels;  // decompressed
    std::string strError;

    std::string operator[](const std::string& strKeyword) const {
        const auto it = tags.find(strKeyword);
        return it == tags.end() ? std::string("<absent>") : it->second;
    }
};

CDicomRead ReadDicom(const std::string& strPath);

// dciodvfy's report on a file: every line it printed, and the error lines.
struct CVerifyReport {
    std::vector<std::string> lines;
    std::vector<std::string> errors;
    std::vector<std::string> warnings;
};
CVerifyReport Dciodvfy(const std::string& strPath);

// The .dcm files of a folder, sorted by name.
std::vector<std::string> DicomFiles(const std::string& strFolder);

}  // namespace orvi::test
