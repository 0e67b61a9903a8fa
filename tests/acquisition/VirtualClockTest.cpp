#include "acquisition/VirtualClock.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace orvi {
namespace {

// Records "<time>:<id>" for every expiry.
class VirtualClockTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_clock.set_handler([this](uint32_t nId) {
            m_log.push_back(std::to_string(m_clock.now()) + ":" + std::to_string(nId));
            if (m_onFire) m_onFire(nId);
        });
    }
    CVirtualClock m_clock;
    std::vector<std::string> m_log;
    std::function<void(uint32_t)> m_onFire;
};

using Log = std::vector<std::string>;

TEST_F(VirtualClockTest, RepeatsUntilStopped) {
    m_clock.start(801, 500);
    m_clock.advance(1600);
    EXPECT_EQ(m_log, (Log{"500:801", "1000:801", "1500:801"}));
    m_clock.stop(801);
    m_clock.advance(1000);
    EXPECT_EQ(m_log.size(), 3u);
    EXPECT_EQ(m_clock.now_ms(), 2600u);
}

TEST_F(VirtualClockTest, EqualDueTimesRunInTheOrderTheyWereStarted) {
    // 811 at 12000 and 803's last tick at 12000: the one scheduled first runs first.
    m_clock.start(811, 12000);
    m_clock.start(804, 11000);
    m_onFire = [this](uint32_t nId) {
        if (nId == 804) {
            m_clock.stop(804);
            m_clock.start(803, 1000);
        }
    };
    m_clock.advance(12000);
    EXPECT_EQ(m_log, (Log{"11000:804", "12000:811", "12000:803"}));
}

TEST_F(VirtualClockTest, HandlerMayStopOrRestartOtherTimers) {
    m_clock.start(1, 100);
    m_clock.start(2, 100);
    m_clock.start(3, 150);
    m_onFire = [this](uint32_t nId) {
        if (nId == 1) m_clock.stop(2);         // due at the same time, never runs
        if (nId == 3) m_clock.start(1, 1000);  // restart replaces: next at 1150
    };
    m_clock.advance(1200);
    EXPECT_EQ(m_log, (Log{"100:1", "150:3", "300:3", "450:3", "600:3", "750:3", "900:3", "1050:3", "1200:3"}));
}

TEST_F(VirtualClockTest, NonPositivePeriodIsDueAtOnceThenRepeatsAtTheMinimum) {
    m_clock.advance(40);
    m_clock.start(804, -1000);
    m_clock.start(811, 0);
    m_onFire = [this](uint32_t nId) {
        if (nId == 804) m_clock.stop(804);
    };
    m_clock.advance(2);
    EXPECT_EQ(m_log, (Log{"40:804", "40:811", "41:811", "42:811"}));
}

TEST_F(VirtualClockTest, SleepDelaysDueEventsWhichThenRunInOrder) {
    std::vector<std::string> order;
    m_clock.start(805, 25);
    m_clock.post(10, [&] {
        order.push_back("task@" + std::to_string(m_clock.now()));
        m_clock.sleep_ms(900);  // a blocked window thread
    });
    m_clock.post(20, [&] { order.push_back("late@" + std::to_string(m_clock.now())); });
    m_onFire = [this](uint32_t) { m_clock.stop(805); };
    m_clock.advance(1000);
    EXPECT_EQ(order, (Log{"task@10", "late@910"}));
    EXPECT_EQ(m_log, (Log{"910:805"}));
}

TEST_F(VirtualClockTest, PostedTasksAndTimersShareOneTimeline) {
    m_clock.start(7, 100);
    m_clock.post(100, [this] { m_log.push_back("task@" + std::to_string(m_clock.now())); });
    m_clock.post(0, [this] { m_log.push_back("now@" + std::to_string(m_clock.now())); });
    m_clock.advance(100);
    EXPECT_EQ(m_log, (Log{"now@0", "100:7", "task@100"}));
    EXPECT_TRUE(m_clock.run_until_idle(50) == false);  // timer 7 keeps repeating
}

TEST_F(VirtualClockTest, AdvancingFromAHandlerIsRefused) {
    m_clock.post(1, [this] { EXPECT_THROW(m_clock.advance(1), std::logic_error); });
    m_clock.advance(5);
}

}  // namespace
}  // namespace orvi
