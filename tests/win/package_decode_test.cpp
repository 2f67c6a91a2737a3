// The package code through CreateFileW, ReadFile, WriteFile and CryptoAPI's MD5 under Wine: the
// cases shared with the host, and the sharing the decoder asks for when it opens the input.
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

}  // namespace
}  // namespace packagetest
