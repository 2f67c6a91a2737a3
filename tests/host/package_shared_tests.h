#pragma once

// Package tests that run on both platforms, each time through that platform's file back end and
// MD5: included once by the host test program and once by the Windows one.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <string>

#include "package_test_support.h"
#include "system/package_format.h"

namespace packagetest {

// RFC 1321 vectors: empty, short, one whose padding needs a second block, one of two blocks.
TEST(Md5, Rfc1321SuiteWholeAndInUnevenSteps) {
    const char* const kSuite[][2] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
         "d174ab98d277d9f5a5611c2c9f419d9f"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
    };
    for (const auto& v : kSuite) {
        const auto* data = reinterpret_cast<const unsigned char*>(v[0]);
        for (size_t step : {1000u, 1u, 7u, 64u}) {
            EXPECT_EQ(Md5InSteps(data, std::strlen(v[0]), step), v[1]) << v[0] << " / " << step;
        }
    }
}

// Several pieces and a ragged end, so that the pattern must restart at every piece.
TEST(UnmaskAndDigest, EqualsUnmaskingWholeThenHashing) {
    for (std::uint32_t length : {1u, 40960u, 3 * 40960u + 5u}) {
        const Bytes masked = RandomBytes(length, length);
        Bytes whole = masked, pieces = masked;
        UnmaskPayload(length, 0x8C0517F3, whole.data());
        unsigned char digest[kMd5Bytes];
        ASSERT_TRUE(UnmaskAndDigest(length, 0x8C0517F3, pieces.data(), digest));
        EXPECT_EQ(pieces, whole) << length;
        EXPECT_EQ(Hex(digest), Md5InSteps(whole.data(), length, length)) << length;
    }
}

// Each case with no earlier output and with one that is longer than every installer below, so
// that a replaced file must also have been shortened. The input is never changed, and the folder
// holds nothing else: what was written beside the output went once the result was known.
TEST(DecodePackageFile, HeaderCasesWithAndWithoutAnEarlierOutput) {
    const Bytes installer = RandomBytes(50000, 1);
    const Bytes good = MakePackage(installer, 0x5A3C9601);
    const struct {
        const char* name;
        Bytes package;
        int result;
        size_t traces;
        Bytes installer;  // the expected output when the result is 0
    } kCases[] = {
        {"golden package", kGoldenPackage, kDecodeOk, 6, kGoldenInstaller},
        {"50000-byte installer", good, kDecodeOk, 6, installer},
        {"29 bytes", MakePackage({0x42}, 0x01020304), kDecodeOk, 6, {0x42}},
        {"28 bytes", Resized(good, 28), kDecodeBadArgument, 6, {}},
        {"wrong magic", Changed(good, 3, 0x01), kDecodeBadHeader, 6, {}},
        {"truncated download", Resized(good, good.size() - 1000), kDecodeBadHeader, 6, {}},
        {"a byte beyond the payload", Resized(good, good.size() + 1), kDecodeBadHeader, 6, {}},
        {"changed payload byte", Changed(good, 28 + 45000, 0x04), kDecodeDigestMismatch, 6, {}},
        {"changed last byte", Changed(good, good.size() - 1, 0x80), kDecodeDigestMismatch, 6, {}},
        {"changed digest byte", Changed(good, 8 + 15, 0x01), kDecodeDigestMismatch, 6, {}},
        {"changed key byte", Changed(good, 4, 0x01), kDecodeDigestMismatch, 6, {}},
        {"empty file", {}, kDecodeBadSize, 2, {}},
    };
    const Bytes earlier(60000, 0xEE);
    const std::vector<std::string> kInputOnly = {"Setup.dat"};
    const std::vector<std::string> kInputAndOutput = {"DeSetup.dat", "Setup.dat"};
    for (const auto& c : kCases) {
        for (bool hasEarlier : {false, true}) {
            SCOPED_TRACE(std::string(c.name) + (hasEarlier ? ", earlier output" : ""));
            TempFolder folder;
            const fs::path input = folder.File("Setup.dat"), output = folder.File("DeSetup.dat");
            ASSERT_TRUE(WriteFile(input, c.package));
            if (hasEarlier) {
                ASSERT_TRUE(WriteFile(output, earlier));
            }
            TraceRecorder traces;
            EXPECT_EQ(Decode(input, output), c.result);
            EXPECT_EQ(traces.Lines(), TraceLines(c.traces));
            const bool hasOutput = c.result == kDecodeOk || hasEarlier;
            if (hasOutput) {
                EXPECT_EQ(Contents(output), c.result == kDecodeOk ? c.installer : earlier);
            }
            EXPECT_EQ(Contents(input), c.package);
            EXPECT_EQ(folder.Names(), hasOutput ? kInputAndOutput : kInputOnly);
        }
    }
}

