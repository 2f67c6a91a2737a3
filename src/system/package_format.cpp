#include "system/package_format.h"

#include <cstring>

#include "system/file_io.h"

#if !defined(__BYTE_ORDER__) || __BYTE_ORDER__ != __ORDER_LITTLE_ENDIAN__
#error "the lane layout below assumes a little-endian machine"
#endif

static_assert(kPackageDigestBytes == kMd5Bytes, "the header holds an MD5 digest");
// Every piece then starts the masking pattern afresh.
static_assert(kPackagePieceBytes % 16 == 0, "pieces must keep the masking pattern aligned");

namespace {

std::uint32_t LoadLittleEndian32(const unsigned char* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

void StoreLittleEndian32(std::uint32_t value, unsigned char* p) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(value >> (8 * i));
}

// Sixteen bytes, and the same bits as eight 16-bit halves; the compiler maps both onto vector
// registers where the target has them and onto plain integers elsewhere.
typedef std::uint8_t Bytes16 __attribute__((vector_size(16)));
typedef std::uint16_t Halves8 __attribute__((vector_size(16)));

enum class Op { kAdd, kXor, kNot, kRotate };

// Row: payload index mod 4; column: (index / 4) mod 4. The pattern repeats every 16 bytes.
constexpr Op kOperations[4][4] = {
    {Op::kAdd, Op::kXor, Op::kNot, Op::kRotate},
    {Op::kXor, Op::kRotate, Op::kNot, Op::kAdd},
    {Op::kRotate, Op::kNot, Op::kAdd, Op::kXor},
    {Op::kNot, Op::kAdd, Op::kXor, Op::kRotate},
};

enum class Direction { kUnmask, kMask };

// One 16-byte block of the pattern as whole-block steps: every byte is xored, then added to, then
// rotated, with the identity (0, 0, rotation by 0) where its own operation is another one.
struct BlockPlan {
    Bytes16 xorWith;
    Bytes16 add;
    Halves8 evenMultiplier;  // 1 << rotation, for bytes 0, 2, 4, ...
    Halves8 oddMultiplier;   // 1 << rotation, for bytes 1, 3, 5, ...
};

void MakePlan(std::uint32_t key, Direction direction, BlockPlan* plan) {
    const bool unmask = direction == Direction::kUnmask;
    for (int lane = 0; lane < 16; ++lane) {
        const std::uint8_t k = static_cast<std::uint8_t>(key >> (8 * (lane % 4)));
        std::uint8_t xorWith = 0;
        std::uint8_t add = 0;
        int rotation = 0;
        switch (kOperations[lane % 4][(lane / 4) % 4]) {
            case Op::kAdd:
                add = unmask ? k : static_cast<std::uint8_t>(0u - k);
                break;
            case Op::kXor:
                xorWith = k;
                break;
            case Op::kNot:
                xorWith = 0xFF;
                break;
            case Op::kRotate:
                rotation = unmask ? k % 8 : (8 - k % 8) % 8;
                break;
        }
        plan->xorWith[lane] = xorWith;
        plan->add[lane] = add;
        const std::uint16_t multiplier = static_cast<std::uint16_t>(1u << rotation);
        if (lane % 2 == 0) {
            plan->evenMultiplier[lane / 2] = multiplier;
        } else {
            plan->oddMultiplier[lane / 2] = multiplier;
        }
    }
}

inline void ApplyBlock(const BlockPlan& plan, unsigned char* block) {
    Bytes16 bytes;
    std::memcpy(&bytes, block, sizeof bytes);
    bytes = (bytes ^ plan.xorWith) + plan.add;
    Halves8 halves;
    std::memcpy(&halves, &bytes, sizeof halves);
    // A byte b times 2^r in a 16-bit half holds b << r in its low byte and b >> (8 - r) in its
    // high byte; together they are b rotated left by r.
    const Halves8 even = (halves & 0xFF) * plan.evenMultiplier;
    const Halves8 odd = (halves >> 8) * plan.oddMultiplier;
    halves = ((even | (even >> 8)) & 0xFF) | ((odd | (odd >> 8)) << 8);
    std::memcpy(block, &halves, sizeof halves);
}

void ApplyPlan(std::uint32_t length, std::uint32_t key, Direction direction,
               unsigned char* payload) {
    if (!payload || length == 0) return;
    BlockPlan plan;
    MakePlan(key, direction, &plan);
    const std::uint32_t whole = length & ~15u;
    for (std::uint32_t offset = 0; offset < whole; offset += 16) {
        ApplyBlock(plan, payload + offset);
    }
    if (const std::uint32_t rest = length - whole) {
        unsigned char block[16] = {};
        std::memcpy(block, payload + whole, rest);
        ApplyBlock(plan, block);
        std::memcpy(payload + whole, block, rest);
    }
}

}  // namespace

