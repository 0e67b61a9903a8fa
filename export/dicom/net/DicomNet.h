#pragma once
// The station's DICOM network operations, one association each, blocking:
// verification (C-ECHO), the modality worklist query (C-FIND), and a storage
// association that sends files (C-STORE) and asks for storage commitment
// (N-ACTION). Every call has a time-out and reports its outcome in words an
// operator understands. Called from worker threads, never from the window.
#include "export/dicom/PatientStudy.h"
#include "export/dicom/net/NetConfig.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class DcmDataset;

namespace orvi::dicom {

// How a network step ended.
enum class ENetOutcome {
    Ok,
    Unreachable,  // no TCP connection, or it broke: try again later
    Refused,      // the peer refused the association (AE titles, contexts)
    Failed,       // the peer answered with a failure status
};

struct CNetResult {
    ENetOutcome eOutcome = ENetOutcome::Ok;
    std::string strText;  // in words, for the operator
    bool Ok() const { return eOutcome == ENetOutcome::Ok; }
};

// Quiets DCMTK's own console logging (the station reports in its own words).
void QuietDicomLog();

// C-ECHO: "PACS at 127.0.0.1:4242 answered the echo (12 ms)" or why not.
CNetResult Echo(const std::string& strStationAet, const CPeer& peer, uint32_t nTimeoutS);

// ---- Modality worklist ------------------------------------------------------------

struct CWorklistQuery {
    std::string strModality = "DX";
    std::string strDate;       // YYYYMMDD, or YYYYMMDD-YYYYMMDD; "" = any day
    std::string strName;       // part of the patient's name, any case; "" = all
    std::string strAccession;  // exact accession number; "" = all
};

// A scheduled procedure step as the worklist server lists it; ps holds what a
// pick copies into the next exposures.
struct CWorklistItem {
    CPatientStudy ps;
    std::string strModality;
    std::string strScheduledStationAet;
};

// Today as YYYYMMDD (local time).
std::string TodayDicomDate();

// C-FIND in the Modality Worklist Information Model. Items come back in the
// server's order, filtered by name (any case, anywhere in the name).
CNetResult QueryWorklist(const std::string& strStationAet, const CPeer& peer, uint32_t nTimeoutS,
                         const CWorklistQuery& query, std::vector<CWorklistItem>& items);

// The item whose accession number is strAccession; nullptr when there is none.
const CWorklistItem* FindByAccession(const std::vector<CWorklistItem>& items, const std::string& strAccession);

// ---- Storage and storage commitment ----------------------------------------------

// What the station needs to know of a DICOM file to send it.
struct CFileIdentity {
    std::string strSopClassUid;
    std::string strSopInstanceUid;
    std::string strTransferSyntaxUid;
};
// Reads the identity from the file's meta header (or dataset); false and a
// reason when it is not a readable DICOM file.
bool ReadFileIdentity(const std::string& strPath, CFileIdentity& id, std::string& strError);

// The outcome of one C-STORE.
enum class EStoreOutcome {
    Stored,    // success, or a warning (the text says which)
    Rejected,  // a failure status: sending it again will not help
    Retry,     // the network or a transient refusal (out of resources): try later
};
struct CStoreResult {
    EStoreOutcome eOutcome = EStoreOutcome::Retry;
    uint16_t nStatus = 0;
    std::string strText;
};

// The status of a C-STORE response in words: "success", "warning 0xB000:
// coercion of data elements", "failure 0xA900: data set does not match SOP class".
std::string StoreStatusText(uint16_t nStatus);
// The outcome a C-STORE status means.
EStoreOutcome ClassifyStoreStatus(uint16_t nStatus);

// One instance in a storage commitment request or report.
struct CSopRef {
    std::string strSopClassUid;
    std::string strSopInstanceUid;
    uint16_t nFailureReason = 0;  // in a report's failed list
};

// A storage commitment report (N-EVENT-REPORT).
struct CCommitReport {
    std::string strTransactionUid;
    std::vector<CSopRef> committed;
    std::vector<CSopRef> failed;
};

// Parses the dataset of a storage commitment report; false when it holds no
// transaction UID.
bool ParseCommitReport(DcmDataset& ds, CCommitReport& report);

// A storage association with the PACS: open it for the SOP classes and
// transfer syntaxes of the files to send, store them one by one, ask for
// storage commitment, release.
class CStoreAssociation {
public:
    CStoreAssociation();
    ~CStoreAssociation();
    CStoreAssociation(const CStoreAssociation&) = delete;
    CStoreAssociation& operator=(const CStoreAssociation&) = delete;

    // Proposes every (SOP class, transfer syntax) of ids, and storage
    // commitment when bCommit.
    CNetResult Open(const std::string& strStationAet, const CPeer& peer, uint32_t nTimeoutS,
                    const std::vector<CFileIdentity>& ids, bool bCommit);
    bool IsOpen() const;
    CStoreResult Store(const std::string& strPath, const CFileIdentity& id);
    // N-ACTION "request storage commitment" for refs under strTransactionUid.
    CNetResult RequestCommitment(const std::string& strTransactionUid, const std::vector<CSopRef>& refs);
    // Waits up to nTimeoutS for a report sent on this association.
    CNetResult WaitForReportHere(uint32_t nTimeoutS, CCommitReport& report);
    void Close();

private:
    struct Impl;
    std::unique_ptr<Impl> m_p;
};

// A new UID under the station's root.
std::string NewUid();

}  // namespace orvi::dicom
