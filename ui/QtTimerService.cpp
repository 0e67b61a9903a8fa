#include "ui/QtTimerService.h"

#include <QThread>

#include <algorithm>

namespace orvi {

CQtTimerService::CQtTimerService(QObject* pParent) : QObject(pParent) { m_clock.start(); }

CQtTimerService::~CQtTimerService() = default;

void CQtTimerService::set_handler(TimerHandler fnHandler) { m_fnHandler = std::move(fnHandler); }

void CQtTimerService::start(uint32_t nId, int32_t nPeriodMs) {
    auto& pTimer = m_timers[nId];
    if (!pTimer) {
        pTimer = std::make_unique<QTimer>();
        pTimer->setTimerType(Qt::PreciseTimer);
        connect(pTimer.get(), &QTimer::timeout, this, [this, nId] {
            auto it = m_timers.find(nId);
            if (it == m_timers.end() || !it->second->isActive()) return;
            // After a first expiry at once, a non-positive period repeats at the minimum.
            if (it->second->interval() == 0) it->second->setInterval(kMinTimerPeriodMs);
            if (m_fnHandler) m_fnHandler(nId);
        });
    }
    pTimer->start(std::max(nPeriodMs, 0));
}

void CQtTimerService::stop(uint32_t nId) {
    auto it = m_timers.find(nId);
    if (it != m_timers.end()) it->second->stop();
}

bool CQtTimerService::is_running(uint32_t nId) const {
    auto it = m_timers.find(nId);
    return it != m_timers.end() && it->second->isActive();
}

uint32_t CQtTimerService::now_ms() const { return static_cast<uint32_t>(m_clock.elapsed()); }

void CQtTimerService::sleep_ms(uint32_t nMs) { QThread::msleep(nMs); }

void CQtTimerService::post(uint32_t nDelayMs, std::function<void()> fnTask) {
    QTimer::singleShot(static_cast<int>(nDelayMs), Qt::PreciseTimer, this, std::move(fnTask));
}

}  // namespace orvi
