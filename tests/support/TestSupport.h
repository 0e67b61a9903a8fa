#pragma once
// Helpers shared by the test suites.
#include "acquisition/UiPort.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace orvi::test {

// A fresh folder under the system's temporary folder, removed with the object.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return m_path; }
    // The folder as text ending in '/', as the program keeps its folders.
    std::string dir() const { return m_path.string() + "/"; }
    std::string file(const std::string& strName) const { return (m_path / strName).string(); }

private:
    std::filesystem::path m_path;
};

void WriteFile(const std::string& strPath, const std::string& strBytes);
std::string ReadFile(const std::string& strPath);
// Names of the plain files in a folder, sorted.
std::vector<std::string> ListFiles(const std::string& strFolder);

// A UI port that records what a person would have seen, in order.
class RecordingUi : public IUiPort {
public:
    struct Box {
        std::string strText;
        std::string strCaption;
    };
    void MessageBox(const std::string& strText, const std::string& strCaption) override {
        boxes.push_back({strText, strCaption});
    }
    void SetStatusText(int32_t nPane, const std::string& strText) override {
        status.push_back({nPane, strText});
    }
    std::vector<std::string> texts() const {
        std::vector<std::string> v;
        for (const auto& b : boxes) v.push_back(b.strText);
        return v;
    }

    std::vector<Box> boxes;
    std::vector<std::pair<int32_t, std::string>> status;
};

}  // namespace orvi::test
