#pragma once
// The calibration dialog on screen (Make Calibration files): the list of the
// calibration folder's files, GET BRIGHT, GET DARK, DELETE FILE, MAKE BPM and
// the four thresholds of the bad pixel map. The logic is CCalibration's; this
// widget shows its state (Load, whenever CCalibration reports a change, also
// while an image arrives during the dialog) and hands it the operator's
// clicks, selection and typed thresholds.
#include <QDialog>

#include <map>

class QLineEdit;
class QLabel;
class QListWidget;
class QPushButton;

namespace orvi {

class CCalibration;

class CCalibrationDlg final : public QDialog {
    Q_OBJECT
public:
    enum ControlId : int {
        IDC_FILE_LIST = 1102,
        IDC_GET_BRIGHT = 1013,
        IDC_GET_DARK = 1014,
        IDC_DELETE_FILE = 1016,
        IDC_MAKE_BPM = 1015,
        IDC_AREA_BRIGHT = 1012,
        IDC_AREA_DARK = 1018,
        IDC_LINE_BRIGHT = 1017,
        IDC_LINE_DARK = 1019,
    };

    // The dialog of this logic; the logic has been opened (OnInitDialog) by
    // the caller and outlives the widget.
    explicit CCalibrationDlg(CCalibration& logic, QWidget* pParent = nullptr);

    // Shows the logic's list, selection, buttons, caption and thresholds.
    void Load();

    QWidget* Control(int nId) const;
    QPushButton* Button(int nId) const;
    // What the dialog's frames are doing, or what MAKE BPM wrote.
    QLabel* ProgressLabel() const { return m_pProgress; }
    QListWidget* List() const { return m_pList; }
    QLineEdit* Edit(int nId) const;

private:
    QPushButton* AddButton(int nId, const char* szCaption, void (CCalibrationDlg::*pSlot)());
    void OnGetBright();
    void OnGetDark();
    void OnDeleteFile();
    void OnMakeBpm();

    CCalibration& m_logic;
    std::map<int, QWidget*> m_controls;
    QListWidget* m_pList = nullptr;
    QLabel* m_pProgress = nullptr;
    bool m_bLoading = false;
};

}  // namespace orvi
