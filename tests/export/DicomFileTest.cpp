// The DICOM sink on the simulated detector in virtual time: every exposure
// becomes a DX file beside IMAGE.RAW, read back with DCMTK and judged by
// dciodvfy; patient, study and series; the exposure index against the dose;
// a folder that cannot be written.
#include "acquisition/FrameFixture.h"
#include "app/Profile.h"
#include "export/DicomTestSupport.h"
#include "export/dicom/DicomSink.h"
#include "export/dicom/DxWriter.h"
#include "export/dicom/RawExport.h"
#include "imaging/RawFile.h"
#include "orviacquire/ORVIAcquireLib.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <ostream>
#include <regex>
#include <set>

namespace orvi::test {
namespace {

using dicom::CDicomSink;
using dicom::CPatientStudy;

CPatientStudy SomePatient() {
    CPatientStudy p;
    p.strPatientName = "Doe^Jane";
    p.strPatientId = "P-0042";
    p.strBirthDate = "19800131";
    p.strSex = "F";
    p.strAccessionNumber = "ACC-7";
    p.strBodyPart = "CHEST";
    p.strViewPosition = "PA";
    return p;
}

class DicomSinkTest : public FrameFixture {
protected:
    void SetUp() override {
        FrameFixture::SetUp();
        SetSim("AUTO_FIRE_MS", "0");
        SetConfig("CALIBRATION", "0");
    }
    void TearDown() override {
        if (m_pFrame && m_pSink) m_pFrame->RemoveImageSink(m_pSink.get());
        FrameFixture::TearDown();
    }
    void StartWithSink() {
        Start();
        m_pSink = std::make_unique<CDicomSink>(m_ui, m_strIni, m_strImageDir, m_executor);
        Frame().AddImageSink(m_pSink.get());
    }
    // An exposure, and its DICOM file written by the sink's thread.
    void Expose() {
        Acquire();
        FireAt(m_nT0 + 600);
        RunTo(m_nT0 + 20000);
        m_pSink->Finish();
    }
    std::string DicomDir() const { return m_strImageDir + "dicom/"; }
    void SetDicom(const std::string& strKey, const std::string& strValue) {
        ASSERT_TRUE(WriteProfileText(m_strIni, "DICOM", strKey, strValue));
    }

    // A log line containing the text.
    bool LogHas(const std::string& strText) const {
        for (const std::string& strLine : Log())
            if (strLine.find(strText) != std::string::npos) return true;
        return false;
    }

