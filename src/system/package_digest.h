#pragma once

#include <cstdint>

#include "system/md5.h"

// Unmasks a payload in place and computes the MD5 of the result in one pass, as its bytes become
// available: each stretch is hashed right after it is unmasked, while it is still in the cache.
class PayloadUnmasker {
  public:
    PayloadUnmasker(uint32_t length, uint32_t key, unsigned char* payload)
        : length_(length), key_(key), payload_(payload) {}

    // The first `available` bytes of the payload are in memory. They are handled in whole 16-byte
    // blocks until the payload is complete, so that the masking pattern stays aligned.
    void Advance(uint32_t available);
    // False when the payload is incomplete or the platform could not compute a digest.
    bool Finish(unsigned char digest[kMd5Bytes]);

  private:
    Md5 md5_;
    const uint32_t length_;
    const uint32_t key_;
    unsigned char* const payload_;
    uint32_t done_ = 0;
    bool ok_ = true;
};

// The same for a payload that is wholly in memory, taken in pieces of 40,960 bytes.
bool UnmaskAndDigest(uint32_t length, uint32_t key, unsigned char* payload,
                     unsigned char digest[kMd5Bytes]);
