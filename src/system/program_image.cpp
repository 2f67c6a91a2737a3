#include "system/program_image.h"

#include <cstdio>

namespace {

// The fields that lead from the start of the image to its data directories and sections.
// Offsets are from the start of the header they belong to.
constexpr std::uint64_t kDosHeaderBytes = 64;
constexpr std::uint64_t kNewHeaderOffsetField = 0x3C;  // e_lfanew
constexpr std::uint64_t kFileHeaderBytes = 24;         // "PE\0\0" and the COFF header
constexpr std::uint64_t kSectionCountField = 4 + 2;
constexpr std::uint64_t kOptionalHeaderSizeField = 4 + 16;
constexpr std::uint16_t kPe32Magic = 0x10B;
constexpr std::uint16_t kPe32PlusMagic = 0x20B;
constexpr std::uint64_t kDirectoryCountField32 = 92;       // NumberOfRvaAndSizes in PE32
constexpr std::uint64_t kDirectoryCountField32Plus = 108;  // and in PE32+
constexpr std::uint64_t kDirectoryEntryBytes = 8;
constexpr std::uint32_t kResourceDirectory = 2;
constexpr std::uint32_t kSecurityDirectory = 4;
// The loader accepts at most this many sections.
constexpr std::uint16_t kMostSections = 96;
constexpr std::uint64_t kSectionHeaderBytes = 40;

constexpr std::uint64_t kCertificateHeaderBytes = 8;  // dwLength, wRevision, wCertificateType
constexpr std::uint16_t kCertificateRevision2 = 0x0200;
constexpr std::uint16_t kCertificateTypePkcsSignedData = 0x0002;
// Entries start on 8-byte boundaries, so fewer than 8 zero bytes may follow the last one.
constexpr std::uint64_t kTableAlignment = 8;
constexpr unsigned char kDerSequence = 0x30;

constexpr std::uint32_t kResourceTypeVersion = 16;
constexpr std::uint32_t kResourceSubdirectory = 0x80000000;
constexpr std::uint64_t kResourceDirectoryBytes = 16;
constexpr std::uint64_t kResourceEntryBytes = 8;
// A program has a handful of resource types; a table of thousands is not a program's.
constexpr std::uint32_t kMostResourceEntries = 1024;
// VS_VERSIONINFO: three 16-bit fields, the key "VS_VERSION_INFO" with its terminator, padding
// to 32 bits, then VS_FIXEDFILEINFO.
constexpr char kVersionKey[] = "VS_VERSION_INFO";
constexpr std::uint64_t kVersionKeyAt = 6;
constexpr std::uint64_t kFixedInfoAt = 40;
constexpr std::uint64_t kFixedInfoBytes = 52;
constexpr std::uint32_t kFixedInfoSignature = 0xFEEF04BD;

bool Fail(std::string* why, const std::string& reason) {
    *why = reason;
    return false;
}

// The image, read only within its size.
class Image {
  public:
    Image(const ImageReader& read, std::uint64_t size) : m_read(read), m_size(size) {}
    std::uint64_t Size() const { return m_size; }
    bool Bytes(std::uint64_t at, void* buffer, std::uint64_t size) const {
        return at <= m_size && size <= m_size - at && m_read(at, buffer, size);
    }
    bool U16(std::uint64_t at, std::uint16_t* value) const {
        unsigned char b[2];
        if (!Bytes(at, b, sizeof b)) return false;
        *value = static_cast<std::uint16_t>(b[0] | b[1] << 8);
        return true;
    }
    bool U32(std::uint64_t at, std::uint32_t* value) const {
        unsigned char b[4];
        if (!Bytes(at, b, sizeof b)) return false;
        *value = static_cast<std::uint32_t>(b[0]) | static_cast<std::uint32_t>(b[1]) << 8 |
                 static_cast<std::uint32_t>(b[2]) << 16 | static_cast<std::uint32_t>(b[3]) << 24;
        return true;
    }

  private:
    const ImageReader& m_read;
    std::uint64_t m_size;
};

struct Headers {
    std::uint64_t optional = 0;  // file offset of the optional header
    std::uint64_t optionalSize = 0;
    std::uint64_t directories = 0;  // offset of the data directories within the optional header
    std::uint32_t directoryCount = 0;
    std::uint64_t sectionTable = 0;  // file offset
    std::uint16_t sectionCount = 0;
};

std::string Hex16(std::uint16_t value) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%04x", static_cast<unsigned>(value));
    return text;
}

