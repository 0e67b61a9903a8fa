#pragma once
// CCalibration: the logic of the calibration dialog (Make Calibration files).
// It lists the calibration files of the calibration folder, starts a bright
// calibration pair (GET BRIGHT) or a dark frame alone (GET DARK), deletes a
// listed file and builds BPM.RAW (MAKE BPM).
//
// The main frame owns it and refills it with OnInitDialog before every
// opening; the widget shows what is here and calls the On... handlers. The
// dialog asks the station for what it needs through ICalibrationHost; the
// station's image reception tells it of its frames through
// ICalibrationFrames. Whatever changes the list, the selection, the buttons
// or the GET BRIGHT caption while the dialog runs is followed by
// IUiPort::CalibrationChanged(). The widget writes the four threshold boxes
// back (m_strArea..., m_strLine...) as the operator types, and the list
// selection (m_nSelected) as it changes.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace orvi {

class IUiPort;
struct CStationSettings;

inline constexpr const char* kGetBrightCaption = "GET BRIGHT";

// What the calibration dialog asks of the station.
class ICalibrationHost {
public:
    virtual ~ICalibrationHost() = default;
    virtual IUiPort& Ui() = 0;
    virtual const CStationSettings& Settings() const = 0;
    // GET BRIGHT: the next frame is a bright frame; then the detector is
    // armed (false: its link is lost).
    virtual void PrepareBright() = 0;
    virtual bool ArmBright() = 0;
    // GET DARK: the next frame is a dark alone; then it is asked for (false:
    // the link is lost). nDelayMs: the detector's delay the dark waits.
    virtual void PrepareDarkAlone() = 0;
    virtual bool RequestDarkAlone(uint16_t& nDelayMs) = 0;
    // Status pane 0 and the dialog's progress line.
    virtual void ShowProgress(const std::string& strText) = 0;
    // Runs fn while the station's folders are locked against other stations.
    virtual void WithFoldersLocked(const std::function<void()>& fn) = 0;
};

// What the station tells the calibration dialog while its frames arrive and
// their files are written: the list, the buttons, the progress line.
class ICalibrationFrames {
public:
    virtual ~ICalibrationFrames() = default;
    virtual const std::vector<std::string>& Files() const = 0;
    virtual int32_t AddString(const std::string& strName) = 0;
    virtual void DeleteString(int32_t nIndex) = 0;
    virtual int32_t FindString(const std::string& strPrefix) const = 0;
    virtual void EnableGetButtons(bool bEnabled) = 0;
    virtual void ResetGetBrightCaption() = 0;
    virtual void SetProgress(const std::string& strText) = 0;
    virtual void Changed() = 0;
};

class CCalibration : public ICalibrationFrames {
public:
    explicit CCalibration(ICalibrationHost& host);

    // Opening: boxes to 8, 8, 500, 600; folder and size from the frame;
    // FillFileList. Every opening starts from these values.
    void OnInitDialog();
    // Lists the calibration files of the folder (names with ".raw" or ".RAW"
    // and "BRIGHT" or "DARK"), replacing the list.
    void FillFileList();

    void OnGetBright();   // button 1013
    void OnGetDark();     // button 1014
    void OnDeleteFile();  // button 1016: deletes the selected file
    void OnMakeBpm();     // button 1015

    // ---- The list, kept in the order of a sorted list box --------------------

    const std::vector<std::string>& Files() const override { return m_listFiles; }
    // Adds a name at its sorted place; returns its index.
    int32_t AddString(const std::string& strName) override;
    void DeleteString(int32_t nIndex) override;
    // Index of the first entry that begins with strPrefix, ignoring case, or -1.
    int32_t FindString(const std::string& strPrefix) const override;
    void ResetContent();

    // GET BRIGHT, GET DARK and MAKE BPM on or off together.
    void EnableGetButtons(bool bEnabled) override;
    void ResetGetBrightCaption() override { m_strGetBrightCaption = kGetBrightCaption; }
    void SetProgress(const std::string& strText) override { m_strProgress = strText; }
    // Tells the port that what the dialog shows changed.
    void Changed() override;

    // ---- What the dialog shows ---------------------------------------------------

    int32_t m_nSelected = -1;  // selected list entry, -1 none
    bool m_bGetBrightEnabled = true;
    bool m_bGetDarkEnabled = true;
    bool m_bMakeBpmEnabled = true;
    // DELETE FILE is always enabled.
    std::string m_strGetBrightCaption = kGetBrightCaption;
    std::string m_strAreaBright = "8";    // box 1012, percent
    std::string m_strAreaDark = "8";      // box 1018, percent
    std::string m_strLineBright = "500";  // box 1017, grey levels
    std::string m_strLineDark = "600";    // box 1019, grey levels
    // What the dialog's frames are doing ("X-ray in 9 s", "Dark 1 of 1",
    // "Saved DARK_01234.RAW 14:03:22") or what MAKE BPM did.
    std::string m_strProgress;

    // Copied from the frame at each opening.
    std::string m_strCalPath;
    int32_t m_nImageWidth = 0;
    int32_t m_nImageHeight = 0;

private:
    ICalibrationHost& m_host;
    std::vector<std::string> m_listFiles;
};

// "22 270": a count with its thousands apart.
std::string GroupedCount(uint64_t n);
// "BPM.RAW saved (22 270 pixels marked)"
std::string BpmSavedText(uint64_t nMarked);

// The order of a sorted list box: case-insensitive, then by bytes.
bool ListBoxLess(const std::string& a, const std::string& b);

}  // namespace orvi
