#include "install/file_version.h"

#include "test_support.h"

#include <gtest/gtest.h>

#include <cwchar>
#include <string>

namespace {

using testsupport::Fixture;

// Fills every field with a mark, so that a field left uncleared shows.
FileVersionStrings MarkedStrings() {
    FileVersionStrings strings;
    for (wchar_t* field : {strings.szCompanyName, strings.szFileDescription, strings.szFileVersion,
                           strings.szLegalCopyright, strings.szProductName}) {
        wmemset(field, L'#', kVersionFieldChars - 1);
        field[kVersionFieldChars - 1] = L'\0';
    }
    return strings;
}

TEST(ReadFileVersionStrings, ReadsTheStringsOfTheFirstTranslation) {
    const struct {
        const wchar_t* szFixture;
        std::wstring companyName, fileDescription, fileVersion, legalCopyright, productName;
    } kCases[] = {
        {L"fixture_versioned", L"Fixture Company", L"Fixture with every version string", L"1.2.3.4",
         L"Copyright (C) Fixture Authors", L"Fixture Product"},
        // No "LegalCopyright"; a 259-character text fits its field, a 260-character one does not.
        {L"fixture_version_partial", std::wstring(259, L'C'), L"", L"9.0.0.1", L"",
         L"S\u1EA3n ph\u1EA9m"},
    };
    for (const auto& c : kCases) {
        SCOPED_TRACE(testing::Message() << c.szFixture);
        FileVersionStrings strings = MarkedStrings();
        ASSERT_EQ(ReadFileVersionStrings(Fixture(c.szFixture).c_str(), &strings), 1);
        EXPECT_EQ(std::wstring(strings.szCompanyName), c.companyName);
        EXPECT_EQ(std::wstring(strings.szFileDescription), c.fileDescription);
        EXPECT_EQ(std::wstring(strings.szFileVersion), c.fileVersion);
        EXPECT_EQ(std::wstring(strings.szLegalCopyright), c.legalCopyright);
        EXPECT_EQ(std::wstring(strings.szProductName), c.productName);
    }
}

TEST(ReadFileVersionStrings, FailsWithoutAVersionResourceAndClearsTheOutput) {
    for (const std::wstring& path : {Fixture(L"fixture_recorder"), Fixture(L"no_such_fixture")}) {
        FileVersionStrings strings = MarkedStrings();
        EXPECT_EQ(ReadFileVersionStrings(path.c_str(), &strings), 0) << path;
        EXPECT_EQ(strings.szCompanyName[0], L'\0');
        EXPECT_EQ(strings.szProductName[kVersionFieldChars - 2], L'\0');
    }
    FileVersionStrings strings = MarkedStrings();
    EXPECT_EQ(ReadFileVersionStrings(nullptr, &strings), 0);
    EXPECT_EQ(strings.szFileVersion[0], L'\0');
    EXPECT_EQ(ReadFileVersionStrings(Fixture(L"fixture_versioned").c_str(), nullptr), 0);
}

}  // namespace
