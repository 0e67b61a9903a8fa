#include "export/dicom/DicomSink.h"

#include "app/ConfigKeys.h"
#include "app/EventLog.h"
#include "app/Profile.h"
#include "app/StatusPort.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <regex>
#include <system_error>
#include <unistd.h>

namespace orvi::dicom {

namespace {

constexpr const char* kSectionDicom = "DICOM";
constexpr const char* kSectionExposureIndex = "EXPOSURE_INDEX";
constexpr size_t kTextSize = 512;

std::string Lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return s;
}

std::string Trim(const std::string& s) {
    const size_t nFirst = s.find_first_not_of(" \t");
    if (nFirst == std::string::npos) return "";
    return s.substr(nFirst, s.find_last_not_of(" \t") - nFirst + 1);
}

std::string HostName() {
    char sz[256] = {};
    if (gethostname(sz, sizeof sz - 1) != 0) return "";
    std::string s = sz;
    s = s.substr(0, s.find('.'));
    return s.substr(0, 16);  // Station Name is a short string
}

void Problem(CDicomSettings& s, const std::string& strText) {
    if (!s.strProblems.empty()) s.strProblems += "; ";
    s.strProblems += strText;
}

// A positive number from a text key; the default when empty or unusable.
double ReadPositive(CDicomSettings& s, const std::string& strIni, const char* szSection, const char* szKey,
                    double dDefault) {
    const std::string strText = Trim(ReadProfileText(strIni, szSection, szKey, "", kTextSize));
    if (strText.empty()) return dDefault;
    char* pEnd = nullptr;
    const double d = std::strtod(strText.c_str(), &pEnd);
    if (pEnd == strText.c_str() || *pEnd != '\0' || !(d > 0.0) || d > 1e9) {
        Problem(s, std::string(szKey) + "=" + strText + " is not a positive number");
        return dDefault;
    }
    return d;
}

}  // namespace

CDicomSettings ReadDicomSettings(const std::string& strIni, const std::string& strImagePath) {
    CDicomSettings s;
    s.bWrite = ReadProfileInt(strIni, kSectionDicom, "WRITE", 1) != 0;

    s.strFolder = Trim(ReadProfileText(strIni, kSectionDicom, "FOLDER", "", kTextSize));
    if (s.strFolder.empty()) s.strFolder = strImagePath + "dicom/";
    if (s.strFolder.back() != '/') s.strFolder += '/';

    s.strUidRoot = Trim(ReadProfileText(strIni, kSectionDicom, "UID_ROOT", "", kTextSize));
    if (!s.strUidRoot.empty() && !IsValidUidRoot(s.strUidRoot)) {
        Problem(s, "UID_ROOT=" + s.strUidRoot + " is not a UID root (digits and dots, at most 40 characters)");
        s.strUidRoot.clear();
    }

    const std::string strTransfer = Lower(Trim(ReadProfileText(strIni, kSectionDicom, "TRANSFER", "", kTextSize)));
    if (strTransfer == "jpegls") s.transfer = ETransfer::JpegLsLossless;
    else if (!strTransfer.empty() && strTransfer != "explicit")
        Problem(s, "TRANSFER=" + strTransfer + " is neither explicit nor jpegls");

    s.strStationName = Trim(ReadProfileText(strIni, kSectionDicom, "STATION_NAME", "", 17));
    if (s.strStationName.empty()) s.strStationName = HostName();
    s.strModelName = Trim(ReadProfileText(strIni, kSectionDicom, "MODEL", kDefaultModelName, 65));
    s.strInstitution = Trim(ReadProfileText(strIni, kSectionDicom, "INSTITUTION", "", 65));

    const std::string strOrientation = Trim(ReadProfileText(strIni, kSectionDicom, "PATIENT_ORIENTATION", "", 17));
    // Two values of the letters A P R L H F, e.g. "L\\F" or "P\\FL".
    static const std::regex reOrientation("[APRLHF]{1,3}\\\\[APRLHF]{1,3}");
    if (!strOrientation.empty() && !std::regex_match(strOrientation, reOrientation))
        Problem(s, "PATIENT_ORIENTATION=" + strOrientation + " is not two of A P R L H F, e.g. L\\F");
    else if (!strOrientation.empty())
        s.strPatientOrientation = strOrientation;

    const int32_t nPitch = cfg::Read(strIni, cfg::PIXEL_PITCH_UM);
    if (nPitch < 1 || nPitch > 10000) {
        Problem(s, "PIXEL_PITCH_UM=" + std::to_string(nPitch) + " is not 1 to 10000");
        s.dPixelPitchMm = cfg::PIXEL_PITCH_UM.nDefault / 1000.0;
    } else {
        s.dPixelPitchMm = nPitch / 1000.0;
    }

    const int32_t nRegion = ReadProfileInt(strIni, kSectionExposureIndex, "REGION_PERCENT", s.ei.nRegionPercent);
    if (nRegion < 1 || nRegion > 100) Problem(s, "REGION_PERCENT=" + std::to_string(nRegion) + " is not 1 to 100");
    else s.ei.nRegionPercent = nRegion;
    s.ei.dSignalPerUGy = ReadPositive(s, strIni, kSectionExposureIndex, "SIGNAL_PER_UGY", s.ei.dSignalPerUGy);
    s.ei.dTargetEI = ReadPositive(s, strIni, kSectionExposureIndex, "TARGET_EI", s.ei.dTargetEI);
    return s;
}

