// The part of the package kept between tries: what is taken over and handed on, and a run of
// attempts in fake time whose second attempt continues what the first one left.
#include <gtest/gtest.h>

#include <cstdio>

#include "attempt_rig.h"
#include "download/partial_download.h"

namespace {

using namespace testsupport;

ResumePoint Point(std::uint32_t bytes, std::uint32_t total, const char* validator = "\"v1\"") {
    ResumePoint point;
    point.nBytes = bytes;
    point.nTotal = total;
    std::snprintf(point.szValidator, sizeof(point.szValidator), "%s", validator);
    return point;
}

// A file of n bytes at path, as a try leaves it.
std::wstring Part(const TempDir& dir, const wchar_t* name, size_t n) {
    const std::wstring path = dir.File(name);
    const std::string bytes = Pattern(n);
    EXPECT_TRUE(WriteBytes(path, {bytes.begin(), bytes.end()}));
    return path;
}

constexpr wchar_t kUrl[] = L"https://127.0.0.1/qerv/Setup.dat";

// One part at a time, the largest that can be resumed; it goes to an attempt of the same
// address whose own part is smaller, and nothing is kept once the store is closed.
TEST(PartialDownload, KeepsTheLargestResumablePartForTheSameAddress) {
    TempDir dir;
    OpenPartialDownloads();
    const std::wstring own = dir.File(L"own.part");
    ResumePoint point;
    // Parts that cannot be resumed are removed at once.
    for (const ResumePoint& unusable : {Point(0, 10), Point(10, 10), Point(4, 10, "")}) {
        const std::wstring part = Part(dir, L"unusable.part", unusable.nBytes);
        OfferPartialDownload(part.c_str(), kUrl, unusable);
        EXPECT_FALSE(FileExists(part));
    }
    EXPECT_FALSE(AdoptPartialDownload(kUrl, own.c_str(), &point));

    const std::wstring small = Part(dir, L"small.part", 3);
    const std::wstring large = Part(dir, L"large.part", 6);
    const std::wstring smaller = Part(dir, L"smaller.part", 2);
    OfferPartialDownload(small.c_str(), kUrl, Point(3, 10));
    OfferPartialDownload(large.c_str(), kUrl, Point(6, 10));
    OfferPartialDownload(smaller.c_str(), kUrl, Point(2, 10));
    EXPECT_FALSE(FileExists(small));
    EXPECT_TRUE(FileExists(large));
    EXPECT_FALSE(FileExists(smaller));
    // Another address, or an own part as large, takes nothing.
    EXPECT_FALSE(AdoptPartialDownload(L"https://127.0.0.1/other", own.c_str(), &point));
    point = Point(6, 10);
    EXPECT_FALSE(AdoptPartialDownload(kUrl, own.c_str(), &point));
    point = Point(1, 10, "\"old\"");
    ASSERT_TRUE(AdoptPartialDownload(kUrl, own.c_str(), &point));
    EXPECT_EQ(point.nBytes, 6u);
    EXPECT_STREQ(point.szValidator, "\"v1\"");
    EXPECT_EQ(FileText(own), Pattern(6));
    EXPECT_FALSE(FileExists(large));
    EXPECT_FALSE(AdoptPartialDownload(kUrl, own.c_str(), &point));

    // A part that is not what its point says is dropped, with the own part it replaced.
    const std::wstring shorter = Part(dir, L"shorter.part", 5);
    OfferPartialDownload(shorter.c_str(), kUrl, Point(8, 10));
    point = Point(6, 10);
    EXPECT_FALSE(AdoptPartialDownload(kUrl, own.c_str(), &point));
    EXPECT_EQ(point.nBytes, 0u);
    EXPECT_FALSE(FileExists(own));
    EXPECT_FALSE(FileExists(shorter));

    // Closed: the part kept and every later offer go.
    const std::wstring kept = Part(dir, L"kept.part", 4);
    OfferPartialDownload(kept.c_str(), kUrl, Point(4, 10));
    DiscardPartialDownloads();
    EXPECT_FALSE(FileExists(kept));
    const std::wstring late = Part(dir, L"late.part", 4);
    OfferPartialDownload(late.c_str(), kUrl, Point(4, 10));
    EXPECT_FALSE(FileExists(late));
    OpenPartialDownloads();
}

// The first attempt's WinHTTP transfer is cut after four of ten chunks; the second attempt asks
// for the rest, gets it a chunk every five seconds, and is not taken for a stall: the bar and the
// percentage start where the part ends, at 40, and only rise.
TEST(PartialDownload, NextAttemptContinuesThePartWithoutAFalseStall) {
    WatchdogRig w;
    const std::string rest = kTenChunks.substr(4 * 4096);
    FakeResponse cut = Ok(kTenChunks.substr(0, 4 * 4096), 10 * 4096);
    cut.headers[WINHTTP_QUERY_ETAG] = L"\"v1\"";
    FakeResponse continued = Ok(rest);
    continued.status = 206;
    continued.headers[WINHTTP_QUERY_CONTENT_RANGE] = L"bytes 16384-40959/40960";
    continued.headers[WINHTTP_QUERY_ETAG] = L"\"v1\"";
    w.scripted.fake.responses = {cut, continued};
    w.scripted.fake.onRead = [&w](int i) {
        w.clock.WaitUntil(i < 4 ? 1000u * (i + 1) : w.clock.Now() + 5000);
    };
    ProgressProbe bar;
    EXPECT_EQ(w.Attempt(WinHTTP_Download_Type_Direct_Connect, bar.window()), 0);
    const size_t firstAttempt = bar.Positions().size();
    w.traces.Clear();
    EXPECT_EQ(w.Attempt(WinHTTP_Download_Type_Direct_Connect, bar.window()), 1);

    EXPECT_EQ(FileText(w.target), kTenChunks);
    EXPECT_EQ(w.traces.Count(L"Cancel download"), 0);
    EXPECT_EQ(Starting(w.scripted.fake.calls, {L"AddHeaders"}),
              Calls{L"AddHeaders Range: bytes=16384-\r\nIf-Range: \"v1\""});
    const std::vector<WPARAM> positions = bar.Positions();
    EXPECT_EQ(std::vector<WPARAM>(positions.begin(), positions.begin() + firstAttempt),
              (std::vector<WPARAM>{10, 20, 30, 40}));
    EXPECT_EQ(std::vector<WPARAM>(positions.begin() + firstAttempt, positions.end()),
              (std::vector<WPARAM>{40, 50, 60, 70, 80, 90, 100}));
    // The second attempt's samples in its WinHTTP phase: from 40 on, never down.
    std::vector<int> samples;
    for (const std::wstring& line : w.traces.Starting(L"Download percent: ")) {
        samples.push_back(std::stoi(line.substr(18)));
    }
    ASSERT_FALSE(samples.empty());
    EXPECT_GE(samples.front(), 40);
    EXPECT_TRUE(std::is_sorted(samples.begin(), samples.end()));
    EXPECT_TRUE(PartFiles(w.dir.path()).empty());
}

}  // namespace
