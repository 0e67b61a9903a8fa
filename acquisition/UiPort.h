#pragma once
// What a person sees, as the controller needs it. The controller never calls
// a widget: the Qt main window implements this port, tests implement it with
// a recorder that keeps every message box and status line in order.
#include "app/Startup.h"

#include <cstdint>
#include <string>

namespace orvi {

class IUiPort {
public:
    virtual ~IUiPort() = default;

    // A modal message box with an OK button; returns when it is closed.
    virtual void MessageBox(const std::string& strText, const std::string& strCaption) = 0;
    // Text of a status bar pane (0 to 4).
    virtual void SetStatusText(int32_t nPane, const std::string& strText) = 0;

    // The usual message box, captioned with the application title.
    void ShowMessage(const std::string& strText) { MessageBox(strText, kAppTitle); }
};

}  // namespace orvi
