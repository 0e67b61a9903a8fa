// The outbox's worker. What happens to a file:
//   Enqueue            the path joins the intake list (any thread, no I/O)
//   intake             the worker copies it in durably under a name that sorts
//                      by arrival; from here on a crash loses nothing
//   send               one association per batch; each C-STORE's status decides:
//                      success or warning -> stored, failure -> rejected/ with
//                      the reason, broken connection or out of resources -> waits
//   commit (COMMIT=1)  N-ACTION for the stored files; the report (on the
//                      listener, or on the association when STATION_PORT=0)
//                      moves each committed file to sent/; a failed or missing
//                      report leaves it waiting
//   back-off           after any failure the next attempt waits 1 s, 2 s ...
//                      5 min; Send now and new files do not shorten it, Send
//                      now does
#include "export/dicom/net/Outbox.h"

#include "export/dicom/net/CommitListener.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <deque>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <thread>

namespace fs = std::filesystem;

namespace orvi::dicom {

namespace {

// Files sent on one association.
constexpr size_t kBatch = 50;
// Tries of an image the PACS refuses for lack of resources before it is kept apart.
constexpr uint32_t kMaxRefusals = 5;
constexpr const char* kSentFolder = "sent/";
constexpr const char* kRejectedFolder = "rejected/";
constexpr const char* kLogName = "outbox.log";

using Clock = std::chrono::steady_clock;

bool FsyncPath(const std::string& strPath, int nFlags) {
    const int fd = ::open(strPath.c_str(), nFlags | O_CLOEXEC);
    if (fd < 0) return false;
    const bool bOk = ::fsync(fd) == 0;
    ::close(fd);
    return bOk;
}

bool FsyncFolder(const std::string& strFolder) { return FsyncPath(strFolder, O_RDONLY | O_DIRECTORY); }

std::string ErrnoText() { return std::strerror(errno); }

// A name that sorts by arrival and keeps the source's name readable.
std::string ArrivalName(const std::string& strSource) {
    static std::atomic<uint32_t> s_nSeq{0};
    const auto nUs =
        std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::system_clock::now().time_since_epoch())
            .count();
    char sz[48];
    std::snprintf(sz, sizeof sz, "%016lld-%04u-", static_cast<long long>(nUs), s_nSeq++ % 10000);
    std::string strBase = fs::path(strSource).filename().string();
    if (strBase.empty() || strBase[0] == '.') strBase = "image" + strBase;
    return sz + strBase;
}

std::string LocalTimeText() {
    const std::time_t t = std::time(nullptr);
    std::tm tm{};
    localtime_r(&t, &tm);
    char sz[32];
    std::strftime(sz, sizeof sz, "%Y-%m-%d %H:%M:%S", &tm);
    return sz;
}

}  // namespace

bool LinkFileDurably(const std::string& strSource, const std::string& strFolder, const std::string& strName) {
    const std::string strTemp = strFolder + "." + strName + ".part";
    ::unlink(strTemp.c_str());
    if (::link(strSource.c_str(), strTemp.c_str()) != 0) return false;
    if (::rename(strTemp.c_str(), (strFolder + strName).c_str()) != 0) {
        ::unlink(strTemp.c_str());
        return false;
    }
    FsyncFolder(strFolder);
    return true;
}

bool CopyFileDurably(const std::string& strSource, const std::string& strFolder, const std::string& strName,
                     std::string& strError) {
    // A second name for the same file is the cheapest durable copy (the
    // writer never changes a file in place); across file systems it is a copy.
    if (LinkFileDurably(strSource, strFolder, strName)) return true;
    const int fdIn = ::open(strSource.c_str(), O_RDONLY | O_CLOEXEC);
    if (fdIn < 0) {
        strError = "cannot read " + strSource + ": " + ErrnoText();
        return false;
    }
    const std::string strFinal = strFolder + strName;
    const std::string strTemp = strFolder + "." + strName + ".part";
    const int fdOut = ::open(strTemp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fdOut < 0) {
        strError = "cannot write in " + strFolder + ": " + ErrnoText();
        ::close(fdIn);
        return false;
    }
    std::vector<char> buffer(1 << 20);
    bool bOk = true;
    for (;;) {
        const ssize_t nRead = ::read(fdIn, buffer.data(), buffer.size());
        if (nRead < 0 && errno == EINTR) continue;
        if (nRead < 0) {
            strError = "cannot read " + strSource + ": " + ErrnoText();
            bOk = false;
            break;
        }
        if (nRead == 0) break;
        for (ssize_t nDone = 0; nDone < nRead;) {
            const ssize_t n = ::write(fdOut, buffer.data() + nDone, static_cast<size_t>(nRead - nDone));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                strError = "cannot write in " + strFolder + ": " + ErrnoText();
                bOk = false;
                break;
            }
            nDone += n;
        }
        if (!bOk) break;
    }
    ::close(fdIn);
    if (bOk && ::fsync(fdOut) != 0) {
        strError = "cannot write in " + strFolder + ": " + ErrnoText();
        bOk = false;
    }
    if (::close(fdOut) != 0 && bOk) {
        strError = "cannot write in " + strFolder + ": " + ErrnoText();
        bOk = false;
    }
    if (bOk && ::rename(strTemp.c_str(), strFinal.c_str()) != 0) {
        strError = "cannot write in " + strFolder + ": " + ErrnoText();
        bOk = false;
    }
    if (!bOk) {
        ::unlink(strTemp.c_str());
        return false;
    }
    FsyncFolder(strFolder);
    return true;
}

