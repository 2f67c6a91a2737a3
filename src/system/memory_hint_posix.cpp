#include "system/memory_hint.h"

#include <sys/mman.h>

#include <cstdint>

// Filling 200 MiB of fresh memory in 4 KiB pages costs some fifty thousand page faults, a sizeable
// part of a decode; huge pages cut that to about a hundred. Only whole 2 MiB stretches qualify.
void HintLargeBuffer(void* data, size_t bytes) {
#ifdef MADV_HUGEPAGE
    constexpr uintptr_t kHugePage = uintptr_t{2} << 20;
    const uintptr_t start = (reinterpret_cast<uintptr_t>(data) + kHugePage - 1) & ~(kHugePage - 1);
    const uintptr_t end = (reinterpret_cast<uintptr_t>(data) + bytes) & ~(kHugePage - 1);
    if (end > start) madvise(reinterpret_cast<void*>(start), end - start, MADV_HUGEPAGE);
#else
    (void)data;
    (void)bytes;
#endif
}
