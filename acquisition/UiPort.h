#pragma once
// What a person sees, as the controller needs it. The controller never calls
// a widget: the Qt main window implements this port, the headless station a
// console version, and tests a recorder that keeps every message box and
// status line in order.
#include "app/Report.h"
#include "app/Startup.h"
#include "app/StatusPort.h"

#include <cstdint>
#include <string>

namespace orvi {

// The four names the adapter selection dialog returns on OK.
struct CAdapterChoice {
    std::string strAdapter1;
    std::string strAdapter2;
    std::string strPort1;
    std::string strPort2;
};

class IUiPort : public IStatusPort {
public:
    // A modal message box with an OK button; returns when it is closed.
    virtual void MessageBox(const std::string& strText, const std::string& strCaption) = 0;
    // The same with its icon. Front ends that show no icon keep the default,
    // which shows the box without it.
    virtual void MessageBox(const std::string& strText, const std::string& strCaption, MessageIcon /*eIcon*/) {
        MessageBox(strText, strCaption);
    }
    // The control panel's flags or selectors (CMainFrame::m_panel) changed.
    // The panel also reapplies them after every handled event, so this is a
    // prompt, not the only moment they are applied.
    virtual void PanelChanged() {}

    // Runs the adapter selection dialog modally; true with the names on OK.
    virtual bool RunAdapterDialog(CAdapterChoice& /*choice*/) { return false; }

    // Shows the calibration dialog modally (command 1015); returns when it closes.
    virtual void RunCalibrationDialog() {}
    // The calibration dialog's list, buttons or caption changed.
    virtual void CalibrationChanged() {}

    // Creates (on first use) and shows the modeless configuration dialog.
    virtual void ShowConfigDialog() {}
    // The configuration dialog's fields were refreshed from the detector.
    virtual void ConfigDialogChanged() {}
    // The configuration dialog object is gone (Exit): its window must close.
    virtual void ConfigDialogDestroyed() {}

    // Greys (false) or restores (true) the window's Close command.
    virtual void SetCloseEnabled(bool /*bEnabled*/) {}

    // Ends the program with this exit code.
    virtual void ExitProgram(int /*nCode*/) {}

    // The exposure image was saved dMs milliseconds (real time) after its
    // last dark arrived: the correction, filter and file write the operator
    // waits for.
    virtual void ExposurePathTimed(double /*dMs*/) {}

    // The sequence under way (a connection, an exposure, a calibration frame)
    // ended without its result; the message box just shown said why. Other
    // message boxes leave the sequence going.
    virtual void SequenceAborted() {}

    // A long step (correcting and saving an image) starts (true) or ends:
    // front ends show a busy pointer meanwhile.
    virtual void SetBusy(bool /*bBusy*/) {}

    // The keyboard focus moves to "Make Calibration files" (after a choice in
    // the offset or detector selector).
    virtual void FocusMakeCalibration() {}

    // The usual message box, captioned with the application title.
    void ShowMessage(const std::string& strText, MessageIcon eIcon = MessageIcon::Information) {
        MessageBox(strText, kAppTitle, eIcon);
    }
    // A failure or a refusal: the usual box with the warning icon.
    void ShowWarning(const std::string& strText) { ShowMessage(strText, MessageIcon::Warning); }
    // What an operation reported, in its order: its log lines are written
    // and its message boxes shown (captioned with the application title
    // unless the notice names its own).
    void ShowReport(const CReport& report);
};

// A report shown on the port notice by notice as it is added: for an owner
// whose operation cannot hand a result back (a constructor, a table that
// obtains its storage on a later change). Without a port nothing is shown.
class CShowingReport final : public CReport {
public:
    explicit CShowingReport(IUiPort* pUi) : m_pUi(pUi) {}

private:
    void Added(const CNotice& notice) override;

    IUiPort* m_pUi;
};

}  // namespace orvi
