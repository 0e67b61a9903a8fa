#pragma once
// Helpers shared by the test suites.
#include "acquisition/UiPort.h"

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace orvi::test {

// The process's locale switched to German (decimal comma) for a scope. When
// de_DE.UTF-8 is not installed it is compiled into a temporary folder with
// localedef; Active() is false (with the reason in strWhyNot) when neither works.
class GermanLocale {
public:
    GermanLocale();
    ~GermanLocale();
    GermanLocale(const GermanLocale&) = delete;
    GermanLocale& operator=(const GermanLocale&) = delete;
    bool Active() const { return m_bActive; }
    std::string strWhyNot;

private:
    std::string m_strSaved;
    std::string m_strLocPath;  // the folder LOCPATH was set to, or empty
    bool m_bActive = false;
};

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
        MessageIcon eIcon = MessageIcon::Information;
    };
    void MessageBox(const std::string& strText, const std::string& strCaption) override {
        MessageBox(strText, strCaption, MessageIcon::Information);
    }
    void MessageBox(const std::string& strText, const std::string& strCaption, MessageIcon eIcon) override {
        boxes.push_back({strText, strCaption, eIcon});
        if (onMessage) onMessage(strText);
    }
    void SetStatusText(int32_t nPane, const std::string& strText) override { status.push_back({nPane, strText}); }
    void PanelChanged() override { ++nPanelChanged; }
    bool RunAdapterDialog(CAdapterChoice& choice) override {
        ++nAdapterDialogs;
        if (!adapterChoice) return false;
        choice = *adapterChoice;
        return true;
    }
    void RunCalibrationDialog() override {
        ++nCalibrationDialogs;
        if (onCalibrationDialog) onCalibrationDialog();
    }
    void CalibrationChanged() override { ++nCalibrationChanged; }
    void ShowConfigDialog() override { ++nShowConfig; }
    void ConfigDialogChanged() override { ++nConfigChanged; }
    void ConfigDialogDestroyed() override { ++nConfigDestroyed; }
    void SetCloseEnabled(bool bEnabled) override { closeEnabled.push_back(bEnabled); }
    void ExitProgram(int nCode) override { exitCodes.push_back(nCode); }
    void FileSaved(const std::string& strPath) override { savedFiles.push_back(strPath); }
    void FocusMakeCalibration() override { ++nFocusMakeCalibration; }

    std::vector<std::string> texts() const {
        std::vector<std::string> v;
        for (const auto& b : boxes) v.push_back(b.strText);
        return v;
    }
    // Texts written to one status pane, in order.
    std::vector<std::string> pane(int32_t nPane) const {
        std::vector<std::string> v;
        for (const auto& [n, s] : status)
            if (n == nPane) v.push_back(s);
        return v;
    }

    std::vector<Box> boxes;
    std::vector<std::pair<int32_t, std::string>> status;
    std::function<void(const std::string&)> onMessage;
    std::optional<CAdapterChoice> adapterChoice;  // the adapter dialog's OK; none = Cancel
    std::function<void()> onCalibrationDialog;    // what the operator does in it
    int nPanelChanged = 0;
    int nAdapterDialogs = 0;
    int nCalibrationDialogs = 0;
    int nCalibrationChanged = 0;
    int nShowConfig = 0;
    int nConfigChanged = 0;
    int nConfigDestroyed = 0;
    int nFocusMakeCalibration = 0;
    std::vector<bool> closeEnabled;
    std::vector<int> exitCodes;
    std::vector<std::string> savedFiles;
};

// A report that records its message boxes as the controller would show them
// (captioned with the application title unless the notice names its own) and
// writes its log lines to the event log at once.
class RecordingReport : public CReport {
public:
    using Box = RecordingUi::Box;

    std::vector<std::string> texts() const {
        std::vector<std::string> v;
        for (const auto& b : boxes) v.push_back(b.strText);
        return v;
    }

    std::vector<Box> boxes;

private:
    void Added(const CNotice& n) override;
};

}  // namespace orvi::test
