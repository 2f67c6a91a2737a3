// The package code on the host's POSIX file back end and OpenSSL's MD5: the cases shared with
// Windows, and writes that fail part-way.
#include <signal.h>
#include <sys/resource.h>

#include "package_shared_tests.h"
#include "system/file_io.h"

namespace packagetest {
namespace {

// Files of this process can grow to `bytes` and no further while it lives: a write across the
// limit comes back short, and one at it fails, as on a full disk.
class FileSizeLimit {
  public:
    explicit FileSizeLimit(rlim_t bytes) {
        m_oldHandler = signal(SIGXFSZ, SIG_IGN);
        getrlimit(RLIMIT_FSIZE, &m_old);
        rlimit limited = m_old;
        limited.rlim_cur = bytes;
        m_set = setrlimit(RLIMIT_FSIZE, &limited) == 0;
    }
    ~FileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &m_old);
        signal(SIGXFSZ, m_oldHandler);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;
    bool IsSet() const { return m_set; }

  private:
    rlimit m_old;
    sighandler_t m_oldHandler;
    bool m_set;
};

// The write fails part-way through; a sound package then gives 5, a changed one still 6. Either
// way an earlier output stays as it was and nothing is left beside it.
TEST(DecodePackageFile, WriteFailingPartWayLeavesNothingBehind) {
    const Bytes installer = RandomBytes(5 * kPackagePieceBytes, 3);
    const Bytes good = MakePackage(installer, 0x11223344);
    const struct {
        const char* name;
        Bytes package;
        int result;
    } kCases[] = {
        {"sound package", good, kDecodeWriteFailed},
        {"changed payload byte", Changed(good, 28 + 1000, 0x10), kDecodeDigestMismatch},
    };
    const Bytes earlier(60000, 0xEE);
    for (const auto& c : kCases) {
        for (bool hasEarlier : {false, true}) {
            SCOPED_TRACE(std::string(c.name) + (hasEarlier ? ", earlier output" : ""));
            TempFolder folder;
            const fs::path input = folder.File("Setup.dat"), output = folder.File("DeSetup.dat");
            ASSERT_TRUE(WriteFile(input, c.package));
            if (hasEarlier) {
                ASSERT_TRUE(WriteFile(output, earlier));
            }
            {
                const FileSizeLimit limit(2 * kPackagePieceBytes + 100);
                ASSERT_TRUE(limit.IsSet());
                EXPECT_EQ(Decode(input, output), c.result);
            }
            const std::vector<std::string> kept = {"DeSetup.dat", "Setup.dat"};
            EXPECT_EQ(folder.Names(), hasEarlier ? kept : std::vector<std::string>{"Setup.dat"});
            if (hasEarlier) {
                EXPECT_EQ(Contents(output), earlier);
            }
        }
    }
}

}  // namespace
}  // namespace packagetest
