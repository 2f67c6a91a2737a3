#pragma once

#include <cstdint>

#include "system/md5.h"

// Layout of a package: a 28-byte header, then the installer masked with the header's key.
// Multi-byte numbers are little-endian.
constexpr std::uint32_t kPackageMagic = 0x49534348;  // the bytes "HCSI"
constexpr std::uint32_t kPackageHeaderBytes = 28;
constexpr std::uint32_t kPackageMaxBytes = 209715200;  // 200 MiB
constexpr std::uint32_t kPackageDigestBytes = 16;

struct PackageHeader {
    std::uint32_t headerMagic;
    std::uint32_t maskKey;  // key bytes k0..k3 in file order: k0 is the lowest byte
    unsigned char payloadMd5[kPackageDigestBytes];
    std::uint32_t payloadLength;
};

PackageHeader ReadPackageHeader(const unsigned char* data);
void WritePackageHeader(const PackageHeader& header, unsigned char* data);

// Unmasks a payload in place. Byte i is changed with key byte k = i mod 4 (k0, the key's lowest
// byte, comes first in the file) by one of: add k, xor k, not, rotate left by k mod 8, as a fixed
// pattern of 16 positions chooses. A null payload or a length of 0 does nothing.
void UnmaskPayload(std::uint32_t length, std::uint32_t key, unsigned char* payload);

// The publisher's inverse at the same positions: subtract k, xor k, not, rotate right by k mod 8.
void MaskPayload(std::uint32_t length, std::uint32_t key, unsigned char* payload);

// Unmasks a payload in place and computes the MD5 of the result in one pass, piece by piece as
// the payload comes in: each piece is hashed right after it is unmasked, while it is still in the
// cache. Only the piece at hand needs to be in memory.
class PayloadUnmasker {
  public:
    PayloadUnmasker(std::uint32_t length, std::uint32_t key) : m_length(length), m_key(key) {}

    // The next `bytes` bytes of the payload, unmasked in place. Every piece but the last is a
    // whole number of 16-byte blocks, so that the masking pattern starts afresh with each piece;
    // bytes beyond the payload's length are left alone.
    void Unmask(unsigned char* piece, std::uint32_t bytes);
    // False when the payload is incomplete, a piece broke the 16-byte rule, or the platform could
    // not compute a digest.
    bool Finish(unsigned char digest[kMd5Bytes]);

  private:
    Md5 m_md5;
    const std::uint32_t m_length;
    const std::uint32_t m_key;
    std::uint32_t m_done = 0;
    bool m_ok = true;
};

// The same for a payload that is wholly in memory, taken in pieces of 40,960 bytes.
bool UnmaskAndDigest(std::uint32_t length, std::uint32_t key, unsigned char* payload,
                     unsigned char digest[kMd5Bytes]);

// The publisher's side. `package` holds 28 free bytes followed by an installer of
// `payloadLength` bytes; on return it is a package that DecodePackageBuffer accepts: the
// installer's MD5 and the key are in the header and the installer is masked in place. False,
// with the buffer unspecified, when the platform could not compute a digest.
bool SealPackage(std::uint32_t key, std::uint32_t payloadLength, unsigned char* package);
