#pragma once
// Runs the acquisition library's work on a timer service. The library posts
// its timed steps and its callbacks through a dispatcher; this adapter turns
// them into ITimerService::post() tasks, so the Qt program (QTimer) and the
// tests and tools (CVirtualClock) install the library the same way:
//
//     orvi::InstallLibraryDispatch(timers);   // before Acquisition_Initialize
//
// The timer service must outlive every detector opened while it is installed.
// Replacing or removing it is refused while a detector is open.
#include "acquisition/TimerService.h"
#include "orviacquire/ORVIAcquireLib.h"

#include <cstdint>

namespace orvi {

// The dispatcher record for a timer service (its context is the service's address).
ORVIAcqDispatcher MakeLibraryDispatcher(ITimerService& timers);

// Installs it. Returns the library's result: 0, or ORVIACQ_ERR_STATE while a
// detector is open.
int32_t InstallLibraryDispatch(ITimerService& timers);
// Removes the dispatcher (0, or ORVIACQ_ERR_STATE while a detector is open).
int32_t UninstallLibraryDispatch();

}  // namespace orvi