uint32_t CBackoff::Next() {
    uint32_t nDelay = kFirstS;
    for (uint32_t i = 0; i < m_nFailures && nDelay < kMaxS; ++i) nDelay *= 2;
    ++m_nFailures;
    return std::min(nDelay, kMaxS);
}

std::string COutboxStatus::StatusText() const {
    if (!bPacsOn) return "";
    const size_t nWaiting = waiting.size() + nIncoming;
    if (bUnreachable && nWaiting > 0) return "PACS: unreachable, retrying in " + std::to_string(nRetryInS) + " s";
    if (nWaiting == 0) return nSent > 0 ? "PACS: sent" : "PACS: nothing waiting";
    std::string s = "PACS: " + std::to_string(nWaiting) + " waiting";
    if (!strProblem.empty() && nRetryInS > 0) s += ", retrying in " + std::to_string(nRetryInS) + " s";
    return s;
}

// ---- The worker ---------------------------------------------------------------------

struct COutbox::Impl {
    struct Item {
        COutboxItem shown;
        CFileIdentity id;
        bool bIdentified = false;
    };

    CNetConfig config;
    IMainThreadExecutor& executor;
    StatusHandler fnStatus;

    mutable std::mutex mutex;
    std::condition_variable cv;
    bool bStop = false;
    bool bSendNow = false;
    bool bPublishWanted = false;  // the waiting list grew outside the worker
    std::deque<std::string> intake;
    std::vector<Item> items;  // in sending order
    std::vector<CCommitReport> reports;
    CBackoff backoff;
    Clock::time_point tNextTry{};
    bool bUnreachable = false;
    std::string strProblem;
    uint64_t nSent = 0;
    uint64_t nRejected = 0;
    std::string strLastRejection;

    std::unique_ptr<CCommitListener> pListener;
    std::string strListenerError;
    std::thread worker;

    Impl(CNetConfig c, IMainThreadExecutor& e, StatusHandler fn)
        : config(std::move(c)), executor(e), fnStatus(std::move(fn)) {}

    std::string Folder() const { return config.strOutbox; }

    void Log(const std::string& strLine) {
        std::ofstream log(Folder() + kLogName, std::ios::app);
        log << LocalTimeText() << "  " << strLine << "\n";
    }

    COutboxStatus SnapshotLocked() const {
        COutboxStatus s;
        s.bPacsOn = config.PacsOn();
        for (const Item& item : items) s.waiting.push_back(item.shown);
        s.nIncoming = static_cast<uint32_t>(intake.size());
        s.bUnreachable = bUnreachable;
        s.strProblem = strProblem;
        if (tNextTry > Clock::now() && !s.waiting.empty())
            s.nRetryInS = static_cast<uint32_t>(
                (std::chrono::duration_cast<std::chrono::milliseconds>(tNextTry - Clock::now()).count() + 999) / 1000);
        s.nSent = nSent;
        s.nRejected = nRejected;
        s.strLastRejection = strLastRejection;
        return s;
    }

    void Publish() {
        COutboxStatus s;
        {
            std::lock_guard<std::mutex> lock(mutex);
            s = SnapshotLocked();
        }
        if (fnStatus) executor.Post([fn = fnStatus, s = std::move(s)] { fn(s); });
    }

    // ---- Files ----

