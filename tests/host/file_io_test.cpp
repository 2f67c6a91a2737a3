#include "system/file_io.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "package_test_support.h"

namespace packagetest {
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

// What is written in pieces reads back whole, each piece reporting the bytes in the buffer so
// far; a file shorter than asked for is a failed read.
TEST(ReadInPieces, ReadsWhatWasWrittenAndRefusesAShortFile) {
    TempFolder folder;
    const std::wstring path = WidePath(folder.File("pieces"));
    const std::uint32_t size = 2 * kPackagePieceBytes + 5;
    const Bytes data = RandomBytes(size, 7);
    {
        FileHandle out = FileHandle::CreateForWrite(path.c_str());
        ASSERT_TRUE(out.IsOpen());
        ASSERT_TRUE(WriteInPieces(out, data.data(), size));
    }
    for (const std::uint32_t asked : {size, size + 1}) {
        FileHandle in = FileHandle::OpenForRead(path.c_str());
        ASSERT_TRUE(in.IsOpen());
        Bytes read(asked);
        std::vector<std::uint32_t> reported;
        const bool whole = ReadInPieces(
            in, read.data(), asked, [&](std::uint32_t inBuffer) { reported.push_back(inBuffer); });
        EXPECT_EQ(whole, asked == size) << asked;
        // The short last piece is not reported.
        std::vector<std::uint32_t> expected = {kPackagePieceBytes, 2 * kPackagePieceBytes};
        if (asked == size) expected.push_back(size);
        EXPECT_EQ(reported, expected) << asked;
        read.resize(size);
        EXPECT_EQ(read, data) << asked;
    }
}

}  // namespace
}  // namespace packagetest
