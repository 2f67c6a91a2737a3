#include "system/installer_signer.h"

#include <openssl/asn1.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/objects.h>
#include <openssl/pkcs7.h>
#include <openssl/x509.h>

#include <climits>
#include <memory>

#include "system/wide_text.h"

namespace {

struct Pkcs7Free {
    void operator()(PKCS7* p7) const { PKCS7_free(p7); }
};
// The signers found by PKCS7_get0_signers belong to the PKCS#7; only the list is ours.
struct SignerListFree {
    void operator()(STACK_OF(X509) * list) const { sk_X509_free(list); }
};
struct OpensslFree {
    void operator()(unsigned char* p) const { OPENSSL_free(p); }
};

// A failed parse leaves its reasons in OpenSSL's per-thread queue, where they would be mistaken
// for the next caller's.
struct ErrorQueueClearer {
    ~ErrorQueueClearer() { ERR_clear_error(); }
};

bool Fail(std::string* why, const char* reason) {
    *why = reason;
    return false;
}

// Windows' X.500 key names, so that both builds of the publisher's tool show a subject alike.
const char* X500Key(int nid) {
    switch (nid) {
        case NID_commonName:
            return "CN";
        case NID_organizationName:
            return "O";
        case NID_organizationalUnitName:
            return "OU";
        case NID_localityName:
            return "L";
        case NID_stateOrProvinceName:
            return "S";
        case NID_countryName:
            return "C";
        case NID_streetAddress:
            return "STREET";
        case NID_pkcs9_emailAddress:
            return "E";
        case NID_title:
            return "T";
        case NID_givenName:
            return "G";
        case NID_initials:
            return "I";
        case NID_surname:
            return "SN";
        case NID_domainComponent:
            return "DC";
        case NID_serialNumber:
            return "SERIALNUMBER";
        case NID_postalCode:
            return "PostalCode";
        case NID_description:
            return "Description";
        default:
            return nullptr;
    }
}

// "CN=..., O=..., C=..": the most specific part first, the parts of one multi-valued part
// joined by " + ".
bool FormatSubject(const X509_NAME* name, std::wstring* subject) {
    std::string text;
    int previousSet = -1;
    for (int i = X509_NAME_entry_count(name) - 1; i >= 0; --i) {
        const X509_NAME_ENTRY* entry = X509_NAME_get_entry(name, i);
        const int set = X509_NAME_ENTRY_set(entry);
        if (!text.empty()) text += set == previousSet ? " + " : ", ";
        previousSet = set;
        const ASN1_OBJECT* object = X509_NAME_ENTRY_get_object(entry);
        std::string key;
        if (const char* name = X500Key(OBJ_obj2nid(object))) {
            key = name;
        } else {
            char oid[128];
            if (OBJ_obj2txt(oid, sizeof oid, object, 1) <= 0) return false;
            key = std::string("OID.") + oid;
        }
        unsigned char* utf8 = nullptr;
        const int length = ASN1_STRING_to_UTF8(&utf8, X509_NAME_ENTRY_get_data(entry));
        const std::unique_ptr<unsigned char, OpensslFree> owner(utf8);
        if (length < 0) return false;
        text += SubjectPart(key, std::string(reinterpret_cast<const char*>(utf8), length));
    }
    // A NUL inside a value would cut the shown subject short of what the certificate says.
    return text.find('\0') == std::string::npos && Utf8ToWide(text.c_str(), subject);
}

bool ComputePin(const X509* certificate, SignerPin* pin) {
    unsigned char* der = nullptr;
    const int length = i2d_X509_PUBKEY(X509_get_X509_PUBKEY(certificate), &der);
    const std::unique_ptr<unsigned char, OpensslFree> owner(der);
    unsigned int digestLength = 0;
    return length > 0 &&
           EVP_Digest(der, length, pin->data(), &digestLength, EVP_sha256(), nullptr) == 1 &&
           digestLength == pin->size();
}

}  // namespace

// Only reads: neither the signature over the image nor the certificate's chain is checked, which
// the setup leaves to WinVerifyTrust on Windows.
bool ReadSignatureSigner(const unsigned char* pkcs7, std::size_t size, InstallerSigner* signer,
                         std::string* why) {
    const ErrorQueueClearer clearer;
    if (size > static_cast<std::size_t>(LONG_MAX)) return Fail(why, "the signature is too large");
    const unsigned char* cursor = pkcs7;
    const std::unique_ptr<PKCS7, Pkcs7Free> parsed(
        d2i_PKCS7(nullptr, &cursor, static_cast<long>(size)));
    if (!parsed) return Fail(why, "the signature is not a readable PKCS#7 structure");
    if (!PKCS7_type_is_signed(parsed.get())) {
        return Fail(why, "the signature is not PKCS#7 signed data");
    }
    const std::unique_ptr<STACK_OF(X509), SignerListFree> signers(
        PKCS7_get0_signers(parsed.get(), nullptr, 0));
    if (!signers || sk_X509_num(signers.get()) < 1) {
        return Fail(why, "the signature does not carry its signer's certificate");
    }
    const X509* certificate = sk_X509_value(signers.get(), 0);
    InstallerSigner found;
    if (!FormatSubject(X509_get_subject_name(certificate), &found.subject)) {
        return Fail(why, "the signer's subject cannot be read as text");
    }
    if (!ComputePin(certificate, &found.pin)) {
        return Fail(why, "the signer's public key cannot be read");
    }
    *signer = found;
    return true;
}
