#include "imaging/RawFile.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cerrno>
#include <condition_variable>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <filesystem>
#include <limits>
#include <mutex>
#include <optional>
#include <sys/stat.h>
#include <system_error>
#include <thread>
#include <unistd.h>

namespace orvi {

static_assert(std::endian::native == std::endian::little,
              "RAW files are little-endian and are read and written without conversion");

std::string JoinPath(const std::string& strFolder, const std::string& strName) {
    if (strFolder.empty() || strFolder.back() == '/') return strFolder + strName;
    return strFolder + '/' + strName;
}

// ---- Names ---------------------------------------------------------------

std::string LevelFileName(const std::string& strPrefix, int64_t nMean) {
    const char* szPad = nMean < 10 ? "0000" : nMean < 100 ? "000" : nMean < 1000 ? "00" : nMean < 10000 ? "0" : "";
    int32_t nPrinted = static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(nMean)));
    return strPrefix + szPad + std::to_string(nPrinted) + ".RAW";
}

int32_t LevelFromFileName(const std::string& strName, const std::string& strPrefix) {
    size_t nBegin = strName.find_first_not_of(strPrefix);
    size_t nEnd = strName.find_last_not_of(".raw");
    if (nBegin == std::string::npos || nEnd == std::string::npos || nEnd < nBegin) return 0;
    // The leading digits of what remains; a name with more digits than a
    // 32-bit level holds saturates instead of wrapping.
    int64_t nLevel = 0;
    for (size_t i = nBegin; i <= nEnd && strName[i] >= '0' && strName[i] <= '9'; ++i)
        nLevel = std::min<int64_t>(nLevel * 10 + (strName[i] - '0'), std::numeric_limits<int32_t>::max());
    return static_cast<int32_t>(nLevel);
}

bool IsCalibrationFileName(const std::string& strName) {
    // Hidden names (the temporaries of a write in progress, other programs'
    // files) never count, nor does a name that merely contains ".RAW".
    if (strName.empty() || strName[0] == '.') return false;
    if (!strName.ends_with(".raw") && !strName.ends_with(".RAW")) return false;
    bool bRaw = strName.find(".raw") != std::string::npos || strName.find(".RAW") != std::string::npos;
    bool bKind = strName.find("BRIGHT") != std::string::npos || strName.find("DARK") != std::string::npos;
    return bRaw && bKind;
}

namespace {

// Names of the entries of a folder that are not folders.
std::vector<std::string> ListFileNames(const std::string& strFolder) {
    std::vector<std::string> names;
    std::error_code ec;
    std::filesystem::directory_iterator it(strFolder.empty() ? std::string(".") : strFolder, ec);
    for (; !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
        std::error_code ecType;
        if (it->is_directory(ecType)) continue;
        names.push_back(it->path().filename().string());
    }
    return names;
}

}  // namespace

std::vector<std::string> ListCalibrationFiles(const std::string& strFolder) {
    std::vector<std::string> names = ListFileNames(strFolder);
    std::erase_if(names, [](const std::string& s) { return !IsCalibrationFileName(s); });
    std::sort(names.begin(), names.end());
    return names;
}

void DeleteDarkFiles(const std::string& strFolder, const std::string& strKeep) {
    for (const std::string& strName : ListFileNames(strFolder)) {
        if (strName != strKeep && strName.find("DARK") != std::string::npos && IsCalibrationFileName(strName))
            ::unlink(JoinPath(strFolder, strName).c_str());
    }
}

int64_t FrameMean(const uint16_t* pPixels, size_t nPixels) {
    if (nPixels == 0) return 0;
    uint64_t nSum = 0;
    // Blocks of 65536 pixels fit a 32-bit sum, which the compiler vectorises.
    for (size_t i = 0; i < nPixels;) {
        size_t nEnd = std::min(nPixels, i + 65536);
        uint32_t nPart = 0;
        for (; i < nEnd; ++i) nPart += pPixels[i];
        nSum += nPart;
    }
    return static_cast<int64_t>(nSum) / static_cast<int64_t>(nPixels);
}

