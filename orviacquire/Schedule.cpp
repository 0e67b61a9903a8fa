#include "orviacquire/Schedule.h"

#include <algorithm>
#include <iterator>

namespace orvi::sim {
namespace {

static_assert(sizeof(uintptr_t) >= sizeof(uint64_t), "wake-ups carry a 64-bit entry number");

// How long a wake-up that arrives while entries run is put off.
constexpr uint32_t kPutOffMs = 10;

}  // namespace

CSchedule& Schedule() {
    static CSchedule s_schedule;
    return s_schedule;
}

void CSchedule::Install(const ORVIAcqDispatcher* pDispatcher) {
    m_bInstalled = pDispatcher != nullptr;
    m_dispatcher = m_bInstalled ? *pDispatcher : ORVIAcqDispatcher{};
    if (m_bInstalled) m_nLastRaw = m_dispatcher.now_ms(m_dispatcher.pContext);
}

int64_t CSchedule::Now() {
    if (!m_bInstalled) return m_nNow;
    const uint32_t nRaw = m_dispatcher.now_ms(m_dispatcher.pContext);
    m_nNow += static_cast<uint32_t>(nRaw - m_nLastRaw);  // modulo 2^32: survives the wrap
    m_nLastRaw = nRaw;
    return m_nNow;
}

void CSchedule::AskWakeUp(uint64_t nSeq, uint32_t nDelayMs) {
    m_dispatcher.post(m_dispatcher.pContext, nDelayMs, &CSchedule::Wake,
                      reinterpret_cast<void*>(static_cast<uintptr_t>(nSeq)));
}

void CSchedule::Post(ORVIAcqHandle hOwner, uint32_t nDelayMs, std::function<void()> fnStep) {
    if (!m_bInstalled) return;
    const uint64_t nSeq = m_nNextSeq++;
    const int64_t nDue = Now() + nDelayMs;
    m_entries.emplace(Key{nDue, nSeq}, Entry{hOwner, std::move(fnStep)});
    m_dueOf.emplace(nSeq, nDue);
    AskWakeUp(nSeq, nDelayMs);
}

void CSchedule::Cancel(ORVIAcqHandle hOwner) {
    for (auto it = m_entries.begin(); it != m_entries.end();) {
        if (it->second.hOwner == hOwner) {
            m_dueOf.erase(it->first.nSeq);
            it = m_entries.erase(it);
        } else {
            ++it;
        }
    }
}

void CSchedule::Wake(void* pArg) { Schedule().RunUpTo(static_cast<uint64_t>(reinterpret_cast<uintptr_t>(pArg))); }

void CSchedule::RunUpTo(uint64_t nSeq) {
    auto itDue = m_dueOf.find(nSeq);
    if (itDue == m_dueOf.end()) return;  // ran already, or cancelled
    if (m_nRunning > 0 || !m_bInstalled) {
        if (m_bInstalled) AskWakeUp(nSeq, kPutOffMs);
        return;
    }
    const Key target{itDue->second, nSeq};
    struct Running {
        int32_t& n;
        explicit Running(int32_t& r) : n(r) { ++n; }
        ~Running() { --n; }
    } running(m_nRunning);
    // Each step may post, cancel or close: take the earliest entry afresh each time.
    while (!m_entries.empty() && !(target < m_entries.begin()->first)) {
        auto it = m_entries.begin();
        std::function<void()> fnStep = std::move(it->second.fnStep);
        m_dueOf.erase(it->first.nSeq);
        m_entries.erase(it);
        fnStep();
    }
}

}  // namespace orvi::sim
