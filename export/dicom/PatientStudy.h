#pragma once
// Who the next exposures belong to: the patient and the study, set by the
// operator (Patient dialog, orvi-station options) or copied from a modality
// worklist item. Plain text as DICOM holds it (UTF-8); no DCMTK here.
#include <string>

namespace orvi::dicom {

struct CPatientStudy {
    // Patient.
    std::string strPatientName;  // DICOM PN, "Family^Given"; "" = not set
    std::string strPatientId;
    std::string strBirthDate;  // YYYYMMDD or ""
    std::string strSex;        // "M", "F", "O" or ""

    // Study and request.
    std::string strAccessionNumber;
    std::string strStudyInstanceUid;  // "" = the station makes one
    std::string strStudyDescription;
    std::string strReferringPhysician;
    std::string strRequestedProcedureId;
    std::string strRequestedProcedureDescription;
    std::string strScheduledStepId;  // Scheduled Procedure Step ID
    std::string strScheduledStepDescription;
    std::string strScheduledStepStart;  // YYYYMMDDHHMMSS or ""

    // The exposure.
    std::string strBodyPart;      // Body Part Examined, e.g. "CHEST"
    std::string strViewPosition;  // "PA", "AP", "LL", ...

    // True once the operator or a worklist item set a patient.
    bool IsSet() const { return !strPatientName.empty() || !strPatientId.empty(); }
};

}  // namespace orvi::dicom
