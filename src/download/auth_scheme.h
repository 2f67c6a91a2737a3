#pragma once

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
