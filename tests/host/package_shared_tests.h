#pragma once

// Package tests that run on both platforms, each time through that platform's file back end and
// MD5: included once by the host test program and once by the Windows one.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "package_test_support.h"
#include "system/md5.h"
#include "system/package_decode.h"
#include "system/package_digest.h"
#include "system/package_format.h"
#include "system/package_masking.h"
#include "system/wide_text.h"

namespace packagetest {

// The path as the decoder takes it: UTF-16 on Windows, UTF-32 on the host.
inline std::wstring WidePath(const fs::path& path) {
    std::wstring wide;
    EXPECT_TRUE(Utf8ToWide(path.u8string().c_str(), &wide));
    return wide;
}

inline int Decode(const fs::path& input, const fs::path& output) {
    return DecodePackageFile(WidePath(input).c_str(), WidePath(output).c_str());
}

inline std::string Hex(const unsigned char* digest) {
    static const char kDigits[] = "0123456789abcdef";
    std::string hex;
    for (size_t i = 0; i < kMd5Bytes; ++i)
        hex += {kDigits[digest[i] >> 4], kDigits[digest[i] & 15]};
    return hex;
}

inline std::string Md5InSteps(const unsigned char* data, size_t size, size_t step) {
    Md5 md5;
    for (size_t offset = 0; offset < size; offset += step) {
        EXPECT_TRUE(md5.Update(data + offset, std::min(step, size - offset)));
    }
    unsigned char digest[kMd5Bytes];
    EXPECT_TRUE(md5.Final(digest));
    return Hex(digest);
}

TEST(Md5, Rfc1321SuiteWholeAndInUnevenSteps) {
    const struct {
        const char* message;
        const char* digest;
    } suite[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
         "d174ab98d277d9f5a5611c2c9f419d9f"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
    };
    for (const auto& v : suite) {
        const auto* data = reinterpret_cast<const unsigned char*>(v.message);
        for (size_t step : {1000u, 1u, 7u, 64u}) {
            EXPECT_EQ(Md5InSteps(data, std::strlen(v.message), step), v.digest)
                << "'" << v.message << "' in steps of " << step;
        }
    }
}

TEST(UnmaskAndDigest, EqualsUnmaskingWholeThenHashing) {
    // Several pieces and a ragged end, so that the pattern must restart at every piece.
    for (uint32_t length : {1u, 40960u, 3 * 40960u + 5u}) {
        const Bytes masked = RandomBytes(length, length);
        Bytes whole = masked;
        UnmaskPayload(length, 0x8C0517F3, whole.data());
        Bytes pieces = masked;
        unsigned char digest[kMd5Bytes];
        ASSERT_TRUE(UnmaskAndDigest(length, 0x8C0517F3, pieces.data(), digest));
        EXPECT_EQ(pieces, whole) << length;
        EXPECT_EQ(Hex(digest), Md5InSteps(whole.data(), length, length)) << length;
    }
}

struct HeaderCase {
    const char* name;
    Bytes package;
    int result;
    size_t traces;
    Bytes installer;  // the expected output when the result is 0
};

inline Bytes Changed(Bytes bytes, size_t index, unsigned char flip) {
    bytes[index] ^= flip;
    return bytes;
}

inline Bytes Resized(Bytes bytes, size_t size) {
    bytes.resize(size, 0x5A);
    return bytes;
}

TEST(DecodePackageFile, HeaderCasesWithAndWithoutAnEarlierOutput) {
    const Bytes installer = RandomBytes(50000, 1);
    const Bytes good = MakePackage(installer, 0x5A3C9601);
    const HeaderCase cases[] = {
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
    // Longer than every installer above, so that a replaced file must also have been shortened.
    const Bytes earlier(60000, 0xEE);
    for (const HeaderCase& c : cases) {
        for (bool has_earlier : {false, true}) {
            SCOPED_TRACE(std::string(c.name) + (has_earlier ? ", earlier output" : ""));
            TempFolder folder;
            const fs::path input = folder.File("Setup.dat");
            const fs::path output = folder.File("DeSetup.dat");
            ASSERT_TRUE(WriteFile(input, c.package));
            if (has_earlier) {
                ASSERT_TRUE(WriteFile(output, earlier));
            }
            TraceRecorder traces;
            EXPECT_EQ(Decode(input, output), c.result);
            EXPECT_EQ(traces.Lines(), TraceLines(c.traces));

            Bytes written;
            if (c.result == kDecodeOk || has_earlier) {
                ASSERT_TRUE(ReadFile(output, &written));
                EXPECT_EQ(written, c.result == kDecodeOk ? c.installer : earlier);
            } else {
                EXPECT_FALSE(fs::exists(output));
            }
            Bytes input_after;
            ASSERT_TRUE(ReadFile(input, &input_after));
            EXPECT_EQ(input_after, c.package);
        }
    }
}

TEST(DecodePackageFile, InputThatCannotBeOpened) {
    TempFolder folder;
    const fs::path output = folder.File("out");
    // A missing file, and a folder, which is not opened as a file.
    for (const fs::path& input : {folder.File("missing"), folder.path()}) {
        TraceRecorder traces;
        EXPECT_EQ(Decode(input, output), kDecodeBadArgument) << input;
        EXPECT_EQ(traces.Lines(), TraceLines(1));
        EXPECT_FALSE(fs::exists(output));
    }
    TraceRecorder traces;
    EXPECT_EQ(DecodePackageFile(nullptr, WidePath(output).c_str()), kDecodeBadArgument);
    EXPECT_EQ(DecodePackageFile(WidePath(output).c_str(), nullptr), kDecodeBadArgument);
    EXPECT_TRUE(traces.Lines().empty());
}

TEST(DecodePackageFile, OutputThatCannotBeCreatedGivesFive) {
    TempFolder folder;
    const fs::path input = folder.File("Setup.dat");
    ASSERT_TRUE(WriteFile(input, kGoldenPackage));
    for (const fs::path& output : {folder.File("no-such-folder") / "out", folder.path()}) {
        TraceRecorder traces;
        EXPECT_EQ(Decode(input, output), kDecodeWriteFailed) << output;
        EXPECT_EQ(traces.Lines(), TraceLines(6));
    }
}

TEST(DecodePackageFile, NonAsciiPaths) {
    TempFolder folder;
    const fs::path input = folder.File(fs::u8path(u8"C\u00e0i \u0111\u1eb7t.dat"));
    const fs::path output = folder.File(fs::u8path(u8"B\u1ed9 c\u00e0i \U0001F4E6.exe"));
    ASSERT_TRUE(WriteFile(input, kGoldenPackage));
    ASSERT_EQ(Decode(input, output), kDecodeOk);
    Bytes written;
    ASSERT_TRUE(ReadFile(output, &written));
    EXPECT_EQ(written, kGoldenInstaller);
}

TEST(DecodePackageFile, RoundTripsWhatThePublisherSeals) {
    // Key bytes that are multiples of 8 (no rotation), all ones, mixed; lengths around the 16-byte
    // pattern and the 40,960-byte pieces of the payload and of the file, 28 bytes apart.
    const uint32_t keys[] = {0x00000000, 0x08101820, 0xFFFFFFFF, 0x9E3779B9};
    const uint32_t lengths[] = {1, 15, 17, 40932, 40933, 40960, 40961, 81892, 3 * 40960 + 5};
    TempFolder folder;
    const fs::path input = folder.File("Setup.dat");
    const fs::path output = folder.File("DeSetup.dat");
    for (uint32_t key : keys) {
        for (uint32_t length : lengths) {
            const Bytes installer = RandomBytes(length, key ^ length);
            ASSERT_TRUE(WriteFile(input, MakePackage(installer, key)));
            ASSERT_EQ(Decode(input, output), kDecodeOk) << std::hex << key << std::dec << length;
            Bytes written;
            ASSERT_TRUE(ReadFile(output, &written));
            ASSERT_EQ(written, installer) << std::hex << key << std::dec << " " << length;
        }
    }
}

// A package file of `size` bytes: a header, then zeros that the file system need not store.
inline void MakeLongPackage(const fs::path& path, uint64_t size, uint32_t magic,
                            const unsigned char* digest) {
    PackageHeader header = {};
    header.header_magic = magic;
    header.payload_length = static_cast<uint32_t>(size - kPackageHeaderBytes);
    if (digest) std::copy(digest, digest + kMd5Bytes, header.payload_md5);
    Bytes bytes(kPackageHeaderBytes);
    WritePackageHeader(header, bytes.data());
    ASSERT_TRUE(WriteFile(path, bytes));
    fs::resize_file(path, size);
}

TEST(DecodePackageFile, SizeLimits) {
    // The magic is wrong on purpose: a 1 shows that the size passed, without unmasking 200 MiB.
    const struct {
        const char* name;
        uint64_t size;
        int result;
        size_t traces;
    } cases[] = {
        {"largest package", kPackageMaxBytes, kDecodeBadHeader, 6},
        {"one byte more", kPackageMaxBytes + 1ull, kDecodeBadSize, 2},
        {"size needing 33 bits", (1ull << 32) + 1000, kDecodeBadSize, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TempFolder folder;
        const fs::path input = folder.File("Setup.dat");
        const fs::path output = folder.File("DeSetup.dat");
        MakeLongPackage(input, c.size, 0, nullptr);
        TraceRecorder traces;
        EXPECT_EQ(Decode(input, output), c.result);
        EXPECT_EQ(traces.Lines(), TraceLines(c.traces));
        EXPECT_FALSE(fs::exists(output));
    }
}

TEST(DecodePackageFile, LargestPackageDecodes) {
    // Key 0 turns a payload of zeros into 0xFF at the "not" positions and zeros elsewhere.
    const uint32_t length = kPackageMaxBytes - kPackageHeaderBytes;
    Bytes block(16, 0);
    UnmaskPayload(16, 0, block.data());
    Md5 md5;
    for (uint32_t offset = 0; offset < length; offset += 16) {
        ASSERT_TRUE(md5.Update(block.data(), std::min<uint32_t>(16, length - offset)));
    }
    unsigned char digest[kMd5Bytes];
    ASSERT_TRUE(md5.Final(digest));

    TempFolder folder;
    const fs::path input = folder.File("Setup.dat");
    const fs::path output = folder.File("DeSetup.dat");
    MakeLongPackage(input, kPackageMaxBytes, kPackageMagic, digest);
    ASSERT_EQ(Decode(input, output), kDecodeOk);
    ASSERT_EQ(fs::file_size(output), length);
    // The end, which is where a short final write would show.
    std::ifstream written(output, std::ios::binary);
    Bytes tail(16);
    written.seekg(length - 16);
    written.read(reinterpret_cast<char*>(tail.data()), 16);
    for (uint32_t i = 0; i < 16; ++i) EXPECT_EQ(tail[i], block[(length - 16 + i) % 16]) << i;
}

TEST(DecodePackageBuffer, RefusesBadArgumentsAndUnmasksInPlace) {
    TempFolder folder;
    const std::wstring output = WidePath(folder.File("out"));
    Bytes package = kGoldenPackage;
    EXPECT_EQ(DecodePackageBuffer(44, nullptr, package.data()), kDecodeBadArgument);
    EXPECT_EQ(DecodePackageBuffer(44, output.c_str(), nullptr), kDecodeBadArgument);
    for (uint32_t size : {0u, 1u, 28u}) {
        EXPECT_EQ(DecodePackageBuffer(size, output.c_str(), package.data()), kDecodeBadArgument);
    }
    EXPECT_EQ(package, kGoldenPackage);
    ASSERT_EQ(DecodePackageBuffer(44, output.c_str(), package.data()), kDecodeOk);
    EXPECT_EQ(Bytes(package.begin() + 28, package.end()), kGoldenInstaller);
}

}  // namespace packagetest
