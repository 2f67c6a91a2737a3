#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "qerv_pack.h"
#include "system/file_io.h"
#include "system/installer_signer.h"
#include "system/package_decode.h"
#include "system/package_format.h"
#include "system/wide_text.h"

namespace {

// A whole file in memory, possibly behind some free bytes.
struct LoadedFile {
    std::unique_ptr<unsigned char[]> buffer;
    std::uint32_t size = 0;
};

// Loads a file of at most maxSize bytes, reporting why it could not.
bool LoadFile(const std::wstring& path, const char* what, std::uint32_t spareFront,
              std::uint32_t maxSize, LoadedFile* loaded) {
    const std::string shown = WideToUtf8(path.c_str());
    FileHandle file = FileHandle::OpenForRead(path.c_str());
    if (!file.IsOpen()) {
        ReportError("cannot open the %s '%s'", what, shown.c_str());
        return false;
    }
    std::uint64_t size = 0;
    if (!file.Size(&size)) {
        ReportError("cannot get the size of the %s '%s'", what, shown.c_str());
        return false;
    }
    if (size > maxSize) {
        ReportError("the %s '%s' has %" PRIu64 " bytes, more than the %u that fit in a package",
                    what, shown.c_str(), size, static_cast<unsigned>(maxSize));
        return false;
    }
    loaded->size = static_cast<std::uint32_t>(size);
    loaded->buffer.reset(new (std::nothrow) unsigned char[spareFront + loaded->size]);
    if (!loaded->buffer) {
        ReportError("no memory for the %s '%s'", what, shown.c_str());
        return false;
    }
    if (!ReadInPieces(file, loaded->buffer.get() + spareFront, loaded->size)) {
        ReportError("cannot read the %s '%s'", what, shown.c_str());
        return false;
    }
    return true;
}

void FormatKey(std::uint32_t key, char text[9]) {
    std::snprintf(text, 9, "%02x%02x%02x%02x", key & 0xFF, key >> 8 & 0xFF, key >> 16 & 0xFF,
                  key >> 24);
}

// The signer lines of inspect. Being unsigned is a finding about the installer, not a failure.
void PrintSigner(const unsigned char* installer, std::uint32_t size) {
    InstallerSigner signer;
    std::string why;
    if (!ReadInstallerSigner(installer, size, &signer, &why)) {
        std::printf("signer: none (%s)\n", why.c_str());
        return;
    }
    std::printf("signer: %s\n", WideToUtf8(signer.subject.c_str()).c_str());
    std::printf("signer pin: %s\n", FormatSignerPin(signer.pin).c_str());
}

// A publisher cannot ship a package that the setup would refuse to start.
bool IsSignedByOneOf(const unsigned char* installer, std::uint32_t size,
                     const std::vector<SignerPin>& signers, const std::string& shown) {
    InstallerSigner signer;
    std::string why;
    if (!ReadInstallerSigner(installer, size, &signer, &why)) {
        ReportError("the installer '%s' is refused: %s", shown.c_str(), why.c_str());
        return false;
    }
    const std::string subject = WideToUtf8(signer.subject.c_str());
    const std::string pin = FormatSignerPin(signer.pin);
    if (!IsSignerPinned(signer.pin, signers)) {
        ReportError(
            "the installer '%s' is refused: its signer %s has the key pin %s, which is "
            "none of the --signer pins",
            shown.c_str(), subject.c_str(), pin.c_str());
        return false;
    }
    std::printf("signer: %s (pin %s)\n", subject.c_str(), pin.c_str());
    return true;
}

}  // namespace

