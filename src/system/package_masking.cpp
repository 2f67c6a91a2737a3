#include "system/package_masking.h"

#include <cstring>

#if !defined(__BYTE_ORDER__) || __BYTE_ORDER__ != __ORDER_LITTLE_ENDIAN__
#error "the lane layout below assumes a little-endian machine"
#endif

namespace {

// Sixteen bytes, and the same bits as eight 16-bit halves; the compiler maps both onto vector
// registers where the target has them and onto plain integers elsewhere.
typedef uint8_t Bytes16 __attribute__((vector_size(16)));
typedef uint16_t Halves8 __attribute__((vector_size(16)));

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
    Bytes16 xor_with;
    Bytes16 add;
    Halves8 even_multiplier;  // 1 << rotation, for bytes 0, 2, 4, ...
    Halves8 odd_multiplier;   // 1 << rotation, for bytes 1, 3, 5, ...
};

void MakePlan(uint32_t key, Direction direction, BlockPlan* plan) {
    const bool unmask = direction == Direction::kUnmask;
    for (int lane = 0; lane < 16; ++lane) {
        const uint8_t k = static_cast<uint8_t>(key >> (8 * (lane % 4)));
        uint8_t xor_with = 0;
        uint8_t add = 0;
        int rotation = 0;
        switch (kOperations[lane % 4][(lane / 4) % 4]) {
            case Op::kAdd:
                add = unmask ? k : static_cast<uint8_t>(0u - k);
                break;
            case Op::kXor:
                xor_with = k;
                break;
            case Op::kNot:
                xor_with = 0xFF;
                break;
            case Op::kRotate:
                rotation = unmask ? k % 8 : (8 - k % 8) % 8;
                break;
        }
        plan->xor_with[lane] = xor_with;
        plan->add[lane] = add;
        const uint16_t multiplier = static_cast<uint16_t>(1u << rotation);
        if (lane % 2 == 0) {
            plan->even_multiplier[lane / 2] = multiplier;
        } else {
            plan->odd_multiplier[lane / 2] = multiplier;
        }
    }
}

inline void ApplyBlock(const BlockPlan& plan, unsigned char* block) {
    Bytes16 bytes;
    std::memcpy(&bytes, block, sizeof bytes);
    bytes = (bytes ^ plan.xor_with) + plan.add;
    Halves8 halves;
    std::memcpy(&halves, &bytes, sizeof halves);
    // A byte b times 2^r in a 16-bit half holds b << r in its low byte and b >> (8 - r) in its
    // high byte; together they are b rotated left by r.
    const Halves8 even = (halves & 0xFF) * plan.even_multiplier;
    const Halves8 odd = (halves >> 8) * plan.odd_multiplier;
    halves = ((even | (even >> 8)) & 0xFF) | ((odd | (odd >> 8)) << 8);
    std::memcpy(block, &halves, sizeof halves);
}

void ApplyPlan(uint32_t length, uint32_t key, Direction direction, unsigned char* payload) {
    if (!payload || length == 0) return;
    BlockPlan plan;
    MakePlan(key, direction, &plan);
    const uint32_t whole = length & ~15u;
    for (uint32_t offset = 0; offset < whole; offset += 16) ApplyBlock(plan, payload + offset);
    if (const uint32_t rest = length - whole) {
        unsigned char block[16] = {};
        std::memcpy(block, payload + whole, rest);
        ApplyBlock(plan, block);
        std::memcpy(payload + whole, block, rest);
    }
}

}  // namespace

void UnmaskPayload(uint32_t length, uint32_t key, unsigned char* payload) {
    ApplyPlan(length, key, Direction::kUnmask, payload);
}

void MaskPayload(uint32_t length, uint32_t key, unsigned char* payload) {
    ApplyPlan(length, key, Direction::kMask, payload);
}