// Every position is a 64-bit sum of 32-bit fields, so no field's value can wrap it around the
// size check that follows it.
bool ReadHeaders(const Image& image, Headers* headers, std::string* why) {
    unsigned char mz[2];
    if (!image.Bytes(0, mz, sizeof mz) || mz[0] != 'M' || mz[1] != 'Z') {
        return Fail(why, "not a program: no MZ header");
    }
    std::uint32_t peHeader = 0;
    if (image.Size() < kDosHeaderBytes || !image.U32(kNewHeaderOffsetField, &peHeader)) {
        return Fail(why, "the program's DOS header is cut short");
    }
    unsigned char pe[4];
    if (peHeader + kFileHeaderBytes > image.Size() || !image.Bytes(peHeader, pe, sizeof pe)) {
        return Fail(why, "the PE header lies outside the file");
    }
    if (pe[0] != 'P' || pe[1] != 'E' || pe[2] != 0 || pe[3] != 0) {
        return Fail(why, "not a program: no PE signature");
    }
    std::uint16_t optionalSize = 0;
    std::uint16_t magic = 0;
    image.U16(peHeader + kSectionCountField, &headers->sectionCount);
    image.U16(peHeader + kOptionalHeaderSizeField, &optionalSize);
    headers->optional = peHeader + kFileHeaderBytes;
    headers->optionalSize = optionalSize;
    if (optionalSize < 2 || !image.U16(headers->optional, &magic)) {
        return Fail(why, "the optional header is missing or cut short");
    }
    if (magic != kPe32Magic && magic != kPe32PlusMagic) {
        return Fail(why, "the optional header has the unknown magic " + Hex16(magic));
    }
    const std::uint64_t countField =
        magic == kPe32Magic ? kDirectoryCountField32 : kDirectoryCountField32Plus;
    headers->directories = countField + 4;
    if (headers->directories > optionalSize ||
        !image.U32(headers->optional + countField, &headers->directoryCount) ||
        headers->optional + headers->directories > image.Size()) {
        return Fail(why, "the optional header is cut short");
    }
    headers->sectionTable = headers->optional + optionalSize;
    return true;
}

// The address and size of a data directory; false when the image does not hold its entry.
bool ReadDirectory(const Image& image, const Headers& headers, std::uint32_t index,
                   std::uint32_t* address, std::uint32_t* size, std::string* why) {
    const std::uint64_t entryEnd = headers.directories + (index + 1) * kDirectoryEntryBytes;
    if (entryEnd > headers.optionalSize ||
        !image.U32(headers.optional + entryEnd - kDirectoryEntryBytes, address) ||
        !image.U32(headers.optional + entryEnd - 4, size)) {
        return Fail(why, "the data directories run past the optional header or the file");
    }
    return true;
}

// The length of the DER value that starts at `at`, its header included; false when no
// definite-length SEQUENCE starts there.
bool DerLength(const Image& image, std::uint64_t at, std::uint64_t* length) {
    unsigned char header[2];
    if (!image.Bytes(at, header, sizeof header) || header[0] != kDerSequence) return false;
    if (header[1] < 0x80) {
        *length = 2 + header[1];
        return true;
    }
    const unsigned count = header[1] & 0x7F;
    if (count == 0 || count > 4) return false;
    unsigned char bytes[4];
    if (!image.Bytes(at + 2, bytes, count)) return false;
    std::uint64_t content = 0;
    for (unsigned i = 0; i < count; ++i) content = content << 8 | bytes[i];
    *length = 2 + count + content;
    return true;
}

// Only zero bytes between from and to.
bool AllZero(const Image& image, std::uint64_t from, std::uint64_t to) {
    unsigned char bytes[kTableAlignment];
    if (to - from > sizeof bytes || !image.Bytes(from, bytes, to - from)) return false;
    for (std::uint64_t i = 0; i < to - from; ++i) {
        if (bytes[i] != 0) return false;
    }
    return true;
}