    CQueuedExecutor m_executor;
    std::unique_ptr<CDicomSink> m_pSink;
};

// ---- Every combination of cuts, transfer syntax and patient ----------------------------

struct CCombination {
    bool bCuts;
    bool bJpegLs;
    bool bPatient;
};

void PrintTo(const CCombination& c, std::ostream* os) {
    *os << (c.bCuts ? "cut" : "uncut") << (c.bJpegLs ? " jpegls" : " explicit")
        << (c.bPatient ? " patient" : " anonymous");
}

class DicomCombination : public DicomSinkTest, public ::testing::WithParamInterface<CCombination> {};

TEST_P(DicomCombination, TheFileHoldsTheSavedImageAndPassesTheValidator) {
    const CCombination c = GetParam();
    if (c.bCuts) {
        SetConfig("IMAGE_CUT_TOP", "3");
        SetConfig("IMAGE_CUT_BOTTOM", "5");
        SetConfig("IMAGE_CUT_LEFT", "7");
        SetConfig("IMAGE_CUT_RIGHT", "2");
    }
    if (c.bJpegLs) SetDicom("TRANSFER", "jpegls");
    StartWithSink();
    if (c.bPatient) m_pSink->SetPatient(SomePatient());
    std::vector<std::string> told;
    m_pSink->SetFileListener([&](const std::string& strPath) { told.push_back(strPath); });
    Expose();

    ASSERT_TRUE(m_ui.boxes.empty()) << m_ui.boxes.front().strText;
    const std::vector<std::string> files = DicomFiles(DicomDir());
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(m_pSink->LastFile(), files[0]);
    // Reported saved (the exposure's dark file is reported after it: it is written once the image is on disk).
    EXPECT_NE(std::find(m_ui.savedFiles.begin(), m_ui.savedFiles.end(), files[0]), m_ui.savedFiles.end());
    EXPECT_EQ(told, files);

    const CDicomRead r = ReadDicom(files[0]);
    ASSERT_TRUE(r.bLoaded) << r.strError;
    // Pixel data bit for bit as IMAGE.RAW, at the saved (cut) size.
    EXPECT_EQ(r.pixels, ReadPixels(m_strImageDir + "IMAGE.RAW"));
    EXPECT_EQ(r.nColumns, c.bCuts ? kSide - 9 : kSide);
    EXPECT_EQ(r.nRows, c.bCuts ? kSide - 8 : kSide);
    EXPECT_EQ(r.nBitsStored, 14);
    EXPECT_EQ(r.nHighBit, 13);
    EXPECT_EQ(r.strTransferUid, c.bJpegLs ? "1.2.840.10008.1.2.4.80" : "1.2.840.10008.1.2.1");

    // The name: acquisition date and time, then the SOP Instance UID.
    const std::string strName = std::filesystem::path(files[0]).filename().string();
    EXPECT_TRUE(std::regex_match(strName, std::regex(R"(\d{8}-\d{6}-[0-9.]+\.dcm)"))) << strName;
    EXPECT_EQ(strName.substr(16), r["SOPInstanceUID"] + ".dcm");

    EXPECT_EQ(r["SOPClassUID"], "1.2.840.10008.5.1.4.1.1.1.1");
    EXPECT_EQ(r["Modality"], "DX");
    EXPECT_EQ(r["PresentationIntentType"], "FOR PRESENTATION");
    EXPECT_EQ(r["PhotometricInterpretation"], "MONOCHROME2");
    EXPECT_EQ(r["PresentationLUTShape"], "IDENTITY");
    EXPECT_EQ(r["ImagerPixelSpacing"], "0.139\\0.139");
    EXPECT_EQ(r["Manufacturer"], "ORVI");
    EXPECT_EQ(r["SoftwareVersions"], std::string(dicom::SoftwareVersion()) + "\\8.1.2.3");
    EXPECT_EQ(r["DetectorID"], "SIMA00000001");
    EXPECT_EQ(r["KVP"], "");
    EXPECT_NE(r["ExposureIndex"], "<absent>");
    EXPECT_NE(r["WindowWidth"], "<absent>");
    if (c.bPatient) {
        EXPECT_EQ(r["PatientName"], "Doe^Jane");
        EXPECT_EQ(r["PatientID"], "P-0042");
        EXPECT_EQ(r["AccessionNumber"], "ACC-7");
        EXPECT_EQ(r["BodyPartExamined"], "CHEST");
        EXPECT_EQ(r["ViewPosition"], "PA");
    } else {
        EXPECT_EQ(r["PatientName"], "ANONYMOUS");
        EXPECT_TRUE(std::regex_match(r["PatientID"], std::regex(R"(ORVI\d{14})"))) << r["PatientID"];
    }

    const CVerifyReport v = Dciodvfy(files[0]);
    EXPECT_TRUE(v.errors.empty()) << ::testing::PrintToString(v.lines);
}

INSTANTIATE_TEST_SUITE_P(All, DicomCombination,
                         ::testing::Values(CCombination{false, false, false}, CCombination{false, false, true},
                                           CCombination{false, true, false}, CCombination{false, true, true},
                                           CCombination{true, false, false}, CCombination{true, false, true},
                                           CCombination{true, true, false}, CCombination{true, true, true}));

// ---- Study and series -------------------------------------------------------------

TEST_F(DicomSinkTest, OneStudyPerPatientUntilItChanges) {
    StartWithSink();
    Expose();  // anonymous
    Expose();
    m_pSink->SetPatient(SomePatient());
    Expose();
    m_pSink->SetPatient(SomePatient());  // the same patient again: the study goes on
    Expose();
    CPatientStudy other = SomePatient();
    other.strPatientId = "P-0043";
    m_pSink->SetPatient(other);
    Expose();

    const std::vector<std::string> files = DicomFiles(DicomDir());
    ASSERT_EQ(files.size(), 5u);
    std::vector<CDicomRead> r;
    for (const auto& f : files) r.push_back(ReadDicom(f));
    std::map<std::string, std::vector<std::string>> instancesByStudy;
    std::map<std::string, std::string> patientOfStudy;
    std::set<std::string> sops;
    for (const auto& x : r) {
        instancesByStudy[x["StudyInstanceUID"]].push_back(x["InstanceNumber"]);
        patientOfStudy[x["StudyInstanceUID"]] = x["PatientID"];
        sops.insert(x["SOPInstanceUID"]);
    }
    EXPECT_EQ(sops.size(), 5u);
    ASSERT_EQ(instancesByStudy.size(), 3u);
    std::map<std::string, std::vector<std::string>> byPatient;
    for (auto& [study, instances] : instancesByStudy) {
        std::sort(instances.begin(), instances.end());
        byPatient[patientOfStudy[study]] = instances;
    }
    EXPECT_EQ(byPatient["P-0042"], (std::vector<std::string>{"1", "2"}));
    EXPECT_EQ(byPatient["P-0043"], (std::vector<std::string>{"1"}));
    ASSERT_EQ(byPatient.size(), 3u);
}

TEST(StudySession, OneSeriesPerDetectorAndStudy) {
    dicom::CStudySession s;
    const auto t = std::chrono::system_clock::now();
    const dicom::CImagePlace a1 = s.Next('A', t, "");
    const dicom::CImagePlace b1 = s.Next('B', t, "");
    const dicom::CImagePlace a2 = s.Next('A', t, "");
    EXPECT_EQ(a1.strStudyUid, b1.strStudyUid);
    EXPECT_NE(a1.strSeriesUid, b1.strSeriesUid);
    EXPECT_EQ(a1.strSeriesUid, a2.strSeriesUid);
    EXPECT_EQ(a1.nSeriesNumber, 1);
    EXPECT_EQ(b1.nSeriesNumber, 2);
    EXPECT_EQ(a2.nInstanceNumber, 2);
    EXPECT_EQ(b1.nInstanceNumber, 1);
    EXPECT_EQ(a1.patient.strPatientName, "ANONYMOUS");
    EXPECT_EQ(a1.patient.strPatientId, b1.patient.strPatientId);

    CPatientStudy fromWorklist = SomePatient();
    fromWorklist.strStudyInstanceUid = "1.2.3.4.5";
    s.SetPatient(fromWorklist);
    const dicom::CImagePlace a3 = s.Next('A', t, "1.2.826.0.1.3680043.9.9999");
    EXPECT_EQ(a3.strStudyUid, "1.2.3.4.5");
    EXPECT_EQ(a3.nSeriesNumber, 1);
    EXPECT_EQ(a3.nInstanceNumber, 1);
    EXPECT_EQ(a3.strSeriesUid.rfind("1.2.826.0.1.3680043.9.9999.", 0), 0u) << a3.strSeriesUid;
}

// ---- Settings ----------------------------------------------------------------------------

TEST_F(DicomSinkTest, TheWindowOnScreenTheUidRootAndThePixelPitchReachTheFile) {
    SetDicom("UID_ROOT", "1.2.826.0.1.3680043.9.9999");
    SetDicom("FOLDER", m_dir.dir() + "out");
    SetConfig("PIXEL_PITCH_UM", "150");
    StartWithSink();
    m_pSink->SetWindowSource([] { return dicom::CWindow{2000.0, 4096.0}; });
    Expose();
    const std::vector<std::string> files = DicomFiles(m_dir.dir() + "out/");
    ASSERT_EQ(files.size(), 1u);
    const CDicomRead r = ReadDicom(files[0]);
    EXPECT_EQ(r["WindowCenter"], "2000");
    EXPECT_EQ(r["WindowWidth"], "4096");
    EXPECT_EQ(r["ImagerPixelSpacing"], "0.15\\0.15");
    for (const char* szUid : {"StudyInstanceUID", "SeriesInstanceUID", "SOPInstanceUID"})
        EXPECT_EQ(r[szUid].rfind("1.2.826.0.1.3680043.9.9999.", 0), 0u) << szUid << " " << r[szUid];
}

TEST_F(DicomSinkTest, UnusableSettingsAreLoggedAndTheirDefaultsUsed) {
    SetDicom("UID_ROOT", "1.2.abc");
    SetDicom("TRANSFER", "jpeg2000");
    SetConfig("PIXEL_PITCH_UM", "0");
    StartWithSink();
    Expose();
    const std::vector<std::string> files = DicomFiles(DicomDir());
    ASSERT_EQ(files.size(), 1u);
    const CDicomRead r = ReadDicom(files[0]);
    EXPECT_EQ(r.strTransferUid, "1.2.840.10008.1.2.1");
    EXPECT_EQ(r["ImagerPixelSpacing"], "0.139\\0.139");
    EXPECT_TRUE(LogHas("UID_ROOT=1.2.abc is not a UID root"));
    EXPECT_TRUE(LogHas("TRANSFER=jpeg2000 is neither explicit nor jpegls"));
    EXPECT_TRUE(LogHas("PIXEL_PITCH_UM=0 is not 1 to 10000"));
}

TEST_F(DicomSinkTest, TextsThatDicomCannotHoldAreCutAndCleaned) {
    SetDicom("PATIENT_ORIENTATION", "left");
    StartWithSink();
    CPatientStudy p;
    p.strPatientName = std::string(70, 'x') + "\\^Jane\t";
    p.strPatientId = "ID\\1";
    p.strAccessionNumber = "ACCESSION-NUMBER-TOO-LONG";
    p.strBirthDate = "1980-01-31";
    p.strSex = "female";
    p.strBodyPart = "TOE";
    m_pSink->SetPatient(p);
    Expose();
    const std::vector<std::string> files = DicomFiles(DicomDir());
    ASSERT_EQ(files.size(), 1u);
    const CDicomRead r = ReadDicom(files[0]);
    EXPECT_EQ(r["PatientName"], std::string(64, 'x'));
    EXPECT_EQ(r["PatientID"], "ID 1");
    EXPECT_EQ(r["AccessionNumber"], "ACCESSION-NUMBER");
    EXPECT_EQ(r["PatientBirthDate"], "");
    EXPECT_EQ(r["PatientSex"], "");
    EXPECT_EQ(r["BodyPartExamined"], "");
    EXPECT_EQ(r["PatientOrientation"], "L\\F");
    EXPECT_TRUE(LogHas("PATIENT_ORIENTATION=left is not two of A P R L H F"));
    const CVerifyReport v = Dciodvfy(files[0]);
    EXPECT_TRUE(v.errors.empty()) << ::testing::PrintToString(v.lines);
}

TEST_F(DicomSinkTest, WriteZeroKeepsTheFilesOffButTheExposureIndexOn) {
    SetDicom("WRITE", "0");
    StartWithSink();
    Expose();
    EXPECT_TRUE(DicomFiles(DicomDir()).empty());
    EXPECT_TRUE(m_pSink->LastExposureIndex().bValid);
}

// ---- The writer's thread ------------------------------------------------------------------

TEST_F(DicomSinkTest, FilesAreReportedThroughTheExecutorInTheOrderOfTheExposures) {
    SetDicom("TRANSFER", "jpegls");
    StartWithSink();
    std::vector<std::string> told;
    m_pSink->SetFileListener([&](const std::string& strPath) { told.push_back(strPath); });
    for (int i = 0; i < 3; ++i) {
        Acquire();
        FireAt(m_nT0 + 600);
        RunTo(m_nT0 + 20000);
        // The exposure index is there at once; the file only through the executor.
        EXPECT_TRUE(m_pSink->LastExposureIndex().bValid);
        EXPECT_TRUE(told.empty());
        EXPECT_TRUE(m_pSink->LastFile().empty());
    }
    for (int nWaits = 0; m_pSink->Pending() > 0 && nWaits < 6000; ++nWaits) m_executor.WaitAndRun(10);
    ASSERT_EQ(m_pSink->Pending(), 0u);
    const std::vector<std::string> files = DicomFiles(DicomDir());
    ASSERT_EQ(told.size(), 3u);
    EXPECT_EQ(std::set<std::string>(told.begin(), told.end()), std::set<std::string>(files.begin(), files.end()));
    for (size_t i = 0; i < told.size(); ++i) EXPECT_EQ(ReadDicom(told[i])["InstanceNumber"], std::to_string(i + 1));
    EXPECT_EQ(m_pSink->LastFile(), told.back());
    EXPECT_EQ(m_ui.savedFiles.back(), told.back());
}

TEST_F(DicomSinkTest, FilesHandedOverAreFinishedWhenTheWriterGoes) {
    StartWithSink();
    for (int i = 0; i < 3; ++i) {
        Acquire();
        FireAt(m_nT0 + 600);
        RunTo(m_nT0 + 20000);
    }
    Frame().RemoveImageSink(m_pSink.get());
    m_pSink.reset();  // at once, as at the end of the program
    const std::vector<std::string> files = DicomFiles(DicomDir());
    ASSERT_EQ(files.size(), 3u);
    for (const std::string& f : files) {
        const CDicomRead r = ReadDicom(f);
        ASSERT_TRUE(r.bLoaded) << r.strError;
        EXPECT_EQ(r.pixels.size(), size_t(kSide) * kSide);
    }
    for (const auto& entry : std::filesystem::directory_iterator(DicomDir()))
        EXPECT_NE(entry.path().filename().string()[0], '.') << entry.path();  // no half-written file
    // What the writer posted meanwhile finds it gone and does nothing.
    m_executor.RunPending();
    for (const std::string& f : files) EXPECT_EQ(std::count(m_ui.savedFiles.begin(), m_ui.savedFiles.end(), f), 0) << f;
}

// ---- Exposure index against the dose ----------------------------------------------------

TEST_F(DicomSinkTest, DoublingTheDoseRaisesTheDeviationIndexByThree) {
    SetSim("DOSE", "3000");
    StartWithSink();
    std::vector<dicom::CExposureIndex> seen;
    m_pSink->SetExposureIndexListener([&](const dicom::CExposureIndex& ei) { seen.push_back(ei); });
    Expose();
    AcquisitionSim_SetDose(Handle(), 6000);
    Expose();
    ASSERT_EQ(seen.size(), 2u);
    ASSERT_TRUE(seen[0].bDeviationValid && seen[1].bDeviationValid);
    EXPECT_NEAR(seen[1].dDI - seen[0].dDI, 3.0, 0.1);
    EXPECT_NEAR(seen[1].dEI / seen[0].dEI, 2.0, 0.05);
    EXPECT_TRUE(LogHas("Exposure index: EI "));
}

// On a calibrated station: a bright taken with GET BRIGHT at DOSE 10000 (the
// gain correction's level L is its mean, near 10000) and its BPM. The gain
// correction limits every pixel to L; the exposure index must not.
class CalibratedDicomSinkTest : public DicomSinkTest {
protected:
    void SetUp() override {
        DicomSinkTest::SetUp();
        SetConfig("CALIBRATION", "1");
        SetSim("OBJECT", "0");
        SetSim("DOSE", "10000");
    }
    void Calibrate() {
        StartWithSink();
        TakeBrightAndBpm();
        ASSERT_TRUE(std::filesystem::exists(m_strCalDir + "BPM.RAW"));
        m_ui.boxes.clear();
    }
    // The exposure index of one exposure at a dose.
    dicom::CExposureIndex ExposeAt(int32_t nDose) {
        AcquisitionSim_SetDose(Handle(), nDose);
        Expose();
        const AcquiredImagePtr pImage = Frame().LastImage();
        EXPECT_TRUE(pImage && pImage->gain.bApplied);
        return pImage ? pImage->exposureIndex : dicom::CExposureIndex{};
    }
};

TEST_F(CalibratedDicomSinkTest, DoublingTheDoseRaisesTheDeviationIndexByThreeAlsoAboveTheCalibrationLevel) {
    ASSERT_NO_FATAL_FAILURE(Calibrate());
    // Both doses below the level L (about 10000 grey levels); then twice a
    // dose beyond it, where the corrected image holds L throughout.
    dicom::CExposureIndex last;
    for (const int32_t nDose : {2500, 6000, 7000}) {
        const dicom::CExposureIndex single = ExposeAt(nDose);
        last = ExposeAt(2 * nDose);
        ASSERT_TRUE(single.bDeviationValid && last.bDeviationValid) << nDose;
        EXPECT_NEAR(last.dDI - single.dDI, 3.0, 0.1) << nDose;
        // The image itself is limited to L as ever.
        ASSERT_TRUE(Frame().LastImage());
        const CAcquiredImage& img = *Frame().LastImage();
        EXPECT_LE(*std::max_element(img.pixels.begin(), img.pixels.end()), img.gain.nLevel) << nDose;
    }
    EXPECT_GT(last.dDI, 1.0);
    EXPECT_EQ(dicom::ExposureIndexWords(last), "over target");
    // The file carries the index the controller worked out.
    const std::vector<std::string> files = DicomFiles(DicomDir());
    ASSERT_EQ(files.size(), 6u);
    EXPECT_NEAR(std::stod(ReadDicom(files.back())["DeviationIndex"]), last.dDI, 0.006);
}

TEST_F(CalibratedDicomSinkTest, AHeavyOverExposureReadsExcessive) {
    // The simulated detector's 14 bits end near 15400 grey levels of signal
    // (EI 385): against a target of 150 the full dose is more than twice
    // the target, while the corrected image's level L alone (EI 250) is not.
    ASSERT_TRUE(WriteProfileText(m_strIni, "EXPOSURE_INDEX", "TARGET_EI", "150"));
    ASSERT_NO_FATAL_FAILURE(Calibrate());
    std::vector<dicom::CExposureIndex> told;
    m_pSink->SetExposureIndexListener([&](const dicom::CExposureIndex& ei) { told.push_back(ei); });
    const dicom::CExposureIndex ei = ExposeAt(16000);
    EXPECT_GT(ei.dDI, 3.0);
    EXPECT_EQ(dicom::ExposureIndexWords(ei), "excessive exposure");
    ASSERT_EQ(told.size(), 1u);
    EXPECT_EQ(dicom::ExposureIndexText(told[0]), dicom::ExposureIndexText(ei));
    EXPECT_TRUE(LogHas("DI +") && LogHas(": excessive exposure"));
}

// ---- A folder that cannot be written ----------------------------------------------------

TEST_F(DicomSinkTest, AnUnwritableFolderIsReportedAndLeavesTheRawFileAlone) {
    // A file where the folder should be: nothing can be created there.
    WriteFile(m_strImageDir + "dicom", "");
    StartWithSink();
    Expose();
    EXPECT_TRUE(m_ui.boxes.empty());
    const std::vector<std::string> pane4 = m_ui.pane(4);
    ASSERT_FALSE(pane4.empty());
    EXPECT_EQ(pane4.back().rfind("DICOM file not written: ", 0), 0u) << pane4.back();
    EXPECT_TRUE(LogHas("DICOM file creation fail!!"));
    EXPECT_FALSE(m_pSink->LastError().empty());
    // IMAGE.RAW is written and is the image.
    ASSERT_TRUE(Frame().LastImage());
    EXPECT_EQ(ReadPixels(m_strImageDir + "IMAGE.RAW"), Frame().LastImage()->pixels);

    // The folder is back: the next exposure is written.
    std::filesystem::remove(m_strImageDir + "dicom");
    Expose();
    EXPECT_EQ(DicomFiles(DicomDir()).size(), 1u);
    EXPECT_TRUE(m_pSink->LastError().empty());
}

}  // namespace
}  // namespace orvi::test

