#include "system/package_seal.h"

#include "system/md5.h"
#include "system/package_format.h"
#include "system/package_masking.h"

bool SealPackage(uint32_t key, uint32_t payload_length, unsigned char* package) {
    PackageHeader header = {};
    header.header_magic = kPackageMagic;
    header.mask_key = key;
    header.payload_length = payload_length;

    unsigned char* payload = package + kPackageHeaderBytes;
    Md5 md5;
    for (uint32_t offset = 0; offset < payload_length; offset += kPackagePieceBytes) {
        const uint32_t piece = payload_length - offset < kPackagePieceBytes
                                   ? payload_length - offset
                                   : kPackagePieceBytes;
        // Hash each piece as it is, then mask it while it is still in the cache.
        if (!md5.Update(payload + offset, piece)) return false;
        MaskPayload(piece, key, payload + offset);
    }
    if (!md5.Final(header.payload_md5)) return false;
    WritePackageHeader(header, package);
    return true;
}
