// The control panel: its controls in order with their captions and
// visibility, enable and tick states applied from the controller's flags,
// one signal per command, the selectors, and the window width and level boxes
// with their limits.
#include "UiTestSupport.h"
#include "ui/ChildView.h"
#include "ui/ToolDlgBar.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>

#include <gtest/gtest.h>

#include <functional>
#include <ostream>

namespace orvi {
namespace {

using Id = CToolDlgBar::ControlId;

class ToolDlgBarTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::LoadStore(m_store, 64, 64, [](int32_t c, int32_t r) { return uint16_t(c * 100 + r); });
        m_panel.SetState(&m_state);
    }
    std::string Caption(int nId) const {
        QWidget* w = m_panel.Control(nId);
        if (auto* b = qobject_cast<QAbstractButton*>(w)) return b->text().toStdString();
        if (auto* g = qobject_cast<QGroupBox*>(w)) return g->title().toStdString();
        if (auto* e = qobject_cast<QLineEdit*>(w)) return e->text().toStdString();
        if (auto* c = qobject_cast<QComboBox*>(w)) {
            std::string s;
            for (int i = 0; i < c->count(); ++i) {
                if (i) s += ',';
                s += c->itemText(i).toStdString();
            }
            return s;
        }
        return "?";
    }
    bool Shown(int nId) const { return m_panel.Control(nId)->isVisibleTo(&m_panel); }

    CImageStore m_store;
    CChildView m_view{m_store};
    CPanelState m_state;
    CToolDlgBar m_panel{&m_view};
};

struct ControlCase {
    int nId;
    const char* szCaption;
    bool bShown;
};

// Template order, top to bottom, with captions (the selectors' entries, the
// edits' first texts) and whether each shows at start.
const ControlCase kControls[] = {
    {Id::IDC_CONNECTION_GROUP, "Connection", true},
    {Id::IDC_CONNECT, "Connect", true},
    {Id::IDC_DISCONNECT, "Disconnect", true},
    {Id::IDC_SHOW_NETWORK, "Show Network Window", true},
    {Id::IDC_ACQUISITION_GROUP, "", true},
    {Id::IDC_ACQUISITION, "Acqusition", true},
    {Id::IDC_OPEN_CONFIG, "Open Config", true},
    {Id::IDC_MAKE_CALIBRATION, "Make Calibration files", true},
    {Id::IDC_FILE_GROUP, "", true},
    {Id::IDC_OPEN_FILE, "Open File", true},
    {Id::IDC_WINDOW_GROUP, "", true},
    {Id::IDC_WINDOW_WIDTH, "16383", true},
    {Id::IDC_WINDOW_LEVEL, "8191", true},
    {Id::IDC_DARK, "Dark", false},
    {Id::IDC_OFFSET_SELECTOR, "NO,PREV,POST", false},
    {Id::IDC_DETECTOR_SELECTOR, "A,B", false},
    {Id::IDC_GAIN, "Gain", false},
    {Id::IDC_DEFECT, "Defect", false},
    {Id::IDC_NO_CLEAR, "No Clear", false},
    {Id::IDC_SAVE_ADAPTER, "Save adapter", false},
};

TEST_F(ToolDlgBarTest, EveryControlWithItsCaptionAndStartingVisibility) {
    for (const ControlCase& c : kControls) {
        ASSERT_NE(m_panel.Control(c.nId), nullptr) << c.nId;
        EXPECT_EQ(Caption(c.nId), c.szCaption) << c.nId;
        EXPECT_EQ(Shown(c.nId), c.bShown) << c.nId;
    }
    EXPECT_FALSE(m_panel.OffsetLabel()->isVisibleTo(&m_panel));
    EXPECT_EQ(m_panel.OffsetLabel()->text().toStdString(), "Offset:");
    EXPECT_EQ(m_panel.OffsetSelector()->currentIndex(), 0);
    EXPECT_EQ(m_panel.DetectorSelector()->currentIndex(), 0);
    EXPECT_EQ(m_panel.features(), QDockWidget::NoDockWidgetFeatures) << "neither floatable nor closable";
}

