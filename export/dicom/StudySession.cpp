#include "export/dicom/StudySession.h"

#include "export/dicom/DxWriter.h"

#include <ctime>
#include <tuple>

namespace orvi::dicom {

namespace {

std::string Format(std::chrono::system_clock::time_point t, const char* szFormat) {
    const std::time_t tt = std::chrono::system_clock::to_time_t(t);
    std::tm tmLocal{};
    localtime_r(&tt, &tmLocal);
    char sz[32];
    std::strftime(sz, sizeof sz, szFormat, &tmLocal);
    return sz;
}

auto Identity(const CPatientStudy& p) {
    return std::tie(p.strPatientName, p.strPatientId, p.strBirthDate, p.strSex, p.strAccessionNumber,
                    p.strStudyInstanceUid, p.strRequestedProcedureId);
}

}  // namespace

void CStudySession::SetPatient(const CPatientStudy& patient) {
    const bool bSame = Identity(patient) == Identity(m_patient);
    m_patient = patient;
    if (!bSame) NewStudy();
}

void CStudySession::NewStudy() {
    m_strStudyUid.clear();
    m_series.clear();
    m_nSeriesCount = 0;
    m_strGeneratedId.clear();
}

CImagePlace CStudySession::Next(char cDetector, std::chrono::system_clock::time_point t,
                                const std::string& strUidRoot) {
    CImagePlace place;
    place.patient = m_patient;
    if (!m_patient.IsSet()) {
        if (m_strGeneratedId.empty()) m_strGeneratedId = "ORVI" + Format(t, "%Y%m%d%H%M%S");
        place.patient.strPatientName = kAnonymousName;
        place.patient.strPatientId = m_strGeneratedId;
    }
    if (m_strStudyUid.empty()) {
        m_strStudyUid = m_patient.strStudyInstanceUid.empty() ? NewUid(strUidRoot) : m_patient.strStudyInstanceUid;
        m_strStudyDate = Format(t, "%Y%m%d");
        m_strStudyTime = Format(t, "%H%M%S");
        // Study ID: the request's, else one made of the study's start.
        m_strStudyId = !m_patient.strRequestedProcedureId.empty() ? m_patient.strRequestedProcedureId
                       : !m_patient.strAccessionNumber.empty()    ? m_patient.strAccessionNumber
                                                                  : Format(t, "%y%m%d%H%M%S");
        m_strStudyId = m_strStudyId.substr(0, 16);
    }
    CSeries& s = m_series[cDetector];
    if (s.strUid.empty()) {
        s.strUid = NewUid(strUidRoot);
        s.strDate = Format(t, "%Y%m%d");
        s.strTime = Format(t, "%H%M%S");
        s.nNumber = ++m_nSeriesCount;
    }
    place.strStudyUid = m_strStudyUid;
    place.strStudyDate = m_strStudyDate;
    place.strStudyTime = m_strStudyTime;
    place.strStudyId = m_strStudyId;
    place.strSeriesUid = s.strUid;
    place.strSeriesDate = s.strDate;
    place.strSeriesTime = s.strTime;
    place.nSeriesNumber = s.nNumber;
    place.nInstanceNumber = ++s.nInstances;
    return place;
}

}  // namespace orvi::dicom
