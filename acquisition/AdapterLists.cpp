#include "acquisition/AdapterLists.h"

#include "orviacquire/ORVIAcquireLib.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace orvi {

namespace {

// Names of a library list (adapters or ports), in order.
std::vector<std::string> Names(const ORVIAcqListNode* pHead) {
    std::vector<std::string> v;
    for (const ORVIAcqListNode* p = pHead; p != nullptr; p = p->pNext) {
        // A name is NUL-terminated within its field.
        size_t n = 0;
        while (n < sizeof p->szName && p->szName[n] != '\0') ++n;
        v.emplace_back(p->szName, n);
    }
    return v;
}

bool IsSerialNodeName(const std::string& strName) {
    for (const char* szPrefix : {"ttyS", "ttyUSB", "ttyACM"}) {
        const std::string strPrefix = szPrefix;
        if (strName.size() > strPrefix.size() && strName.compare(0, strPrefix.size(), strPrefix) == 0 &&
            std::all_of(strName.begin() + static_cast<std::ptrdiff_t>(strPrefix.size()), strName.end(),
                        [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; }))
            return true;
    }
    return false;
}

// True when the lock file of a serial tool names a process that still runs.
// The file holds the owner's pid as text ("%10d\n"), or as a 4-byte integer in
// the oldest tools' convention.
bool LockFileOwnedByLiveProcess(const std::string& strLockPath) {
    const int fd = ::open(strLockPath.c_str(), O_RDONLY | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return false;
    char buf[64] = {};
    const ssize_t n = ::read(fd, buf, sizeof buf - 1);
    ::close(fd);
    if (n <= 0) return false;
    long nPid = 0;
    const bool bText = std::all_of(
        buf, buf + n, [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0 || c == ' ' || c == '\n'; });
    if (n == 4 && !bText) {
        int32_t nBinary = 0;
        std::memcpy(&nBinary, buf, sizeof nBinary);
        nPid = nBinary;
    } else {
        char* pEnd = nullptr;
        nPid = std::strtol(buf, &pEnd, 10);
        if (pEnd == buf) return false;
    }
    if (nPid <= 0) return false;
    // Signal 0 only checks: EPERM means the process exists under another user.
    return ::kill(static_cast<pid_t>(nPid), 0) == 0 || errno == EPERM;
}

// Opens the node without taking it over (no controlling terminal, no wait for
// a carrier) and closes it at once. A node without a port behind it fails; so
// does a port another program holds: in exclusive mode (TIOCEXCL, which root
// may still open), under a flock, or named in a live process's lock file.
bool Opens(const std::string& strPath, const std::string& strLockFolder) {
    const std::string strName = std::filesystem::path(strPath).filename().string();
    if (!strLockFolder.empty() && LockFileOwnedByLiveProcess(strLockFolder + "/LCK.." + strName)) return false;
    const int fd = ::open(strPath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    int nExclusive = 0;
    bool bFree = !(::ioctl(fd, TIOCGEXCL, &nExclusive) == 0 && nExclusive != 0);
    // Our own lock is released with the descriptor.
    if (bFree && ::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) bFree = false;
    ::close(fd);
    return bFree;
}

}  // namespace

bool NaturalLess(const std::string& a, const std::string& b) {
    size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        const bool bDigitA = std::isdigit(static_cast<unsigned char>(a[i])) != 0;
        const bool bDigitB = std::isdigit(static_cast<unsigned char>(b[j])) != 0;
        if (bDigitA && bDigitB) {
            size_t i2 = i, j2 = j;
            while (i2 < a.size() && a[i2] == '0') ++i2;
            while (j2 < b.size() && b[j2] == '0') ++j2;
            size_t iEnd = i2, jEnd = j2;
            while (iEnd < a.size() && std::isdigit(static_cast<unsigned char>(a[iEnd]))) ++iEnd;
            while (jEnd < b.size() && std::isdigit(static_cast<unsigned char>(b[jEnd]))) ++jEnd;
            if (iEnd - i2 != jEnd - j2) return iEnd - i2 < jEnd - j2;
            const int nCmp = a.compare(i2, iEnd - i2, b, j2, jEnd - j2);
            if (nCmp != 0) return nCmp < 0;
            i = iEnd;
            j = jEnd;
            continue;
        }
        if (a[i] != b[j]) return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[j]);
        ++i;
        ++j;
    }
    return a.size() - i < b.size() - j;
}

std::vector<std::string> ListNetworkAdapters() {
    ORVIAcqListNode* pHead = Acquisition_GigeGetAdapterList();
    std::vector<std::string> v = Names(pHead);
    Acquisition_GigeFreeAdapterList(pHead);
    return v;
}

std::vector<std::string> ListSerialPorts(const std::string& strDevFolder, const std::string& strLockFolder) {
    std::vector<std::string> nodes;
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(strDevFolder, ec)) {
        const std::string strName = e.path().filename().string();
        if (IsSerialNodeName(strName)) nodes.push_back(e.path().string());
    }
    std::sort(nodes.begin(), nodes.end(), NaturalLess);
    std::vector<std::string> ports;
    for (const std::string& strPath : nodes)
        if (Opens(strPath, strLockFolder)) ports.push_back(strPath);
    ORVIAcqListNode* pHead = AcquisitionExt_GetSerialPortList();
    for (std::string& strPort : Names(pHead)) ports.push_back(std::move(strPort));
    AcquisitionExt_FreeSerialPortList(pHead);
    return ports;
}

}  // namespace orvi
