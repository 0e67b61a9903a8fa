#include "acquisition/UiPort.h"

#include "app/EventLog.h"

namespace orvi {

namespace {

void Show(IUiPort& ui, const CNotice& n) {
    if (n.eKind == CNotice::Kind::Log)
        WriteLog(n.strText);
    else
        ui.MessageBox(n.strText, n.strCaption.empty() ? std::string(kAppTitle) : n.strCaption, n.eIcon);
}

}  // namespace

void IUiPort::ShowReport(const CReport& report) {
    for (const CNotice& n : report.Notices()) Show(*this, n);
}

void CShowingReport::Added(const CNotice& notice) {
    if (m_pUi != nullptr) Show(*m_pUi, notice);
}

}  // namespace orvi
