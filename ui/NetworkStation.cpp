#include "ui/NetworkStation.h"

#include "ui/NetworkDlg.h"
#include "ui/OutboxDlg.h"
#include "ui/WorklistDlg.h"

#include <QLabel>
#include <QMenu>
#include <QTimer>
#include <QWidget>

namespace orvi {

CNetworkStation::CNetworkStation(QWidget* pWindow, const std::string& strIniPath, const std::string& strImagePath)
    : QObject(pWindow), m_pWindow(pWindow), m_config(dicom::ReadNetConfig(strIniPath, strImagePath)) {
    m_pMenu = new QMenu(QStringLiteral("&Network"), pWindow);
    m_pMenu->addAction(QStringLiteral("&Network..."), this, &CNetworkStation::ShowNetworkDialog);
    m_pMenu->addAction(QStringLiteral("&Worklist..."), this, &CNetworkStation::ShowWorklistDialog);
    m_pMenu->addAction(QStringLiteral("&Outbox..."), this, &CNetworkStation::ShowOutboxDialog);
    m_pStatus = new QLabel(pWindow);
    m_pStatus->setObjectName(QStringLiteral("pacsStatus"));
    m_pStatus->setMinimumWidth(260);

    m_pCountdown = new QTimer(this);
    m_pCountdown->setInterval(1000);
    connect(m_pCountdown, &QTimer::timeout, this, &CNetworkStation::ShowStatusText);

    m_status.bPacsOn = m_config.PacsOn();
    if (m_config.PacsOn()) {
        m_pOutbox = std::make_unique<dicom::COutbox>(m_config, m_executor,
                                                     [this](const dicom::COutboxStatus& s) { OnOutboxStatus(s); });
        if (!m_pOutbox->Start(m_strOutboxError)) {
            m_pOutbox.reset();
            m_pStatus->setText(QStringLiteral("PACS: outbox unusable"));
            m_pStatus->setToolTip(QString::fromStdString(m_strOutboxError));
        }
    }
}

CNetworkStation::~CNetworkStation() {
    if (m_pOutbox) m_pOutbox->Stop();
    std::vector<Worker> threads;
    {
        std::lock_guard<std::mutex> lock(m_threadsMutex);
        threads.swap(m_threads);
    }
    for (Worker& w : threads) w.thread.join();
}

void CNetworkStation::Background(std::function<void()> fnWork) {
    std::lock_guard<std::mutex> lock(m_threadsMutex);
    // Threads that finished are joined as new ones start.
    for (auto it = m_threads.begin(); it != m_threads.end();) {
        if (*it->pDone) {
            it->thread.join();
            it = m_threads.erase(it);
        } else {
            ++it;
        }
    }
    auto pDone = std::make_shared<std::atomic<bool>>(false);
    m_threads.push_back({std::thread([fnWork = std::move(fnWork), pDone] {
                             fnWork();
                             *pDone = true;
                         }),
                         pDone});
}

void CNetworkStation::OnOutboxStatus(const dicom::COutboxStatus& s) {
    m_status = s;
    m_sinceStatus.start();
    ShowStatusText();
    m_pStatus->setToolTip(QString::fromStdString(s.strProblem));
    emit StatusChanged();
}

void CNetworkStation::ShowStatusText() {
    dicom::COutboxStatus s = m_status;
    if (s.nRetryInS > 0) {
        const qint64 nPassedS = m_sinceStatus.isValid() ? m_sinceStatus.elapsed() / 1000 : 0;
        s.nRetryInS = nPassedS >= s.nRetryInS ? 1u : s.nRetryInS - static_cast<uint32_t>(nPassedS);
        if (!m_pCountdown->isActive()) m_pCountdown->start();
    } else {
        m_pCountdown->stop();
    }
    m_pStatus->setText(QString::fromStdString(s.StatusText()));
}

void CNetworkStation::SetPatientStudy(const dicom::CPatientStudy& ps) {
    m_patient = ps;
    emit PatientStudyChanged();
}

void CNetworkStation::OnDicomFileWritten(const std::string& strPath) {
    if (m_pOutbox) m_pOutbox->Enqueue(strPath);
}

void CNetworkStation::SendNow() {
    if (m_pOutbox) m_pOutbox->SendNow();
}

CNetworkDlg* CNetworkStation::NetworkDialog() const { return m_pNetworkDlg; }
CWorklistDlg* CNetworkStation::WorklistDialog() const { return m_pWorklistDlg; }
COutboxDlg* CNetworkStation::OutboxDialog() const { return m_pOutboxDlg; }

void CNetworkStation::ShowNetworkDialog() {
    if (!m_pNetworkDlg) m_pNetworkDlg = new CNetworkDlg(*this, m_pWindow);
    m_pNetworkDlg->show();
    m_pNetworkDlg->raise();
}

void CNetworkStation::ShowWorklistDialog() {
    if (!m_pWorklistDlg) {
        m_pWorklistDlg = new CWorklistDlg(*this, m_pWindow);
        m_pWorklistDlg->Refresh();
    }
    m_pWorklistDlg->show();
    m_pWorklistDlg->raise();
}

void CNetworkStation::ShowOutboxDialog() {
    if (!m_pOutboxDlg) m_pOutboxDlg = new COutboxDlg(*this, m_pWindow);
    m_pOutboxDlg->show();
    m_pOutboxDlg->raise();
}

}  // namespace orvi
