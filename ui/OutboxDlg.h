#pragma once
// Outbox: the images waiting for the PACS, each with its attempts and last
// error, what the PACS refused, and "Send now".
#include <QDialog>

class QLabel;
class QPushButton;
class QTableWidget;

namespace orvi {

class CNetworkStation;

class COutboxDlg final : public QDialog {
    Q_OBJECT
public:
    COutboxDlg(CNetworkStation& net, QWidget* pParent);

    void Update();
    QTableWidget* Table() const { return m_pTable; }
    QLabel* Summary() const { return m_pSummary; }
    QPushButton* SendNowButton() const { return m_pSendNow; }

private:
    CNetworkStation& m_net;
    QLabel* m_pSummary = nullptr;
    QTableWidget* m_pTable = nullptr;
    QLabel* m_pRejected = nullptr;
    QPushButton* m_pSendNow = nullptr;
};

}  // namespace orvi
