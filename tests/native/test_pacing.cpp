// The robot pacer: at most N sends per token in any 60 s, shared by threads,
// with memory only for tokens that sent lately.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "dingtalk/pacing.hpp"

namespace {

using namespace std::chrono_literals;
using Clock = SendPacer::Clock;

const Clock::time_point kStart = Clock::time_point{} + 1000h;

TEST(SendPacer, LetsTheQuotaGoThenWaitsForTheOldestToLeaveTheWindow) {
    SendPacer pacer;
    EXPECT_EQ(pacer.reserve("robot", 2, kStart), 0s);
    EXPECT_EQ(pacer.reserve("robot", 2, kStart + 1s), 0s);
    EXPECT_EQ(pacer.reserve("robot", 2, kStart + 2s), 58s);
    EXPECT_EQ(pacer.reserve("robot", 2, kStart + 2s), 58s);  // a wait is not counted
    EXPECT_EQ(pacer.reserve("robot", 2, kStart + 59500ms), 500ms);
    EXPECT_EQ(pacer.reserve("robot", 2, kStart + 60s), 0s);
    EXPECT_EQ(pacer.reserve("robot", 2, kStart + 60s), 1s);
    EXPECT_EQ(pacer.reserve("robot", 2, kStart + 61s), 0s);
}

TEST(SendPacer, ASendCountsFromWhenItWentOut) {
    SendPacer pacer;
    for (int i = 0; i < 3; ++i) EXPECT_EQ(pacer.reserve("robot", 3, kStart + i * 1s), 0s);
    pacer.went_out("robot", kStart, kStart + 1500ms);  // a slow first send arrives after the second
    EXPECT_EQ(pacer.reserve("robot", 3, kStart + 60s), 1s);
    EXPECT_EQ(pacer.reserve("robot", 3, kStart + 61s), 0s);
    EXPECT_EQ(pacer.reserve("robot", 3, kStart + 61s), 500ms);
    pacer.went_out("late", kStart, kStart + 90s);  // its count had left the window: counted when it went out
    EXPECT_EQ(pacer.reserve("late", 1, kStart + 100s), 50s);
}

TEST(SendPacer, TokensHaveTheirOwnPace) {
    SendPacer pacer;
    EXPECT_EQ(pacer.reserve("a", 1, kStart), 0s);
    EXPECT_EQ(pacer.reserve("b", 1, kStart), 0s);
    EXPECT_EQ(pacer.reserve("a", 1, kStart + 10s), 50s);
}

TEST(SendPacer, ZeroOrLessIsNoPacing) {
    SendPacer pacer;
    for (int i = 0; i < 100; ++i) {
        EXPECT_EQ(pacer.reserve("robot", 0, kStart), 0s);
        EXPECT_EQ(pacer.reserve("robot", -1, kStart), 0s);
    }
    EXPECT_EQ(pacer.tokens_tracked(), 0u);
}

TEST(SendPacer, ALowerQuotaWaitsForEnoughSendsToLeave) {
    SendPacer pacer;
    for (int i = 0; i < 3; ++i) EXPECT_EQ(pacer.reserve("robot", 3, kStart + i * 1s), 0s);
    EXPECT_EQ(pacer.reserve("robot", 1, kStart + 10s), 52s);  // until the third send is a minute old
    EXPECT_EQ(pacer.reserve("robot", 2, kStart + 10s), 51s);
}

TEST(SendPacer, ForgetsTokensThatStoppedSending) {
    SendPacer pacer;
    for (int i = 0; i < 1000; ++i) EXPECT_EQ(pacer.reserve("robot-" + std::to_string(i), 20, kStart), 0s);
    EXPECT_EQ(pacer.tokens_tracked(), 1000u);
    EXPECT_EQ(pacer.reserve("late", 20, kStart + 61s), 0s);
    EXPECT_EQ(pacer.tokens_tracked(), 1u);
}

TEST(SendPacer, ThreadsSharingATokenShareItsQuota) {
    SendPacer pacer;
    std::atomic<int> went{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 50; ++i) {
                if (pacer.reserve("shared", 100, kStart) == 0s) ++went;
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(went.load(), 100);
    EXPECT_EQ(pacer.reserve("shared", 100, kStart + 30s), 30s);
}

TEST(SendPacer, TheProcessHasOnePacer) { EXPECT_EQ(&robot_send_pacer(), &robot_send_pacer()); }

TEST(PacingTraceLine, SaysHowLongAndWhy) {
    EXPECT_EQ(pacing_trace_line(2500ms, 20), "pacing: waiting 2.5 s (20 a minute per robot)\n");
    EXPECT_EQ(pacing_trace_line(58s, 1), "pacing: waiting 58 s (1 a minute per robot)\n");
}

}  // namespace
