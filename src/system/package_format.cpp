#include "system/package_format.h"

#include <cstring>

namespace {

uint32_t LoadLittleEndian32(const unsigned char* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

void StoreLittleEndian32(uint32_t value, unsigned char* p) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(value >> (8 * i));
}

}  // namespace

PackageHeader ReadPackageHeader(const unsigned char* data) {
    PackageHeader header;
    header.header_magic = LoadLittleEndian32(data);
    header.mask_key = LoadLittleEndian32(data + 4);
    std::memcpy(header.payload_md5, data + 8, kPackageDigestBytes);
    header.payload_length = LoadLittleEndian32(data + 24);
    return header;
}

void WritePackageHeader(const PackageHeader& header, unsigned char* data) {
    StoreLittleEndian32(header.header_magic, data);
    StoreLittleEndian32(header.mask_key, data + 4);
    std::memcpy(data + 8, header.payload_md5, kPackageDigestBytes);
    StoreLittleEndian32(header.payload_length, data + 24);
}
