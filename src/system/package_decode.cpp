#include "system/package_decode.h"

#include <cstring>
#include <memory>
#include <new>
#include <optional>

#include "app/debug_trace.h"
#include "system/file_io.h"
#include "system/package_format.h"

namespace {

// The file's buffer has room past the file; those bytes are never touched.
constexpr std::uint32_t kSpareBufferBytes = 100;

int CheckHeader(std::uint32_t size, const unsigned char* data, PackageHeader* header) {
    if (size <= kPackageHeaderBytes) return kDecodeBadArgument;
    *header = ReadPackageHeader(data);
    if (header->headerMagic != kPackageMagic) return kDecodeBadHeader;
    if (header->payloadLength != size - kPackageHeaderBytes) return kDecodeBadHeader;
    return kDecodeOk;
}

// The output is created only once the unmasked payload has the header's digest.
int WriteIfDigestMatches(const PackageHeader& header, bool digestKnown, const unsigned char* digest,
                         const wchar_t* outputPath, const unsigned char* payload) {
    // A digest that could not be computed cannot be trusted either: it counts as a mismatch.
    if (!digestKnown || std::memcmp(digest, header.payloadMd5, kMd5Bytes) != 0) {
        return kDecodeDigestMismatch;
    }
    FileHandle output = FileHandle::CreateForWrite(outputPath);
    if (!output.IsOpen()) return kDecodeWriteFailed;
    // A failed write leaves the partly written file in place.
    if (!WriteInPieces(output, payload, header.payloadLength)) return kDecodeWriteFailed;
    return kDecodeOk;
}

}  // namespace

int DecodePackageBuffer(std::uint32_t size, const wchar_t* outputPath, unsigned char* data) {
    if (!outputPath || !data) return kDecodeBadArgument;
    PackageHeader header;
    if (const int refused = CheckHeader(size, data, &header)) return refused;
    unsigned char* payload = data + kPackageHeaderBytes;
    unsigned char digest[kMd5Bytes];
    const bool digestKnown = UnmaskAndDigest(header.payloadLength, header.maskKey, payload, digest);
    return WriteIfDigestMatches(header, digestKnown, digest, outputPath, payload);
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

    // Left uninitialised: the read fills it, and the spare bytes stay untouched.
    std::unique_ptr<unsigned char[]> buffer(
        new (std::nothrow) unsigned char[size + kSpareBufferBytes]);
    if (!buffer) return kDecodeNoMemory;
    unsigned char* data = buffer.get();
    HintLargeBuffer(data, size);
    DebugTrace(L"pqrlo 0 .4");

    // What DecodePackageBuffer does, with the unmasking and hashing moved into the read: once the
    // first piece shows a sound header, each piece is unmasked and hashed right after it is read,
    // while it is still in the cache, instead of in a second pass over the whole buffer.
    PackageHeader header = {};
    std::optional<PayloadUnmasker> unmasker;
    const std::uint32_t firstPiece = size < kPackagePieceBytes ? size : kPackagePieceBytes;
    const bool read = ReadInPieces(input, data, size, [&](std::uint32_t inBuffer) {
        if (inBuffer == firstPiece && CheckHeader(size, data, &header) == kDecodeOk) {
            unmasker.emplace(header.payloadLength, header.maskKey, data + kPackageHeaderBytes);
        }
        if (unmasker) unmasker->Advance(inBuffer - kPackageHeaderBytes);
    });
    if (!read) return kDecodeReadFailed;
    DebugTrace(L"pqrlo 0 .6");
    input.Close();

    int result;
    if (unmasker) {
        unsigned char digest[kMd5Bytes];
        const bool digestKnown = unmasker->Finish(digest);
        result = WriteIfDigestMatches(header, digestKnown, digest, outputPath,
                                      data + kPackageHeaderBytes);
    } else {
        // A refused header: the buffer's own checks give the result.
        result = DecodePackageBuffer(size, outputPath, data);
    }
    unmasker.reset();
    buffer.reset();
    DebugTrace(L"pqrlo 0 .7");
    return result;
}
