#pragma once
// An advisory lock on a folder shared by several stations: flock on the hidden
// file ".orvi.lock" in it, held while a station writes a sequence of files
// there (a dark and its image, a calibration pair). The file exists only
// while the lock is held; the kernel releases the lock when the holder ends,
// also after a crash (the file then stays and is simply taken again).
#include <cstdint>
#include <functional>
#include <string>

namespace orvi {

inline constexpr const char* kFolderLockName = ".orvi.lock";

class CFolderLock {
public:
    enum class Result {
        Locked,  // held now
        Busy,    // another holder kept it for the whole wait
        Failed,  // the lock file cannot be opened (folder missing or read-only)
    };

    CFolderLock() = default;
    ~CFolderLock() { Unlock(); }
    CFolderLock(const CFolderLock&) = delete;
    CFolderLock& operator=(const CFolderLock&) = delete;

    // Takes the lock of strFolder, trying again every nStepMs for up to nWaitMs
    // while another holder has it; fnSleep waits (the timer service's sleep, so
    // tests wait in virtual time). *pnError receives errno on Failed.
    Result Lock(const std::string& strFolder, uint32_t nWaitMs, uint32_t nStepMs,
                const std::function<void(uint32_t)>& fnSleep, int* pnError = nullptr);
    void Unlock();
    bool Held() const { return m_fd >= 0; }

private:
    int m_fd = -1;
    std::string m_strPath;
};

}  // namespace orvi