TEST_F(ToolDlgBarTest, ControlsReadTopToBottomInTemplateOrder) {
    // Show the hidden ones too, to see where they sit.
    for (const ControlCase& c : kControls) m_panel.Control(c.nId)->setVisible(true);
    m_panel.OffsetLabel()->setVisible(true);
    m_panel.resize(220, 900);
    m_panel.show();
    QApplication::processEvents();
    auto pos = [this](QWidget* w) { return w->mapTo(&m_panel, QPoint(0, 0)); };
    QPoint ptPrev(-1, -1);
    for (const ControlCase& c : kControls) {
        const QPoint pt = pos(m_panel.Control(c.nId));
        EXPECT_TRUE(pt.y() > ptPrev.y() || (pt.y() == ptPrev.y() && pt.x() > ptPrev.x()))
            << c.szCaption << " (" << c.nId << ") is out of order";
        ptPrev = pt;
    }
    EXPECT_LT(pos(m_panel.Control(Id::IDC_DARK)).y(), pos(m_panel.OffsetLabel()).y());
    EXPECT_LT(pos(m_panel.OffsetLabel()).y(), pos(m_panel.OffsetSelector()).y());
    // The labels sit left of their boxes.
    for (QLineEdit* e : {m_panel.WidthEdit(), m_panel.LevelEdit()}) {
        bool bLabelLeft = false;
        for (QLabel* l : m_panel.Control(Id::IDC_WINDOW_GROUP)->findChildren<QLabel*>())
            bLabelLeft |= l->geometry().center().y() == e->geometry().center().y() && l->x() < e->x();
        EXPECT_TRUE(bLabelLeft);
    }
}

// ---- Enable and tick states from the controller's flags ----------------------

constexpr int kFlagged[] = {Id::IDC_CONNECT,
                            Id::IDC_DISCONNECT,
                            Id::IDC_OPEN_CONFIG,
                            Id::IDC_ACQUISITION,
                            Id::IDC_DARK,
                            Id::IDC_NO_CLEAR,
                            Id::IDC_SAVE_ADAPTER,
                            Id::IDC_MAKE_CALIBRATION,
                            Id::IDC_OFFSET_SELECTOR,
                            Id::IDC_DETECTOR_SELECTOR};

struct StateCase {
    const char* szName;
    std::function<void(CPanelState&)> fnEvents;
    std::vector<int> enabled;  // of kFlagged
};
void PrintTo(const StateCase& c, std::ostream* os) { *os << c.szName; }

class PanelStateTest : public ToolDlgBarTest, public ::testing::WithParamInterface<StateCase> {};

TEST_P(PanelStateTest, EnablesExactlyWhatTheFlagsSay) {
    GetParam().fnEvents(m_state);
    m_panel.ApplyState();
    for (int nId : kFlagged) {
        const bool bExpected = std::count(GetParam().enabled.begin(), GetParam().enabled.end(), nId) > 0;
        EXPECT_EQ(m_panel.Control(nId)->isEnabled(), bExpected) << nId;
    }
    // Always usable: Open File, the network box, the window boxes.
    for (int nId : {Id::IDC_OPEN_FILE, Id::IDC_SHOW_NETWORK, Id::IDC_WINDOW_WIDTH, Id::IDC_WINDOW_LEVEL})
        EXPECT_TRUE(m_panel.Control(nId)->isEnabled()) << nId;
}

const std::vector<int> kAllButConnect = {
    Id::IDC_DISCONNECT,       Id::IDC_OPEN_CONFIG,  Id::IDC_ACQUISITION,      Id::IDC_DARK,
    Id::IDC_NO_CLEAR,         Id::IDC_SAVE_ADAPTER, Id::IDC_MAKE_CALIBRATION, Id::IDC_OFFSET_SELECTOR,
    Id::IDC_DETECTOR_SELECTOR};

