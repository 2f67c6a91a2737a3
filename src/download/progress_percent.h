#pragma once

#include <cstdint>

// The progress-bar position (0 to 100) for nReceived of nTotal bytes, in signed 32-bit integer
// arithmetic: above 100000 bytes the divisor nTotal / 100 is truncated first (so 2499 of 250000
// gives 0), otherwise nReceived * 100 / nTotal. Returns false when nothing is to be sent, which
// is the case for a total of 0 (and for a negative one, which no transfer can have).
bool ProgressPosition(std::int32_t nTotal, std::int32_t nReceived, std::int32_t* pnPosition);

// The percentage that the watchdog reads: dwReceived * 100 / dwTotal in double precision,
// truncated towards zero. dwTotal must not be 0.
std::int32_t StoredPercent(std::uint32_t dwReceived, std::uint32_t dwTotal);
