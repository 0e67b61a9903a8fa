#pragma once
// CTarsoConfigDlg: the logic of the modeless detector configuration dialog.
// Every field is held as the text (or state) the dialog shows; the widget
// shows them, writes the operator's edits back into them and calls the
// command handlers. Refresh() fills them from the library's getters when a
// parameter block arrives (the frame's ComCallback calls it and then
// IUiPort::ConfigDialogChanged()).
//
// The dialog reaches the station through IDetectorConfigHost.
// The frame owns the object: OnOpenConfig creates it on first
// use and asks the port to show it; OnExit ends it (the port is told with
// ConfigDialogDestroyed, then the object is deleted: nothing of it may be used
// after OnExit returns, so a widget that calls OnExit from its own slot closes
// itself with deleteLater). Hiding the window (Escape, Enter, close box) keeps it.
#include <array>
#include <cstdint>
#include <string>

namespace orvi {

class CAppValues;
class IUiPort;

// What the configuration dialog asks of the station.
class IDetectorConfigHost {
public:
    virtual ~IDetectorConfigHost() = default;
    virtual IUiPort& Ui() = 0;
    // The program's values (image naming, the exposure delay's text).
    virtual CAppValues& App() = 0;
    virtual const std::string& IniPath() const = 0;
    // The detector the dialog shows and writes.
    virtual uint32_t CurrentDetector() const = 0;
    virtual int32_t TriggerMode() const = 0;
    virtual void SetTriggerMode(int32_t nMode) = 0;
    // Waits nMs on the station's clock (the detector answers a parameter update).
    virtual void SleepMs(uint32_t nMs) = 0;
    // Exit: the dialog is destroyed.
    virtual void DestroyConfigDialog() = 0;
};

// Trigger-mode items of the dialog, in order.
inline constexpr const char* kTriggerItems[4] = {"0:Manual", "1:Auto", "6:USB", "7:Repeat"};

// Messages of Write, in the order the checks run.
inline constexpr const char* kVtError = "VT is error, the value is 1.25 ~ 4.50V";
inline constexpr const char* kPgaError = "PGA is error, the value is 0 ~ 7";
inline constexpr const char* kSpanError = "Time span is error, the value is 1800 ~ 65535ms";
inline constexpr const char* kDelayError = "Delay time is error, the value is 0 ~ 65535ms";
inline constexpr const char* kIntegrateError = "Integrate time is error, the value is 100us";
inline constexpr const char* kClearTimeError = "Clear time is error, the value is 1500ms";
inline constexpr const char* kImageNameEmpty = "Image name is empty.";

class CTarsoConfigDlg {
public:
    explicit CTarsoConfigDlg(IDetectorConfigHost& host);

    // Fills every field from the library for this handle (and the naming
    // fields from the image store).
    void Refresh(uint32_t hDetector);

    // Write (1005): checks the fields in order (the first failure is shown and
    // nothing is written or sent), saves the naming, sends the parameters.
    // Returns true when the parameters were sent.
    bool OnWrite();
    // Browse (1007): the front end ran the folder browser; an empty path means
    // Cancel. A picked folder goes into the folder label with a final '/'.
    void OnBrowse(const std::string& strPickedFolder);
    void OnRead();   // 1009 (hidden, disabled)
    void OnReset();  // 1010
    // Exit (1006): the dialog is destroyed; this object is gone on return.
    void OnExit();

    // ---- Fields, as shown ------------------------------------------------------

    std::string m_strVersion;       // 1004 "8.%d.%d.%d"
    int32_t m_nTriggerIndex = -1;   // 1101: selected item 0..3, -1 none
    std::string m_strTriggerText;   // 1101: the box's text (an item or typed)
    std::string m_strFga;           // 1088
    std::string m_strAcquireDelay;  // 1027
    std::string m_strSetDelay;      // 1028
    std::string m_strInnerDelay;    // 1029 (read-only)
    std::string m_strFolder;        // 1075 label: the image folder
    std::string m_strImageName;     // 1076
    bool m_bAutoNaming = false;     // 1077
    // Hidden fields.
    std::string m_strVt;              // 1087 "%1.2f"
    std::string m_strSpan;            // 1072
    std::string m_strIntegrate;       // 1025
    std::string m_strClearTime;       // 1030
    std::array<bool, 4> m_bSensor{};  // 1043..1046: I, II, III, Reset
    std::array<bool, 4> m_bGain{};    // 1047..1050: GAIN0..GAIN3

    // Selects a trigger item (or none with -1) and shows its text.
    void SelectTrigger(int32_t nIndex);

private:
    IDetectorConfigHost& m_host;
};

// The dialog's number readings: a signed integer from the leading digits
// (anything else reads as 0), and a floating-point number likewise.
int32_t DialogInt(const std::string& strText);
double DialogFloat(const std::string& strText);
// The detector's firmware version as the dialog shows it: "8.%d.%d.%d".
std::string DetectorVersionText(uint32_t hDetector);
// The detector's serial number ("" when it gives none).
std::string DetectorSerialText(uint32_t hDetector);

}  // namespace orvi
