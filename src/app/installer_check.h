#pragma once

// The check before the installer is started or copied next to the program. The installer is
// opened once and checked through that handle, which then stays open, sharing reading only, until
// the installer has been started or copied: the file started is the file checked.
#include <string>

#include "base/scoped_handle.h"

// What an installer must be, compiled into each program (cmake/installer_signers.cmake).
struct InstallerPolicy {
    const char* szSigners;         // pins, 64 hex digits each, ';' between; empty: anyone's
    const char* szMinimumVersion;  // "a.b.c.d"; empty: any version
};
extern const InstallerPolicy kInstallerPolicy;

// The outcome of the check. file holds the installer open when it could be opened; a program
// whose policy asks for nothing accepts an installer it could not open (its start then fails as
// any start of a missing file does).
struct InstallerCheck {
    bool bAccepted = false;
    ScopedHandle file;
};

// Opens the installer at path and checks it: its Authenticode signature is sound and its
// signer's key one of the pinned ones, nothing but padding rides in its certificate table, and
// its file version is at least the minimum. Traces the outcome either way.
InstallerCheck CheckInstaller(const std::wstring& path, const InstallerPolicy& policy);

// Loads and opens what the check needs (the trust providers, the certificate stores) on a thread
// of its own while the package downloads, so that the check itself does not wait for them.
// Call once the DLL search is restricted. The object waits for the thread when it goes, but
// never long.
class InstallerCheckWarmUp {
  public:
    InstallerCheckWarmUp();
    ~InstallerCheckWarmUp();
    InstallerCheckWarmUp(const InstallerCheckWarmUp&) = delete;
    InstallerCheckWarmUp& operator=(const InstallerCheckWarmUp&) = delete;

  private:
    ScopedHandle m_thread;
};
