#include "download/curl_transfer.h"

#include "download/curl_options.h"

#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "base/debug_trace.h"
#include "download/partial_download.h"
#include "download/winhttp_rules.h"
#include "system/package_format.h"

namespace {

constexpr long kHttpOk = 200;
constexpr long kHttpPartialContent = 206;
// Header values kept for the resume rules; longer ones count as absent.
constexpr std::size_t kMaxHeaderValue = 256;

struct FileClose {
    void operator()(FILE* pFile) const { std::fclose(pFile); }
};
using File = std::unique_ptr<FILE, FileClose>;

struct SlistFree {
    void operator()(curl_slist* pList) const { curl_slist_free_all(pList); }
};
using Slist = std::unique_ptr<curl_slist, SlistFree>;

// The file a handle opened as a C stream for libcurl's writes, or null.
FILE* StreamOf(HANDLE hFile, const char* szMode) {
    if (hFile == INVALID_HANDLE_VALUE) return nullptr;
    const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(hFile), _O_BINARY);
    if (fd == -1) {
        CloseHandle(hFile);
        return nullptr;
    }
    FILE* pFile = _fdopen(fd, szMode);
    if (pFile == nullptr) _close(fd);
    return pFile;
}

// A link in the file's place is opened as itself, not followed: the download runs elevated.
constexpr DWORD kFileFlags = FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT;

// The file made afresh; a link in its place is replaced. Null when it cannot be made.
FILE* OpenForWriting(const wchar_t* szPath) {
    return StreamOf(CreateFileW(szPath, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                                kFileFlags, nullptr),
                    "wb");
}

// The file positioned after its nBytes, which must be all it holds; null otherwise.
FILE* OpenForAppending(const wchar_t* szPath, std::uint32_t nBytes) {
    HANDLE hFile = CreateFileW(szPath, GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                               kFileFlags, nullptr);
    LARGE_INTEGER size = {};
    if (hFile != INVALID_HANDLE_VALUE &&
        (!GetFileSizeEx(hFile, &size) || size.QuadPart != nBytes ||
         SetFilePointer(hFile, 0, nullptr, FILE_END) == INVALID_SET_FILE_POINTER)) {
        CloseHandle(hFile);
        return nullptr;
    }
    return StreamOf(hFile, "ab");
}

// The headers of the latest answer that the resume rules need.
struct Answer {
    long nStatus = 0;
    std::string etag, lastModified, contentRange;
    bool bETag = false, bLastModified = false, bContentRange = false;
    std::int64_t nLength = -1;
};

// What the callbacks of one transfer share.
struct TransferState {
    FILE* pFile;
    // Bytes of the package in the file: the part before the transfer, and what it wrote.
    std::uint64_t nWritten;
    // The point whose rest was asked for; null for a transfer of the whole package.
    const ResumePoint* pAsked;
    Answer answer;
    bool bRefused = false;
    // Told whether the answer's body is the package, once its headers have been judged.
    CurlProgressTarget* pProgress;
    // The rest was asked for and the whole package came: the file started again from byte 0.
    bool bStartedOver = false;
};

// Empties the file opened for appending before the first byte of a body is written; its
// writes then go from byte 0, as they always go to its end.
bool EmptyFile(FILE* pFile) {
    if (std::fflush(pFile) != 0) return false;
    const auto hFile = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(pFile)));
    return hFile != INVALID_HANDLE_VALUE &&
           SetFilePointer(hFile, 0, nullptr, FILE_BEGIN) != INVALID_SET_FILE_POINTER &&
           SetEndOfFile(hFile);
}

const char* Text(const std::string& value, bool bPresent) {
    return bPresent ? value.c_str() : nullptr;
}

bool NameIs(const std::string& name, const char* szWanted) {
    if (name.size() != std::strlen(szWanted)) return false;
    for (std::size_t i = 0; i < name.size(); ++i) {
        const char c = name[i] >= 'A' && name[i] <= 'Z' ? static_cast<char>(name[i] + 32) : name[i];
        if (c != szWanted[i]) return false;
    }
    return true;
}

