#include "acquisition/LibraryDispatch.h"

namespace orvi {
namespace {

uint32_t NowMs(void* pContext) { return static_cast<ITimerService*>(pContext)->now_ms(); }

void Post(void* pContext, uint32_t nDelayMs, ORVIAcqTask fnTask, void* pArg) {
    static_cast<ITimerService*>(pContext)->post(nDelayMs, [fnTask, pArg] { fnTask(pArg); });
}

}  // namespace

ORVIAcqDispatcher MakeLibraryDispatcher(ITimerService& timers) {
    ORVIAcqDispatcher d{};
    d.pContext = &timers;
    d.now_ms = &NowMs;
    d.post = &Post;
    return d;
}

int32_t InstallLibraryDispatch(ITimerService& timers) {
    const ORVIAcqDispatcher d = MakeLibraryDispatcher(timers);
    return AcquisitionExt_SetDispatcher(&d);
}

int32_t UninstallLibraryDispatch() { return AcquisitionExt_SetDispatcher(nullptr); }

}  // namespace orvi
