#include "system/program_image.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

void Put16(Bytes* b, std::size_t at, std::uint16_t v) {
    (*b)[at] = v & 0xFF;
    (*b)[at + 1] = v >> 8;
}
void Put32(Bytes* b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) (*b)[at + i] = v >> (8 * i) & 0xFF;
}

// A PE32 image with one section, ".rsrc", that holds a version resource of the given file
// version, as a resource compiler lays it out: type, name and language directories, a data
// entry, then VS_VERSIONINFO with its fixed part.
struct VersionedImage {
    static constexpr std::size_t kPe = 0x40, kOptional = kPe + 24, kSections = kOptional + 224;
    static constexpr std::size_t kRaw = 0x200;  // the section's bytes in the file
    static constexpr std::uint32_t kAddress = 0x1000;
    static constexpr std::size_t kTypes = 0, kNames = 0x18, kLanguages = 0x30, kData = 0x48,
                                 kInfo = 0x58;
    Bytes bytes = Bytes(kRaw + kInfo + 92);

    VersionedImage(std::uint32_t high, std::uint32_t low) {
        bytes[0] = 'M';
        bytes[1] = 'Z';
        Put32(&bytes, 0x3C, kPe);
        std::memcpy(&bytes[kPe], "PE\0\0", 4);
        Put16(&bytes, kPe + 4, 0x14C);
        Put16(&bytes, kPe + 6, 1);
        Put16(&bytes, kPe + 20, 224);
        Put16(&bytes, kOptional, 0x10B);
        Put32(&bytes, kOptional + 92, 16);
        const std::uint32_t size = static_cast<std::uint32_t>(bytes.size() - kRaw);
        Put32(&bytes, kOptional + 96 + 2 * 8, kAddress);
        Put32(&bytes, kOptional + 96 + 2 * 8 + 4, size);
        std::memcpy(&bytes[kSections], ".rsrc", 5);
        Put32(&bytes, kSections + 8, size);
        Put32(&bytes, kSections + 12, kAddress);
        Put32(&bytes, kSections + 16, size);
        Put32(&bytes, kSections + 20, kRaw);
        Directory(kTypes, 16, 0x80000000 | kNames);
        Directory(kNames, 1, 0x80000000 | kLanguages);
        Directory(kLanguages, 0x409, kData);
        Put32(&bytes, kRaw + kData, kAddress + kInfo);
        Put32(&bytes, kRaw + kData + 4, 92);
        const std::size_t info = kRaw + kInfo;
        Put16(&bytes, info, 92);
        Put16(&bytes, info + 2, 52);
        const char key[] = "VS_VERSION_INFO";
        for (std::size_t i = 0; i < sizeof key; ++i) bytes[info + 6 + 2 * i] = key[i];
        Put32(&bytes, info + 40, 0xFEEF04BD);
        Put32(&bytes, info + 44, 0x10000);
        Put32(&bytes, info + 48, high);
        Put32(&bytes, info + 52, low);
    }
    // A directory with one numbered entry.
    void Directory(std::size_t at, std::uint32_t id, std::uint32_t target) {
        Put16(&bytes, kRaw + at + 14, 1);
        Put32(&bytes, kRaw + at + 16, id);
        Put32(&bytes, kRaw + at + 20, target);
    }
};

// Reads from a buffer of exactly the image's size, so that ASan sees any read past it.
bool ReadVersion(const Bytes& image, ProgramVersion* version, std::string* why) {
    std::unique_ptr<unsigned char[]> exact(new unsigned char[image.size() + 1]);
    if (!image.empty()) std::memcpy(exact.get(), image.data(), image.size());
    const unsigned char* data = exact.get();
    const std::size_t size = image.size();
    const ImageReader read = [data, size](std::uint64_t offset, void* buffer, std::size_t bytes) {
        if (offset > size || bytes > size - offset) return false;
        std::memcpy(buffer, data + offset, bytes);
        return true;
    };
    return ReadProgramVersion(read, size, version, why);
}

