#pragma once
// The library's timed work on the host's dispatcher.
//
// Every step (a report, a packet, a frame, a state change) is an entry of one
// schedule ordered by due time, then by the order it was scheduled. For each
// entry the host is asked to run a wake-up task whose argument is only the
// entry's number. A wake-up runs every entry up to and including its own, in
// order, so the host may run wake-ups in any order or a little early; a
// wake-up whose entry already ran, or was cancelled, does nothing. Entries of
// a closed detector are cancelled with it and can never run.
//
// While entries run (and so while a callback of the host runs, which may spin
// a nested event loop), a wake-up that arrives is put off and asked for again
// a little later: the host sees one callback at a time.
#include "orviacquire/ORVIAcquireLib.h"

#include <cstdint>
#include <functional>
#include <map>
#include <unordered_map>

namespace orvi::sim {

class CSchedule {
public:
    // Installs (copies) the dispatcher, or removes it with null.
    void Install(const ORVIAcqDispatcher* pDispatcher);
    bool Installed() const { return m_bInstalled; }

    // Milliseconds of the host's clock, extended beyond its 32-bit wrap.
    int64_t Now();

    // Runs fnStep about nDelayMs from now on behalf of detector hOwner.
    void Post(ORVIAcqHandle hOwner, uint32_t nDelayMs, std::function<void()> fnStep);
    // Drops every entry of hOwner that has not run.
    void Cancel(ORVIAcqHandle hOwner);
    size_t Pending() const { return m_entries.size(); }

private:
    struct Key {
        int64_t nDue;
        uint64_t nSeq;
        bool operator<(const Key& o) const { return nDue != o.nDue ? nDue < o.nDue : nSeq < o.nSeq; }
    };
    struct Entry {
        ORVIAcqHandle hOwner;
        std::function<void()> fnStep;
    };

    static void Wake(void* pArg);
    void RunUpTo(uint64_t nSeq);
    void AskWakeUp(uint64_t nSeq, uint32_t nDelayMs);

    ORVIAcqDispatcher m_dispatcher{};
    bool m_bInstalled = false;
    uint32_t m_nLastRaw = 0;
    int64_t m_nNow = 0;
    uint64_t m_nNextSeq = 1;
    int32_t m_nRunning = 0;
    std::map<Key, Entry> m_entries;
    std::unordered_map<uint64_t, int64_t> m_dueOf;  // entry number -> due time
};

// The library's one schedule.
CSchedule& Schedule();

}  // namespace orvi::sim
