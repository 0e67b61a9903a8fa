#pragma once
// CConnection: the detectors the station has open. It opens slot A and slot
// B through the acquisition library, installs the library's callbacks, holds
// the handles (A, B and the current one, a copy of A or B) and closes them.
// The callbacks arrive as IDetectorEvents on the station's one thread.
#include <cstdint>
#include <string>

namespace orvi {

class CImageStore;
class ITimerService;

// What the library reports of an open detector.
class IDetectorEvents {
public:
    virtual ~IDetectorEvents() = default;
    virtual void OnComPacket(uint32_t hDetector, const uint8_t* pBytes, int32_t nCount) = 0;
    virtual void OnAecInfo(uint32_t hDetector, int32_t nState) = 0;
    // pStore: the image store the callback was installed with.
    virtual void OnImage(uint32_t hDetector, uint16_t* pPixels, CImageStore* pStore) = 0;
};

class CConnection {
public:
    // The latest constructed connection receives the library's image
    // callbacks (their user value is the image store).
    CConnection(ITimerService& timers, IDetectorEvents& events);
    // Release(), then it is no longer the current connection.
    ~CConnection();
    CConnection(const CConnection&) = delete;
    CConnection& operator=(const CConnection&) = delete;

    // The connection the library's image callbacks report to (null when none).
    static CConnection* Current();

    // The library runs its timed work and its callbacks on the timer service.
    void InstallDispatch();

    // Opens slot nIndex (0: A, 1: B) with the program's ORVI2.ini; the
    // handle is kept as A or B. Returns the library's result (0: open).
    int32_t OpenSlot(int32_t nIndex, const std::string& strPort, const std::string& strAdapter,
                     const std::string& strIniPath, const std::string& strProgramDir);
    // The library's serial, image and exposure-control callbacks for hDetector.
    void InstallCallbacks(uint32_t hDetector, CImageStore* pImageStore);
    // Closes A and B; the current handle keeps its value.
    void CloseAll();
    // Closes A and B and takes the library's dispatch back.
    void Release();

    uint32_t Detector() const { return m_hDetector; }
    uint32_t DetectorA() const { return m_hDetectorA; }
    uint32_t DetectorB() const { return m_hDetectorB; }
    // Where the image store reads which detector is B.
    const uint32_t* DetectorBAddress() const { return &m_hDetectorB; }
    // True for an open A or B.
    bool IsOpen(uint32_t hDetector) const {
        return hDetector != 0 && (hDetector == m_hDetectorA || hDetector == m_hDetectorB);
    }
    // 'B' for detector B, 'A' otherwise.
    char Label(uint32_t hDetector) const { return hDetector != 0 && hDetector == m_hDetectorB ? 'B' : 'A'; }

    // The current detector: A (0) or B (1); another index leaves it.
    void SelectDetector(int nIndex);
    void SetCurrent(uint32_t hDetector) { m_hDetector = hDetector; }

    // The library's callbacks.
    static void ComCallback(uint32_t hDetector, int32_t nUnused, const uint8_t* pBytes, int32_t nCount, void* pUser);
    static void AecInfoCallback(uint32_t hDetector, int32_t nState, void* pUser);
    static void ImageCallback(uint32_t hDetector, uint16_t* pPixels, void* pUser);

private:
    ITimerService& m_timers;
    IDetectorEvents& m_events;
    // Detector handles: A, B and the current one (a copy of A or B).
    uint32_t m_hDetector = 0;
    uint32_t m_hDetectorA = 0;
    uint32_t m_hDetectorB = 0;
    bool m_bDispatchInstalled = false;
};

}  // namespace orvi
