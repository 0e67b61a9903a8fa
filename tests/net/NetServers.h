#pragma once
// The real DICOM servers of the network tests, each in a temporary folder on
// a free loopback port, stopped with the object: Orthanc as the PACS (checked
// through its REST API) and DCMTK's wlmscpfs as the worklist server (items
// written with dump2dcm). Also small DICOM files made with DCMTK.
#include "export/dicom/PatientStudy.h"

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

namespace orvi::test {

// A TCP port on 127.0.0.1 that nobody listens on right now.
uint16_t FreePort();
// True when the program is installed (on the PATH or in /usr/sbin).
bool HaveProgram(const std::string& strName);
std::string FindProgram(const std::string& strName);
// Why the servers' tests cannot run here ("Orthanc is not installed ..."), or
// "" when Orthanc, wlmscpfs and dump2dcm are all there.
std::string MissingServers();

// A child process with its output in a log file; killed with the object.
class CChild {
public:
    CChild() = default;
    ~CChild() { Stop(); }
    CChild(const CChild&) = delete;
    CChild& operator=(const CChild&) = delete;

    bool Start(const std::vector<std::string>& args, const std::string& strLog);
    // SIGTERM, then SIGKILL after a while; waits for the end.
    void Stop();
    void Kill();  // SIGKILL, waits for the end
    bool Running() const { return m_pid > 0; }
    // Waits for the end; the exit code or -1.
    int Wait(uint32_t nTimeoutMs);

private:
    pid_t m_pid = -1;
};

struct COrthancOptions {
    std::string strAet = "PACS";
    bool bCheckCalledAet = true;
    // The station as one of Orthanc's modalities (for storage commitment reports).
    std::string strStationAet = "ORVI";
    uint16_t nStationPort = 0;
};

class COrthanc {
public:
    explicit COrthanc(std::string strFolder) : m_strFolder(std::move(strFolder)) {}
    ~COrthanc() { Stop(); }
    // Starts on free ports (the same ones again after a Stop) and waits until its HTTP port answers.
    bool Start(const COrthancOptions& options = {});
    // Orthanc takes seconds to stop on SIGTERM; a kill is as good for a test
    // server (its index survives it) and also stands for a crash of the PACS.
    void Stop() { m_child.Kill(); }
    uint16_t DicomPort() const { return m_nDicomPort; }
    uint16_t HttpPort() const { return m_nHttpPort; }

    // GET on the REST API: the body, or "" on failure.
    std::string Get(const std::string& strPath) const;
    int64_t CountInstances() const;
    // The simplified tags of every instance, one JSON text each.
    std::vector<std::string> InstanceTags() const;

private:
    std::string m_strFolder;
    uint16_t m_nDicomPort = 0;
    uint16_t m_nHttpPort = 0;
    CChild m_child;
};

// A worklist item as the RIS would schedule it.
struct CScheduledItem {
    std::string strPatientName, strPatientId, strBirthDate, strSex;
    std::string strAccession, strStudyUid, strProcedureId, strProcedureDescription;
    std::string strStepId, strStepDescription, strDate, strTime, strModality = "DX";
};

class CWorklistServer {
public:
    explicit CWorklistServer(std::string strFolder) : m_strFolder(std::move(strFolder)) {}
    bool Start(const std::string& strAet, const std::vector<CScheduledItem>& items);
    void Stop() { m_child.Stop(); }
    uint16_t Port() const { return m_nPort; }

private:
    std::string m_strFolder;
    uint16_t m_nPort = 0;
    CChild m_child;
};

// Writes a small secondary-capture image (nSide x nSide, 16 bit) with the
// patient and study of ps; returns its SOP instance UID, "" on failure.
std::string MakeDicomFile(const std::string& strPath, const dicom::CPatientStudy& ps, uint32_t nSide = 64);

// Writes a dataset with nothing but its SOP class and instance.
bool MakeBareDicomFile(const std::string& strPath);

}  // namespace orvi::test
