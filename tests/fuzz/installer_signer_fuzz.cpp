// Arbitrary bytes as a program image for ReadInstallerSigner and ReadProgramVersion: through the
// PE headers, the certificate table into the PKCS#7 parser, and the resource tree into the version
// resource. Beyond what the sanitizers catch, a fault is a refusal without a reason.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "system/installer_signer.h"
#include "system/program_image.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    InstallerSigner signer;
    std::string why;
    if (!ReadInstallerSigner(data, size, &signer, &why) && why.empty()) __builtin_trap();
    const ImageReader read = [data, size](std::uint64_t offset, void* buffer, std::size_t bytes) {
        if (offset > size || bytes > size - offset) return false;
        std::memcpy(buffer, data + offset, bytes);
        return true;
    };
    ProgramVersion version;
    why.clear();
    if (!ReadProgramVersion(read, size, &version, &why) && why.empty()) __builtin_trap();
    return 0;
}
