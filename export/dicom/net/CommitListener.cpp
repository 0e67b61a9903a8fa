// Storage commitment reports arrive on an association the PACS opens to the
// station, often long after the request. DcmSCP accepts them on a thread of
// its own; a stop request is seen at the next association or after a second
// without one (a wake-up connection makes it immediate).
#include "export/dicom/net/CommitListener.h"

#include "dcmtk/config/osconfig.h"
#include "dcmtk/dcmdata/dctk.h"
#include "dcmtk/dcmnet/scp.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <thread>

namespace orvi::dicom {

namespace {

class CReportScp final : public DcmSCP {
public:
    CReportScp(const std::atomic<bool>& bStop, CCommitListener::ReportHandler fnReport)
        : m_bStop(bStop), m_fnReport(std::move(fnReport)) {}

protected:
    OFCondition handleIncomingCommand(T_DIMSE_Message* pMsg, const DcmPresentationContextInfo& info) override {
        if (pMsg->CommandField != DIMSE_N_EVENT_REPORT_RQ) return DcmSCP::handleIncomingCommand(pMsg, info);
        DcmDataset* pDs = nullptr;
        Uint16 nEvent = 0;
        const OFCondition cond =
            handleEVENTREPORTRequest(pMsg->msg.NEventReportRQ, info.presentationContextID, pDs, nEvent);
        std::unique_ptr<DcmDataset> owner(pDs);
        CCommitReport report;
        if (cond.good() && pDs != nullptr && ParseCommitReport(*pDs, report) && m_fnReport) m_fnReport(report);
        return cond;
    }
    Uint16 checkEVENTREPORTRequest(T_DIMSE_N_EventReportRQ& rq, DcmDataset* pDs) override {
        if (std::string(rq.AffectedSOPClassUID) != UID_StorageCommitmentPushModelSOPClass)
            return STATUS_N_NoSuchSOPClass;
        CCommitReport report;
        if (pDs == nullptr || !ParseCommitReport(*pDs, report)) return STATUS_N_InvalidArgumentValue;
        return STATUS_Success;
    }
    OFBool stopAfterConnectionTimeout() override { return m_bStop.load(); }
    OFBool stopAfterCurrentAssociation() override { return m_bStop.load(); }

private:
    const std::atomic<bool>& m_bStop;
    CCommitListener::ReportHandler m_fnReport;
};

// Opens and closes a TCP connection to the port, so a listener waiting in
// accept() looks at its stop flag at once.
void WakeListener(uint16_t nPort) {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) return;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(nPort);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    (void)connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    close(fd);
}

}  // namespace

struct CCommitListener::Impl {
    std::string strAet;
    uint16_t nPort = 0;
    ReportHandler fnReport;
    std::atomic<bool> bStop{false};
    std::atomic<bool> bRunning{false};
    std::unique_ptr<CReportScp> pScp;
    std::thread thread;
};

CCommitListener::CCommitListener(std::string strStationAet, uint16_t nPort, ReportHandler fnReport)
    : m_p(std::make_unique<Impl>()) {
    m_p->strAet = std::move(strStationAet);
    m_p->nPort = nPort;
    m_p->fnReport = std::move(fnReport);
}

CCommitListener::~CCommitListener() { Stop(); }

bool CCommitListener::Start(std::string& strError) {
    if (m_p->bRunning) return true;
    if (m_p->thread.joinable()) m_p->thread.join();  // a listener that ended on an error
    QuietDicomLog();
    m_p->bStop = false;
    m_p->pScp = std::make_unique<CReportScp>(m_p->bStop, m_p->fnReport);
    CReportScp& scp = *m_p->pScp;
    scp.setPort(m_p->nPort);
    scp.setAETitle(m_p->strAet.c_str());
    scp.setConnectionBlockingMode(DUL_NOBLOCK);
    scp.setConnectionTimeout(1);
    scp.setDIMSEBlockingMode(DIMSE_NONBLOCKING);
    scp.setDIMSETimeout(30);
    scp.setACSETimeout(30);
    OFList<OFString> ts;
    ts.push_back(UID_LittleEndianExplicitTransferSyntax);
    ts.push_back(UID_LittleEndianImplicitTransferSyntax);
    scp.addPresentationContext(UID_VerificationSOPClass, ts);
    scp.addPresentationContext(UID_StorageCommitmentPushModelSOPClass, ts);
    const OFCondition cond = scp.openListenPort();
    if (cond.bad()) {
        strError = "the station cannot listen for storage commitment reports on port " + std::to_string(m_p->nPort) +
                   ": " + cond.text();
        m_p->pScp.reset();
        return false;
    }
    m_p->bRunning = true;
    m_p->thread = std::thread([this] {
        m_p->pScp->acceptAssociations();
        m_p->bRunning = false;
    });
    return true;
}

void CCommitListener::Stop() {
    if (!m_p->thread.joinable()) return;
    m_p->bStop = true;
    WakeListener(m_p->nPort);
    m_p->thread.join();
    m_p->pScp.reset();
    m_p->bRunning = false;
}

bool CCommitListener::IsRunning() const { return m_p->bRunning; }

}  // namespace orvi::dicom