void Keep(const std::string& value, std::string* pValue, bool* pbPresent) {
    *pbPresent = value.size() <= kMaxHeaderValue;
    if (*pbPresent) *pValue = value;
}

// Each header line of each answer, redirects included: a status line starts a new answer, and
// the end of a partial answer's headers is where its range is judged. A 206 that does not
// continue the part on disk ends the transfer before its body is written.
std::size_t OnHeader(char* pData, std::size_t nSize, std::size_t nItems, void* pUser) {
    TransferState& state = *static_cast<TransferState*>(pUser);
    const std::size_t nBytes = nSize * nItems;
    std::string line(pData, nBytes);
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n')) line.pop_back();
    Answer& answer = state.answer;
    if (line.compare(0, 5, "HTTP/") == 0) {
        answer = Answer();
        state.pProgress->bPackage = false;
        const std::size_t nSpace = line.find(' ');
        if (nSpace != std::string::npos) {
            answer.nStatus = std::strtol(line.c_str() + nSpace + 1, nullptr, 10);
        }
        return nBytes;
    }
    if (line.empty()) {
        if (state.pAsked != nullptr && answer.nStatus == kHttpPartialContent &&
            JudgeResumeAnswer(static_cast<std::uint32_t>(answer.nStatus),
                              Text(answer.contentRange, answer.bContentRange), answer.nLength,
                              Text(answer.etag, answer.bETag),
                              Text(answer.lastModified, answer.bLastModified),
                              *state.pAsked) != ResumeAnswer::kAppend) {
            state.bRefused = true;
            return 0;  // libcurl ends the transfer with a write error
        }
        // The package changed, or the server does not do ranges: the whole package came for
        // the rest, and it is taken from byte 0 rather than asked for again.
        if (state.pAsked != nullptr && answer.nStatus == kHttpOk) {
            if (!EmptyFile(state.pFile)) {
                state.bRefused = true;
                return 0;
            }
            state.pAsked = nullptr;
            state.nWritten = 0;
            state.pProgress->dBase = 0;
            state.bStartedOver = true;
        }
        // The whole package when it was asked for whole, its rest when that was asked for.
        state.pProgress->bPackage =
            answer.nStatus == (state.pAsked != nullptr ? kHttpPartialContent : kHttpOk);
        return nBytes;
    }
    const std::size_t nColon = line.find(':');
    if (nColon == std::string::npos) return nBytes;
    const std::string name = line.substr(0, nColon);
    const std::size_t nValue = line.find_first_not_of(" \t", nColon + 1);
    const std::string value = nValue == std::string::npos ? std::string() : line.substr(nValue);
    if (NameIs(name, "etag")) Keep(value, &answer.etag, &answer.bETag);
    if (NameIs(name, "last-modified")) Keep(value, &answer.lastModified, &answer.bLastModified);
    if (NameIs(name, "content-range")) Keep(value, &answer.contentRange, &answer.bContentRange);
    if (NameIs(name, "content-length")) {
        char* pEnd = nullptr;
        const long long nLength = std::strtoll(value.c_str(), &pEnd, 10);
        answer.nLength = pEnd != value.c_str() && *pEnd == '\0' && nLength >= 0 ? nLength : -1;
    }
    return nBytes;
}

// A body that passes the largest package ends the transfer, whatever length the server
// announced: the part already on disk counts.
std::size_t WriteToFile(char* pData, std::size_t nSize, std::size_t nItems, void* pUser) {
    TransferState& state = *static_cast<TransferState*>(pUser);
    const std::size_t nBytes = nSize * nItems;
    if (nBytes > kPackageMaxBytes - state.nWritten) return 0;  // libcurl ends with a write error
    state.nWritten += nBytes;
    return std::fwrite(pData, 1, nBytes, state.pFile);
}

bool Traced(bool bOk) {
    DebugTrace(bOk ? L"download url ok" : L"download url failed");
    return bOk;
}

}  // namespace