namespace orvi::test {
namespace {

// ---- Stored RAW files --------------------------------------------------------------------

class RawExport : public ::testing::Test {
protected:
    void SetUp() override {
        m_pixels.resize(40 * 30);
        for (size_t i = 0; i < m_pixels.size(); ++i) m_pixels[i] = uint16_t(1000 + (i * 7) % 9000);
        m_pixels[5] = 16500;  // an offset pushed one value past 14 bits
        ASSERT_TRUE(WriteRawFile(m_strRaw, m_pixels.data(), m_pixels.size()));
    }
    bool Export(int32_t w, int32_t h, std::string& strError) {
        dicom::CExportRequest r;
        r.strRawFile = m_strRaw;
        r.nWidth = w;
        r.nHeight = h;
        r.strOutFile = m_dir.file("out.dcm");
        dicom::CExposureIndex ei;
        return dicom::ExportRawFile(r, ei, strError);
    }
    TempDir m_dir;
    std::string m_strRaw = m_dir.file("20261210-101500-001.RAW");
    std::vector<uint16_t> m_pixels;
};

TEST_F(RawExport, ASizedRawFileBecomesAValidFileWithSixteenBitsStored) {
    std::string strError;
    ASSERT_TRUE(Export(40, 30, strError)) << strError;
    const CDicomRead r = ReadDicom(m_dir.file("out.dcm"));
    ASSERT_TRUE(r.bLoaded) << r.strError;
    EXPECT_EQ(r.pixels, m_pixels);
    EXPECT_EQ(r.nBitsStored, 16);
    EXPECT_EQ(r.nHighBit, 15);
    EXPECT_EQ(r["PatientName"], "ANONYMOUS");
    const CVerifyReport v = Dciodvfy(m_dir.file("out.dcm"));
    EXPECT_TRUE(v.errors.empty()) << ::testing::PrintToString(v.lines);
}

TEST_F(RawExport, AHistoryImageTakesItsSizeFromTheSidecar) {
    // The image's own keys, not those of a nested object before them.
    WriteFile(m_dir.file("20261210-101500-001.json"),
              "{\n  \"window\": {\"width\": 4000, \"level\": 2000},\n  \"detector\": \"A \\\"x\\\"\",\n"
              "  \"width\": 40,\n  \"height\" : 30,\n  \"cuts\": [0, 0, 0, 0]\n}\n");
    std::string strError;
    ASSERT_TRUE(Export(0, 0, strError)) << strError;
    const CDicomRead r = ReadDicom(m_dir.file("out.dcm"));
    EXPECT_EQ(r.nColumns, 40);
    EXPECT_EQ(r.nRows, 30);
}

TEST_F(RawExport, AHistoryImageKeepsTheExposureIndexOfItsSidecarAndABareFileIsMeasured) {
    // The sidecar's index was worked out at the exposure (over a gain
    // correction, from the signal before its limit): the pixels cannot say it.
    WriteFile(m_dir.file("20261210-101500-001.json"),
              "{\"width\": 40, \"height\": 30, \"exposure_index\": 612.5, \"target_exposure_index\": 250.0,"
              " \"deviation_index\": 3.8917, \"exposure_verdict\": \"excessive exposure\"}");
    std::string strError;
    dicom::CExportRequest req;
    req.strRawFile = m_strRaw;
    req.strOutFile = m_dir.file("out.dcm");
    dicom::CExposureIndex ei;
    ASSERT_TRUE(dicom::ExportRawFile(req, ei, strError)) << strError;
    EXPECT_DOUBLE_EQ(ei.dEI, 612.5);
    const CDicomRead r = ReadDicom(m_dir.file("out.dcm"));
    EXPECT_EQ(r["ExposureIndex"], "612.5");
    EXPECT_EQ(r["TargetExposureIndex"], "250");
    EXPECT_EQ(r["DeviationIndex"], "3.89");

    // Given its size, the same file is a bare RAW file: measured from its pixels.
    req.nWidth = 40;
    req.nHeight = 30;
    ASSERT_TRUE(dicom::ExportRawFile(req, ei, strError)) << strError;
    EXPECT_TRUE(ei.bValid);
    EXPECT_NE(ei.dEI, 612.5);
}

TEST_F(RawExport, WrongSizesAndMissingSidecarsAreRefusedWithAReason) {
    std::string strError;
    EXPECT_FALSE(Export(40, 31, strError));
    EXPECT_NE(strError.find("holds 2400 bytes; 40 x 31 pixels need 2480"), std::string::npos) << strError;
    EXPECT_FALSE(Export(0, 0, strError));
    EXPECT_NE(strError.find("no sidecar"), std::string::npos) << strError;
    EXPECT_FALSE(Export(40, 0, strError));
    WriteFile(m_dir.file("20261210-101500-001.json"), "{\"width\": 40}");
    EXPECT_FALSE(Export(0, 0, strError));
    EXPECT_NE(strError.find("no usable"), std::string::npos) << strError;
    EXPECT_FALSE(std::filesystem::exists(m_dir.file("out.dcm")));
}

}  // namespace
}  // namespace orvi::test
