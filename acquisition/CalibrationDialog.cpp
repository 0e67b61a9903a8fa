#include "acquisition/CalibrationDialog.h"

#include "acquisition/ConfigDialog.h"
#include "acquisition/StationSettings.h"
#include "acquisition/UiPort.h"
#include "app/ConfigKeys.h"
#include "app/EventLog.h"
#include "imaging/BadPixelMap.h"
#include "imaging/RawFile.h"
#include "orviacquire/ORVIAcquireLib.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>

namespace orvi {

bool ListBoxLess(const std::string& a, const std::string& b) {
    const size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        const int ca = std::tolower(static_cast<unsigned char>(a[i]));
        const int cb = std::tolower(static_cast<unsigned char>(b[i]));
        if (ca != cb) return ca < cb;
    }
    if (a.size() != b.size()) return a.size() < b.size();
    return a < b;
}

std::string GroupedCount(uint64_t n) {
    const std::string strDigits = std::to_string(n);
    std::string s;
    for (size_t i = 0; i < strDigits.size(); ++i) {
        if (i > 0 && (strDigits.size() - i) % 3 == 0) s += ' ';
        s += strDigits[i];
    }
    return s;
}

std::string BpmSavedText(uint64_t nMarked) {
    return std::string(kBpmFileName) + " saved (" + GroupedCount(nMarked) + (nMarked == 1 ? " pixel" : " pixels") +
           " marked)";
}

CCalibration::CCalibration(ICalibrationHost& host) : m_host(host) {}

void CCalibration::OnInitDialog() {
    const CBpmThresholds defaults;
    m_strAreaBright = std::to_string(defaults.nAreaBright);
    m_strAreaDark = std::to_string(defaults.nAreaDark);
    m_strLineBright = std::to_string(defaults.nLineBright);
    m_strLineDark = std::to_string(defaults.nLineDark);
    const CStationSettings& settings = m_host.Settings();
    m_strCalPath = settings.m_strCalPath;
    m_nImageWidth = settings.m_nImageWidth;
    m_nImageHeight = settings.m_nImageHeight;
    // A fresh window: every button enabled, the caption as in the template.
    m_bGetBrightEnabled = m_bGetDarkEnabled = m_bMakeBpmEnabled = true;
    m_strGetBrightCaption = kGetBrightCaption;
    m_strProgress.clear();
    FillFileList();
}

void CCalibration::FillFileList() {
    ResetContent();
    for (const std::string& strName : ListCalibrationFiles(m_strCalPath)) AddString(strName);
}

int32_t CCalibration::AddString(const std::string& strName) {
    auto it = std::upper_bound(m_listFiles.begin(), m_listFiles.end(), strName, ListBoxLess);
    const int32_t nIndex = static_cast<int32_t>(it - m_listFiles.begin());
    m_listFiles.insert(it, strName);
    if (m_nSelected >= nIndex) ++m_nSelected;
    return nIndex;
}

void CCalibration::DeleteString(int32_t nIndex) {
    if (nIndex < 0 || nIndex >= static_cast<int32_t>(m_listFiles.size())) return;
    m_listFiles.erase(m_listFiles.begin() + nIndex);
    if (m_nSelected == nIndex)
        m_nSelected = -1;
    else if (m_nSelected > nIndex)
        --m_nSelected;
}

int32_t CCalibration::FindString(const std::string& strPrefix) const {
    for (size_t i = 0; i < m_listFiles.size(); ++i) {
        const std::string& s = m_listFiles[i];
        if (s.size() < strPrefix.size()) continue;
        bool bMatch = true;
        for (size_t k = 0; k < strPrefix.size() && bMatch; ++k)
            bMatch = std::tolower(static_cast<unsigned char>(s[k])) ==
                     std::tolower(static_cast<unsigned char>(strPrefix[k]));
        if (bMatch) return static_cast<int32_t>(i);
    }
    return -1;
}

void CCalibration::ResetContent() {
    m_listFiles.clear();
    m_nSelected = -1;
}

void CCalibration::EnableGetButtons(bool bEnabled) {
    m_bGetBrightEnabled = m_bGetDarkEnabled = m_bMakeBpmEnabled = bEnabled;
}

void CCalibration::Changed() { m_host.Ui().CalibrationChanged(); }

void CCalibration::OnGetBright() {
    WriteLog("Click get bright");
    m_host.PrepareBright();
    EnableGetButtons(false);
    Changed();
    if (!m_host.ArmBright()) {
        EnableGetButtons(true);
        Changed();
    }
}

void CCalibration::OnGetDark() {
    m_host.PrepareDarkAlone();
    EnableGetButtons(false);
    Changed();
    uint16_t nDelay = 0;
    if (!m_host.RequestDarkAlone(nDelay)) {
        EnableGetButtons(true);
        Changed();
        return;
    }
    char sz[64];
    std::snprintf(sz, sizeof sz, "Click get dark(%ld)", static_cast<long>(nDelay));
    WriteLog(sz);
    m_host.ShowProgress("Dark 1 of 1");
}

void CCalibration::OnDeleteFile() {
    if (m_nSelected < 0 || m_nSelected >= static_cast<int32_t>(m_listFiles.size())) return;
    const int32_t nIndex = m_nSelected;
    // The folder as the file says now, not as it was at start.
    const std::string strFolder = cfg::Read(m_host.Settings().m_strIniPath, cfg::CAL_PATH);
    std::error_code ec;
    std::filesystem::remove(JoinPath(strFolder, m_listFiles[static_cast<size_t>(nIndex)]), ec);
    DeleteString(nIndex);
    // The entry that moved up takes the selection (none past the end).
    m_nSelected = nIndex < static_cast<int32_t>(m_listFiles.size()) ? nIndex : -1;
    Changed();
}

void CCalibration::OnMakeBpm() {
    m_bMakeBpmEnabled = false;
    Changed();
    if (m_listFiles.size() < 2) return;
    CBpmThresholds t;
    t.nAreaBright = DialogInt(m_strAreaBright);
    t.nAreaDark = DialogInt(m_strAreaDark);
    t.nLineBright = DialogInt(m_strLineBright);
    t.nLineDark = DialogInt(m_strLineDark);
    size_t nMarked = 0;
    CReport report;
    MakeBpmResult r = MakeBpmResult::Written;
    m_host.WithFoldersLocked([&] {
        r = RunMakeBpm(m_listFiles, m_strCalPath, m_nImageWidth, m_nImageHeight, t, report, &nMarked);
        m_host.Ui().ShowReport(report);
        if (r == MakeBpmResult::Written) m_host.Ui().FileSaved(JoinPath(m_strCalPath, kBpmFileName));
    });
    if (r != MakeBpmResult::Written) return;  // stays disabled until a new frame or opening
    m_strProgress = BpmSavedText(nMarked);
    m_bMakeBpmEnabled = true;
    Changed();
}

}  // namespace orvi
