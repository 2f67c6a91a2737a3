#include "system/installer_signer.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>

namespace {

// The program image's fields that lead to its certificate table. Offsets are from the start of
// the header they belong to.
constexpr std::uint64_t kDosHeaderBytes = 64;
constexpr std::uint64_t kNewHeaderOffsetField = 0x3C;  // e_lfanew
constexpr std::uint64_t kFileHeaderBytes = 24;         // "PE\0\0" and the COFF header
constexpr std::uint64_t kOptionalHeaderSizeField = 4 + 16;
constexpr std::uint16_t kPe32Magic = 0x10B;
constexpr std::uint16_t kPe32PlusMagic = 0x20B;
constexpr std::uint64_t kDirectoryCountField32 = 92;       // NumberOfRvaAndSizes in PE32
constexpr std::uint64_t kDirectoryCountField32Plus = 108;  // and in PE32+
constexpr std::uint32_t kSecurityDirectory = 4;
constexpr std::uint64_t kDirectoryEntryBytes = 8;
constexpr std::uint64_t kCertificateHeaderBytes = 8;  // dwLength, wRevision, wCertificateType
constexpr std::uint16_t kCertificateRevision2 = 0x0200;
constexpr std::uint16_t kCertificateTypePkcsSignedData = 0x0002;

std::uint16_t Read16(const unsigned char* p) {
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}

std::uint32_t Read32(const unsigned char* p) {
    return static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
           static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24;
}

bool Fail(std::string* why, const std::string& reason) {
    *why = reason;
    return false;
}

std::string Hex16(std::uint16_t value) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%04x", static_cast<unsigned>(value));
    return text;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

bool ParseOnePin(const std::string& text, SignerPin* pin) {
    if (text.size() != pin->size() * 2) return false;
    for (std::size_t i = 0; i < pin->size(); ++i) {
        const int high = HexValue(text[2 * i]);
        const int low = HexValue(text[2 * i + 1]);
        if (high < 0 || low < 0) return false;
        (*pin)[i] = static_cast<unsigned char>(high << 4 | low);
    }
    return true;
}

}  // namespace

bool ParseSignerPins(const std::string& text, std::vector<SignerPin>* pins) {
    pins->clear();
    if (text.empty()) return true;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = text.find(';', start);
        SignerPin pin;
        if (!ParseOnePin(text.substr(start, end - start), &pin)) {
            pins->clear();
            return false;
        }
        pins->push_back(pin);
        if (end == std::string::npos) return true;
        start = end + 1;
    }
}

std::string FormatSignerPin(const SignerPin& pin) {
    static const char kDigits[] = "0123456789abcdef";
    std::string text;
    for (const unsigned char byte : pin) {
        text += kDigits[byte >> 4];
        text += kDigits[byte & 0xF];
    }
    return text;
}

std::string SubjectPart(const std::string& key, const std::string& value) {
    bool quote = !value.empty() && (value.front() == ' ' || value.back() == ' ');
    for (const char c : value) {
        if (c == ',' || c == '+' || c == '=' || c == '"' || c == '<' || c == '>' || c == ';' ||
            c == '#' || c == '\n' || c == '\r') {
            quote = true;
        }
    }
    std::string part = key + "=";
    if (!quote) return part + value;
    part += '"';
    for (const char c : value) {
        if (c == '"') part += '"';
        part += c;
    }
    return part + '"';
}

bool IsSignerPinned(const SignerPin& pin, const std::vector<SignerPin>& pins) {
    return std::find(pins.begin(), pins.end(), pin) != pins.end();
}

// Every position is a 64-bit sum of 32-bit fields, so no field's value can wrap it around the
// size check that follows it.
bool ReadInstallerSigner(const unsigned char* data, std::size_t size, InstallerSigner* signer,
                         std::string* why) {
    const std::uint64_t fileSize = size;
    if (fileSize < 2 || data[0] != 'M' || data[1] != 'Z') {
        return Fail(why, "not a program: no MZ header");
    }
    if (fileSize < kDosHeaderBytes) return Fail(why, "the program's DOS header is cut short");
    const std::uint64_t peHeader = Read32(data + kNewHeaderOffsetField);
    if (peHeader + kFileHeaderBytes > fileSize) {
        return Fail(why, "the PE header lies outside the file");
    }
    const unsigned char* pe = data + peHeader;
    if (pe[0] != 'P' || pe[1] != 'E' || pe[2] != 0 || pe[3] != 0) {
        return Fail(why, "not a program: no PE signature");
    }
    const std::uint64_t optionalSize = Read16(pe + kOptionalHeaderSizeField);
    const std::uint64_t optional = peHeader + kFileHeaderBytes;
    if (optionalSize < 2 || optional + 2 > fileSize) {
        return Fail(why, "the optional header is missing or cut short");
    }
    const std::uint16_t magic = Read16(data + optional);
    if (magic != kPe32Magic && magic != kPe32PlusMagic) {
        return Fail(why, "the optional header has the unknown magic " + Hex16(magic));
    }
    const std::uint64_t countField =
        magic == kPe32Magic ? kDirectoryCountField32 : kDirectoryCountField32Plus;
    const std::uint64_t directories = countField + 4;
    if (directories > optionalSize || optional + directories > fileSize) {
        return Fail(why, "the optional header is cut short");
    }
    if (Read32(data + optional + countField) <= kSecurityDirectory) {
        return Fail(why, "the program is not signed");
    }
    const std::uint64_t entryEnd = directories + (kSecurityDirectory + 1) * kDirectoryEntryBytes;
    if (entryEnd > optionalSize || optional + entryEnd > fileSize) {
        return Fail(why, "the data directories run past the optional header or the file");
    }
    // The security directory alone holds a file offset rather than an address in memory, since
    // the certificate table is not loaded with the image.
    const unsigned char* entry = data + optional + entryEnd - kDirectoryEntryBytes;
    const std::uint64_t tableStart = Read32(entry);
    const std::uint64_t tableSize = Read32(entry + 4);
    if (tableStart == 0 || tableSize == 0) return Fail(why, "the program is not signed");
    const std::uint64_t tableEnd = tableStart + tableSize;
    if (tableEnd > fileSize) return Fail(why, "the certificate table lies outside the file");

    // Entries start on 8-byte boundaries; the first PKCS#7 one is the signature.
    for (std::uint64_t at = tableStart; tableEnd - at >= kCertificateHeaderBytes;) {
        const std::uint64_t length = Read32(data + at);
        if (length < kCertificateHeaderBytes) {
            return Fail(why, "a certificate entry is shorter than its own header");
        }
        if (length > tableEnd - at) {
            return Fail(why, "a certificate entry runs past the end of the certificate table");
        }
        if (Read16(data + at + 4) == kCertificateRevision2 &&
            Read16(data + at + 6) == kCertificateTypePkcsSignedData) {
            return ReadSignatureSigner(data + at + kCertificateHeaderBytes,
                                       static_cast<std::size_t>(length - kCertificateHeaderBytes),
                                       signer, why);
        }
        const std::uint64_t padded = (length + 7) & ~std::uint64_t{7};
        if (padded >= tableEnd - at) break;
        at += padded;
    }
    return Fail(why, "the certificate table holds no PKCS#7 signature");
}
