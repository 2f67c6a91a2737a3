#include "system/installer_signer.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "system/program_image.h"

namespace {

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

bool ReadInstallerSigner(const unsigned char* data, std::size_t size, InstallerSigner* signer,
                         std::string* why) {
    const ImageReader read = [data, size](std::uint64_t offset, void* buffer, std::size_t bytes) {
        if (offset > size || bytes > size - offset) return false;
        std::memcpy(buffer, data + offset, bytes);
        return true;
    };
    SignatureSpan span;
    if (!LocateSignature(read, size, &span, why)) return false;
    return ReadSignatureSigner(data + span.offset, span.size, signer, why);
}
