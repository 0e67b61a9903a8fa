#pragma once
// Which study and series the next image belongs to. One study per patient
// until the patient changes (a new name, ID, birth date, sex, accession
// number or study UID); within a study one series per detector. Without a
// patient the images go to "ANONYMOUS" under an ID the station makes once,
// so they still form one study until a patient is set.
#include "export/dicom/PatientStudy.h"

#include <chrono>
#include <cstdint>
#include <map>
#include <string>

namespace orvi::dicom {

inline constexpr const char* kAnonymousName = "ANONYMOUS";

struct CImagePlace {
    CPatientStudy patient;  // name and ID filled in
    std::string strStudyUid, strStudyDate, strStudyTime, strStudyId;
    std::string strSeriesUid, strSeriesDate, strSeriesTime;
    int32_t nSeriesNumber = 0;
    int32_t nInstanceNumber = 0;
};

class CStudySession {
public:
    // Sets who the next images belong to; a patient equal to the current one
    // (body part and view position aside) keeps the study.
    void SetPatient(const CPatientStudy& patient);
    const CPatientStudy& Patient() const { return m_patient; }

    // The place of the next image of detector cDetector, taken at t. UIDs are
    // made under strUidRoot ("" = DCMTK's root).
    CImagePlace Next(char cDetector, std::chrono::system_clock::time_point t, const std::string& strUidRoot);

private:
    struct CSeries {
        std::string strUid, strDate, strTime;
        int32_t nNumber = 0;
        int32_t nInstances = 0;
    };
    void NewStudy();

    CPatientStudy m_patient;
    std::string m_strGeneratedId;  // the anonymous patient's ID, made at its first image
    std::string m_strStudyUid, m_strStudyDate, m_strStudyTime, m_strStudyId;
    std::map<char, CSeries> m_series;
    int32_t m_nSeriesCount = 0;
};

}  // namespace orvi::dicom
