#include "acquisition/Connection.h"

#include "acquisition/LibraryDispatch.h"

#include <cstring>

namespace orvi {

namespace {

CConnection* s_pCurrent = nullptr;

// Copies text into a fixed field of the open record, always NUL-terminated.
void CopyField(char* pField, const std::string& strText) {
    std::memset(pField, 0, ORVIACQ_TEXT_SIZE);
    std::strncpy(pField, strText.c_str(), ORVIACQ_TEXT_SIZE - 1);
}

}  // namespace

CConnection::CConnection(ITimerService& timers, IDetectorEvents& events) : m_timers(timers), m_events(events) {
    s_pCurrent = this;
}

CConnection::~CConnection() {
    Release();
    if (s_pCurrent == this) s_pCurrent = nullptr;
}

CConnection* CConnection::Current() { return s_pCurrent; }

void CConnection::InstallDispatch() {
    if (InstallLibraryDispatch(m_timers) == ORVIACQ_OK) m_bDispatchInstalled = true;
}

int32_t CConnection::OpenSlot(int32_t nIndex, const std::string& strPort, const std::string& strAdapter,
                              const std::string& strIniPath, const std::string& strProgramDir) {
    ORVIAcqOpenRecord record{};
    record.nDetectorIndex = nIndex;
    CopyField(record.szIniPath, strIniPath);
    CopyField(record.szProgramFolder, strProgramDir);
    uint32_t& hDetector = nIndex == 1 ? m_hDetectorB : m_hDetectorA;
    return Acquisition_Initialize(record, strPort.c_str(), strAdapter.c_str(), &hDetector);
}

void CConnection::InstallCallbacks(uint32_t hDetector, CImageStore* pImageStore) {
    Acquisition_SetComCallback(hDetector, &CConnection::ComCallback, this);
    Acquisition_GigeAdapterObjectSetImageCallback(hDetector, &CConnection::ImageCallback, pImageStore);
    Acquisition_SetAecCallback(hDetector, &CConnection::AecInfoCallback, this);
}

void CConnection::CloseAll() {
    for (uint32_t* ph : {&m_hDetectorA, &m_hDetectorB})
        if (*ph != 0) {
            Acquisition_Close(*ph);
            *ph = 0;
        }
}

void CConnection::Release() {
    // The library calls no callback into a station that no longer exists.
    CloseAll();
    if (m_bDispatchInstalled) UninstallLibraryDispatch();
    m_bDispatchInstalled = false;
}

void CConnection::SelectDetector(int nIndex) {
    if (nIndex == 0)
        m_hDetector = m_hDetectorA;
    else if (nIndex == 1)
        m_hDetector = m_hDetectorB;
}

void CConnection::ComCallback(uint32_t hDetector, int32_t /*nUnused*/, const uint8_t* pBytes, int32_t nCount,
                              void* pUser) {
    CConnection* pConnection = pUser != nullptr ? static_cast<CConnection*>(pUser) : Current();
    if (pConnection != nullptr) pConnection->m_events.OnComPacket(hDetector, pBytes, nCount);
}

void CConnection::AecInfoCallback(uint32_t hDetector, int32_t nState, void* /*pUser*/) {
    if (CConnection* pConnection = Current()) pConnection->m_events.OnAecInfo(hDetector, nState);
}

void CConnection::ImageCallback(uint32_t hDetector, uint16_t* pPixels, void* pUser) {
    CConnection* pConnection = Current();
    if (pConnection != nullptr && pPixels != nullptr)
        pConnection->m_events.OnImage(hDetector, pPixels, static_cast<CImageStore*>(pUser));
}

}  // namespace orvi
