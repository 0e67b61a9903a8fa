#pragma once
// CToolDlgBar: the operator's control panel, docked on the right of the main
// window. It owns no command logic: every button and check box is passed on
// as a signal of its command id, and the two selectors as notifications, for
// the main window to connect to the controller. It keeps the enable, tick,
// visibility and selection of its controls equal to the controller's
// CPanelState, applied in one place (ApplyState) after every handled event.
// Its own logic is the Window Width / Window Level boxes, which set the image
// view's lookup table.
#include "acquisition/PanelState.h"

#include <QDockWidget>

#include <map>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QVBoxLayout;

namespace orvi {

class CChildView;

class CToolDlgBar final : public QDockWidget {
    Q_OBJECT
public:
    // Control ids of the panel, as its commands carry them.
    enum ControlId : int {
        IDC_CONNECTION_GROUP = 1000,
        IDC_CONNECT = 1010,
        IDC_DISCONNECT = 1002,
        IDC_SHOW_NETWORK = 1068,
        IDC_ACQUISITION_GROUP = 1004,
        IDC_ACQUISITION = 1027,
        IDC_OPEN_CONFIG = 1008,
        IDC_MAKE_CALIBRATION = 1015,
        IDC_FILE_GROUP = 1023,
        IDC_OPEN_FILE = 1003,
        IDC_WINDOW_GROUP = 1024,
        IDC_WINDOW_WIDTH = 1012,
        IDC_WINDOW_LEVEL = 1103,
        IDC_DARK = 1007,
        IDC_OFFSET_SELECTOR = 1093,
        IDC_DETECTOR_SELECTOR = 1095,
        IDC_GAIN = 1070,
        IDC_DEFECT = 1071,
        IDC_NO_CLEAR = 1009,
        IDC_SAVE_ADAPTER = 1005,
    };

    // Builds the panel and runs its creation steps: selectors filled ("NO",
    // "PREV", "POST" on "NO"; "A", "B" on "A"), the width and level boxes set
    // to 16383 and 8191 and handed to pView's table like a typed change.
    explicit CToolDlgBar(CChildView* pView, QWidget* pParent = nullptr);
    ~CToolDlgBar() override;

    // The flags the panel shows. Until the controller's are given, the panel
    // shows the state of a panel just created (only Connect and Open File).
    // The state must outlive the panel or be replaced first.
    void SetState(const CPanelState* pState);
    const CPanelState& State() const { return *m_pState; }

    // Makes every control's enable, tick, visibility and selection equal to
    // the state. Runs after each event the panel handles, whenever the event
    // loop goes idle, and when the controller reports a change.
    void ApplyState();

    // Adds a group of controls that are not the operator's (the simulated
    // detector's) at the foot of the panel, apart from the panel's own.
    void AddFooterGroup(QWidget* pGroup);

    // Adds a widget right under the window width and level boxes.
    void AddBelowWindowGroup(QWidget* pWidget);

    // Moves the keyboard focus to "Make Calibration files" (the controller asks
    // for it after an accepted selector choice).
    void FocusMakeCalibration();

    // The view's table width and level, written into the boxes (each change
    // is then handled like a typed one; the table ignores a repeat).
    void ShowWindowLevel(int nWidth, int nLevel);

    // A control by its id (labels have none); nullptr for an unknown id.
    QWidget* Control(int nId) const;
    QPushButton* Button(int nId) const;
    QCheckBox* CheckBox(int nId) const;
    QComboBox* OffsetSelector() const { return m_pOffset; }
    QComboBox* DetectorSelector() const { return m_pDetector; }
    QLineEdit* WidthEdit() const { return m_pWidth; }
    QLineEdit* LevelEdit() const { return m_pLevel; }
    QLabel* OffsetLabel() const { return m_pOffsetLabel; }

signals:
    // One signal per command id: the button or check box was clicked.
    void ConnectClicked();            // 1010
    void DisconnectClicked();         // 1002
    void ShowNetworkWindowClicked();  // 1068
    void AcquisitionClicked();        // 1027
    void OpenConfigClicked();         // 1008
    void MakeCalibrationClicked();    // 1015
    void OpenFileClicked();           // 1003
    void DarkClicked();               // 1007
    void GainClicked();               // 1070
    void DefectClicked();             // 1071
    void NoClearClicked();            // 1009
    void SaveAdapterClicked();        // 1005
    // The operator chose an entry of a selector. The handler stores the
    // accepted choice in CPanelState (nOffsetSelection, nDetectorSelection);
    // a refused one ("PREV" without its offset file) is set back to 0 ("NO"),
    // which the panel then shows without reporting a new choice.
    void OffsetSelectionChanged(int nIndex);    // 1093
    void DetectorSelectionChanged(int nIndex);  // 1095

private:
    QPushButton* AddButton(int nId, const char* szCaption, void (CToolDlgBar::*pSignal)());
    QCheckBox* AddCheckBox(int nId, const char* szCaption, void (CToolDlgBar::*pSignal)());
    void OnOffsetChosen(int nIndex);
    void OnDetectorChosen(int nIndex);
    // Window Width or Window Level text changed: set the view's table.
    void OnWindowLevelEdited();

    CChildView* m_pView;
    CPanelState m_created;  // the state of a panel just created
    const CPanelState* m_pState = &m_created;
    std::map<int, QWidget*> m_controls;
    QComboBox* m_pOffset = nullptr;
    QComboBox* m_pDetector = nullptr;
    QLineEdit* m_pWidth = nullptr;
    QLineEdit* m_pLevel = nullptr;
    QLabel* m_pOffsetLabel = nullptr;
    QVBoxLayout* m_pColumn = nullptr;
    QMetaObject::Connection m_idle;
};

}  // namespace orvi
