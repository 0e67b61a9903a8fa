#include "export/DicomTestSupport.h"

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcdict.h>
#include <dcmtk/dcmdata/dcfilefo.h>
#include <dcmtk/dcmdata/dcxfer.h>
#include <dcmtk/dcmjpls/djdecode.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>
#include <mutex>

namespace orvi::test {

CDicomRead ReadDicom(const std::string& strPath) {
    static std::once_flag once;
    std::call_once(once, [] { DJLSDecoderRegistration::registerCodecs(); });
    CDicomRead r;
    DcmFileFormat ff;
    OFCondition c = ff.loadFile(strPath.c_str());
    if (c.bad()) {
        r.strError = c.text();
        return r;
    }
    DcmDataset& ds = *ff.getDataset();
    r.strTransferUid = DcmXfer(ds.getOriginalXfer()).getXferID();
    for (unsigned long i = 0; i < ds.card(); ++i) {
        DcmElement* e = ds.getElement(i);
        if (e->getTag() == DCM_PixelData) continue;
        OFString s;
        e->getOFStringArray(s);
        DcmTag tag(e->getTag());
        r.tags[tag.getTagName()] = s.c_str();
    }
    ds.findAndGetUint16(DCM_Rows, r.nRows);
    ds.findAndGetUint16(DCM_Columns, r.nColumns);
    ds.findAndGetUint16(DCM_BitsStored, r.nBitsStored);
    ds.findAndGetUint16(DCM_HighBit, r.nHighBit);
    c = ds.chooseRepresentation(EXS_LittleEndianExplicit, nullptr);
    if (c.bad()) {
        r.strError = std::string("decompression: ") + c.text();
        return r;
    }
    const Uint16* p = nullptr;
    unsigned long n = 0;
    c = ds.findAndGetUint16Array(DCM_PixelData, p, &n);
    if (c.bad() || p == nullptr) {
        r.strError = std::string("pixel data: ") + c.text();
        return r;
    }
    r.pixels.assign(p, p + n);
    r.bLoaded = true;
    return r;
}

// Kept as strings: GCC 12 warns falsely on a literal pushed into a vector of strings.
const std::string kNotStarted = "dciodvfy could not be started";
const std::string kNotEnded = "dciodvfy did not end";

CVerifyReport Dciodvfy(const std::string& strPath) {
    CVerifyReport r;
    const std::string strCommand = "dciodvfy '" + strPath + "' 2>&1";
    FILE* f = popen(strCommand.c_str(), "r");
    if (f == nullptr) {
        r.errors.push_back(kNotStarted);
        return r;
    }
    std::array<char, 4096> line{};
    while (std::fgets(line.data(), int(line.size()), f) != nullptr) {
        std::string s = line.data();
        while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
        r.lines.push_back(s);
        if (s.rfind("Error", 0) == 0) r.errors.push_back(s);
        if (s.rfind("Warning", 0) == 0) r.warnings.push_back(s);
    }
    if (pclose(f) == -1) r.errors.push_back(kNotEnded);
    return r;
}

std::vector<std::string> DicomFiles(const std::string& strFolder) {
    std::vector<std::string> v;
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(strFolder, ec))
        if (e.is_regular_file() && e.path().extension() == ".dcm") v.push_back(e.path().string());
    std::sort(v.begin(), v.end());
    return v;
}

}  // namespace orvi::test
