#pragma once

#include <cstdint>

// Unmasks a payload in place. Byte i is changed with key byte k = i mod 4 (k0, the key's lowest
// byte, comes first in the file) by one of: add k, xor k, not, rotate left by k mod 8, as a fixed
// pattern of 16 positions chooses. A null payload or a length of 0 does nothing.
void UnmaskPayload(uint32_t length, uint32_t key, unsigned char* payload);

// The publisher's inverse at the same positions: subtract k, xor k, not, rotate right by k mod 8.
void MaskPayload(uint32_t length, uint32_t key, unsigned char* payload);
