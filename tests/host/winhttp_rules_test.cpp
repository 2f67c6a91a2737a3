#include "download/winhttp_rules.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

// ChooseAuthScheme's preference: Negotiate, NTLM, Passport, Digest, else Basic.

namespace {

struct SchemeCase {
    std::uint32_t offered;
    std::uint32_t chosen;
};

class ChooseAuthSchemeCases : public ::testing::TestWithParam<SchemeCase> {};

TEST_P(ChooseAuthSchemeCases, PicksTheStrongestOffered) {
    EXPECT_EQ(ChooseAuthScheme(GetParam().offered), GetParam().chosen);
}

INSTANTIATE_TEST_SUITE_P(
    Masks, ChooseAuthSchemeCases,
    ::testing::Values(SchemeCase{kAuthSchemeBasic, kAuthSchemeBasic},
                      SchemeCase{kAuthSchemeNtlm, kAuthSchemeNtlm},
                      SchemeCase{kAuthSchemePassport, kAuthSchemePassport},
                      SchemeCase{kAuthSchemeDigest, kAuthSchemeDigest},
                      SchemeCase{kAuthSchemeNegotiate, kAuthSchemeNegotiate},
                      SchemeCase{0x1F, kAuthSchemeNegotiate},
                      SchemeCase{kAuthSchemeNtlm | kAuthSchemePassport | kAuthSchemeDigest,
                                 kAuthSchemeNtlm},
                      SchemeCase{kAuthSchemePassport | kAuthSchemeDigest, kAuthSchemePassport},
                      SchemeCase{kAuthSchemeBasic | kAuthSchemeDigest, kAuthSchemeDigest},
                      // Basic is the answer even when it is not offered: never 0.
                      SchemeCase{0, kAuthSchemeBasic}, SchemeCase{0xFFFFFFE0u, kAuthSchemeBasic}));

}  // namespace

// NormalizeUrl: which URLs get "http://" in front, and the 1000-character cut that keeps every
// result inside its 1024-character buffer.

namespace {

// The exact buffer size, so that the sanitizers see any write past it.
std::wstring Normalize(const wchar_t* url) {
    std::vector<wchar_t> buffer(kUrlBufferChars, L'#');
    NormalizeUrl(buffer.data(), url);
    return std::wstring(buffer.data());
}

struct UrlCase {
    const wchar_t* url;
    const wchar_t* expected;
};

class NormalizeUrlCases : public ::testing::TestWithParam<UrlCase> {};

TEST_P(NormalizeUrlCases, PrefixesOnlyUrlsWithoutAnHttpScheme) {
    EXPECT_EQ(Normalize(GetParam().url), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Schemes, NormalizeUrlCases,
    ::testing::Values(
        UrlCase{L"127.0.0.1/qerv/Setup.dat", L"http://127.0.0.1/qerv/Setup.dat"},
        UrlCase{L"http://h/a?b=c", L"http://h/a?b=c"}, UrlCase{L"HTTP://h/a", L"HTTP://h/a"},
        UrlCase{L"https://h/a", L"https://h/a"}, UrlCase{L"HtTpS://h/a", L"HtTpS://h/a"},
        UrlCase{L"ftp://h/a", L"http://ftp://h/a"}, UrlCase{L"http:/h/a", L"http://http:/h/a"},
        UrlCase{L"httpx://h", L"http://httpx://h"}, UrlCase{L"http", L"http://http"},
        UrlCase{L"", L"http://"}, UrlCase{nullptr, L"http://"}));

TEST(NormalizeUrl, KeepsAtMostAThousandCharactersOfTheUrl) {
    const std::wstring bare(1500, L'a');
    EXPECT_EQ(Normalize(bare.c_str()), L"http://" + std::wstring(1000, L'a'));

    const std::wstring withScheme = L"https://" + std::wstring(1500, L'b');
    EXPECT_EQ(Normalize(withScheme.c_str()), withScheme.substr(0, 1000));

    const std::wstring exact(1000, L'c');
    EXPECT_EQ(Normalize(exact.c_str()), L"http://" + exact);
}

}  // namespace

// The two percentage rules of the download: the progress-bar position (signed integers, the
// divisor truncated first above 100000 bytes) and the stored percentage (double precision).

namespace {

struct PositionCase {
    std::int32_t total;
    std::int32_t received;
    std::int32_t position;  // -1: nothing is sent
};

class ProgressPositionCases : public ::testing::TestWithParam<PositionCase> {};

TEST_P(ProgressPositionCases, FollowsTheIntegerRule) {
    std::int32_t position = -1;
    const bool sent = ProgressPosition(GetParam().total, GetParam().received, &position);
    EXPECT_EQ(sent, GetParam().position >= 0);
    if (sent) EXPECT_EQ(position, GetParam().position);
}

constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();

INSTANTIATE_TEST_SUITE_P(
    Sizes, ProgressPositionCases,
    ::testing::Values(PositionCase{0, 0, -1}, PositionCase{0, 500, -1}, PositionCase{-1, 5, -1},
                      PositionCase{3, 1, 33}, PositionCase{3, 2, 66}, PositionCase{100, 100, 100},
                      PositionCase{100000, 99999, 99}, PositionCase{100000, 100000, 100},
                      // Above 100000 the divisor is truncated: 2499 / 2500.
                      PositionCase{250000, 2499, 0}, PositionCase{250000, 2500, 1},
                      PositionCase{250099, 250099, 100}, PositionCase{100001, 50000, 50},
                      PositionCase{150, 150000, 100}, PositionCase{50, 200000, 100},
                      PositionCase{kMax, kMax, 100}, PositionCase{kMax, 0, 0}));

struct StoredCase {
    std::uint32_t received;
    std::uint32_t total;
    std::int32_t percent;
};

class StoredPercentCases : public ::testing::TestWithParam<StoredCase> {};

TEST_P(StoredPercentCases, TruncatesTheExactRatio) {
    EXPECT_EQ(StoredPercent(GetParam().received, GetParam().total), GetParam().percent);
}

constexpr std::uint32_t kMaxU = std::numeric_limits<std::uint32_t>::max();

INSTANTIATE_TEST_SUITE_P(
    Sizes, StoredPercentCases,
    ::testing::Values(StoredCase{0, 10, 0}, StoredCase{1, 3, 33}, StoredCase{2, 3, 66},
                      StoredCase{2499, 250000, 0}, StoredCase{2500, 250000, 1},
                      StoredCase{249999, 250000, 99}, StoredCase{250000, 250000, 100},
                      // No 32-bit overflow in received * 100.
                      StoredCase{kMaxU / 2, kMaxU, 49}, StoredCase{kMaxU - 1, kMaxU, 99},
                      StoredCase{kMaxU, kMaxU, 100}));

}  // namespace
