#include "system/file_pieces.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace {

// The pieces cover the range once, in order, each at most 40,960 bytes: also for sizes whose
// last piece ends within one piece of 2^32, where a loop on the offset alone wraps round.
TEST(ForEachPiece, CoversTheRangeInOrderUpToTheLargestSize) {
    const struct {
        std::uint32_t size;
        std::uint64_t pieces;
    } cases[] = {
        {0, 0},
        {1, 1},
        {kPackagePieceBytes, 1},
        {kPackagePieceBytes + 1, 2},
        {0xFFFFFFFFu - kPackagePieceBytes + 1, 104857},
        {0xFFFFFFFFu, 104858},
    };
    for (const auto& c : cases) {
        std::uint64_t count = 0;
        std::uint64_t next = 0;
        bool ordered = true;
        EXPECT_TRUE(ForEachPiece(c.size, [&](std::uint32_t offset, std::uint32_t bytes) {
            ordered = ordered && offset == next && bytes > 0 && bytes <= kPackagePieceBytes;
            next = std::uint64_t{offset} + bytes;
            // Bounded even if the loop should run away.
            return ++count <= c.pieces;
        })) << c.size;
        EXPECT_TRUE(ordered) << c.size;
        EXPECT_EQ(count, c.pieces) << c.size;
        EXPECT_EQ(next, c.size) << c.size;
    }
    int calls = 0;
    EXPECT_FALSE(ForEachPiece(3 * kPackagePieceBytes,
                              [&calls](std::uint32_t, std::uint32_t) { return ++calls < 2; }));
    EXPECT_EQ(calls, 2);
}

}  // namespace
