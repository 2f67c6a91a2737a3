// SafeDownloadFile through thousands of random exchanges with the scripted WinHTTP: seeded
// sequences of statuses, challenges, resend requests, failed calls, availability answers, chunk
// sizes, lengths that lie, ranges that fit or not, and cancels at any send or read. Whatever the
// exchange, the call must give one of its defined outcomes, close every handle it opened, claim
// no byte that is not in its file, end within its resend and challenge caps, and deliver the
// body exactly when it reports success. QERV_RANDOM_SEED replays another seed; a failure names
// the exchange's own seed.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "download/resume_point.h"
#include "download/winhttp_rules.h"
#include "download_scenario.h"
#include "system/package_format.h"

namespace {

using namespace testsupport;

constexpr std::uint32_t kDefaultSeed = 20240521;
constexpr int kExchanges = 2000;
// What the request and authentication loop promises: ten resends and ten challenges at most.
constexpr int kMaxSends = 1 + 10 + 10;
constexpr unsigned kAvailabilityPauseMs = 3000;
const wchar_t kTagOne[] = L"\"v1\"";
const wchar_t kTagTwo[] = L"\"v2\"";

using Rng = std::mt19937;

int Between(Rng& rng, int low, int high) {
    return std::uniform_int_distribution<int>(low, high)(rng);
}
bool Chance(Rng& rng, int percent) { return Between(rng, 0, 99) < percent; }

// The package and the version it changes into, the same size, so that a mix shows only in the
// bytes; each has its ETag and its date.
const wchar_t kDateOne[] = L"Tue, 14 May 2024 08:00:00 GMT";
const wchar_t kDateTwo[] = L"Wed, 15 May 2024 08:00:00 GMT";

struct Versions {
    std::string one, two;
    const std::string& Of(const std::string& validator) const {
        return validator == "\"v2\"" || validator == "Wed, 15 May 2024 08:00:00 GMT" ? two : one;
    }
};

// One exchange as drawn: the answers, what the file holds before, and when the flag is set.
struct Exchange {
    std::vector<FakeResponse> responses;
    // The honest Content-Range of each 206, so that the model knows which answer continues.
    std::vector<bool> honestRange;
    std::string onDisk;
    ResumePoint before;
    bool withPoint = true;
    bool cancelFirst = false;
    int cancelAtSend = -1, cancelAtRead = -1;
    DWORD type = WinHTTP_Download_Type_Direct_Connect;
    bool openFails = false, connectFails = false, addHeadersFails = false;
};

// A body for an answer from byte first of a version: whole, or cut short as a closed connection
// leaves it; its length announced right, shorter, longer, not at all, as 0 or past the largest
// package.
FakeResponse Body(Rng& rng, const std::string& package, size_t first, const wchar_t* tag) {
    FakeResponse response;
    response.body = package.substr(first);
    const auto rest = static_cast<DWORD>(response.body.size());
    const int length = Between(rng, 0, 99);
    if (length < 60) {
        response.contentLength = rest;
    } else if (length < 70) {
        response.contentLength = rest > 1 ? static_cast<DWORD>(Between(rng, 1, rest - 1)) : rest;
    } else if (length < 80) {
        response.contentLength = rest + static_cast<DWORD>(Between(rng, 1, 5000));
    } else if (length < 88) {
        response.contentLength = {};
    } else if (length < 94) {
        response.contentLength = 0;
    } else {
        response.contentLength = kPackageMaxBytes + 1;
    }
    if (Chance(rng, 15) && !response.body.empty()) {
        response.body.resize(static_cast<size_t>(Between(rng, 0, rest - 1)));
    }
    static const DWORD kChunks[] = {1, 7, 100, 1000, 4096, 8192, 65536, 2u << 20};
    response.chunkSize =
        Chance(rng, 30) ? static_cast<DWORD>(Between(rng, 1, 3000)) : kChunks[Between(rng, 0, 7)];
    // A few hundred reads at most, so that thousands of exchanges take seconds.
    response.chunkSize = std::max<DWORD>(response.chunkSize, rest / 300 + 1);
    if (Chance(rng, 15)) {
        response.availabilityErrors.assign(static_cast<size_t>(Between(rng, 1, 3)), 12002);
    }
    response.readFails = Chance(rng, 3);
    const int validator = Between(rng, 0, 9);
    if (validator < 6) response.headers[WINHTTP_QUERY_ETAG] = tag;
    if (validator == 6) response.headers[WINHTTP_QUERY_ETAG] = std::wstring(L"W/") + tag;
    if (validator >= 6 && validator < 9) {
        response.headers[WINHTTP_QUERY_LAST_MODIFIED] = tag == kTagTwo ? kDateTwo : kDateOne;
    }
    return response;
}

// One answer of the server or proxy, or one failed call on its way.
FakeResponse Answer(Rng& rng, const Versions& versions, const Exchange& exchange,
                    bool* pbHonestRange) {
    *pbHonestRange = false;
    const bool changed = Chance(rng, 25);
    const std::string& package = changed ? versions.two : versions.one;
    const wchar_t* tag = changed ? kTagTwo : kTagOne;
    const int kind = Between(rng, 0, 99);
    if (kind < 28) {
        FakeResponse response = Body(rng, package, 0, tag);
        if (Chance(rng, 4)) response.receiveError = ERROR_WINHTTP_LOGIN_FAILURE;
        return response;
    }
    if (kind < 43) {
        // The rest from where the point says the part ends, or from elsewhere, with a range that
        // says so or not.
        const size_t part = exchange.before.nBytes;
        const size_t first = Chance(rng, 80) && part < package.size()
                                 ? part
                                 : static_cast<size_t>(Between(rng, 0, package.size() - 1));
        FakeResponse response = Body(rng, package, first, tag);
        response.status = 206;
        const std::wstring total = std::to_wstring(package.size());
        const std::wstring honest = L"bytes " + std::to_wstring(first) + L"-" +
                                    std::to_wstring(package.size() - 1) + L"/" + total;
        const int range = Between(rng, 0, 9);
        if (range < 6) {
            response.headers[WINHTTP_QUERY_CONTENT_RANGE] = honest;
            // It continues the part when the part is what the point says, and it names the
            // point's validator.
            const auto tagged = response.headers.find(WINHTTP_QUERY_ETAG);
            *pbHonestRange = !changed && first == part && part == exchange.onDisk.size() &&
                             tagged != response.headers.end() && tagged->second == kTagOne;
        } else if (range == 6) {
            response.headers[WINHTTP_QUERY_CONTENT_RANGE] = L"bytes 0-" + total + L"/" + total;
        } else if (range == 7) {
            response.headers[WINHTTP_QUERY_CONTENT_RANGE] = L"bytes */" + total;
        }
        return response;
    }
    if (kind < 53) {
        return {.status = 401,
                .schemes = static_cast<DWORD>(Between(rng, 1, 31)),
                .target = WINHTTP_AUTH_TARGET_SERVER,
                .schemesFail = Chance(rng, 10)};
    }
    if (kind < 63) {
        return {.status = 407,
                .schemes = static_cast<DWORD>(Between(rng, 1, 31)),
                .target = WINHTTP_AUTH_TARGET_PROXY,
                .schemesFail = Chance(rng, 10)};
    }
    if (kind < 76) {
        return Chance(rng, 60) ? FakeResponse{.sendError = ERROR_WINHTTP_RESEND_REQUEST}
                               : FakeResponse{.receiveError = ERROR_WINHTTP_RESEND_REQUEST};
    }
    static const DWORD kStatuses[] = {404, 500, 503, 304, 416, 0};
    if (kind < 90) return {.status = kStatuses[Between(rng, 0, 5)]};
    return Chance(rng, 50) ? FakeResponse{.sendError = 12029} : FakeResponse{.receiveError = 12002};
}

Exchange Draw(Rng& rng, const Versions& versions) {
    Exchange exchange;
    exchange.withPoint = Chance(rng, 85);
    if (exchange.withPoint && Chance(rng, 50)) {
        // Part of the package from an earlier try, recorded with its validator (or a point that
        // does not match what is on disk).
        const size_t part = static_cast<size_t>(Between(rng, 1, versions.one.size() - 1));
        exchange.onDisk = versions.one.substr(0, part);
        exchange.before.nBytes = static_cast<std::uint32_t>(
            Chance(rng, 90) ? part : static_cast<size_t>(Between(rng, 1, versions.one.size())));
        exchange.before.nTotal = static_cast<std::uint32_t>(versions.one.size());
        std::snprintf(exchange.before.szValidator, sizeof(exchange.before.szValidator), "%s",
                      "\"v1\"");
    }
    // Mostly a few answers; sometimes a long run of resends or challenges that only the caps end.
    const int nAnswers = Chance(rng, 10) ? Between(rng, 15, 30) : Between(rng, 1, 6);
    const bool storm = Chance(rng, 10);
    for (int i = 0; i < nAnswers; ++i) {
        bool bHonest = false;
        FakeResponse response;
        if (storm) {
            static const FakeResponse kStorm[] = {
                {.sendError = ERROR_WINHTTP_RESEND_REQUEST},
                {.status = 401, .schemes = kAuthSchemeBasic, .target = WINHTTP_AUTH_TARGET_SERVER},
                {.status = 407, .schemes = kAuthSchemeBasic, .target = WINHTTP_AUTH_TARGET_PROXY}};
            response = kStorm[i % 2 == 0 ? 0 : Between(rng, 1, 2)];
        } else {
            response = Answer(rng, versions, exchange, &bHonest);
        }
        exchange.responses.push_back(response);
        exchange.honestRange.push_back(bHonest);
    }
    const int cancel = Between(rng, 0, 99);
    if (cancel < 3) exchange.cancelFirst = true;
    if (cancel >= 3 && cancel < 13) exchange.cancelAtSend = Between(rng, 0, nAnswers);
    if (cancel >= 13 && cancel < 23) exchange.cancelAtRead = Between(rng, 0, 20);
    exchange.type = Chance(rng, 20) ? WinHTTP_Download_Type_By_Default_Proxy
                                    : WinHTTP_Download_Type_Direct_Connect;
    exchange.openFails = Chance(rng, 2);
    exchange.connectFails = Chance(rng, 2);
    exchange.addHeadersFails = Chance(rng, 5);
    return exchange;
}

// What the file must hold when the call reports success, from the answer it ended on: the body
// as its length announces it, after the part on disk when the answer continued it.
std::string ExpectedFile(const Exchange& exchange, size_t answer, bool bAskedForRest) {
    const FakeResponse& response = exchange.responses[answer];
    const std::string body = response.body.substr(0, *response.contentLength);
    const bool bAppended = bAskedForRest && response.status == 206 && exchange.honestRange[answer];
    return bAppended ? exchange.onDisk + body : body;
}

// Whether the answer that the call ended on came whole and clean, so that the call must succeed.
bool CleanAnswer(const Exchange& exchange, size_t answer, bool bAskedForRest) {
    const FakeResponse& response = exchange.responses[answer];
    const bool b200 = response.status == 200;
    const bool bAppend = bAskedForRest && response.status == 206 && exchange.honestRange[answer] &&
                         response.contentLength == response.body.size();
    const DWORD whole = bAskedForRest && !b200 ? static_cast<DWORD>(exchange.onDisk.size()) : 0;
    return (b200 || bAppend) && response.contentLength && *response.contentLength > 0 &&
           whole + *response.contentLength <= kPackageMaxBytes &&
           response.body.size() >= *response.contentLength &&
           response.availabilityErrors.size() < 3 && !response.readFails &&
           response.sendError == 0 &&
           (response.receiveError == 0 || response.receiveError == ERROR_WINHTTP_LOGIN_FAILURE);
}

// An exchange as a reader follows it when it fails: each answer, and the calls made.
std::string Described(const Exchange& exchange, const std::vector<std::wstring>& calls) {
    std::string text = "part " + std::to_string(exchange.onDisk.size()) + ", point " +
                       std::to_string(exchange.before.nBytes) + "/" +
                       std::to_string(exchange.before.nTotal) + "; answers:";
    for (size_t i = 0; i < exchange.responses.size(); ++i) {
        const FakeResponse& r = exchange.responses[i];
        text += "\n  " + std::to_string(r.status) + " send " + std::to_string(r.sendError) +
                " receive " + std::to_string(r.receiveError) + " length " +
                (r.contentLength ? std::to_string(*r.contentLength) : "-") + " body " +
                std::to_string(r.body.size()) + " chunk " + std::to_string(r.chunkSize) +
                (r.readFails ? " read fails" : "") + (exchange.honestRange[i] ? " fits" : "");
        for (const auto& header : r.headers) {
            text += " [" + std::string(header.second.begin(), header.second.end()) + "]";
        }
    }
    text += "\ncalls:";
    for (const auto& call : calls) text += " " + std::string(call.begin(), call.end()) + ";";
    return text;
}

// Where two byte strings first differ, and their sizes.
std::string Difference(const std::string& got, const std::string& wanted) {
    size_t at = 0;
    while (at < got.size() && at < wanted.size() && got[at] == wanted[at]) ++at;
    return "got " + std::to_string(got.size()) + " bytes, wanted " + std::to_string(wanted.size()) +
           ", first difference at " + std::to_string(at);
}

int Count(const std::vector<std::wstring>& calls, const wchar_t* prefix) {
    int n = 0;
    for (const auto& call : calls) n += call.rfind(prefix, 0) == 0 ? 1 : 0;
    return n;
}

// The log is the machine's own and never shrinks; this test's thousands of lines go again.
class LogRestorer {
  public:
    LogRestorer() : m_size(FileSizeOf()) {}
    ~LogRestorer() {
        HANDLE hFile =
            CreateFileW(kWinHTTPLibLogPath, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (hFile == INVALID_HANDLE_VALUE) return;
        LARGE_INTEGER size;
        size.QuadPart = m_size;
        if (SetFilePointerEx(hFile, size, nullptr, FILE_BEGIN)) SetEndOfFile(hFile);
        CloseHandle(hFile);
    }

  private:
    static LONGLONG FileSizeOf() {
        WIN32_FILE_ATTRIBUTE_DATA data;
        if (!GetFileAttributesExW(kWinHTTPLibLogPath, GetFileExInfoStandard, &data)) return 0;
        return static_cast<LONGLONG>(data.nFileSizeHigh) << 32 | data.nFileSizeLow;
    }
    LONGLONG m_size;
};

std::uint32_t BaseSeed() {
    const std::wstring given = Env(L"QERV_RANDOM_SEED");
    return given.empty() ? kDefaultSeed
                         : static_cast<std::uint32_t>(std::wcstoul(given.c_str(), nullptr, 10));
}

TEST(SafeDownloadFileRandom, HoldsItsPromisesWhateverTheExchange) {
    const LogRestorer restoreLog;
    const TempDir dir;
    const std::wstring target = dir.File(L"Setup.dat");
    const std::uint32_t base = BaseSeed();
    std::vector<int> outcomes(2);
    for (int i = 0; i < kExchanges && !HasFailure(); ++i) {
        const std::uint32_t seed = base + static_cast<std::uint32_t>(i);
        SCOPED_TRACE("exchange seed " + std::to_string(seed) +
                     " (QERV_RANDOM_SEED=" + std::to_string(seed) + " replays it first)");
        Rng rng(seed);
        Versions versions;
        const size_t size =
            static_cast<size_t>(Chance(rng, 10) ? Between(rng, 2, 300000) : Between(rng, 2, 20000));
        versions.one = Pattern(size, seed);
        versions.two = Pattern(size, seed + 1);
        const Exchange exchange = Draw(rng, versions);

        DeleteFileW(target.c_str());
        if (!exchange.onDisk.empty()) {
            ASSERT_TRUE(WriteBytes(target, {exchange.onDisk.begin(), exchange.onDisk.end()}));
        }
        SleepRecorder pauses;
        FakeWinHttp fake;
        WinHttpWrapper wrapper(fake);
        fake.responses = exchange.responses;
        fake.openError = exchange.openFails ? ERROR_WINHTTP_INTERNAL_ERROR : 0;
        fake.connectFails = exchange.connectFails;
        fake.addHeadersFails = exchange.addHeadersFails;
        std::atomic<LONG> cancel{exchange.cancelFirst ? 1 : 0};
        std::atomic<LONG> percent{-1};
        // The calls made before the flag was set; none after it may start a network step.
        size_t callsAtCancel = exchange.cancelFirst ? 0 : SIZE_MAX;
        std::vector<LONG> seenPercents;
        fake.onSend = [&](int send) {
            if (send == exchange.cancelAtSend) {
                cancel = 1;
                callsAtCancel = fake.calls.size();
            }
        };
        fake.onRead = [&](int read) {
            seenPercents.push_back(percent.load());
            if (read == exchange.cancelAtRead) {
                cancel = 1;
                callsAtCancel = fake.calls.size();
            }
        };
        ResumePoint point = exchange.before;
        const DWORD result = wrapper.SafeDownloadFile(
            kFakeUrl, target.c_str(), nullptr, &cancel, exchange.type, nullptr, nullptr, &percent,
            {exchange.withPoint ? &point : nullptr, nullptr});

        // One of the defined outcomes, and every handle closed.
        ASSERT_TRUE(result == 0 || result == 1) << result;
        ++outcomes[result];
        const DWORD status = wrapper.m_dwStatus.load();
        if (result == 1) {
            EXPECT_EQ(status, WinHTTP_Download_Status_Completed);
        } else {
            EXPECT_TRUE(status == WinHTTP_Download_Status_Error ||
                        status == WinHTTP_Download_Status_Cancel_By_User ||
                        status == WinHTTP_Download_Status_Not_Enough_Buffer)
                << status;
        }
        EXPECT_EQ(fake.OpenHandles(), 0);

        // Within the caps, and nothing on the network once cancelled.
        const int sends = Count(fake.calls, L"Send");
        EXPECT_LE(sends, kMaxSends);
        for (const unsigned pause : pauses.Waits()) EXPECT_EQ(pause, kAvailabilityPauseMs);
        EXPECT_LE(pauses.Waits().size(), 2u * (Count(fake.calls, L"Read") + 1u));
        if (callsAtCancel != SIZE_MAX) {
            EXPECT_EQ(result, 0u);
            const std::vector<std::wstring> after(
                fake.calls.begin() + static_cast<std::ptrdiff_t>(callsAtCancel), fake.calls.end());
            EXPECT_EQ(Count(after, L"Send") + Count(after, L"Read") + Count(after, L"Open"), 0);
        }
        for (size_t k = 1; k < seenPercents.size(); ++k) {
            EXPECT_LE(seenPercents[k - 1], seenPercents[k]) << "the percentage went back";
        }

        // The body exactly when it reports success; a clean answer must succeed.
        // The answer of the last send is the one the call ended on.
        const std::string file = FileText(target);
        const bool bAskedForRest =
            Count(fake.calls, L"AddHeaders") > 0 && !exchange.addHeadersFails;
        const size_t last = static_cast<size_t>(sends) - 1;
        const bool bEnded = sends > 0 && last < exchange.responses.size();
        if (result == 1) {
            ASSERT_TRUE(bEnded);
            const std::string wanted = ExpectedFile(exchange, last, bAskedForRest);
            EXPECT_TRUE(file == wanted) << Difference(file, wanted) << "\n"
                                        << Described(exchange, fake.calls);
            EXPECT_EQ(percent.load(), 100);
        } else if (callsAtCancel == SIZE_MAX && bEnded) {
            EXPECT_FALSE(CleanAnswer(exchange, last, bAskedForRest))
                << "a clean answer did not make the download succeed\n"
                << Described(exchange, fake.calls);
        }
        // When it fails, nothing claimed that is not in the file: the part the point counts is
        // there, and is the start of the version that its validator names. A point that did not
        // match the file from the start counts only once the call has changed it.
        const bool bKept = point.nBytes == exchange.before.nBytes &&
                           std::string(point.szValidator) == exchange.before.szValidator;
        const bool bMatched = exchange.before.nBytes == exchange.onDisk.size();
        if (result == 0 && exchange.withPoint && point.nBytes > 0 && (bMatched || !bKept)) {
            const std::string claimed = point.szValidator[0] != '\0'
                                            ? versions.Of(point.szValidator).substr(0, point.nBytes)
                                            : file.substr(0, point.nBytes);
            EXPECT_TRUE(file == claimed && point.nBytes <= point.nTotal)
                << "the point claims " << point.nBytes << "/" << point.nTotal << " of "
                << point.szValidator << ": " << Difference(file, claimed) << "\n"
                << Described(exchange, fake.calls);
        }
    }
    // Both outcomes came up often enough to mean something.
    if (HasFailure()) return;
    EXPECT_GT(outcomes[0], kExchanges / 10);
    EXPECT_GT(outcomes[1], kExchanges / 10);
}

}  // namespace