int64_t BrightMinusDark(const uint16_t* pBright, uint16_t* pFrame, size_t nPixels) {
    if (nPixels == 0) return 0;
    int64_t nSum = 0;
    for (size_t i = 0; i < nPixels;) {
        size_t nEnd = std::min(nPixels, i + 32768);  // |d| < 65536: a 32-bit part sum cannot overflow
        int32_t nPart = 0;
        for (; i < nEnd; ++i) {
            int32_t d = int32_t{pBright[i]} - int32_t{pFrame[i]};
            nPart += d;
            pFrame[i] = static_cast<uint16_t>(d);
        }
        nSum += nPart;
    }
    return nSum / static_cast<int64_t>(nPixels);
}

// ---- Files ---------------------------------------------------------------

namespace {

// Moves exactly n bytes with read() or write(), in pieces, retrying after a
// signal; false on an error, a full disk or an early end of file.
template <typename Byte, typename Transfer>
bool TransferAll(int fd, Byte* p, size_t n, Transfer transfer) {
    while (n > 0) {
        ssize_t k = transfer(fd, p, std::min<size_t>(n, size_t{1} << 30));
        if (k < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (k == 0) return false;
        p += k;
        n -= size_t(k);
    }
    return true;
}

bool WriteAll(int fd, const char* p, size_t n) { return TransferAll(fd, p, n, ::write); }
bool ReadAll(int fd, char* p, size_t n) { return TransferAll(fd, p, n, ::read); }

// A hidden name beside strPath that no other writer uses.
std::string HiddenName(const std::string& strPath, const char* szKind) {
    static std::atomic<uint32_t> s_nCounter{0};
    size_t nSlash = strPath.find_last_of('/');
    std::string strFolder = nSlash == std::string::npos ? std::string() : strPath.substr(0, nSlash + 1);
    std::string strName = nSlash == std::string::npos ? strPath : strPath.substr(nSlash + 1);
    if (strName.size() > 120) strName.resize(120);  // stay well inside the name length limit
    return strFolder + "." + strName + "." + szKind + "-" + std::to_string(::getpid()) + "-" +
           std::to_string(s_nCounter.fetch_add(1));
}

// Flushes the folder's entry of a file renamed into it, so that the new name
// survives a power cut as well as the data.
bool SyncFolderOf(const std::string& strPath) {
    size_t nSlash = strPath.find_last_of('/');
    std::string strFolder = nSlash == std::string::npos ? std::string(".") : strPath.substr(0, nSlash + 1);
    int fd = ::open(strFolder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    bool bOk = ::fsync(fd) == 0 || errno == EINVAL;  // some file systems cannot sync a folder
    int nErr = errno;
    ::close(fd);
    errno = nErr;
    return bOk;
}

// Opens a regular file for reading. Anything else (a folder, a pipe that
// would block the window thread, a device) counts as a file that cannot be
// opened. O_NONBLOCK only keeps the open itself from waiting on a pipe; it is
// cleared again so that reads of the file wait for its data as usual.
int OpenRegular(const std::string& strPath, uint64_t* pnFileBytes) {
    int fd = ::open(strPath.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return -1;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || ::fcntl(fd, F_SETFL, 0) != 0) {
        ::close(fd);
        return -1;
    }
    if (pnFileBytes) *pnFileBytes = st.st_size > 0 ? uint64_t(st.st_size) : 0;
    return fd;
}

RawRead OpenForRead(const std::string& strPath, size_t nPixels, int& fd, uint64_t* pnFileBytes) {
    uint64_t nBytes = 0;
    fd = OpenRegular(strPath, &nBytes);
    if (fd < 0) return RawRead::OpenFailed;
    if (pnFileBytes) *pnFileBytes = nBytes;
    if (nBytes < uint64_t(nPixels) * sizeof(uint16_t)) {
        ::close(fd);
        fd = -1;
        return RawRead::TooShort;
    }
    return RawRead::Ok;
}

}  // namespace

bool WriteRawFile(const std::string& strPath, const uint16_t* pPixels, size_t nPixels, int* pnError) {
    return WriteFileReplacing(strPath, pPixels, nPixels * sizeof(uint16_t), pnError);
}

void (*g_pfnReplaceStepHook)(int nStep) = nullptr;

namespace {

void ReplaceStep(int nStep) {
    if (g_pfnReplaceStepHook != nullptr) g_pfnReplaceStepHook(nStep);
}

// Keeps the errno of the first failure for the caller while the temporary
// file is cleaned up.
bool Fail(int* pnError, const std::string& strTemp = std::string()) {
    int nErr = errno;
    if (!strTemp.empty()) ::unlink(strTemp.c_str());
    if (pnError != nullptr) *pnError = nErr;
    errno = nErr;
    return false;
}

}  // namespace

// ---- The file thread ---------------------------------------------------------

namespace {

class CFileThread {
public:
    CFileThread() {
        try {
            m_thread = std::thread(&CFileThread::Loop, this);
        } catch (const std::system_error&) {
            // no thread: jobs run on the caller's thread
        }
    }

    std::future<void> Post(std::function<void()> fnJob) {
        std::packaged_task<void()> task(std::move(fnJob));
        std::future<void> done = task.get_future();
        // A job that posts a job and waits for it would wait forever: run it here.
        if (!m_thread.joinable() || std::this_thread::get_id() == m_thread.get_id()) {
            task();
            return done;
        }
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_jobs.push_back(std::move(task));
        }
        m_wake.notify_one();
        return done;
    }

private:
    void Loop() {
        std::unique_lock<std::mutex> lock(m_mutex);
        for (;;) {
            m_wake.wait(lock, [&] { return !m_jobs.empty(); });
            std::packaged_task<void()> task = std::move(m_jobs.front());
            m_jobs.pop_front();
            lock.unlock();
            task();
            lock.lock();
        }
    }

    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::deque<std::packaged_task<void()>> m_jobs;
    std::thread m_thread;
};

// Made at first use and kept to the end of the process, like the pixel
// steps' pool: a job posted late must still find its thread.
CFileThread& FileThread() {
    static CFileThread* s_pThread = new CFileThread;
    return *s_pThread;
}

// pwrite of exactly n bytes at nAt, in pieces, retrying after a signal.
bool PWriteAll(int fd, const char* p, size_t n, off_t nAt) {
    while (n > 0) {
        ssize_t k = ::pwrite(fd, p, std::min<size_t>(n, size_t{1} << 30), nAt);
        if (k < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (k == 0) {
            errno = EIO;
            return false;
        }
        p += k;
        n -= size_t(k);
        nAt += k;
    }
    return true;
}

// The pieces of one replace written on the file thread, in order, each
// handed to the disk at once (sync_file_range), so that the final fsync waits
// for little. They go through the page cache: a host program that reads the
// file as soon as it appears reads it from memory.
class CWriteBehind {
public:
    explicit CWriteBehind(int fd) : m_fd(fd) {}
    ~CWriteBehind() { Drain(); }

    bool Write(const void* pBytes, size_t n) {
        if (m_bFailed.load()) return false;
        const off_t nAt = m_nQueued;
        m_nQueued += off_t(n);
        m_last = PostToFileThread([this, pBytes, n, nAt] {
            if (m_bFailed.load()) return;
            if (!PWriteAll(m_fd, static_cast<const char*>(pBytes), n, nAt)) {
                m_nError = errno;
                m_bFailed.store(true);
                return;
            }
            ::sync_file_range(m_fd, nAt, off_t(n), SYNC_FILE_RANGE_WRITE);  // a hint: fsync still follows
        });
        return true;
    }

    // Waits for every piece; false with *pnError set when one failed.
    bool Drain(int* pnError = nullptr) {
        if (m_last.valid()) m_last.get();  // jobs run in order: the last one ends the replace's pieces
        if (m_bFailed.load() && pnError != nullptr) *pnError = m_nError;
        return !m_bFailed.load();
    }

private:
    int m_fd;
    off_t m_nQueued = 0;  // caller's thread
    std::future<void> m_last;
    std::atomic<bool> m_bFailed{false};
    int m_nError = 0;
};

}  // namespace

std::future<void> PostToFileThread(std::function<void()> fnJob) { return FileThread().Post(std::move(fnJob)); }

bool WriteFileReplacing(const std::string& strPath, const void* pData, size_t nBytes, int* pnError) {
    return WriteFileReplacingFrom(
        strPath, [&](const ByteSink& fnWrite) { return fnWrite(pData, nBytes); }, pnError);
}

bool WriteFileReplacingFrom(const std::string& strPath, const std::function<bool(const ByteSink&)>& fnProduce,
                            int* pnError) {
    return WriteFileReplacingFrom(strPath, fnProduce, CReplaceOptions{}, pnError);
}

// The replace, in its file-system calls: open the temporary file, write it,
// fsync it, close it, rename it over the old name (one rename: the name holds
// the old or the new file at every moment, also after a crash), fsync the
// folder. The test hook runs before each call.
bool WriteFileReplacingFrom(const std::string& strPath, const std::function<bool(const ByteSink&)>& fnProduce,
                            const CReplaceOptions& options, int* pnError) {
    if (pnError != nullptr) *pnError = 0;
    struct stat st {};
    if (::stat(strPath.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        errno = EISDIR;
        return Fail(pnError);
    }
    std::string strTemp;
    int fd = -1;
    for (int nTry = 0; nTry < 16 && fd < 0; ++nTry) {
        strTemp = HiddenName(strPath, "part");
        ReplaceStep(0);
        fd = ::open(strTemp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd < 0 && errno != EEXIST) return Fail(pnError);
    }
    if (fd < 0) return Fail(pnError);
    ReplaceStep(1);
    bool bWritten = true;
    int nWriteErr = 0;
    off_t nWrittenBytes = 0;
    // Without the write-behind, large files go to the disk piece by piece as
    // they are written: each piece's write-back is started at once, so that
    // the disk works while the rest is copied, and the fsync below waits for
    // less. The fsync still decides whether the file is durable.
    constexpr size_t kPiece = size_t{4} << 20;
    std::optional<CWriteBehind> behind;
    if (options.bWriteBehind) behind.emplace(fd);
    const ByteSink fnWrite = [&](const void* pBytes, size_t n) {
        if (behind) return behind->Write(pBytes, n);
        const char* p = static_cast<const char*>(pBytes);
        while (bWritten && n > 0) {
            const size_t nPiece = std::min(n, kPiece);
            if (!WriteAll(fd, p, nPiece)) {
                bWritten = false;
                nWriteErr = errno;
                break;
            }
            if (nPiece == kPiece || nWrittenBytes > 0)
                ::sync_file_range(fd, nWrittenBytes, off_t(nPiece), SYNC_FILE_RANGE_WRITE);
            nWrittenBytes += off_t(nPiece);
            p += nPiece;
            n -= nPiece;
        }
        return bWritten;
    };
    // A producer that fails without a write error (an encoder) reports EIO.
    const bool bProduced = fnProduce(fnWrite);
    bool bOk = false;
    int nErr = 0;
    auto fnFinish = [&] {
        if (behind) bWritten = behind->Drain(&nWriteErr);
        bOk = bProduced && bWritten;
        nErr = bOk ? 0 : (bWritten ? EIO : nWriteErr);
        if (bOk) {
            ReplaceStep(2);
            bOk = ::fsync(fd) == 0;
            if (!bOk) nErr = errno;
        }
        ReplaceStep(3);
        if (::close(fd) != 0 && bOk) {
            bOk = false;
            nErr = errno;
        }
    };
    if (behind && options.fnWhileFlushing) {
        // The last pieces, the fsync and the close on the file thread, the
        // caller's own work meanwhile.
        std::future<void> finished = PostToFileThread(fnFinish);
        options.fnWhileFlushing();
        finished.get();
    } else {
        fnFinish();
    }
    errno = nErr;
    if (!bOk) return Fail(pnError, strTemp);
    // The file about to be replaced, held so that the rename does not free it.
    int fdOld = -1;
    if (options.bReleaseOldLater) {
        fdOld = ::open(strPath.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
        struct stat stOld {};
        if (fdOld >= 0 && (::fstat(fdOld, &stOld) != 0 || !S_ISREG(stOld.st_mode))) {
            ::close(fdOld);
            fdOld = -1;
        }
    }
    ReplaceStep(4);
    if (::rename(strTemp.c_str(), strPath.c_str()) != 0) {
        const int nErr = errno;
        if (fdOld >= 0) ::close(fdOld);
        errno = nErr;
        return Fail(pnError, strTemp);
    }
    ReplaceStep(5);
    // The file is in place; a folder that cannot be synced is not a failure of the write.
    SyncFolderOf(strPath);
    if (fdOld >= 0) PostToFileThread([fdOld] { ::close(fdOld); });
    ReplaceStep(6);
    return true;
}

namespace {

// The station's temporary names: ".NAME.part-PID-N" and ".NAME.old-PID-N"
// (the latter left by earlier versions). The pid, or -1 for another name.
long TemporaryOwner(const std::string& strName) {
    if (strName.size() < 2 || strName[0] != '.') return -1;
    for (const char* szKind : {".part-", ".old-"}) {
        size_t nAt = strName.rfind(szKind);
        if (nAt == std::string::npos || nAt == 0) continue;
        const char* p = strName.c_str() + nAt + std::strlen(szKind);
        char* pEnd = nullptr;
        errno = 0;
        long nPid = std::strtol(p, &pEnd, 10);
        if (pEnd == p || *pEnd != '-' || errno != 0 || nPid <= 0) continue;
        const char* pCount = pEnd + 1;
        if (*pCount == '\0' || std::strspn(pCount, "0123456789") != std::strlen(pCount)) continue;
        return nPid;
    }
    return -1;
}

}  // namespace

bool IsTemporaryName(const std::string& strName) { return TemporaryOwner(strName) > 0; }

std::vector<std::string> RemoveStaleTemporaries(const std::string& strFolder,
                                                std::chrono::system_clock::time_point tStarted) {
    std::vector<std::string> removed;
    std::error_code ec;
    std::filesystem::directory_iterator it(strFolder.empty() ? std::string(".") : strFolder, ec);
    for (; !ec && it != std::filesystem::directory_iterator(); it.increment(ec)) {
        const std::string strName = it->path().filename().string();
        const long nPid = TemporaryOwner(strName);
        if (nPid <= 0) continue;
        const std::string strPath = JoinPath(strFolder, strName);
        struct stat st {};
        if (::lstat(strPath.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
        bool bStale = false;
        if (nPid == long(::getpid())) {
            // Ours by number: stale when it is older than this process (the
            // pid was used before).
            bStale = std::chrono::system_clock::from_time_t(st.st_mtime) < tStarted - std::chrono::seconds(1);
        } else {
            // Another process's: only once that process is gone.
            bStale = ::kill(pid_t(nPid), 0) != 0 && errno == ESRCH;
        }
        if (bStale && ::unlink(strPath.c_str()) == 0) removed.push_back(strPath);
    }
    return removed;
}

std::string FileErrorText(int nError) { return nError != 0 ? std::strerror(nError) : "unknown error"; }

RawRead CheckRawFile(const std::string& strPath, size_t nPixels, uint64_t* pnFileBytes) {
    int fd = -1;
    RawRead e = OpenForRead(strPath, nPixels, fd, pnFileBytes);
    if (fd >= 0) ::close(fd);
    return e;
}

RawRead ReadRawFile(const std::string& strPath, uint16_t* pPixels, size_t nPixels, uint64_t* pnFileBytes) {
    int fd = -1;
    RawRead e = OpenForRead(strPath, nPixels, fd, pnFileBytes);
    if (e != RawRead::Ok) return e;
    // The size was checked; a file that shrinks meanwhile reads short and is refused.
    bool bOk = ReadAll(fd, reinterpret_cast<char*>(pPixels), nPixels * sizeof(uint16_t));
    ::close(fd);
    return bOk ? RawRead::Ok : RawRead::TooShort;
}

bool ReadRawFileUpTo(const std::string& strPath, uint16_t* pPixels, size_t nMaxPixels) {
    int fd = OpenRegular(strPath, nullptr);
    if (fd < 0) return false;
    char* p = reinterpret_cast<char*>(pPixels);
    size_t nWant = nMaxPixels * sizeof(uint16_t);
    size_t nGot = 0;
    bool bOk = true;
    while (nGot < nWant) {
        ssize_t k = ::read(fd, p + nGot, std::min<size_t>(nWant - nGot, size_t{1} << 30));
        if (k < 0 && errno == EINTR) continue;
        if (k < 0) bOk = false;
        if (k <= 0) break;
        nGot += size_t(k);
    }
    ::close(fd);
    if (!bOk) return false;
    std::memset(p + nGot, 0, nWant - nGot);
    return true;
}

std::string ShortFileLogLine(const std::string& strWhat, const std::string& strPath, uint64_t nFileBytes,
                             uint64_t nNeededBytes) {
    return strWhat + " too short: " + strPath + " holds " + std::to_string(nFileBytes) + " bytes, " +
           std::to_string(nNeededBytes) + " needed";
}

}  // namespace orvi
