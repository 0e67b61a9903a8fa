#include "ui/OutboxDlg.h"

#include "ui/DialogUnits.h"
#include "ui/NetworkStation.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

namespace orvi {

COutboxDlg::COutboxDlg(CNetworkStation& net, QWidget* pParent) : QDialog(pParent, kDialogFrame), m_net(net) {
    setWindowTitle(QStringLiteral("Outbox"));
    setAttribute(Qt::WA_DeleteOnClose);
    auto* pLayout = new QVBoxLayout(this);
    m_pSummary = new QLabel(this);
    m_pSummary->setWordWrap(true);
    pLayout->addWidget(m_pSummary);
    m_pTable = new QTableWidget(0, 3, this);
    m_pTable->setHorizontalHeaderLabels(
        {QStringLiteral("Image"), QStringLiteral("Attempts"), QStringLiteral("Last error")});
    m_pTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_pTable->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_pTable->verticalHeader()->hide();
    m_pTable->horizontalHeader()->setStretchLastSection(true);
    m_pTable->setMinimumSize(CDialogUnits(this).Size(420, 140));
    pLayout->addWidget(m_pTable, 1);
    m_pRejected = new QLabel(this);
    m_pRejected->setWordWrap(true);
    pLayout->addWidget(m_pRejected);
    auto* pButtons = new QHBoxLayout;
    m_pSendNow = new QPushButton(QStringLiteral("Send now"), this);
    auto* pClose = new QPushButton(QStringLiteral("Close"), this);
    pButtons->addStretch(1);
    pButtons->addWidget(m_pSendNow);
    pButtons->addWidget(pClose);
    pLayout->addLayout(pButtons);
    connect(m_pSendNow, &QPushButton::clicked, this, [this] { m_net.SendNow(); });
    connect(pClose, &QPushButton::clicked, this, &QDialog::close);
    connect(&net, &CNetworkStation::StatusChanged, this, &COutboxDlg::Update);
    Update();
}

void COutboxDlg::Update() {
    const dicom::CNetConfig& c = m_net.Config();
    const dicom::COutboxStatus& s = m_net.OutboxStatus();
    m_pSendNow->setEnabled(c.PacsOn() && m_net.OutboxError().empty());
    if (!c.PacsOn()) {
        m_pSummary->setText(
            QStringLiteral("No PACS is set ([DICOM] PACS_HOST and PACS_PORT of ORVI2.ini): "
                           "images are written locally only."));
    } else if (!m_net.OutboxError().empty()) {
        m_pSummary->setText(QString::fromStdString(m_net.OutboxError()));
    } else {
        QString text = QString::fromStdString(s.StatusText() + " - " + c.pacs.Describe() + ", outbox " + c.strOutbox);
        if (!s.strProblem.empty()) text += QStringLiteral("\n") + QString::fromStdString(s.strProblem);
        m_pSummary->setText(text);
    }
    m_pTable->setRowCount(static_cast<int>(s.waiting.size()));
    for (int i = 0; i < static_cast<int>(s.waiting.size()); ++i) {
        const dicom::COutboxItem& item = s.waiting[static_cast<size_t>(i)];
        m_pTable->setItem(i, 0, new QTableWidgetItem(QString::fromStdString(item.strName)));
        m_pTable->setItem(i, 1, new QTableWidgetItem(QString::number(item.nAttempts)));
        m_pTable->setItem(i, 2, new QTableWidgetItem(QString::fromStdString(item.strLastError)));
    }
    m_pTable->resizeColumnToContents(0);
    m_pRejected->setText(s.nRejected == 0 ? QString()
                                          : QStringLiteral("Refused by the PACS, kept in %1rejected/: %2 (last: %3)")
                                                .arg(QString::fromStdString(c.strOutbox))
                                                .arg(s.nRejected)
                                                .arg(QString::fromStdString(s.strLastRejection)));
}

}  // namespace orvi