    void Scan() {
        std::error_code ec;
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(Folder(), ec)) {
            if (!entry.is_regular_file(ec)) continue;
            const std::string strName = entry.path().filename().string();
            if (strName == kLogName) continue;
            if (strName[0] == '.') continue;
            names.push_back(strName);
        }
        // Each file is read outside the lock: the window thread never waits for the disk.
        std::vector<Item> found;
        for (const std::string& strName : names) found.push_back(MakeItem(strName));
        std::lock_guard<std::mutex> lock(mutex);
        // Files copied in meanwhile are listed already.
        for (Item& item : found)
            if (std::none_of(items.begin(), items.end(),
                             [&](const Item& i) { return i.shown.strName == item.shown.strName; }))
                items.push_back(std::move(item));
        std::sort(items.begin(), items.end(),
                  [](const Item& a, const Item& b) { return a.shown.strName < b.shown.strName; });
    }

    // Copies that a crash interrupted: their sources are still where they were.
    void RemoveStaleCopies() {
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator(Folder(), ec)) {
            const std::string strName = entry.path().filename().string();
            if (strName[0] == '.' && strName.size() > 5 && strName.compare(strName.size() - 5, 5, ".part") == 0) {
                std::error_code ec2;
                fs::remove(entry.path(), ec2);
            }
        }
    }

    Item MakeItem(const std::string& strName) const {
        Item item;
        item.shown.strName = strName;
        std::string strError;
        item.bIdentified = ReadFileIdentity(Folder() + strName, item.id, strError);
        item.shown.strSopInstanceUid = item.id.strSopInstanceUid;
        if (!item.bIdentified) item.shown.strLastError = strError;
        return item;
    }

    void PurgeSent() {
        const auto tLimit = fs::file_time_type::clock::now() - std::chrono::hours(24) * config.nSentKeepDays;
        std::error_code ec;
        for (const auto& entry : fs::directory_iterator(Folder() + kSentFolder, ec)) {
            std::error_code ec2;
            if (entry.is_regular_file(ec2) && entry.last_write_time(ec2) < tLimit) fs::remove(entry.path(), ec2);
        }
    }

    // Moves the file out of the waiting list into sent/ (stamped now, so it is kept
    // SENT_KEEP_DAYS from its acknowledgement) or rejected/.
    void MoveOut(const std::string& strName, const char* szFolder) {
        const std::string strTo = Folder() + szFolder + strName;
        if (std::rename((Folder() + strName).c_str(), strTo.c_str()) == 0) {
            ::utimensat(AT_FDCWD, strTo.c_str(), nullptr, 0);
            FsyncFolder(Folder() + szFolder);
            FsyncFolder(Folder());
        } else {
            Log("cannot move " + strName + " to " + szFolder + ": " + ErrnoText());
        }
        std::lock_guard<std::mutex> lock(mutex);
        items.erase(
            std::remove_if(items.begin(), items.end(), [&](const Item& i) { return i.shown.strName == strName; }),
            items.end());
    }

    void Sent(const std::string& strName, const std::string& strHow) {
        MoveOut(strName, kSentFolder);
        Log("sent " + strName + ": " + strHow);
        std::lock_guard<std::mutex> lock(mutex);
        ++nSent;
    }

    void Reject(const std::string& strName, const std::string& strReason) {
        {
            std::ofstream reason(Folder() + kRejectedFolder + strName + ".txt");
            reason << strReason << "\n";
        }
        MoveOut(strName, kRejectedFolder);
        Log("rejected " + strName + ": " + strReason);
        std::lock_guard<std::mutex> lock(mutex);
        ++nRejected;
        strLastRejection = strName + ": " + strReason;
    }

    void SetError(const std::string& strName, const std::string& strError, bool bAttempt) {
        std::lock_guard<std::mutex> lock(mutex);
        for (Item& item : items)
            if (item.shown.strName == strName) {
                item.shown.strLastError = strError;
                if (bAttempt) ++item.shown.nAttempts;
            }
    }

    // Joins the waiting list unless the start-up scan listed it already.
    void Add(Item item) {
        std::lock_guard<std::mutex> lock(mutex);
        if (std::none_of(items.begin(), items.end(),
                         [&](const Item& i) { return i.shown.strName == item.shown.strName; }))
            items.push_back(std::move(item));
    }

    // The file in the outbox under a second name, at once and without
    // copying; false where that cannot be (another file system).
    bool TakeInByLink(const std::string& strSource) {
        const std::string strName = ArrivalName(strSource);
        if (!LinkFileDurably(strSource, Folder(), strName)) return false;
        Add(MakeItem(strName));
        return true;
    }

    bool TakeIn(const std::string& strSource, std::string& strError) {
        const std::string strName = ArrivalName(strSource);
        if (!CopyFileDurably(strSource, Folder(), strName, strError)) return false;
        Add(MakeItem(strName));
        return true;
    }

    // Copies in what was handed over; called with the lock held, drops it while copying.
    void DoIntake(std::unique_lock<std::mutex>& lock) {
        bool bAny = false;
        while (!intake.empty()) {
            const std::string strSource = intake.front();
            lock.unlock();
            std::string strError;
            if (!TakeIn(strSource, strError)) {
                Log("not taken into the outbox: " + strError);
                std::lock_guard<std::mutex> lock2(mutex);
                strProblem = "an image could not be put in the outbox: " + strError;
            }
            lock.lock();
            intake.pop_front();
            bAny = true;
        }
        if (bAny) {
            lock.unlock();
            Publish();
            lock.lock();
        }
    }

    // ---- Sending ----

    void Failure(const std::string& strText, bool bUnreach) {
        const uint32_t nDelay = backoff.Next();
        {
            std::lock_guard<std::mutex> lock(mutex);
            bUnreachable = bUnreach;
            strProblem = strText;
            tNextTry = Clock::now() + std::chrono::seconds(nDelay);
        }
        Log(strText + "; next try in " + std::to_string(nDelay) + " s");
    }

    // Moves every waiting file a report lists as committed to sent/, and notes
    // the PACS's refusal on those it lists as failed. Returns the files it settled.
    size_t ApplyReports(const std::vector<std::string>& waitingFor, std::vector<std::string>& settled) {
        std::vector<CCommitReport> list;
        {
            std::lock_guard<std::mutex> lock(mutex);
            list.swap(reports);
        }
        size_t n = 0;
        for (const CCommitReport& report : list) {
            for (const CSopRef& ref : report.committed) {
                std::string strName;
                {
                    std::lock_guard<std::mutex> lock(mutex);
                    for (const Item& item : items)
                        if (item.id.strSopInstanceUid == ref.strSopInstanceUid) strName = item.shown.strName;
                }
                if (strName.empty()) continue;
                Sent(strName, "stored and committed by the PACS");
                settled.push_back(ref.strSopInstanceUid);
                ++n;
            }
            for (const CSopRef& ref : report.failed) {
                if (std::find(waitingFor.begin(), waitingFor.end(), ref.strSopInstanceUid) == waitingFor.end())
                    continue;
                char sz[8];
                std::snprintf(sz, sizeof sz, "0x%04X", ref.nFailureReason);
                std::string strName;
                {
                    std::lock_guard<std::mutex> lock(mutex);
                    for (const Item& item : items)
                        if (item.id.strSopInstanceUid == ref.strSopInstanceUid) strName = item.shown.strName;
                }
                if (strName.empty()) continue;
                const std::string strText = std::string("the PACS did not commit to keeping it (reason ") + sz + ")";
                SetError(strName, strText, false);
                Log(strName + ": " + strText);
                settled.push_back(ref.strSopInstanceUid);
            }
        }
        return n;
    }

    // Waits for the reports of the stored files until all are settled or the time is up.
    void AwaitCommitment(const std::vector<std::string>& uids) {
        const auto tEnd = Clock::now() + std::chrono::seconds(config.CommitWaitS());
        std::vector<std::string> settled;
        std::unique_lock<std::mutex> lock(mutex);
        for (;;) {
            DoIntake(lock);
            lock.unlock();
            ApplyReports(uids, settled);
            lock.lock();
            const bool bAll = std::all_of(uids.begin(), uids.end(), [&](const std::string& u) {
                return std::find(settled.begin(), settled.end(), u) != settled.end();
            });
            if (bAll || bStop || Clock::now() >= tEnd) break;
            lock.unlock();
            Publish();
            lock.lock();
            cv.wait_until(lock, tEnd, [this] { return bStop || !reports.empty() || !intake.empty(); });
        }
    }

    // Sends a batch; returns true when every file in it was settled.
    bool SendBatch(std::vector<Item> batch) {
        std::vector<CFileIdentity> ids;
        for (const Item& item : batch) {
            if (item.bIdentified) continue;
            Reject(item.shown.strName, item.shown.strLastError);
        }
        batch.erase(std::remove_if(batch.begin(), batch.end(), [](const Item& i) { return !i.bIdentified; }),
                    batch.end());
        if (batch.empty()) return true;
        for (const Item& item : batch) ids.push_back(item.id);

        const bool bCommit = config.bCommit;
        // Reports cannot arrive while the listener is down: try to open its port again first.
        if (bCommit && pListener && !pListener->IsRunning()) {
            std::string strListener;
            if (!pListener->Start(strListener)) {
                for (const Item& item : batch) SetError(item.shown.strName, strListener, false);
                Failure(strListener, false);
                return false;
            }
        }
        CStoreAssociation assoc;
        const CNetResult open = assoc.Open(config.strStationAet, config.pacs, config.nTimeoutS, ids, bCommit);
        if (!open.Ok()) {
            for (const Item& item : batch) SetError(item.shown.strName, open.strText, true);
            Failure(open.strText, open.eOutcome == ENetOutcome::Unreachable);
            return false;
        }
        bool bAllSettled = true;
        std::string strFirstError;
        std::vector<CSopRef> stored;
        std::vector<std::string> storedUids;
        for (const Item& item : batch) {
            {
                std::lock_guard<std::mutex> lock(mutex);
                if (bStop) break;
            }
            const std::string& strName = item.shown.strName;
            const CStoreResult r = assoc.Store(config.strOutbox + strName, item.id);
            switch (r.eOutcome) {
            case EStoreOutcome::Stored:
                if (r.nStatus != 0) Log(strName + ": stored with " + r.strText);
                if (bCommit) {
                    stored.push_back({item.id.strSopClassUid, item.id.strSopInstanceUid, 0});
                    storedUids.push_back(item.id.strSopInstanceUid);
                    SetError(strName, "stored, waiting for the PACS's storage commitment", true);
                } else {
                    Sent(strName, r.strText);
                }
                break;
            case EStoreOutcome::Rejected: Reject(strName, "the PACS refused it: " + r.strText); break;
            case EStoreOutcome::Retry:
                // A PACS that keeps refusing an image "for lack of resources" while it takes
                // others means the image: after a few tries it is kept apart like any refusal.
                if (r.nStatus != 0 && item.shown.nAttempts + 1 >= kMaxRefusals) {
                    Reject(strName, "the PACS refused it " + std::to_string(kMaxRefusals) + " times: " + r.strText);
                    break;
                }
                SetError(strName, r.strText, true);
                bAllSettled = false;
                if (strFirstError.empty()) strFirstError = r.strText;
                break;
            }
            Publish();
            if (!assoc.IsOpen()) break;
        }
        if (!assoc.IsOpen() && strFirstError.empty()) strFirstError = "the connection to the PACS broke";

        if (bCommit && !stored.empty()) {
            const std::string strTransaction = NewUid();
            const CNetResult req = assoc.RequestCommitment(strTransaction, stored);
            if (!req.Ok()) {
                for (const Item& item : batch) SetError(item.shown.strName, req.strText, false);
                Failure(req.strText, req.eOutcome == ENetOutcome::Unreachable);
                return false;
            }
            if (config.nStationPort == 0) {
                CCommitReport report;
                const CNetResult wait = assoc.WaitForReportHere(config.CommitWaitS(), report);
                if (wait.Ok()) {
                    std::lock_guard<std::mutex> lock(mutex);
                    reports.push_back(std::move(report));
                }
                assoc.Close();
            } else {
                assoc.Close();
            }
            AwaitCommitment(storedUids);
            // Whatever is still waiting from this batch had no (positive) report.
            std::lock_guard<std::mutex> lock(mutex);
            for (Item& item : items)
                if (std::find(storedUids.begin(), storedUids.end(), item.id.strSopInstanceUid) != storedUids.end()) {
                    if (item.shown.strLastError.rfind("stored, waiting", 0) == 0)
                        item.shown.strLastError = "no storage commitment report from the PACS within " +
                                                  std::to_string(config.CommitWaitS()) + " s";
                    bAllSettled = false;
                    if (strFirstError.empty()) strFirstError = item.shown.strLastError;
                }
        }
        assoc.Close();
        if (!bAllSettled || !strFirstError.empty()) {
            Failure(strFirstError.empty() ? "not every image was acknowledged" : strFirstError,
                    !assoc.IsOpen() && strFirstError.find("broke") != std::string::npos);
            return false;
        }
        return true;
    }

    void Run() {
        Scan();
        PurgeSent();
        Publish();
        std::unique_lock<std::mutex> lock(mutex);
        while (!bStop) {
            DoIntake(lock);
            if (bStop) break;
            // Status goes out from this thread only, so that it arrives in order.
            if (bPublishWanted) {
                bPublishWanted = false;
                lock.unlock();
                Publish();
                lock.lock();
            }
            if (items.empty() || !config.PacsOn()) {
                cv.wait(lock, [this] {
                    return bStop || !intake.empty() || bSendNow || bPublishWanted ||
                           (!items.empty() && config.PacsOn());
                });
                bSendNow = false;
                continue;
            }
            if (!bSendNow && Clock::now() < tNextTry) {
                cv.wait_until(lock, tNextTry,
                              [this] { return bStop || !intake.empty() || bSendNow || bPublishWanted; });
                continue;
            }
            bSendNow = false;
            std::vector<Item> batch(items.begin(), items.begin() + static_cast<long>(std::min(items.size(), kBatch)));
            lock.unlock();
            const bool bOk = SendBatch(std::move(batch));
            if (bOk) {
                backoff.Reset();
                std::lock_guard<std::mutex> lock2(mutex);
                bUnreachable = false;
                strProblem.clear();
                tNextTry = Clock::now();
            }
            PurgeSent();
            Publish();
            lock.lock();
        }
    }
};

