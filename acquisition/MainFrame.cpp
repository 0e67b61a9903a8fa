#include "acquisition/MainFrame.h"

#include "app/ConfigKeys.h"
#include "app/EventLog.h"
#include "imaging/MessageFiles.h"

#include <filesystem>

namespace orvi {

std::string NormaliseFolder(const std::string& strFolder) {
    if (!strFolder.empty() && strFolder.back() != '/') return strFolder + '/';
    return strFolder;
}

namespace {

// Creates the folder and any missing parents; an existing folder or a failure
// is ignored here (a failure shows later as a file that cannot be created).
void CreateFolder(const std::string& strFolder) {
    if (strFolder.empty()) return;
    std::error_code ec;
    std::filesystem::create_directories(strFolder, ec);
}

}  // namespace

CMainFrame::CMainFrame(CAppValues& app, IUiPort& ui, ITimerService& timers)
    : m_app(app), m_ui(ui), m_timers(timers) {}

CMainFrame::~CMainFrame() { SetLogClock(nullptr); }

CMainFrame::CreateResult CMainFrame::OnCreate(const std::string& strProgramDir) {
    DeleteLogFile();

    m_strIniPath = strProgramDir + cfg::kIniFileName;
    std::error_code ec;
    if (!std::filesystem::exists(m_strIniPath, ec)) {
        m_ui.ShowMessage("ORVI2.ini don`t exist.");
        return CreateResult::MissingIni;
    }

    cfg::CFrameConfig c = cfg::ReadFrameConfig(m_strIniPath);
    m_strImagePath = NormaliseFolder(c.strImagePath);
    CreateFolder(m_strImagePath);
    m_strCalPath = NormaliseFolder(c.strCalPath);
    CreateFolder(m_strCalPath);
    g_bWriteLog = c.nWriteLog;
    m_nStdDevOption = c.nStdDevOption;
    m_nDoseIndicator = c.nDoseIndicator;
    m_nMedianFilter = c.nMedianFilter;
    m_nCalibration = c.nCalibration;
    m_nImageWidth = c.nImageWidth;
    m_nImageHeight = c.nImageHeight;
    m_nStdDevRange = c.nStdDevRange;
    m_nTriggerMode = c.nTriggerMode;
    m_nOffsetControl = c.nOffsetControl;
    m_nRepeatLeft = c.nRepeatNumber;
    m_nRepeatPeriod = c.nRepeatPeriod;
    m_nCutTop = c.nCutTop;
    m_nCutBottom = c.nCutBottom;
    m_nCutLeft = c.nCutLeft;
    m_nCutRight = c.nCutRight;

    // The frame buffers hold 3072 x 3072 pixels: a larger or empty image, or
    // cuts that leave nothing, are refused before anything else happens.
    std::string strBad = cfg::CheckImageGeometry(m_nImageWidth, m_nImageHeight, m_nCutTop,
                                                 m_nCutBottom, m_nCutLeft, m_nCutRight);
    if (!strBad.empty()) {
        m_ui.ShowMessage(strBad);
        return CreateResult::BadConfig;
    }

    SetLogClock([this] { return m_timers.now_ms(); });
    StartLog();

    DeleteMessageFile(kFileDetectorReady);
    DeleteMessageFile(kFileTextIconExposure);
    DeleteMessageFile(kFileImageComing);
    DeleteMessageFile(kFileDoseIndicator);

    m_pImageBackup.assign(kFramePixels, 0);
    m_pDarkFrame.assign(kFramePixels, 0);
    return CreateResult::Ok;
}

bool CMainFrame::AttachImageStore() {
    CImageStore& store = m_app.m_imageStore;
    std::string strBad = cfg::CheckImageGeometry(store.m_nWidth, store.m_nHeight, 0, 0, 0, 0);
    if (!strBad.empty() || store.m_pDisplay.empty()) {
        m_ui.ShowMessage(strBad.empty() ? "The image buffers could not be obtained." : strBad);
        return false;
    }
    store.SetFrameLinks(&m_hDetectorB, m_pDarkFrame.data(), m_pDarkFrame.size());
    return true;
}

void CMainFrame::CreateMessageFile(const std::string& strBaseName) {
    if (!CreateEmptyFile(m_strImagePath, strBaseName + ".txt"))
        m_ui.ShowMessage(kMessageFileCreationFail);
}

void CMainFrame::DeleteMessageFile(const std::string& strFileName) {
    DeleteFileIn(m_strImagePath, strFileName);
}

}  // namespace orvi
