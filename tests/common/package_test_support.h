#pragma once

// Helpers for the package tests of both platforms: a private folder, whole files, packages made
// the publisher's way, and the decoder's trace lines.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <system_error>
#include <vector>

#include "system/md5.h"
#include "system/package_decode.h"
#include "system/package_format.h"
#include "system/wide_text.h"
#include "trace_recorder.h"

namespace packagetest {

namespace fs = std::filesystem;
using Bytes = std::vector<unsigned char>;
using testsupport::TraceRecorder;

class TempFolder {
  public:
    TempFolder()
        : m_path(fs::temp_directory_path() /
                 ("qerv-package-test-" + std::to_string(std::random_device()()))) {
        fs::create_directories(m_path);
    }
    ~TempFolder() {
        std::error_code ignored;
        fs::remove_all(m_path, ignored);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const fs::path& path() const { return m_path; }
    fs::path File(const fs::path& name) const { return m_path / name; }
    // What the folder holds, by name, sorted.
    std::vector<std::string> Names() const {
        std::vector<std::string> names;
        for (const fs::directory_entry& entry : fs::directory_iterator(m_path)) {
            names.push_back(entry.path().filename().u8string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }

  private:
    fs::path m_path;
};

inline bool WriteFile(const fs::path& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

// The whole file; empty when it cannot be read.
inline Bytes Contents(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline Bytes RandomBytes(size_t size, std::uint32_t seed) {
    std::mt19937 random(seed);
    Bytes bytes(size);
    for (unsigned char& b : bytes) b = static_cast<unsigned char>(random());
    return bytes;
}

// Made by hand: key bytes 01 02 03 04, sixteen masked bytes 0x81, the MD5 of the installer.
inline const Bytes kGoldenPackage = {
    0x48, 0x43, 0x53, 0x49, 0x01, 0x02, 0x03, 0x04, 0x8a, 0xf3, 0x9f, 0x40, 0xbd, 0xc8, 0x31,
    0xc2, 0x74, 0x6e, 0xf1, 0x4a, 0xc3, 0x21, 0x64, 0xf4, 0x10, 0x00, 0x00, 0x00, 0x81, 0x81,
    0x81, 0x81, 0x81, 0x81, 0x81, 0x81, 0x81, 0x81, 0x81, 0x81, 0x81, 0x81, 0x81, 0x81};
inline const Bytes kGoldenInstaller = {0x82, 0x83, 0x0C, 0x7E, 0x80, 0x06, 0x7E, 0x85,
                                       0x7E, 0x7E, 0x84, 0x85, 0x03, 0x83, 0x82, 0x18};

// A package made the publisher's way.
inline Bytes MakePackage(const Bytes& installer, std::uint32_t key) {
    Bytes package = installer;
    package.insert(package.begin(), kPackageHeaderBytes, 0);
    EXPECT_TRUE(SealPackage(key, static_cast<std::uint32_t>(installer.size()), package.data()));
    return package;
}

// The decoder's trace lines in order; a run that stops early sends the first `count`.
inline std::vector<std::wstring> TraceLines(size_t count) {
    const std::vector<std::wstring> all = {L"pqrlo 0 .1", L"pqrlo 0 .2", L"pqrlo 0 .3",
                                           L"pqrlo 0 .4", L"pqrlo 0 .6", L"pqrlo 0 .7"};
    return std::vector<std::wstring>(all.begin(), all.begin() + count);
}

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
    std::string hex;
    for (size_t i = 0; i < kMd5Bytes; ++i) {
        hex += {"0123456789abcdef"[digest[i] >> 4], "0123456789abcdef"[digest[i] & 15]};
    }
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

inline Bytes Changed(Bytes bytes, size_t index, unsigned char flip) {
    bytes[index] ^= flip;
    return bytes;
}

inline Bytes Resized(Bytes bytes, size_t size) {
    bytes.resize(size, 0x5A);
    return bytes;
}

// A package file of `size` bytes: a header, then zeros that the file system need not store.
inline void MakeLongPackage(const fs::path& path, std::uint64_t size, const unsigned char* digest) {
    PackageHeader header = {};
    header.headerMagic = kPackageMagic;
    header.payloadLength = static_cast<std::uint32_t>(size - kPackageHeaderBytes);
    if (digest) std::copy(digest, digest + kMd5Bytes, header.payloadMd5);
    Bytes bytes(kPackageHeaderBytes);
    WritePackageHeader(header, bytes.data());
    ASSERT_TRUE(WriteFile(path, bytes));
    fs::resize_file(path, size);
}

}  // namespace packagetest
