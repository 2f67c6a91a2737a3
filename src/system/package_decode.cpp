#include "system/package_decode.h"

#include <cstring>
#include <memory>
#include <new>
#include <optional>

#include "app/debug_trace.h"
#include "system/file_io.h"
#include "system/package_format.h"
#include "system/staged_output.h"

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

// Decodes a payload under a sound header as its bytes come in: the caller unmasks and hashes
// each stretch, and the output's own thread writes it to a file beside the output meanwhile, so
// that the writing costs no time of its own. Only a matching digest gives that file the output's
// name; anything else removes it and leaves the output as it was.
class PayloadDecoder {
  public:
    PayloadDecoder(const PackageHeader& header, unsigned char* payload, const wchar_t* outputPath)
        : m_header(header),
          m_unmasker(header.payloadLength, header.maskKey, payload),
          m_output(outputPath, payload, header.payloadLength) {}

    // The first `available` bytes of the payload are in memory.
    void Advance(std::uint32_t available) {
        m_unmasker.Advance(available);
        m_output.Publish(m_unmasker.Unmasked());
    }

    int Finish() {
        unsigned char digest[kMd5Bytes];
        // A digest that could not be computed cannot be trusted either: it counts as a mismatch.
        if (!m_unmasker.Finish(digest) ||
            std::memcmp(digest, m_header.payloadMd5, kMd5Bytes) != 0) {
            m_output.Abandon();
            return kDecodeDigestMismatch;
        }
        return m_output.Commit() ? kDecodeOk : kDecodeWriteFailed;
    }

  private:
    const PackageHeader m_header;
    PayloadUnmasker m_unmasker;
    StagedOutput m_output;
};

}  // namespace

int DecodePackageBuffer(std::uint32_t size, const wchar_t* outputPath, unsigned char* data) {
    if (!outputPath || !data) return kDecodeBadArgument;
    PackageHeader header;
    if (const int refused = CheckHeader(size, data, &header)) return refused;
    PayloadDecoder decoder(header, data + kPackageHeaderBytes, outputPath);
    ForEachPiece(header.payloadLength, [&decoder](std::uint32_t offset, std::uint32_t bytes) {
        decoder.Advance(offset + bytes);
        return true;
    });
    return decoder.Finish();
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

    // What DecodePackageBuffer does, with the decoding moved into the read: once the first piece
    // shows a sound header, each piece is unmasked and hashed right after it is read, while it is
    // still in the cache, instead of in a second pass over the whole buffer. The decoder goes
    // before the buffer that its writer reads from.
    PackageHeader header = {};
    std::optional<PayloadDecoder> decoder;
    const std::uint32_t firstPiece = size < kPackagePieceBytes ? size : kPackagePieceBytes;
    const bool read = ReadInPieces(input, data, size, [&](std::uint32_t inBuffer) {
        if (inBuffer == firstPiece && CheckHeader(size, data, &header) == kDecodeOk) {
            decoder.emplace(header, data + kPackageHeaderBytes, outputPath);
        }
        if (decoder) decoder->Advance(inBuffer - kPackageHeaderBytes);
    });
    if (!read) return kDecodeReadFailed;
    DebugTrace(L"pqrlo 0 .6");
    input.Close();

    // A refused header: the buffer's own checks give the result.
    const int result = decoder ? decoder->Finish() : DecodePackageBuffer(size, outputPath, data);
    decoder.reset();
    buffer.reset();
    DebugTrace(L"pqrlo 0 .7");
    return result;
}
