#pragma once
// The control panel's state flags: which controls are enabled and which boxes
// are ticked. The controller writes them; the panel applies them after every
// handled event.
namespace orvi {

struct CPanelState {
    // Enabled flags. "Open File" has none: it is always enabled.
    bool bConnect = true;
    bool bDisconnect = false;
    bool bDark = false;
    bool bNoClear = false;
    bool bOpenConfig = false;
    bool bAcquisition = false;
    bool bSaveAdapter = false;
    bool bMakeCalibration = false;
    bool bOffsetSelector = false;
    bool bDetectorSelector = false;

    // Ticks.
    bool bShowNetworkTicked = false;
    bool bGainTicked = false;
    bool bDefectTicked = false;

    // Selectors: the detector selector is shown only when both detectors connect.
    bool bDetectorSelectorVisible = false;
    int nOffsetSelection = 0;    // 0 "NO", 1 "PREV", 2 "POST"
    int nDetectorSelection = 0;  // 0 "A", 1 "B"

    // A slot opened: every connection-dependent control on, Connect off.
    void SetConnected() { SetConnection(true); }
    // Disconnect: only Connect (and Open File).
    void SetDisconnected() { SetConnection(false); }
    // The dark window greys Open Config, Disconnect, Acquisition, Dark and No Clear.
    void SetDarkRunning(bool bRunning) { bOpenConfig = bDisconnect = bAcquisition = bDark = bNoClear = !bRunning; }

private:
    void SetConnection(bool bOpen) {
        bConnect = !bOpen;
        bDisconnect = bDark = bNoClear = bOpenConfig = bAcquisition = bSaveAdapter = bMakeCalibration =
            bOffsetSelector = bDetectorSelector = bOpen;
    }
};

}  // namespace orvi