TEST(ProgramVersion, ParsesOneToFourDecimalPartsAndComparesThemInOrder) {
    const struct {
        const char* text;
        bool ok;
        const char* formatted;
    } kCases[] = {
        {"12", true, "12.0.0.0"},
        {"1.2", true, "1.2.0.0"},
        {"1.2.3.4", true, "1.2.3.4"},
        {"65535.0.0.65535", true, "65535.0.0.65535"},
        {"65536", false, ""},
        {"", false, ""},
        {"1.", false, ""},
        {".1", false, ""},
        {"1..2", false, ""},
        {"1.2.3.4.5", false, ""},
        {" 1", false, ""},
        {"+1", false, ""},
        {"1.2a", false, ""},
        {"99999999999999999999", false, ""},
    };
    for (const auto& c : kCases) {
        ProgramVersion version;
        EXPECT_EQ(ParseProgramVersion(c.text, &version), c.ok) << c.text;
        if (c.ok) EXPECT_EQ(FormatProgramVersion(version), c.formatted) << c.text;
    }
    ProgramVersion a, b;
    ASSERT_TRUE(ParseProgramVersion("1.2.3.4", &a));
    for (const char* higher : {"1.2.3.5", "1.2.4", "1.3", "2"}) {
        ASSERT_TRUE(ParseProgramVersion(higher, &b));
        EXPECT_LT(CompareProgramVersions(a, b), 0) << higher;
        EXPECT_GT(CompareProgramVersions(b, a), 0) << higher;
    }
    ASSERT_TRUE(ParseProgramVersion("1.2.3.4", &b));
    EXPECT_EQ(CompareProgramVersions(a, b), 0);
}

TEST(ReadProgramVersion, ReadsTheFixedFileVersion) {
    ProgramVersion version;
    std::string why;
    ASSERT_TRUE(ReadVersion(VersionedImage(0x00010002, 0x00030004).bytes, &version, &why)) << why;
    EXPECT_EQ(FormatProgramVersion(version), "1.2.3.4");
}

TEST(ReadProgramVersion, RefusesMalformedResourcesWithAReason) {
    using V = VersionedImage;
    const struct {
        const char* name;
        void (*change)(Bytes*);
        const char* reason;
    } kCases[] = {
        {"no resource directory", [](Bytes* b) { Put32(b, V::kOptional + 96 + 16, 0); },
         "no version resource"},
        {"two data directories", [](Bytes* b) { Put32(b, V::kOptional + 92, 2); },
         "no version resource"},
        {"no version type", [](Bytes* b) { Put32(b, V::kRaw + V::kTypes + 16, 3); },
         "no version resource"},
        {"type leads to data", [](Bytes* b) { Put32(b, V::kRaw + V::kTypes + 20, V::kData); },
         "no version resource"},
        {"language leads to a directory",
         [](Bytes* b) { Put32(b, V::kRaw + V::kLanguages + 20, 0x80000000 | V::kTypes); },
         "no version resource"},
        {"directory outside the section",
         [](Bytes* b) { Put32(b, V::kRaw + V::kTypes + 20, 0x80000000 | 0x7FFFFFF0); },
         "no version resource"},
        {"thousands of entries", [](Bytes* b) { Put16(b, V::kRaw + V::kTypes + 14, 60000); },
         "no version resource"},
        {"too many sections", [](Bytes* b) { Put16(b, V::kPe + 6, 97); }, "no version resource"},
        {"data outside the section",
         [](Bytes* b) { Put32(b, V::kRaw + V::kData, V::kAddress + 0x1000); },
         "version resource is malformed"},
        {"data too short", [](Bytes* b) { Put32(b, V::kRaw + V::kData + 4, 60); },
         "version resource is malformed"},
        {"wrong key", [](Bytes* b) { (*b)[V::kRaw + V::kInfo + 6] = 'W'; },
         "version resource is malformed"},
        {"no fixed part", [](Bytes* b) { Put16(b, V::kRaw + V::kInfo + 2, 0); },
         "version resource is malformed"},
        {"wrong signature", [](Bytes* b) { Put32(b, V::kRaw + V::kInfo + 40, 0xFEEF04BE); },
         "version resource is malformed"},
        {"no PE signature", [](Bytes* b) { (*b)[V::kPe] = 'X'; }, "no PE signature"},
    };
    for (const auto& c : kCases) {
        VersionedImage image(0x00010002, 0x00030004);
        c.change(&image.bytes);
        ProgramVersion version;
        std::string why;
        EXPECT_FALSE(ReadVersion(image.bytes, &version, &why)) << c.name;
        EXPECT_NE(why.find(c.reason), std::string::npos) << c.name << ": " << why;
    }
}

// Wherever the image is cut, nothing is read past the cut.
TEST(ReadProgramVersion, RefusesAnImageCutAnywhere) {
    const Bytes whole = VersionedImage(0x00010002, 0x00030004).bytes;
    for (std::size_t size = 0; size < whole.size(); ++size) {
        ProgramVersion version;
        std::string why;
        EXPECT_FALSE(ReadVersion(Bytes(whole.begin(), whole.begin() + size), &version, &why))
            << size;
        EXPECT_FALSE(why.empty()) << size;
    }
}

}  // namespace
