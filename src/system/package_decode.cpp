#include "system/package_decode.h"

#include <cstring>
#include <memory>
#include <new>
#include <optional>

#include "app/debug_trace.h"
#include "system/file_io.h"
#include "system/file_pieces.h"
#include "system/package_digest.h"
#include "system/package_format.h"

static_assert(kPackageDigestBytes == kMd5Bytes, "the header holds an MD5 digest");

namespace {

// The file's buffer has room past the file; those bytes are never touched.
constexpr uint32_t kSpareBufferBytes = 100;

int CheckHeader(uint32_t size, const unsigned char* data, PackageHeader* header) {
    if (size <= kPackageHeaderBytes) return kDecodeBadArgument;
    *header = ReadPackageHeader(data);
    if (header->header_magic != kPackageMagic) return kDecodeBadHeader;
    if (header->payload_length != size - kPackageHeaderBytes) return kDecodeBadHeader;
    return kDecodeOk;
}

// The output is created only once the unmasked payload has the header's digest.
int WriteIfDigestMatches(const PackageHeader& header, bool digest_known,
                         const unsigned char* digest, const wchar_t* output_path,
                         const unsigned char* payload) {
    // A digest that could not be computed cannot be trusted either: it counts as a mismatch.
    if (!digest_known || std::memcmp(digest, header.payload_md5, kMd5Bytes) != 0) {
        return kDecodeDigestMismatch;
    }
    FileHandle output = FileHandle::CreateForWrite(output_path);
    if (!output.IsOpen()) return kDecodeWriteFailed;
    // A failed write leaves the partly written file in place.
    if (!WriteInPieces(output, payload, header.payload_length)) return kDecodeWriteFailed;
    return kDecodeOk;
}

}  // namespace

int DecodePackageBuffer(uint32_t size, const wchar_t* output_path, unsigned char* data) {
    if (!output_path || !data) return kDecodeBadArgument;
    PackageHeader header;
    if (const int refused = CheckHeader(size, data, &header)) return refused;
    unsigned char* payload = data + kPackageHeaderBytes;
    unsigned char digest[kMd5Bytes];
    const bool digest_known =
        UnmaskAndDigest(header.payload_length, header.mask_key, payload, digest);
    return WriteIfDigestMatches(header, digest_known, digest, output_path, payload);
}

int DecodePackageFile(const wchar_t* input_path, const wchar_t* output_path) {
    if (!input_path || !output_path) return kDecodeBadArgument;
    DebugTrace(L"pqrlo 0 .1");
    FileHandle input = FileHandle::OpenForRead(input_path);
    if (!input.IsOpen()) return kDecodeBadArgument;
    DebugTrace(L"pqrlo 0 .2");

    uint64_t file_size = 0;
    if (!input.Size(&file_size) || file_size == 0 || file_size > kPackageMaxBytes) {
        return kDecodeBadSize;
    }
    const uint32_t size = static_cast<uint32_t>(file_size);
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
    const uint32_t first_piece = size < kPackagePieceBytes ? size : kPackagePieceBytes;
    const bool read = ReadInPieces(input, data, size, [&](uint32_t in_buffer) {
        if (in_buffer == first_piece && CheckHeader(size, data, &header) == kDecodeOk) {
            unmasker.emplace(header.payload_length, header.mask_key, data + kPackageHeaderBytes);
        }
        if (unmasker) unmasker->Advance(in_buffer - kPackageHeaderBytes);
    });
    if (!read) return kDecodeReadFailed;
    DebugTrace(L"pqrlo 0 .6");
    input.Close();

    int result;
    if (unmasker) {
        unsigned char digest[kMd5Bytes];
        const bool digest_known = unmasker->Finish(digest);
        result = WriteIfDigestMatches(header, digest_known, digest, output_path,
                                      data + kPackageHeaderBytes);
    } else {
        // A refused header: the buffer's own checks give the result.
        result = DecodePackageBuffer(size, output_path, data);
    }
    unmasker.reset();
    buffer.reset();
    DebugTrace(L"pqrlo 0 .7");
    return result;
}
