// The station on screen driven through its panel, with the real controller
// and the simulated detector in virtual time: the panel's enable and tick
// states through Connect, Dark and Disconnect; Connect through the adapter
// dialog; Open File; the simulated detector's group.
#include "StationWindowFixture.h"
#include "imaging/RawFile.h"
#include "orviacquire/ORVIAcquireLib.h"
#include "ui/ChildView.h"
#include "ui/GbeDlg.h"
#include "ui/SimulatorBox.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QSpinBox>

#include <numeric>

namespace orvi::test {
namespace {

using Id = CToolDlgBar::ControlId;
using Lines = std::vector<std::string>;

// The panel's controls with an enable state, and which of them are on.
struct PanelStates {
    bool bConnect, bDisconnect, bAcquisition, bOpenConfig, bMakeCalibration, bDark, bNoClear, bSaveAdapter, bOffset,
        bDetector;
};

class StationSession : public StationWindow {
protected:
    void ExpectPanel(const PanelStates& s, const char* szWhen) {
        const std::pair<int, bool> states[] = {
            {Id::IDC_CONNECT, s.bConnect},
            {Id::IDC_DISCONNECT, s.bDisconnect},
            {Id::IDC_ACQUISITION, s.bAcquisition},
            {Id::IDC_OPEN_CONFIG, s.bOpenConfig},
            {Id::IDC_MAKE_CALIBRATION, s.bMakeCalibration},
            {Id::IDC_DARK, s.bDark},
            {Id::IDC_NO_CLEAR, s.bNoClear},
            {Id::IDC_SAVE_ADAPTER, s.bSaveAdapter},
            {Id::IDC_OFFSET_SELECTOR, s.bOffset},
            {Id::IDC_DETECTOR_SELECTOR, s.bDetector},
        };
        for (const auto& [nId, bOn] : states) EXPECT_EQ(Enabled(nId), bOn) << szWhen << ": control " << nId;
        EXPECT_TRUE(Enabled(Id::IDC_OPEN_FILE)) << szWhen << ": Open File is always enabled";
    }
};

constexpr PanelStates kIdle{true, false, false, false, false, false, false, false, false, false};
constexpr PanelStates kConnected{false, true, true, true, true, true, true, true, true, true};
constexpr PanelStates kDarkRunning{false, false, false, false, true, false, false, true, true, true};

TEST_F(StationSession, PanelFollowsConnectDarkAndDisconnect) {
    ASSERT_NO_FATAL_FAILURE(Create());
    ExpectPanel(kIdle, "start");
    EXPECT_FALSE(Panel()->CheckBox(Id::IDC_SHOW_NETWORK)->isChecked());

    Click(Id::IDC_CONNECT);
    ExpectPanel(kConnected, "connected");
    EXPECT_FALSE(Panel()->DetectorSelector()->isVisible()) << "one detector: the selector stays hidden";
    EXPECT_TRUE(std::filesystem::exists(m_strImageDir + "Connection success.txt"));
    m_clock.advance(1000);

    // Dark: its window greys the acquisition commands and refuses Close.
    Click(Id::IDC_DARK);
    ExpectPanel(kDarkRunning, "dark running");
    EXPECT_FALSE(Window().close());
    EXPECT_TRUE(Window().isVisible());
    Click(Id::IDC_ACQUISITION);  // greyed: nothing happens
    EXPECT_EQ(Frame().Sequencer().AcqMode(), ACQ_IMAGE);
    m_clock.advance(kDarkTimerMs);
    ExpectPanel(kConnected, "dark over");

    Click(Id::IDC_DISCONNECT);
    ExpectPanel(kIdle, "disconnected");
    EXPECT_EQ(Frame().DetectorA(), 0u);

    // Show Network Window ticks from the controller's flag; Disconnect leaves it.
    Click(Id::IDC_SHOW_NETWORK);
    EXPECT_TRUE(Panel()->CheckBox(Id::IDC_SHOW_NETWORK)->isChecked());
    EXPECT_EQ(m_app.m_imageStore.m_bShowNetworkWindow, 1);
    EXPECT_TRUE(Window().close()) << "closing disconnects first";
}

TEST_F(StationSession, BothDetectorsShowTheDetectorSelectorAndItSwitches) {
    SetConfig("DETECTOR_NAME_2", "B");
    SetConfig("COM_NAME_2", "SIMCOM2");
    SetConfig("ADAPTER_NAME_2", "Simulated GigE Adapter 2");
    ASSERT_NO_FATAL_FAILURE(CreateAndConnect());
    QComboBox* pSelector = Panel()->DetectorSelector();
    EXPECT_TRUE(pSelector->isVisible());
    ASSERT_NE(Frame().DetectorB(), 0u);
    EXPECT_EQ(Frame().Detector(), Frame().DetectorA());
    // The operator picks "B" from the list.
    pSelector->setCurrentIndex(1);
    emit pSelector->activated(1);
    EXPECT_EQ(Frame().Detector(), Frame().DetectorB());
    EXPECT_EQ(Panel()->OffsetSelector()->currentIndex(), 0);
    EXPECT_EQ(QApplication::focusWidget(), Panel()->Control(Id::IDC_MAKE_CALIBRATION));
}

TEST_F(StationSession, ConnectThroughTheAdapterDialogOpensTheChosenNamesAndCancelOpensNothing) {
    // The names in the file are not the ones chosen: a failed open would show it.
    SetConfig("ADAPTER_NAME_1", "none");
    ASSERT_NO_FATAL_FAILURE(Create());
    Click(Id::IDC_SHOW_NETWORK);
    MessageBoxCloser closer;
    {
        WhenModal<CGbeDlg> cancel([](CGbeDlg* pDlg) { pDlg->reject(); });
        Click(Id::IDC_CONNECT);
        EXPECT_TRUE(cancel.bSeen);
    }
    EXPECT_EQ(Frame().DetectorA(), 0u);
    ExpectPanel(kIdle, "cancelled");

    WhenModal<CGbeDlg> choose([](CGbeDlg* pDlg) {
        EXPECT_EQ(pDlg->windowTitle().toStdString(), "Select network adapter");
        EXPECT_FALSE(pDlg->Control(CGbeDlg::IDC_ADAPTER_2)->isEnabled()) << "no second detector";
        QComboBox* pPort = pDlg->Box(CGbeDlg::IDC_PORT_1);
        QComboBox* pAdapter = pDlg->Box(CGbeDlg::IDC_ADAPTER_1);
        EXPECT_GE(pPort->findText(QStringLiteral("SIMCOM1")), 0);
        pPort->setCurrentIndex(pPort->findText(QStringLiteral("SIMCOM1")));
        pAdapter->setCurrentIndex(pAdapter->findText(QStringLiteral("Simulated GigE Adapter 1")));
        qobject_cast<QPushButton*>(pDlg->Control(CGbeDlg::IDOK))->click();
    });
    Click(Id::IDC_CONNECT);
    EXPECT_TRUE(choose.bSeen);
    EXPECT_EQ(closer.texts, Lines{});
    EXPECT_NE(Frame().DetectorA(), 0u);
    ExpectPanel(kConnected, "connected through the dialog");
    EXPECT_EQ(Ini("ADAPTER_NAME_1"), "Simulated GigE Adapter 1");
    EXPECT_EQ(Ini("SELECT_ADAPTER"), "1");
}

TEST_F(StationSession, OpenFileShowsAShortRawFileAndZerosAfterIt) {
    ASSERT_NO_FATAL_FAILURE(Create());
    std::filesystem::create_directories(m_strImageDir);
    std::vector<uint16_t> pixels(1000);
    std::iota(pixels.begin(), pixels.end(), uint16_t{1});
    const std::string strFile = m_strImageDir + "SHORT.RAW";
    ASSERT_TRUE(WriteRawFile(strFile, pixels.data(), pixels.size()));
    WriteFile(m_strImageDir + "notes.txt", "not an image");

    WhenModal<QFileDialog> pick([&](QFileDialog* pDlg) {
        EXPECT_EQ(pDlg->nameFilters(), QStringList{QStringLiteral("Load files(*.*) (*.RAW *.raw)")});
        EXPECT_TRUE(pDlg->testOption(QFileDialog::HideNameFilterDetails)) << "the operator sees \"Load files(*.*)\"";
        EXPECT_EQ(pDlg->fileMode(), QFileDialog::ExistingFiles);
        EXPECT_EQ(pDlg->directory().absolutePath().toStdString() + "/", m_strImageDir);
        pDlg->selectFile(QString::fromStdString(strFile));
        static_cast<QDialog*>(pDlg)->accept();  // the dialog's own Open
    });
    Click(Id::IDC_OPEN_FILE);
    ASSERT_TRUE(pick.bSeen);

    const CImageStore& store = m_app.m_imageStore;
    ASSERT_EQ(store.m_pDisplay.size(), size_t{kUiSide} * kUiSide);
    EXPECT_TRUE(std::equal(pixels.begin(), pixels.end(), store.m_pDisplay.begin()));
    EXPECT_TRUE(
        std::all_of(store.m_pDisplay.begin() + 1000, store.m_pDisplay.end(), [](uint16_t v) { return v == 0; }));
    EXPECT_EQ(store.m_bNewImage, 1);
    Window().View()->repaint();
    EXPECT_EQ(store.m_bNewImage, 0) << "the view converted the file's picture";

    // A cancelled dialog changes nothing.
    WhenModal<QFileDialog> cancel([](QFileDialog* pDlg) { pDlg->reject(); });
    Click(Id::IDC_OPEN_FILE);
    EXPECT_TRUE(cancel.bSeen);
    EXPECT_EQ(store.m_pDisplay[0], 1);
}

std::vector<uint16_t> ReadPixels(const std::string& strPath) {
    const std::string strBytes = ReadFile(strPath);
    std::vector<uint16_t> v(strBytes.size() / 2);
    for (size_t i = 0; i < v.size(); ++i)
        v[i] = uint16_t(uint8_t(strBytes[2 * i]) | (uint8_t(strBytes[2 * i + 1]) << 8));
    return v;
}

// Mean of the pixels of a rectangle of a saved image (kUiSide wide).
double MeanIn(const std::vector<uint16_t>& image, const ORVIAcqSimRect& rc) {
    double fSum = 0;
    for (int32_t r = rc.nY; r < rc.nY + rc.nHeight; ++r)
        for (int32_t c = rc.nX; c < rc.nX + rc.nWidth; ++c) fSum += image[size_t(r) * kUiSide + size_t(c)];
    return fSum / (double(rc.nWidth) * rc.nHeight);
}

TEST_F(StationSession, SimulatorGroupTakesTheObjectOutOfTheBeamForTheNextExposures) {
    SetConfig("CALIBRATION", "0");
    SetConfig("MEDIAN_FILTER", "0");
    SetSim("NOISE", "0");
    SetSim("DOSE", "6000");
    ASSERT_NO_FATAL_FAILURE(Create());
    CSimulatorBox* pBox = Window().SimulatorBox();
    ASSERT_NE(pBox, nullptr) << "the library is the simulator";
    EXPECT_TRUE(pBox->ObjectIn());
    EXPECT_EQ(pBox->Dose(), 6000) << "from the configuration file";
    // The group sits below the operator's controls.
    EXPECT_GT(pBox->mapTo(Panel(), QPoint()).y(), Panel()->Control(Id::IDC_WINDOW_GROUP)->mapTo(Panel(), QPoint()).y());

    // Out of the beam before Connect: it holds for the detector that opens.
    pBox->ObjectBox()->click();
    Click(Id::IDC_CONNECT);
    m_clock.advance(1000);
    ORVIAcqSimRect rcObject{};
    ASSERT_EQ(AcquisitionSim_GetObjectRect(Frame().Detector(), &rcObject), ORVIACQ_OK);
    // The object's rectangle in the saved image (each row mirrored).
    const ORVIAcqSimRect rcSaved{kUiSide - rcObject.nX - rcObject.nWidth, rcObject.nY, rcObject.nWidth,
                                 rcObject.nHeight};
    const ORVIAcqSimRect rcOpen{0, 0, kUiSide, 8};
    auto expose = [&] {
        Click(Id::IDC_ACQUISITION);
        m_clock.advance(30000);
        return ReadPixels(m_strImageDir + "IMAGE.RAW");
    };
    const std::vector<uint16_t> out = expose();
    ASSERT_EQ(out.size(), size_t{kUiSide} * kUiSide);
    const double fOpen = MeanIn(out, rcOpen);
    EXPECT_GT(MeanIn(out, rcSaved), 0.9 * fOpen) << "open beam";

    pBox->ObjectBox()->click();
    const std::vector<uint16_t> in = expose();
    EXPECT_LT(MeanIn(in, rcSaved), 0.95 * MeanIn(out, rcSaved)) << "the object absorbs";
    EXPECT_NEAR(MeanIn(in, rcOpen), fOpen, 0.01 * fOpen) << "outside it the beam is open";

    // The dose box sets the dose of the next exposure.
    pBox->DoseBox()->setValue(3000);
    const std::vector<uint16_t> low = expose();
    EXPECT_LT(MeanIn(low, rcOpen), 0.7 * fOpen);
}

}  // namespace
}  // namespace orvi::test
