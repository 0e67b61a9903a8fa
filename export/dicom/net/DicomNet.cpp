// The station's DICOM network operations on DCMTK's DcmSCU. Each function
// opens its own association, bounded by the time-out of [DICOM] TIMEOUT_S at
// every stage (connect, association, each message), and turns DCMTK's
// conditions and DIMSE statuses into sentences for the operator.
#include "export/dicom/net/DicomNet.h"

#include "dcmtk/config/osconfig.h"
#include "dcmtk/dcmdata/dctk.h"
#include "dcmtk/dcmnet/diutil.h"
#include "dcmtk/dcmnet/scu.h"
#include "dcmtk/oflog/oflog.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <mutex>

namespace orvi::dicom {

namespace {

// The well-known SOP instance of the Storage Commitment Push Model.
constexpr const char* kCommitmentSopInstance = "1.2.840.10008.1.20.1.1";
constexpr uint16_t kActionRequestCommitment = 1;
constexpr uint16_t kEventAllCommitted = 1;
constexpr uint16_t kEventSomeFailed = 2;

std::string Hex(uint16_t n) {
    char sz[8];
    std::snprintf(sz, sizeof sz, "0x%04X", n);
    return sz;
}

std::string Get(DcmItem& item, const DcmTagKey& tag) {
    OFString s;
    if (item.findAndGetOFStringArray(tag, s).bad()) return "";
    return std::string(s.c_str());
}

// Applies the station's time-out to every stage of an association.
void SetupScu(DcmSCU& scu, const std::string& strStationAet, const CPeer& peer, uint32_t nTimeoutS) {
    scu.setAETitle(strStationAet.c_str());
    scu.setPeerAETitle(peer.strAet.c_str());
    scu.setPeerHostName(peer.strHost.c_str());
    scu.setPeerPort(peer.nPort);
    scu.setConnectionTimeout(static_cast<Sint32>(nTimeoutS));
    scu.setACSETimeout(nTimeoutS);
    scu.setDIMSETimeout(nTimeoutS);
    scu.setDIMSEBlockingMode(DIMSE_NONBLOCKING);
    scu.setMaxReceivePDULength(ASC_DEFAULTMAXPDU);
}

OFList<OFString> PlainSyntaxes() {
    OFList<OFString> ts;
    ts.push_back(UID_LittleEndianExplicitTransferSyntax);
    ts.push_back(UID_LittleEndianImplicitTransferSyntax);
    return ts;
}

// The failure to open an association in words.
CNetResult AssociationFailure(const OFCondition& cond, const CPeer& peer, const std::string& strStationAet,
                              const char* szWhat) {
    CNetResult r;
    if (cond == DUL_ASSOCIATIONREJECTED) {
        r.eOutcome = ENetOutcome::Refused;
        r.strText = std::string(szWhat) + " at " + peer.strHost + ":" + std::to_string(peer.nPort) +
                    " refused the association: it does not accept the called AE title \"" + peer.strAet +
                    "\" or the station's AE title \"" + strStationAet + "\"";
    } else if (cond == NET_EC_NoAcceptablePresentationContexts) {
        r.eOutcome = ENetOutcome::Refused;
        r.strText = std::string(szWhat) + " " + peer.Describe() + " accepts none of the requested services";
    } else {
        r.eOutcome = ENetOutcome::Unreachable;
        r.strText = std::string(szWhat) + " not reachable at " + peer.strHost + ":" + std::to_string(peer.nPort);
    }
    return r;
}

}  // namespace

void QuietDicomLog() {
    static std::once_flag once;
    std::call_once(once, [] { OFLog::configure(OFLogger::FATAL_LOG_LEVEL); });
}

std::string NewUid() {
    char sz[100];
    dcmGenerateUniqueIdentifier(sz, SITE_INSTANCE_UID_ROOT);
    return sz;
}

// ---- Verification -----------------------------------------------------------------

CNetResult Echo(const std::string& strStationAet, const CPeer& peer, uint32_t nTimeoutS) {
    QuietDicomLog();
    if (!peer.IsSet()) return {ENetOutcome::Failed, "no host and port are set"};
    const auto t0 = std::chrono::steady_clock::now();
    DcmSCU scu;
    SetupScu(scu, strStationAet, peer, nTimeoutS);
    scu.addPresentationContext(UID_VerificationSOPClass, PlainSyntaxes());
    OFCondition cond = scu.initNetwork();
    if (cond.good()) cond = scu.negotiateAssociation();
    if (cond.bad()) return AssociationFailure(cond, peer, strStationAet, peer.strAet.c_str());
    cond = scu.sendECHORequest(0);
    scu.releaseAssociation();
    if (cond.bad())
        return {ENetOutcome::Unreachable, peer.Describe() + " accepted the association but did not answer the echo"};
    const auto nMs =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count();
    return {ENetOutcome::Ok, peer.Describe() + " answered the echo (" + std::to_string(nMs) + " ms)"};
}

// ---- Modality worklist ------------------------------------------------------------

std::string TodayDicomDate() {
    const std::time_t t = std::time(nullptr);
    std::tm tm{};
    localtime_r(&t, &tm);
    char sz[16];
    std::strftime(sz, sizeof sz, "%Y%m%d", &tm);
    return sz;
}

namespace {

void BuildWorklistKeys(DcmDataset& ds, const CWorklistQuery& q) {
    ds.putAndInsertString(DCM_SpecificCharacterSet, "");
    ds.putAndInsertString(DCM_AccessionNumber, q.strAccession.c_str());
    ds.putAndInsertString(DCM_ReferringPhysicianName, "");
    ds.putAndInsertString(DCM_PatientName, "");
    ds.putAndInsertString(DCM_PatientID, "");
    ds.putAndInsertString(DCM_PatientBirthDate, "");
    ds.putAndInsertString(DCM_PatientSex, "");
    ds.putAndInsertString(DCM_StudyInstanceUID, "");
    ds.putAndInsertString(DCM_RequestedProcedureID, "");
    ds.putAndInsertString(DCM_RequestedProcedureDescription, "");
    DcmItem* pStep = nullptr;
    ds.findOrCreateSequenceItem(DCM_ScheduledProcedureStepSequence, pStep);
    if (pStep == nullptr) return;
    pStep->putAndInsertString(DCM_Modality, q.strModality.c_str());
    pStep->putAndInsertString(DCM_ScheduledStationAETitle, "");
    pStep->putAndInsertString(DCM_ScheduledProcedureStepStartDate, q.strDate.c_str());
    pStep->putAndInsertString(DCM_ScheduledProcedureStepStartTime, "");
    pStep->putAndInsertString(DCM_ScheduledProcedureStepID, "");
    pStep->putAndInsertString(DCM_ScheduledProcedureStepDescription, "");
    pStep->putAndInsertString(DCM_ScheduledPerformingPhysicianName, "");
}

// Lower case for matching names: ASCII and the Latin-1 letters (À..Þ in UTF-8).
std::string Lower(std::string s) {
    for (size_t i = 0; i < s.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        if (c < 0x80) {
            s[i] = static_cast<char>(std::tolower(c));
        } else if (c == 0xC3 && i + 1 < s.size()) {
            const unsigned char d = static_cast<unsigned char>(s[i + 1]);
            if (d >= 0x80 && d <= 0x9E && d != 0x97) s[i + 1] = static_cast<char>(d + 0x20);
            ++i;
        }
    }
    return s;
}

CWorklistItem ReadWorklistItem(DcmDataset& ds) {
    ds.convertToUTF8();  // text as the station keeps it; a failure leaves it as it came
    CWorklistItem item;
    CPatientStudy& ps = item.ps;
    ps.strPatientName = Get(ds, DCM_PatientName);
    ps.strPatientId = Get(ds, DCM_PatientID);
    ps.strBirthDate = Get(ds, DCM_PatientBirthDate);
    ps.strSex = Get(ds, DCM_PatientSex);
    ps.strAccessionNumber = Get(ds, DCM_AccessionNumber);
    ps.strStudyInstanceUid = Get(ds, DCM_StudyInstanceUID);
    ps.strReferringPhysician = Get(ds, DCM_ReferringPhysicianName);
    ps.strRequestedProcedureId = Get(ds, DCM_RequestedProcedureID);
    ps.strRequestedProcedureDescription = Get(ds, DCM_RequestedProcedureDescription);
    ps.strStudyDescription = ps.strRequestedProcedureDescription;
    DcmItem* pStep = nullptr;
    if (ds.findAndGetSequenceItem(DCM_ScheduledProcedureStepSequence, pStep, 0).good() && pStep != nullptr) {
        item.strModality = Get(*pStep, DCM_Modality);
        item.strScheduledStationAet = Get(*pStep, DCM_ScheduledStationAETitle);
        ps.strScheduledStepId = Get(*pStep, DCM_ScheduledProcedureStepID);
        ps.strScheduledStepDescription = Get(*pStep, DCM_ScheduledProcedureStepDescription);
        std::string strTime = Get(*pStep, DCM_ScheduledProcedureStepStartTime);
        strTime = strTime.substr(0, strTime.find('.'));
        ps.strScheduledStepStart = Get(*pStep, DCM_ScheduledProcedureStepStartDate) + strTime;
    }
    return item;
}

}  // namespace

CNetResult QueryWorklist(const std::string& strStationAet, const CPeer& peer, uint32_t nTimeoutS,
                         const CWorklistQuery& query, std::vector<CWorklistItem>& items) {
    QuietDicomLog();
    items.clear();
    if (!peer.IsSet()) return {ENetOutcome::Failed, "no worklist server is set ([DICOM] WORKLIST_HOST, WORKLIST_PORT)"};
    DcmSCU scu;
    SetupScu(scu, strStationAet, peer, nTimeoutS);
    scu.addPresentationContext(UID_FINDModalityWorklistInformationModel, PlainSyntaxes());
    OFCondition cond = scu.initNetwork();
    if (cond.good()) cond = scu.negotiateAssociation();
    if (cond.bad()) return AssociationFailure(cond, peer, strStationAet, "Worklist server");
    const T_ASC_PresentationContextID nPc = scu.findAnyPresentationContextID(UID_FINDModalityWorklistInformationModel,
                                                                             UID_LittleEndianExplicitTransferSyntax);
    if (nPc == 0) {
        scu.releaseAssociation();
        return {ENetOutcome::Refused, "Worklist server " + peer.Describe() + " does not offer the modality worklist"};
    }
    DcmDataset keys;
    BuildWorklistKeys(keys, query);
    OFList<QRResponse*> responses;
    cond = scu.sendFINDRequest(nPc, &keys, &responses);
    uint16_t nFinal = 0;
    const std::string strName = Lower(query.strName);
    for (QRResponse* pRsp : responses) {
        if (pRsp->m_dataset != nullptr && DICOM_PENDING_STATUS(pRsp->m_status)) {
            CWorklistItem item = ReadWorklistItem(*pRsp->m_dataset);
            const bool bName = strName.empty() || Lower(item.ps.strPatientName).find(strName) != std::string::npos;
            const bool bAcc = query.strAccession.empty() || item.ps.strAccessionNumber == query.strAccession;
            if (bName && bAcc) items.push_back(std::move(item));
        } else {
            nFinal = pRsp->m_status;
        }
        delete pRsp;
    }
    scu.releaseAssociation();
    if (cond.bad()) {
        items.clear();
        return {ENetOutcome::Unreachable,
                "Worklist server " + peer.Describe() + " did not finish the query: " + cond.text()};
    }
    if (nFinal != STATUS_Success) {
        items.clear();
        return {ENetOutcome::Failed,
                "Worklist server " + peer.Describe() + " refused the query (status " + Hex(nFinal) + ")"};
    }
    return {ENetOutcome::Ok,
            std::to_string(items.size()) + (items.size() == 1 ? " item" : " items") + " from " + peer.Describe()};
}

const CWorklistItem* FindByAccession(const std::vector<CWorklistItem>& items, const std::string& strAccession) {
    for (const CWorklistItem& item : items)
        if (item.ps.strAccessionNumber == strAccession) return &item;
    return nullptr;
}

// ---- Storage ------------------------------------------------------------------------

bool ReadFileIdentity(const std::string& strPath, CFileIdentity& id, std::string& strError) {
    DcmFileFormat ff;
    // The pixel data is not needed to name what the file holds.
    const OFCondition cond = ff.loadFile(strPath.c_str(), EXS_Unknown, EGL_noChange, 4096);
    if (cond.bad()) {
        strError = "not a readable DICOM file: " + std::string(cond.text());
        return false;
    }
    DcmMetaInfo& meta = *ff.getMetaInfo();
    DcmDataset& ds = *ff.getDataset();
    id.strSopClassUid = Get(meta, DCM_MediaStorageSOPClassUID);
    id.strSopInstanceUid = Get(meta, DCM_MediaStorageSOPInstanceUID);
    id.strTransferSyntaxUid = Get(meta, DCM_TransferSyntaxUID);
    if (id.strSopClassUid.empty()) id.strSopClassUid = Get(ds, DCM_SOPClassUID);
    if (id.strSopInstanceUid.empty()) id.strSopInstanceUid = Get(ds, DCM_SOPInstanceUID);
    if (id.strTransferSyntaxUid.empty()) {
        DcmXfer xfer(ds.getOriginalXfer());
        id.strTransferSyntaxUid = xfer.getXferID();
    }
    if (id.strSopClassUid.empty() || id.strSopInstanceUid.empty()) {
        strError = "the DICOM file has no SOP class or SOP instance UID";
        return false;
    }
    return true;
}

std::string StoreStatusText(uint16_t nStatus) {
    if (nStatus == STATUS_Success) return "success";
    const char* szKind = (nStatus & 0xF000) == 0xB000 ? "warning " : "failure ";
    return szKind + Hex(nStatus) + ": " + DU_cstoreStatusString(nStatus);
}

EStoreOutcome ClassifyStoreStatus(uint16_t nStatus) {
    if (nStatus == STATUS_Success || (nStatus & 0xF000) == 0xB000) return EStoreOutcome::Stored;
    // Out of resources is the PACS's own trouble of the moment, not the image's.
    if ((nStatus & 0xFF00) == 0xA700) return EStoreOutcome::Retry;
    return EStoreOutcome::Rejected;
}

bool ParseCommitReport(DcmDataset& ds, CCommitReport& report) {
    report = {};
    report.strTransactionUid = Get(ds, DCM_TransactionUID);
    if (report.strTransactionUid.empty()) return false;
    auto readList = [&ds](const DcmTagKey& tag, std::vector<CSopRef>& list) {
        for (unsigned long i = 0;; ++i) {
            DcmItem* pItem = nullptr;
            if (ds.findAndGetSequenceItem(tag, pItem, static_cast<int>(i)).bad() || pItem == nullptr) break;
            CSopRef ref;
            ref.strSopClassUid = Get(*pItem, DCM_ReferencedSOPClassUID);
            ref.strSopInstanceUid = Get(*pItem, DCM_ReferencedSOPInstanceUID);
            Uint16 nReason = 0;
            if (pItem->findAndGetUint16(DCM_FailureReason, nReason).good()) ref.nFailureReason = nReason;
            list.push_back(std::move(ref));
        }
    };
    readList(DCM_ReferencedSOPSequence, report.committed);
    readList(DCM_FailedSOPSequence, report.failed);
    return true;
}

struct CStoreAssociation::Impl {
    DcmSCU scu;
    CPeer peer;
    bool bOpen = false;
};

CStoreAssociation::CStoreAssociation() : m_p(std::make_unique<Impl>()) {}

CStoreAssociation::~CStoreAssociation() { Close(); }

CNetResult CStoreAssociation::Open(const std::string& strStationAet, const CPeer& peer, uint32_t nTimeoutS,
                                   const std::vector<CFileIdentity>& ids, bool bCommit) {
    QuietDicomLog();
    Close();
    m_p = std::make_unique<Impl>();
    m_p->peer = peer;
    DcmSCU& scu = m_p->scu;
    SetupScu(scu, strStationAet, peer, nTimeoutS);
    scu.setDatasetConversionMode(OFTrue);
    // One context per SOP class: the files' own syntaxes first, then the plain ones.
    std::vector<std::string> classes;
    for (const CFileIdentity& id : ids)
        if (std::find(classes.begin(), classes.end(), id.strSopClassUid) == classes.end())
            classes.push_back(id.strSopClassUid);
    for (const std::string& strClass : classes) {
        OFList<OFString> ts;
        for (const CFileIdentity& id : ids)
            if (id.strSopClassUid == strClass && id.strTransferSyntaxUid != UID_LittleEndianExplicitTransferSyntax &&
                id.strTransferSyntaxUid != UID_LittleEndianImplicitTransferSyntax &&
                std::find(ts.begin(), ts.end(), OFString(id.strTransferSyntaxUid.c_str())) == ts.end())
                ts.push_back(id.strTransferSyntaxUid.c_str());
        ts.push_back(UID_LittleEndianExplicitTransferSyntax);
        ts.push_back(UID_LittleEndianImplicitTransferSyntax);
        scu.addPresentationContext(strClass.c_str(), ts);
    }
    if (bCommit) scu.addPresentationContext(UID_StorageCommitmentPushModelSOPClass, PlainSyntaxes());
    OFCondition cond = scu.initNetwork();
    if (cond.good()) cond = scu.negotiateAssociation();
    if (cond.bad()) return AssociationFailure(cond, peer, strStationAet, "PACS");
    m_p->bOpen = true;
    return {ENetOutcome::Ok, "connected to " + peer.Describe()};
}

bool CStoreAssociation::IsOpen() const { return m_p->bOpen && m_p->scu.isConnected(); }

CStoreResult CStoreAssociation::Store(const std::string& strPath, const CFileIdentity& id) {
    CStoreResult r;
    if (!IsOpen()) {
        r.strText = "the connection to the PACS is closed";
        return r;
    }
    if (m_p->scu.findAnyPresentationContextID(id.strSopClassUid.c_str(), UID_LittleEndianExplicitTransferSyntax) == 0) {
        r.eOutcome = EStoreOutcome::Rejected;
        r.strText = "the PACS does not accept images of SOP class " + id.strSopClassUid;
        return r;
    }
    Uint16 nStatus = 0;
    const OFCondition cond = m_p->scu.sendSTORERequest(0, OFFilename(strPath.c_str()), nullptr, nStatus);
    if (cond.bad()) {
        m_p->bOpen = m_p->scu.isConnected();
        r.strText = "sending to " + m_p->peer.Describe() + " broke off: " + cond.text();
        return r;
    }
    r.nStatus = nStatus;
    r.eOutcome = ClassifyStoreStatus(nStatus);
    r.strText = StoreStatusText(nStatus);
    return r;
}

CNetResult CStoreAssociation::RequestCommitment(const std::string& strTransactionUid,
                                                const std::vector<CSopRef>& refs) {
    if (!IsOpen()) return {ENetOutcome::Unreachable, "the connection to the PACS is closed"};
    const T_ASC_PresentationContextID nPc = m_p->scu.findAnyPresentationContextID(
        UID_StorageCommitmentPushModelSOPClass, UID_LittleEndianExplicitTransferSyntax);
    if (nPc == 0)
        return {ENetOutcome::Refused, "the PACS " + m_p->peer.Describe() + " does not offer storage commitment"};
    DcmDataset ds;
    ds.putAndInsertString(DCM_TransactionUID, strTransactionUid.c_str());
    for (const CSopRef& ref : refs) {
        DcmItem* pItem = nullptr;
        if (ds.findOrCreateSequenceItem(DCM_ReferencedSOPSequence, pItem, -2).bad() || pItem == nullptr) continue;
        pItem->putAndInsertString(DCM_ReferencedSOPClassUID, ref.strSopClassUid.c_str());
        pItem->putAndInsertString(DCM_ReferencedSOPInstanceUID, ref.strSopInstanceUid.c_str());
    }
    Uint16 nStatus = 0;
    const OFCondition cond =
        m_p->scu.sendACTIONRequest(nPc, kCommitmentSopInstance, kActionRequestCommitment, &ds, nStatus);
    if (cond.bad()) {
        m_p->bOpen = m_p->scu.isConnected();
        return {ENetOutcome::Unreachable,
                "asking " + m_p->peer.Describe() + " for storage commitment broke off: " + cond.text()};
    }
    if (nStatus != STATUS_Success)
        return {ENetOutcome::Failed, "the PACS refused storage commitment (status " + Hex(nStatus) + ": " +
                                         DU_nactionStatusString(nStatus) + ")"};
    return {ENetOutcome::Ok, "storage commitment requested"};
}

CNetResult CStoreAssociation::WaitForReportHere(uint32_t nTimeoutS, CCommitReport& report) {
    if (!IsOpen()) return {ENetOutcome::Unreachable, "the connection to the PACS is closed"};
    DcmDataset* pDs = nullptr;
    Uint16 nEvent = 0;
    const OFCondition cond = m_p->scu.handleEVENTREPORTRequest(pDs, nEvent, static_cast<int>(nTimeoutS));
    std::unique_ptr<DcmDataset> owner(pDs);
    if (cond.bad() || pDs == nullptr)
        return {ENetOutcome::Unreachable, "no storage commitment report within " + std::to_string(nTimeoutS) + " s"};
    if ((nEvent != kEventAllCommitted && nEvent != kEventSomeFailed) || !ParseCommitReport(*pDs, report))
        return {ENetOutcome::Failed, "the PACS sent a storage commitment report the station cannot read"};
    return {ENetOutcome::Ok, "storage commitment report received"};
}

void CStoreAssociation::Close() {
    if (m_p && m_p->bOpen) {
        if (m_p->scu.isConnected()) m_p->scu.releaseAssociation();
        m_p->bOpen = false;
    }
}

}  // namespace orvi::dicom
