#include "imaging/FolderLock.h"

#include "imaging/RawFile.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace orvi {

namespace {

// True when fd is still the file at strPath: a holder removes the lock file
// when it lets go, so a lock taken on a removed file is no lock at all.
bool SameFile(int fd, const std::string& strPath) {
    struct stat a {
    }, b{};
    return ::fstat(fd, &a) == 0 && ::lstat(strPath.c_str(), &b) == 0 && a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

}  // namespace

CFolderLock::Result CFolderLock::Lock(const std::string& strFolder, uint32_t nWaitMs, uint32_t nStepMs,
                                      const std::function<void(uint32_t)>& fnSleep, int* pnError) {
    Unlock();
    if (pnError != nullptr) *pnError = 0;
    const std::string strPath = JoinPath(strFolder.empty() ? std::string(".") : strFolder, kFolderLockName);
    uint32_t nWaited = 0;
    for (;;) {
        int fd = ::open(strPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0666);
        if (fd < 0) {
            if (pnError != nullptr) *pnError = errno;
            return Result::Failed;
        }
        int nResult;
        do nResult = ::flock(fd, LOCK_EX | LOCK_NB);
        while (nResult != 0 && errno == EINTR);
        if (nResult == 0) {
            if (SameFile(fd, strPath)) {
                m_fd = fd;
                m_strPath = strPath;
                return Result::Locked;
            }
            ::close(fd);  // the holder before us removed it: take the new one
            continue;
        }
        const int nErr = errno;
        ::close(fd);
        if (nErr != EWOULDBLOCK) {
            if (pnError != nullptr) *pnError = nErr;
            return Result::Failed;
        }
        if (nWaited >= nWaitMs || nStepMs == 0) return Result::Busy;
        fnSleep(nStepMs);
        nWaited += nStepMs;
    }
}

void CFolderLock::Unlock() {
    if (m_fd < 0) return;
    // Removed while still held, so that the folder keeps no trace of it; a
    // waiter that opened it notices and opens the next one.
    ::unlink(m_strPath.c_str());
    ::flock(m_fd, LOCK_UN);
    ::close(m_fd);
    m_fd = -1;
}

}  // namespace orvi
