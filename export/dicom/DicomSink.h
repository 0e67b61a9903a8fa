#pragma once
// The DICOM writer as an image sink: every finished exposure, after its RAW
// file is on disk, also becomes a DX For Presentation file in [DICOM] FOLDER,
// with its exposure index. A failure is shown in status pane 4 and logged;
// the RAW file, the history and the host's message files are not touched.
//
// The file is encoded and written by one long-lived worker thread, one file
// at a time in the order of the exposures, so that the window thread never
// waits for the encoder or the disk. What the window thread needs at the
// exposure (patient, study and series, the window on screen, the exposure
// index) is taken when the image is handed over; the outcome of the file
// (its name, or why it is missing, then the hand-over to the outbox) comes
// back through the main-thread executor. A file handed over is always
// finished, also when the program quits: an exposure is the patient's dose.
#include "acquisition/MainThreadExecutor.h"
#include "export/dicom/DxWriter.h"
#include "export/dicom/ExposureIndex.h"
#include "export/dicom/StudySession.h"
#include "imaging/AcquiredImage.h"

#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace orvi {
class IStatusPort;
}

namespace orvi::dicom {

// [DICOM], [EXPOSURE_INDEX] and the pixel pitch of ORVI2.ini, read at each image.
struct CDicomSettings {
    bool bWrite = true;      // [DICOM] WRITE=0 turns the files off
    std::string strFolder;   // [DICOM] FOLDER, ending in '/'; default IMAGE_PATH + "dicom/"
    std::string strUidRoot;  // [DICOM] UID_ROOT; "" = DCMTK's site root
    ETransfer transfer = ETransfer::ExplicitLittleEndian;  // [DICOM] TRANSFER = explicit | jpegls
    std::string strStationName;                            // [DICOM] STATION_NAME; default the host name
    std::string strModelName;                              // [DICOM] MODEL
    std::string strInstitution;                            // [DICOM] INSTITUTION
    std::string strPatientOrientation = "L\\F";            // [DICOM] PATIENT_ORIENTATION
    double dPixelPitchMm = 0.139;                          // [CONFIG] PIXEL_PITCH_UM / 1000
    CExposureIndexSettings ei;
    // Settings that were unusable and replaced by their defaults, for the log.
    std::string strProblems;
};

inline constexpr const char* kDefaultModelName = "ORVI DR";

// strImagePath: IMAGE_PATH as the frame uses it (ending in '/').
CDicomSettings ReadDicomSettings(const std::string& strIniPath, const std::string& strImagePath);

// The content of the object for an image, without UIDs of study and series.
CDxObject MakeDxObject(const CDicomSettings& s, const CImagePlace& place, const std::string& strSopUid);

class CDicomSink final : public IImageSink {
public:
    // ui and the listeners are called on the owner's thread only: in
    // OnImageAcquired, and from tasks posted to executor.
    CDicomSink(IStatusPort& ui, std::string strIniPath, std::string strImagePath, IMainThreadExecutor& executor);
    // Finishes every file handed over (their outcome is no longer reported).
    ~CDicomSink() override;
    CDicomSink(const CDicomSink&) = delete;
    CDicomSink& operator=(const CDicomSink&) = delete;

    // Who the next exposures belong to.
    void SetPatient(const CPatientStudy& patient) { m_session.SetPatient(patient); }
    const CPatientStudy& Patient() const { return m_session.Patient(); }

    // The window on screen; without one (or when it gives none) the file
    // carries a window computed from the image.
    using WindowSource = std::function<std::optional<CWindow>()>;
    void SetWindowSource(WindowSource fn) { m_fnWindow = std::move(fn); }

    // Told the exposure index of every image, as the controller worked it
    // out (the status bar shows it), when the image is handed over.
    using ExposureIndexListener = std::function<void(const CExposureIndex&)>;
    void SetExposureIndexListener(ExposureIndexListener fn) { m_fnExposureIndex = std::move(fn); }

    // Told the path of every file written, once it is on disk (the sending
    // to an archive starts there).
    using FileListener = std::function<void(const std::string& strPath)>;
    void SetFileListener(FileListener fn) { m_fnFile = std::move(fn); }

    void OnImageAcquired(const AcquiredImagePtr& pImage) override;

    // Waits until every file handed over so far is written (or has failed)
    // and reports each at once, in order. On the owner's thread: at quit, at
    // the end of a run, and wherever the file is needed now.
    void Finish();
    // Files handed over whose outcome is not reported yet.
    size_t Pending() const;

    // Of the files reported so far.
    const std::string& LastFile() const { return m_strLastFile; }  // "" until one is written
    const CExposureIndex& LastExposureIndex() const { return m_lastEI; }
    const std::string& LastError() const { return m_strLastError; }  // "" after a success

private:
    struct Job {
        AcquiredImagePtr pImage;
        CDxObject obj;
        ETransfer transfer = ETransfer::ExplicitLittleEndian;
        std::string strFolder;
        std::string strPath;
    };
    struct Result {
        std::string strPath;  // the file written, or "" when it failed
        std::string strError;
    };

    // Pane 4 and the log say why the file is missing.
    void Fail(const std::string& strError);
    void Enqueue(Job job);
    void WorkerLoop();
    static Result Write(const Job& job);
    // Reports the outcomes the worker has left, in order (owner's thread).
    void Deliver();
    void Report(const Result& r);

    IStatusPort& m_ui;
    IMainThreadExecutor& m_executor;
    std::string m_strIniPath;
    std::string m_strImagePath;
    CStudySession m_session;
    WindowSource m_fnWindow;
    ExposureIndexListener m_fnExposureIndex;
    FileListener m_fnFile;
    std::string m_strLastFile;
    std::string m_strLastError;
    CExposureIndex m_lastEI;

    // Shared with the worker.
    mutable std::mutex m_mutex;
    std::condition_variable m_cv;      // a job came, or the stop
    std::condition_variable m_cvIdle;  // the worker finished a job
    std::deque<Job> m_jobs;
    std::deque<Result> m_results;
    size_t m_nWriting = 0;  // jobs taken by the worker and not yet in m_results
    bool m_bStop = false;
    std::thread m_worker;
    // Posted tasks hold a weak pointer: they do nothing once the sink is gone.
    std::shared_ptr<int> m_pAlive = std::make_shared<int>(0);
};

}  // namespace orvi::dicom
