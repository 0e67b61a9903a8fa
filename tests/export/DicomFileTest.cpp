// The DICOM sink on the simulated detector in virtual time: every exposure
// becomes a DX file beside IMAGE.RAW, read back with DCMTK and judged by
// dciodvfy; patient, study and series; the exposure index against the dose;
// a folder that cannot be written.
#include "acquisition/FrameFixture.h"
#include "export/DicomTestSupport.h"
#include "export/dicom/DicomSink.h"
#include "export/dicom/DxWriter.h"
#include "export/dicom/RawExport.h"
#include "imaging/RawFile.h"
#include "app/Profile.h"
#include "orviacquire/ORVIAcquireLib.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <ostream>
#include <map>
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
        m_pSink = std::make_unique<CDicomSink>(m_ui, m_strIni, m_strImageDir);
        Frame().AddImageSink(m_pSink.get());
    }
    void Expose() {
        Acquire();
        FireAt(m_nT0 + 600);
        RunTo(m_nT0 + 20000);
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
