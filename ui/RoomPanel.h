#pragma once
// The X-ray room on screen: a dock beside the control panel with, per board,
// the three lamps the station drives (lit exactly as the output bytes written
// to that board say) and the bytes themselves; the hand switch of a simulated
// board (press and hold with the mouse; Space = first stage, Shift+Space =
// second); the simulated generator's countdown and its "X-ray now" button; and
// the state of the exposure in words.
//
// The lamps follow the board protocol as a lamp observer, so they change the
// moment the station writes; the words and the countdown are refreshed every
// 50 ms. With a real board the dock shows what was written to it (useful when
// wiring one) and offers no hand switch.
#include "acquisition/BoardProtocol.h"
#include "acquisition/BoardSimControls.h"
#include "acquisition/RoomState.h"
#include "acquisition/SimulatorControls.h"

#include <QDockWidget>
#include <QWidget>

#include <array>

class QLabel;
class QPushButton;
class QTimer;

namespace orvi {

class CMainFrame;

// One round lamp with its name under it.
class CLampWidget final : public QWidget {
    Q_OBJECT
public:
    CLampWidget(const QString& strName, const QColor& colour, QWidget* pParent = nullptr);
    void SetLit(bool bLit);
    bool IsLit() const { return m_bLit; }
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* pEvent) override;

private:
    QString m_strName;
    QColor m_colour;
    bool m_bLit = false;
};

// The two-stage hand switch of a simulated board: two buttons held with the
// mouse. It reports the stage the mouse asks for and shows the stage it is
// told (the keyboard's, or the library's).
class CHandSwitchWidget final : public QWidget {
    Q_OBJECT
public:
    explicit CHandSwitchWidget(QWidget* pParent = nullptr);
    void ShowStage(HandStage stage);
    QPushButton* ReadyButton() const { return m_pReady; }
    QPushButton* ExposeButton() const { return m_pExpose; }

signals:
    void StageAsked(orvi::HandStage stage);

private:
    QPushButton* m_pReady = nullptr;
    QPushButton* m_pExpose = nullptr;
};

// One board: its lamps, its bytes and, when simulated, its hand switch.
class CBoardView final : public QWidget {
    Q_OBJECT
public:
    explicit CBoardView(QWidget* pParent = nullptr);
    // The title and whether the hand switch is offered.
    void SetKind(const QString& strTitle, bool bSimulated);
    // The output bytes (active low) and the line of bytes under the lamps.
    void ShowOutputs(uint8_t byOut1, uint8_t byOut2, const QString& strBytes);

    CLampWidget* EnableLamp() const { return m_pEnable; }
    CLampWidget* ReadyLamp() const { return m_pReady; }
    CLampWidget* ConnectionLamp() const { return m_pConnection; }
    CHandSwitchWidget* HandSwitch() const { return m_pSwitch; }
    QLabel* BytesLabel() const { return m_pBytes; }
    QLabel* OutputsLabel() const { return m_pOutputs; }

private:
    QLabel* m_pTitle = nullptr;
    CLampWidget* m_pEnable = nullptr;
    CLampWidget* m_pReady = nullptr;
    CLampWidget* m_pConnection = nullptr;
    QLabel* m_pBytes = nullptr;
    QLabel* m_pOutputs = nullptr;
    CHandSwitchWidget* m_pSwitch = nullptr;
};

class CRoomPanel final : public QDockWidget, private ILampObserver {
    Q_OBJECT
public:
    static constexpr int kBoards = 2;  // the station addresses boards 0 and 1

    CRoomPanel(CMainFrame& frame, const CSimulatorControls& detectorSim, QWidget* pParent = nullptr);
    ~CRoomPanel() override;

    // True when the simulated board or the simulated detector is loaded: the
    // dock is then shown at start.
    bool SimulatorLoaded() const;

    // Reads the controller and the simulators now (the 50 ms refresh does it too).
    void Refresh();

    CBoardView* Board(int nBoard) const { return m_boards[static_cast<size_t>(nBoard)]; }
    QLabel* StateLabel() const { return m_pState; }
    QLabel* GeneratorLabel() const { return m_pGenerator; }
    QPushButton* XrayButton() const { return m_pXray; }
    QLabel* XrayResultLabel() const { return m_pXrayResult; }

protected:
    // Space and Shift+Space anywhere in the main window work the hand switch
    // of the first simulated board, except while typing into a text field.
    bool eventFilter(QObject* pWatched, QEvent* pEvent) override;

private:
    void OnOutputs(uint8_t byOut1, uint8_t byOut2, int32_t nBoardCount) override;
    void OnBoardWrite(int32_t nBoard, uint8_t byOut1, uint8_t byOut2, bool bWritten) override;
    void ShowLamps();
    void SetStage(int nBoard, HandStage stage);
    void KeyboardStage();
    void FireXray();

    CMainFrame& m_frame;
    CSimulatorControls m_detectorSim;
    CBoardSimControls m_boardSim;

    // What the station holds and what reached each board.
    uint8_t m_byOut1 = kOutAllOff;
    uint8_t m_byOut2 = kOutAllOff;
    int32_t m_nBoardCount = 0;
    struct CWritten {
        bool bAny = false;
        uint8_t byOut1 = kOutAllOff;
        uint8_t byOut2 = kOutAllOff;
    };
    std::array<CWritten, kBoards> m_written{};

    // The keyboard's hand switch.
    bool m_bSpace = false;
    bool m_bShift = false;

    QLabel* m_pState = nullptr;
    QLabel* m_pGenerator = nullptr;
    QLabel* m_pXrayResult = nullptr;
    QPushButton* m_pXray = nullptr;
    std::array<CBoardView*, kBoards> m_boards{};
    QTimer* m_pRefresh = nullptr;
    RoomTone m_tone = RoomTone::Idle;
};

}  // namespace orvi
