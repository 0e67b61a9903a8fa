#pragma once
// CMainFrame: the program's controller. It owns the detector connection, the
// acquisition state, the two full-frame buffers and the configuration copies,
// and carries the operator's commands. It never touches a widget: what a
// person sees goes through IUiPort, time through ITimerService.
#include "acquisition/TimerService.h"
#include "acquisition/UiPort.h"
#include "app/AppValues.h"

#include <cstdint>
#include <string>
#include <vector>

namespace orvi {

// The frame buffers always hold a full 3072 x 3072 frame.
inline constexpr int32_t kFrameSide = 3072;
inline constexpr size_t kFramePixels = size_t{kFrameSide} * kFrameSide;
inline constexpr size_t kFrameBytes = kFramePixels * sizeof(uint16_t);  // 18,874,368

class CMainFrame {
public:
    enum class CreateResult {
        Ok,
        MissingIni,  // "ORVI2.ini don`t exist." was shown; the program ends with code 0
        BadConfig,   // the image geometry was refused with a message; the program ends with code 1
    };

    CMainFrame(CAppValues& app, IUiPort& ui, ITimerService& timers);
    ~CMainFrame();
    CMainFrame(const CMainFrame&) = delete;
    CMainFrame& operator=(const CMainFrame&) = delete;

    // The creation steps after the child windows exist: log start, configuration,
    // folders, stale message files and the frame buffers.
    CreateResult OnCreate(const std::string& strProgramDir);

    // Makes the image store's configuration usable: size check, buffers and the
    // links to this frame. Runs after the store's Initialize.
    bool AttachImageStore();

    // Main frame operations on message files in the image folder.
    void CreateMessageFile(const std::string& strBaseName);
    void DeleteMessageFile(const std::string& strFileName);

    CAppValues& App() { return m_app; }
    IUiPort& Ui() { return m_ui; }
    ITimerService& Timers() { return m_timers; }

    // Configuration copies read at creation.
    std::string m_strIniPath;
    std::string m_strImagePath;  // IMAGE_PATH, ending in '/' when non-empty
    std::string m_strCalPath;    // CAL_PATH, ending in '/' when non-empty
    int32_t m_nStdDevOption = 0;
    int32_t m_nDoseIndicator = 0;
    int32_t m_nMedianFilter = 0;
    int32_t m_nCalibration = 0;
    int32_t m_nImageWidth = 0;
    int32_t m_nImageHeight = 0;
    int32_t m_nStdDevRange = 0;
    int32_t m_nTriggerMode = 0;
    int32_t m_nOffsetControl = 0;
    int32_t m_nRepeatLeft = 0;
    int32_t m_nRepeatPeriod = 0;
    int32_t m_nCutTop = 0;
    int32_t m_nCutBottom = 0;
    int32_t m_nCutLeft = 0;
    int32_t m_nCutRight = 0;

    // Detector handles: A, B and the current one (a copy of A or B).
    uint32_t m_hDetector = 0;
    uint32_t m_hDetectorA = 0;
    uint32_t m_hDetectorB = 0;

    // Frame buffers of kFramePixels each; the dark frame starts zero-filled.
    std::vector<uint16_t> m_pImageBackup;
    std::vector<uint16_t> m_pDarkFrame;

private:
    CAppValues& m_app;
    IUiPort& m_ui;
    ITimerService& m_timers;
};

// Appends '/' to a non-empty folder that does not end in one.
std::string NormaliseFolder(const std::string& strFolder);

}  // namespace orvi
