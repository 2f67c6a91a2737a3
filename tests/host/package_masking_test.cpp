#include "system/package_masking.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

// A plain byte-at-a-time reference: the operation by position mod 16 (Add, Xor, Not, Rotate
// left), the key byte by position mod 4 (lowest byte first), rotations by the key byte mod 8.
void ReferenceUnmask(uint32_t key, unsigned char* p, size_t length) {
    for (size_t i = 0; i < length; ++i) {
        const unsigned k = (key >> (8 * (i % 4))) & 0xFF, r = k % 8, b = p[i];
        const char op = "AXRNXRNANNAXRAXR"[i % 16];
        p[i] = static_cast<unsigned char>(op == 'A'   ? b + k
                                          : op == 'X' ? b ^ k
                                          : op == 'N' ? ~b
                                          : r         ? (b << r) | (b >> (8 - r))
                                                      : b);
    }
}

Bytes Random(size_t size, std::mt19937& random) {
    Bytes bytes(size);
    for (unsigned char& b : bytes) b = static_cast<unsigned char>(random());
    return bytes;
}

// Key bytes 01 02 03 04 in file order; 0x81 under every operation of the pattern.
TEST(UnmaskPayload, GoldenBlock) {
    Bytes payload(16, 0x81);
    UnmaskPayload(16, 0x04030201, payload.data());
    EXPECT_EQ(payload, (Bytes{0x82, 0x83, 0x0C, 0x7E, 0x80, 0x06, 0x7E, 0x85, 0x7E, 0x7E, 0x84,
                              0x85, 0x03, 0x83, 0x82, 0x18}));
}

// Key bytes that are multiples of 8 leave the rotate positions as they are; sixteen bytes after
// the payload must stay as they were.
TEST(UnmaskPayload, MatchesReferenceAtEveryLengthKeyAndAlignment) {
    std::mt19937 random(20240601);
    const uint32_t keys[] = {0x00000000,
                             0xFFFFFFFF,
                             0x08101820,
                             0xF8E0C040,
                             0x04030201,
                             0x80FF7F01,
                             static_cast<uint32_t>(random()),
                             static_cast<uint32_t>(random())};
    std::vector<uint32_t> lengths;
    for (uint32_t n = 0; n <= 48; ++n) lengths.push_back(n);
    for (uint32_t n : {63u, 64u, 65u, 1000u, 40959u, 40960u, 40961u, 100003u}) lengths.push_back(n);
    for (uint32_t key : keys) {
        for (uint32_t length : lengths) {
            for (size_t offset : {0u, 1u, 3u, 7u, 13u}) {
                const Bytes original = Random(offset + length + 16, random);
                Bytes fast = original, reference = original;
                UnmaskPayload(length, key, fast.data() + offset);
                ReferenceUnmask(key, reference.data() + offset, length);
                ASSERT_EQ(fast, reference) << "key " << std::hex << key << std::dec << " length "
                                           << length << " offset " << offset;
            }
        }
    }
    UnmaskPayload(16, 0x01020304, nullptr);  // left alone
}

TEST(MaskPayload, IsUndoneByTheReferenceUnmasking) {
    std::mt19937 random(99);
    for (uint32_t length : {1u, 15u, 16u, 17u, 333u, 40961u}) {
        const uint32_t key = static_cast<uint32_t>(random());
        const Bytes installer = Random(length, random);
        Bytes payload = installer;
        MaskPayload(length, key, payload.data());
        ReferenceUnmask(key, payload.data(), length);
        EXPECT_EQ(payload, installer) << "key " << std::hex << key << std::dec << " " << length;
    }
}

}  // namespace
