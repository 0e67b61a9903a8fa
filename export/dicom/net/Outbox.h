#pragma once
// The outbox: every DICOM file the station sends waits in [DICOM] OUTBOX until
// the PACS has acknowledged it, so no image is lost while the network or the
// PACS is down, nor when the station stops or crashes.
//
//   OUTBOX/            files waiting, sent in the order they arrived
//   OUTBOX/sent/       acknowledged files, deleted after SENT_KEEP_DAYS
//   OUTBOX/rejected/   files the PACS refused, each with NAME.txt: the reason
//   OUTBOX/outbox.log  what happened to each file (warnings too)
//
// A file is copied in durably (written, fsync'd, renamed) before anything is
// sent. One worker thread sends (C-STORE) and, with COMMIT=1, asks for storage
// commitment; a file moves to sent/ only when the PACS acknowledged it: the
// C-STORE's success or warning status, or with COMMIT=1 its commitment report.
// Failures leave the file waiting and retry after a back-off of 1 s doubling
// up to 5 min; "Send now" tries at once. A restart picks up what still waits.
// The worker reports its state through the main-thread executor only.
#include "acquisition/MainThreadExecutor.h"
#include "export/dicom/net/DicomNet.h"
#include "export/dicom/net/NetConfig.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace orvi::dicom {

// The retry delays after failed attempts: 1, 2, 4 ... seconds, at most 5 min.
class CBackoff {
public:
    static constexpr uint32_t kFirstS = 1;
    static constexpr uint32_t kMaxS = 300;
    // The delay after one more failure.
    uint32_t Next();
    void Reset() { m_nFailures = 0; }
    uint32_t Failures() const { return m_nFailures; }

private:
    uint32_t m_nFailures = 0;
};

struct COutboxItem {
    std::string strName;  // file name in the outbox
    std::string strSopInstanceUid;
    uint32_t nAttempts = 0;
    std::string strLastError;  // "" before the first attempt
};

// What the outbox shows: the status bar's text and the Outbox view's list.
struct COutboxStatus {
    bool bPacsOn = false;
    std::vector<COutboxItem> waiting;
    uint32_t nIncoming = 0;     // handed over, not yet copied in
    bool bUnreachable = false;  // the last attempt found no PACS
    std::string strProblem;     // the last attempt's failure in words, "" after a success
    uint32_t nRetryInS = 0;     // when the next attempt is due (0: not waiting for one)
    uint64_t nSent = 0;         // acknowledged since the start
    uint64_t nRejected = 0;     // refused by the PACS since the start
    std::string strLastRejection;

    // "PACS: 3 waiting", "PACS: sent", "PACS: unreachable, retrying in 30 s".
    std::string StatusText() const;
    bool Idle() const { return waiting.empty() && nIncoming == 0; }
};

class COutbox {
public:
    using StatusHandler = std::function<void(const COutboxStatus&)>;

    // fnStatus runs on the executor's thread after every change.
    COutbox(CNetConfig config, IMainThreadExecutor& executor, StatusHandler fnStatus);
    ~COutbox();
    COutbox(const COutbox&) = delete;
    COutbox& operator=(const COutbox&) = delete;

    // Creates the folders, starts the commitment listener (COMMIT=1 with a
    // STATION_PORT) and the worker. False and the reason when the outbox
    // folder cannot be made; a listener that cannot open its port is reported
    // in the status and the files wait.
    bool Start(std::string& strError);
    // Stops the worker after the file it is sending; what waits stays on disk.
    void Stop();

    // Hands over a written DICOM file to be sent; returns at once (any
    // thread). The worker copies it in before sending. Ignored while the PACS
    // is off.
    void Enqueue(const std::string& strPath);
    // Copies a file in durably now, on the caller's thread; false and the reason on failure.
    bool EnqueueNow(const std::string& strPath, std::string& strError);
    // Tries the waiting files at once instead of at the end of the back-off.
    void SendNow();

    // The state as of now (any thread).
    COutboxStatus Snapshot() const;
    const CNetConfig& Config() const { return m_config; }

private:
    struct Impl;
    CNetConfig m_config;
    std::unique_ptr<Impl> m_p;
};

// Gives strSource a second name strFolder/strName (a hard link, renamed into
// place from a hidden name), then fsyncs the folder. False across file systems.
bool LinkFileDurably(const std::string& strSource, const std::string& strFolder, const std::string& strName);

// Copies strSource to strFolder/strName durably: a link where it can be,
// else a hidden temporary file is written and fsync'd, renamed into place,
// and the folder fsync'd.
bool CopyFileDurably(const std::string& strSource, const std::string& strFolder, const std::string& strName,
                     std::string& strError);

}  // namespace orvi::dicom
