// Arbitrary bytes as a package for DecodePackageBuffer. Beyond what the sanitizers catch, a fault
// is a result outside the decoder's table, an output left behind by a refused package, anything
// else left in the output's folder, or a written installer that does not mask back into the
// package's payload.
#include <dirent.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "system/package_decode.h"
#include "system/package_format.h"

namespace {

constexpr char kOutputName[] = "installer.exe";
std::string g_folder;
std::string g_output;
std::wstring g_wideOutput;

void RemoveFolder() {
    unlink(g_output.c_str());
    rmdir(g_folder.c_str());
}

bool ReadFile(const std::string& path, std::vector<unsigned char>* bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    bytes->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

// Whether the folder holds anything but the output.
bool HasOtherFiles() {
    DIR* folder = opendir(g_folder.c_str());
    if (!folder) return true;
    bool other = false;
    while (const dirent* entry = readdir(folder)) {
        const std::string name = entry->d_name;
        other = other || (name != "." && name != ".." && name != kOutputName);
    }
    closedir(folder);
    return other;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    char folder[] = "/tmp/qerv-fuzz-decode-XXXXXX";
    if (!mkdtemp(folder)) __builtin_trap();
    g_folder = folder;
    g_output = g_folder + "/" + kOutputName;
    g_wideOutput.assign(g_output.begin(), g_output.end());
    atexit(RemoveFolder);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size) {
    if (size > kPackageMaxBytes) return 0;
    std::vector<unsigned char> package(data, data + size);
    unlink(g_output.c_str());
    const int result =
        DecodePackageBuffer(static_cast<std::uint32_t>(size), g_wideOutput.c_str(), package.data());

    std::vector<unsigned char> written;
    const bool has_output = ReadFile(g_output, &written);
    if (HasOtherFiles()) __builtin_trap();
    switch (result) {
        case kDecodeBadArgument:
        case kDecodeBadHeader:
        case kDecodeDigestMismatch:
            if (has_output) __builtin_trap();
            break;
        case kDecodeOk: {
            const std::uint32_t length = static_cast<std::uint32_t>(size) - kPackageHeaderBytes;
            if (!has_output || written.size() != length) __builtin_trap();
            MaskPayload(length, ReadPackageHeader(data).maskKey, written.data());
            if (std::memcmp(written.data(), data + kPackageHeaderBytes, length) != 0) {
                __builtin_trap();
            }
            break;
        }
        default:
            // Writes to a fresh file in a private folder do not fail; nothing else may come.
            __builtin_trap();
    }
    return 0;
}
