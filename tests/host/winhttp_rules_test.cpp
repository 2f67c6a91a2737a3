#include "download/winhttp_rules.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

namespace {

// WinHTTP's numbers: 1 Basic, 2 NTLM, 4 Passport, 8 Digest, 16 Negotiate.
TEST(ChooseAuthScheme, PicksTheStrongestOfferedAndNeverZero) {
    const std::uint32_t kCases[][2] = {
        {1, 1},         {2, 2},     {4, 4},     {8, 8}, {16, 16},         {0x1F, 16},
        {2 | 4 | 8, 2}, {4 | 8, 4}, {1 | 8, 8}, {0, 1}, {0xFFFFFFE0u, 1},
    };
    for (const auto& c : kCases) EXPECT_EQ(ChooseAuthScheme(c[0]), c[1]) << "offered " << c[0];
}

// Written into a buffer of exactly kUrlBufferChars, so that the sanitizers see any overrun.
std::wstring Normalize(const wchar_t* url) {
    std::vector<wchar_t> buffer(kUrlBufferChars, L'#');
    NormalizeUrl(buffer.data(), url);
    return std::wstring(buffer.data());
}

TEST(NormalizeUrl, PrefixesUrlsWithoutAnHttpSchemeAndKeepsAThousandCharacters) {
    const wchar_t* const kCases[][2] = {
        {L"127.0.0.1/qerv/Setup.dat", L"http://127.0.0.1/qerv/Setup.dat"},
        {L"http://h/a?b=c", L"http://h/a?b=c"},
        {L"HTTP://h/a", L"HTTP://h/a"},
        {L"https://h/a", L"https://h/a"},
        {L"HtTpS://h/a", L"HtTpS://h/a"},
        {L"ftp://h/a", L"http://ftp://h/a"},
        {L"http:/h/a", L"http://http:/h/a"},
        {L"httpx://h", L"http://httpx://h"},
        {L"http", L"http://http"},
        {L"", L"http://"},
        {nullptr, L"http://"},
    };
    for (const auto& c : kCases) EXPECT_EQ(Normalize(c[0]), c[1]) << (c[0] ? c[0] : L"null");
    const std::wstring bare(1500, L'a'), https = L"https://" + std::wstring(1500, L'b');
    EXPECT_EQ(Normalize(bare.c_str()), L"http://" + bare.substr(0, 1000));
    EXPECT_EQ(Normalize(https.c_str()), https.substr(0, 1000));
    EXPECT_EQ(Normalize(bare.substr(0, 1000).c_str()), L"http://" + bare.substr(0, 1000));
}

constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();

// The progress-bar position: signed integers, the divisor truncated first above 100000 bytes.
TEST(ProgressPosition, FollowsTheIntegerRule) {
    const std::int32_t kCases[][3] = {
        // total, received, position (-1: nothing is sent)
        {0, 0, -1},         {0, 500, -1},      {-1, 5, -1},           {3, 1, 33},
        {3, 2, 66},         {100, 100, 100},   {100000, 99999, 99},   {100000, 100000, 100},
        {250000, 2499, 0},  {250000, 2500, 1}, {250099, 250099, 100}, {100001, 50000, 50},
        {150, 150000, 100}, {50, 200000, 100}, {kMax, kMax, 100},     {kMax, 0, 0},
    };
    for (const auto& c : kCases) {
        std::int32_t position = -1;
        EXPECT_EQ(ProgressPosition(c[0], c[1], &position), c[2] >= 0) << c[0] << " " << c[1];
        if (c[2] >= 0) {
            EXPECT_EQ(position, c[2]) << c[0] << " " << c[1];
        }
    }
}

// The stored percentage: the exact ratio truncated, with no 32-bit overflow in received * 100.
TEST(StoredPercent, TruncatesTheExactRatio) {
    const std::uint32_t kCases[][3] = {
        {0, 10, 0},
        {1, 3, 33},
        {2, 3, 66},
        {2499, 250000, 0},
        {2500, 250000, 1},
        {249999, 250000, 99},
        {250000, 250000, 100},
    };
    for (const auto& c : kCases) {
        EXPECT_EQ(StoredPercent(c[0], c[1]), static_cast<std::int32_t>(c[2]))
            << c[0] << "/" << c[1];
    }
    EXPECT_EQ(StoredPercent(0x7FFFFFFF, 0xFFFFFFFF), 49);
    EXPECT_EQ(StoredPercent(0xFFFFFFFE, 0xFFFFFFFF), 99);
    EXPECT_EQ(StoredPercent(0xFFFFFFFF, 0xFFFFFFFF), 100);
}

}  // namespace
