#include "support/TestSupport.h"

#include <algorithm>
#include <atomic>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <unistd.h>

namespace orvi::test {

TempDir::TempDir() {
    static std::atomic<int> s_nCounter{0};
    namespace fs = std::filesystem;
    for (int i = 0; i < 100; ++i) {
        fs::path p = fs::temp_directory_path() /
                     ("orvi-test-" + std::to_string(::getpid()) + "-" + std::to_string(s_nCounter++));
        if (fs::create_directory(p)) {
            m_path = p;
            return;
        }
    }
    throw std::runtime_error("cannot create a temporary folder");
}

TempDir::~TempDir() {
    std::error_code ec;
    std::filesystem::permissions(m_path, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(m_path, ec);
}

void WriteFile(const std::string& strPath, const std::string& strBytes) {
    std::ofstream out(strPath, std::ios::binary | std::ios::trunc);
    out.write(strBytes.data(), static_cast<std::streamsize>(strBytes.size()));
    if (!out) throw std::runtime_error("cannot write " + strPath);
}

std::string ReadFile(const std::string& strPath) {
    std::ifstream in(strPath, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::vector<std::string> ListFiles(const std::string& strFolder) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(strFolder, ec))
        if (e.is_regular_file()) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace orvi::test
