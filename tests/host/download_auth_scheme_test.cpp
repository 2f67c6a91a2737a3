// ChooseAuthScheme's preference: Negotiate, NTLM, Passport, Digest, else Basic.
#include <gtest/gtest.h>

#include "download/auth_scheme.h"

namespace {

struct Case {
    std::uint32_t offered;
    std::uint32_t chosen;
};

class ChooseAuthSchemeCases : public ::testing::TestWithParam<Case> {};

TEST_P(ChooseAuthSchemeCases, PicksTheStrongestOffered) {
    EXPECT_EQ(ChooseAuthScheme(GetParam().offered), GetParam().chosen);
}

INSTANTIATE_TEST_SUITE_P(
    Masks, ChooseAuthSchemeCases,
    ::testing::Values(
        Case{kAuthSchemeBasic, kAuthSchemeBasic}, Case{kAuthSchemeNtlm, kAuthSchemeNtlm},
        Case{kAuthSchemePassport, kAuthSchemePassport}, Case{kAuthSchemeDigest, kAuthSchemeDigest},
        Case{kAuthSchemeNegotiate, kAuthSchemeNegotiate}, Case{0x1F, kAuthSchemeNegotiate},
        Case{kAuthSchemeNtlm | kAuthSchemePassport | kAuthSchemeDigest, kAuthSchemeNtlm},
        Case{kAuthSchemePassport | kAuthSchemeDigest, kAuthSchemePassport},
        Case{kAuthSchemeBasic | kAuthSchemeDigest, kAuthSchemeDigest},
        // Basic is the answer even when it is not offered: never 0.
        Case{0, kAuthSchemeBasic}, Case{0xFFFFFFE0u, kAuthSchemeBasic}));

}  // namespace