// The file offset of an address in memory, where a section's raw data in the file holds size
// bytes of it.
bool FileOffsetOf(const Image& image, const Headers& headers, std::uint64_t address,
                  std::uint64_t size, std::uint64_t* offset) {
    if (headers.sectionCount > kMostSections) return false;
    for (std::uint16_t i = 0; i < headers.sectionCount; ++i) {
        const std::uint64_t section = headers.sectionTable + i * kSectionHeaderBytes;
        std::uint32_t start = 0, rawSize = 0, rawOffset = 0;
        if (!image.U32(section + 12, &start) || !image.U32(section + 16, &rawSize) ||
            !image.U32(section + 20, &rawOffset)) {
            return false;
        }
        if (address >= start && address + size <= std::uint64_t{start} + rawSize) {
            *offset = rawOffset + (address - start);
            return *offset + size <= image.Size();
        }
    }
    return false;
}

// One entry of a resource directory: its name or number, and where it leads.
struct ResourceEntry {
    std::uint32_t id = 0;
    std::uint32_t target = 0;
};

// The entry of the directory at `directory` (an address) with the number `id`, or the first
// entry when id is 0.
bool FindResourceEntry(const Image& image, const Headers& headers, std::uint64_t directory,
                       std::uint32_t id, ResourceEntry* found) {
    std::uint64_t at = 0;
    std::uint16_t named = 0, numbered = 0;
    if (!FileOffsetOf(image, headers, directory, kResourceDirectoryBytes, &at) ||
        !image.U16(at + 12, &named) || !image.U16(at + 14, &numbered)) {
        return false;
    }
    const std::uint32_t count = std::uint32_t{named} + numbered;
    if (count > kMostResourceEntries) return false;
    // Named entries come first; numbered ones follow in ascending order.
    for (std::uint32_t i = id == 0 ? 0 : named; i < count; ++i) {
        const std::uint64_t entry = directory + kResourceDirectoryBytes + i * kResourceEntryBytes;
        std::uint64_t entryAt = 0;
        if (!FileOffsetOf(image, headers, entry, kResourceEntryBytes, &entryAt) ||
            !image.U32(entryAt, &found->id) || !image.U32(entryAt + 4, &found->target)) {
            return false;
        }
        if (id == 0 || found->id == id) return true;
    }
    return false;
}

}  // namespace

bool LocateSignature(const ImageReader& read, std::uint64_t imageSize, SignatureSpan* span,
                     std::string* why) {
    const Image image(read, imageSize);
    Headers headers;
    if (!ReadHeaders(image, &headers, why)) return false;
    if (headers.directoryCount <= kSecurityDirectory) return Fail(why, "the program is not signed");
    // The security directory alone holds a file offset rather than an address in memory, since
    // the certificate table is not loaded with the image.
    std::uint32_t tableOffset = 0, tableSize = 0;
    if (!ReadDirectory(image, headers, kSecurityDirectory, &tableOffset, &tableSize, why)) {
        return false;
    }
    if (tableOffset == 0 || tableSize == 0) return Fail(why, "the program is not signed");
    const std::uint64_t tableStart = tableOffset;
    const std::uint64_t tableEnd = tableStart + tableSize;
    if (tableEnd > imageSize) return Fail(why, "the certificate table lies outside the file");

    // Entries start on 8-byte boundaries; the first PKCS#7 one is the signature.
    for (std::uint64_t at = tableStart; tableEnd - at >= kCertificateHeaderBytes;) {
        std::uint32_t length = 0;
        std::uint16_t revision = 0, type = 0;
        if (!image.U32(at, &length) || !image.U16(at + 4, &revision) || !image.U16(at + 6, &type)) {
            return Fail(why, "the certificate table cannot be read");
        }
        if (length < kCertificateHeaderBytes) {
            return Fail(why, "a certificate entry is shorter than its own header");
        }
        if (length > tableEnd - at) {
            return Fail(why, "a certificate entry runs past the end of the certificate table");
        }
        if (revision == kCertificateRevision2 && type == kCertificateTypePkcsSignedData) {
            const std::uint64_t start = at + kCertificateHeaderBytes;
            std::uint64_t derLength = 0;
            if (!DerLength(image, start, &derLength) ||
                derLength > length - kCertificateHeaderBytes) {
                return Fail(why, "the signature is not a readable PKCS#7 message");
            }
            const std::uint64_t end = start + derLength;
            if (tableEnd - end >= kTableAlignment || !AllZero(image, end, tableEnd)) {
                return Fail(why, "data follows the signature in the certificate table");
            }
            if (tableEnd != imageSize) return Fail(why, "data follows the certificate table");
            span->offset = start;
            span->size = static_cast<std::uint32_t>(derLength);
            return true;
        }
        const std::uint64_t padded = (std::uint64_t{length} + 7) & ~std::uint64_t{7};
        if (padded >= tableEnd - at) break;
        at += padded;
    }
    return Fail(why, "the certificate table holds no PKCS#7 signature");
}

