// The package code on the host's POSIX file back end and OpenSSL's MD5: the cases shared with
// Windows, and a device that refuses every write.
#include "package_shared_tests.h"

namespace packagetest {
namespace {

TEST(DecodePackageFile, FailedWriteGivesFive) {
    if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    TempFolder folder;
    const fs::path input = folder.File("Setup.dat");
    ASSERT_TRUE(WriteFile(input, kGoldenPackage));
    // The output opens; its first write fails.
    EXPECT_EQ(Decode(input, "/dev/full"), kDecodeWriteFailed);
}

}  // namespace
}  // namespace packagetest
