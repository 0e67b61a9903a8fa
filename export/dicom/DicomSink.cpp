#include "export/dicom/DicomSink.h"

#include "app/ConfigKeys.h"
#include "app/EventLog.h"
#include "app/Profile.h"
#include "app/StatusPort.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <regex>
#include <system_error>
#include <unistd.h>

namespace orvi::dicom {

namespace {

constexpr const char* kSectionDicom = "DICOM";
constexpr size_t kTextSize = 512;

std::string Lower(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return s;
}

std::string Trim(const std::string& s) {
    const size_t nFirst = s.find_first_not_of(" \t");
    if (nFirst == std::string::npos) return "";
    return s.substr(nFirst, s.find_last_not_of(" \t") - nFirst + 1);
}

std::string HostName() {
    char sz[256] = {};
    if (gethostname(sz, sizeof sz - 1) != 0) return "";
    std::string s = sz;
    s = s.substr(0, s.find('.'));
    return s.substr(0, 16);  // Station Name is a short string
}

void Problem(CDicomSettings& s, const std::string& strText) {
    if (!s.strProblems.empty()) s.strProblems += "; ";
    s.strProblems += strText;
}

}  // namespace

CDicomSettings ReadDicomSettings(const std::string& strIni, const std::string& strImagePath) {
    CDicomSettings s;
    s.bWrite = ReadProfileInt(strIni, kSectionDicom, "WRITE", 1) != 0;

    s.strFolder = Trim(ReadProfileText(strIni, kSectionDicom, "FOLDER", "", kTextSize));
    if (s.strFolder.empty()) s.strFolder = strImagePath + "dicom/";
    if (s.strFolder.back() != '/') s.strFolder += '/';

    s.strUidRoot = Trim(ReadProfileText(strIni, kSectionDicom, "UID_ROOT", "", kTextSize));
    if (!s.strUidRoot.empty() && !IsValidUidRoot(s.strUidRoot)) {
        Problem(s, "UID_ROOT=" + s.strUidRoot + " is not a UID root (digits and dots, at most 40 characters)");
        s.strUidRoot.clear();
    }

    const std::string strTransfer = Lower(Trim(ReadProfileText(strIni, kSectionDicom, "TRANSFER", "", kTextSize)));
    if (strTransfer == "jpegls")
        s.transfer = ETransfer::JpegLsLossless;
    else if (!strTransfer.empty() && strTransfer != "explicit")
        Problem(s, "TRANSFER=" + strTransfer + " is neither explicit nor jpegls");

    s.strStationName = Trim(ReadProfileText(strIni, kSectionDicom, "STATION_NAME", "", 17));
    if (s.strStationName.empty()) s.strStationName = HostName();
    s.strModelName = Trim(ReadProfileText(strIni, kSectionDicom, "MODEL", kDefaultModelName, 65));
    s.strInstitution = Trim(ReadProfileText(strIni, kSectionDicom, "INSTITUTION", "", 65));

    const std::string strOrientation = Trim(ReadProfileText(strIni, kSectionDicom, "PATIENT_ORIENTATION", "", 17));
    // Two values of the letters A P R L H F, e.g. "L\\F" or "P\\FL".
    static const std::regex reOrientation("[APRLHF]{1,3}\\\\[APRLHF]{1,3}");
    if (!strOrientation.empty() && !std::regex_match(strOrientation, reOrientation))
        Problem(s, "PATIENT_ORIENTATION=" + strOrientation + " is not two of A P R L H F, e.g. L\\F");
    else if (!strOrientation.empty())
        s.strPatientOrientation = strOrientation;

    const int32_t nPitch = cfg::Read(strIni, cfg::PIXEL_PITCH_UM);
    if (nPitch < 1 || nPitch > 10000) {
        Problem(s, "PIXEL_PITCH_UM=" + std::to_string(nPitch) + " is not 1 to 10000");
        s.dPixelPitchMm = cfg::PIXEL_PITCH_UM.nDefault / 1000.0;
    } else {
        s.dPixelPitchMm = nPitch / 1000.0;
    }

    std::string strEiProblems;
    s.ei = ReadExposureIndexSettings(strIni, strEiProblems);
    if (!strEiProblems.empty()) Problem(s, strEiProblems);
    return s;
}

CDxObject MakeDxObject(const CDicomSettings& s, const CImagePlace& place, const std::string& strSopUid) {
    CDxObject o;
    o.patient = place.patient;
    o.strStudyUid = place.strStudyUid;
    o.strStudyDate = place.strStudyDate;
    o.strStudyTime = place.strStudyTime;
    o.strStudyId = place.strStudyId;
    o.strSeriesUid = place.strSeriesUid;
    o.strSeriesDate = place.strSeriesDate;
    o.strSeriesTime = place.strSeriesTime;
    o.nSeriesNumber = place.nSeriesNumber;
    o.nInstanceNumber = place.nInstanceNumber;
    o.strSopUid = strSopUid;
    o.strStationName = s.strStationName;
    o.strModelName = s.strModelName;
    o.strInstitution = s.strInstitution;
    o.dPixelPitchMm = s.dPixelPitchMm;
    o.strPatientOrientation = s.strPatientOrientation;
    return o;
}

CDicomSink::CDicomSink(IStatusPort& ui, std::string strIniPath, std::string strImagePath, IMainThreadExecutor& executor)
    : m_ui(ui), m_executor(executor), m_strIniPath(std::move(strIniPath)), m_strImagePath(std::move(strImagePath)) {}

CDicomSink::~CDicomSink() {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_bStop = true;
    }
    m_cv.notify_all();
    // The worker writes what is queued before it ends.
    if (m_worker.joinable()) m_worker.join();
    m_pAlive.reset();
}