bool ParseProgramVersion(const std::string& text, ProgramVersion* version) {
    *version = ProgramVersion();
    std::size_t part = 0;
    std::uint32_t value = 0;
    bool digits = false;
    for (const char c : text) {
        if (c == '.') {
            if (!digits || part == 3) return false;
            version->part[part++] = static_cast<std::uint16_t>(value);
            value = 0;
            digits = false;
        } else if (c >= '0' && c <= '9') {
            value = value * 10 + static_cast<std::uint32_t>(c - '0');
            if (value > 0xFFFF) return false;
            digits = true;
        } else {
            return false;
        }
    }
    if (!digits) return false;
    version->part[part] = static_cast<std::uint16_t>(value);
    return true;
}

std::string FormatProgramVersion(const ProgramVersion& version) {
    char text[24];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", version.part[0], version.part[1],
                  version.part[2], version.part[3]);
    return text;
}

int CompareProgramVersions(const ProgramVersion& a, const ProgramVersion& b) {
    for (int i = 0; i < 4; ++i) {
        if (a.part[i] != b.part[i]) return a.part[i] < b.part[i] ? -1 : 1;
    }
    return 0;
}

bool ReadProgramVersion(const ImageReader& read, std::uint64_t imageSize, ProgramVersion* version,
                        std::string* why) {
    const Image image(read, imageSize);
    Headers headers;
    if (!ReadHeaders(image, &headers, why)) return false;
    std::uint32_t resources = 0, resourcesSize = 0;
    if (headers.directoryCount <= kResourceDirectory ||
        !ReadDirectory(image, headers, kResourceDirectory, &resources, &resourcesSize, why) ||
        resources == 0) {
        return Fail(why, "the program has no version resource");
    }
    // Type, then name, then language: the first version resource of any name and language.
    ResourceEntry entry;
    const std::uint32_t wanted[] = {kResourceTypeVersion, 0, 0};
    std::uint64_t directory = resources;
    for (int level = 0; level < 3; ++level) {
        if (!FindResourceEntry(image, headers, directory, wanted[level], &entry) ||
            ((entry.target & kResourceSubdirectory) != 0) != (level < 2)) {
            return Fail(why, "the program has no version resource");
        }
        directory = std::uint64_t{resources} + (entry.target & ~kResourceSubdirectory);
    }
    std::uint64_t dataEntry = 0;
    std::uint32_t dataAddress = 0, dataSize = 0;
    if (!FileOffsetOf(image, headers, directory, 8, &dataEntry) ||
        !image.U32(dataEntry, &dataAddress) || !image.U32(dataEntry + 4, &dataSize)) {
        return Fail(why, "the program has no version resource");
    }
    std::uint64_t data = 0;
    std::uint16_t valueLength = 0;
    std::uint32_t signature = 0, high = 0, low = 0;
    unsigned char key[sizeof kVersionKey * 2];
    if (dataSize < kFixedInfoAt + kFixedInfoBytes ||
        !FileOffsetOf(image, headers, dataAddress, dataSize, &data) ||
        !image.U16(data + 2, &valueLength) || !image.Bytes(data + kVersionKeyAt, key, sizeof key) ||
        valueLength < kFixedInfoBytes || !image.U32(data + kFixedInfoAt, &signature) ||
        signature != kFixedInfoSignature || !image.U32(data + kFixedInfoAt + 8, &high) ||
        !image.U32(data + kFixedInfoAt + 12, &low)) {
        return Fail(why, "the version resource is malformed");
    }
    for (std::size_t i = 0; i < sizeof kVersionKey; ++i) {
        if (key[2 * i] != static_cast<unsigned char>(kVersionKey[i]) || key[2 * i + 1] != 0) {
            return Fail(why, "the version resource is malformed");
        }
    }
    *version = {{static_cast<std::uint16_t>(high >> 16), static_cast<std::uint16_t>(high),
                 static_cast<std::uint16_t>(low >> 16), static_cast<std::uint16_t>(low)}};
    return true;
}
