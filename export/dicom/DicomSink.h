#pragma once
// The DICOM writer as an image sink: every finished exposure, after its RAW
// file is on disk, also becomes a DX For Presentation file in [DICOM] FOLDER,
// with its exposure index. A failure is shown in status pane 4 and logged;
// the RAW file, the history and the host's message files are not touched.
#include "export/dicom/DxWriter.h"
#include "export/dicom/ExposureIndex.h"
#include "export/dicom/StudySession.h"
#include "imaging/AcquiredImage.h"

#include <functional>
#include <optional>
#include <string>

namespace orvi {
class IStatusPort;
}

namespace orvi::dicom {

// [DICOM], [EXPOSURE_INDEX] and the pixel pitch of ORVI2.ini, read at each image.
struct CDicomSettings {
    bool bWrite = true;          // [DICOM] WRITE=0 turns the files off
    std::string strFolder;       // [DICOM] FOLDER, ending in '/'; default IMAGE_PATH + "dicom/"
    std::string strUidRoot;      // [DICOM] UID_ROOT; "" = DCMTK's site root
    ETransfer transfer = ETransfer::ExplicitLittleEndian;  // [DICOM] TRANSFER = explicit | jpegls
    std::string strStationName;  // [DICOM] STATION_NAME; default the host name
    std::string strModelName;    // [DICOM] MODEL
    std::string strInstitution;  // [DICOM] INSTITUTION
    std::string strPatientOrientation = "L\\F";  // [DICOM] PATIENT_ORIENTATION
    double dPixelPitchMm = 0.139;  // [CONFIG] PIXEL_PITCH_UM / 1000
    CExposureIndexSettings ei;
    // Settings that were unusable and replaced by their defaults, for the log.
    std::string strProblems;
};

inline constexpr const char* kDefaultModelName = "ORVI DR";

// strImagePath: IMAGE_PATH as the frame uses it (ending in '/').
CDicomSettings ReadDicomSettings(const std::string& strIniPath, const std::string& strImagePath);

// The exposure index of a finished exposure: its signal is the corrected
// pixel less the offset added, and less the dark when no gain correction
// took it away.
CExposureIndex ExposureIndexOf(const CAcquiredImage& image, const CExposureIndexSettings& settings);

// The content of the object for an image, without UIDs of study and series.
CDxObject MakeDxObject(const CDicomSettings& s, const CImagePlace& place, const std::string& strSopUid);

class CDicomSink final : public IImageSink {
public:
    CDicomSink(IStatusPort& ui, std::string strIniPath, std::string strImagePath);

    // Who the next exposures belong to.
    void SetPatient(const CPatientStudy& patient) { m_session.SetPatient(patient); }
    const CPatientStudy& Patient() const { return m_session.Patient(); }

    // The window on screen; without one (or when it gives none) the file
    // carries a window computed from the image.
    using WindowSource = std::function<std::optional<CWindow>()>;
    void SetWindowSource(WindowSource fn) { m_fnWindow = std::move(fn); }

    // Told the exposure index of every image (the status bar shows it).
    using ExposureIndexListener = std::function<void(const CExposureIndex&)>;
    void SetExposureIndexListener(ExposureIndexListener fn) { m_fnExposureIndex = std::move(fn); }

    // Told the path of every file written (the sending to an archive starts there).
    using FileListener = std::function<void(const std::string& strPath)>;
    void SetFileListener(FileListener fn) { m_fnFile = std::move(fn); }

    void OnImageAcquired(const AcquiredImagePtr& pImage) override;

    const std::string& LastFile() const { return m_strLastFile; }      // "" until one is written
    const CExposureIndex& LastExposureIndex() const { return m_lastEI; }
    const std::string& LastError() const { return m_strLastError; }    // "" after a success

private:
    // Pane 4 and the log say why the file is missing.
    void Fail(const std::string& strError);

    IStatusPort& m_ui;
    std::string m_strIniPath;
    std::string m_strImagePath;
    CStudySession m_session;
    WindowSource m_fnWindow;
    ExposureIndexListener m_fnExposureIndex;
    FileListener m_fnFile;
    std::string m_strLastFile;
    std::string m_strLastError;
    CExposureIndex m_lastEI;
};

}  // namespace orvi::dicom
