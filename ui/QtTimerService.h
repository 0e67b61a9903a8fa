#pragma once
// The timer service of the running program: window timers on the Qt event
// loop of the GUI thread.
#include "acquisition/TimerService.h"

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <map>
#include <memory>

namespace orvi {

class CQtTimerService final : public QObject, public ITimerService {
    Q_OBJECT
public:
    explicit CQtTimerService(QObject* pParent = nullptr);
    ~CQtTimerService() override;

    void set_handler(TimerHandler fnHandler) override;
    void start(uint32_t nId, int32_t nPeriodMs) override;
    void stop(uint32_t nId) override;
    bool is_running(uint32_t nId) const override;
    uint32_t now_ms() const override;
    void sleep_ms(uint32_t nMs) override;
    void post(uint32_t nDelayMs, std::function<void()> fnTask) override;

private:
    TimerHandler m_fnHandler;
    std::map<uint32_t, std::unique_ptr<QTimer>> m_timers;
    QElapsedTimer m_clock;
};

}  // namespace orvi