void CDicomSink::Fail(const std::string& strError) {
    m_strLastError = strError;
    WriteLog("DICOM file creation fail!! " + strError);
    m_ui.SetStatusText(4, "DICOM file not written: " + strError);
}

void CDicomSink::OnImageAcquired(const AcquiredImagePtr& pImage) {
    if (!pImage) return;
    const CAcquiredImage& img = *pImage;
    if (img.Width() <= 0 || img.Height() <= 0 || img.pixels.size() != size_t(img.Width()) * size_t(img.Height())) {
        Fail("the image is incomplete");
        return;
    }
    const CDicomSettings s = ReadDicomSettings(m_strIniPath, m_strImagePath);
    if (!s.strProblems.empty()) WriteLog("DICOM settings: " + s.strProblems + " - defaults used");

    m_lastEI = img.exposureIndex;
    if (m_fnExposureIndex) m_fnExposureIndex(m_lastEI);
    if (!s.bWrite) return;

    // Everything of the moment is taken now: the study and series, the UIDs,
    // the window on screen.
    const auto tAcquired =
        img.tAcquired.time_since_epoch().count() != 0 ? img.tAcquired : std::chrono::system_clock::now();
    const CImagePlace place = m_session.Next(img.cDetector, tAcquired, s.strUidRoot);
    Job job;
    job.obj = MakeDxObject(s, place, NewUid(s.strUidRoot));
    job.obj.tAcquired = tAcquired;
    job.obj.strDetectorId = img.strDetectorId;
    job.obj.strDetectorFirmware = img.strDetectorFirmware;
    job.obj.ei = m_lastEI;
    std::optional<CWindow> window;
    if (m_fnWindow) window = m_fnWindow();
    job.obj.window =
        window ? *window : CWindow{double(img.autoWindow.nLevel), double(std::max(1, img.autoWindow.nWidth))};
    job.pImage = pImage;
    job.transfer = s.transfer;
    job.strFolder = s.strFolder;
    job.strPath = s.strFolder + DxFileName(tAcquired, job.obj.strSopUid);
    Enqueue(std::move(job));
}

void CDicomSink::Enqueue(Job job) {
    std::unique_lock<std::mutex> lock(m_mutex);
    if (!m_worker.joinable()) {
        try {
            m_worker = std::thread([this] { WorkerLoop(); });
        } catch (const std::system_error& e) {
            // No thread to be had: this file is written here and now.
            lock.unlock();
            WriteLog(std::string("DICOM writer thread not started (") + e.what() + "): the file is written at once");
            Report(Write(job));
            return;
        }
    }
    m_jobs.push_back(std::move(job));
    lock.unlock();
    m_cv.notify_one();
}

void CDicomSink::WorkerLoop() {
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        m_cv.wait(lock, [this] { return m_bStop || !m_jobs.empty(); });
        if (m_jobs.empty()) return;  // stopped with nothing left to write
        Job job = std::move(m_jobs.front());
        m_jobs.pop_front();
        ++m_nWriting;
        lock.unlock();
        Result r = Write(job);
        job.pImage.reset();
        lock.lock();
        m_results.push_back(std::move(r));
        --m_nWriting;
        m_cvIdle.notify_all();
        if (!m_bStop) {
            std::weak_ptr<int> alive = m_pAlive;
            m_executor.Post([this, alive] {
                if (alive.lock()) Deliver();
            });
        }
    }
}

CDicomSink::Result CDicomSink::Write(const Job& job) {
    Result r;
    std::error_code ec;
    std::filesystem::create_directories(job.strFolder, ec);
    if (ec) {
        r.strError = "cannot create the folder " + job.strFolder + " (" + ec.message() + ")";
        return r;
    }
    const CAcquiredImage& img = *job.pImage;
    if (!WriteDxFile(img.pixels.data(), img.Width(), img.Height(), job.obj, job.transfer, job.strPath, r.strError))
        return r;
    r.strPath = job.strPath;
    return r;
}

void CDicomSink::Finish() {
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        m_cvIdle.wait(lock, [this] { return m_jobs.empty() && m_nWriting == 0; });
    }
    Deliver();
}

size_t CDicomSink::Pending() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_jobs.size() + m_nWriting + m_results.size();
}

void CDicomSink::Deliver() {
    for (;;) {
        Result r;
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_results.empty()) return;
            r = std::move(m_results.front());
            m_results.pop_front();
        }
        Report(r);
    }
}

void CDicomSink::Report(const Result& r) {
    if (r.strPath.empty()) {
        Fail(r.strError);
        return;
    }
    m_strLastError.clear();
    m_strLastFile = r.strPath;
    WriteLog("DICOM file saved: " + r.strPath);
    m_ui.FileSaved(r.strPath);
    if (m_fnFile) m_fnFile(r.strPath);
}

}  // namespace orvi::dicom
