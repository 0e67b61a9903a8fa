#pragma once
// Network: the station's DICOM settings ([DICOM] of ORVI2.ini) and an Echo
// (C-ECHO) per server, with the answer in words.
#include <QDialog>

class QLabel;
class QPushButton;

namespace orvi {

class CNetworkStation;

class CNetworkDlg final : public QDialog {
    Q_OBJECT
public:
    CNetworkDlg(CNetworkStation& net, QWidget* pParent);

    void EchoPacs();
    void EchoWorklist();
    QLabel* PacsResult() const { return m_pPacsResult; }
    QLabel* WorklistResult() const { return m_pWorklistResult; }
    QPushButton* PacsEcho() const { return m_pPacsEcho; }
    QPushButton* WorklistEcho() const { return m_pWorklistEcho; }

private:
    void Echo(bool bPacs);

    CNetworkStation& m_net;
    QLabel* m_pPacsResult = nullptr;
    QLabel* m_pWorklistResult = nullptr;
    QPushButton* m_pPacsEcho = nullptr;
    QPushButton* m_pWorklistEcho = nullptr;
};

}  // namespace orvi
