// The parameter block: read requests answered by checksummed packets, setters
// that stage, the update that sends, the factory reset, corrupted packets.
#include "orviacquire/SimFixture.h"

#include <cmath>
#include <cstring>
#include <limits>
#include <ostream>

namespace orvi::test {
namespace {

struct Values {
    int32_t nMajor = 0, nMinor = 0, nBuild = 0;
    float fVt = 0.0f;
    int32_t nPga = 0, nAecExpTime = 0, nIntegrate = 0, nSpan = 0, nAecMode = 0;
    int32_t sensor[4] = {}, gain[4] = {};
    int32_t nSetDelay = 0, nClear = 0;
};

Values GetAll(ORVIAcqHandle h) {
    Values v;
    EXPECT_EQ(Acquisition_GetDRConfigVersion(h, &v.nMajor, &v.nMinor, &v.nBuild), ORVIACQ_OK);
    v.fVt = Acquisition_GetDRConfigVT(h);
    v.nPga = Acquisition_GetDRConfigPGA(h);
    v.nAecExpTime = Acquisition_GetDRConfigAecExpTime(h);
    v.nIntegrate = Acquisition_GetDRConfigIntegrate(h);
    v.nSpan = Acquisition_GetDRConfigSerialTimeSpan(h);
    v.nAecMode = Acquisition_GetDRConfigAecMode(h);
    EXPECT_EQ(Acquisition_GetDRConfigAecSensor(h, &v.sensor[0], &v.sensor[1], &v.sensor[2], &v.sensor[3]), 0);
    EXPECT_EQ(Acquisition_GetDRConfigAecGain(h, &v.gain[0], &v.gain[1], &v.gain[2], &v.gain[3]), 0);
    v.nSetDelay = Acquisition_GetDRConfigSetDelayTime(h);
    v.nClear = Acquisition_GetDRConfigClearTime(h);
    return v;
}

uint8_t Xor3To130(const std::vector<uint8_t>& p) {
    uint8_t x = 0;
    for (size_t i = 3; i <= 130; ++i) x ^= p[i];
    return x;
}

using ParameterTest = SimFixture;

TEST_F(ParameterTest, ReadIsAnsweredLaterWithAChecksummedBlockThatTheGettersShow) {
    ORVIAcqHandle h = Open();
    EXPECT_EQ(Acquisition_ReadDRConfig(h), 1);
    EXPECT_TRUE(Take().empty());  // never inside the call
    m_clock.advance(49);
    EXPECT_TRUE(Take().empty());
    m_clock.advance(1);
    ASSERT_EQ(Take(), (std::vector<std::string>{"50 A com 132"}));
    const std::vector<uint8_t>& p = m_packets.back();
    EXPECT_EQ(p[131], Xor3To130(p));
    EXPECT_EQ(p[4], 0);  // detector index

    // The factory values pass the configuration dialog's checks and show as 8.1.2.3.
    const Values v = GetAll(h);
    EXPECT_EQ((std::vector<int32_t>{v.nMajor - 3, v.nMinor - 3, v.nBuild - 7}), (std::vector<int32_t>{1, 2, 3}));
    EXPECT_FLOAT_EQ(v.fVt, 2.5f);
    EXPECT_EQ(v.nPga, 5);
    EXPECT_EQ(v.nAecExpTime, 0);
    EXPECT_EQ(v.nIntegrate, 100);
    EXPECT_EQ(v.nSpan, 3000);
    EXPECT_EQ(v.nAecMode, 1);
    EXPECT_EQ((std::vector<int32_t>(v.sensor, v.sensor + 4)), (std::vector<int32_t>{0, 1, 0, 0}));
    EXPECT_EQ((std::vector<int32_t>(v.gain, v.gain + 4)), (std::vector<int32_t>{1, 0, 0, 0}));
    EXPECT_EQ(v.nSetDelay, 1000);
    EXPECT_EQ(v.nClear, 1500);
    EXPECT_EQ(Acquisition_GetInnerDelayTime(h), 1000);
}

TEST_F(ParameterTest, SettersStageAndUpdateAllSendsThem) {
    ORVIAcqHandle h = Open();
    EXPECT_EQ(Acquisition_SetDRConfigVT(h, 3.75f), ORVIACQ_OK);
    EXPECT_EQ(Acquisition_SetDRConfigPGA(h, 3), ORVIACQ_OK);
    EXPECT_EQ(Acquisition_SetDRConfigAecExpTime(h, 2000), ORVIACQ_OK);
    EXPECT_EQ(Acquisition_SetDRConfigIntegrate(h, 250), ORVIACQ_OK);
    EXPECT_EQ(Acquisition_SetDRConfigSerialTimeSpan(h, 1800), ORVIACQ_OK);
    EXPECT_EQ(Acquisition_SetDRConfigAecMode(h, 0), ORVIACQ_OK);
    EXPECT_EQ(Acquisition_SetDRConfigAecSensor(h, 1, 0, 1, 1), ORVIACQ_OK);
    EXPECT_EQ(Acquisition_SetDRConfigAecGain(h, 0, 1, 1, 0), ORVIACQ_OK);
    EXPECT_EQ(Acquisition_SetDRConfigSetDelayTime(h, 700), ORVIACQ_OK);
    EXPECT_EQ(Acquisition_SetDRConfigClearTime(h, 1200), ORVIACQ_OK);

    // Staged only: the detector still answers with what it holds.
    Acquisition_ReadDRConfig(h);
    m_clock.advance(100);
    EXPECT_EQ(GetAll(h).nPga, 5);
    EXPECT_EQ(Acquisition_GetInnerDelayTime(h), 1000);

    EXPECT_EQ(Acquisition_DRConfigUpdateAll(h), 1);
    EXPECT_EQ(Acquisition_GetInnerDelayTime(h), 700);  // the detector's live value
    EXPECT_EQ(GetAll(h).nPga, 5);                      // the getters wait for a read
    Take();
    m_clock.advance(50);
    EXPECT_EQ(Take(), (std::vector<std::string>{"150 A com 8"}));  // a short acknowledgement

    Acquisition_ReadDRConfig(h);
    m_clock.advance(50);
    const Values v = GetAll(h);
    EXPECT_FLOAT_EQ(v.fVt, 3.75f);
    EXPECT_EQ(v.nPga, 3);
    EXPECT_EQ(v.nAecExpTime, 2000);
    EXPECT_EQ(v.nIntegrate, 250);
    EXPECT_EQ(v.nSpan, 1800);
    EXPECT_EQ(v.nAecMode, 0);
    EXPECT_EQ((std::vector<int32_t>(v.sensor, v.sensor + 4)), (std::vector<int32_t>{1, 0, 1, 1}));
    EXPECT_EQ((std::vector<int32_t>(v.gain, v.gain + 4)), (std::vector<int32_t>{0, 1, 1, 0}));
    EXPECT_EQ(v.nSetDelay, 700);
    EXPECT_EQ(v.nClear, 1200);

    // The staging was emptied by the update: a second update changes nothing.
    Acquisition_SetDRConfigPGA(h, 6);
    Acquisition_DRConfigUpdateAll(h);
    Acquisition_DRConfigUpdateAll(h);
    Acquisition_ReadDRConfig(h);
    m_clock.advance(50);
    EXPECT_EQ(GetAll(h).nPga, 6);
    EXPECT_EQ(GetAll(h).nSetDelay, 700);
}

struct RangeCase {
    const char* szName;
    int32_t (*fnSet)(ORVIAcqHandle);
    int32_t nExpected;
};

void PrintTo(const RangeCase& c, std::ostream* os) { *os << c.szName; }

class SetterRangeTest : public SimFixture, public ::testing::WithParamInterface<RangeCase> {};

// A refused value is not staged: after an update and a read the getters still
// show the factory block, so a host's dialog shows what the detector holds.
TEST_P(SetterRangeTest, RefusedValuesAreNotStaged) {
    ORVIAcqHandle h = Open();
    const Values before = GetAll(h);
    EXPECT_EQ(GetParam().fnSet(h), GetParam().nExpected);
    Acquisition_DRConfigUpdateAll(h);
    Acquisition_ReadDRConfig(h);
    m_clock.advance(100);
    const Values after = GetAll(h);
    const bool bSame = std::memcmp(&before, &after, sizeof before) == 0;
    EXPECT_EQ(bSame, GetParam().nExpected != ORVIACQ_OK);
}

INSTANTIATE_TEST_SUITE_P(
    Values, SetterRangeTest,
    ::testing::Values(
        RangeCase{"VtLowest", [](ORVIAcqHandle h) { return Acquisition_SetDRConfigVT(h, 1.25f); }, ORVIACQ_OK},
        RangeCase{"VtHighest", [](ORVIAcqHandle h) { return Acquisition_SetDRConfigVT(h, 4.50f); }, ORVIACQ_OK},
        RangeCase{"VtTooLow", [](ORVIAcqHandle h) { return Acquisition_SetDRConfigVT(h, 1.24f); }, ORVIACQ_ERR_RANGE},
        RangeCase{"VtTooHigh", [](ORVIAcqHandle h) { return Acquisition_SetDRConfigVT(h, 4.51f); }, ORVIACQ_ERR_RANGE},
        RangeCase{"VtNotANumber",
                  [](ORVIAcqHandle h) { return Acquisition_SetDRConfigVT(h, std::numeric_limits<float>::quiet_NaN()); },
                  ORVIACQ_ERR_RANGE},
        RangeCase{"PgaHighest", [](ORVIAcqHandle h) { return Acquisition_SetDRConfigPGA(h, 7); }, ORVIACQ_OK},
        RangeCase{"PgaNegative", [](ORVIAcqHandle h) { return Acquisition_SetDRConfigPGA(h, -1); }, ORVIACQ_ERR_RANGE},
        RangeCase{"PgaEight", [](ORVIAcqHandle h) { return Acquisition_SetDRConfigPGA(h, 8); }, ORVIACQ_ERR_RANGE},
        RangeCase{"ExpTimeHighest", [](ORVIAcqHandle h) { return Acquisition_SetDRConfigAecExpTime(h, 65535); },
                  ORVIACQ_OK},
        RangeCase{"ExpTimeTooHigh", [](ORVIAcqHandle h) { return Acquisition_SetDRConfigAecExpTime(h, 65536); },
                  ORVIACQ_ERR_RANGE},
        RangeCase{"SetDelayNegative", [](ORVIAcqHandle h) { return Acquisition_SetDRConfigSetDelayTime(h, -5); },
                  ORVIACQ_ERR_RANGE},
        RangeCase{"IntegrateZero", [](ORVIAcqHandle h) { return Acquisition_SetDRConfigIntegrate(h, 0); },
                  ORVIACQ_ERR_RANGE},
        RangeCase{"AecModeTwo", [](ORVIAcqHandle h) { return Acquisition_SetDRConfigAecMode(h, 2); },
                  ORVIACQ_ERR_RANGE},
        RangeCase{"SensorFlagTwo", [](ORVIAcqHandle h) { return Acquisition_SetDRConfigAecSensor(h, 0, 2, 0, 0); },
                  ORVIACQ_ERR_RANGE},
        RangeCase{"GainFlagNegative", [](ORVIAcqHandle h) { return Acquisition_SetDRConfigAecGain(h, 0, 0, 0, -1); },
                  ORVIACQ_ERR_RANGE},
        RangeCase{"ClearTimeTooHigh", [](ORVIAcqHandle h) { return Acquisition_SetDRConfigClearTime(h, 70000); },
                  ORVIACQ_ERR_RANGE}),
    [](const auto& info) { return std::string(info.param.szName); });

TEST_F(ParameterTest, ResetRestoresTheFactoryBlockAndAnswersWithIt) {
    ORVIAcqHandle h = Open();
    Acquisition_SetDRConfigPGA(h, 2);
    Acquisition_SetDRConfigSetDelayTime(h, 300);
    Acquisition_DRConfigUpdateAll(h);
    Acquisition_ReadDRConfig(h);
    m_clock.advance(100);
    ASSERT_EQ(GetAll(h).nPga, 2);
    Acquisition_SetDRConfigClearTime(h, 900);  // staged before the reset: dropped by it
    Take();

    EXPECT_EQ(Acquisition_ResetDRConfig(h), 1);
    EXPECT_EQ(Acquisition_GetInnerDelayTime(h), 1000);
    EXPECT_EQ(GetAll(h).nPga, 2);  // the getters change with the answer
    m_clock.advance(50);
    EXPECT_EQ(Take(), (std::vector<std::string>{"150 A com 132"}));
    EXPECT_EQ(GetAll(h).nPga, 5);
    EXPECT_EQ(GetAll(h).nSetDelay, 1000);
    Acquisition_DRConfigUpdateAll(h);
    Acquisition_ReadDRConfig(h);
    m_clock.advance(100);
    EXPECT_EQ(GetAll(h).nClear, 1500);
}

TEST_F(ParameterTest, CorruptedPacketsKeepTheGettersAsTheyWere) {
    SetKey("CORRUPT_PACKET", "1");
    ORVIAcqHandle h = Open();
    Acquisition_SetDRConfigPGA(h, 3);
    Acquisition_DRConfigUpdateAll(h);

    Acquisition_ReadDRConfig(h);  // the first packet after the open is spoiled
    m_clock.advance(100);
    ASSERT_EQ(m_packets.back().size(), 132u);
    EXPECT_NE(m_packets.back()[131], Xor3To130(m_packets.back()));
    EXPECT_EQ(GetAll(h).nPga, 5);

    Acquisition_ReadDRConfig(h);  // the second is sound
    m_clock.advance(100);
    EXPECT_EQ(m_packets.back()[131], Xor3To130(m_packets.back()));
    EXPECT_EQ(GetAll(h).nPga, 3);

    // The control call spoils one packet on demand.
    Acquisition_SetDRConfigPGA(h, 4);
    Acquisition_DRConfigUpdateAll(h);
    EXPECT_EQ(AcquisitionSim_SendCorruptPacket(h), ORVIACQ_OK);
    m_clock.advance(100);
    EXPECT_NE(m_packets.back()[131], Xor3To130(m_packets.back()));
    EXPECT_EQ(GetAll(h).nPga, 3);
}

TEST_F(ParameterTest, EveryPacketCanBeSpoiled) {
    SetKey("CORRUPT_PACKET", "-1");
    ORVIAcqHandle h = Open();
    for (int i = 0; i < 3; ++i) {
        Acquisition_ReadDRConfig(h);
        m_clock.advance(100);
        EXPECT_NE(m_packets.back()[131], Xor3To130(m_packets.back()));
    }
}

TEST_F(ParameterTest, TransfersFailWithTheLinkDownWhileStagingAndGettersStay) {
    ORVIAcqHandle h = Open();
    Acquisition_ReadDRConfig(h);  // its answer is lost with the link
    ASSERT_EQ(AcquisitionSim_DropLink(h), ORVIACQ_OK);
    EXPECT_EQ(Acquisition_ReadDRConfig(h), 0);
    EXPECT_EQ(Acquisition_DRConfigUpdateAll(h), 0);
    EXPECT_EQ(Acquisition_ResetDRConfig(h), 0);
    EXPECT_EQ(AcquisitionSim_SendCorruptPacket(h), ORVIACQ_ERR_LINK);
    EXPECT_EQ(Acquisition_SetDRConfigPGA(h, 2), ORVIACQ_OK);
    EXPECT_EQ(GetAll(h).nPga, 5);
    EXPECT_EQ(Acquisition_GetInnerDelayTime(h), 0);
    m_clock.run_until_idle();
    EXPECT_TRUE(Take().empty());
}

TEST_F(ParameterTest, DetectorBAnswersWithItsIndex) {
    Open(0);
    ORVIAcqHandle hB = Open(1, kPortB, kAdapterB);
    Acquisition_ReadDRConfig(hB);
    m_clock.advance(50);
    EXPECT_EQ(Take(), (std::vector<std::string>{"50 B com 132"}));
    EXPECT_EQ(m_packets.back()[4], 1);
}

}  // namespace
}  // namespace orvi::test

