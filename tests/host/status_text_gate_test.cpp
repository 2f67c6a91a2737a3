// The worker's hold on the status line: it waits for a write under way, and stops later writes
// until released.
#include "ui/status_line.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>

namespace {

using namespace std::chrono_literals;

// Long enough for a blocked call to show it is blocked; short enough for a quick run.
constexpr auto kStillBlocked = 100ms;
constexpr auto kEventually = 10s;

TEST(StatusTextGate, HoldReturnsAtOnceOrWaitsForTheWriteUnderWay) {
    StatusTextGate idle, writing;
    auto hold = std::async(std::launch::async, [&] { idle.Hold(); });
    EXPECT_EQ(hold.wait_for(kEventually), std::future_status::ready);

    writing.BeginWrite();
    hold = std::async(std::launch::async, [&] { writing.Hold(); });
    EXPECT_EQ(hold.wait_for(kStillBlocked), std::future_status::timeout);
    writing.EndWrite();
    EXPECT_EQ(hold.wait_for(kEventually), std::future_status::ready);
}

// Holding again while held changes nothing; one release lets the line go.
TEST(StatusTextGate, WritesWaitWhileHeldAndGoOnWhenReleased) {
    StatusTextGate gate;
    gate.Hold();
    gate.Hold();
    std::atomic<bool> bWrote{false};
    auto write = std::async(std::launch::async, [&] {
        gate.BeginWrite();
        bWrote = true;
        gate.EndWrite();
    });
    EXPECT_EQ(write.wait_for(kStillBlocked), std::future_status::timeout);
    EXPECT_FALSE(bWrote);
    gate.Release();
    EXPECT_EQ(write.wait_for(kEventually), std::future_status::ready);
    EXPECT_TRUE(bWrote);
}

}  // namespace
