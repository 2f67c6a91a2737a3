#pragma once

// The parts of a Windows program image that are read before an installer is started: where its
// Authenticode signature lies, and the version that its version resource gives. The image is
// read through a function, a few bytes at a time, so that the setup reads the very file it holds
// open (whatever its size) and the publisher's tool reads one in memory.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

// Copies the image's bytes [offset, offset + size) into buffer; false when the image does not
// hold them all or they cannot be read.
using ImageReader = std::function<bool(std::uint64_t offset, void* buffer, std::size_t size)>;

// The DER-encoded PKCS#7 SignedData of the certificate table.
struct SignatureSpan {
    std::uint64_t offset = 0;
    std::uint32_t size = 0;
};

// Finds the signature of an image of imageSize bytes: the first PKCS#7 entry of its certificate
// table. Refused, with the reason in *why, when the image has none or its headers or table are
// malformed, and when anything but the zero bytes that pad the table to 8 bytes follows the
// signature, inside its entry, in the table or after the table: none of that is covered by the
// signature, so an installer that carries it is not the one its publisher signed.
bool LocateSignature(const ImageReader& read, std::uint64_t imageSize, SignatureSpan* span,
                     std::string* why);

// A program's version: four 16-bit parts, the most significant first.
struct ProgramVersion {
    std::uint16_t part[4] = {};
};

// "1", "1.2", "1.2.3" or "1.2.3.4" (missing parts are 0), each part a decimal number below 65536
// without sign or space.
bool ParseProgramVersion(const std::string& text, ProgramVersion* version);
std::string FormatProgramVersion(const ProgramVersion& version);
// Negative, zero or positive as a is lower than, equal to or higher than b.
int CompareProgramVersions(const ProgramVersion& a, const ProgramVersion& b);

// The file version in the fixed part of the image's version resource (the first of its kind),
// as GetFileVersionInfo shows it. False, with the reason in *why, when there is none or the
// image is malformed.
bool ReadProgramVersion(const ImageReader& read, std::uint64_t imageSize, ProgramVersion* version,
                        std::string* why);

#ifdef _WIN32
// Reads an open file (a HANDLE) at absolute offsets, whatever its file pointer says.
ImageReader FileImageReader(void* hFile);
#endif
