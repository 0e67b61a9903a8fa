#pragma once
// The network settings of the station ([DICOM] of ORVI2.ini). An empty host
// turns its function off: no worklist query, no sending (files are still
// written locally).
#include <cstdint>
#include <string>

namespace orvi::dicom {

// A DICOM application on the network.
struct CPeer {
    std::string strAet;
    std::string strHost;
    uint16_t nPort = 0;

    bool IsSet() const { return !strHost.empty() && nPort != 0; }
    // "PACS at 127.0.0.1:4242"
    std::string Describe() const;
};

struct CNetConfig {
    std::string strStationAet = "ORVI";
    uint16_t nStationPort = 0;  // storage commitment listener; 0 = off
    CPeer pacs;
    bool bCommit = false;  // ask the PACS for storage commitment
    CPeer worklist;
    uint32_t nTimeoutS = 10;  // connect, association and message time-out
    std::string strOutbox;    // ends in '/'
    uint32_t nSentKeepDays = 7;

    bool PacsOn() const { return pacs.IsSet(); }
    bool WorklistOn() const { return worklist.IsSet(); }
    // How long a storage commitment report may take.
    uint32_t CommitWaitS() const { return nTimeoutS * 10; }
};

// The [DICOM] keys.
inline constexpr const char* kDicomSection = "DICOM";

// Reads [DICOM] of the profile at strIniPath; the outbox defaults to
// strImagePath + "outbox/". Out-of-range ports read as 0 (off), a time-out
// below 1 s as 1 s.
CNetConfig ReadNetConfig(const std::string& strIniPath, const std::string& strImagePath);

}  // namespace orvi::dicom
