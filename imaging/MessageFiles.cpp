#include "imaging/MessageFiles.h"

#include "imaging/RawFile.h"

#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

namespace orvi {

bool CreateEmptyFile(const std::string& strFolder, const std::string& strFileName) {
    std::string strPath = strFolder + strFileName;
    int fd = ::open(strPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    return ::close(fd) == 0;
}

void DeleteFileIn(const std::string& strFolder, const std::string& strFileName) {
    // unlink, not remove: a folder of that name (even an empty one) stays.
    ::unlink((strFolder + strFileName).c_str());
}

std::string DoseIndicatorBytes(int32_t nValue) {
    std::string strDigits = std::to_string(nValue);
    std::string strBytes;
    strBytes.reserve(strDigits.size() * 2);
    for (char ch : strDigits) {
        strBytes.push_back(ch);
        strBytes.push_back('\0');
    }
    return strBytes;
}

bool WriteDoseIndicatorFile(const std::string& strFolder, int32_t nValue) {
    std::string strBytes = DoseIndicatorBytes(nValue);
    return WriteFileReplacing(strFolder + kFileDoseIndicator, strBytes.data(), strBytes.size());
}

}  // namespace orvi
