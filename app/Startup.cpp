#include "app/Startup.h"

#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace orvi {

std::string ProgramDirOf(const std::string& strExePath) {
    std::string strDir = std::filesystem::path(strExePath).parent_path().string();
    if (strDir.empty() || strDir.back() != '/') strDir += '/';
    return strDir;
}

std::string ComputeProgramDir() {
    std::error_code ec;
    std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) return "./";
    return ProgramDirOf(exe.string());
}

CSingleInstance::~CSingleInstance() { Release(); }

std::string CSingleInstance::DefaultDir() {
    const char* szRuntime = std::getenv("XDG_RUNTIME_DIR");
    if (szRuntime != nullptr && *szRuntime != '\0' && ::access(szRuntime, W_OK) == 0) return szRuntime;
    return "/tmp";
}

std::string CSingleInstance::LockPath(const std::string& strName, const std::string& strDir) {
    // In a folder every user may write to (the sticky /tmp), each user has a
    // lock of their own: another user's file there must not lock us out.
    std::string strFile = strName;
    struct stat st {};
    if (::stat(strDir.c_str(), &st) == 0 && (st.st_mode & (S_ISVTX | S_IWOTH)) != 0) {
        strFile += '-';
        strFile += std::to_string(::getuid());
    }
    return strDir + "/" + strFile + ".lock";
}

bool CSingleInstance::Acquire(const std::string& strName, const std::string& strDir) {
    Release();
    const std::string strPath = LockPath(strName, strDir);
    int fd = ::open(strPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    // A file we may only read (someone else's): flock works on it all the same.
    if (fd < 0) fd = ::open(strPath.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return false;
    }
    m_fd = fd;
    return true;
}

void CSingleInstance::Release() {
    if (m_fd >= 0) {
        ::flock(m_fd, LOCK_UN);
        ::close(m_fd);
        m_fd = -1;
    }
}

}  // namespace orvi
