#pragma once
// Start-up pieces of the application: the program folder and the
// single-instance lock.
#include <string>

namespace orvi {

inline constexpr const char* kAppTitle = "ORVI Manager";  // caption of every message box
inline constexpr const char* kFrameTitle = "ORVI Manager2 ver 8.0.2.3";
inline constexpr const char* kInstanceMutexName = "BRONEK_NEW_ORVI8";

// Folder of an executable path, ending in exactly one '/'.
std::string ProgramDirOf(const std::string& strExePath);
// Folder of the running executable (/proc/self/exe), ending in '/'.
std::string ComputeProgramDir();

// The single-instance lock: an exclusive flock on "<name>.lock" in
// $XDG_RUNTIME_DIR, or "<name>-<uid>.lock" in /tmp (any folder every user may
// write to carries the user id in the name). The kernel releases it when the
// process ends, however it ends, so a crashed copy never blocks the next start.
class CSingleInstance {
public:
    CSingleInstance() = default;
    CSingleInstance(const CSingleInstance&) = delete;
    CSingleInstance& operator=(const CSingleInstance&) = delete;
    ~CSingleInstance();

    // True when this process now holds the lock; false when another holds it
    // (or the lock file cannot be opened, which is reported as held).
    bool Acquire(const std::string& strName, const std::string& strDir = DefaultDir());
    void Release();
    bool IsHeld() const { return m_fd >= 0; }

    static std::string DefaultDir();
    // The lock file of strName in strDir.
    static std::string LockPath(const std::string& strName, const std::string& strDir);

private:
    int m_fd = -1;
};

}  // namespace orvi
