// The network settings of the station ([DICOM] of ORVI2.ini).
#include "export/dicom/net/NetConfig.h"

#include "app/Profile.h"

namespace orvi::dicom {

namespace {

constexpr size_t kTextSize = 512;
constexpr size_t kAetSize = 17;  // an AE title is at most 16 characters

std::string Text(const std::string& strIni, const char* szKey, const std::string& strDefault, size_t nSize) {
    std::string s = ReadProfileText(strIni, kDicomSection, szKey, strDefault, nSize);
    const size_t nFirst = s.find_first_not_of(" \t");
    if (nFirst == std::string::npos) return "";
    return s.substr(nFirst, s.find_last_not_of(" \t") - nFirst + 1);
}

uint16_t Port(const std::string& strIni, const char* szKey) {
    const int32_t n = ReadProfileInt(strIni, kDicomSection, szKey, 0);
    return n > 0 && n <= 65535 ? static_cast<uint16_t>(n) : 0;
}

CPeer ReadPeer(const std::string& strIni, const char* szAet, const char* szHost, const char* szPort,
               const char* szDefaultAet) {
    CPeer peer;
    peer.strAet = Text(strIni, szAet, szDefaultAet, kAetSize);
    if (peer.strAet.empty()) peer.strAet = szDefaultAet;
    peer.strHost = Text(strIni, szHost, "", kTextSize);
    peer.nPort = Port(strIni, szPort);
    return peer;
}

}  // namespace

std::string CPeer::Describe() const { return strAet + " at " + strHost + ":" + std::to_string(nPort); }

CNetConfig ReadNetConfig(const std::string& strIniPath, const std::string& strImagePath) {
    CNetConfig c;
    c.strStationAet = Text(strIniPath, "STATION_AET", "ORVI", kAetSize);
    if (c.strStationAet.empty()) c.strStationAet = "ORVI";
    c.nStationPort = Port(strIniPath, "STATION_PORT");
    c.pacs = ReadPeer(strIniPath, "PACS_AET", "PACS_HOST", "PACS_PORT", "PACS");
    c.bCommit = ReadProfileInt(strIniPath, kDicomSection, "COMMIT", 0) == 1;
    c.worklist = ReadPeer(strIniPath, "WORKLIST_AET", "WORKLIST_HOST", "WORKLIST_PORT", "WORKLIST");
    const int32_t nTimeout = ReadProfileInt(strIniPath, kDicomSection, "TIMEOUT_S", 10);
    c.nTimeoutS = nTimeout < 1 ? 1u : static_cast<uint32_t>(nTimeout);
    std::string strImage = strImagePath;
    if (!strImage.empty() && strImage.back() != '/') strImage += '/';
    c.strOutbox = Text(strIniPath, "OUTBOX", "", kTextSize);
    if (c.strOutbox.empty()) c.strOutbox = strImage + "outbox/";
    if (c.strOutbox.back() != '/') c.strOutbox += '/';
    const int32_t nKeep = ReadProfileInt(strIniPath, kDicomSection, "SENT_KEEP_DAYS", 7);
    c.nSentKeepDays = nKeep < 0 ? 0u : static_cast<uint32_t>(nKeep);
    return c;
}

}  // namespace orvi::dicom
