#include "FuzzSupport.h"

#include <filesystem>
#include <fstream>
#include <unistd.h>

namespace orvi::fuzz {

const std::string& ScratchFolder() {
    // Never destroyed: the clean-up at exit still needs the name.
    static const std::string& s_strFolder = *new std::string([] {
        std::error_code ec;
        std::filesystem::path base = std::filesystem::is_directory("/dev/shm", ec)
                                         ? std::filesystem::path("/dev/shm")
                                         : std::filesystem::temp_directory_path();
        std::filesystem::path p = base / ("orvi-fuzz-" + std::to_string(::getpid()));
        std::filesystem::create_directories(p, ec);
        std::atexit([] {
            std::error_code e;
            std::filesystem::remove_all(ScratchFolder(), e);
        });
        return p.string() + "/";
    }());
    return s_strFolder;
}

void EmptyFolder(const std::string& strFolder) {
    std::error_code ec;
    for (std::filesystem::directory_iterator it(strFolder, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code ecRemove;
        std::filesystem::remove_all(it->path(), ecRemove);
    }
}

void WriteBytes(const std::string& strPath, const void* p, size_t n) {
    std::ofstream out(strPath, std::ios::binary | std::ios::trunc);
    out.write(static_cast<const char*>(p), static_cast<std::streamsize>(n));
}

}  // namespace orvi::fuzz