TEST(DecodePackageFile, FilesThatCannotBeOpened) {
    TempFolder folder;
    const fs::path golden = folder.File("Setup.dat"), output = folder.File("out");
    const fs::path subfolder = folder.File("sub");
    ASSERT_TRUE(WriteFile(golden, kGoldenPackage));
    ASSERT_TRUE(fs::create_directory(subfolder));
    // A missing input, and a folder, which is not opened as a file.
    for (const fs::path& input : {folder.File("missing"), folder.path()}) {
        TraceRecorder traces;
        EXPECT_EQ(Decode(input, output), kDecodeBadArgument) << input;
        EXPECT_EQ(traces.Lines(), TraceLines(1));
        EXPECT_FALSE(fs::exists(output));
    }
    // An output in a missing folder, and one that is a folder: nothing is left beside either.
    for (const fs::path& bad : {folder.File("no-such-folder") / "out", subfolder}) {
        TraceRecorder traces;
        EXPECT_EQ(Decode(golden, bad), kDecodeWriteFailed) << bad;
        EXPECT_EQ(traces.Lines(), TraceLines(6));
        EXPECT_EQ(folder.Names(), (std::vector<std::string>{"Setup.dat", "sub"})) << bad;
        EXPECT_TRUE(fs::is_empty(subfolder)) << bad;
    }
    TraceRecorder traces;
    EXPECT_EQ(DecodePackageFile(nullptr, WidePath(output).c_str()), kDecodeBadArgument);
    EXPECT_EQ(DecodePackageFile(WidePath(golden).c_str(), nullptr), kDecodeBadArgument);
    EXPECT_TRUE(traces.Lines().empty());
}

// Key bytes that are multiples of 8 (no rotation), all ones, mixed; lengths around the 16-byte
// pattern and the 40,960-byte pieces of the payload and of the file, 28 bytes apart; paths
// outside ASCII.
TEST(DecodePackageFile, RoundTripsWhatThePublisherSeals) {
    const std::uint32_t keys[] = {0x00000000, 0x08101820, 0xFFFFFFFF, 0x9E3779B9};
    const std::uint32_t lengths[] = {1, 15, 17, 40932, 40933, 40960, 40961, 81892, 3 * 40960 + 5};
    TempFolder folder;
    const fs::path input = folder.File(fs::u8path(u8"C\u00e0i \u0111\u1eb7t.dat"));
    const fs::path output = folder.File(fs::u8path(u8"B\u1ed9 c\u00e0i \U0001F4E6.exe"));
    for (std::uint32_t key : keys) {
        for (std::uint32_t length : lengths) {
            const Bytes installer = RandomBytes(length, key ^ length);
            ASSERT_TRUE(WriteFile(input, MakePackage(installer, key)));
            ASSERT_EQ(Decode(input, output), kDecodeOk) << std::hex << key << std::dec << length;
            ASSERT_EQ(Contents(output), installer) << std::hex << key << std::dec << " " << length;
        }
    }
}

// Above the largest package, or a size needing 33 bits: refused before the header is read.
TEST(DecodePackageFile, SizeLimits) {
    for (std::uint64_t size : {kPackageMaxBytes + 1ull, (1ull << 32) + 1000}) {
        TempFolder folder;
        const fs::path input = folder.File("Setup.dat"), output = folder.File("DeSetup.dat");
        MakeLongPackage(input, size, nullptr);
        TraceRecorder traces;
        EXPECT_EQ(Decode(input, output), kDecodeBadSize) << size;
        EXPECT_EQ(traces.Lines(), TraceLines(2)) << size;
        EXPECT_FALSE(fs::exists(output)) << size;
    }
}

// Key 0 turns a payload of zeros into 0xFF at the "not" positions and zeros elsewhere.
TEST(DecodePackageFile, LargestPackageDecodes) {
    const std::uint32_t length = kPackageMaxBytes - kPackageHeaderBytes;
    Bytes block(16, 0);
    UnmaskPayload(16, 0, block.data());
    Md5 md5;
    for (std::uint32_t offset = 0; offset < length; offset += 16) {
        ASSERT_TRUE(md5.Update(block.data(), std::min<std::uint32_t>(16, length - offset)));
    }
    unsigned char digest[kMd5Bytes];
    ASSERT_TRUE(md5.Final(digest));

    TempFolder folder;
    const fs::path input = folder.File("Setup.dat"), output = folder.File("DeSetup.dat");
    MakeLongPackage(input, kPackageMaxBytes, digest);
    TraceRecorder traces;
    ASSERT_EQ(Decode(input, output), kDecodeOk);
    EXPECT_EQ(traces.Lines(), TraceLines(6));
    ASSERT_EQ(fs::file_size(output), length);
    // The end, which is where a short final write would show.
    std::ifstream written(output, std::ios::binary);
    Bytes tail(16);
    written.seekg(length - 16);
    written.read(reinterpret_cast<char*>(tail.data()), 16);
    for (std::uint32_t i = 0; i < 16; ++i) EXPECT_EQ(tail[i], block[(length - 16 + i) % 16]) << i;
}

TEST(DecodePackageBuffer, RefusesBadArgumentsAndUnmasksInPlace) {
    TempFolder folder;
    const std::wstring output = WidePath(folder.File("out"));
    Bytes package = kGoldenPackage;
    EXPECT_EQ(DecodePackageBuffer(44, nullptr, package.data()), kDecodeBadArgument);
    EXPECT_EQ(DecodePackageBuffer(44, output.c_str(), nullptr), kDecodeBadArgument);
    for (std::uint32_t size : {0u, 1u, 28u}) {
        EXPECT_EQ(DecodePackageBuffer(size, output.c_str(), package.data()), kDecodeBadArgument);
    }
    EXPECT_EQ(package, kGoldenPackage);
    ASSERT_EQ(DecodePackageBuffer(44, output.c_str(), package.data()), kDecodeOk);
    EXPECT_EQ(Bytes(package.begin() + 28, package.end()), kGoldenInstaller);
}

}  // namespace packagetest
