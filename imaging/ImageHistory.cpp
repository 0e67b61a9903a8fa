// The image history sink: a copy of every saved exposure with its sidecar,
// and the retention that keeps the folder to HISTORY_KEEP images.
#include "imaging/ImageHistory.h"

#include "app/ConfigKeys.h"
#include "app/EventLog.h"
#include "imaging/RawFile.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;

namespace orvi {

namespace {

constexpr size_t kNameLength = 19;  // YYYYMMDD-HHMMSS-NNN

std::tm LocalTime(std::chrono::system_clock::time_point t) {
    const std::time_t tt = std::chrono::system_clock::to_time_t(t);
    std::tm tm{};
    localtime_r(&tt, &tm);
    return tm;
}

std::string JsonString(const std::string& s) {
    std::string out = "\"";
    for (const char c : s) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (u < 0x20) {
            char sz[8];
            std::snprintf(sz, sizeof sz, "\\u%04x", u);
            out += sz;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

// The integer after "key": in the text, or false. Keys are unique in a sidecar.
// Where the value of a member of the outermost JSON object starts, e.g. the
// 3072 of "width": 3072. Members of nested objects ("window": {"width": ...})
// and text inside strings are not it. npos when there is none.
size_t FindMember(const std::string& s, const char* szKey) {
    int nDepth = 0;
    for (size_t i = 0; i < s.size(); ++i) {
        const char c = s[i];
        if (c == '{' || c == '[')
            ++nDepth;
        else if (c == '}' || c == ']')
            --nDepth;
        if (c != '"') continue;
        // A string: find its end, skipping escaped characters.
        size_t nEnd = i + 1;
        while (nEnd < s.size() && s[nEnd] != '"') nEnd += (s[nEnd] == '\\') ? 2 : 1;
        if (nEnd >= s.size()) return std::string::npos;
        const bool bKey = nDepth == 1 && s.compare(i + 1, nEnd - i - 1, szKey) == 0;
        i = nEnd;
        if (!bKey) continue;
        size_t n = s.find_first_not_of(" \t\r\n", nEnd + 1);
        if (n == std::string::npos || s[n] != ':') continue;  // a value, not a key
        return s.find_first_not_of(" \t\r\n", n + 1);
    }
    return std::string::npos;
}

// An integer member (no fraction or exponent) of the outermost object.
bool FindInt(const std::string& strText, const char* szKey, int32_t& nValue) {
    const size_t i = FindMember(strText, szKey);
    if (i == std::string::npos) return false;
    const char* p = strText.c_str() + i;
    char* pEnd = nullptr;
    const long n = std::strtol(p, &pEnd, 10);
    if (pEnd == p || n < -1000000 || n > 1000000) return false;
    if (*pEnd == '.' || *pEnd == 'e' || *pEnd == 'E') return false;
    nValue = static_cast<int32_t>(n);
    return true;
}

// A number member of the outermost object (fraction and exponent allowed).
bool FindNumber(const std::string& strText, const char* szKey, double& dValue) {
    const size_t i = FindMember(strText, szKey);
    if (i == std::string::npos) return false;
    const char* p = strText.c_str() + i;
    char* pEnd = nullptr;
    const double d = std::strtod(p, &pEnd);
    if (pEnd == p || !std::isfinite(d) || d < -1e9 || d > 1e9) return false;
    dValue = d;
    return true;
}

// A JSON number of a double, or null when there is none.
std::string JsonNumber(bool bValid, double d) {
    if (!bValid || !std::isfinite(d)) return "null";
    char sz[32];
    std::snprintf(sz, sizeof sz, "%.4f", d);
    return sz;
}

// A string member of the outermost object, as written (escapes kept).
bool FindString(const std::string& strText, const char* szKey, std::string& strValue) {
    const size_t i = FindMember(strText, szKey);
    if (i == std::string::npos || strText[i] != '"') return false;
    size_t j = i + 1;
    while (j < strText.size() && strText[j] != '"') j += (strText[j] == '\\') ? 2 : 1;
    if (j >= strText.size()) return false;
    strValue = strText.substr(i + 1, j - i - 1);
    return true;
}

}  // namespace

std::string HistoryName(std::chrono::system_clock::time_point t) {
    const std::tm tm = LocalTime(t);
    const auto nMs = std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count() % 1000;
    char sz[64];
    std::snprintf(sz, sizeof sz, "%04d%02d%02d-%02d%02d%02d-%03d", tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                  tm.tm_hour, tm.tm_min, tm.tm_sec, static_cast<int>(nMs < 0 ? nMs + 1000 : nMs));
    return sz;
}

bool IsHistoryRawName(const std::string& strName) {
    if (strName.size() != kNameLength + 4 || strName.compare(kNameLength, 4, ".RAW") != 0) return false;
    for (size_t i = 0; i < kNameLength; ++i) {
        const bool bDash = i == 8 || i == 15;
        if (bDash ? strName[i] != '-' : !std::isdigit(static_cast<unsigned char>(strName[i]))) return false;
    }
    return true;
}

std::string HistorySidecarText(const CHistoryEntry& e) {
    std::ostringstream o;
    o << "{\n"
      << "  \"image\": " << JsonString(e.strName + ".RAW") << ",\n"
      << "  \"time\": " << JsonString(e.strTime) << ",\n"
      << "  \"width\": " << e.nWidth << ",\n"
      << "  \"height\": " << e.nHeight << ",\n"
      << "  \"pixel\": \"uint16 little-endian, 14 significant bits\",\n"
      << "  \"frame_width\": " << e.nFrameWidth << ",\n"
      << "  \"frame_height\": " << e.nFrameHeight << ",\n"
      << "  \"cut_top\": " << e.nCutTop << ",\n"
      << "  \"cut_bottom\": " << e.nCutBottom << ",\n"
      << "  \"cut_left\": " << e.nCutLeft << ",\n"
      << "  \"cut_right\": " << e.nCutRight << ",\n"
      << "  \"trigger_mode\": " << e.nTriggerMode << ",\n"
      << "  \"detector\": " << JsonString(std::string(1, e.cDetector)) << ",\n"
      << "  \"dose_indicator\": ";
    if (e.nDoseIndicator >= 0)
        o << e.nDoseIndicator;
    else
        o << "null";
    o << ",\n"
      << "  \"window_width\": " << e.nWindowWidth << ",\n"
      << "  \"window_level\": " << e.nWindowLevel << ",\n";
    const dose::CExposureIndex& ei = e.exposureIndex;
    o << "  \"exposure_index\": " << JsonNumber(ei.bValid, ei.dEI) << ",\n"
      << "  \"target_exposure_index\": " << JsonNumber(ei.bValid, ei.dTargetEI) << ",\n"
      << "  \"deviation_index\": " << JsonNumber(ei.bValid && ei.bDeviationValid, ei.dDI) << ",\n"
      << "  \"exposure_verdict\": " << JsonString(dose::ExposureIndexWords(ei)) << "\n"
      << "}\n";
    return o.str();
}

bool ParseHistorySidecar(const std::string& strText, CHistoryEntry& e) {
    CHistoryEntry r;
    if (!FindInt(strText, "width", r.nWidth) || !FindInt(strText, "height", r.nHeight)) return false;
    if (r.nWidth <= 0 || r.nHeight <= 0 || r.nWidth > 3072 || r.nHeight > 3072) return false;
    // The frame and cuts are optional; what is there must fit.
    r.nFrameWidth = r.nWidth;
    r.nFrameHeight = r.nHeight;
    FindInt(strText, "frame_width", r.nFrameWidth);
    FindInt(strText, "frame_height", r.nFrameHeight);
    FindInt(strText, "cut_top", r.nCutTop);
    FindInt(strText, "cut_bottom", r.nCutBottom);
    FindInt(strText, "cut_left", r.nCutLeft);
    FindInt(strText, "cut_right", r.nCutRight);
    const bool bCutsFit = r.nCutTop >= 0 && r.nCutBottom >= 0 && r.nCutLeft >= 0 && r.nCutRight >= 0 &&
                          r.nFrameWidth <= 3072 && r.nFrameHeight <= 3072 &&
                          r.nFrameWidth - r.nCutLeft - r.nCutRight == r.nWidth &&
                          r.nFrameHeight - r.nCutTop - r.nCutBottom == r.nHeight;
    if (!bCutsFit) {
        r.nFrameWidth = r.nWidth;
        r.nFrameHeight = r.nHeight;
        r.nCutTop = r.nCutBottom = r.nCutLeft = r.nCutRight = 0;
    }
    FindInt(strText, "trigger_mode", r.nTriggerMode);
    FindInt(strText, "dose_indicator", r.nDoseIndicator);
    FindInt(strText, "window_width", r.nWindowWidth);
    FindInt(strText, "window_level", r.nWindowLevel);
    // The exposure index: EI and its target, the deviation when there is one.
    dose::CExposureIndex& ei = r.exposureIndex;
    if (FindNumber(strText, "exposure_index", ei.dEI) && ei.dEI >= 0.0 &&
        FindNumber(strText, "target_exposure_index", ei.dTargetEI) && ei.dTargetEI >= 0.0) {
        ei.bValid = true;
        ei.dKermaUGy = ei.dEI / 100.0;
        ei.bDeviationValid = FindNumber(strText, "deviation_index", ei.dDI);
    } else {
        ei = dose::CExposureIndex{};
    }
    std::string strDetector;
    if (FindString(strText, "detector", strDetector) && strDetector.size() == 1) r.cDetector = strDetector[0];
    FindString(strText, "time", r.strTime);
    r.strRawPath = e.strRawPath;
    r.strName = e.strName;
    e = std::move(r);
    return true;
}

bool ReadHistorySidecar(const std::string& strRawPath, CHistoryEntry& e) {
    const fs::path raw(strRawPath);
    fs::path json = raw;
    json.replace_extension(".json");
    std::ifstream in(json, std::ios::binary);
    if (!in) return false;
    std::string strText(64 * 1024, '\0');  // a sidecar is a few hundred bytes
    in.read(strText.data(), std::streamsize(strText.size()));
    strText.resize(size_t(in.gcount()));
    e.strRawPath = strRawPath;
    e.strName = raw.stem().string();
    return ParseHistorySidecar(strText, e);
}

CImageHistory::CImageHistory(std::string strIniPath, std::function<void(const std::string&)> fnProblem)
    : m_strIniPath(std::move(strIniPath)), m_fnProblem(std::move(fnProblem)) {}

void CImageHistory::OnImageAcquired(const AcquiredImagePtr& pImage) {
    if (!pImage || pImage->strSavedPath.empty()) return;
    const int32_t nKeep = cfg::ReadView(m_strIniPath, cfg::HISTORY_KEEP);
    if (nKeep <= 0) return;
    const std::string strFolder = (fs::path(pImage->strSavedPath).parent_path() / kHistoryFolder).string();
    CHistoryEntry entry;
    std::string strError;
    if (!Keep(*pImage, strFolder, nKeep, entry, strError)) {
        WriteLog("History: " + strError);
        if (m_fnProblem) m_fnProblem(strError);
        return;
    }
    m_entries.push_back(std::move(entry));
}

bool CImageHistory::Keep(const CAcquiredImage& image, const std::string& strFolder, int32_t nKeep, CHistoryEntry& entry,
                         std::string& strError) {
    std::error_code ec;
    fs::create_directories(strFolder, ec);
    if (!fs::is_directory(strFolder)) {
        strError = "history folder " + strFolder + " cannot be created";
        return false;
    }
    // One name per exposure: a second image within the same millisecond
    // takes the next free one.
    std::string strName = HistoryName(image.tAcquired);
    for (auto t = image.tAcquired;
         fs::exists(JoinPath(strFolder, strName + ".RAW")) || fs::exists(JoinPath(strFolder, strName + ".json"));) {
        t += std::chrono::milliseconds(1);
        strName = HistoryName(t);
    }
    const CImageGeometry& g = image.geometry;
    entry = CHistoryEntry{};
    entry.strName = strName;
    entry.strRawPath = JoinPath(strFolder, strName + ".RAW");
    entry.nWidth = image.Width();
    entry.nHeight = image.Height();
    entry.nFrameWidth = g.nWidth;
    entry.nFrameHeight = g.nHeight;
    entry.nCutTop = g.nCutTop;
    entry.nCutBottom = g.nCutBottom;
    entry.nCutLeft = g.nCutLeft;
    entry.nCutRight = g.nCutRight;
    entry.nTriggerMode = image.nTriggerMode;
    entry.cDetector = image.cDetector;
    entry.nDoseIndicator = image.nDoseIndicator;
    entry.nWindowWidth = image.autoWindow.nWidth;
    entry.nWindowLevel = image.autoWindow.nLevel;
    entry.exposureIndex = image.exposureIndex;
    const std::tm tm = LocalTime(image.tAcquired);
    char sz[16];
    std::snprintf(sz, sizeof sz, "%02d:%02d:%02d", tm.tm_hour, tm.tm_min, tm.tm_sec);
    entry.strTime = sz;

    // The RAW first, then its sidecar: a sidecar never names a missing image.
    if (!WriteRawFile(entry.strRawPath, image.pixels.data(), image.pixels.size())) {
        strError = "image not kept: " + entry.strRawPath + " cannot be written";
        return false;
    }
    const std::string strText = HistorySidecarText(entry);
    if (!WriteFileReplacing(JoinPath(strFolder, strName + ".json"), strText.data(), strText.size())) {
        std::filesystem::remove(entry.strRawPath, ec);
        strError = "image not kept: the sidecar of " + entry.strRawPath + " cannot be written";
        return false;
    }
    Prune(strFolder, nKeep);
    return true;
}

std::vector<std::string> CImageHistory::ListNames(const std::string& strFolder) {
    std::vector<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(strFolder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string strName = it->path().filename().string();
        if (IsHistoryRawName(strName) && it->is_regular_file(ec)) names.push_back(strName);
    }
    std::sort(names.begin(), names.end());
    return names;
}

void CImageHistory::Prune(const std::string& strFolder, int32_t nKeep) {
    if (nKeep <= 0) return;
    const std::vector<std::string> names = ListNames(strFolder);
    if (names.size() <= size_t(nKeep)) return;
    std::error_code ec;
    // The names sort by time: the first ones are the oldest.
    for (size_t i = 0; i + size_t(nKeep) < names.size(); ++i) {
        fs::path raw = fs::path(strFolder) / names[i];
        fs::remove(raw, ec);
        fs::remove(raw.replace_extension(".json"), ec);
    }
}

}  // namespace orvi
