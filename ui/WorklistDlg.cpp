#include "ui/WorklistDlg.h"

#include "ui/DialogUnits.h"
#include "ui/NetworkStation.h"

#include <QCheckBox>
#include <QDate>
#include <QDateEdit>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include <utility>

namespace orvi {

namespace {

// "20261210093000" -> "2026-12-10 09:30".
QString StepTime(const std::string& s) {
    const QString q = QString::fromStdString(s);
    if (q.size() < 8) return q;
    QString t = q.left(4) + QLatin1Char('-') + q.mid(4, 2) + QLatin1Char('-') + q.mid(6, 2);
    if (q.size() >= 12) t += QLatin1Char(' ') + q.mid(8, 2) + QLatin1Char(':') + q.mid(10, 2);
    return t;
}

// "DOE^JANE" -> "DOE, JANE".
QString PersonName(const std::string& s) {
    QString name = QString::fromStdString(s);
    const int nCaret = name.indexOf(QLatin1Char('^'));
    if (nCaret >= 0) name = name.left(nCaret) + QStringLiteral(", ") + name.mid(nCaret + 1).replace('^', ' ');
    return name.trimmed();
}

}  // namespace

CWorklistDlg::CWorklistDlg(CNetworkStation& net, QWidget* pParent) : QDialog(pParent, kDialogFrame), m_net(net) {
    setWindowTitle(QStringLiteral("Worklist"));
    setAttribute(Qt::WA_DeleteOnClose);
    auto* pLayout = new QVBoxLayout(this);

    auto* pFilters = new QHBoxLayout;
    m_pDate = new QDateEdit(QDate::currentDate(), this);
    m_pDate->setCalendarPopup(true);
    m_pDate->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
    m_pAnyDay = new QCheckBox(QStringLiteral("Any day"), this);
    m_pName = new QLineEdit(this);
    m_pName->setPlaceholderText(QStringLiteral("Name"));
    m_pAccession = new QLineEdit(this);
    m_pAccession->setPlaceholderText(QStringLiteral("Accession"));
    m_pRefresh = new QPushButton(QStringLiteral("Refresh"), this);
    pFilters->addWidget(new QLabel(QStringLiteral("Day:")));
    pFilters->addWidget(m_pDate);
    pFilters->addWidget(m_pAnyDay);
    pFilters->addWidget(m_pName, 1);
    pFilters->addWidget(m_pAccession, 1);
    pFilters->addWidget(m_pRefresh);
    pLayout->addLayout(pFilters);

    m_pTable = new QTableWidget(0, 5, this);
    m_pTable->setHorizontalHeaderLabels({QStringLiteral("Patient"), QStringLiteral("Patient ID"),
                                         QStringLiteral("Accession"), QStringLiteral("Requested procedure"),
                                         QStringLiteral("Scheduled")});
    m_pTable->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_pTable->setSelectionMode(QAbstractItemView::SingleSelection);
    m_pTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_pTable->verticalHeader()->hide();
    m_pTable->horizontalHeader()->setStretchLastSection(true);
    const CDialogUnits du(this);
    m_pTable->setMinimumSize(du.Size(420, 160));
    pLayout->addWidget(m_pTable, 1);

    m_pMessage = new QLabel(this);
    m_pMessage->setWordWrap(true);
    pLayout->addWidget(m_pMessage);

    auto* pButtons = new QHBoxLayout;
    m_pChoose = new QPushButton(QStringLiteral("Choose"), this);
    m_pChoose->setDefault(true);
    auto* pClose = new QPushButton(QStringLiteral("Close"), this);
    pButtons->addStretch(1);
    pButtons->addWidget(m_pChoose);
    pButtons->addWidget(pClose);
    pLayout->addLayout(pButtons);

    connect(m_pRefresh, &QPushButton::clicked, this, &CWorklistDlg::Refresh);
    connect(m_pName, &QLineEdit::returnPressed, this, &CWorklistDlg::Refresh);
    connect(m_pAccession, &QLineEdit::returnPressed, this, &CWorklistDlg::Refresh);
    connect(m_pAnyDay, &QCheckBox::toggled, m_pDate, &QWidget::setDisabled);
    connect(m_pChoose, &QPushButton::clicked, this, [this] { Choose(); });
    connect(m_pTable, &QTableWidget::cellDoubleClicked, this, [this](int nRow, int) { Choose(nRow); });
    connect(pClose, &QPushButton::clicked, this, &QDialog::close);
}

void CWorklistDlg::Refresh() {
    const dicom::CNetConfig& c = m_net.Config();
    if (!c.WorklistOn()) {
        m_pMessage->setText(
            QStringLiteral("No worklist server is set ([DICOM] WORKLIST_HOST and WORKLIST_PORT "
                           "of ORVI2.ini)."));
        emit Refreshed();
        return;
    }
    dicom::CWorklistQuery q;
    q.strDate = m_pAnyDay->isChecked() ? "" : m_pDate->date().toString(QStringLiteral("yyyyMMdd")).toStdString();
    q.strName = m_pName->text().trimmed().toStdString();
    q.strAccession = m_pAccession->text().trimmed().toStdString();
    m_pMessage->setText(QStringLiteral("Asking %1 ...").arg(QString::fromStdString(c.worklist.Describe())));
    m_pRefresh->setEnabled(false);
    m_bBusy = true;
    const std::string strAet = c.strStationAet;
    const dicom::CPeer peer = c.worklist;
    const uint32_t nTimeout = c.nTimeoutS;
    using Result = std::pair<dicom::CNetResult, std::vector<dicom::CWorklistItem>>;
    m_net.RunInBackground<Result>(
        this,
        [strAet, peer, nTimeout, q] {
            Result r;
            r.first = dicom::QueryWorklist(strAet, peer, nTimeout, q, r.second);
            return r;
        },
        [this](const Result& r) { Show(r.first, r.second); });
}

void CWorklistDlg::Show(const dicom::CNetResult& r, const std::vector<dicom::CWorklistItem>& items) {
    m_bBusy = false;
    m_pRefresh->setEnabled(true);
    m_items = items;
    m_pTable->setRowCount(static_cast<int>(items.size()));
    for (int i = 0; i < static_cast<int>(items.size()); ++i) {
        const dicom::CPatientStudy& ps = items[static_cast<size_t>(i)].ps;
        const QString cells[] = {PersonName(ps.strPatientName), QString::fromStdString(ps.strPatientId),
                                 QString::fromStdString(ps.strAccessionNumber),
                                 QString::fromStdString(ps.strRequestedProcedureDescription),
                                 StepTime(ps.strScheduledStepStart)};
        for (int c = 0; c < 5; ++c) m_pTable->setItem(i, c, new QTableWidgetItem(cells[c]));
    }
    m_pTable->resizeColumnsToContents();
    if (!items.empty()) m_pTable->selectRow(0);
    m_pMessage->setText(QString::fromStdString(r.strText));
    m_pMessage->setStyleSheet(r.Ok() ? QString() : QStringLiteral("color: #b00000"));
    emit Refreshed();
}

bool CWorklistDlg::Choose(int nRow) {
    if (nRow < 0) nRow = m_pTable->currentRow();
    if (nRow < 0 || nRow >= static_cast<int>(m_items.size())) {
        m_pMessage->setText(QStringLiteral("Choose a patient from the list."));
        return false;
    }
    m_pTable->selectRow(nRow);
    const dicom::CPatientStudy& ps = m_items[static_cast<size_t>(nRow)].ps;
    m_net.SetPatientStudy(ps);
    m_pMessage->setText(QStringLiteral("The next exposures belong to %1 (%2), accession %3.")
                            .arg(PersonName(ps.strPatientName), QString::fromStdString(ps.strPatientId),
                                 QString::fromStdString(ps.strAccessionNumber)));
    m_pMessage->setStyleSheet(QString());
    return true;
}

}  // namespace orvi
