#include "station/StationNet.h"

#include "app/ConfigKeys.h"
#include "export/dicom/net/DicomNet.h"

#include <chrono>
#include <cstdio>

namespace orvi {

CStationNet::CStationNet(const CStationPlan& plan, CConsoleUi& ui) : m_plan(plan), m_ui(ui) {
    const std::string strIni = plan.strProgramDir + "ORVI2.ini";
    std::string strImagePath = cfg::Read(strIni, cfg::IMAGE_PATH);
    while (!strImagePath.empty() && strImagePath.back() == ' ') strImagePath.pop_back();
    while (!strImagePath.empty() && strImagePath.front() == ' ') strImagePath.erase(0, 1);
    if (strImagePath.empty()) strImagePath = plan.strProgramDir;
    m_config = dicom::ReadNetConfig(strIni, strImagePath);
}

CStationNet::~CStationNet() {
    if (m_pOutbox) m_pOutbox->Stop();
}

bool CStationNet::Worklist() {
    if (!m_config.WorklistOn()) {
        m_ui.Say("no worklist server is set ([DICOM] WORKLIST_HOST and WORKLIST_PORT of ORVI2.ini)");
        return false;
    }
    dicom::CWorklistQuery q;
    q.strDate = m_plan.strWorklistDate == "any"  ? ""
                : m_plan.strWorklistDate.empty() ? dicom::TodayDicomDate()
                                                 : m_plan.strWorklistDate;
    q.strAccession = m_plan.strWorklistPick;
    std::vector<dicom::CWorklistItem> items;
    const dicom::CNetResult r =
        dicom::QueryWorklist(m_config.strStationAet, m_config.worklist, m_config.nTimeoutS, q, items);
    if (!r.Ok()) {
        m_ui.Say(r.strText);
        return false;
    }
    m_ui.Say("worklist: " + r.strText);
    for (const dicom::CWorklistItem& item : items) {
        const dicom::CPatientStudy& ps = item.ps;
        char sz[512];
        std::snprintf(sz, sizeof sz, "  %-16s %-28s %-12s %-30s %s", ps.strAccessionNumber.c_str(),
                      ps.strPatientName.c_str(), ps.strPatientId.c_str(), ps.strRequestedProcedureDescription.c_str(),
                      ps.strScheduledStepStart.c_str());
        m_ui.Say(sz);
    }
    if (m_plan.strWorklistPick.empty()) return true;
    const dicom::CWorklistItem* pItem = dicom::FindByAccession(items, m_plan.strWorklistPick);
    if (pItem == nullptr) {
        m_ui.Say("accession " + m_plan.strWorklistPick + " is not on the worklist" +
                 (q.strDate.empty() ? "" : " of " + q.strDate));
        return false;
    }
    m_patient = pItem->ps;
    m_ui.Say("picked: " + m_patient.strPatientName + " (" + m_patient.strPatientId + "), accession " +
             m_patient.strAccessionNumber + ", study " + m_patient.strStudyInstanceUid);
    return true;
}

void CStationNet::ShowStatus(const dicom::COutboxStatus& s) {
    m_status = s;
    m_bHaveStatus = true;
    std::string strText = s.StatusText();
    if (!s.strProblem.empty()) strText += " (" + s.strProblem + ")";
    if (strText != m_strLastText) m_ui.Say(strText);
    m_strLastText = strText;
}

bool CStationNet::StartSending() {
    if (!m_config.PacsOn()) {
        m_ui.Say("no PACS is set ([DICOM] PACS_HOST and PACS_PORT of ORVI2.ini): nothing is sent");
        return false;
    }
    m_pOutbox = std::make_unique<dicom::COutbox>(m_config, m_executor,
                                                 [this](const dicom::COutboxStatus& s) { ShowStatus(s); });
    std::string strError;
    if (!m_pOutbox->Start(strError)) {
        m_ui.Say(strError);
        m_pOutbox.reset();
        return false;
    }
    m_ui.Say("outbox " + m_config.strOutbox + ", PACS " + m_config.pacs.Describe() +
             (m_config.bCommit ? ", with storage commitment" : ""));
    bool bOk = true;
    for (const std::string& strFile : m_plan.sendFiles) {
        if (!m_pOutbox->EnqueueNow(strFile, strError)) {
            m_ui.Say("not put in the outbox: " + strError);
            bOk = false;
        }
    }
    return bOk;
}

void CStationNet::OnDicomFileWritten(const std::string& strPath) {
    if (!m_pOutbox) return;
    std::string strError;
    if (!m_pOutbox->EnqueueNow(strPath, strError)) m_ui.Say("not put in the outbox: " + strError);
}

bool CStationNet::FinishSending(uint32_t nTimeoutS) {
    if (!m_pOutbox) return false;
    const uint64_t nRejectedBefore = m_pOutbox->Snapshot().nRejected;
    const auto tEnd = std::chrono::steady_clock::now() + std::chrono::seconds(nTimeoutS);
    while (!(m_bHaveStatus && m_status.Idle() && m_pOutbox->Snapshot().Idle())) {
        if (std::chrono::steady_clock::now() >= tEnd) {
            m_ui.Say("not every image was acknowledged within " + std::to_string(nTimeoutS) +
                     " s; they wait in the outbox for the next run");
            return false;
        }
        m_executor.WaitAndRun(100);
    }
    m_executor.RunPending();
    const dicom::COutboxStatus s = m_pOutbox->Snapshot();
    if (s.nRejected > nRejectedBefore) {
        m_ui.Say("the PACS refused " + std::to_string(s.nRejected - nRejectedBefore) + " file(s), kept in " +
                 m_config.strOutbox + "rejected/ (last: " + s.strLastRejection + ")");
        return false;
    }
    m_ui.Say("every image acknowledged by the PACS");
    return true;
}

}  // namespace orvi
