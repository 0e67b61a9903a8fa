#include "acquisition/BoardProtocol.h"

#include <algorithm>
#include <utility>

namespace orvi {

uint8_t g_byOut1 = kOutAllOff;
uint8_t g_byOut2 = kOutAllOff;

namespace {

constexpr int32_t kConfigAllPorts = 0xFFFF;
constexpr uint8_t kInAllReleased = 0xFF;

void SetBit(uint8_t& byOut, uint8_t byBit, bool bOn) {
    if (bOn)
        byOut = static_cast<uint8_t>(byOut & ~byBit);
    else
        byOut = static_cast<uint8_t>(byOut | byBit);
}

}  // namespace

void SetReadyOutput(bool bOn) { SetBit(g_byOut2, kOut2ReadyOutput, bOn); }
void SetExposeOutput(bool bOn) { SetBit(g_byOut2, kOut2ExposeOutput, bOn); }
void SetReadyLamp(bool bOn) { SetBit(g_byOut1, kOut1ReadyLamp, bOn); }
void SetEnableLamp(bool bOn) { SetBit(g_byOut1, kOut1EnableLamp, bOn); }
void SetConnectionLamp(bool bOn) { SetBit(g_byOut1, kOut1ConnectionLamp, bOn); }

void ReleaseSwitchOutputs() {
    g_byOut2 |= kOut2ReadyOutput | kOut2ExposeOutput;
    g_byOut1 |= kOut1EnableLamp | kOut1ReadyLamp;
}

void SetOutputs(uint8_t byOut1, uint8_t byOut2) {
    g_byOut1 = byOut1;
    g_byOut2 = byOut2;
}

CBoardProtocol::CBoardProtocol(CPelkioApi api) : m_api(std::move(api)) {}

void CBoardProtocol::AddObserver(ILampObserver* pObserver) {
    if (pObserver != nullptr && std::find(m_observers.begin(), m_observers.end(), pObserver) == m_observers.end())
        m_observers.push_back(pObserver);
}

void CBoardProtocol::RemoveObserver(ILampObserver* pObserver) {
    m_observers.erase(std::remove(m_observers.begin(), m_observers.end(), pObserver), m_observers.end());
}

void CBoardProtocol::NotifyOutputs() {
    for (ILampObserver* p : m_observers) p->OnOutputs(g_byOut1, g_byOut2, m_nBoardCount);
}

void CBoardProtocol::Write(int32_t nBoard, uint8_t byOut2, uint8_t byOut1) {
    const bool bWritten = m_api.PortWriteEx(nBoard, 0, byOut2, byOut1, 0) != 0;
    for (ILampObserver* p : m_observers) p->OnBoardWrite(nBoard, byOut1, byOut2, bWritten);
}

void CBoardProtocol::StartupConfiguration() {
    g_byOut1 = kOutAllOff;
    g_byOut2 = kOutAllOff;
    m_nBoardCount = m_api.InitBoard();
    NotifyOutputs();
    if (m_nBoardCount == 0) return;
    Write(0, kOutAllOff, kOutAllOff);
    m_api.PortConfigureEx(0, 0, kConfigAllPorts, kConfigAllPorts, 0, 0);
    // A second board is configured only when exactly two were found.
    if (m_nBoardCount == 2) {
        Write(1, g_byOut2, g_byOut1);
        m_api.PortConfigureEx(1, 0, kConfigAllPorts, kConfigAllPorts, 0, 0);
    }
}

void CBoardProtocol::WriteOutputs() {
    m_nBoardCount = m_api.InitBoard();
    NotifyOutputs();
    if (m_nBoardCount == 0) return;
    Write(0, g_byOut2, g_byOut1);
    Write(1, g_byOut2, g_byOut1);
}

uint8_t CBoardProtocol::ReadInputByte1(int32_t nBoard) {
    uint8_t by[5] = {0, 0, 0, 0, 0};
    if (m_api.PortReadEx(nBoard, &by[0], &by[1], &by[2], &by[3], &by[4]) == 0) return kInAllReleased;
    return by[0];
}

CHandSwitchState CBoardProtocol::ReadInputs() {
    uint8_t byIn0 = ReadInputByte1(0);
    uint8_t byIn1 = kInAllReleased;  // a second board that is not read never counts as pressed
    if (m_nBoardCount != 1) byIn1 = ReadInputByte1(1);
    CHandSwitchState state;
    state.bReady = (byIn0 & kIn1Ready) == 0 || (byIn1 & kIn1Ready) == 0;
    state.bExpose = (byIn0 & kIn1Expose) == 0 || (byIn1 & kIn1Expose) == 0;
    return state;
}

void CBoardProtocol::ReadyTimeout() {
    g_byOut1 = kOutAllOff;
    g_byOut2 = kOutAllOff;
    NotifyOutputs();
    Write(0, kOutAllOff, kOutAllOff);
}

void CBoardProtocol::Shutdown() {
    if (m_nBoardCount == 0) return;
    Write(0, kOutAllOff, kOutAllOff);
    Write(1, kOutAllOff, kOutAllOff);
}

}  // namespace orvi
