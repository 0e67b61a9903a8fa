#pragma once
// The station's listener for storage commitment reports: a DICOM application
// on [DICOM] STATION_PORT that accepts associations from the PACS and takes
// its N-EVENT-REPORTs (and answers C-ECHO). Each report goes to the callback
// on the listener's own thread.
#include "export/dicom/net/DicomNet.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace orvi::dicom {

class CCommitListener {
public:
    using ReportHandler = std::function<void(const CCommitReport&)>;

    CCommitListener(std::string strStationAet, uint16_t nPort, ReportHandler fnReport);
    ~CCommitListener();
    CCommitListener(const CCommitListener&) = delete;
    CCommitListener& operator=(const CCommitListener&) = delete;

    // Opens the port and starts listening; false and the reason in words when
    // the port cannot be opened.
    bool Start(std::string& strError);
    void Stop();
    bool IsRunning() const;

private:
    struct Impl;
    std::unique_ptr<Impl> m_p;
};

}  // namespace orvi::dicom
