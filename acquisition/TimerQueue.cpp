#include "acquisition/TimerQueue.h"

#include <algorithm>

namespace orvi {

void CTimerQueue::Start(uint32_t nId, int32_t nPeriodMs, uint64_t nNow) {
    m_timers[nId] = Timer{nNow + static_cast<uint64_t>(std::max<int32_t>(nPeriodMs, 0)), m_nSeq++, nPeriodMs};
}

int32_t CTimerQueue::PeriodOf(uint32_t nId) const {
    auto it = m_timers.find(nId);
    return it == m_timers.end() ? -1 : it->second.nPeriod;
}

void CTimerQueue::Post(uint64_t nDue, std::function<void()> fnTask) {
    m_tasks.push_back(Task{nDue, m_nSeq++, std::move(fnTask)});
}

bool CTimerQueue::NextDue(uint64_t& nDue) const {
    bool bAny = false;
    for (const auto& [id, t] : m_timers)
        if (!bAny || t.nDue < nDue) nDue = t.nDue, bAny = true;
    for (const Task& t : m_tasks)
        if (!bAny || t.nDue < nDue) nDue = t.nDue, bAny = true;
    return bAny;
}

bool CTimerQueue::RunNext(uint64_t nLimit, uint64_t& rNow) {
    bool bFound = false, bIsTimer = false;
    uint32_t nTimerId = 0;
    size_t nTask = 0;
    uint64_t nDue = 0, nSeq = 0;
    auto earlier = [&](uint64_t d, uint64_t s) {
        return d <= nLimit && (!bFound || d < nDue || (d == nDue && s < nSeq));
    };
    for (const auto& [id, t] : m_timers)
        if (earlier(t.nDue, t.nSeq)) {
            bFound = bIsTimer = true;
            nTimerId = id, nDue = t.nDue, nSeq = t.nSeq;
        }
    for (size_t i = 0; i < m_tasks.size(); ++i)
        if (earlier(m_tasks[i].nDue, m_tasks[i].nSeq)) {
            bFound = true, bIsTimer = false;
            nTask = i, nDue = m_tasks[i].nDue, nSeq = m_tasks[i].nSeq;
        }
    if (!bFound) return false;

    rNow = std::max(rNow, nDue);
    if (bIsTimer) {
        Timer& t = m_timers[nTimerId];
        t.nDue = rNow + static_cast<uint64_t>(std::max(t.nPeriod, kMinTimerPeriodMs));
        t.nSeq = m_nSeq++;
        if (m_fnHandler) m_fnHandler(nTimerId);
    } else {
        std::function<void()> fn = std::move(m_tasks[nTask].fn);
        m_tasks.erase(m_tasks.begin() + static_cast<std::ptrdiff_t>(nTask));
        if (fn) fn();
    }
    return true;
}

}  // namespace orvi
