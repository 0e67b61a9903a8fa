#pragma once
// A Digital X-Ray image, For Presentation, written with DCMTK: the object is
// built module by module as the IOD lists them (patient, study, series,
// equipment, image, DX detector, anatomy, positioning, dose, VOI LUT, SOP
// common), encoded in memory and written whole through the atomic file write
// of the RAW files. DCMTK stays inside DxWriter.cpp.
#include "export/dicom/ExposureIndex.h"
#include "export/dicom/PatientStudy.h"

#include <chrono>
#include <cstdint>
#include <string>

namespace orvi::dicom {

enum class ETransfer {
    ExplicitLittleEndian,  // 1.2.840.10008.1.2.1
    JpegLsLossless,        // 1.2.840.10008.1.2.4.80
};

// The program's version (the project version of the build).
const char* SoftwareVersion();

// A new UID from DCMTK's generator under strRoot ("" = DCMTK's site root).
std::string NewUid(const std::string& strRoot);
// True for a root a UID can be made under: digits and dots, no empty or
// zero-led component, at most 40 characters (the generator appends up to 24).
bool IsValidUidRoot(const std::string& strRoot);

// "YYYYMMDD-HHMMSS-<SOP Instance UID>.dcm" in local time.
std::string DxFileName(std::chrono::system_clock::time_point t, const std::string& strSopUid);

// The body parts and view positions the station codes (Body Part Examined
// with its Anatomic Region code, View Position with its View code).
struct CCodedTerm {
    const char* szTerm;     // the defined term, e.g. "CHEST", "PA"
    const char* szCode;     // code value (SNOMED, scheme SRT)
    const char* szMeaning;  // code meaning
};
const CCodedTerm* FindBodyPart(const std::string& strTerm);  // null: not one of them
const CCodedTerm* FindViewPosition(const std::string& strTerm);
// The terms as a list for dialogs and help texts.
std::string BodyPartTerms();
std::string ViewPositionTerms();
const CCodedTerm* BodyPartTable(size_t& nCount);
const CCodedTerm* ViewPositionTable(size_t& nCount);

// Everything the object holds besides its pixels.
struct CDxObject {
    CPatientStudy patient;  // as written: name and ID never empty

    std::string strStudyUid;
    std::string strStudyDate, strStudyTime;  // DA, TM
    std::string strStudyId;
    std::string strSeriesUid;
    std::string strSeriesDate, strSeriesTime;
    int32_t nSeriesNumber = 1;
    std::string strSopUid;
    int32_t nInstanceNumber = 1;
    std::chrono::system_clock::time_point tAcquired;

    std::string strStationName;
    std::string strModelName;
    std::string strInstitution;
    std::string strDetectorId;        // "" = unknown
    std::string strDetectorFirmware;  // "" = unknown

    double dPixelPitchMm = 0.139;
    std::string strPatientOrientation = "L\\F";  // rows towards, columns towards
    CWindow window;
    CExposureIndex ei;
};

// Builds and writes the object. The pixels are written as they are; bits
// stored is 14 unless a value exceeds 16383, then 16. On failure returns false
// with the reason in strError and leaves no file (an existing one stays).
bool WriteDxFile(const uint16_t* pPixels, int32_t nWidth, int32_t nHeight, const CDxObject& obj, ETransfer transfer,
                 const std::string& strPath, std::string& strError);

}  // namespace orvi::dicom
