#pragma once
// The detector configuration dialog on screen (Open Config), modeless. The
// logic and the fields are CTarsoConfigDlg's (the main frame's ConfigDialog()):
// this widget shows them (Load, after every refresh from the detector, also
// while hidden), writes the operator's edits back into them as they are made,
// and hands the buttons to the logic. Escape, Enter and the close box hide the
// window; Exit ends the logic, which then has the main window delete this
// widget.
#include <QDialog>

#include <functional>
#include <map>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;

namespace orvi {

class CMainFrame;
class CTarsoConfigDlg;

class CConfigDlg final : public QDialog {
    Q_OBJECT
public:
    enum ControlId : int {
        IDC_VERSION = 1004,
        IDC_TRIGGER_MODE = 1101,
        IDC_FGA = 1088,
        IDC_ACQUIRE_DELAY = 1027,
        IDC_SET_DELAY = 1028,
        IDC_INNER_DELAY = 1029,
        IDC_NAME_GROUP = 1074,
        IDC_FOLDER = 1075,
        IDC_IMAGE_NAME = 1076,
        IDC_BROWSE = 1007,
        IDC_AUTO_NAMING = 1077,
        IDC_WRITE = 1005,
        IDC_RESET = 1010,
        IDC_EXIT = 1006,
        IDC_VT = 1087,
        IDC_SPAN = 1072,
        IDC_INTEGRATE = 1025,
        IDC_CLEAR_TIME = 1030,
        IDC_SENSOR_I = 1043,
        IDC_SENSOR_II = 1044,
        IDC_SENSOR_III = 1045,
        IDC_SENSOR_RESET = 1046,
        IDC_GAIN0 = 1047,
        IDC_GAIN1 = 1048,
        IDC_GAIN2 = 1049,
        IDC_GAIN3 = 1050,
        IDC_READ = 1009,
    };

    // Picks a folder for Browse; an empty text means Cancel. The default is
    // the platform's folder dialog titled "Select path", starting at the desktop.
    using FolderPicker = std::function<QString(QWidget* pParent)>;

    explicit CConfigDlg(CMainFrame& frame, QWidget* pParent = nullptr);

    // Shows the logic's fields.
    void Load();

    void SetFolderPicker(FolderPicker fnPicker) { m_fnPickFolder = std::move(fnPicker); }
    static QString PickFolder(QWidget* pParent);

    QWidget* Control(int nId) const;
    QLineEdit* Edit(int nId) const;
    QCheckBox* CheckBox(int nId) const;
    QPushButton* Button(int nId) const;
    QComboBox* TriggerBox() const { return m_pTrigger; }
    QLabel* FolderLabel() const { return m_pFolder; }
    // "Written" beside the Write button for a few seconds after a Write that
    // sent the parameters.
    QLabel* WrittenLabel() const { return m_pWritten; }

protected:
    // Enter in a field ends the dialog the standard way (it hides), as Escape does.
    void keyPressEvent(QKeyEvent* pEvent) override;

private:
    CTarsoConfigDlg* Logic() const;
    QLineEdit* AddEdit(int nId, std::string CTarsoConfigDlg::*pField, bool bReadOnly = false);
    QCheckBox* AddCheckBox(int nId, const char* szCaption, std::function<bool&(CTarsoConfigDlg&)> fnField);
    QPushButton* AddButton(int nId, const char* szCaption);
    void OnWrite();
    void OnBrowse();
    void OnRead();
    void OnReset();
    void OnExit();

    CMainFrame& m_frame;
    std::map<int, QWidget*> m_controls;
    std::map<int, std::string CTarsoConfigDlg::*> m_editFields;
    std::map<int, std::function<bool&(CTarsoConfigDlg&)>> m_checkFields;
    QComboBox* m_pTrigger = nullptr;
    QLabel* m_pFolder = nullptr;
    QLabel* m_pWritten = nullptr;
    FolderPicker m_fnPickFolder = &CConfigDlg::PickFolder;
    bool m_bLoading = false;
};

}  // namespace orvi
