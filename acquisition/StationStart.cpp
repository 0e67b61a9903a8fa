#include "acquisition/StationStart.h"

#include "acquisition/MainFrame.h"
#include "display/AppValues.h"

namespace orvi {

StartOutcome StartFrame(CMainFrame& frame, CAppValues& app, const std::string& strProgramDir) {
    switch (frame.OnCreate(strProgramDir)) {
    case CMainFrame::CreateResult::MissingIni: return StartOutcome::MissingIni;
    case CMainFrame::CreateResult::BadConfig: return StartOutcome::BadConfig;
    case CMainFrame::CreateResult::Ok: break;
    }
    app.m_strProgramDir = strProgramDir;
    app.m_imageStore.Initialize(app);
    if (!frame.AttachImageStore()) return StartOutcome::ImageStoreUnusable;
    return StartOutcome::Ok;
}

}  // namespace orvi
