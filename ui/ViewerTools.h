#pragma once
// The operator's reading tools around the image view, kept apart from the
// main window's own duties: the histogram panel in the control panel, the
// history strip under the view, the window title that says what is on
// screen, the guide before the first image, and the keyboard (the view's keys
// work wherever the focus is in the main window, unless a box takes them).
// It is an image sink of the controller: each finished exposure updates the
// title and the strip.
#include "imaging/AcquiredImage.h"

#include <QObject>
#include <QString>

#include <cstdint>
#include <string>

class QMainWindow;
class QWidget;

namespace orvi {

class CChildView;
class CHistogramPanel;
class CHistoryStrip;
class CMainFrame;
class CMeridStatusBar;
class CPanelState;
class CToolDlgBar;

class CViewerTools final : public QObject, public IImageSink {
    Q_OBJECT
public:
    // Builds the central area (the view above the strip); Central() goes to
    // setCentralWidget.
    CViewerTools(QMainWindow& window, CMainFrame& frame, CChildView* pView);
    ~CViewerTools() override;

    QWidget* Central() const { return m_pCentral; }
    CHistoryStrip* Strip() const { return m_pStrip; }
    CHistogramPanel* HistogramPanel() const { return m_pHistogram; }

    // Once the panel and the status bar exist: the histogram panel goes under
    // the window boxes, the keys are installed.
    void Attach(CToolDlgBar* pBar, CMeridStatusBar* pStatusBar);

    // [VIEW] AUTO_WINDOW and [CONFIG] PIXEL_PITCH_UM, read after the frame's creation.
    void LoadSettings(const std::string& strIniPath);

    // The guide before the first image follows the connection.
    void UpdateGuide(const CPanelState& panel);

    // Open File showed a file: the title names it.
    void ShowingFile(const std::string& strPath);
    // Images the view has shown so far (exposures, files, history entries).
    uint64_t ImagesShown() const { return m_nImagesShown; }

    // A history entry of the strip on screen: false (after a message) when
    // its file is gone or does not fit the configured image.
    bool ShowHistoryEntry(int nIndex);

    // IImageSink
    void OnImageAcquired(const AcquiredImagePtr& pImage) override;

    // The title's base and " - what is on screen".
    void SetShownTitle(const QString& strWhat);

protected:
    bool eventFilter(QObject* pWatched, QEvent* pEvent) override;

private:
    QMainWindow& m_window;
    CMainFrame& m_frame;
    CChildView* m_pView;
    QWidget* m_pCentral = nullptr;
    CHistoryStrip* m_pStrip = nullptr;
    CHistogramPanel* m_pHistogram = nullptr;
    CMeridStatusBar* m_pStatusBar = nullptr;
    uint64_t m_nImagesShown = 0;
    size_t m_nHistorySeen = 0;
};

}  // namespace orvi
