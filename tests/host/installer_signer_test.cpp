#include "system/installer_signer.h"

#include <gtest/gtest.h>
#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/pkcs7.h>
#include <openssl/x509.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

TEST(SignerPins, ParseAcceptsOnlyWholeListsOfWellFormedPins) {
    const std::string a(64, 'a');
    const std::string b = "0123456789abcdef0123456789ABCDEF0123456789abcdef0123456789ABCDEF";
    const struct {
        const char* name;
        std::string text;
        bool ok;
        std::size_t count;
    } kCases[] = {
        {"empty text pins nobody", "", true, 0},    {"one", a, true, 1},
        {"two, either case", a + ";" + b, true, 2}, {"63 digits", a.substr(1), false, 0},
        {"65 digits", a + "a", false, 0},           {"not hex", a.substr(1) + "g", false, 0},
        {"empty entry", a + ";;" + b, false, 0},    {"trailing separator", a + ";", false, 0},
        {"leading separator", ";" + a, false, 0},   {"space", a + "; " + b, false, 0},
    };
    for (const auto& c : kCases) {
        std::vector<SignerPin> pins(3);
        EXPECT_EQ(ParseSignerPins(c.text, &pins), c.ok) << c.name;
        ASSERT_EQ(pins.size(), c.count) << c.name;
        // What the tool prints is what the build takes, in lower case.
        for (const SignerPin& pin : pins) {
            std::vector<SignerPin> again;
            ASSERT_TRUE(ParseSignerPins(FormatSignerPin(pin), &again)) << c.name;
            EXPECT_EQ(again, std::vector<SignerPin>{pin}) << c.name;
            EXPECT_TRUE(IsSignerPinned(pin, pins)) << c.name;
        }
    }
    std::vector<SignerPin> pins;
    ASSERT_TRUE(ParseSignerPins(b, &pins));
    EXPECT_EQ(FormatSignerPin(pins[0]),
              "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef");
    EXPECT_FALSE(IsSignerPinned(pins[0], {}));
}

// OpenSSL owners for making signatures.
struct Free {
    void operator()(EVP_PKEY* p) const { EVP_PKEY_free(p); }
    void operator()(X509* p) const { X509_free(p); }
    void operator()(PKCS7* p) const { PKCS7_free(p); }
    void operator()(BIO* p) const { BIO_free(p); }
    void operator()(unsigned char* p) const { OPENSSL_free(p); }
};
template <typename T>
using Owned = std::unique_ptr<T, Free>;

// A throw-away signer, as a code-signing publisher's certificate would name it.
struct TestSigner {
    Owned<EVP_PKEY> key{EVP_EC_gen("P-256")};
    Owned<X509> certificate{X509_new()};

    TestSigner() {
        X509* cert = certificate.get();
        X509_NAME* name = X509_get_subject_name(cert);
        const auto add = [name](const char* field, const char* value) {
            X509_NAME_add_entry_by_txt(name, field, MBSTRING_UTF8,
                                       reinterpret_cast<const unsigned char*>(value), -1, -1, 0);
        };
        add("C", "XX");
        add("O", "Qerv \"Q\", Test");
        add("OU", "\xc3\x9cnits");
        add("CN", "Qerv Test Publisher");
        X509_set_version(cert, 2);
        ASN1_INTEGER_set(X509_get_serialNumber(cert), 1);
        X509_gmtime_adj(X509_getm_notBefore(cert), 0);
        X509_gmtime_adj(X509_getm_notAfter(cert), 3600);
        X509_set_issuer_name(cert, name);
        X509_set_pubkey(cert, key.get());
        X509_sign(cert, key.get(), EVP_sha256());
    }

    Bytes Sign(int flags) const {
        Owned<BIO> content{BIO_new_mem_buf("the image's digest", -1)};
        Owned<PKCS7> p7{
            PKCS7_sign(certificate.get(), key.get(), nullptr, content.get(), PKCS7_BINARY | flags)};
        return Der(p7.get());
    }

    // The key's own SubjectPublicKeyInfo, reached without the certificate.
    SignerPin Pin() const {
        unsigned char* der = nullptr;
        const int length = i2d_PUBKEY(key.get(), &der);
        Owned<unsigned char> owner{der};
        SignerPin pin;
        EVP_Digest(der, length, pin.data(), nullptr, EVP_sha256(), nullptr);
        return pin;
    }

    static Bytes Der(PKCS7* p7) {
        unsigned char* der = nullptr;
        const int length = i2d_PKCS7(p7, &der);
        Owned<unsigned char> owner{der};
        return Bytes(der, der + (length > 0 ? length : 0));
    }
};

