// The simulated detector's own controls are found in the simulator and not
// in a library without them; the configured values come from [SIMULATOR].
#include "acquisition/SimulatorControls.h"
#include "support/TestSupport.h"

#include <dlfcn.h>

#include <gtest/gtest.h>

namespace orvi {
namespace {

TEST(SimulatorControls, FoundInTheSimulatorOnly) {
    EXPECT_TRUE(CSimulatorControls::Lookup().Available()) << "the simulator is linked in";

    void* pSim = dlopen("libORVIAcquireLib.so", RTLD_NOW);
    ASSERT_NE(pSim, nullptr) << dlerror();
    EXPECT_TRUE(CSimulatorControls::LookupIn(pSim).Available());
    dlclose(pSim);

    // A library without the calls (as a real panel's would be): no controls,
    // and using them is harmless.
    void* pOther = dlopen("libPelkio.so", RTLD_NOW);
    ASSERT_NE(pOther, nullptr) << dlerror();
    const CSimulatorControls none = CSimulatorControls::LookupIn(pOther);
    EXPECT_FALSE(none.Available());
    EXPECT_EQ(none.SetObjectIn(1, false), -1);
    EXPECT_EQ(none.SetDose(1, 100), -1);
    dlclose(pOther);
}

// The headless station's --fire-after looks its call up the same way.
TEST(SimulatorControls, AutoFireFoundInTheSimulatorOnly) {
    void* pSim = dlopen("libORVIAcquireLib.so", RTLD_NOW);
    ASSERT_NE(pSim, nullptr) << dlerror();
    EXPECT_TRUE(CSimulatorControls::LookupIn(pSim).CanAutoFire());
    dlclose(pSim);

    void* pOther = dlopen("libPelkio.so", RTLD_NOW);
    ASSERT_NE(pOther, nullptr) << dlerror();
    const CSimulatorControls none = CSimulatorControls::LookupIn(pOther);
    EXPECT_FALSE(none.CanAutoFire());
    EXPECT_EQ(none.SetAutoFire(1, 100), -1);
    dlclose(pOther);
}

TEST(SimulatorControls, ConfiguredValuesWithTheirDefaultsAndLimits) {
    test::TempDir dir;
    const std::string strIni = dir.file("ORVI2.ini");
    EXPECT_TRUE(CSimulatorControls::ConfiguredObjectIn(strIni));
    EXPECT_EQ(CSimulatorControls::ConfiguredDose(strIni), 10000);
    test::WriteFile(strIni, "[SIMULATOR]\nOBJECT=0\nDOSE=99999\n");
    EXPECT_FALSE(CSimulatorControls::ConfiguredObjectIn(strIni));
    EXPECT_EQ(CSimulatorControls::ConfiguredDose(strIni), CSimulatorControls::kMaxDose);
    test::WriteFile(strIni, "[SIMULATOR]\nDOSE=-5\n");
    EXPECT_EQ(CSimulatorControls::ConfiguredDose(strIni), 0);
}

}  // namespace
}  // namespace orvi
