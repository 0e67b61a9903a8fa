#pragma once
// The headless station on the hospital network: lists or picks a modality
// worklist item before the exposures, and sends DICOM files through the
// outbox after them, waiting until the PACS has acknowledged each.
#include "acquisition/MainThreadExecutor.h"
#include "export/dicom/PatientStudy.h"
#include "export/dicom/net/NetConfig.h"
#include "export/dicom/net/Outbox.h"
#include "station/StationRun.h"

#include <memory>
#include <string>

namespace orvi {

class CStationNet {
public:
    CStationNet(const CStationPlan& plan, CConsoleUi& ui);
    ~CStationNet();

    // --worklist, --worklist-pick: false when the query failed or the
    // accession is not on the worklist.
    bool Worklist();
    // The patient and study of the next exposures, as picked (empty when none).
    const dicom::CPatientStudy& Patient() const { return m_patient; }

    // --send: starts the outbox and takes in the files given.
    bool StartSending();
    // A DICOM file written for an exposure: sent with the others. The DICOM
    // writer calls it with every file it writes.
    void OnDicomFileWritten(const std::string& strPath);
    // Waits until nothing waits in the outbox (true), or the time is up or a
    // file was refused (false).
    bool FinishSending(uint32_t nTimeoutS);

private:
    void ShowStatus(const dicom::COutboxStatus& s);

    const CStationPlan& m_plan;
    CConsoleUi& m_ui;
    dicom::CNetConfig m_config;
    dicom::CPatientStudy m_patient;
    CQueuedExecutor m_executor;
    std::unique_ptr<dicom::COutbox> m_pOutbox;
    dicom::COutboxStatus m_status;
    bool m_bHaveStatus = false;
    std::string m_strLastText;
};

}  // namespace orvi
