// The package code through CreateFileW, ReadFile, WriteFile and CryptoAPI's MD5 under Wine: the
// cases shared with the host, the sharing the decoder asks for when it opens the input, and an
// earlier output that Windows will not let it replace.
#include <windows.h>

#include "../host/package_shared_tests.h"

namespace packagetest {
namespace {

TEST(DecodePackageFile, InputOpenForWritingElsewhereIsNotOpened) {
    TempFolder folder;
    const fs::path input = folder.File("Setup.dat");
    const fs::path output = folder.File("DeSetup.dat");
    ASSERT_TRUE(WriteFile(input, kGoldenPackage));
    // The decoder shares its input for reading only, so a writer elsewhere keeps it out.
    HANDLE writer =
        CreateFileW(input.wstring().c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(writer, INVALID_HANDLE_VALUE);
    EXPECT_EQ(Decode(input, output), kDecodeBadArgument);
    CloseHandle(writer);
    EXPECT_EQ(Decode(input, output), kDecodeOk);
}

// An earlier output open elsewhere without its deletion shared cannot be replaced: 5, the earlier
// output as it was, and nothing left beside it.
TEST(DecodePackageFile, OutputOpenElsewhereIsKept) {
    TempFolder folder;
    const fs::path input = folder.File("Setup.dat"), output = folder.File("DeSetup.dat");
    const Bytes earlier(60000, 0xEE);
    ASSERT_TRUE(WriteFile(input, kGoldenPackage));
    ASSERT_TRUE(WriteFile(output, earlier));
    HANDLE holder = CreateFileW(output.wstring().c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    EXPECT_EQ(Decode(input, output), kDecodeWriteFailed);
    CloseHandle(holder);
    EXPECT_EQ(Contents(output), earlier);
    EXPECT_EQ(folder.Names(), (std::vector<std::string>{"DeSetup.dat", "Setup.dat"}));
}

}  // namespace
}  // namespace packagetest
