#include "ui/NetworkDlg.h"

#include "ui/DialogUnits.h"
#include "ui/NetworkStation.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace orvi {

namespace {

QString PeerText(const dicom::CPeer& peer, const char* szOff) {
    if (!peer.IsSet()) return QString::fromUtf8(szOff);
    return QString::fromStdString(peer.Describe());
}

}  // namespace

CNetworkDlg::CNetworkDlg(CNetworkStation& net, QWidget* pParent) : QDialog(pParent, kDialogFrame), m_net(net) {
    setWindowTitle(QStringLiteral("Network"));
    setAttribute(Qt::WA_DeleteOnClose);
    const dicom::CNetConfig& c = net.Config();
    auto* pLayout = new QVBoxLayout(this);

    auto* pStation = new QGroupBox(QStringLiteral("This station"), this);
    auto* pForm = new QFormLayout(pStation);
    pForm->addRow(QStringLiteral("AE title:"), new QLabel(QString::fromStdString(c.strStationAet)));
    pForm->addRow(QStringLiteral("Commitment port:"),
                  new QLabel(c.nStationPort == 0 ? QStringLiteral("off") : QString::number(c.nStationPort)));
    pForm->addRow(QStringLiteral("Outbox:"), new QLabel(QString::fromStdString(c.strOutbox)));
    pLayout->addWidget(pStation);

    auto* pServers = new QGroupBox(QStringLiteral("Servers"), this);
    auto* pGrid = new QGridLayout(pServers);
    m_pPacsEcho = new QPushButton(QStringLiteral("Echo"), pServers);
    m_pWorklistEcho = new QPushButton(QStringLiteral("Echo"), pServers);
    m_pPacsResult = new QLabel(pServers);
    m_pWorklistResult = new QLabel(pServers);
    for (QLabel* p : {m_pPacsResult, m_pWorklistResult}) {
        p->setWordWrap(true);
        p->setMinimumWidth(CDialogUnits(this).X(220));
        p->setTextInteractionFlags(Qt::TextSelectableByMouse);
    }
    pGrid->addWidget(new QLabel(QStringLiteral("PACS:")), 0, 0);
    pGrid->addWidget(new QLabel(PeerText(c.pacs, "off (PACS_HOST is empty)") +
                                (c.bCommit ? QStringLiteral(", storage commitment") : QString())),
                     0, 1);
    pGrid->addWidget(m_pPacsEcho, 0, 2);
    pGrid->addWidget(m_pPacsResult, 1, 1, 1, 2);
    pGrid->addWidget(new QLabel(QStringLiteral("Worklist:")), 2, 0);
    pGrid->addWidget(new QLabel(PeerText(c.worklist, "off (WORKLIST_HOST is empty)")), 2, 1);
    pGrid->addWidget(m_pWorklistEcho, 2, 2);
    pGrid->addWidget(m_pWorklistResult, 3, 1, 1, 2);
    m_pPacsEcho->setEnabled(c.pacs.IsSet());
    m_pWorklistEcho->setEnabled(c.worklist.IsSet());
    pLayout->addWidget(pServers);

    auto* pNote = new QLabel(QStringLiteral("The settings are the [DICOM] section of ORVI2.ini."), this);
    pLayout->addWidget(pNote);
    auto* pButtons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(pButtons, &QDialogButtonBox::rejected, this, &QDialog::close);
    pLayout->addWidget(pButtons);

    connect(m_pPacsEcho, &QPushButton::clicked, this, &CNetworkDlg::EchoPacs);
    connect(m_pWorklistEcho, &QPushButton::clicked, this, &CNetworkDlg::EchoWorklist);
}

void CNetworkDlg::EchoPacs() { Echo(true); }
void CNetworkDlg::EchoWorklist() { Echo(false); }

void CNetworkDlg::Echo(bool bPacs) {
    const dicom::CNetConfig& c = m_net.Config();
    const dicom::CPeer peer = bPacs ? c.pacs : c.worklist;
    QLabel* pResult = bPacs ? m_pPacsResult : m_pWorklistResult;
    QPushButton* pButton = bPacs ? m_pPacsEcho : m_pWorklistEcho;
    pResult->setText(QStringLiteral("Echo ..."));
    pButton->setEnabled(false);
    const std::string strAet = c.strStationAet;
    const uint32_t nTimeout = c.nTimeoutS;
    m_net.RunInBackground<dicom::CNetResult>(
        this, [strAet, peer, nTimeout] { return dicom::Echo(strAet, peer, nTimeout); },
        [pResult, pButton](const dicom::CNetResult& r) {
            pResult->setText(QString::fromStdString(r.strText));
            pResult->setStyleSheet(r.Ok() ? QString() : QStringLiteral("color: #b00000"));
            pButton->setEnabled(true);
        });
}

}  // namespace orvi
