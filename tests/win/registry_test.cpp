#include "install/registry_helpers.h"

#include "base/scoped_reg_key.h"

#include <gtest/gtest.h>

#include "registry_guard.h"

#include <cstdint>
#include <string>
#include <vector>

namespace {

// A key of this test's own, removed with everything in it after each test.
constexpr wchar_t kScratchKey[] = L"SOFTWARE\\QervRegistryTest";

using testsupport::Bytes;
using testsupport::TextBytes;

Bytes NumberBytes(std::uint64_t value, std::size_t size) {
    const BYTE* p = reinterpret_cast<const BYTE*>(&value);
    return Bytes(p, p + size);
}

class RegistryTest : public ::testing::Test {
  protected:
    void SetUp() override { RemoveScratchKey(); }
    void TearDown() override { RemoveScratchKey(); }
    static void RemoveScratchKey() {
        for (REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY}) {
            ScopedRegKey key;
            if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kScratchKey, 0, KEY_ALL_ACCESS | view,
                              key.receive()) == ERROR_SUCCESS) {
                RegDeleteTreeW(key.get(), nullptr);
            }
            RegDeleteKeyExW(HKEY_LOCAL_MACHINE, kScratchKey, view, 0);
        }
    }
};

// The buffer handed to RegReadString sits between guard characters that must stay untouched.
struct GuardedBuffer {
    static constexpr std::size_t kGuard = 16;
    static constexpr wchar_t kMark = 0xBEEF;
    explicit GuardedBuffer(std::uint32_t capacity)
        : nCapacity(capacity), storage(capacity + 2 * kGuard, kMark) {}
    wchar_t* data() { return storage.data() + kGuard; }
    bool GuardsIntact() const {
        for (std::size_t i = 0; i < kGuard; ++i) {
            if (storage[i] != kMark || storage[kGuard + nCapacity + i] != kMark) return false;
        }
        return true;
    }
    std::uint32_t nCapacity;
    std::vector<wchar_t> storage;
};

TEST_F(RegistryTest, RegReadStringReadsOnlyWholeRegSzStrings) {
    struct Case {
        const char* szLabel;
        DWORD type;
        Bytes data;
        std::uint32_t capacity;
        std::wstring expected;
    };
    const std::wstring path259(259, L'p');
    const Case kCases[] = {
        {"259 characters", REG_SZ, TextBytes(path259, true), 260, path259},
        {"260 characters", REG_SZ, TextBytes(std::wstring(260, L'p'), true), 260, L""},
        {"empty string", REG_SZ, TextBytes(L"", true), 260, L""},
        {"no bytes at all", REG_SZ, Bytes(), 260, L""},
        {"non-ASCII", REG_SZ, TextBytes(L"C:\\Qerv\\T\u1EA3i", true), 260, L"C:\\Qerv\\T\u1EA3i"},
        {"unterminated, shorter than buffer", REG_SZ, TextBytes(L"ABCDEFG", false), 8, L"ABCDEFG"},
        {"terminated, fills buffer", REG_SZ, TextBytes(L"ABCDEFG", true), 8, L"ABCDEFG"},
        {"unterminated, fills buffer", REG_SZ, TextBytes(L"ABCDEFGH", false), 8, L""},
        {"odd byte count", REG_SZ, Bytes{'A', 0, 'B', 0, 'C'}, 8, L"AB"},
        {"REG_EXPAND_SZ", REG_EXPAND_SZ, TextBytes(L"%TEMP%\\x", true), 260, L""},
        {"REG_MULTI_SZ", REG_MULTI_SZ, TextBytes(std::wstring(L"a\0", 2), true), 260, L""},
        {"REG_BINARY", REG_BINARY, TextBytes(L"C:\\Qerv", true), 260, L""},
        {"REG_DWORD", REG_DWORD, NumberBytes(1, 4), 260, L""},
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.szLabel);
        ASSERT_TRUE(testsupport::WriteMachineValue(kScratchKey, kInstallDirValue, c.type, c.data));
        GuardedBuffer buffer(c.capacity);
        const int length = RegReadString(kScratchKey, kInstallDirValue, buffer.data(), c.capacity);
        EXPECT_EQ(length, static_cast<int>(c.expected.size()));
        EXPECT_TRUE(buffer.GuardsIntact());
        EXPECT_EQ(std::wstring(buffer.data()), c.expected);
    }
}

