#include "qerv_pack.h"

#include <cstdarg>
#include <cstdio>
#include <random>

#include "system/installer_signer.h"
#include "system/package_format.h"
#include "system/wide_text.h"

namespace {

const char kUsage[] =
    "usage:\n"
    "  qerv-pack pack INSTALLER PACKAGE [--key HEX8] [--signer PIN]...\n"
    "      Makes PACKAGE from INSTALLER (1 to %u bytes, so that the package stays within\n"
    "      the decoder's limit of %u bytes). HEX8 is the masking key as 8 hexadecimal\n"
    "      digits giving its four bytes in the order they are stored in the package: 01020304\n"
    "      stores the bytes 01 02 03 04. Without --key a random key is used.\n"
    "      With --signer, INSTALLER is packed only when its Authenticode signer's key has one\n"
    "      of the given pins (64 hexadecimal digits each, as inspect shows them; the option\n"
    "      may be repeated); otherwise nothing is written and the exit code is 1. Only the\n"
    "      signer is read: the signature itself is left for the setup to verify.\n"
    "  qerv-pack inspect PACKAGE\n"
    "      Shows the header (magic, key, payload length), whether the payload's MD5 matches,\n"
    "      and the installer's signer and key pin. Exits with 1 when any header field or the\n"
    "      digest is wrong; an unsigned installer is shown, not a failure.\n"
    "  qerv-pack inspect INSTALLER\n"
    "      Shows the signer and key pin of an installer that is not packed.\n"
    "  qerv-pack unpack PACKAGE OUT\n"
    "      Decodes PACKAGE into OUT as the setup does, and prints the result code and its\n"
    "      meaning. Exits with 1 when the result is not 0.\n"
    "  qerv-pack --help\n"
    "      Shows this text.\n"
    "Wrong arguments exit with 2.\n";

int BadUsage(const char* message, const std::string& detail) {
    ReportError("%s%s\nrun 'qerv-pack --help' for usage", message, detail.c_str());
    return kExitBadUsage;
}

int HexDigit(wchar_t c) {
    if (c >= L'0' && c <= L'9') return c - L'0';
    if (c >= L'a' && c <= L'f') return c - L'a' + 10;
    if (c >= L'A' && c <= L'F') return c - L'A' + 10;
    return -1;
}

// Eight hex digits, the key bytes in file order; the first byte is the key's lowest.
bool ParseKey(const std::wstring& text, std::uint32_t* key) {
    if (text.size() != 8) return false;
    std::uint32_t value = 0;
    for (int byte = 0; byte < 4; ++byte) {
        const int high = HexDigit(text[2 * byte]);
        const int low = HexDigit(text[2 * byte + 1]);
        if (high < 0 || low < 0) return false;
        value |= static_cast<std::uint32_t>(high << 4 | low) << (8 * byte);
    }
    *key = value;
    return true;
}

int Pack(const std::vector<std::wstring>& arguments) {
    std::vector<std::wstring> paths;
    bool hasKey = false;
    std::uint32_t key = 0;
    std::vector<SignerPin> signers;
    for (size_t i = 1; i < arguments.size(); ++i) {
        const std::wstring& argument = arguments[i];
        if (argument == L"--key") {
            if (hasKey) return BadUsage("--key given twice", "");
            if (i + 1 == arguments.size()) return BadUsage("--key needs a value", "");
            if (!ParseKey(arguments[++i], &key)) {
                return BadUsage("the key must be 8 hexadecimal digits, not ",
                                "'" + WideToUtf8(arguments[i].c_str()) + "'");
            }
            hasKey = true;
        } else if (argument == L"--signer") {
            if (i + 1 == arguments.size()) return BadUsage("--signer needs a value", "");
            // ParseSignerPins also takes a ';' list, as the setup's build does.
            const std::string text = WideToUtf8(arguments[++i].c_str());
            std::vector<SignerPin> pins;
            if (!ParseSignerPins(text, &pins) || pins.empty()) {
                return BadUsage("a signer pin must be 64 hexadecimal digits, not ",
                                "'" + text + "'");
            }
            signers.insert(signers.end(), pins.begin(), pins.end());
        } else if (argument.size() > 1 && argument[0] == L'-') {
            return BadUsage("unknown option for pack: ", WideToUtf8(argument.c_str()));
        } else {
            paths.push_back(argument);
        }
    }
    if (paths.size() != 2) return BadUsage("pack takes INSTALLER and PACKAGE", "");
    if (!hasKey) key = std::random_device()();
    return PackCommand(paths[0], paths[1], key, signers);
}

}  // namespace

void ReportError(const char* format, ...) {
    std::fputs("qerv-pack: ", stderr);
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
    std::fputc('\n', stderr);
}

int RunQervPack(const std::vector<std::wstring>& arguments) {
    if (arguments.empty()) return BadUsage("no command given", "");
    const std::wstring& command = arguments[0];
    if (command == L"--help" || command == L"-h" || command == L"help") {
        std::printf(kUsage, static_cast<unsigned>(kPackageMaxBytes - kPackageHeaderBytes),
                    static_cast<unsigned>(kPackageMaxBytes));
        return kExitOk;
    }
    if (command == L"pack") return Pack(arguments);
    if (command == L"inspect") {
        if (arguments.size() != 2) return BadUsage("inspect takes PACKAGE or INSTALLER", "");
        return InspectCommand(arguments[1]);
    }
    if (command == L"unpack") {
        if (arguments.size() != 3) return BadUsage("unpack takes PACKAGE and OUT", "");
        return UnpackCommand(arguments[1], arguments[2]);
    }
    return BadUsage("unknown command: ", WideToUtf8(command.c_str()));
}
