#include "acquisition/ConfigDialog.h"

#include "acquisition/MainFrame.h"
#include "acquisition/UiPort.h"
#include "app/ConfigKeys.h"
#include "app/NumberText.h"
#include "app/Profile.h"
#include "orviacquire/ORVIAcquireLib.h"

#include <cstdio>
#include <cstdlib>

namespace orvi {

namespace {

// The trigger mode of each item of the trigger-mode box.
constexpr int32_t kTriggerModes[4] = {kTriggerManual, kTriggerAuto, kTriggerUsb, kTriggerRepeat};

std::string Decimal(int32_t n) { return std::to_string(n); }

}  // namespace

int32_t DialogInt(const std::string& strText) { return TextToInt(strText); }

double DialogFloat(const std::string& strText) {
    // The leading number of the text; text that is not a number reads as 0.
    const char* p = strText.c_str();
    char* pEnd = nullptr;
    const double d = StrtodC(p, &pEnd);
    return pEnd == p ? 0.0 : d;
}

CTarsoConfigDlg::CTarsoConfigDlg(IDetectorConfigHost& host) : m_host(host) {}

void CTarsoConfigDlg::SelectTrigger(int32_t nIndex) {
    if (nIndex < 0 || nIndex > 3) {
        m_nTriggerIndex = -1;
        m_strTriggerText.clear();
        return;
    }
    m_nTriggerIndex = nIndex;
    m_strTriggerText = kTriggerItems[nIndex];
}

std::string DetectorVersionText(uint32_t h) {
    int32_t a = 0, b = 0, c = 0;
    Acquisition_GetDRConfigVersion(h, &a, &b, &c);
    char sz[64];
    std::snprintf(sz, sizeof sz, "8.%d.%d.%d", (a - 3) & 0xFFFF, (b - 3) & 0xFFFF, (c - 7) & 0xFFFF);
    return sz;
}

std::string DetectorSerialText(uint32_t h) {
    char sz[64] = {};
    if (AcquisitionExt_GetDetectorSerial(h, sz, sizeof sz) != ORVIACQ_OK) return "";
    return sz;
}

void CTarsoConfigDlg::Refresh(uint32_t h) {
    const CImageStore& store = m_host.App().m_imageStore;
    m_bAutoNaming = store.m_bAutoNaming != 0;
    m_strImageName = store.m_strImageName;
    m_strFolder = store.m_strImagePath;

    m_strVersion = DetectorVersionText(h);

    m_strVt = FormatC("%1.2f", static_cast<double>(Acquisition_GetDRConfigVT(h)));
    m_strFga = Decimal(Acquisition_GetDRConfigPGA(h));
    m_strSpan = Decimal(Acquisition_GetDRConfigSerialTimeSpan(h));

    if (Acquisition_GetDRConfigAecMode(h) == 1) {
        const int32_t nMode = m_host.TriggerMode();
        SelectTrigger(nMode < 2 ? nMode : nMode - 4);
    } else {
        SelectTrigger(-1);
    }

    m_strAcquireDelay = Decimal(Acquisition_GetDRConfigAecExpTime(h));
    m_strIntegrate = Decimal(Acquisition_GetDRConfigIntegrate(h));

    int32_t f[4] = {0, 0, 0, 0};
    Acquisition_GetDRConfigAecSensor(h, &f[0], &f[1], &f[2], &f[3]);
    for (int i = 0; i < 4; ++i) m_bSensor[static_cast<size_t>(i)] = f[i] != 0;
    int32_t g[4] = {0, 0, 0, 0};
    Acquisition_GetDRConfigAecGain(h, &g[0], &g[1], &g[2], &g[3]);
    for (int i = 0; i < 4; ++i) m_bGain[static_cast<size_t>(i)] = g[i] != 0;

    m_strSetDelay = Decimal(Acquisition_GetDRConfigSetDelayTime(h));
    m_strInnerDelay = Decimal(Acquisition_GetInnerDelayTime(h));
    m_strClearTime = Decimal(Acquisition_GetDRConfigClearTime(h));
}

bool CTarsoConfigDlg::OnWrite() {
    IUiPort& ui = m_host.Ui();
    const uint32_t h = m_host.CurrentDetector();

    const float fVt = static_cast<float>(DialogFloat(m_strVt));
    if (fVt < 1.25f || fVt > 4.5f) {
        ui.ShowWarning(kVtError);
        return false;
    }
    const int32_t nPga = DialogInt(m_strFga);
    if (nPga < 0 || nPga > 7) {
        ui.ShowWarning(kPgaError);
        return false;
    }
    const int32_t nSpan = DialogInt(m_strSpan);
    if (nSpan < 1800 || nSpan > 65535) {
        ui.ShowWarning(kSpanError);
        return false;
    }
    const int32_t nDelay = DialogInt(m_strAcquireDelay);
    if (nDelay < 0 || nDelay > 65535) {
        ui.ShowWarning(kDelayError);
        return false;
    }
    if (DialogInt(m_strIntegrate) != 100) {
        ui.ShowWarning(kIntegrateError);
        return false;
    }
    if ((DialogInt(m_strClearTime) & 0xFFFF) != 1500) {
        ui.ShowWarning(kClearTimeError);
        return false;
    }

    // Image naming, saved in the configuration file.
    CImageStore& store = m_host.App().m_imageStore;
    const std::string& strIni = m_host.IniPath();
    if (m_bAutoNaming) {
        store.m_bAutoNaming = 1;
        cfg::Write(strIni, cfg::AUTO_NAMING_SAVED, "1");
    } else {
        if (m_strImageName.empty()) {
            ui.ShowWarning(kImageNameEmpty);
            return false;
        }
        store.m_bAutoNaming = 0;
        cfg::Write(strIni, cfg::IMAGE_NAME.szName, m_strImageName);
        store.m_strImageName = m_strImageName;
        cfg::Write(strIni, cfg::AUTO_NAMING_SAVED, "0");
    }
    cfg::Write(strIni, cfg::IMAGE_PATH.szName, m_strFolder);
    store.m_strImagePath = m_strFolder;

    Acquisition_SetDRConfigVT(h, fVt);
    Acquisition_SetDRConfigPGA(h, nPga);
    Acquisition_SetDRConfigAecExpTime(h, nDelay);
    Acquisition_SetDRConfigIntegrate(h, 100);
    Acquisition_SetDRConfigSerialTimeSpan(h, nSpan);

    // No item chosen (or a typed text) means auto.
    m_host.SetTriggerMode(m_nTriggerIndex >= 0 && m_nTriggerIndex <= 3 ? kTriggerModes[m_nTriggerIndex] : kTriggerAuto);
    Acquisition_SetDRConfigAecMode(h, 1);

    auto flag = [](bool b) { return b ? 1 : 0; };
    Acquisition_SetDRConfigAecSensor(h, flag(m_bSensor[0]), flag(m_bSensor[1]), flag(m_bSensor[2]), flag(m_bSensor[3]));
    Acquisition_SetDRConfigAecGain(h, flag(m_bGain[0]), flag(m_bGain[1]), flag(m_bGain[2]), flag(m_bGain[3]));
    Acquisition_SetDRConfigSetDelayTime(h, DialogInt(m_strSetDelay));
    Acquisition_SetDRConfigClearTime(h, 1500);

    if (Acquisition_DRConfigUpdateAll(h) == 0) return false;
    m_host.SleepMs(kParameterWaitMs);
    Acquisition_ReadDRConfig(h);
    // The delay is kept where the next start reads it (EXP_DELAY) and under
    // AEC_EXP_TIME, where earlier versions kept it.
    const std::string strDelay = m_strAcquireDelay;
    const std::string strIntegrate = m_strIntegrate;
    cfg::Write(strIni, cfg::EXP_DELAY.szName, strDelay);
    cfg::Write(strIni, cfg::AEC_EXP_TIME, strDelay);
    m_host.App().m_strExpDelay = strDelay;
    cfg::Write(strIni, cfg::INTEGRATE.szName, strIntegrate);
    m_host.App().m_strIntegrate = strIntegrate;
    return true;
}

void CTarsoConfigDlg::OnBrowse(const std::string& strPickedFolder) {
    if (strPickedFolder.empty()) return;  // cancelled
    m_strFolder = NormaliseFolder(strPickedFolder);
}

void CTarsoConfigDlg::OnRead() { Acquisition_ReadDRConfig(m_host.CurrentDetector()); }

void CTarsoConfigDlg::OnReset() { Acquisition_ResetDRConfig(m_host.CurrentDetector()); }

void CTarsoConfigDlg::OnExit() { m_host.DestroyConfigDialog(); }

}  // namespace orvi
