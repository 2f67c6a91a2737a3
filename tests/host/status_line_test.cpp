#include "ui/status_line.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <future>
#include <string>
#include <utility>
#include <vector>

#include "app/message_table.h"

namespace {

constexpr std::int32_t kNone = -1;  // a key outside the message table: no text

// Prefix by connection type, stage text by download status, dots by tick, for every type and
// status the dialog can meet and the values around them.
TEST(StatusLine, EveryTypeAndStatusInEveryLanguage) {
    const struct {
        std::uint32_t dwType;
        std::int32_t nKey;
    } kPrefixes[] = {{0, kNone}, {1, kNone}, {2, kMsgDefaultProxyPrefix}, {3, kMsgIeProxyPrefix},
                     {4, kNone}, {5, kNone}};
    // Status 5 is no download status, yet it has a text.
    std::vector<std::pair<std::uint32_t, std::int32_t>> stages = {
        {0, kMsgDownloadCompleted},   {1, kMsgStageCheckInternet}, {2, kMsgStageAnalyzing},
        {3, kMsgStageConnecting},     {4, kMsgStageInitRequest},   {5, kMsgStageSendingRequest},
        {6, kMsgStageDownloading},    {7, kMsgStageNoSpace},       {8, kMsgStageDownloading},
        {999, kMsgStageInitResource}, {1000, kMsgStageResuming},   {1001, kMsgStageInitConnection},
    };
    // No text for a stop by the user (500) and the values around the known ones.
    for (std::uint32_t dwStatus : {500u, 9u, 998u, 1002u, 0xFFFFFFFFu}) {
        stages.push_back({dwStatus, kNone});
    }
    for (std::int32_t nLanguage : {0, 1, 2}) {
        g_nLanguage = nLanguage;
        for (const auto& prefix : kPrefixes) {
            for (const auto& [dwStatus, nStageKey] : stages) {
                for (int nDots = 1; nDots <= 3; ++nDots) {
                    EXPECT_EQ(ComposeStatusLine(prefix.dwType, dwStatus, nDots),
                              GetMessageText(prefix.nKey) + GetMessageText(nStageKey) +
                                  std::wstring(nDots, L'.'))
                        << "language " << nLanguage << ", type " << prefix.dwType << ", status "
                        << dwStatus << ", dots " << nDots;
                }
            }
        }
    }
}

// The worker's hold on the status line: it waits for a write under way, and stops later writes
// until released.
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
