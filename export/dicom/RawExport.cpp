#include "export/dicom/RawExport.h"

#include "imaging/ImageHistory.h"
#include "imaging/RawFile.h"

#include <filesystem>
#include <vector>

namespace orvi::dicom {

bool ReadSidecarSize(const std::string& strRawFile, int32_t& nWidth, int32_t& nHeight, std::string& strError) {
    CHistoryEntry entry;
    if (!ReadSidecar(strRawFile, entry, strError)) return false;
    nWidth = entry.nWidth;
    nHeight = entry.nHeight;
    return true;
}

bool ReadSidecar(const std::string& strRawFile, CHistoryEntry& entry, std::string& strError) {
    const std::string strSidecar = std::filesystem::path(strRawFile).replace_extension(".json").string();
    std::error_code ec;
    if (!std::filesystem::is_regular_file(strSidecar, ec)) {
        strError = "no size given and no sidecar " + strSidecar + " (give --width and --height)";
        return false;
    }
    if (!ReadHistorySidecar(strRawFile, entry)) {
        strError = "the sidecar " + strSidecar + " names no usable \"width\" and \"height\"";
        return false;
    }
    return true;
}

bool ExportRawFile(const CExportRequest& r, CExposureIndex& ei, std::string& strError) {
    int32_t nWidth = r.nWidth, nHeight = r.nHeight;
    if ((nWidth == 0) != (nHeight == 0)) {
        strError = "give both --width and --height, or neither for a history image";
        return false;
    }
    CHistoryEntry sidecar;
    if (nWidth == 0) {
        if (!ReadSidecar(r.strRawFile, sidecar, strError)) return false;
        nWidth = sidecar.nWidth;
        nHeight = sidecar.nHeight;
    }
    if (nWidth < 1 || nHeight < 1 || nWidth > 65535 || nHeight > 65535) {
        strError = "the size must be 1 to 65535 pixels each way";
        return false;
    }
    std::error_code ec;
    const uintmax_t nBytes = std::filesystem::file_size(r.strRawFile, ec);
    if (ec) {
        strError = "cannot open " + r.strRawFile + " (" + ec.message() + ")";
        return false;
    }
    const uint64_t nNeeded = uint64_t(nWidth) * uint64_t(nHeight) * 2;
    if (nBytes != nNeeded) {
        strError = r.strRawFile + " holds " + std::to_string(nBytes) + " bytes; " + std::to_string(nWidth) + " x " +
                   std::to_string(nHeight) + " pixels need " + std::to_string(nNeeded);
        return false;
    }
    std::vector<uint16_t> pixels(size_t(nWidth) * size_t(nHeight));
    if (ReadRawFile(r.strRawFile, pixels.data(), pixels.size()) != RawRead::Ok) {
        strError = "cannot read " + r.strRawFile;
        return false;
    }

    const auto ftime = std::filesystem::last_write_time(r.strRawFile, ec);
    const auto tAcquired =
        ec ? std::chrono::system_clock::now()
           : std::chrono::time_point_cast<std::chrono::system_clock::duration>(
                 ftime - std::filesystem::file_time_type::clock::now() + std::chrono::system_clock::now());

    if (sidecar.exposureIndex.bValid) {
        ei = sidecar.exposureIndex;
    } else {
        CSignalSource src{pixels.data(), nullptr, 0, nWidth, nHeight};
        ei = ComputeExposureIndex(src, r.settings.ei);
    }
    CStudySession session;
    session.SetPatient(r.patient);
    CDxObject obj =
        MakeDxObject(r.settings, session.Next('A', tAcquired, r.settings.strUidRoot), NewUid(r.settings.strUidRoot));
    obj.tAcquired = tAcquired;
    obj.ei = ei;
    obj.window = AutomaticWindow(pixels.data(), nWidth, nHeight);
    return WriteDxFile(pixels.data(), nWidth, nHeight, obj, r.settings.transfer, r.strOutFile, strError);
}

}  // namespace orvi::dicom
