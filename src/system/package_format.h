#pragma once

#include <cstdint>

// Layout of a package: a 28-byte header, then the installer masked with the header's key.
// Multi-byte numbers are little-endian.
constexpr uint32_t kPackageMagic = 0x49534348;  // the bytes "HCSI"
constexpr uint32_t kPackageHeaderBytes = 28;
constexpr uint32_t kPackageMaxBytes = 209715200;  // 200 MiB
constexpr uint32_t kPackageDigestBytes = 16;

// Files move in pieces of this size; unmasking and hashing follow the same pieces. It is a
// multiple of the 16-byte masking pattern, so every piece starts the pattern afresh.
constexpr uint32_t kPackagePieceBytes = 40960;
static_assert(kPackagePieceBytes % 16 == 0, "pieces must keep the masking pattern aligned");

struct PackageHeader {
    uint32_t header_magic;
    uint32_t mask_key;  // key bytes k0..k3 in file order: k0 is the lowest byte
    unsigned char payload_md5[kPackageDigestBytes];
    uint32_t payload_length;
};

PackageHeader ReadPackageHeader(const unsigned char* data);
void WritePackageHeader(const PackageHeader& header, unsigned char* data);
