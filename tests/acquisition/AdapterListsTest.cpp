// The names the adapter dialog offers, and the real-time event loop of the
// headless station (order only; times belong to benchmarks).
#include "acquisition/AdapterLists.h"
#include "acquisition/EventLoopTimerService.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace orvi::test {
namespace {

using Lines = std::vector<std::string>;

TEST(AdapterLists, SerialNodesThatOpenInNaturalOrderThenTheLibrarysPorts) {
    TempDir dev;
    for (const char* sz : {"ttyS10", "ttyS2", "ttyUSB0", "ttyACM1", "ttySX", "tty0", "null"})
        WriteFile(dev.file(sz), "");
    const Lines ports = ListSerialPorts(dev.path().string());
    const std::string d = dev.path().string() + "/";
    EXPECT_EQ(ports, (Lines{d + "ttyACM1", d + "ttyS2", d + "ttyS10", d + "ttyUSB0", "SIMCOM1", "SIMCOM2"}));
}

TEST(AdapterLists, NaturalOrder) {
    EXPECT_TRUE(NaturalLess("ttyS2", "ttyS10"));
    EXPECT_FALSE(NaturalLess("ttyS10", "ttyS2"));
    EXPECT_TRUE(NaturalLess("ttyS02", "ttyS3"));
    EXPECT_TRUE(NaturalLess("ttyS", "ttyS0"));
    EXPECT_FALSE(NaturalLess("a1", "a1"));
}

TEST(AdapterLists, TheLibrarysAdapters) {
    const Lines adapters = ListNetworkAdapters();
    EXPECT_NE(std::find(adapters.begin(), adapters.end(), "Simulated GigE Adapter 1"), adapters.end());
    EXPECT_NE(std::find(adapters.begin(), adapters.end(), "Simulated GigE Adapter 2"), adapters.end());
}

TEST(EventLoop, RunsTimersAndTasksInDueOrderUntilDone) {
    CEventLoopTimerService loop;
    Lines events;
    loop.set_handler([&](uint32_t nId) {
        events.push_back("timer " + std::to_string(nId));
        if (nId == 2) loop.stop(2);
    });
    loop.start(1, 6);
    loop.start(2, -5);  // due at once, once (it stops itself)
    loop.post(3, [&] { events.push_back("task"); });
    EXPECT_TRUE(loop.run_until([&] { return events.size() >= 4; }, 5000));
    EXPECT_EQ(events, (Lines{"timer 2", "task", "timer 1", "timer 1"}));
    EXPECT_FALSE(loop.run_until([] { return false; }, 1));
}

}  // namespace
}  // namespace orvi::test
