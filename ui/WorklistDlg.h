#pragma once
// Worklist: the modality worklist (C-FIND, modality DX, today unless another
// day or any day is chosen), filtered by name or accession. Choosing an item
// sets the patient and study of the next exposures.
#include "export/dicom/net/DicomNet.h"

#include <QDialog>

#include <vector>

class QCheckBox;
class QDateEdit;
class QLabel;
class QLineEdit;
class QPushButton;
class QTableWidget;

namespace orvi {

class CNetworkStation;

class CWorklistDlg final : public QDialog {
    Q_OBJECT
public:
    CWorklistDlg(CNetworkStation& net, QWidget* pParent);

    // Queries the worklist server again with the dialog's filters.
    void Refresh();
    // Chooses the selected item (or row nRow).
    bool Choose(int nRow = -1);

    QTableWidget* Table() const { return m_pTable; }
    QLabel* Message() const { return m_pMessage; }
    QLineEdit* NameFilter() const { return m_pName; }
    QLineEdit* AccessionFilter() const { return m_pAccession; }
    QCheckBox* AnyDay() const { return m_pAnyDay; }
    bool Busy() const { return m_bBusy; }

signals:
    void Refreshed();

private:
    void Show(const dicom::CNetResult& r, const std::vector<dicom::CWorklistItem>& items);

    CNetworkStation& m_net;
    QDateEdit* m_pDate = nullptr;
    QCheckBox* m_pAnyDay = nullptr;
    QLineEdit* m_pName = nullptr;
    QLineEdit* m_pAccession = nullptr;
    QPushButton* m_pRefresh = nullptr;
    QPushButton* m_pChoose = nullptr;
    QTableWidget* m_pTable = nullptr;
    QLabel* m_pMessage = nullptr;
    std::vector<dicom::CWorklistItem> m_items;
    bool m_bBusy = false;
};

}  // namespace orvi
