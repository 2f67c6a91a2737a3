#pragma once

// Who signed an installer. The setup starts only an installer whose Authenticode signer holds
// one of the public keys compiled into it, and the publisher's tool reads the same signer so that
// it never packs an installer the setup would refuse.
#include <array>
#include <cstddef>
#include <string>
#include <vector>

// SHA-256 of the signer certificate's DER-encoded SubjectPublicKeyInfo. The key is pinned rather
// than the certificate, so that a renewed certificate for the same key still passes.
using SignerPin = std::array<unsigned char, 32>;

// Parses pins written as 64 hexadecimal digits each (either case), separated by ';'. Empty text
// gives no pins; a malformed or empty entry makes the whole text invalid, since a pin that is
// silently dropped could leave a build that trusts nobody or fewer keys than its maker meant.
bool ParseSignerPins(const std::string& text, std::vector<SignerPin>* pins);

// 64 lowercase hexadecimal digits, as ParseSignerPins reads them.
std::string FormatSignerPin(const SignerPin& pin);

bool IsSignerPinned(const SignerPin& pin, const std::vector<SignerPin>& pins);

// One part of a subject as both platforms show it: "KEY=value", the value in quotes (inner quotes
// doubled) where it would otherwise read as more than one part. UTF-8.
std::string SubjectPart(const std::string& key, const std::string& value);

struct InstallerSigner {
    std::wstring subject;  // the certificate's subject, most specific part first: "CN=..., O=..."
    SignerPin pin = {};
};

// Reads the signer of the Authenticode signature embedded in the program image data[0, size).
// Nothing is verified here: neither the image's digest nor the chain. False, with the reason in
// *why, when the image carries no signature that can be read, or carries more than the signature
// in its certificate table (see LocateSignature).
bool ReadInstallerSigner(const unsigned char* data, std::size_t size, InstallerSigner* signer,
                         std::string* why);

// The signer of a DER PKCS#7 SignedData (the certificate table's entry), from the platform's own
// parser: crypt32 on Windows, OpenSSL on the host. Used by ReadInstallerSigner.
bool ReadSignatureSigner(const unsigned char* pkcs7, std::size_t size, InstallerSigner* signer,
                         std::string* why);

// The setup's check before it starts an installer (Windows only): WinVerifyTrust without any
// user interface or revocation fetch, then the signature's place in the image, then the signer's
// key against the pins.
enum class SignerCheck {
    kPinned,     // signed, intact, and by a pinned key
    kNoPins,     // the build pins nobody: not checked
    kUntrusted,  // WinVerifyTrust refused the file (unsigned, bad digest, ...)
    kPadded,     // WinVerifyTrust accepted it, but data that no signature covers rides along
    kNotPinned,  // a sound signature by a key that is not pinned
};

struct SignerCheckResult {
    SignerCheck check = SignerCheck::kUntrusted;
    long trustResult = 0;  // WinVerifyTrust's answer
    std::wstring subject;  // the signer's subject, when one was found
    std::string why;       // what is wrong with the image, for kPadded
};

// Checks the open file hFile (a HANDLE, read from its start whatever its file pointer), which
// path names for WinVerifyTrust's own use. The caller keeps the file open, and others from
// changing it, until it has used what was checked.
SignerCheckResult CheckInstallerSigner(void* hFile, const wchar_t* path,
                                       const std::vector<SignerPin>& pins);

// Loads and opens what CheckInstallerSigner needs on its first use, which otherwise takes most of
// its time: the trust provider (through a check of the open file hFile at path, whose answer is
// not used), the certificate stores that a signature's chain is built from, and the chain engine.
void PrepareInstallerSignerCheck(void* hFile, const wchar_t* path);