PackageHeader ReadPackageHeader(const unsigned char* data) {
    PackageHeader header;
    header.headerMagic = LoadLittleEndian32(data);
    header.maskKey = LoadLittleEndian32(data + 4);
    std::memcpy(header.payloadMd5, data + 8, kPackageDigestBytes);
    header.payloadLength = LoadLittleEndian32(data + 24);
    return header;
}

void WritePackageHeader(const PackageHeader& header, unsigned char* data) {
    StoreLittleEndian32(header.headerMagic, data);
    StoreLittleEndian32(header.maskKey, data + 4);
    std::memcpy(data + 8, header.payloadMd5, kPackageDigestBytes);
    StoreLittleEndian32(header.payloadLength, data + 24);
}

void UnmaskPayload(std::uint32_t length, std::uint32_t key, unsigned char* payload) {
    ApplyPlan(length, key, Direction::kUnmask, payload);
}

void MaskPayload(std::uint32_t length, std::uint32_t key, unsigned char* payload) {
    ApplyPlan(length, key, Direction::kMask, payload);
}

void PayloadUnmasker::Unmask(unsigned char* piece, std::uint32_t bytes) {
    const std::uint32_t left = m_length - m_done;
    if (bytes > left) bytes = left;
    if (bytes == 0) return;
    // A piece that is not the last must end on a block boundary, where the pattern restarts.
    if (bytes < left && bytes % 16 != 0) m_ok = false;
    UnmaskPayload(bytes, m_key, piece);
    m_ok = m_ok && m_md5.Update(piece, bytes);
    m_done += bytes;
}

bool PayloadUnmasker::Finish(unsigned char digest[kMd5Bytes]) {
    return m_ok && m_done == m_length && m_md5.Final(digest);
}

bool UnmaskAndDigest(std::uint32_t length, std::uint32_t key, unsigned char* payload,
                     unsigned char digest[kMd5Bytes]) {
    PayloadUnmasker unmasker(length, key);
    ForEachPiece(length, [&](std::uint32_t offset, std::uint32_t bytes) {
        unmasker.Unmask(payload + offset, bytes);
        return true;
    });
    return unmasker.Finish(digest);
}

bool SealPackage(std::uint32_t key, std::uint32_t payloadLength, unsigned char* package) {
    PackageHeader header = {};
    header.headerMagic = kPackageMagic;
    header.maskKey = key;
    header.payloadLength = payloadLength;

    unsigned char* payload = package + kPackageHeaderBytes;
    Md5 md5;
    const bool hashed = ForEachPiece(payloadLength, [&](std::uint32_t offset, std::uint32_t bytes) {
        // Hash each piece as it is, then mask it while it is still in the cache.
        if (!md5.Update(payload + offset, bytes)) return false;
        MaskPayload(bytes, key, payload + offset);
        return true;
    });
    if (!hashed || !md5.Final(header.payloadMd5)) return false;
    WritePackageHeader(header, package);
    return true;
}
