// Opening and closing detectors, the four failures of an open, the lists of
// adapters and ports, and calls with bad handles or null pointers.
#include "orviacquire/SimFixture.h"

#include "app/Profile.h"

#include <cstring>
#include <ostream>
#include <string>
#include <vector>

extern "C" {
int32_t CountAdaptersFromC(void);
int32_t OpenRecordSizeFromC(void);
int32_t CloseZeroFromC(void);
}

namespace orvi::test {
namespace {

std::vector<std::string> Names(ORVIAcqListNode* pHead) {
    std::vector<std::string> v;
    for (ORVIAcqListNode* p = pHead; p != nullptr; p = p->pNext) v.emplace_back(p->szName);
    return v;
}

using ConnectionTest = SimFixture;

TEST_F(ConnectionTest, TwoDetectorsOpenWithDistinctHandlesAndCloseOnce) {
    ORVIAcqHandle hA = Open(0, kPortA, kAdapterA);
    ORVIAcqHandle hB = Open(1, kPortB, kAdapterB);
    EXPECT_NE(hA, hB);
    Close(hA);
    EXPECT_EQ(Acquisition_Close(hA), ORVIACQ_ERR_HANDLE);
    EXPECT_EQ(Acquisition_StartAcquisition(hA), ORVIACQ_ERR_HANDLE);
    EXPECT_EQ(Acquisition_StartAcquisition(hB), ORVIACQ_OK);  // B is untouched
    m_clock.run_until_idle();
    EXPECT_EQ(Take(), (std::vector<std::string>{"300 B image"}));

    // A closed slot opens again, with a handle never seen before.
    ORVIAcqHandle hA2 = Open(0, kPortA, kAdapterA);
    EXPECT_NE(hA2, hA);
    EXPECT_NE(hA2, hB);
}

TEST_F(ConnectionTest, PortNamesMatchWithoutRegardToCase) {
    ORVIAcqHandle h = 0;
    EXPECT_EQ(TryOpen(0, "simcom1", kAdapterA, &h), ORVIACQ_OK);
}

struct FailureCase {
    const char* szName;
    const char* szKey;  // a [SIMULATOR] key set first, or null
    const char* szValue;
    bool bOpenOtherFirst;  // detector B is open on SIMCOM2 / adapter 2 first
    int32_t nIndex;
    const char* szPort;
    const char* szAdapter;
    int32_t nExpected;
};

void PrintTo(const FailureCase& c, std::ostream* os) { *os << c.szName; }

class InitFailureTest : public SimFixture, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(InitFailureTest, GivesItsResultAndLeavesTheHandle) {
    const FailureCase& c = GetParam();
    if (c.szKey != nullptr) SetKey(c.szKey, c.szValue);
    if (c.bOpenOtherFirst) Open(1, kPortB, kAdapterB);
    ORVIAcqHandle h = 0xDEAD;
    EXPECT_EQ(TryOpen(c.nIndex, c.szPort, c.szAdapter, &h), c.nExpected);
    EXPECT_EQ(h, 0xDEADu);
}

INSTANTIATE_TEST_SUITE_P(
    Conditions, InitFailureTest,
    ::testing::Values(
        FailureCase{"PortNotOffered", nullptr, nullptr, false, 0, "/dev/ttyS0", kAdapterA, ORVIACQ_INIT_SERIAL_PORT},
        FailureCase{"EmptyPort", nullptr, nullptr, false, 0, "", kAdapterA, ORVIACQ_INIT_SERIAL_PORT},
        FailureCase{"PortOfTheOtherDetector", nullptr, nullptr, true, 0, kPortB, kAdapterA, ORVIACQ_INIT_SERIAL_PORT},
        FailureCase{"AdapterNotOffered", nullptr, nullptr, false, 0, kPortA, "eth0", ORVIACQ_INIT_ADAPTER},
        FailureCase{"AdapterOfTheOtherDetector", nullptr, nullptr, true, 0, kPortA, kAdapterB, ORVIACQ_INIT_ADAPTER},
        FailureCase{"SlowAdapter", nullptr, nullptr, false, 0, kPortA, "Simulated Fast Ethernet Adapter",
                    ORVIACQ_INIT_LINK_SPEED},
        FailureCase{"NoDetectorBehindAdapter", nullptr, nullptr, false, 0, kPortA,
                    "Simulated GigE Adapter (no detector)", ORVIACQ_INIT_NETWORK},
        FailureCase{"DetectorAlreadyOpen", nullptr, nullptr, true, 1, kPortA, kAdapterA, ORVIACQ_INIT_NETWORK},
        FailureCase{"PortBeforeAdapter", nullptr, nullptr, false, 0, "COM1", "eth0", ORVIACQ_INIT_SERIAL_PORT},
        FailureCase{"KeyForcesSerialPort", "INIT_FAILURE_1", "-1", false, 0, kPortA, kAdapterA,
                    ORVIACQ_INIT_SERIAL_PORT},
        FailureCase{"KeyForcesNetwork", "INIT_FAILURE_1", "-2", false, 0, kPortA, kAdapterA, ORVIACQ_INIT_NETWORK},
        FailureCase{"KeyForcesAdapter", "INIT_FAILURE_1", "-3", false, 0, kPortA, kAdapterA, ORVIACQ_INIT_ADAPTER},
        FailureCase{"KeyForcesLinkSpeed", "INIT_FAILURE_2", "-4", false, 1, kPortB, kAdapterB, ORVIACQ_INIT_LINK_SPEED},
        FailureCase{"KeyWinsOverNames", "INIT_FAILURE_1", "-2", false, 0, "COM1", "eth0", ORVIACQ_INIT_NETWORK},
        FailureCase{"BadIndex", nullptr, nullptr, false, 2, kPortA, kAdapterA, ORVIACQ_ERR_ARGUMENT}),
    [](const auto& info) { return std::string(info.param.szName); });

TEST_F(ConnectionTest, KeyOfDetectorAFailsOnlyDetectorA) {
    SetKey("INIT_FAILURE_1", "-2");
    ORVIAcqHandle hA = 0;
    EXPECT_EQ(TryOpen(0, kPortA, kAdapterA, &hA), ORVIACQ_INIT_NETWORK);
    Open(1, kPortB, kAdapterB);
}

TEST_F(ConnectionTest, OutOfRangeFailureKeyIsIgnored) {
    SetKey("INIT_FAILURE_1", "-7");
    ORVIAcqHandle h = 0;
    ASSERT_EQ(TryOpen(0, kPortA, kAdapterA, &h), ORVIACQ_OK);
    EXPECT_NE(h, 0u);
    // A working detector: it is armed and delivers its exposure.
    Take();
    EXPECT_EQ(Acquisition_StartAecReady(h), ORVIACQ_OK);
    EXPECT_EQ(AcquisitionSim_FireXray(h), 1);
    m_clock.run_until_idle();
    const std::vector<std::string> events = Take();
    EXPECT_FALSE(events.empty());
    EXPECT_NE(events.back().find(" image"), std::string::npos);
    Close(h);
}

TEST_F(ConnectionTest, SettingsOutOfRangeAreBroughtToTheNearestEnd) {
    SetKey("FRAME_WIDTH", "10");
    SetKey("FRAME_HEIGHT", "99999");
    SetKey("ENABLE_MS", "-40");
    SetKey("READOUT_MS", "abc");  // not a number: 0
    ORVIAcqHandle h = Open();
    int32_t w = 0, hgt = 0;
    ASSERT_EQ(AcquisitionSim_GetFrameSize(h, &w, &hgt), ORVIACQ_OK);
    EXPECT_EQ(w, 64);
    EXPECT_EQ(hgt, 3072);
    Acquisition_StartAecReady(h);
    AcquisitionSim_FireXray(h);
    m_clock.run_until_idle();
    EXPECT_EQ(Take(), (std::vector<std::string>{"0 A aec 1", "0 A aec 999", "0 A image"}));
}

TEST_F(ConnectionTest, NullArgumentsAreRefused) {
    ORVIAcqHandle h = 0;
    EXPECT_EQ(Acquisition_Initialize(Record(0), kPortA, kAdapterA, nullptr), ORVIACQ_ERR_ARGUMENT);
    EXPECT_EQ(Acquisition_Initialize(Record(0), nullptr, kAdapterA, &h), ORVIACQ_ERR_ARGUMENT);
    EXPECT_EQ(Acquisition_Initialize(Record(0), kPortA, nullptr, &h), ORVIACQ_ERR_ARGUMENT);
    EXPECT_EQ(h, 0u);
}

TEST_F(ConnectionTest, RecordTextsWithoutTerminatorAreReadToTheirEnd) {
    ORVIAcqOpenRecord r = Record(0);
    std::memset(r.szIniPath, 'x', sizeof r.szIniPath);  // a path that does not exist: defaults
    std::memset(r.szProgramFolder, 'y', sizeof r.szProgramFolder);
    ORVIAcqHandle h = 0;
    ASSERT_EQ(Acquisition_Initialize(r, kPortA, kAdapterA, &h), ORVIACQ_OK);
    int32_t w = 0, hgt = 0;
    AcquisitionSim_GetFrameSize(h, &w, &hgt);
    EXPECT_EQ(w, 3072);
    EXPECT_EQ(hgt, 3072);
    Acquisition_Close(h);
}

TEST_F(ConnectionTest, DispatcherIsNeededAndStaysWhileADetectorIsOpen) {
    ORVIAcqHandle h = Open(0);
    CVirtualClock other;
    EXPECT_EQ(InstallLibraryDispatch(other), ORVIACQ_ERR_STATE);
    EXPECT_EQ(UninstallLibraryDispatch(), ORVIACQ_ERR_STATE);
    Close(h);
    ASSERT_EQ(UninstallLibraryDispatch(), ORVIACQ_OK);
    ORVIAcqHandle h2 = 0;
    EXPECT_EQ(Acquisition_Initialize(Record(0), kPortA, kAdapterA, &h2), ORVIACQ_ERR_NO_DISPATCHER);
    ORVIAcqDispatcher incomplete = MakeLibraryDispatcher(m_clock);
    incomplete.post = nullptr;
    EXPECT_EQ(AcquisitionExt_SetDispatcher(&incomplete), ORVIACQ_ERR_ARGUMENT);
    ASSERT_EQ(InstallLibraryDispatch(m_clock), ORVIACQ_OK);
}

TEST(AdapterListTest, ListsTheSimulatedAdaptersAndPortsAndFreesThem) {
    ORVIAcqListNode* pAdapters = Acquisition_GigeGetAdapterList();
    EXPECT_EQ(Names(pAdapters),
              (std::vector<std::string>{"Simulated GigE Adapter 1", "Simulated GigE Adapter 2",
                                        "Simulated GigE Adapter (no detector)", "Simulated Fast Ethernet Adapter"}));
    Acquisition_GigeFreeAdapterList(pAdapters);
    ORVIAcqListNode* pPorts = AcquisitionExt_GetSerialPortList();
    EXPECT_EQ(Names(pPorts), (std::vector<std::string>{"SIMCOM1", "SIMCOM2"}));
    AcquisitionExt_FreeSerialPortList(pPorts);
}

TEST(HeaderTest, IsUsableFromC) {
    EXPECT_EQ(CountAdaptersFromC(), 4);
    EXPECT_EQ(OpenRecordSizeFromC(), static_cast<int32_t>(sizeof(ORVIAcqOpenRecord)));
    EXPECT_EQ(sizeof(ORVIAcqOpenRecord), 4u + 2u * ORVIACQ_TEXT_SIZE);
    EXPECT_EQ(CloseZeroFromC(), ORVIACQ_ERR_HANDLE);
}

// The shipped configuration connects detector A and, with its defaults, a
// program that arms at 0 and lights its ready lamp at 12000 - EXP_DELAY gets
// its X-ray half a second later.
TEST_F(ConnectionTest, TheShippedConfigurationConnectsAndExposes) {
    const std::string strIni = ORVI_DEFAULT_INI;
    const std::string strPort = ReadProfileText(strIni, "CONFIG", "COM_NAME_1", "", 64);
    const std::string strAdapter = ReadProfileText(strIni, "CONFIG", "ADAPTER_NAME_1", "", 512);
    const int32_t nExpDelay = ReadProfileInt(strIni, "CONFIG", "EXP_DELAY", 0);
    ORVIAcqOpenRecord r{};
    std::strncpy(r.szIniPath, strIni.c_str(), sizeof r.szIniPath - 1);
    ORVIAcqHandle h = 0;
    ASSERT_EQ(Acquisition_Initialize(r, strPort.c_str(), strAdapter.c_str(), &h), ORVIACQ_OK);
    m_labels[h] = "A";
    Acquisition_SetAecCallback(h, &OnAec, this);
    Acquisition_GigeAdapterObjectSetImageCallback(h, &OnImage, this);
    Acquisition_SetDRConfigAecExpTime(h, nExpDelay);
    Acquisition_DRConfigUpdateAll(h);
    Acquisition_StartAecReady(h);
    m_clock.run_until_idle();
    const int32_t nFire = 12500 - nExpDelay;
    EXPECT_EQ(Take(), (std::vector<std::string>{"500 A aec 1", std::to_string(nFire) + " A aec 999",
                                                std::to_string(nFire + 300) + " A image"}));
}

TEST(AdapterListTest, FreeAcceptsNullAndIgnoresWhatItDidNotHandOut) {
    auto names = [](const ORVIAcqListNode* p) {
        std::vector<std::string> v;
        for (; p != nullptr; p = p->pNext) v.push_back(p->szName);
        return v;
    };
    Acquisition_GigeFreeAdapterList(nullptr);
    AcquisitionExt_FreeSerialPortList(nullptr);
    ORVIAcqListNode foreign{};
    std::strcpy(foreign.szName, "not the library's");
    Acquisition_GigeFreeAdapterList(&foreign);  // not ours: left alone
    EXPECT_STREQ(foreign.szName, "not the library's");
    EXPECT_EQ(foreign.pNext, nullptr);
    ORVIAcqListNode* pList = Acquisition_GigeGetAdapterList();
    ASSERT_NE(pList, nullptr);
    const std::vector<std::string> before = names(pList);
    ASSERT_GE(before.size(), 2u);
    ORVIAcqListNode* pSecond = pList->pNext;
    Acquisition_GigeFreeAdapterList(pSecond);  // not a head: left alone
    EXPECT_EQ(names(pList), before);           // the whole list is still there
    Acquisition_GigeFreeAdapterList(pList);
    Acquisition_GigeFreeAdapterList(pList);  // freed already: ignored
    // The library goes on handing out whole lists.
    ORVIAcqListNode* pAgain = Acquisition_GigeGetAdapterList();
    EXPECT_EQ(names(pAgain), before);
    Acquisition_GigeFreeAdapterList(pAgain);
}

// Every call that takes a handle, with a handle that is 0, closed or never
// given out: an error result, nothing written, no crash.
class BadHandleTest : public SimFixture, public ::testing::WithParamInterface<const char*> {
protected:
    ORVIAcqHandle BadHandle() {
        const std::string strKind = GetParam();
        if (strKind == "Zero") return 0;
        if (strKind == "Unknown") return 0x12345678u;
        ORVIAcqHandle h = Open(0);
        Close(h);
        return h;
    }
};

TEST_P(BadHandleTest, EveryCallGivesAnError) {
    const ORVIAcqHandle h = BadHandle();
    EXPECT_EQ(Acquisition_Close(h), ORVIACQ_ERR_HANDLE);
    EXPECT_EQ(Acquisition_SetComCallback(h, &OnCom, this), ORVIACQ_ERR_HANDLE);
    EXPECT_EQ(Acquisition_SetAecCallback(h, &OnAec, this), ORVIACQ_ERR_HANDLE);
    EXPECT_EQ(Acquisition_GigeAdapterObjectSetImageCallback(h, &OnImage, this), ORVIACQ_ERR_HANDLE);
    EXPECT_EQ(Acquisition_ReadDRConfig(h), 0);
    EXPECT_EQ(Acquisition_DRConfigUpdateAll(h), 0);
    EXPECT_EQ(Acquisition_ResetDRConfig(h), 0);
    EXPECT_EQ(Acquisition_SetDRConfigVT(h, 2.5f), ORVIACQ_ERR_HANDLE);
    EXPECT_EQ(Acquisition_SetDRConfigPGA(h, 5), ORVIACQ_ERR_HANDLE);
    EXPECT_EQ(Acquisition_SetDRConfigAecExpTime(h, 0), ORVIACQ_ERR_HANDLE);
    EXPECT_EQ(Acquisition_SetDRConfigIntegrate(h, 100), ORVIACQ_ERR_HANDLE);
    EXPECT_EQ(Acquisition_SetDRConfigSerialTimeSpan(h, 3000), ORVIACQ_ERR_HANDLE);
    EXPECT_EQ(Acquisition_SetDRConfigAecMode(h, 1), ORVIACQ_ERR_HANDLE);
    EXPECT_EQ(Acquisition_SetDRConfigAecSensor(h, 0, 1, 0, 0), ORVIACQ_ERR_HANDLE);
    EXPECT_EQ(Acquisition_SetDRConfigAecGain(h, 1, 0, 0, 0), ORVIACQ_ERR_HANDLE);
    EXPECT_EQ(Acquisition_SetDRConfigSetDelayTime(h, 1000), ORVIACQ_ERR_HANDLE);
    EXPECT_EQ(Acquisition_SetDRConfigClearTime(h, 1500), ORVIACQ_ERR_HANDLE);
    int32_t a = 7, b = 7, c = 7, d = 7;
    EXPECT_EQ(Acquisition_GetDRConfigVersion(h, &a, &b, &c), ORVIACQ_ERR_HANDLE);
    EXPECT_EQ(Acquisition_GetDRConfigAecSensor(h, &a, &b, &c, &d), ORVIACQ_ERR_HANDLE);
    EXPECT_EQ(Acquisition_GetDRConfigAecGain(h, &a, &b, &c, &d), ORVIACQ_ERR_HANDLE);
    EXPECT_EQ(a + b + c + d, 28);
    EXPECT_EQ(Acquisition_GetDRConfigVT(h), 0.0f);
    EXPECT_EQ(Acquisition_GetDRConfigPGA(h), 0);
    EXPECT_EQ(Acquisition_GetDRConfigAecExpTime(h), 0);
    EXPECT_EQ(Acquisition_GetDRConfigIntegrate(h), 0);
    EXPECT_EQ(Acquisition_GetDRConfigSerialTimeSpan(h), 0);
    EXPECT_EQ(Acquisition_GetDRConfigAecMode(h), ORVIACQ_ERR_HANDLE);
    EXPECT_EQ(Acquisition_GetDRConfigSetDelayTime(h), 0);
    EXPECT_EQ(Acquisition_GetDRConfigClearTime(h), 0);
    EXPECT_EQ(Acquisition_GetInnerDelayTime(h), 0);
    EXPECT_EQ(Acquisition_StartAecReady(h), ORVIACQ_ERR_HANDLE);
    EXPECT_EQ(Acquisition_StartAcquisition(h), ORVIACQ_ERR_HANDLE);
    EXPECT_EQ(Acquisition_StartClearTimeAcquisition(h, 1000), ORVIACQ_ERR_HANDLE);
    EXPECT_EQ(Correction_SetDoGain(h, 1), ORVIACQ_ERR_HANDLE);
    EXPECT_EQ(Correction_SetDoDefect(h, 1), ORVIACQ_ERR_HANDLE);
    EXPECT_EQ(Correction_SetDoOffset2(h, 1), ORVIACQ_ERR_HANDLE);
    EXPECT_EQ(Correction_SetAutoOffset(h, 1), ORVIACQ_ERR_HANDLE);
    EXPECT_EQ(AcquisitionSim_FireXray(h), ORVIACQ_ERR_HANDLE);
    EXPECT_EQ(AcquisitionSim_SetObjectIn(h, 0), ORVIACQ_ERR_HANDLE);
    EXPECT_EQ(AcquisitionSim_SetDose(h, 100), ORVIACQ_ERR_HANDLE);
    EXPECT_EQ(AcquisitionSim_SendCorruptPacket(h), ORVIACQ_ERR_HANDLE);
    EXPECT_EQ(AcquisitionSim_DropLink(h), ORVIACQ_ERR_HANDLE);
    EXPECT_EQ(AcquisitionSim_GetFrameSize(h, &a, &b), ORVIACQ_ERR_HANDLE);
    ORVIAcqSimRect rect{};
    EXPECT_EQ(AcquisitionSim_GetObjectRect(h, &rect), ORVIACQ_ERR_HANDLE);
    EXPECT_EQ(AcquisitionSim_GetDefects(h, nullptr, 0), ORVIACQ_ERR_HANDLE);
    m_clock.run_until_idle();
    EXPECT_TRUE(Take().empty());
}

INSTANTIATE_TEST_SUITE_P(Kinds, BadHandleTest, ::testing::Values("Zero", "Closed", "Unknown"),
                         [](const auto& info) { return std::string(info.param); });

TEST_F(ConnectionTest, NullOutPointersAreRefusedAndNothingIsWritten) {
    ORVIAcqHandle h = Open(0);
    int32_t a = 7, b = 7, c = 7;
    EXPECT_EQ(Acquisition_GetDRConfigVersion(h, &a, nullptr, &c), ORVIACQ_ERR_ARGUMENT);
    EXPECT_EQ(Acquisition_GetDRConfigAecSensor(h, &a, &b, &c, nullptr), ORVIACQ_ERR_ARGUMENT);
    EXPECT_EQ(Acquisition_GetDRConfigAecGain(h, nullptr, &a, &b, &c), ORVIACQ_ERR_ARGUMENT);
    EXPECT_EQ(AcquisitionSim_GetFrameSize(h, nullptr, &b), ORVIACQ_ERR_ARGUMENT);
    EXPECT_EQ(AcquisitionSim_GetObjectRect(h, nullptr), ORVIACQ_ERR_ARGUMENT);
    EXPECT_EQ(AcquisitionSim_GetDefects(h, nullptr, 3), ORVIACQ_ERR_ARGUMENT);
    EXPECT_EQ(AcquisitionSim_GetDefects(h, nullptr, -1), ORVIACQ_ERR_ARGUMENT);
    EXPECT_EQ(a + b + c, 21);
    // Flags other than 0 and 1 are refused.
    EXPECT_EQ(Correction_SetDoGain(h, 2), ORVIACQ_ERR_ARGUMENT);
    EXPECT_EQ(AcquisitionSim_SetObjectIn(h, -1), ORVIACQ_ERR_ARGUMENT);
    EXPECT_EQ(AcquisitionSim_SetDose(h, 16384), ORVIACQ_ERR_RANGE);
}

TEST_F(ConnectionTest, NullCallbackUnregisters) {
    ORVIAcqHandle h = Open(0);
    EXPECT_EQ(Acquisition_GigeAdapterObjectSetImageCallback(h, nullptr, nullptr), ORVIACQ_OK);
    EXPECT_EQ(Acquisition_SetAecCallback(h, nullptr, nullptr), ORVIACQ_OK);
    EXPECT_EQ(Acquisition_SetComCallback(h, nullptr, nullptr), ORVIACQ_OK);
    Acquisition_StartAecReady(h);
    Acquisition_ReadDRConfig(h);
    m_clock.run_until_idle();
    EXPECT_TRUE(Take().empty());
}

}  // namespace
}  // namespace orvi::test
