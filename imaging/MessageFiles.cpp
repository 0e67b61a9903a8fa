#include "imaging/MessageFiles.h"

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
    std::remove((strFolder + strFileName).c_str());
}

}  // namespace orvi
