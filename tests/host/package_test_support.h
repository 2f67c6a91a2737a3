#pragma once

// Helpers for the package tests of both platforms: a private folder, whole files, packages made
// the publisher's way and the decoder's trace lines.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "trace_recorder.h"
#include "system/package_format.h"
#include "system/package_seal.h"

namespace packagetest {

namespace fs = std::filesystem;
using Bytes = std::vector<unsigned char>;

// Made by hand: key bytes 01 02 03 04, sixteen masked bytes 0x81, the MD5 of the installer.
inline const Bytes kGoldenPackage = {
    0x48, 0x43, 0x53, 0x49, 0x01, 0x02, 0x03, 0x04, 0x8a, 0xf3, 0x9f, 0x40, 0xbd, 0xc8, 0x31,
    0xc2, 0x74, 0x6e, 0xf1, 0x4a, 0xc3, 0x21, 0x64, 0xf4, 0x10, 0x00, 0x00, 0x00, 0x81, 0x81,
    0x81, 0x81, 0x81, 0x81, 0x81, 0x81, 0x81, 0x81, 0x81, 0x81, 0x81, 0x81, 0x81, 0x81};
inline const Bytes kGoldenInstaller = {0x82, 0x83, 0x0C, 0x7E, 0x80, 0x06, 0x7E, 0x85,
                                       0x7E, 0x7E, 0x84, 0x85, 0x03, 0x83, 0x82, 0x18};

class TempFolder {
  public:
    TempFolder()
        : path_(fs::temp_directory_path() /
                ("qerv-package-test-" + std::to_string(std::random_device()()))) {
        fs::create_directories(path_);
    }
    ~TempFolder() {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const fs::path& path() const { return path_; }
    fs::path File(const fs::path& name) const { return path_ / name; }

  private:
    fs::path path_;
};

inline bool WriteFile(const fs::path& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

inline bool ReadFile(const fs::path& path, Bytes* bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    bytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

inline Bytes RandomBytes(size_t size, uint32_t seed) {
    std::mt19937 random(seed);
    Bytes bytes(size);
    for (unsigned char& b : bytes) b = static_cast<unsigned char>(random());
    return bytes;
}

inline Bytes MakePackage(const Bytes& installer, uint32_t key) {
    Bytes package(kPackageHeaderBytes + installer.size());
    std::copy(installer.begin(), installer.end(), package.begin() + kPackageHeaderBytes);
    EXPECT_TRUE(SealPackage(key, static_cast<uint32_t>(installer.size()), package.data()));
    return package;
}

using testsupport::TraceRecorder;

// The decoder's trace lines in order; a run that stops early sends the first `count`.
inline std::vector<std::wstring> TraceLines(size_t count) {
    const std::vector<std::wstring> all = {L"pqrlo 0 .1", L"pqrlo 0 .2", L"pqrlo 0 .3",
                                           L"pqrlo 0 .4", L"pqrlo 0 .6", L"pqrlo 0 .7"};
    return std::vector<std::wstring>(all.begin(), all.begin() + count);
}

}  // namespace packagetest
