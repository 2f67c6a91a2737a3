#pragma once

#include <atomic>

// Whether the system is Windows 2000, XP, Server 2003 (version 5) or Vista, whose TLS cannot
// check the server certificate. The first answer is kept for the life of the process; when the
// system tells nothing the answer is false and the next call asks again (Windows only).
bool IsOldWindows();

// wProductType of a workstation (VER_NT_WORKSTATION).
constexpr unsigned char kWorkstationProductType = 1;

// The decision from the version numbers: every 5.x, and 6.0 on a workstation.
bool IsOldWindowsVersion(unsigned long dwMajorVersion, unsigned long dwMinorVersion,
                         unsigned char wProductType);

// The decision from an OS description: it names Windows XP or Windows Vista (case-sensitive).
bool IsOldWindowsDescription(const wchar_t* szDescription);

// Where the decision gets its facts from; each gives false when it cannot tell.
struct OldWindowsProbes {
    bool (*getVersion)(unsigned long* pdwMajorVersion, unsigned long* pdwMinorVersion,
                       unsigned char* pwProductType);
    bool (*getDescription)(wchar_t* szDescription);
};

// Answers from nCache when it holds 1 or 0 (-1: not yet known); otherwise asks the version, then
// the description, and stores a definite answer in nCache.
bool DecideOldWindows(std::atomic<int>& nCache, const OldWindowsProbes& probes);
