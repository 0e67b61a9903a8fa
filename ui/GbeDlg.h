#pragma once
// CGbeDlg: the adapter selection dialog. Before a connection it lets the
// operator choose which network adapter and which serial port lead to the
// detector. It only collects the four names (slot A, and slot B, whose boxes
// stay hidden and are disabled without a second detector) and returns them;
// the caller connects and saves.
#include "acquisition/UiPort.h"

#include <QDialog>

#include <map>
#include <string>
#include <vector>

class QComboBox;

namespace orvi {

class CGbeDlg final : public QDialog {
    Q_OBJECT
public:
    enum ControlId : int {
        IDC_DETECTOR_GROUP = 1096,
        IDC_PORT_LABEL = 1097,
        IDC_ADAPTER_1 = 1056,
        IDC_ADAPTER_2 = 1057,
        IDC_PORT_1 = 1058,
        IDC_PORT_2 = 1059,
        IDOK = 1,
        IDCANCEL = 2,
    };

    // The adapters go into the adapter boxes sorted (as a sorted list box
    // orders them), the ports into the port boxes in the order given. The
    // slot B boxes are disabled when no second detector is configured.
    CGbeDlg(const std::vector<std::string>& adapters, const std::vector<std::string>& ports, bool bSecondDetector,
            QWidget* pParent = nullptr);

    // After OK: the text of each box's edit field (an item chosen, or typed).
    CAdapterChoice Choice() const;

    QWidget* Control(int nId) const;
    QComboBox* Box(int nId) const;

private:
    std::map<int, QWidget*> m_controls;
};

}  // namespace orvi
