#pragma once

// The rules of the WinHTTP download that need no Windows: the authentication scheme to answer a
// challenge with, the URL as the download opens it, and the percentages it shows and watches.
#include <cstddef>
#include <cstdint>

// Authentication schemes as WinHTTP numbers them (WINHTTP_AUTH_SCHEME_*).
constexpr std::uint32_t kAuthSchemeBasic = 1;
constexpr std::uint32_t kAuthSchemeNtlm = 2;
constexpr std::uint32_t kAuthSchemePassport = 4;
constexpr std::uint32_t kAuthSchemeDigest = 8;
constexpr std::uint32_t kAuthSchemeNegotiate = 16;

// The scheme to answer a challenge with, from the mask the peer offers: Negotiate, NTLM,
// Passport, Digest, else Basic (even when Basic is not offered, so the result is never 0).
std::uint32_t ChooseAuthScheme(std::uint32_t dwSupportedSchemes);

// Work buffers of the download (normalised URL, host name), in wide characters.
constexpr std::size_t kUrlBufferChars = 1024;
// At most this much of a caller's URL is kept, so "http://" and the URL always fit.
constexpr std::size_t kUrlMaxCopiedChars = 1000;

// Writes szUrl into szDest (kUrlBufferChars wide characters), with "http://" put in front
// unless it already begins with "http://" or "https://" in any letter case. At most
// kUrlMaxCopiedChars characters of szUrl are copied; a null szUrl counts as empty.
void NormalizeUrl(wchar_t* szDest, const wchar_t* szUrl);

// The progress-bar position (0 to 100) for nReceived of nTotal bytes, in signed 32-bit integer
// arithmetic: above 100000 bytes the divisor nTotal / 100 is truncated first (so 2499 of 250000
// gives 0), otherwise nReceived * 100 / nTotal. Returns false when nothing is to be sent, which
// is the case for a total of 0 (and for a negative one, which no transfer can have).
bool ProgressPosition(std::int32_t nTotal, std::int32_t nReceived, std::int32_t* pnPosition);

// The percentage that the watchdog reads: dwReceived * 100 / dwTotal in double precision,
// truncated towards zero. dwTotal must not be 0.
std::int32_t StoredPercent(std::uint32_t dwReceived, std::uint32_t dwTotal);
