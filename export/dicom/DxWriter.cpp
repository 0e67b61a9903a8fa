#include "export/dicom/DxWriter.h"

#include "imaging/RawFile.h"

#include <dcmtk/config/osconfig.h>
#include <dcmtk/dcmdata/dcdeftag.h>
#include <dcmtk/dcmdata/dcfilefo.h>
#include <dcmtk/dcmdata/dcostrma.h>
#include <dcmtk/dcmdata/dcsequen.h>
#include <dcmtk/dcmdata/dcuid.h>
#include <dcmtk/dcmdata/dcxfer.h>
#include <dcmtk/dcmjpls/djencode.h>
#include <dcmtk/dcmjpls/djrparam.h>
#include <dcmtk/oflog/oflog.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <iterator>
#include <mutex>
#include <vector>

#ifndef ORVI_VERSION
#define ORVI_VERSION "0"
#endif

namespace orvi::dicom {

namespace {

// Values of the DX IOD used by name.
constexpr const char* kManufacturer = "ORVI";
constexpr const char* kModality = "DX";
constexpr const char* kForPresentation = "FOR PRESENTATION";
constexpr const char* kUtf8CharacterSet = "ISO_IR 192";
// Longest values of the text VRs used, in bytes.
constexpr size_t kMaxShort = 16;       // SH
constexpr size_t kMaxLong = 64;        // LO
constexpr size_t kMaxPersonName = 64;  // PN, per component group

bool IsDate(const std::string& s) {
    return s.size() == 8 && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

struct CDateTime {
    std::string strDate;  // YYYYMMDD
    std::string strTime;  // HHMMSS
    std::string strZone;  // +HHMM
};

CDateTime LocalDateTime(std::chrono::system_clock::time_point t) {
    const std::time_t tt = std::chrono::system_clock::to_time_t(t);
    std::tm tmLocal{};
    localtime_r(&tt, &tmLocal);
    char szDate[16], szTime[16], szZone[16];
    std::strftime(szDate, sizeof szDate, "%Y%m%d", &tmLocal);
    std::strftime(szTime, sizeof szTime, "%H%M%S", &tmLocal);
    std::strftime(szZone, sizeof szZone, "%z", &tmLocal);
    return {szDate, szTime, szZone};
}

// A decimal string (DS) of at most 16 characters.
std::string DecimalString(double d, int nDecimals) {
    char sz[40];
    std::snprintf(sz, sizeof sz, "%.*f", nDecimals, d);
    std::string s = sz;
    if (s.find('.') != std::string::npos) {
        while (!s.empty() && s.back() == '0') s.pop_back();
        if (!s.empty() && s.back() == '.') s.pop_back();
    }
    if (s == "-0") s = "0";
    return s.size() <= 16 ? s : s.substr(0, 16);
}

bool IsAscii(const std::string& s) {
    return std::all_of(s.begin(), s.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

constexpr CCodedTerm kBodyParts[] = {
    {"CHEST", "T-D3000", "Chest"},
    {"ABDOMEN", "T-D4000", "Abdomen"},
    {"PELVIS", "T-D6000", "Pelvis"},
    {"SKULL", "T-11100", "Skull"},
    {"CSPINE", "T-11600", "Cervical spine"},
    {"TSPINE", "T-11700", "Thoracic spine"},
    {"LSPINE", "T-11900", "Lumbar spine"},
    {"SHOULDER", "T-D2220", "Shoulder"},
    {"ELBOW", "T-D8300", "Elbow"},
    {"WRIST", "T-D8600", "Wrist"},
    {"HAND", "T-D8700", "Hand"},
    {"KNEE", "T-D9200", "Knee"},
    {"FOOT", "T-D9700", "Foot"},
};
constexpr CCodedTerm kViewPositions[] = {
    {"AP", "R-10206", "antero-posterior"},
    {"PA", "R-10214", "postero-anterior"},
    {"RL", "R-10232", "right lateral"},
    {"LL", "R-10236", "left lateral"},
};
constexpr const char* kSnomedScheme = "SRT";

template <size_t N>
const CCodedTerm* Find(const CCodedTerm (&table)[N], const std::string& strTerm) {
    for (const CCodedTerm& t : table)
        if (strTerm == t.szTerm) return &t;
    return nullptr;
}

template <size_t N>
std::string Terms(const CCodedTerm (&table)[N]) {
    std::string s;
    for (const CCodedTerm& t : table) s += (s.empty() ? "" : ", ") + std::string(t.szTerm);
    return s;
}

// Collects the first failure of a run of DCMTK calls.
class CBuild {
public:
    explicit CBuild(DcmDataset& ds) : m_ds(ds) {}

    void Put(const DcmTagKey& tag, const std::string& strValue) {
        Check(m_ds.putAndInsertString(tag, strValue.c_str()));
    }
    // A single text value as its VR allows it: no control characters, no
    // value separator, at most nMax bytes (never half a UTF-8 character).
    void Text(const DcmTagKey& tag, const std::string& strValue, size_t nMax) {
        std::string s;
        for (char c : strValue) {
            if (c == '\\')
                s += ' ';
            else if (static_cast<unsigned char>(c) >= 0x20 && c != 0x7F)
                s += c;
        }
        if (s.size() > nMax) {
            size_t n = nMax;
            while (n > 0 && (static_cast<unsigned char>(s[n]) & 0xC0) == 0x80) --n;
            s.resize(n);
        }
        while (!s.empty() && s.back() == ' ') s.pop_back();
        Put(tag, s);
    }
    void Put16(const DcmTagKey& tag, uint16_t nValue) { Check(m_ds.putAndInsertUint16(tag, nValue)); }
    void Empty(const DcmTagKey& tag) { Check(m_ds.insertEmptyElement(tag)); }
    void EmptySequence(const DcmTagKey& tag) { Check(m_ds.insert(new DcmSequenceOfItems(tag))); }
    // A code sequence of one item.
    void Code(const DcmTagKey& tag, const char* szValue, const char* szScheme, const char* szMeaning) {
        DcmItem* pItem = nullptr;
        Check(m_ds.findOrCreateSequenceItem(tag, pItem, -2));
        if (pItem == nullptr) return;
        Check(pItem->putAndInsertString(DCM_CodeValue, szValue));
        Check(pItem->putAndInsertString(DCM_CodingSchemeDesignator, szScheme));
        Check(pItem->putAndInsertString(DCM_CodeMeaning, szMeaning));
    }
    void Check(const OFCondition& c) {
        if (c.bad() && m_strError.empty()) m_strError = c.text();
    }
    const std::string& Error() const { return m_strError; }
    DcmDataset& Dataset() { return m_ds; }

private:
    DcmDataset& m_ds;
    std::string m_strError;
};

// ---- The modules of the IOD, one function each ------------------------------------

void SopCommon(CBuild& b, const CDxObject& o, const CDateTime& now) {
    const CPatientStudy& p = o.patient;
    const bool bAscii = IsAscii(p.strPatientName) && IsAscii(p.strPatientId) && IsAscii(p.strStudyDescription) &&
                        IsAscii(p.strReferringPhysician) && IsAscii(p.strBodyPart) && IsAscii(o.strStationName) &&
                        IsAscii(o.strInstitution) && IsAscii(o.strModelName) && IsAscii(p.strAccessionNumber) &&
                        IsAscii(p.strRequestedProcedureDescription);
    if (!bAscii) b.Put(DCM_SpecificCharacterSet, kUtf8CharacterSet);
    b.Put(DCM_SOPClassUID, UID_DigitalXRayImageStorageForPresentation);
    b.Put(DCM_SOPInstanceUID, o.strSopUid);
    b.Put(DCM_InstanceCreationDate, now.strDate);
    b.Put(DCM_InstanceCreationTime, now.strTime);
    b.Put(DCM_TimezoneOffsetFromUTC, now.strZone);
}

void Patient(CBuild& b, const CDxObject& o) {
    const CPatientStudy& p = o.patient;
    b.Text(DCM_PatientName, p.strPatientName, kMaxPersonName);
    b.Text(DCM_PatientID, p.strPatientId, kMaxLong);
    b.Put(DCM_PatientBirthDate, IsDate(p.strBirthDate) ? p.strBirthDate : "");
    b.Put(DCM_PatientSex, p.strSex == "M" || p.strSex == "F" || p.strSex == "O" ? p.strSex : "");
}

void GeneralStudy(CBuild& b, const CDxObject& o) {
    const CPatientStudy& p = o.patient;
    b.Put(DCM_StudyInstanceUID, o.strStudyUid);
    b.Put(DCM_StudyDate, o.strStudyDate);
    b.Put(DCM_StudyTime, o.strStudyTime);
    b.Text(DCM_ReferringPhysicianName, p.strReferringPhysician, kMaxPersonName);
    b.Text(DCM_StudyID, o.strStudyId, kMaxShort);
    b.Text(DCM_AccessionNumber, p.strAccessionNumber, kMaxShort);
    if (!p.strStudyDescription.empty())
        b.Text(DCM_StudyDescription, p.strStudyDescription, kMaxLong);
    else if (!p.strRequestedProcedureDescription.empty())
        b.Text(DCM_StudyDescription, p.strRequestedProcedureDescription, kMaxLong);
}

// General Series and DX Series.
void Series(CBuild& b, const CDxObject& o) {
    b.Put(DCM_Modality, kModality);
    b.Put(DCM_SeriesInstanceUID, o.strSeriesUid);
    b.Put(DCM_SeriesNumber, std::to_string(o.nSeriesNumber));
    b.Put(DCM_SeriesDate, o.strSeriesDate);
    b.Put(DCM_SeriesTime, o.strSeriesTime);
    b.Put(DCM_PresentationIntentType, kForPresentation);
}

void GeneralEquipment(CBuild& b, const CDxObject& o) {
    b.Put(DCM_Manufacturer, kManufacturer);
    if (!o.strInstitution.empty()) b.Text(DCM_InstitutionName, o.strInstitution, kMaxLong);
    if (!o.strStationName.empty()) b.Text(DCM_StationName, o.strStationName, kMaxShort);
    if (!o.strModelName.empty()) b.Text(DCM_ManufacturerModelName, o.strModelName, kMaxLong);
    if (!o.strDetectorId.empty()) b.Text(DCM_DeviceSerialNumber, o.strDetectorId, kMaxLong);
    // The station's version, then the detector's firmware.
    std::string strVersions = SoftwareVersion();
    if (!o.strDetectorFirmware.empty()) strVersions += "\\" + o.strDetectorFirmware;
    b.Put(DCM_SoftwareVersions, strVersions);
}

// General Image, Image Pixel (without the pixels) and DX Image.
void Image(CBuild& b, const CDxObject& o, int32_t nWidth, int32_t nHeight, uint16_t nBitsStored) {
    const CDateTime acquired = LocalDateTime(o.tAcquired);
    b.Put(DCM_ImageType, "ORIGINAL\\PRIMARY");
    b.Put(DCM_InstanceNumber, std::to_string(o.nInstanceNumber));
    b.Put(DCM_PatientOrientation, o.strPatientOrientation);
    b.Put(DCM_ContentDate, acquired.strDate);
    b.Put(DCM_ContentTime, acquired.strTime);
    b.Put(DCM_AcquisitionDate, acquired.strDate);
    b.Put(DCM_AcquisitionTime, acquired.strTime);
    b.Put(DCM_AcquisitionDateTime, acquired.strDate + acquired.strTime + acquired.strZone);
    b.Put(DCM_BurnedInAnnotation, "NO");

    b.Put16(DCM_SamplesPerPixel, 1);
    b.Put(DCM_PhotometricInterpretation, "MONOCHROME2");
    b.Put16(DCM_Rows, static_cast<uint16_t>(nHeight));
    b.Put16(DCM_Columns, static_cast<uint16_t>(nWidth));
    b.Put16(DCM_BitsAllocated, 16);
    b.Put16(DCM_BitsStored, nBitsStored);
    b.Put16(DCM_HighBit, static_cast<uint16_t>(nBitsStored - 1));
    b.Put16(DCM_PixelRepresentation, 0);

    // The values are linear in the signal, larger values mean more X-ray.
    b.Put(DCM_PixelIntensityRelationship, "LIN");
    b.Put(DCM_PixelIntensityRelationshipSign, "1");
    b.Put(DCM_RescaleIntercept, "0");
    b.Put(DCM_RescaleSlope, "1");
    b.Put(DCM_RescaleType, "US");
    b.Put(DCM_PresentationLUTShape, "IDENTITY");
    b.Put(DCM_LossyImageCompression, "00");
    b.Put(DCM_CalibrationImage, "NO");
}

void VoiLut(CBuild& b, const CDxObject& o) {
    b.Put(DCM_WindowCenter, DecimalString(o.window.dCenter, 1));
    b.Put(DCM_WindowWidth, DecimalString(std::max(1.0, o.window.dWidth), 1));
}

void DxDetector(CBuild& b, const CDxObject& o) {
    b.Empty(DCM_DetectorType);  // the library does not say how it converts X-ray
    b.Put(DCM_DetectorConfiguration, "AREA");
    if (!o.strDetectorId.empty()) b.Text(DCM_DetectorID, o.strDetectorId, kMaxShort);
    const std::string strPitch = DecimalString(o.dPixelPitchMm, 6);
    b.Put(DCM_ImagerPixelSpacing, strPitch + "\\" + strPitch);
    b.Put(DCM_DetectorElementPhysicalSize, strPitch + "\\" + strPitch);
    b.Put(DCM_DetectorElementSpacing, strPitch + "\\" + strPitch);
}

void DxAnatomyImaged(CBuild& b, const CDxObject& o) {
    b.Put(DCM_ImageLaterality, "U");
    // A body part the station cannot code is not written: the standard lets
    // the two be empty only together.
    const CCodedTerm* pPart = FindBodyPart(o.patient.strBodyPart);
    if (pPart != nullptr) {
        b.Put(DCM_BodyPartExamined, pPart->szTerm);
        b.Code(DCM_AnatomicRegionSequence, pPart->szCode, kSnomedScheme, pPart->szMeaning);
    } else {
        b.Empty(DCM_BodyPartExamined);
        b.EmptySequence(DCM_AnatomicRegionSequence);
    }
}

void DxPositioning(CBuild& b, const CDxObject& o) {
    const CCodedTerm* pView = FindViewPosition(o.patient.strViewPosition);
    if (pView != nullptr) {
        b.Put(DCM_ViewPosition, pView->szTerm);
        b.Code(DCM_ViewCodeSequence, pView->szCode, kSnomedScheme, pView->szMeaning);
    }
    b.Empty(DCM_PositionerType);
}

// X-Ray Acquisition Dose and the acquisition context: what the station does
// not know stays empty.
void Dose(CBuild& b, const CDxObject& o) {
    b.Empty(DCM_KVP);
    b.Empty(DCM_ExposureTime);
    b.Empty(DCM_XRayTubeCurrent);
    b.Empty(DCM_Exposure);
    if (o.ei.bValid) {
        b.Put(DCM_ExposureIndex, DecimalString(o.ei.dEI, 1));
        b.Put(DCM_TargetExposureIndex, DecimalString(o.ei.dTargetEI, 1));
        if (o.ei.bDeviationValid) b.Put(DCM_DeviationIndex, DecimalString(o.ei.dDI, 2));
    }
    b.EmptySequence(DCM_AcquisitionContextSequence);
}

// The end of DCMTK's output stream: small pieces (tags, lengths, short
// values) are gathered in a buffer, large ones (the pixel data) go from the
// object's own value straight to fnWrite, with no copy in between.
class CSinkConsumer final : public DcmConsumer {
public:
    explicit CSinkConsumer(const ByteSink& fnWrite) : m_fnWrite(fnWrite) { m_buffer.reserve(kBuffer); }
    OFBool good() const override { return m_bGood; }
    OFCondition status() const override { return m_bGood ? EC_Normal : EC_InvalidStream; }
    OFBool isFlushed() const override { return m_buffer.empty(); }
    // Every value is taken whole: no I/O suspension.
    offile_off_t avail() const override { return m_bGood ? offile_off_t{1} << 40 : 0; }
    offile_off_t write(const void* pBytes, offile_off_t nLength) override {
        if (!m_bGood || nLength <= 0) return 0;
        const size_t n = size_t(nLength);
        if (m_buffer.size() + n <= kBuffer) {
            const auto* p = static_cast<const uint8_t*>(pBytes);
            m_buffer.insert(m_buffer.end(), p, p + n);
            return nLength;
        }
        flush();
        if (m_bGood) m_bGood = m_fnWrite(pBytes, n);
        return m_bGood ? nLength : 0;
    }
    void flush() override {
        if (m_bGood && !m_buffer.empty()) m_bGood = m_fnWrite(m_buffer.data(), m_buffer.size());
        m_buffer.clear();
    }

private:
    static constexpr size_t kBuffer = size_t{64} << 10;
    const ByteSink& m_fnWrite;
    std::vector<uint8_t> m_buffer;
    bool m_bGood = true;
};

class CSinkStream final : public DcmOutputStream {
public:
    explicit CSinkStream(DcmConsumer* pConsumer) : DcmOutputStream(pConsumer) {}
};

// Encodes the file (preamble, meta header, dataset) into fnWrite.
bool Encode(DcmFileFormat& ff, E_TransferSyntax xfer, const ByteSink& fnWrite, std::string& strError) {
    CSinkConsumer consumer(fnWrite);
    CSinkStream stream(&consumer);
    ff.transferInit();
    OFCondition c = EC_StreamNotifyClient;
    while (c == EC_StreamNotifyClient && consumer.good())
        c = ff.write(stream, xfer, EET_ExplicitLength, nullptr, EGL_recalcGL, EPD_noChange, 0, 0, 0, EWM_fileformat);
    ff.transferEnd();
    if (c.bad() && consumer.good()) {
        strError = std::string("cannot encode the object: ") + c.text();
        return false;
    }
    stream.flush();
    if (!consumer.good()) strError = "cannot write the file";
    return consumer.good();
}

void RegisterCodecsOnce() {
    static std::once_flag once;
    std::call_once(once, [] {
        // The raw encoder takes the stored pixels as they are; the cooked one
        // would first pass them through the image toolkit, at twice the time.
        DJLSEncoderRegistration::registerCodecs(0, 0, 0, 0, OFFalse);
        std::atexit([] { DJLSEncoderRegistration::cleanup(); });
        // The codec's notes on each image are not the station's business.
        OFLog::getLogger("dcmtk.dcmjpls").setLogLevel(OFLogger::WARN_LOG_LEVEL);
    });
}

}  // namespace

const char* SoftwareVersion() { return ORVI_VERSION; }

const CCodedTerm* FindBodyPart(const std::string& strTerm) { return Find(kBodyParts, strTerm); }
const CCodedTerm* FindViewPosition(const std::string& strTerm) { return Find(kViewPositions, strTerm); }
std::string BodyPartTerms() { return Terms(kBodyParts); }
std::string ViewPositionTerms() { return Terms(kViewPositions); }
const CCodedTerm* BodyPartTable(size_t& nCount) {
    nCount = std::size(kBodyParts);
    return kBodyParts;
}
const CCodedTerm* ViewPositionTable(size_t& nCount) {
    nCount = std::size(kViewPositions);
    return kViewPositions;
}

bool IsValidUidRoot(const std::string& s) {
    if (s.empty() || s.size() > 40 || s.front() == '.' || s.back() == '.') return false;
    size_t nStart = 0;
    while (nStart <= s.size()) {
        const size_t nEnd = std::min(s.find('.', nStart), s.size());
        const std::string strPart = s.substr(nStart, nEnd - nStart);
        if (strPart.empty() || (strPart.size() > 1 && strPart[0] == '0')) return false;
        if (!std::all_of(strPart.begin(), strPart.end(), [](char c) { return c >= '0' && c <= '9'; })) return false;
        nStart = nEnd + 1;
    }
    return true;
}

std::string NewUid(const std::string& strRoot) {
    char szUid[100];
    dcmGenerateUniqueIdentifier(szUid, strRoot.empty() ? SITE_INSTANCE_UID_ROOT : strRoot.c_str());
    return szUid;
}

std::string DxFileName(std::chrono::system_clock::time_point t, const std::string& strSopUid) {
    const CDateTime dt = LocalDateTime(t);
    return dt.strDate + "-" + dt.strTime + "-" + strSopUid + ".dcm";
}

bool WriteDxFile(const uint16_t* pPixels, int32_t nWidth, int32_t nHeight, const CDxObject& o, ETransfer transfer,
                 const std::string& strPath, std::string& strError) {
    if (pPixels == nullptr || nWidth <= 0 || nHeight <= 0 || nWidth > 65535 || nHeight > 65535) {
        strError = "no image of a size DICOM can hold";
        return false;
    }
    const size_t nPixels = size_t(nWidth) * size_t(nHeight);
    // The header never claims fewer bits than the pixels use: 16 when any
    // pixel has bit 14 or 15 set (an OR of all, which the compiler vectorises).
    uint16_t nBitsUsed = 0;
    for (size_t i = 0; i < nPixels; ++i) nBitsUsed |= pPixels[i];
    const uint16_t nBitsStored = (nBitsUsed & 0xC000) != 0 ? 16 : 14;

    DcmFileFormat ff;
    DcmDataset& ds = *ff.getDataset();
    CBuild b(ds);
    SopCommon(b, o, LocalDateTime(std::chrono::system_clock::now()));
    Patient(b, o);
    GeneralStudy(b, o);
    Series(b, o);
    GeneralEquipment(b, o);
    Image(b, o, nWidth, nHeight, nBitsStored);
    VoiLut(b, o);
    DxDetector(b, o);
    DxAnatomyImaged(b, o);
    DxPositioning(b, o);
    Dose(b, o);
    b.Check(ds.putAndInsertUint16Array(DCM_PixelData, pPixels, static_cast<unsigned long>(nPixels)));
    if (!b.Error().empty()) {
        strError = "cannot build the object: " + b.Error();
        return false;
    }

    E_TransferSyntax xfer = EXS_LittleEndianExplicit;
    if (transfer == ETransfer::JpegLsLossless) {
        RegisterCodecsOnce();
        xfer = EXS_JPEGLSLossless;
        const DJLSRepresentationParameter param(0, OFTrue);
        const OFCondition c = ds.chooseRepresentation(xfer, &param);
        if (c.bad() || !ds.canWriteXfer(xfer)) {
            strError = std::string("JPEG-LS compression failed: ") + c.text();
            return false;
        }
    }
    std::string strEncodeError;
    errno = 0;
    const bool bOk = WriteFileReplacingFrom(
        strPath, [&](const ByteSink& fnWrite) { return Encode(ff, xfer, fnWrite, strEncodeError); });
    if (!bOk) {
        strError = (strEncodeError.empty() ? std::string("cannot write the file") : strEncodeError) + " " + strPath;
        if (errno != 0) strError += std::string(" (") + std::strerror(errno) + ")";
        return false;
    }
    return true;
}

}  // namespace orvi::dicom