INSTANTIATE_TEST_SUITE_P(Events, PanelStateTest,
                         ::testing::Values(StateCase{"Created", [](CPanelState&) {}, {Id::IDC_CONNECT}},
                                           StateCase{"Connected", [](CPanelState& s) { s.SetConnected(); },
                                                     kAllButConnect},
                                           StateCase{"DarkRunning",
                                                     [](CPanelState& s) {
                                                         s.SetConnected();
                                                         s.SetDarkRunning(true);
                                                     },
                                                     {Id::IDC_SAVE_ADAPTER, Id::IDC_MAKE_CALIBRATION,
                                                      Id::IDC_OFFSET_SELECTOR, Id::IDC_DETECTOR_SELECTOR}},
                                           StateCase{"DarkDone",
                                                     [](CPanelState& s) {
                                                         s.SetConnected();
                                                         s.SetDarkRunning(true);
                                                         s.SetDarkRunning(false);
                                                     },
                                                     kAllButConnect},
                                           StateCase{"Disconnected",
                                                     [](CPanelState& s) {
                                                         s.SetConnected();
                                                         s.SetDisconnected();
                                                     },
                                                     {Id::IDC_CONNECT}}),
                         [](const auto& info) { return std::string(info.param.szName); });

TEST_F(ToolDlgBarTest, TicksFollowTheFlagsNotTheClick) {
    QCheckBox* pNetwork = m_panel.CheckBox(Id::IDC_SHOW_NETWORK);
    QSignalSpy spy(&m_panel, &CToolDlgBar::ShowNetworkWindowClicked);
    pNetwork->click();
    EXPECT_EQ(spy.count(), 1);
    EXPECT_FALSE(pNetwork->isChecked()) << "no handler set the flag: the tick goes back";

    // A handler that inverts the flag, as the controller's does.
    QObject::connect(&m_panel, &CToolDlgBar::ShowNetworkWindowClicked,
                     [this] { m_state.bShowNetworkTicked = !m_state.bShowNetworkTicked; });
    pNetwork->click();
    EXPECT_TRUE(pNetwork->isChecked());
    pNetwork->click();
    EXPECT_FALSE(pNetwork->isChecked());

    m_state.bGainTicked = true;
    m_state.bDefectTicked = true;
    m_panel.ApplyState();
    EXPECT_TRUE(m_panel.CheckBox(Id::IDC_GAIN)->isChecked());
    EXPECT_TRUE(m_panel.CheckBox(Id::IDC_DEFECT)->isChecked());
}

TEST_F(ToolDlgBarTest, StateIsReappliedWhenTheEventLoopGoesIdle) {
    m_state.SetConnected();
    QApplication::processEvents(QEventLoop::AllEvents);  // the dispatcher blocks once, briefly
    QEventLoop loop;
    QTimer::singleShot(10, &loop, &QEventLoop::quit);
    loop.exec();
    EXPECT_TRUE(m_panel.Button(Id::IDC_ACQUISITION)->isEnabled());
    EXPECT_FALSE(m_panel.Button(Id::IDC_CONNECT)->isEnabled());
}

TEST_F(ToolDlgBarTest, DetectorSelectorShownOnlyWhenTheStateSays) {
    m_state.SetConnected();
    m_panel.ApplyState();
    EXPECT_FALSE(Shown(Id::IDC_DETECTOR_SELECTOR)) << "enabled but hidden with one detector";
    EXPECT_TRUE(m_panel.DetectorSelector()->isEnabled());
    m_state.bDetectorSelectorVisible = true;
    m_panel.ApplyState();
    EXPECT_TRUE(Shown(Id::IDC_DETECTOR_SELECTOR));
    for (int nId :
         {Id::IDC_DARK, Id::IDC_OFFSET_SELECTOR, Id::IDC_GAIN, Id::IDC_DEFECT, Id::IDC_NO_CLEAR, Id::IDC_SAVE_ADAPTER})
        EXPECT_FALSE(Shown(nId)) << nId << " stays hidden for the life of the panel";
}

// ---- One signal per command ---------------------------------------------------

