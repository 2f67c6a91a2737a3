#pragma once

#include <cstdint>

// The publisher's side. `package` holds 28 free bytes followed by an installer of
// `payload_length` bytes; on return it is a package that DecodePackageBuffer accepts: the
// installer's MD5 and the key are in the header and the installer is masked in place. False,
// with the buffer unspecified, when the platform could not compute a digest.
bool SealPackage(uint32_t key, uint32_t payload_length, unsigned char* package);