namespace orvi::test {
namespace {

std::string Serial(ORVIAcqHandle h) {
    char sz[32] = {};
    EXPECT_EQ(AcquisitionExt_GetDetectorSerial(h, sz, sizeof sz), ORVIACQ_OK);
    return sz;
}

TEST_F(ParameterTest, TheSerialNumberTravelsInThePacketAndSurvivesAReset) {
    ORVIAcqHandle hA = Open(0);
    ORVIAcqHandle hB = Open(1, kPortB, kAdapterB);
    EXPECT_EQ(Serial(hA), "SIMA00000001");
    EXPECT_EQ(Serial(hB), "SIMB00000001");
    Acquisition_ReadDRConfig(hA);
    m_clock.advance(50);
    ASSERT_FALSE(m_packets.empty());
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(&m_packets.back()[35]), 12), "SIMA00000001");
    EXPECT_EQ(m_packets.back()[47], 0);  // padded with NUL

    Acquisition_ResetDRConfig(hA);
    m_clock.advance(50);
    EXPECT_EQ(Serial(hA), "SIMA00000001");

    // Cut to the buffer; bad arguments and handles.
    char sz[5] = {'x', 'x', 'x', 'x', 'x'};
    EXPECT_EQ(AcquisitionExt_GetDetectorSerial(hA, sz, 5), ORVIACQ_OK);
    EXPECT_STREQ(sz, "SIMA");
    EXPECT_EQ(AcquisitionExt_GetDetectorSerial(hA, nullptr, 5), ORVIACQ_ERR_ARGUMENT);
    EXPECT_EQ(AcquisitionExt_GetDetectorSerial(hA, sz, 0), ORVIACQ_ERR_ARGUMENT);
    EXPECT_EQ(AcquisitionExt_GetDetectorSerial(0, sz, 5), ORVIACQ_ERR_HANDLE);
}

}  // namespace
}  // namespace orvi::test
