#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>

#include "engine/engine_fixture.h"
#include "engine/stop_signal.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

TEST_F(EngineTest, InitialStateIsHoldWithWelcomeText) {
    EXPECT_EQ(State().nMode, MODE_HOLD);
    EXPECT_EQ(State().nComPort, 0);
    EXPECT_FALSE(State().bStopRequest);
    EXPECT_STREQ(State().szStatus, "Welcome in the Pelkora world");
}

TEST_F(EngineTest, FirstPassesNotifyInTheDocumentedOrder) {
    ASSERT_TRUE(StartEngine());
    ASSERT_TRUE(WaitForNotifications(5));
    const auto seen = Seen();
    // Start, new mode, then one notification per pass with the step's text.
    EXPECT_EQ(seen[0], "Welcome in the Pelkora world");
    EXPECT_EQ(seen[1], "New mode being activated");
    EXPECT_EQ(seen[2], "Hold...");
    EXPECT_EQ(seen[3], "Hold...");
    EXPECT_EQ(seen[4], "Hold...");
}

TEST_F(EngineTest, ModeChangeAnnouncesThenRunsTheNewStep) {
    struct {
        EngineMode mode;
        const char* status;
    } modes[] = {{MODE_SIM_FLOAT, "Local simulation of the network (float numbers)"},
                 {MODE_SIM_INT, "Local simulation of the network (int numbers)"},
                 {MODE_HOLD, "Hold..."}};
    ASSERT_TRUE(StartEngine());
    ASSERT_TRUE(WaitForNotifications(3));
    for (const auto& m : modes) {
        const std::size_t before = Seen().size();
        SetMode(m.mode);
        ASSERT_TRUE(WaitForNotifications(before + 4));
        const auto seen = Seen();
        std::size_t announce = before;
        while (announce < seen.size() && seen[announce] != "New mode being activated") ++announce;
        ASSERT_LT(announce + 1, seen.size()) << m.status;
        EXPECT_EQ(seen[announce + 1], m.status);
        // Choosing the mode that already runs changes nothing.
        SetMode(m.mode);
    }
}

TEST_F(EngineTest, SimulatorsWriteOutputsFromTheCurrentWeights) {
    {
        std::lock_guard lock(State().hMutex);
        State().nMode = MODE_SIM_FLOAT;
    }
    ASSERT_TRUE(StartEngine());
    ASSERT_TRUE(WaitForNotifications(4));
    {
        std::lock_guard lock(State().hMutex);
        for (auto v : State().wOutputs) EXPECT_EQ(v, 127);  // all-zero float network
        State().nMode = MODE_SIM_INT;
    }
    const std::size_t before = Seen().size();
    ASSERT_TRUE(WaitForNotifications(before + 4));
    std::lock_guard lock(State().hMutex);
    for (auto v : State().wOutputs) EXPECT_EQ(v, 128);  // all-zero module network
}

TEST_F(EngineTest, StopEndsTheWorkerWithinMilliseconds) {
    ASSERT_TRUE(StartEngine());
    ASSERT_TRUE(WaitForNotifications(3));
    std::this_thread::sleep_for(10ms);  // most likely inside the 50 ms pause now
    const auto start = Clock::now();
    RequestEngineStop();
    EXPECT_TRUE(WaitForEngine(1000ms));
    const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start);
    EXPECT_LT(took.count(), 40) << "ms from the stop request to the end";  // a whole pause: 50
    EXPECT_FALSE(IsEngineRunning());
    EXPECT_TRUE(State().bStopRequest);
}

TEST_F(EngineTest, NoNotificationAfterTheWorkerEnded) {
    ASSERT_TRUE(StartEngine());
    ASSERT_TRUE(WaitForNotifications(3));
    StopEngine();
    const std::size_t count = Seen().size();
    std::this_thread::sleep_for(120ms);
    EXPECT_EQ(Seen().size(), count);
}

TEST_F(EngineTest, StartTwiceIsRefused) {
    ASSERT_TRUE(StartEngine());
    EXPECT_FALSE(StartEngine());
}

TEST(StopSignal, SleepRunsItsCourseUnlessStopped) {
    StopSignal signal;
    auto start = Clock::now();
    EXPECT_TRUE(signal.SleepFor(30ms));
    EXPECT_GE(Clock::now() - start, 30ms);

    std::thread stopper([&] {
        std::this_thread::sleep_for(20ms);
        signal.Request();
    });
    start = Clock::now();
    EXPECT_FALSE(signal.SleepFor(5s));
    EXPECT_LT(Clock::now() - start, 1s);
    stopper.join();
    EXPECT_TRUE(signal.IsRequested());
    signal.Reset();
    EXPECT_FALSE(signal.IsRequested());
}

}  // namespace