COutbox::COutbox(CNetConfig config, IMainThreadExecutor& executor, StatusHandler fnStatus)
    : m_config(config), m_p(std::make_unique<Impl>(std::move(config), executor, std::move(fnStatus))) {}

COutbox::~COutbox() { Stop(); }

bool COutbox::Start(std::string& strError) {
    if (m_p->worker.joinable()) return true;
    std::error_code ec;
    for (const char* szSub : {"", kSentFolder, kRejectedFolder}) {
        fs::create_directories(m_config.strOutbox + szSub, ec);
        if (ec || !fs::is_directory(m_config.strOutbox + szSub)) {
            strError =
                "the outbox folder " + m_config.strOutbox + szSub + " cannot be made" + (ec ? ": " + ec.message() : "");
            return false;
        }
    }
    m_p->RemoveStaleCopies();
    if (m_config.PacsOn() && m_config.bCommit && m_config.nStationPort != 0) {
        Impl* p = m_p.get();
        m_p->pListener = std::make_unique<CCommitListener>(m_config.strStationAet, m_config.nStationPort,
                                                           [p](const CCommitReport& report) {
                                                               {
                                                                   std::lock_guard<std::mutex> lock(p->mutex);
                                                                   p->reports.push_back(report);
                                                               }
                                                               p->cv.notify_all();
                                                           });
        std::string strListener;
        if (!m_p->pListener->Start(strListener)) {
            m_p->strProblem = strListener;
            m_p->Log(strListener);
        }
    }
    m_p->bStop = false;
    m_p->worker = std::thread([p = m_p.get()] { p->Run(); });
    return true;
}

