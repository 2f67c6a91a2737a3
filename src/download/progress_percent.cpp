#include "download/progress_percent.h"

namespace {
constexpr std::int32_t kExactLimit = 100000;
}

bool ProgressPosition(std::int32_t nTotal, std::int32_t nReceived, std::int32_t* pnPosition) {
    if (nTotal <= 0) return false;
    std::int32_t percent = 0;
    if (nTotal > kExactLimit || nReceived > kExactLimit) {
        const std::int32_t divisor = nTotal / 100;
        // A tiny total with a huge received count is far past the end of the bar.
        percent = divisor == 0 ? 100 : nReceived / divisor;
    } else {
        percent = nReceived * 100 / nTotal;
    }
    if (percent > 100) percent = 100;
    if (percent < 0) percent = 0;
    *pnPosition = percent;
    return true;
}

std::int32_t StoredPercent(std::uint32_t dwReceived, std::uint32_t dwTotal) {
    const double percent = dwReceived * 100.0 / dwTotal;
    // Received never exceeds the total; the cap only keeps the conversion in range.
    return percent >= 100.0 ? 100 : static_cast<std::int32_t>(percent);
}
