#pragma once

#include <cstdint>

// Results of DecodePackageFile and DecodePackageBuffer. Only kDecodeOk touches the output: it
// then holds the complete installer, an earlier file of that name replaced. Every other result
// leaves the output as it was, or missing, and nothing beside it.
constexpr int kDecodeBadArgument = -1;  // null path or pointer, 28 bytes or less, input not opened
constexpr int kDecodeOk = 0;
constexpr int kDecodeBadHeader = 1;       // wrong magic, or length field not matching the size
constexpr int kDecodeBadSize = 2;         // empty, above 200 MiB, or not expressible in 32 bits
constexpr int kDecodeNoMemory = 3;        // no memory for the decoding's pieces
constexpr int kDecodeReadFailed = 4;      // read failure or short read
constexpr int kDecodeWriteFailed = 5;     // output not created, or a failed or short write
constexpr int kDecodeDigestMismatch = 6;  // MD5 of the unmasked payload differs from the header's

// What a result means, in a few words.
const char* DescribeDecodeResult(int result);

// Reads the package at inputPath and decodes it into outputPath, piece by piece as it is read:
// memory stays within a fixed ring of pieces, whatever the package's size.
int DecodePackageFile(const wchar_t* inputPath, const wchar_t* outputPath);

// Checks the package of `size` bytes at `data`, unmasks its payload in place, verifies the digest
// and only then gives outputPath the installer, which was written beside it meanwhile.
int DecodePackageBuffer(std::uint32_t size, const wchar_t* outputPath, unsigned char* data);
