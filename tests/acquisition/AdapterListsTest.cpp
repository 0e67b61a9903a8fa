// The names the adapter dialog offers, and the real-time event loop of the
// headless station (order only; times belong to benchmarks).
#include "acquisition/AdapterLists.h"
#include "acquisition/EventLoopTimerService.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

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

// Pseudo-terminals stand in for serial ports held by other programs.
TEST(AdapterLists, PortsInUseByAnotherProgramAreLeftOut) {
    TempDir dev, locks;
    std::vector<int> fds;
    // A pseudo-terminal linked into the device folder under a serial name;
    // returns its terminal side's path.
    auto port = [&](const char* szName) {
        const int nMaster = ::posix_openpt(O_RDWR | O_NOCTTY);
        EXPECT_GE(nMaster, 0);
        EXPECT_EQ(::grantpt(nMaster), 0);
        EXPECT_EQ(::unlockpt(nMaster), 0);
        fds.push_back(nMaster);
        const std::string strPts = ::ptsname(nMaster);
        std::filesystem::create_symlink(strPts, dev.file(szName));
        return strPts;
    };
    auto hold = [&](const std::string& strPts) {
        const int fd = ::open(strPts.c_str(), O_RDWR | O_NOCTTY);
        EXPECT_GE(fd, 0);
        fds.push_back(fd);
        return fd;
    };
    port("ttyS0");                                                  // free
    EXPECT_EQ(::ioctl(hold(port("ttyS1")), TIOCEXCL), 0);           // exclusive mode
    EXPECT_EQ(::flock(hold(port("ttyS2")), LOCK_EX | LOCK_NB), 0);  // a flock
    port("ttyS3");
    WriteFile(locks.file("LCK..ttyS3"), "     " + std::to_string(::getpid()) + "\n");  // a live owner
    port("ttyS4");
    const pid_t nGone = ::fork();  // a pid that has ended: its lock file is stale
    if (nGone == 0) ::_exit(0);
    ::waitpid(nGone, nullptr, 0);
    WriteFile(locks.file("LCK..ttyS4"), "     " + std::to_string(nGone) + "\n");
    port("ttyS5");
    const int32_t nBinaryPid = ::getpid();  // the oldest tools' binary pid
    WriteFile(locks.file("LCK..ttyS5"), std::string(reinterpret_cast<const char*>(&nBinaryPid), 4));

    const std::string d = dev.path().string() + "/";
    EXPECT_EQ(ListSerialPorts(dev.path().string(), locks.path().string()),
              (Lines{d + "ttyS0", d + "ttyS4", "SIMCOM1", "SIMCOM2"}));
    for (int fd : fds) ::close(fd);
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