// A missing key is made and gives zero; unusable buffers are refused; only the 32-bit view is
// read.
TEST_F(RegistryTest, RegReadStringEdges) {
    wchar_t buffer[16];
    EXPECT_EQ(RegReadString(kScratchKey, kProductNameValue, buffer, 16), 0);
    EXPECT_EQ(buffer[0], L'\0');
    EXPECT_TRUE(testsupport::MachineKeyExists(kScratchKey));
    EXPECT_EQ(RegReadString(kScratchKey, kProductNameValue, buffer, 16), 0);

    ASSERT_TRUE(testsupport::WriteMachineValue(kScratchKey, kProductNameValue, REG_SZ,
                                               TextBytes(L"", true)));
    GuardedBuffer empty(0);
    EXPECT_EQ(RegReadString(kScratchKey, kProductNameValue, empty.data(), 0), 0);
    EXPECT_TRUE(empty.GuardsIntact());
    EXPECT_EQ(RegReadString(kScratchKey, kProductNameValue, nullptr, 260), 0);

    ASSERT_TRUE(testsupport::WriteMachineValue(kScratchKey, kProductNameValue, REG_SZ,
                                               TextBytes(L"32", true), KEY_WOW64_32KEY));
    ASSERT_TRUE(testsupport::WriteMachineValue(kScratchKey, kInstallDirValue, REG_SZ,
                                               TextBytes(L"64", true), KEY_WOW64_64KEY));
    EXPECT_EQ(RegReadString(kScratchKey, kProductNameValue, buffer, 16), 2);
    EXPECT_STREQ(buffer, L"32");
    EXPECT_EQ(RegReadString(kScratchKey, kInstallDirValue, buffer, 16), 0);
}

TEST_F(RegistryTest, ReadLanguageFlagTakesOnlyA4ByteDword) {
    testsupport::RegistryValueGuard saved(kQervKey, kLanguageValue);
    struct Case {
        const char* szLabel;
        bool bStored;
        DWORD type;
        Bytes data;
        int expectedResult;
        std::uint32_t expectedValue;
    };
    constexpr std::uint32_t kUntouched = 0xDEADBEEF;
    const Case kCases[] = {
        {"absent", false, REG_NONE, Bytes(), 0, kUntouched},
        {"DWORD 0", true, REG_DWORD, NumberBytes(0, 4), 1, 0},
        {"DWORD 1", true, REG_DWORD, NumberBytes(1, 4), 1, 1},
        {"DWORD 2", true, REG_DWORD, NumberBytes(2, 4), 1, 2},
        {"REG_SZ", true, REG_SZ, TextBytes(L"1", true), 0, kUntouched},
        {"REG_QWORD", true, REG_QWORD, NumberBytes(1, 8), 0, kUntouched},
        {"REG_BINARY of 4 bytes", true, REG_BINARY, NumberBytes(1, 4), 0, kUntouched},
        {"REG_DWORD of 2 bytes", true, REG_DWORD, NumberBytes(1, 2), 0, kUntouched},
        {"REG_DWORD of 8 bytes", true, REG_DWORD, NumberBytes(1, 8), 0, kUntouched},
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.szLabel);
        testsupport::DeleteMachineValue(kQervKey, kLanguageValue);
        if (c.bStored) {
            ASSERT_TRUE(testsupport::WriteMachineValue(kQervKey, kLanguageValue, c.type, c.data));
        }
        std::uint32_t value = kUntouched;
        EXPECT_EQ(ReadLanguageFlag(&value), c.expectedResult);
        EXPECT_EQ(value, c.expectedValue);
    }
    EXPECT_EQ(ReadLanguageFlag(nullptr), 0);
}

TEST_F(RegistryTest, RegisterRunOnceKeepsTheLaterPath) {
    testsupport::RegistryValueGuard saved(kRunOnceKey, kRunOnceValue);
    const std::wstring later = L"C:\\Users\\T\u1EA3i v\u1EC1\\QervSetupOnline.exe";
    ASSERT_EQ(RegisterRunOnce(L"C:\\first\\QervSetupOnline.exe"), 1);
    ASSERT_EQ(RegisterRunOnce(later.c_str()), 1);
    // Quoted, so that a space cannot split it; one terminator: the whole value is the path.
    EXPECT_EQ(testsupport::ReadMachineText(kRunOnceKey, kRunOnceValue),
              L'"' + later + L'"' + L'\0');
    EXPECT_EQ(RegisterRunOnce(nullptr), 0);
}

}  // namespace