void Put16(Bytes* b, std::size_t at, std::uint16_t v) {
    (*b)[at] = v & 0xFF;
    (*b)[at + 1] = v >> 8;
}
void Put32(Bytes* b, std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) (*b)[at + i] = v >> (8 * i) & 0xFF;
}

Bytes Append(Bytes first, const Bytes& second) {
    first.insert(first.end(), second.begin(), second.end());
    return first;
}

// A certificate table entry: its length counts the header and the content, not the padding to
// the next 8-byte boundary.
Bytes Entry(std::uint16_t type, const Bytes& content) {
    Bytes entry((8 + content.size() + 7) / 8 * 8);
    Put32(&entry, 0, static_cast<std::uint32_t>(8 + content.size()));
    Put16(&entry, 4, 0x0200);
    Put16(&entry, 6, type);
    std::copy(content.begin(), content.end(), entry.begin() + 8);
    return entry;
}

// A section-less program image with the certificate table right after its headers.
struct Image {
    static constexpr std::size_t kPe = 0x40, kOptional = kPe + 24;
    Bytes bytes;
    std::size_t security = 0;  // the security directory entry
    std::size_t table = 0;

    Image(bool plus, const Bytes& certificateTable) {
        const std::size_t directories = kOptional + (plus ? 112 : 96);
        security = directories + 4 * 8;
        table = directories + 16 * 8;
        bytes.resize(table);
        bytes[0] = 'M';
        bytes[1] = 'Z';
        Put32(&bytes, 0x3C, kPe);
        std::memcpy(&bytes[kPe], "PE\0\0", 4);
        Put16(&bytes, kPe + 4, plus ? 0x8664 : 0x14C);
        Put16(&bytes, kPe + 20, static_cast<std::uint16_t>(table - kOptional));
        Put16(&bytes, kOptional, plus ? 0x20B : 0x10B);
        Put32(&bytes, directories - 4, 16);
        Put32(&bytes, security, static_cast<std::uint32_t>(table));
        Put32(&bytes, security + 4, static_cast<std::uint32_t>(certificateTable.size()));
        bytes.insert(bytes.end(), certificateTable.begin(), certificateTable.end());
    }
};

// Reads from a buffer of exactly the image's size, so that ASan sees any read past it.
bool Read(const Bytes& image, InstallerSigner* signer, std::string* why) {
    std::unique_ptr<unsigned char[]> exact(new unsigned char[image.size()]);
    if (!image.empty()) std::memcpy(exact.get(), image.data(), image.size());
    return ReadInstallerSigner(exact.get(), image.size(), signer, why);
}

const TestSigner& Signer() {
    static const TestSigner signer;
    return signer;
}

// The signature is the first PKCS#7 entry, after any other kind, in both image formats; the
// subject reads most specific part first, quoted where a value holds a separator.
TEST(ReadInstallerSigner, FindsTheSignatureAndReadsSubjectAndKeyPin) {
    Bytes table = Entry(0x0001, Bytes(13, 0x5A));
    const Bytes signature = Entry(0x0002, Signer().Sign(0));
    table.insert(table.end(), signature.begin(), signature.end());
    for (const bool plus : {false, true}) {
        InstallerSigner signer;
        std::string why;
        ASSERT_TRUE(Read(Image(plus, table).bytes, &signer, &why)) << why;
        EXPECT_EQ(signer.subject,
                  L"CN=Qerv Test Publisher, OU=\u00dcnits, O=\"Qerv \"\"Q\"\", Test\", C=XX");
        EXPECT_EQ(signer.pin, Signer().Pin());
    }
}

