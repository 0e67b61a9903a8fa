#include "ui/ViewerTools.h"

#include "acquisition/MainFrame.h"
#include "app/ConfigKeys.h"
#include "app/Startup.h"
#include "imaging/RawFile.h"
#include "ui/ChildView.h"
#include "ui/HistogramPanel.h"
#include "ui/HistoryStrip.h"
#include "ui/MeridStatusBar.h"
#include "ui/ToolDlgBar.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QMainWindow>
#include <QVBoxLayout>

#include <ctime>
#include <filesystem>

namespace orvi {

namespace {

QString TimeText(std::chrono::system_clock::time_point t) {
    const std::time_t tt = std::chrono::system_clock::to_time_t(t);
    std::tm tm{};
    localtime_r(&tt, &tm);
    char sz[16];
    std::snprintf(sz, sizeof sz, "%02d:%02d:%02d", tm.tm_hour, tm.tm_min, tm.tm_sec);
    return QString::fromLatin1(sz);
}

QString FileName(const std::string& strPath) {
    return QString::fromStdString(std::filesystem::path(strPath).filename().string());
}

}  // namespace

CViewerTools::CViewerTools(QMainWindow& window, CMainFrame& frame, CChildView* pView)
    : QObject(&window), m_window(window), m_frame(frame), m_pView(pView) {
    m_pCentral = new QWidget(&window);
    m_pCentral->setObjectName(QStringLiteral("ViewArea"));
    auto* pColumn = new QVBoxLayout(m_pCentral);
    pColumn->setContentsMargins(0, 0, 0, 0);
    pColumn->setSpacing(0);
    pView->setParent(m_pCentral);
    pColumn->addWidget(pView, 1);
    m_pStrip = new CHistoryStrip(m_pCentral);
    pColumn->addWidget(m_pStrip);
    connect(m_pStrip, &CHistoryStrip::EntryChosen, this, [this](int n) { ShowHistoryEntry(n); });
    connect(pView, &CChildView::NewImageShown, this, [this] { ++m_nImagesShown; });
    m_frame.AddImageSink(this);
}

CViewerTools::~CViewerTools() { m_frame.RemoveImageSink(this); }

void CViewerTools::Attach(CToolDlgBar* pBar, CMeridStatusBar* pStatusBar) {
    m_pStatusBar = pStatusBar;
    m_pHistogram = new CHistogramPanel(m_pView);
    pBar->AddBelowWindowGroup(m_pHistogram);
    // Typed boxes move the handles too.
    for (QWidget* pEdit : {static_cast<QWidget*>(pBar->WidthEdit()), static_cast<QWidget*>(pBar->LevelEdit())})
        connect(static_cast<QLineEdit*>(pEdit), &QLineEdit::textChanged, m_pHistogram->Plot(),
                qOverload<>(&QWidget::update));
    // The view's keys reach it from anywhere in the window: key presses that
    // no control took travel up to the window, where this filter sees them.
    m_window.installEventFilter(this);
}

void CViewerTools::LoadSettings(const std::string& strIniPath) {
    m_pView->SetAutoWindow(cfg::ReadView(strIniPath, cfg::AUTO_WINDOW) != 0);
    m_pView->SetPixelPitchUm(cfg::Read(strIniPath, cfg::PIXEL_PITCH_UM));
}

bool CViewerTools::eventFilter(QObject* pWatched, QEvent* pEvent) {
    if (pWatched == &m_window && pEvent->type() == QEvent::KeyPress) {
        auto* pKey = static_cast<QKeyEvent*>(pEvent);
        if (m_pView->HandleKey(pKey->key(), pKey->modifiers())) return true;
    }
    return QObject::eventFilter(pWatched, pEvent);
}

void CViewerTools::UpdateGuide(const CPanelState& panel) {
    const bool bConnected = !panel.bConnect;
    QStringList lines;
    if (bConnected)
        lines << QStringLiteral("Press Acquisition or the hand switch");
    else
        lines << QStringLiteral("Connect the detector") << QStringLiteral("then press Acquisition or the hand switch");
    lines << QStringLiteral("or Open File (Ctrl+O) to view a saved image");
    m_pView->SetGuideLines(lines);
}

void CViewerTools::SetShownTitle(const QString& strWhat) {
    const QString strBase = QString::fromUtf8(kFrameTitle);
    m_window.setWindowTitle(strWhat.isEmpty() ? strBase : strBase + QStringLiteral(" - ") + strWhat);
}

void CViewerTools::ShowingFile(const std::string& strPath) {
    SetShownTitle(FileName(strPath));
    m_pStrip->SetCurrent(-1);
}

void CViewerTools::OnImageAcquired(const AcquiredImagePtr& pImage) {
    if (!pImage) return;
    SetShownTitle(FileName(pImage->strSavedPath) + QLatin1Char(' ') + TimeText(pImage->tAcquired));
    // The history's entry of this image, when it kept one.
    const CImageHistory* pHistory = m_frame.History();
    if (pHistory != nullptr && pHistory->RunEntries().size() > m_nHistorySeen) {
        m_nHistorySeen = pHistory->RunEntries().size();
        m_pStrip->AddEntry(pHistory->RunEntries().back(), *pImage);
    } else {
        m_pStrip->SetCurrent(-1);
    }
}

bool CViewerTools::ShowHistoryEntry(int nIndex) {
    if (nIndex < 0 || nIndex >= int(m_pStrip->Entries().size())) return false;
    const CHistoryEntry& e = m_pStrip->Entries()[size_t(nIndex)];
    std::vector<uint16_t> pixels(size_t(e.nWidth) * size_t(e.nHeight));
    if (ReadRawFile(e.strRawPath, pixels.data(), pixels.size()) != RawRead::Ok) {
        m_frame.Ui().ShowWarning("This image is no longer in the history:\n" + e.strRawPath);
        return false;
    }
    CImageStore& store = m_frame.App().m_imageStore;
    if (!store.StoreCutFrame(0, pixels.data(), e.nWidth, e.nHeight, e.nCutLeft, e.nCutTop)) {
        m_frame.Ui().ShowWarning("This history image (" + std::to_string(e.nWidth) + " x " + std::to_string(e.nHeight) +
                                 ") does not fit the configured image size.");
        return false;
    }
    const QString strName = QString::fromStdString(e.strName) + QStringLiteral(".RAW");
    SetShownTitle(strName + QLatin1Char(' ') + QString::fromStdString(e.strTime) + QStringLiteral(" (history)"));
    if (m_pStatusBar != nullptr) m_pStatusBar->SetPaneText(4, QStringLiteral("History: ") + strName);
    m_pStrip->SetCurrent(nIndex);
    return true;
}

}  // namespace orvi
