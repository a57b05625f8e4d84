// The gate that keeps threads out of libcurl and OpenSSL once the process
// exits: closing wakes waiting transfers, stops newcomers, and is bounded.
// (Closing with threads inside at exit is the exit scenarios' own test.)
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <thread>

#include "transport/exit_gate.hpp"

namespace {

using namespace std::chrono_literals;

// A stopped thread keeps its gate: these gates are never freed.
TEST(ExitGate, AWaitingTransferIsWokenAndStopsForGood) {
    ExitGate* const gate = new ExitGate;
    CURLM* multi = curl_multi_init();  // left to the stopped thread
    ASSERT_NE(multi, nullptr);
    static std::promise<void> waiting;
    static std::atomic<bool> went_on{false};
    std::thread([gate, multi] {
        gate->enter();
        gate->watch(multi);
        waiting.set_value();
        curl_multi_poll(multi, nullptr, 0, 60'000, nullptr);
        gate->stop_if_closed();
        went_on = true;
    }).detach();
    waiting.get_future().wait();
    EXPECT_TRUE(gate->close(10s));  // false after 10 s had the wait not been woken
    EXPECT_FALSE(went_on);
}

TEST(ExitGate, GivesUpAfterTheBoundAndStopsNewcomers) {
    ExitGate* const gate = new ExitGate;
    static std::promise<void> entered;
    static std::promise<void> release;
    std::thread([gate] {
        gate->enter();
        entered.set_value();
        release.get_future().wait();
        gate->leave();
    }).detach();
    entered.get_future().wait();
    EXPECT_FALSE(gate->close(50ms));
    static std::atomic<bool> came_in{false};
    std::thread([gate] {
        gate->enter();
        came_in = true;
    }).detach();
    std::this_thread::sleep_for(100ms);
    EXPECT_FALSE(came_in);
    release.set_value();
}

}  // namespace