int PackCommand(const std::wstring& installer, const std::wstring& package, std::uint32_t key,
                const std::vector<SignerPin>& signers) {
    LoadedFile loaded;
    if (!LoadFile(installer, "installer", kPackageHeaderBytes,
                  kPackageMaxBytes - kPackageHeaderBytes, &loaded)) {
        return kExitFailed;
    }
    if (loaded.size == 0) {
        ReportError("the installer '%s' is empty", WideToUtf8(installer.c_str()).c_str());
        return kExitFailed;
    }
    if (!signers.empty() && !IsSignedByOneOf(loaded.buffer.get() + kPackageHeaderBytes, loaded.size,
                                             signers, WideToUtf8(installer.c_str()))) {
        return kExitFailed;
    }
    if (!SealPackage(key, loaded.size, loaded.buffer.get())) {
        ReportError("no MD5 digest available");
        return kExitFailed;
    }
    const std::string shown = WideToUtf8(package.c_str());
    FileHandle output = FileHandle::CreateForWrite(package.c_str());
    if (!output.IsOpen() ||
        !WriteInPieces(output, loaded.buffer.get(), kPackageHeaderBytes + loaded.size)) {
        ReportError("cannot write the package '%s'", shown.c_str());
        return kExitFailed;
    }
    char keyText[9];
    FormatKey(key, keyText);
    std::printf("packed %u bytes into '%s' with key %s\n", static_cast<unsigned>(loaded.size),
                shown.c_str(), keyText);
    return kExitOk;
}

int InspectCommand(const std::wstring& path) {
    LoadedFile loaded;
    if (!LoadFile(path, "package or installer", 0, kPackageMaxBytes, &loaded)) return kExitFailed;
    const unsigned char* data = loaded.buffer.get();
    const std::string shown = WideToUtf8(path.c_str());
    if (loaded.size >= 2 && data[0] == 'M' && data[1] == 'Z') {
        std::printf("installer: %u bytes, not packed\n", static_cast<unsigned>(loaded.size));
        PrintSigner(data, loaded.size);
        return kExitOk;
    }
    if (loaded.size < kPackageHeaderBytes) {
        ReportError("'%s' has %u bytes, too few for a package header", shown.c_str(),
                    static_cast<unsigned>(loaded.size));
        return kExitFailed;
    }
    const PackageHeader header = ReadPackageHeader(data);
    const bool magicOk = header.headerMagic == kPackageMagic;
    const std::uint32_t actualLength = loaded.size - kPackageHeaderBytes;
    const bool lengthOk = header.payloadLength == actualLength && actualLength > 0;
    char keyText[9];
    FormatKey(header.maskKey, keyText);

    std::printf("magic:  %02x %02x %02x %02x (%s)\n", data[0], data[1], data[2], data[3],
                magicOk ? "HCSI, ok" : "not HCSI");
    std::printf("key:    %s\n", keyText);
    std::printf("length: %u bytes (%u follow the header: %s)\n",
                static_cast<unsigned>(header.payloadLength), static_cast<unsigned>(actualLength),
                lengthOk ? "ok" : "mismatch");
    bool digestOk = false;
    unsigned char* payload = loaded.buffer.get() + kPackageHeaderBytes;
    if (lengthOk) {
        unsigned char digest[kMd5Bytes];
        digestOk = UnmaskAndDigest(actualLength, header.maskKey, payload, digest) &&
                   std::memcmp(digest, header.payloadMd5, kMd5Bytes) == 0;
        std::printf("digest: %s\n", digestOk ? "matches" : "differs");
    } else {
        std::printf("digest: not checked\n");
    }
    // The payload is now the installer in the clear; a damaged one has no signer worth showing.
    if (magicOk && digestOk) {
        PrintSigner(payload, actualLength);
    } else {
        std::printf("signer: not read (the installer does not decode)\n");
    }
    return magicOk && lengthOk && digestOk ? kExitOk : kExitFailed;
}

int UnpackCommand(const std::wstring& package, const std::wstring& output) {
    const int result = DecodePackageFile(package.c_str(), output.c_str());
    std::printf("result %d: %s\n", result, DescribeDecodeResult(result));
    return result == kDecodeOk ? kExitOk : kExitFailed;
}
