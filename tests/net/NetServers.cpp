#include "NetServers.h"

#include "dcmtk/config/osconfig.h"
#include "dcmtk/dcmdata/dctk.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

extern char** environ;

namespace fs = std::filesystem;

namespace orvi::test {

namespace {

int ConnectLoopback(uint16_t nPort) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(nPort);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

bool WaitForPort(uint16_t nPort, uint32_t nTimeoutMs) {
    const auto tEnd = std::chrono::steady_clock::now() + std::chrono::milliseconds(nTimeoutMs);
    while (std::chrono::steady_clock::now() < tEnd) {
        const int fd = ConnectLoopback(nPort);
        if (fd >= 0) {
            close(fd);
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

}  // namespace

uint16_t FreePort() {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    socklen_t n = sizeof addr;
    getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &n);
    close(fd);
    return ntohs(addr.sin_port);
}

std::string FindProgram(const std::string& strName) {
    const char* szPath = std::getenv("PATH");
    std::string strPath = std::string(szPath ? szPath : "") + ":/usr/sbin:/sbin";
    size_t nStart = 0;
    while (nStart <= strPath.size()) {
        const size_t nEnd = strPath.find(':', nStart);
        const std::string strDir =
            strPath.substr(nStart, nEnd == std::string::npos ? std::string::npos : nEnd - nStart);
        if (!strDir.empty() && access((strDir + "/" + strName).c_str(), X_OK) == 0) return strDir + "/" + strName;
        if (nEnd == std::string::npos) break;
        nStart = nEnd + 1;
    }
    return "";
}

bool HaveProgram(const std::string& strName) { return !FindProgram(strName).empty(); }

std::string MissingServers() {
    for (const char* szProgram : {"Orthanc", "wlmscpfs", "dump2dcm"})
        if (!HaveProgram(szProgram))
            return std::string(szProgram) +
                   " is not installed (Debian packages orthanc and dcmtk; scripts/install-deps)";
    return "";
}

// ---- Child processes ------------------------------------------------------------------

bool CChild::Start(const std::vector<std::string>& args, const std::string& strLog) {
    Stop();
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, strLog.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    std::vector<char*> argv;
    for (const std::string& s : args) argv.push_back(const_cast<char*>(s.c_str()));
    argv.push_back(nullptr);
    pid_t pid = -1;
    const int nErr = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (nErr != 0) return false;
    m_pid = pid;
    return true;
}

int CChild::Wait(uint32_t nTimeoutMs) {
    if (m_pid <= 0) return -1;
    const auto tEnd = std::chrono::steady_clock::now() + std::chrono::milliseconds(nTimeoutMs);
    for (;;) {
        int nStatus = 0;
        const pid_t r = waitpid(m_pid, &nStatus, WNOHANG);
        if (r == m_pid) {
            m_pid = -1;
            return WIFEXITED(nStatus) ? WEXITSTATUS(nStatus) : -1;
        }
        if (r < 0) {
            m_pid = -1;
            return -1;
        }
        if (std::chrono::steady_clock::now() >= tEnd) return -2;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

void CChild::Stop() {
    if (m_pid <= 0) return;
    kill(m_pid, SIGTERM);
    if (Wait(5000) == -2) Kill();
}

void CChild::Kill() {
    if (m_pid <= 0) return;
    kill(m_pid, SIGKILL);
    Wait(5000);
}

// ---- Orthanc ----------------------------------------------------------------------------

bool COrthanc::Start(const COrthancOptions& o) {
    if (m_nDicomPort == 0) m_nDicomPort = FreePort();
    if (m_nHttpPort == 0) m_nHttpPort = FreePort();
    fs::create_directories(m_strFolder + "/db");
    const std::string strConfig = m_strFolder + "/orthanc.json";
    {
        std::ofstream f(strConfig);
        f << "{\n"
          << "  \"Name\": \"ORVI test PACS\",\n"
          << "  \"StorageDirectory\": \"" << m_strFolder << "/db\",\n"
          << "  \"IndexDirectory\": \"" << m_strFolder << "/db\",\n"
          << "  \"DicomAet\": \"" << o.strAet << "\",\n"
          << "  \"DicomPort\": " << m_nDicomPort << ",\n"
          << "  \"HttpPort\": " << m_nHttpPort << ",\n"
          << "  \"DicomCheckCalledAet\": " << (o.bCheckCalledAet ? "true" : "false") << ",\n"
          << "  \"RemoteAccessAllowed\": false,\n"
          << "  \"AuthenticationEnabled\": false,\n"
          << "  \"Plugins\": [],\n"
          << "  \"DicomAssociationCloseDelay\": 0,\n"
          << "  \"DicomModalities\": {\n";
        if (o.nStationPort != 0)
            f << "    \"station\": [\"" << o.strStationAet << "\", \"127.0.0.1\", " << o.nStationPort << "]\n";
        f << "  }\n"
          << "}\n";
    }
    if (!m_child.Start({FindProgram("Orthanc"), strConfig}, m_strFolder + "/orthanc.log")) return false;
    const auto tEnd = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    while (std::chrono::steady_clock::now() < tEnd) {
        if (Get("/system").find("\"DicomAet\"") != std::string::npos && WaitForPort(m_nDicomPort, 1000)) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
}

std::string COrthanc::Get(const std::string& strPath) const {
    const int fd = ConnectLoopback(m_nHttpPort);
    if (fd < 0) return "";
    const std::string strRequest = "GET " + strPath + " HTTP/1.0\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
    if (write(fd, strRequest.data(), strRequest.size()) != static_cast<ssize_t>(strRequest.size())) {
        close(fd);
        return "";
    }
    // Read the head, then as many bytes as it announces: the server may keep the connection open.
    std::string strReply;
    char buf[8192];
    size_t nWant = std::string::npos;
    for (;;) {
        const ssize_t n = read(fd, buf, sizeof buf);
        if (n <= 0) break;
        strReply.append(buf, static_cast<size_t>(n));
        const size_t nHead = strReply.find("\r\n\r\n");
        if (nHead != std::string::npos && nWant == std::string::npos) {
            const size_t nLen = strReply.find("Content-Length:");
            nWant = nLen != std::string::npos && nLen < nHead
                        ? nHead + 4 + std::strtoull(strReply.c_str() + nLen + 15, nullptr, 10)
                        : std::string::npos - 1;
        }
        if (nWant != std::string::npos && strReply.size() >= nWant) break;
    }
    if (strReply.compare(0, 12, "HTTP/1.1 200") != 0 && strReply.compare(0, 12, "HTTP/1.0 200") != 0) return "";
    const size_t nBody = strReply.find("\r\n\r\n");
    return nBody == std::string::npos ? "" : strReply.substr(nBody + 4);
}

int64_t COrthanc::CountInstances() const {
    const std::string s = Get("/statistics");
    const size_t n = s.find("\"CountInstances\"");
    if (n == std::string::npos) return -1;
    const size_t nColon = s.find(':', n);
    return std::strtoll(s.c_str() + nColon + 1, nullptr, 10);
}

std::vector<std::string> COrthanc::InstanceTags() const {
    std::vector<std::string> tags;
    const std::string s = Get("/instances");
    size_t n = 0;
    while ((n = s.find('"', n)) != std::string::npos) {
        const size_t nEnd = s.find('"', n + 1);
        if (nEnd == std::string::npos) break;
        tags.push_back(Get("/instances/" + s.substr(n + 1, nEnd - n - 1) + "/simplified-tags"));
        n = nEnd + 1;
    }
    return tags;
}

// ---- Worklist server -------------------------------------------------------------------

bool CWorklistServer::Start(const std::string& strAet, const std::vector<CScheduledItem>& items) {
    if (m_nPort == 0) m_nPort = FreePort();
    const std::string strDir = m_strFolder + "/worklists/" + strAet;
    fs::create_directories(strDir);
    std::ofstream(strDir + "/lockfile").put('\n');
    int nItem = 0;
    for (const CScheduledItem& it : items) {
        const std::string strDump = m_strFolder + "/item" + std::to_string(++nItem) + ".dump";
        {
            std::ofstream f(strDump);
            f << "(0008,0005) CS [ISO_IR 192]\n"
              << "(0008,0050) SH [" << it.strAccession << "]\n"
              << "(0008,0090) PN [REFERRER^ANNA]\n"
              << "(0010,0010) PN [" << it.strPatientName << "]\n"
              << "(0010,0020) LO [" << it.strPatientId << "]\n"
              << "(0010,0030) DA [" << it.strBirthDate << "]\n"
              << "(0010,0040) CS [" << it.strSex << "]\n"
              << "(0020,000d) UI [" << it.strStudyUid << "]\n"
              << "(0032,1060) LO [" << it.strProcedureDescription << "]\n"
              << "(0040,0100) SQ (Sequence with undefined length)\n"
              << "  (fffe,e000) na (Item with undefined length)\n"
              << "    (0008,0060) CS [" << it.strModality << "]\n"
              << "    (0040,0001) AE [ORVI]\n"
              << "    (0040,0002) DA [" << it.strDate << "]\n"
              << "    (0040,0003) TM [" << it.strTime << "]\n"
              << "    (0040,0006) PN []\n"
              << "    (0040,0007) LO [" << it.strStepDescription << "]\n"
              << "    (0040,0009) SH [" << it.strStepId << "]\n"
              << "  (fffe,e00d) na (ItemDelimitationItem)\n"
              << "(fffe,e0dd) na (SequenceDelimitationItem)\n"
              << "(0040,1001) SH [" << it.strProcedureId << "]\n";
        }
        CChild dump;
        if (!dump.Start({FindProgram("dump2dcm"), strDump, strDir + "/item" + std::to_string(nItem) + ".wl"},
                        m_strFolder + "/dump2dcm.log") ||
            dump.Wait(10000) != 0)
            return false;
    }
    if (!m_child.Start({FindProgram("wlmscpfs"), "--single-process", "-dfp", m_strFolder + "/worklists", "-csk",
                        std::to_string(m_nPort)},
                       m_strFolder + "/wlmscpfs.log"))
        return false;
    return WaitForPort(m_nPort, 5000);
}

// ---- DICOM files ---------------------------------------------------------------------------

std::string MakeDicomFile(const std::string& strPath, const dicom::CPatientStudy& ps, uint32_t nSide) {
    char szUid[100];
    DcmFileFormat ff;
    DcmDataset& ds = *ff.getDataset();
    const std::string strSop = dcmGenerateUniqueIdentifier(szUid, SITE_INSTANCE_UID_ROOT);
    const std::string strStudy = ps.strStudyInstanceUid.empty()
                                     ? dcmGenerateUniqueIdentifier(szUid, SITE_STUDY_UID_ROOT)
                                     : ps.strStudyInstanceUid;
    ds.putAndInsertString(DCM_SpecificCharacterSet, "ISO_IR 192");
    ds.putAndInsertString(DCM_SOPClassUID, UID_SecondaryCaptureImageStorage);
    ds.putAndInsertString(DCM_SOPInstanceUID, strSop.c_str());
    ds.putAndInsertString(DCM_StudyInstanceUID, strStudy.c_str());
    ds.putAndInsertString(DCM_SeriesInstanceUID, dcmGenerateUniqueIdentifier(szUid, SITE_SERIES_UID_ROOT));
    ds.putAndInsertString(DCM_PatientName, ps.strPatientName.c_str());
    ds.putAndInsertString(DCM_PatientID, ps.strPatientId.c_str());
    ds.putAndInsertString(DCM_AccessionNumber, ps.strAccessionNumber.c_str());
    ds.putAndInsertString(DCM_Modality, "OT");
    ds.putAndInsertString(DCM_ConversionType, "WSD");
    ds.putAndInsertString(DCM_SeriesNumber, "1");
    ds.putAndInsertString(DCM_InstanceNumber, "1");
    ds.putAndInsertString(DCM_SamplesPerPixel, "1");
    ds.putAndInsertString(DCM_PhotometricInterpretation, "MONOCHROME2");
    ds.putAndInsertUint16(DCM_Rows, static_cast<Uint16>(nSide));
    ds.putAndInsertUint16(DCM_Columns, static_cast<Uint16>(nSide));
    ds.putAndInsertUint16(DCM_BitsAllocated, 16);
    ds.putAndInsertUint16(DCM_BitsStored, 16);
    ds.putAndInsertUint16(DCM_HighBit, 15);
    ds.putAndInsertUint16(DCM_PixelRepresentation, 0);
    std::vector<Uint16> pixels(size_t{nSide} * nSide);
    for (size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<Uint16>(i * 7);
    ds.putAndInsertUint16Array(DCM_PixelData, pixels.data(), static_cast<unsigned long>(pixels.size()));
    if (ff.saveFile(strPath.c_str(), EXS_LittleEndianExplicit).bad()) return "";
    return strSop;
}

bool MakeBareDicomFile(const std::string& strPath) {
    char szUid[100];
    DcmFileFormat ff;
    ff.getDataset()->putAndInsertString(DCM_SOPClassUID, UID_SecondaryCaptureImageStorage);
    ff.getDataset()->putAndInsertString(DCM_SOPInstanceUID, dcmGenerateUniqueIdentifier(szUid, SITE_INSTANCE_UID_ROOT));
    return ff.saveFile(strPath.c_str(), EXS_LittleEndianExplicit).good();
}

}  // namespace orvi::test
