#include "export/dicom/RawExport.h"

#include "imaging/RawFile.h"

#include <filesystem>
#include <fstream>
#include <vector>

namespace orvi::dicom {

namespace {

constexpr size_t kMaxSidecarBytes = 64 * 1024;

// An integer member of the outermost JSON object, e.g. "width": 3072; members
// of nested objects ("window": {"width": ...}) are not it.
std::optional<int64_t> JsonInteger(const std::string& s, const std::string& strKey) {
    int nDepth = 0;
    for (size_t i = 0; i < s.size(); ++i) {
        const char c = s[i];
        if (c == '{' || c == '[') ++nDepth;
        else if (c == '}' || c == ']') --nDepth;
        if (c != '"') continue;
        // A string: find its end, skipping escaped characters.
        size_t nEnd = i + 1;
        while (nEnd < s.size() && s[nEnd] != '"') nEnd += (s[nEnd] == '\\') ? 2 : 1;
        if (nEnd >= s.size()) return std::nullopt;
        const std::string strName = s.substr(i + 1, nEnd - i - 1);
        i = nEnd;
        if (nDepth != 1 || strName != strKey) continue;
        size_t n = s.find_first_not_of(" \t\r\n", nEnd + 1);
        if (n == std::string::npos || s[n] != ':') continue;  // a value, not a key
        n = s.find_first_not_of(" \t\r\n", n + 1);
        if (n == std::string::npos) return std::nullopt;
        size_t nDigits = n + (s[n] == '-' ? 1 : 0);
        const size_t nFirstDigit = nDigits;
        while (nDigits < s.size() && nDigits - nFirstDigit < 10 && s[nDigits] >= '0' && s[nDigits] <= '9') ++nDigits;
        if (nDigits == nFirstDigit) return std::nullopt;
        // An integer: no fraction, exponent or further digits.
        if (nDigits < s.size() && std::string(".eE0123456789").find(s[nDigits]) != std::string::npos)
            return std::nullopt;
        return std::stoll(s.substr(n, nDigits - n));
    }
    return std::nullopt;
}

}  // namespace

bool ReadSidecarSize(const std::string& strRawFile, int32_t& nWidth, int32_t& nHeight, std::string& strError) {
    const std::string strSidecar = std::filesystem::path(strRawFile).replace_extension(".json").string();
    std::ifstream in(strSidecar, std::ios::binary);
    if (!in) {
        strError = "no size given and no sidecar " + strSidecar + " (give --width and --height)";
        return false;
    }
    std::string strJson(kMaxSidecarBytes, '\0');
    in.read(strJson.data(), std::streamsize(strJson.size()));
    strJson.resize(size_t(in.gcount()));
    const auto w = JsonInteger(strJson, "width"), h = JsonInteger(strJson, "height");
    if (!w || !h || *w < 1 || *h < 1 || *w > 65535 || *h > 65535) {
        strError = "the sidecar " + strSidecar + " names no usable \"width\" and \"height\"";
        return false;
    }
    nWidth = int32_t(*w);
    nHeight = int32_t(*h);
    return true;
}

bool ExportRawFile(const CExportRequest& r, CExposureIndex& ei, std::string& strError) {
    int32_t nWidth = r.nWidth, nHeight = r.nHeight;
    if ((nWidth == 0) != (nHeight == 0)) {
        strError = "give both --width and --height, or neither for a history image";
        return false;
    }
    if (nWidth == 0 && !ReadSidecarSize(r.strRawFile, nWidth, nHeight, strError)) return false;
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
    const auto tAcquired = ec ? std::chrono::system_clock::now()
                              : std::chrono::time_point_cast<std::chrono::system_clock::duration>(
                                    ftime - std::filesystem::file_time_type::clock::now() +
                                    std::chrono::system_clock::now());

    CSignalSource src{pixels.data(), nullptr, 0, nWidth, nHeight};
    ei = ComputeExposureIndex(src, r.settings.ei);
    CStudySession session;
    session.SetPatient(r.patient);
    CDxObject obj = MakeDxObject(r.settings, session.Next('A', tAcquired, r.settings.strUidRoot),
                                 NewUid(r.settings.strUidRoot));
    obj.tAcquired = tAcquired;
    obj.ei = ei;
    obj.window = AutomaticWindow(pixels.data(), nWidth, nHeight);
    return WriteDxFile(pixels.data(), nWidth, nHeight, obj, r.settings.transfer, r.strOutFile, strError);
}

}  // namespace orvi::dicom
