#include "system/package_decode.h"

#include <cstring>

#include "base/debug_trace.h"
#include "system/file_io.h"
#include "system/package_format.h"
#include "system/staged_output.h"

// The package is decoded as it is read, piece by piece through the output's ring: each piece is
// unmasked and hashed right after it is read, while it is still in the cache, and the output's
// own thread writes it to a file beside the output meanwhile. Memory stays within the ring,
// whatever the package's size. Only a matching digest gives that file the output's name; anything
// else removes it and leaves the output as it was.

namespace {

int CheckHeader(std::uint32_t size, const unsigned char* data, PackageHeader* header) {
    if (size <= kPackageHeaderBytes) return kDecodeBadArgument;
    *header = ReadPackageHeader(data);
    if (header->headerMagic != kPackageMagic) return kDecodeBadHeader;
    if (header->payloadLength != size - kPackageHeaderBytes) return kDecodeBadHeader;
    return kDecodeOk;
}

bool ReadExact(FileHandle& file, unsigned char* buffer, std::uint32_t bytes) {
    std::uint32_t done = 0;
    return file.Read(buffer, bytes, &done) && done == bytes;
}

// The digest decides: a mismatch leaves nothing, a match moves the written file into place.
int Finish(PayloadUnmasker& unmasker, const PackageHeader& header, StagedOutput& output) {
    unsigned char digest[kMd5Bytes];
    // A digest that could not be computed cannot be trusted either: it counts as a mismatch.
    if (!unmasker.Finish(digest) || std::memcmp(digest, header.payloadMd5, kMd5Bytes) != 0) {
        output.Abandon();
        return kDecodeDigestMismatch;
    }
    return output.Commit() ? kDecodeOk : kDecodeWriteFailed;
}

}  // namespace

int DecodePackageBuffer(std::uint32_t size, const wchar_t* outputPath, unsigned char* data) {
    if (!outputPath || !data) return kDecodeBadArgument;
    PackageHeader header;
    if (const int refused = CheckHeader(size, data, &header)) return refused;
    StagedOutput output;
    if (!output.HasMemory()) return kDecodeNoMemory;
    output.Begin(outputPath, header.payloadLength);
    PayloadUnmasker unmasker(header.payloadLength, header.maskKey);
    unsigned char* payload = data + kPackageHeaderBytes;
    ForEachPiece(header.payloadLength, [&](std::uint32_t offset, std::uint32_t bytes) {
        // Unmasked in place, as the caller's buffer is the package; the output writes a copy.
        unmasker.Unmask(payload + offset, bytes);
        std::memcpy(output.NextPiece(), payload + offset, bytes);
        output.Publish();
        return true;
    });
    return Finish(unmasker, header, output);
}

int DecodePackageFile(const wchar_t* inputPath, const wchar_t* outputPath) {
    if (!inputPath || !outputPath) return kDecodeBadArgument;
    DebugTrace(L"pqrlo 0 .1");
    FileHandle input = FileHandle::OpenForRead(inputPath);
    if (!input.IsOpen()) return kDecodeBadArgument;
    DebugTrace(L"pqrlo 0 .2");

    std::uint64_t fileSize = 0;
    if (!input.Size(&fileSize) || fileSize == 0 || fileSize > kPackageMaxBytes) {
        return kDecodeBadSize;
    }
    const std::uint32_t size = static_cast<std::uint32_t>(fileSize);
    DebugTrace(L"pqrlo 0 .3");

    StagedOutput output;
    if (!output.HasMemory()) return kDecodeNoMemory;
    DebugTrace(L"pqrlo 0 .4");

    unsigned char head[kPackageHeaderBytes];
    const std::uint32_t headBytes = size < kPackageHeaderBytes ? size : kPackageHeaderBytes;
    if (!ReadExact(input, head, headBytes)) return kDecodeReadFailed;
    PackageHeader header = {};
    if (const int refused = CheckHeader(size, head, &header)) {
        // The rest is still read through, so that a file that cannot be read gives its own result
        // whatever its header says; its bytes go nowhere.
        unsigned char* scratch = output.NextPiece();
        if (!ForEachPiece(size - headBytes, [&](std::uint32_t, std::uint32_t bytes) {
                return ReadExact(input, scratch, bytes);
            })) {
            return kDecodeReadFailed;
        }
        DebugTrace(L"pqrlo 0 .6");
        input.Close();
        DebugTrace(L"pqrlo 0 .7");
        return refused;
    }

    output.Begin(outputPath, header.payloadLength);
    PayloadUnmasker unmasker(header.payloadLength, header.maskKey);
    if (!ForEachPiece(header.payloadLength, [&](std::uint32_t, std::uint32_t bytes) {
            unsigned char* piece = output.NextPiece();
            if (!ReadExact(input, piece, bytes)) return false;
            unmasker.Unmask(piece, bytes);
            output.Publish();
            return true;
        })) {
        return kDecodeReadFailed;
    }
    DebugTrace(L"pqrlo 0 .6");
    input.Close();

    const int result = Finish(unmasker, header, output);
    DebugTrace(L"pqrlo 0 .7");
    return result;
}

const char* DescribeDecodeResult(int result) {
    switch (result) {
        case kDecodeOk:
            return "installer written";
        case kDecodeBadArgument:
            return "a null path, a package of 28 bytes or less, or the input cannot be opened";
        case kDecodeBadHeader:
            return "wrong magic, or the payload length does not match the file size";
        case kDecodeBadSize:
            return "file size 0, above 209715200 bytes, or not expressible in 32 bits";
        case kDecodeNoMemory:
            return "no memory for the decoding's pieces";
        case kDecodeReadFailed:
            return "read failure or short read";
        case kDecodeWriteFailed:
            return "output cannot be created, or a write failed or was short";
        case kDecodeDigestMismatch:
            return "MD5 of the unmasked payload differs from the header";
        default:
            return "unknown result";
    }
}
