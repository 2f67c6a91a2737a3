// Arbitrary bytes as a program image for ReadInstallerSigner: through the PE headers and the
// certificate table into the PKCS#7 parser. Beyond what the sanitizers catch, a fault is a refusal
// without a reason.
#include <cstddef>
#include <cstdint>
#include <string>

#include "system/installer_signer.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    InstallerSigner signer;
    std::string why;
    if (!ReadInstallerSigner(data, size, &signer, &why) && why.empty()) __builtin_trap();
    return 0;
}