TEST_F(ToolDlgBarTest, EveryButtonAndBoxSendsItsOwnCommand) {
    const std::pair<int, void (CToolDlgBar::*)()> kCommands[] = {
        {Id::IDC_CONNECT, &CToolDlgBar::ConnectClicked},
        {Id::IDC_DISCONNECT, &CToolDlgBar::DisconnectClicked},
        {Id::IDC_SHOW_NETWORK, &CToolDlgBar::ShowNetworkWindowClicked},
        {Id::IDC_ACQUISITION, &CToolDlgBar::AcquisitionClicked},
        {Id::IDC_OPEN_CONFIG, &CToolDlgBar::OpenConfigClicked},
        {Id::IDC_MAKE_CALIBRATION, &CToolDlgBar::MakeCalibrationClicked},
        {Id::IDC_OPEN_FILE, &CToolDlgBar::OpenFileClicked},
        {Id::IDC_DARK, &CToolDlgBar::DarkClicked},
        {Id::IDC_GAIN, &CToolDlgBar::GainClicked},
        {Id::IDC_DEFECT, &CToolDlgBar::DefectClicked},
        {Id::IDC_NO_CLEAR, &CToolDlgBar::NoClearClicked},
        {Id::IDC_SAVE_ADAPTER, &CToolDlgBar::SaveAdapterClicked},
    };
    std::vector<int> sent;
    for (const auto& [nId, pSignal] : kCommands)
        QObject::connect(&m_panel, pSignal, [&sent, nId = nId] { sent.push_back(nId); });
    m_state.SetConnected();
    m_state.bConnect = true;  // everything enabled
    m_panel.ApplyState();
    for (const auto& [nId, pSignal] : kCommands) {
        qobject_cast<QAbstractButton*>(m_panel.Control(nId))->click();
        ASSERT_FALSE(sent.empty()) << nId;
        EXPECT_EQ(sent.back(), nId);
    }
    EXPECT_EQ(sent.size(), std::size(kCommands));

    m_state.SetDisconnected();
    m_panel.ApplyState();
    m_panel.Button(Id::IDC_ACQUISITION)->click();
    EXPECT_EQ(sent.size(), std::size(kCommands)) << "a greyed button sends nothing";
}

TEST_F(ToolDlgBarTest, OffsetChoiceIsPassedOnAndARefusedOneShowsNoAgain) {
    m_state.SetConnected();
    m_panel.ApplyState();
    QSignalSpy spy(&m_panel, &CToolDlgBar::OffsetSelectionChanged);
    bool bAccept = false;
    QObject::connect(&m_panel, &CToolDlgBar::OffsetSelectionChanged, [&](int i) {
        m_state.nOffsetSelection = bAccept ? i : 0;
        if (bAccept) m_panel.FocusMakeCalibration();
    });
    QComboBox* pOffset = m_panel.OffsetSelector();
    pOffset->setFocus();
    pOffset->setCurrentIndex(1);
    emit pOffset->activated(1);  // "PREV" refused
    EXPECT_EQ(spy.count(), 1) << "setting it back reports no new choice";
    EXPECT_EQ(spy.at(0).at(0).toInt(), 1);
    EXPECT_EQ(pOffset->currentIndex(), 0);
    EXPECT_NE(m_panel.focusWidget(), m_panel.Control(Id::IDC_MAKE_CALIBRATION));

    bAccept = true;
    pOffset->setCurrentIndex(2);
    emit pOffset->activated(2);  // "POST"
    EXPECT_EQ(spy.count(), 2);
    EXPECT_EQ(pOffset->currentIndex(), 2);
    EXPECT_EQ(m_panel.focusWidget(), m_panel.Control(Id::IDC_MAKE_CALIBRATION));
}

TEST_F(ToolDlgBarTest, DetectorChoiceIsPassedOnAndShowsTheControllersAnswer) {
    QSignalSpy spy(&m_panel, &CToolDlgBar::DetectorSelectionChanged);
    QObject::connect(&m_panel, &CToolDlgBar::DetectorSelectionChanged, [this](int i) {
        m_state.nDetectorSelection = i;
        m_state.nOffsetSelection = 0;
        m_state.bGainTicked = m_state.bDefectTicked = false;
        m_panel.FocusMakeCalibration();
    });
    m_state.SetConnected();
    m_state.bDetectorSelectorVisible = true;
    m_state.bGainTicked = true;
    m_panel.ApplyState();
    m_panel.DetectorSelector()->setCurrentIndex(1);
    emit m_panel.DetectorSelector()->activated(1);
    ASSERT_EQ(spy.count(), 1);
    EXPECT_EQ(spy.at(0).at(0).toInt(), 1);
    EXPECT_EQ(m_panel.DetectorSelector()->currentIndex(), 1);
    EXPECT_FALSE(m_panel.CheckBox(Id::IDC_GAIN)->isChecked());
    EXPECT_EQ(m_panel.focusWidget(), m_panel.Control(Id::IDC_MAKE_CALIBRATION));
}