bool RunCurlTransfer(CURL* pCurl, const wchar_t* szSaveFile, ResumePoint* pResume,
                     CurlProgressTarget* pProgress, std::atomic<LONG>* pnPercent) {
    ResumePoint unkept;
    ResumePoint& point = pResume != nullptr ? *pResume : unkept;
    bool bResume = point.CanResume();
    // The rest is asked for only with its validator, so that it is the rest of the same package.
    Slist headers(bResume ? curl_slist_append(nullptr, IfRangeHeader(point).c_str()) : nullptr);
    File file(headers ? OpenForAppending(szSaveFile, point.nBytes) : nullptr);
    if (!file) {
        // A part that is not what the point says is no part to continue.
        bResume = false;
        point.Forget();
        headers.reset();
        file.reset(OpenForWriting(szSaveFile));
    }
    if (!file) {
        DebugTrace(L"_tfopen failed");
        return false;
    }
    TransferState state{
        file.get(), bResume ? point.nBytes : 0u, bResume ? &point : nullptr, Answer(), false,
        pProgress};
    // A Range of our own rather than libcurl's resume, which fails a 200 before its body: the
    // whole package that a server sends for the rest is taken, not asked for once more.
    const std::string range = bResume ? std::to_string(point.nBytes) + "-" : std::string();
    CurlOptions options(pCurl);
    // The proxy's answer to CONNECT ("200 Connection established") is no answer of the server:
    // the header function sees only the server's answers.
    options.Set(CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L)
        .Set(CURLOPT_HEADERFUNCTION, OnHeader)
        .Set(CURLOPT_WRITEFUNCTION, WriteToFile)
        .Set(CURLOPT_HTTPHEADER, headers.get())
        .Set(CURLOPT_RANGE, bResume ? range.c_str() : nullptr)
        .Set(CURLOPT_HEADERDATA, &state)
        .Set(CURLOPT_WRITEDATA, &state);
    if (!options.AllTaken()) return Traced(false);
    pProgress->dBase = bResume ? point.nBytes : 0;
    if (bResume && pnPercent) pnPercent->store(StoredPercent(point.nBytes, point.nTotal));
    const CURLcode code = curl_easy_perform(pCurl);
    // Closing flushes the last buffered bytes: a failure there loses part of the body.
    const bool bClosed = std::fclose(file.release()) == 0;
    long nStatus = 0;
    curl_easy_getinfo(pCurl, CURLINFO_RESPONSE_CODE, &nStatus);
    const Answer& answer = state.answer;
    const std::int64_t nSize = PartSize(szSaveFile);
    const std::uint64_t nInFile = nSize > 0 ? static_cast<std::uint64_t>(nSize) : 0;

    if (!bResume || state.bStartedOver) {
        // The whole package's answer gives the point that a later try continues from.
        if (nStatus == kHttpOk && answer.nLength > 0 && answer.nLength <= kPackageMaxBytes) {
            const auto nTotal = static_cast<std::uint32_t>(answer.nLength);
            point.StartOver(nTotal, Text(answer.etag, answer.bETag),
                            Text(answer.lastModified, answer.bLastModified));
            point.nBytes = static_cast<std::uint32_t>(nInFile < nTotal ? nInFile : nTotal);
        } else {
            point.Forget();
        }
        // A file emptied for a whole package holds only what the final 200 brought.
        return Traced(code == CURLE_OK && bClosed && (!state.bStartedOver || nStatus == kHttpOk));
    }
    const bool bContinued = nStatus == kHttpPartialContent && !state.bRefused;
    if (bContinued) {
        point.nBytes = static_cast<std::uint32_t>(nInFile < point.nTotal ? nInFile : point.nTotal);
    } else if (nStatus != 0) {
        // An answer that does not continue the part: the next try asks for all of it.
        point.Forget();
    }
    return Traced(bContinued && code == CURLE_OK && bClosed && nInFile == point.nTotal);
}
