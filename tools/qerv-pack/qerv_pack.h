#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "system/installer_signer.h"

// The publisher's tool: makes, inspects and decodes packages. Takes the arguments after the
// program's name and gives the process exit code.
int RunQervPack(const std::vector<std::wstring>& arguments);

// Exit codes.
constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;    // the command ran and failed, or the package is not sound
constexpr int kExitBadUsage = 2;  // the command line itself is wrong

// The commands, each printing what it did or why it failed. With signers, pack refuses an
// installer that none of them signed.
int PackCommand(const std::wstring& installer, const std::wstring& package, std::uint32_t key,
                const std::vector<SignerPin>& signers);
// A package, or a loose installer (a program, recognised by its MZ header).
int InspectCommand(const std::wstring& path);
int UnpackCommand(const std::wstring& package, const std::wstring& output);

// Prints "qerv-pack: " and the message to the error stream.
void ReportError(const char* format, ...) __attribute__((format(printf, 1, 2)));