void COutbox::Stop() {
    if (!m_p) return;
    {
        std::lock_guard<std::mutex> lock(m_p->mutex);
        m_p->bStop = true;
    }
    m_p->cv.notify_all();
    if (m_p->worker.joinable()) m_p->worker.join();
    if (m_p->pListener) m_p->pListener->Stop();
}

void COutbox::Enqueue(const std::string& strPath) {
    if (!m_config.PacsOn()) return;
    // In the outbox before this returns where a link can do it, so that a
    // crash right after the image never leaves it unsent; else the worker copies.
    if (m_p->TakeInByLink(strPath)) {
        {
            std::lock_guard<std::mutex> lock(m_p->mutex);
            m_p->bPublishWanted = true;
        }
        m_p->cv.notify_all();
        return;
    }
    {
        std::lock_guard<std::mutex> lock(m_p->mutex);
        m_p->intake.push_back(strPath);
    }
    m_p->cv.notify_all();
}

bool COutbox::EnqueueNow(const std::string& strPath, std::string& strError) {
    if (!m_config.PacsOn()) return true;
    if (!m_p->TakeIn(strPath, strError)) return false;
    {
        std::lock_guard<std::mutex> lock(m_p->mutex);
        m_p->bPublishWanted = true;
    }
    m_p->cv.notify_all();
    return true;
}

void COutbox::SendNow() {
    {
        std::lock_guard<std::mutex> lock(m_p->mutex);
        m_p->bSendNow = true;
    }
    m_p->cv.notify_all();
}

COutboxStatus COutbox::Snapshot() const {
    std::lock_guard<std::mutex> lock(m_p->mutex);
    return m_p->SnapshotLocked();
}

}  // namespace orvi::dicom
