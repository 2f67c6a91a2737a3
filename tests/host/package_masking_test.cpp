// The whole-block masking against a plain byte-at-a-time reference written from the table of
// operations by position mod 16.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "system/package_masking.h"

namespace {

using Bytes = std::vector<unsigned char>;

enum Op { kAdd, kXor, kNot, kRot };
// Position mod 16 -> operation; the key byte is always the one of position mod 4.
constexpr Op kPattern[16] = {kAdd, kXor, kRot, kNot, kXor, kRot, kNot, kAdd,
                             kNot, kNot, kAdd, kXor, kRot, kAdd, kXor, kRot};

void ReferenceUnmask(uint32_t key, unsigned char* p, size_t length) {
    for (size_t i = 0; i < length; ++i) {
        const unsigned k = (key >> (8 * (i % 4))) & 0xFF;
        const unsigned r = k % 8;
        switch (kPattern[i % 16]) {
            case kAdd:
                p[i] = static_cast<unsigned char>(p[i] + k);
                break;
            case kXor:
                p[i] = static_cast<unsigned char>(p[i] ^ k);
                break;
            case kNot:
                p[i] = static_cast<unsigned char>(~p[i]);
                break;
            case kRot:
                p[i] = static_cast<unsigned char>(r ? (p[i] << r) | (p[i] >> (8 - r)) : p[i]);
        }
    }
}

Bytes Random(size_t size, std::mt19937& random) {
    Bytes bytes(size);
    for (unsigned char& b : bytes) b = static_cast<unsigned char>(random());
    return bytes;
}

TEST(UnmaskPayload, GoldenBlock) {
    // Key bytes 01 02 03 04 in file order; 0x81 under every operation of the pattern.
    Bytes payload(16, 0x81);
    UnmaskPayload(16, 0x04030201, payload.data());
    const Bytes expected = {0x82, 0x83, 0x0C, 0x7E, 0x80, 0x06, 0x7E, 0x85,
                            0x7E, 0x7E, 0x84, 0x85, 0x03, 0x83, 0x82, 0x18};
    EXPECT_EQ(payload, expected);
}

TEST(UnmaskPayload, MatchesReferenceAtEveryLengthKeyAndAlignment) {
    std::mt19937 random(20240601);
    const uint32_t keys[] = {0x00000000,
                             0xFFFFFFFF,
                             0x08101820,
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
                // Sixteen bytes after the payload too: they must stay as they were.
                const Bytes original = Random(offset + length + 16, random);
                Bytes fast = original;
                Bytes reference = original;
                UnmaskPayload(length, key, fast.data() + offset);
                ReferenceUnmask(key, reference.data() + offset, length);
                ASSERT_EQ(fast, reference) << "key " << std::hex << key << std::dec << " length "
                                           << length << " offset " << offset;
            }
        }
    }
}

TEST(UnmaskPayload, PositionsThatIgnoreTheKey) {
    // Key bytes that are multiples of 8 leave the rotate positions as they are; the not positions
    // complement whatever the key.
    const Bytes original = {0,  1,  2,  3,  4,  5,  6,   7,   8,   9,
                            10, 11, 12, 13, 14, 15, 200, 201, 202, 203};
    for (uint32_t key : {0x00000000u, 0x08101820u, 0xF8E0C040u}) {
        Bytes payload = original;
        UnmaskPayload(static_cast<uint32_t>(payload.size()), key, payload.data());
        for (size_t position : {2u, 5u, 12u, 15u}) EXPECT_EQ(payload[position], original[position]);
        for (size_t position : {3u, 6u, 8u, 9u, 19u}) {
            EXPECT_EQ(payload[position], static_cast<unsigned char>(~original[position]));
        }
    }
}

TEST(UnmaskPayload, NullOrEmptyPayloadDoesNothing) {
    UnmaskPayload(16, 0x01020304, nullptr);
    Bytes payload = {1, 2, 3};
    UnmaskPayload(0, 0x01020304, payload.data());
    EXPECT_EQ(payload, (Bytes{1, 2, 3}));
}

TEST(MaskPayload, IsUndoneByTheReferenceUnmasking) {
    std::mt19937 random(99);
    for (uint32_t length : {1u, 15u, 16u, 17u, 333u, 40961u}) {
        const uint32_t key = static_cast<uint32_t>(random());
        const Bytes installer = Random(length, random);
        Bytes payload = installer;
        MaskPayload(length, key, payload.data());
        ReferenceUnmask(key, payload.data(), length);
        EXPECT_EQ(payload, installer)
            << "key " << std::hex << key << std::dec << " length " << length;
    }
}

}  // namespace
