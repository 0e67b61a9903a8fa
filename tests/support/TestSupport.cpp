#include "support/TestSupport.h"

#include "app/EventLog.h"

#include <algorithm>
#include <atomic>
#include <clocale>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <unistd.h>

namespace orvi::test {

GermanLocale::GermanLocale() {
    const char* szSaved = std::setlocale(LC_ALL, nullptr);
    m_strSaved = szSaved != nullptr ? szSaved : "C";
    const char* szName = "de_DE.UTF-8";
    if (std::setlocale(LC_ALL, szName) == nullptr) {
        // Not installed: compile it from the locale sources into our own folder.
        m_strLocPath = std::filesystem::temp_directory_path() / ("orvi-locale-" + std::to_string(::getpid()));
        std::filesystem::create_directories(m_strLocPath);
        const std::string strCommand =
            "localedef -i de_DE -f UTF-8 '" + m_strLocPath + "/" + szName + "' >/dev/null 2>&1";
        if (std::system(strCommand.c_str()) != 0) {
            strWhyNot = "de_DE.UTF-8 is not installed and localedef could not build it";
            return;
        }
        ::setenv("LOCPATH", m_strLocPath.c_str(), 1);
        if (std::setlocale(LC_ALL, szName) == nullptr) {
            strWhyNot = "de_DE.UTF-8 could not be set";
            return;
        }
    }
    const std::lconv* pConv = std::localeconv();
    m_bActive = pConv != nullptr && std::string(pConv->decimal_point) == ",";
    if (!m_bActive) strWhyNot = "de_DE.UTF-8 has no decimal comma here";
}

GermanLocale::~GermanLocale() {
    std::setlocale(LC_ALL, m_strSaved.c_str());
    if (!m_strLocPath.empty()) {
        ::unsetenv("LOCPATH");
        std::error_code ec;
        std::filesystem::remove_all(m_strLocPath, ec);
    }
}

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
    std::filesystem::permissions(m_path, std::filesystem::perms::owner_all, std::filesystem::perm_options::add, ec);
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

void RecordingReport::Added(const CNotice& n) {
    if (n.eKind == CNotice::Kind::Log)
        WriteLog(n.strText);
    else
        boxes.push_back({n.strText, n.strCaption.empty() ? std::string(kAppTitle) : n.strCaption, n.eIcon});
}

}  // namespace orvi::test