CExposureIndex ExposureIndexOf(const CAcquiredImage& image, const CExposureIndexSettings& settings) {
    CSignalSource src;
    src.pPixels = image.pixels.data();
    src.nWidth = image.Width();
    src.nHeight = image.Height();
    if (image.pixels.size() != size_t(std::max(0, src.nWidth)) * size_t(std::max(0, src.nHeight))) return {};
    src.nOffset = image.nOffsetControl;
    if (!image.gain.bApplied && image.dark.size() == image.pixels.size()) src.pDark = image.dark.data();
    return ComputeExposureIndex(src, settings);
}

CDxObject MakeDxObject(const CDicomSettings& s, const CImagePlace& place, const std::string& strSopUid) {
    CDxObject o;
    o.patient = place.patient;
    o.strStudyUid = place.strStudyUid;
    o.strStudyDate = place.strStudyDate;
    o.strStudyTime = place.strStudyTime;
    o.strStudyId = place.strStudyId;
    o.strSeriesUid = place.strSeriesUid;
    o.strSeriesDate = place.strSeriesDate;
    o.strSeriesTime = place.strSeriesTime;
    o.nSeriesNumber = place.nSeriesNumber;
    o.nInstanceNumber = place.nInstanceNumber;
    o.strSopUid = strSopUid;
    o.strStationName = s.strStationName;
    o.strModelName = s.strModelName;
    o.strInstitution = s.strInstitution;
    o.dPixelPitchMm = s.dPixelPitchMm;
    o.strPatientOrientation = s.strPatientOrientation;
    return o;
}

CDicomSink::CDicomSink(IStatusPort& ui, std::string strIniPath, std::string strImagePath)
    : m_ui(ui), m_strIniPath(std::move(strIniPath)), m_strImagePath(std::move(strImagePath)) {}

void CDicomSink::Fail(const std::string& strError) {
    m_strLastError = strError;
    WriteLog("DICOM file creation fail!! " + strError);
    m_ui.SetStatusText(4, "DICOM file not written: " + strError);
}

void CDicomSink::OnImageAcquired(const AcquiredImagePtr& pImage) {
    if (!pImage) return;
    const CAcquiredImage& img = *pImage;
    if (img.Width() <= 0 || img.Height() <= 0 || img.pixels.size() != size_t(img.Width()) * size_t(img.Height())) {
        Fail("the image is incomplete");
        return;
    }
    const CDicomSettings s = ReadDicomSettings(m_strIniPath, m_strImagePath);
    if (!s.strProblems.empty()) WriteLog("DICOM settings: " + s.strProblems + " - defaults used");

    m_lastEI = ExposureIndexOf(img, s.ei);
    WriteLog("Exposure index: " + ExposureIndexText(m_lastEI));
    if (m_fnExposureIndex) m_fnExposureIndex(m_lastEI);
    if (!s.bWrite) return;

    const auto tAcquired =
        img.tAcquired.time_since_epoch().count() != 0 ? img.tAcquired : std::chrono::system_clock::now();
    const CImagePlace place = m_session.Next(img.cDetector, tAcquired, s.strUidRoot);
    CDxObject obj = MakeDxObject(s, place, NewUid(s.strUidRoot));
    obj.tAcquired = tAcquired;
    obj.strDetectorId = img.strDetectorId;
    obj.strDetectorFirmware = img.strDetectorFirmware;
    obj.ei = m_lastEI;
    std::optional<CWindow> window;
    if (m_fnWindow) window = m_fnWindow();
    obj.window = window ? *window
                        : CWindow{double(img.autoWindow.nLevel), double(std::max(1, img.autoWindow.nWidth))};

    std::error_code ec;
    std::filesystem::create_directories(s.strFolder, ec);
    if (ec) {
        Fail("cannot create the folder " + s.strFolder + " (" + ec.message() + ")");
        return;
    }
    const std::string strPath = s.strFolder + DxFileName(tAcquired, obj.strSopUid);
    std::string strError;
    if (!WriteDxFile(img.pixels.data(), img.Width(), img.Height(), obj, s.transfer, strPath, strError)) {
        Fail(strError);
        return;
    }
    m_strLastError.clear();
    m_strLastFile = strPath;
    WriteLog("DICOM file saved: " + strPath);
    m_ui.FileSaved(strPath);
    if (m_fnFile) m_fnFile(strPath);
}

}  // namespace orvi::dicom