// ---- Window width and level boxes -------------------------------------------

struct BoxCase {
    const char* szName;
    const char* szWidth;
    const char* szLevel;
    float fWidth, fLevel;
};
void PrintTo(const BoxCase& c, std::ostream* os) {
    *os << c.szName << ": \"" << c.szWidth << "\" / \"" << c.szLevel << "\"";
}

class WindowBoxTest : public ToolDlgBarTest, public ::testing::WithParamInterface<BoxCase> {};

TEST_P(WindowBoxTest, TypedTextSetsTheViewsTableWithinLimitsAndStaysAsTyped) {
    const BoxCase& c = GetParam();
    m_panel.WidthEdit()->setText(QString::fromLatin1(c.szWidth));
    m_panel.LevelEdit()->setText(QString::fromLatin1(c.szLevel));
    EXPECT_EQ(m_view.Lut().m_fWidth, c.fWidth);
    EXPECT_EQ(m_view.Lut().m_fLevel, c.fLevel);
    EXPECT_EQ(m_panel.WidthEdit()->text().toStdString(), c.szWidth);
    EXPECT_EQ(m_panel.LevelEdit()->text().toStdString(), c.szLevel);
}

INSTANTIATE_TEST_SUITE_P(Cases, WindowBoxTest,
                         ::testing::Values(BoxCase{"Plain", "1000", "500", 1000, 500},
                                           BoxCase{"ZeroWidthAndLevel", "0", "0", 4, 2},
                                           BoxCase{"Negative", "-50", "-3", 4, 2}, BoxCase{"Empty", "", "", 4, 2},
                                           BoxCase{"NotANumber", "wide", "x", 4, 2},
                                           BoxCase{"AboveMax", "20000", "16384", 16383, 16383},
                                           BoxCase{"One", "1", "1", 1, 1}),
                         [](const auto& info) { return std::string(info.param.szName); });

TEST_F(ToolDlgBarTest, CreationHandsTheBoxesToTheViewsTable) {
    CImageStore store;
    CChildView view(store);
    ASSERT_TRUE(view.Lut().SetWindowLevel(300, 200));
    CToolDlgBar panel(&view);
    EXPECT_EQ(view.Lut().m_fWidth, 16383.0f);
    EXPECT_EQ(view.Lut().m_fLevel, 8191.0f);
}

TEST_F(ToolDlgBarTest, ChangesWithinOneAreIgnoredByTheTable) {
    m_panel.WidthEdit()->setText("1000");
    m_panel.LevelEdit()->setText("500");
    m_view.Lut().m_bChanged = false;
    m_panel.WidthEdit()->setText("1001");
    EXPECT_FALSE(m_view.Lut().m_bChanged);
    EXPECT_EQ(m_view.Lut().m_fWidth, 1000.0f);
    m_panel.WidthEdit()->setText("1002");
    EXPECT_TRUE(m_view.Lut().m_bChanged);
    EXPECT_EQ(m_view.Lut().m_fWidth, 1002.0f);
}

TEST_F(ToolDlgBarTest, ViewsWindowLevelIsWrittenIntoTheBoxes) {
    m_panel.ShowWindowLevel(2500, 1200);
    EXPECT_EQ(m_panel.WidthEdit()->text().toStdString(), "2500");
    EXPECT_EQ(m_panel.LevelEdit()->text().toStdString(), "1200");
    EXPECT_EQ(m_view.Lut().m_fWidth, 2500.0f);
    EXPECT_EQ(m_view.Lut().m_fLevel, 1200.0f);
}

}  // namespace
}  // namespace orvi
