// The check of the installer before its start, on the signed test programs under Wine: the signer
// against the pins, the certificate table, the lowest version, and the file held from the check on.
// Wine does not enforce the chain up to a trusted root, so the pin is what these cases prove.
#include "app/installer_check.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "hook_guards.h"
#include "test_support.h"
#include "trace_recorder.h"

namespace {

using Bytes = std::vector<unsigned char>;

// The pin of a test signer that the build made ("publisher" or "other"), next to the fixtures.
std::string TestSignerPin(const wchar_t* name) {
    const std::wstring fixtures = testsupport::Fixture(L"fixture_recorder");
    const std::wstring pinFile =
        fixtures.substr(0, fixtures.rfind(L'\\')) + L"\\..\\signing\\" + name + L".pin";
    return testsupport::FileText(pinFile);
}

std::uint32_t Get32(const Bytes& b, std::size_t at) {
    return static_cast<std::uint32_t>(b[at] | b[at + 1] << 8 | b[at + 2] << 16 | b[at + 3] << 24);
}
void Put32(Bytes* b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) (*b)[at + i] = static_cast<unsigned char>(v >> (8 * i));
}

// A signed program as someone could change it without touching what its signature covers.
enum class Change { kNone, kCodeByte, kInsideTable, kAfterTable };

void Apply(Change change, Bytes* image) {
    const std::size_t optional = Get32(*image, 0x3C) + 24;
    const bool plus = (*image)[optional] == 0x0B && (*image)[optional + 1] == 0x02;
    const std::size_t security = optional + (plus ? 112 : 96) + 4 * 8;
    const std::size_t table = Get32(*image, security);
    const Bytes extra(16, 0xA5);
    switch (change) {
        case Change::kNone:
            break;
        case Change::kCodeByte:
            (*image)[0x600] ^= 0xFF;  // in the code, which the signature's digest covers
            break;
        case Change::kInsideTable:
            // The entry and the table grow by what is appended: WinVerifyTrust hashes neither.
            image->insert(image->end(), extra.begin(), extra.end());
            Put32(image, table, Get32(*image, table) + 16);
            Put32(image, security + 4, Get32(*image, security + 4) + 16);
            break;
        case Change::kAfterTable:
            image->insert(image->end(), extra.begin(), extra.end());
            break;
    }
}