TEST(ReadInstallerSigner, RefusesMalformedImagesWithAReason) {
    const Bytes signature = Signer().Sign(0);
    const Owned<PKCS7> data{PKCS7_new()};
    PKCS7_set_type(data.get(), NID_pkcs7_data);
    const struct {
        const char* name;
        Bytes table;
        std::function<void(Image*)> change;
        const char* reason;
    } kCases[] = {
        {"empty file", {}, [](Image* i) { i->bytes.clear(); }, "no MZ header"},
        {"no MZ", {}, [](Image* i) { i->bytes[0] = 'Z'; }, "no MZ header"},
        {"cut in the DOS header", {}, [](Image* i) { i->bytes.resize(0x3E); }, "DOS header"},
        {"PE header past the end",
         {},
         [](Image* i) { Put32(&i->bytes, 0x3C, static_cast<std::uint32_t>(i->bytes.size() - 8)); },
         "PE header lies outside"},
        {"PE header offset near 4 GiB",
         {},
         [](Image* i) { Put32(&i->bytes, 0x3C, 0xFFFFFFF8); },
         "PE header lies outside"},
        {"no PE signature",
         {},
         [](Image* i) { i->bytes[Image::kPe + 1] = 'X'; },
         "no PE signature"},
        {"unknown magic",
         {},
         [](Image* i) { Put16(&i->bytes, Image::kOptional, 0x107); },
         "unknown magic 0x0107"},
        {"optional header declared short",
         {},
         [](Image* i) { Put16(&i->bytes, Image::kPe + 20, 64); },
         "optional header is cut short"},
        {"cut in the optional header",
         {},
         [](Image* i) { i->bytes.resize(Image::kOptional + 50); },
         "optional header is cut short"},
        {"four data directories",
         {},
         [](Image* i) { Put32(&i->bytes, i->security - 36, 4); },
         "not signed"},
        {"directories past the declared optional header",
         {},
         [](Image* i) {
             Put16(&i->bytes, Image::kPe + 20,
                   static_cast<std::uint16_t>(i->security + 4 - Image::kOptional));
         },
         "data directories run past"},
        {"no certificate table", {}, [](Image*) {}, "the program is not signed"},
        {"table one byte past the end", signature,
         [](Image* i) {
             Put32(&i->bytes, i->security + 4,
                   static_cast<std::uint32_t>(i->bytes.size() - i->table + 1));
         },
         "lies outside the file"},
        {"table offset near 4 GiB", signature,
         [](Image* i) { Put32(&i->bytes, i->security, 0xFFFFFFF8); }, "lies outside the file"},
        {"zero-length entry", Entry(0x0002, signature),
         [](Image* i) { Put32(&i->bytes, i->table, 0); }, "shorter than its own header"},
        {"entry past the table", Entry(0x0002, signature),
         [](Image* i) { Put32(&i->bytes, i->table, static_cast<std::uint32_t>(i->bytes.size())); },
         "runs past the end of the certificate table"},
        {"X.509 entry only", Entry(0x0001, signature), [](Image*) {}, "no PKCS#7 signature"},
        {"last entry not padded", Entry(0x0001, Bytes(13, 0x5A)),
         [](Image* i) { Put32(&i->bytes, i->security + 4, 8 + 13); }, "no PKCS#7 signature"},
        {"old revision", Entry(0x0002, signature),
         [](Image* i) { Put16(&i->bytes, i->table + 4, 0x0100); }, "no PKCS#7 signature"},
        {"garbage DER", Entry(0x0002, Bytes(40, 0x30)), [](Image*) {}, "not a readable PKCS#7"},
        {"PKCS#7 that is not signed data", Entry(0x0002, TestSigner::Der(data.get())),
         [](Image*) {}, "not PKCS#7 signed data"},
        {"signature without its certificate", Entry(0x0002, Signer().Sign(PKCS7_NOCERTS)),
         [](Image*) {}, "does not carry its signer's certificate"},
        // Bytes that the signature does not cover ride along: in its entry, in the table after
        // it, or after the table.
        {"data in the signature's entry", Entry(0x0002, Append(signature, Bytes(8, 0))),
         [](Image*) {}, "data follows the signature in the certificate table"},
        {"padding that is not zero", Entry(0x0002, Append(signature, Bytes{0, 0, 1})),
         [](Image*) {}, "data follows the signature in the certificate table"},
        {"an entry after the signature",
         Append(Entry(0x0002, signature), Entry(0x0001, Bytes(13, 0x5A))), [](Image*) {},
         "data follows the signature in the certificate table"},
        {"data after the table", Entry(0x0002, signature), [](Image* i) { i->bytes.push_back(0); },
         "data follows the certificate table"},
    };
    for (const auto& c : kCases) {
        Image image(false, c.table);
        c.change(&image);
        InstallerSigner signer;
        std::string why;
        EXPECT_FALSE(Read(image.bytes, &signer, &why)) << c.name;
        EXPECT_NE(why.find(c.reason), std::string::npos) << c.name << ": " << why;
    }
}

// Wherever a signed image is cut, nothing is read past the cut.
TEST(ReadInstallerSigner, RefusesASignedImageCutAnywhere) {
    const Bytes whole = Image(true, Entry(0x0002, Signer().Sign(0))).bytes;
    for (std::size_t size = 0; size < whole.size(); ++size) {
        InstallerSigner signer;
        std::string why;
        EXPECT_FALSE(Read(Bytes(whole.begin(), whole.begin() + size), &signer, &why)) << size;
        EXPECT_FALSE(why.empty()) << size;
    }
}

}  // namespace
