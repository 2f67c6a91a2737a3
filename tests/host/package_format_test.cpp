#include "system/package_format.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "package_test_support.h"

namespace packagetest {
namespace {

// A plain byte-at-a-time reference: the operation by position mod 16 (Add, Xor, Not, Rotate
// left), the key byte by position mod 4 (lowest byte first), rotations by the key byte mod 8.
void ReferenceUnmask(std::uint32_t key, unsigned char* p, size_t length) {
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

// The hand-made package: its header fields sit little-endian at 0, 4, 8 and 24, its sixteen
// bytes 0x81 unmask under every operation of the pattern, and sealing its installer with its key
// gives it back byte for byte.
TEST(PackageFormat, GoldenPackageReadsUnmasksAndSeals) {
    const PackageHeader header = ReadPackageHeader(kGoldenPackage.data());
    EXPECT_EQ(header.headerMagic, kPackageMagic);
    EXPECT_EQ(header.maskKey, 0x04030201u);
    EXPECT_EQ(header.payloadLength, 16u);
    EXPECT_EQ(Bytes(header.payloadMd5, header.payloadMd5 + kPackageDigestBytes),
              Bytes(kGoldenPackage.begin() + 8, kGoldenPackage.begin() + 24));
    Bytes written(kPackageHeaderBytes);
    WritePackageHeader(header, written.data());
    EXPECT_EQ(written, Bytes(kGoldenPackage.begin(), kGoldenPackage.begin() + 28));

    Bytes payload(kGoldenPackage.begin() + 28, kGoldenPackage.end());
    UnmaskPayload(16, header.maskKey, payload.data());
    EXPECT_EQ(payload, kGoldenInstaller);

    EXPECT_EQ(MakePackage(kGoldenInstaller, 0x04030201), kGoldenPackage);
}

// Key bytes that are multiples of 8 leave the rotate positions as they are; sixteen bytes after
// the payload must stay as they were. Masking what was unmasked gives the original back.
TEST(PackageFormat, UnmaskMatchesReferenceAndMaskUndoesItAtEveryLengthKeyAndAlignment) {
    std::mt19937 random(20240601);
    const std::uint32_t keys[] = {0x00000000,
                                  0xFFFFFFFF,
                                  0x08101820,
                                  0xF8E0C040,
                                  0x04030201,
                                  0x80FF7F01,
                                  static_cast<std::uint32_t>(random()),
                                  static_cast<std::uint32_t>(random())};
    std::vector<std::uint32_t> lengths;
    for (std::uint32_t n = 0; n <= 48; ++n) lengths.push_back(n);
    for (std::uint32_t n : {63u, 64u, 65u, 333u, 1000u, 40959u, 40960u, 40961u, 100003u}) {
        lengths.push_back(n);
    }
    for (std::uint32_t key : keys) {
        for (std::uint32_t length : lengths) {
            for (size_t offset : {0u, 1u, 3u, 7u, 13u}) {
                const Bytes original = RandomBytes(offset + length + 16, random());
                Bytes fast = original, reference = original;
                UnmaskPayload(length, key, fast.data() + offset);
                ReferenceUnmask(key, reference.data() + offset, length);
                ASSERT_EQ(fast, reference) << "key " << std::hex << key << std::dec << " length "
                                           << length << " offset " << offset;
                MaskPayload(length, key, fast.data() + offset);
                ASSERT_EQ(fast, original) << "masking back: key " << std::hex << key << std::dec
                                          << " length " << length << " offset " << offset;
            }
        }
    }
    UnmaskPayload(16, 0x01020304, nullptr);  // left alone
    MaskPayload(16, 0x01020304, nullptr);
}

}  // namespace
}  // namespace packagetest