TEST(CheckInstaller, AcceptsOnlyASoundSignatureByAPinnedKeyAndARecentEnoughVersion) {
    const std::string publisher = TestSignerPin(L"publisher");
    const std::string other = TestSignerPin(L"other");
    ASSERT_EQ(publisher, kInstallerPolicy.szSigners);
    ASSERT_STREQ(kInstallerPolicy.szMinimumVersion, "");
    ASSERT_EQ(other.size(), 64u);
    const std::wstring refused = L"Installer signature refused: ";
    const struct {
        const char* name;
        const wchar_t* fixture;  // null: no file at all
        Change change;
        std::string pins;
        const char* minimum;
        bool bAccepted;
        std::wstring trace;  // the start of the last line traced
    } kCases[] = {
        {"pinned", L"fixture_recorder", Change::kNone, publisher, "", true,
         L"Installer signer pinned: CN=Qerv Test Publisher, O=Qerv Test, C=XX"},
        {"second of two pins", L"fixture_recorder", Change::kNone, other + ";" + publisher, "",
         true, L"Installer signer pinned: CN=Qerv Test Publisher"},
        {"unsigned", L"fixture_recorder_unsigned", Change::kNone, publisher, "", false,
         refused + L"WinVerifyTrust 0x800B0100: "},
        {"changed after signing", L"fixture_recorder", Change::kCodeByte, publisher, "", false,
         refused + L"WinVerifyTrust 0x80096010: "},
        {"data appended inside the certificate table", L"fixture_recorder", Change::kInsideTable,
         publisher, "", false, refused + L"data follows the signature in the certificate table: "},
        {"data appended after the certificate table", L"fixture_recorder", Change::kAfterTable,
         publisher, "", false, refused},
        {"another key", L"fixture_recorder_other", Change::kNone, publisher, "", false,
         refused + L"signer not pinned: CN=Qerv Other Publisher, O=Qerv Test"},
        {"no pins", L"fixture_recorder_unsigned", Change::kNone, "", "", true,
         L"Installer signer not checked: no signer pinned"},
        {"malformed pins", L"fixture_recorder", Change::kNone, publisher + ";", "", false,
         L"Installer signer pins unreadable"},
        {"no file", nullptr, Change::kNone, publisher, "", false, L"Installer not opened: 2: "},
        {"no file, nothing asked", nullptr, Change::kNone, "", "", true,
         L"Installer signer not checked: no signer pinned"},
        {"at the lowest version", L"fixture_versioned", Change::kNone, publisher, "1.2.3.4", true,
         L"Installer signer pinned: "},
        {"above the lowest version", L"fixture_version_partial", Change::kNone, publisher,
         "1.2.3.4", true, L"Installer signer pinned: "},
        {"below the lowest version", L"fixture_versioned", Change::kNone, publisher, "1.2.3.5",
         false, L"Installer version refused: 1.2.3.4 below 1.2.3.5"},
        {"no version, a lowest one asked", L"fixture_recorder", Change::kNone, publisher, "1",
         false, L"Installer version refused: the program has no version resource"},
        {"lowest version, no pins", L"fixture_versioned", Change::kNone, "", "2", false,
         L"Installer version refused: 1.2.3.4 below 2.0.0.0"},
        {"malformed lowest version", L"fixture_versioned", Change::kNone, publisher, "1..2", false,
         L"Installer minimum version unreadable"},
    };
    testsupport::TempDir folder;
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.name);
        const std::wstring installer = folder.File(L"SetupB.exe");
        DeleteFileW(installer.c_str());
        if (c.fixture != nullptr) {
            Bytes bytes;
            ASSERT_TRUE(testsupport::ReadBytes(testsupport::Fixture(c.fixture), &bytes));
            Apply(c.change, &bytes);
            ASSERT_TRUE(testsupport::WriteBytes(installer, bytes));
        }
        testsupport::TraceRecorder traces;
        const InstallerCheck check =
            CheckInstaller(installer, InstallerPolicy{c.pins.c_str(), c.minimum});
        EXPECT_EQ(check.bAccepted, c.bAccepted);
        const std::vector<std::wstring> lines = traces.Lines();
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(lines.back().rfind(c.trace, 0), 0u) << lines.back();
        // The installer stays open from the check on, so that nobody can change it: it can be
        // read and started, but neither written, replaced nor deleted.
        if (!check.file.valid()) continue;
        const HANDLE reader = CreateFileW(installer.c_str(), GENERIC_READ,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                          nullptr, OPEN_EXISTING, 0, nullptr);
        EXPECT_NE(reader, INVALID_HANDLE_VALUE);
        CloseHandle(reader);
        EXPECT_EQ(CreateFileW(installer.c_str(), GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, 0, nullptr),
                  INVALID_HANDLE_VALUE);
        EXPECT_FALSE(DeleteFileW(installer.c_str()));
        EXPECT_FALSE(MoveFileExW(testsupport::Fixture(L"fixture_recorder_unsigned").c_str(),
                                 installer.c_str(),
                                 MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED));
    }
}

// A signature that WinVerifyTrust accepts but whose signer cannot be read proves nothing about
// who signed it: refused as a foreign signer is.
TEST(CheckInstaller, RefusesASoundSignatureWhoseSignerCannotBeRead) {
    testsupport::TempDir folder;
    const std::wstring installer = folder.File(L"SetupB.exe");
    ASSERT_TRUE(testsupport::CopyFixture(L"fixture_recorder", installer));
    const testsupport::SignerUnreadable unreadable;
    testsupport::TraceRecorder traces;
    EXPECT_FALSE(CheckInstaller(installer, kInstallerPolicy).bAccepted);
    EXPECT_EQ(traces.Lines(),
              std::vector<std::wstring>{L"Installer signature refused: signer not pinned: "});
}

}  // namespace
