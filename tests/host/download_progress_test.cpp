// The two percentage rules of the download: the progress-bar position (signed integers, the
// divisor truncated first above 100000 bytes) and the stored percentage (double precision).
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

#include "download/progress_percent.h"

namespace {

struct PositionCase {
    std::int32_t total;
    std::int32_t received;
    std::int32_t position;  // -1: nothing is sent
};

class ProgressPositionCases : public ::testing::TestWithParam<PositionCase> {};

TEST_P(ProgressPositionCases, FollowsTheIntegerRule) {
    std::int32_t position = -1;
    const bool sent = ProgressPosition(GetParam().total, GetParam().received, &position);
    EXPECT_EQ(sent, GetParam().position >= 0);
    if (sent) EXPECT_EQ(position, GetParam().position);
}

constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();

INSTANTIATE_TEST_SUITE_P(
    Sizes, ProgressPositionCases,
    ::testing::Values(PositionCase{0, 0, -1}, PositionCase{0, 500, -1}, PositionCase{-1, 5, -1},
                      PositionCase{3, 1, 33}, PositionCase{3, 2, 66}, PositionCase{100, 100, 100},
                      PositionCase{100000, 99999, 99}, PositionCase{100000, 100000, 100},
                      // Above 100000 the divisor is truncated: 2499 / 2500.
                      PositionCase{250000, 2499, 0}, PositionCase{250000, 2500, 1},
                      PositionCase{250099, 250099, 100}, PositionCase{100001, 50000, 50},
                      PositionCase{150, 150000, 100}, PositionCase{50, 200000, 100},
                      PositionCase{kMax, kMax, 100}, PositionCase{kMax, 0, 0}));

struct StoredCase {
    std::uint32_t received;
    std::uint32_t total;
    std::int32_t percent;
};

class StoredPercentCases : public ::testing::TestWithParam<StoredCase> {};

TEST_P(StoredPercentCases, TruncatesTheExactRatio) {
    EXPECT_EQ(StoredPercent(GetParam().received, GetParam().total), GetParam().percent);
}

constexpr std::uint32_t kMaxU = std::numeric_limits<std::uint32_t>::max();

INSTANTIATE_TEST_SUITE_P(
    Sizes, StoredPercentCases,
    ::testing::Values(StoredCase{0, 10, 0}, StoredCase{1, 3, 33}, StoredCase{2, 3, 66},
                      StoredCase{2499, 250000, 0}, StoredCase{2500, 250000, 1},
                      StoredCase{249999, 250000, 99}, StoredCase{250000, 250000, 100},
                      // No 32-bit overflow in received * 100.
                      StoredCase{kMaxU / 2, kMaxU, 49}, StoredCase{kMaxU - 1, kMaxU, 99},
                      StoredCase{kMaxU, kMaxU, 100}));

}  // namespace
