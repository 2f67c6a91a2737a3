// The thread of one download attempt, against the scripted WinHTTP and a scripted libcurl path.
#include <gtest/gtest.h>

#include "attempt_rig.h"
#include "download/winhttp_rules.h"

namespace {

using namespace testsupport;

const std::string kBody = Pattern(3 * 4096);

// The thread runs libcurl into the attempt's own file and, when that fails, WinHTTP of the
// attempt's type into the same file. The launcher takes a finished file; a thread that ends after
// the launcher gave up, or fails, removes it.
TEST(DownloadThread, RunsLibcurlThenWinHttpOfItsTypeIntoTheAttemptsOwnFile) {
    // published: a download object exists; curl: libcurl's result.
    const auto check = [](const char* name, bool published, int curl, bool abandoned, DWORD type,
                          std::vector<FakeResponse> responses, LONG result, LONG curlPhase,
                          const std::string& ownFile, const Calls& sessions) {
        SCOPED_TRACE(name);
        SleepRecorder pauses;
        Rig rig;
        rig.curl.result = curl;
        rig.curl.body = kBody;
        rig.scripted.fake.responses = responses;
        DownloadAttemptRef attempt = rig.RunThread(type, abandoned, published);
        ASSERT_TRUE(attempt);
        EXPECT_EQ(attempt->nResult.load(), result);
        EXPECT_EQ(attempt->bCurlPhase.load(), curlPhase);
        EXPECT_EQ(attempt->IsFinished(), !abandoned);
        EXPECT_EQ(FileText(attempt->szOwnFile()), ownFile);
        EXPECT_FALSE(FileExists(rig.target));
        EXPECT_EQ(rig.curl.calls,
                  published ? Calls{L"- " + std::wstring(attempt->szOwnFile())} : Calls{});
        EXPECT_EQ(Starting(rig.scripted.fake.calls, {L"Open"}), sessions);
        EXPECT_EQ(rig.traces.Lines(), Calls{L"Start DownloadThread"});
    };
    check("NoDownloadObject", false, 1, false, 1, {}, 0, 1, "(missing)", {});
    check("LibcurlSucceeds", true, 1, false, 1, {}, 1, 1, kBody, {});
    check("LibcurlSucceedsAfterTheLauncherGaveUp", true, 1, true, 1, {}, 1, 1, "(missing)", {});
    check("WinHttpOfTheSameType", true, -1, false, 2, {Ok(kBody)}, 1, 0, kBody, {L"Open 0 - -"});
    check("BothFail", true, -1, false, 1, {Ok(kBody, 2 * 3 * 4096)}, 0, 0, "(missing)",
          {L"Open 1 - -"});
}

// The libcurl path gets a proxy only for the Internet Explorer type: the static proxy list of the
// settings, or the empty text (no proxy) when there is none to pass on.
TEST(DownloadThread, LibcurlGetsTheIEStaticProxyForTheIEType) {
    const auto check = [](DWORD type, std::optional<FakeIEConfig> settings,
                          const std::wstring& proxy) {
        SCOPED_TRACE(::testing::Message() << type << " " << settings.has_value());
        Rig rig;
        rig.curl.result = 1;
        rig.scripted.fake.ieConfig = settings;
        const DownloadAttemptRef attempt = rig.RunThread(type);
        ASSERT_TRUE(attempt);
        EXPECT_EQ(rig.curl.calls, Calls{proxy + L" " + attempt->szOwnFile()});
    };
    const std::wstring list = L"http=http://127.0.0.1:3128;https=https://127.0.0.1:3129";
    const std::wstring longest = L"127.0.0.1:3128;" + std::wstring(255 - 15, L'x');
    for (const DWORD type : {0u, 1u, 2u}) check(type, StaticProxy(list), L"-");
    check(3, StaticProxy(list), list);
    check(3, StaticProxy(longest), longest);
    check(3, StaticProxy(longest + L"x"), L"");
    check(3, FakeIEConfig{}, L"");
    check(3, std::nullopt, L"");
}

}  // namespace
