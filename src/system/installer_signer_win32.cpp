// The installer's signer through the system: crypt32 reads a signature's signer, and
// WinVerifyTrust checks a file before the setup starts it.
#include "system/installer_signer.h"

#include <windows.h>

#include <softpub.h>
#include <wincrypt.h>
#include <wintrust.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <new>

#include "base/test_hooks.h"
#include "system/program_image.h"
#include "system/wide_text.h"

namespace {

std::atomic<bool> g_signerUnreadable{false};

struct MessageCloser {
    void operator()(void* message) const { CryptMsgClose(message); }
};
struct StoreCloser {
    void operator()(void* store) const { CertCloseStore(store, 0); }
};
struct CertificateFreer {
    void operator()(const CERT_CONTEXT* certificate) const {
        CertFreeCertificateContext(certificate);
    }
};
struct LocalFreer {
    void operator()(void* memory) const { LocalFree(memory); }
};

// "CN=..., O=..., C=..": the most specific part first, with the quoting of SubjectPart, so that
// both platforms show a subject alike (Wine's CertNameToStr quotes values that Windows does not).
std::wstring SubjectOf(const CERT_CONTEXT* certificate) {
    CERT_NAME_INFO* pInfo = nullptr;
    DWORD cbInfo = 0;
    if (!CryptDecodeObjectEx(X509_ASN_ENCODING, X509_NAME, certificate->pCertInfo->Subject.pbData,
                             certificate->pCertInfo->Subject.cbData, CRYPT_DECODE_ALLOC_FLAG,
                             nullptr, &pInfo, &cbInfo)) {
        return {};
    }
    const std::unique_ptr<CERT_NAME_INFO, LocalFreer> info(pInfo);
    std::string text;
    for (DWORD i = info->cRDN; i-- > 0;) {
        const CERT_RDN& rdn = info->rgRDN[i];
        for (DWORD j = 0; j < rdn.cRDNAttr; ++j) {
            const CERT_RDN_ATTR& attribute = rdn.rgRDNAttr[j];
            if (!text.empty()) text += j == 0 ? ", " : " + ";
            const CRYPT_OID_INFO* oidInfo = CryptFindOIDInfo(
                CRYPT_OID_INFO_OID_KEY, attribute.pszObjId, CRYPT_RDN_ATTR_OID_GROUP_ID);
            const std::string key = oidInfo != nullptr && oidInfo->pwszName != nullptr
                                        ? WideToUtf8(oidInfo->pwszName)
                                        : std::string("OID.") + attribute.pszObjId;
            const DWORD nChars =
                CertRDNValueToStrW(attribute.dwValueType,
                                   const_cast<CERT_RDN_VALUE_BLOB*>(&attribute.Value), nullptr, 0);
            std::wstring value(nChars, L'\0');
            if (nChars > 0) {
                CertRDNValueToStrW(attribute.dwValueType,
                                   const_cast<CERT_RDN_VALUE_BLOB*>(&attribute.Value), &value[0],
                                   nChars);
                value.resize(nChars - 1);
            }
            text += SubjectPart(key, WideToUtf8(value.c_str()));
        }
    }
    std::wstring subject;
    return Utf8ToWide(text.c_str(), &subject) ? subject : std::wstring();
}

bool PinOf(const CERT_CONTEXT* certificate, SignerPin* pin) {
    BYTE* pbEncoded = nullptr;
    DWORD cbEncoded = 0;
    if (!CryptEncodeObjectEx(X509_ASN_ENCODING, X509_PUBLIC_KEY_INFO,
                             &certificate->pCertInfo->SubjectPublicKeyInfo, CRYPT_ENCODE_ALLOC_FLAG,
                             nullptr, &pbEncoded, &cbEncoded)) {
        return false;
    }
    const std::unique_ptr<BYTE, LocalFreer> encoded(pbEncoded);
    DWORD cbHash = static_cast<DWORD>(pin->size());
    return CryptHashCertificate2(BCRYPT_SHA256_ALGORITHM, 0, nullptr, pbEncoded, cbEncoded,
                                 pin->data(), &cbHash) &&
           cbHash == pin->size();
}

bool DescribeSigner(const CERT_CONTEXT* certificate, InstallerSigner* signer) {
    if (!PinOf(certificate, &signer->pin)) return false;
    signer->subject = SubjectOf(certificate);
    return true;
}

// Closes the trust provider's state, which holds the signer's certificates until then.
class TrustState {
  public:
    TrustState(WINTRUST_DATA* data, GUID* action) : m_data(data), m_action(action) {}
    TrustState(const TrustState&) = delete;
    TrustState& operator=(const TrustState&) = delete;
    ~TrustState() {
        m_data->dwStateAction = WTD_STATEACTION_CLOSE;
        WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), m_action, m_data);
    }

  private:
    WINTRUST_DATA* m_data;
    GUID* m_action;
};

}  // namespace

bool ReadSignatureSigner(const unsigned char* pkcs7, std::size_t size, InstallerSigner* signer,
                         std::string* why) {
    constexpr DWORD kEncoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;
    const std::unique_ptr<void, MessageCloser> message(
        CryptMsgOpenToDecode(kEncoding, 0, 0, 0, nullptr, nullptr));
    if (!message || size > MAXDWORD ||
        !CryptMsgUpdate(message.get(), pkcs7, static_cast<DWORD>(size), TRUE)) {
        *why = "the signature is not a readable PKCS#7 message";
        return false;
    }
    DWORD cbInfo = 0;
    if (!CryptMsgGetParam(message.get(), CMSG_SIGNER_CERT_INFO_PARAM, 0, nullptr, &cbInfo)) {
        *why = "the signature names no signer";
        return false;
    }
    const std::unique_ptr<BYTE[]> info(new (std::nothrow) BYTE[cbInfo]);
    if (!info ||
        !CryptMsgGetParam(message.get(), CMSG_SIGNER_CERT_INFO_PARAM, 0, info.get(), &cbInfo)) {
        *why = "the signature names no signer";
        return false;
    }
    const std::unique_ptr<void, StoreCloser> store(
        CertOpenStore(CERT_STORE_PROV_MSG, kEncoding, 0, 0, message.get()));
    const std::unique_ptr<const CERT_CONTEXT, CertificateFreer> certificate(
        store ? CertGetSubjectCertificateFromStore(store.get(), kEncoding,
                                                   reinterpret_cast<CERT_INFO*>(info.get()))
              : nullptr);
    if (!certificate) {
        *why = "the signer's certificate is not in the signature";
        return false;
    }
    if (!DescribeSigner(certificate.get(), signer)) {
        *why = "the signer's public key cannot be hashed";
        return false;
    }
    return true;
}

SignerCheckResult CheckInstallerSigner(void* hFile, const wchar_t* path,
                                       const std::vector<SignerPin>& pins) {
    SignerCheckResult result;
    if (pins.empty()) {
        result.check = SignerCheck::kNoPins;
        return result;
    }
    // The check reads the open file, not whatever the path may lead to by then.
    WINTRUST_FILE_INFO fileInfo = {};
    fileInfo.cbStruct = sizeof(fileInfo);
    fileInfo.pcwszFilePath = path;
    fileInfo.hFile = hFile;
    WINTRUST_DATA data = {};
    data.cbStruct = sizeof(data);
    data.dwUIChoice = WTD_UI_NONE;
    // An offline machine must not wait on revocation servers; the pin is what decides.
    data.fdwRevocationChecks = WTD_REVOKE_NONE;
    data.dwProvFlags = WTD_REVOCATION_CHECK_NONE | WTD_CACHE_ONLY_URL_RETRIEVAL;
    data.dwUnionChoice = WTD_CHOICE_FILE;
    data.pFile = &fileInfo;
    data.dwStateAction = WTD_STATEACTION_VERIFY;
    GUID action = WINTRUST_ACTION_GENERIC_VERIFY_V2;
    result.trustResult = WinVerifyTrust(static_cast<HWND>(INVALID_HANDLE_VALUE), &action, &data);
    const TrustState state(&data, &action);
    if (result.trustResult != ERROR_SUCCESS) return result;
    // WinVerifyTrust accepts data appended inside the certificate table unless the machine asks
    // it not to; none is accepted here.
    LARGE_INTEGER size = {};
    SignatureSpan span;
    if (!GetFileSizeEx(hFile, &size) ||
        !LocateSignature(FileImageReader(hFile), static_cast<std::uint64_t>(size.QuadPart), &span,
                         &result.why)) {
        result.check = SignerCheck::kPadded;
        return result;
    }

    CRYPT_PROVIDER_DATA* provider = WTHelperProvDataFromStateData(data.hWVTStateData);
    CRYPT_PROVIDER_SGNR* providerSigner =
        provider ? WTHelperGetProvSignerFromChain(provider, 0, FALSE, 0) : nullptr;
    CRYPT_PROVIDER_CERT* providerCertificate =
        providerSigner ? WTHelperGetProvCertFromChain(providerSigner, 0) : nullptr;
    InstallerSigner signer;
    if (g_signerUnreadable.load() || providerCertificate == nullptr ||
        providerCertificate->pCert == nullptr ||
        !DescribeSigner(providerCertificate->pCert, &signer)) {
        // Verified, yet no signer to compare: nothing proves the pinned publisher signed it.
        result.check = SignerCheck::kNotPinned;
        return result;
    }
    result.subject = signer.subject;
    result.check =
        IsSignerPinned(signer.pin, pins) ? SignerCheck::kPinned : SignerCheck::kNotPinned;
    return result;
}

void SetSignerUnreadable(bool unreadable) { g_signerUnreadable.store(unreadable); }

void PrepareInstallerSignerCheck(void* hFile, const wchar_t* path) {
    CheckInstallerSigner(hFile, path, std::vector<SignerPin>(1));
    // The system stores are read once per process; the first chain built loads the engine.
    constexpr const wchar_t* kStores[] = {L"Root", L"CA",         L"Trust",
                                          L"My",   L"Disallowed", L"TrustedPublisher"};
    std::vector<std::unique_ptr<void, StoreCloser>> stores;
    for (const wchar_t* name : kStores) {
        stores.emplace_back(CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0,
                                          CERT_SYSTEM_STORE_CURRENT_USER | CERT_STORE_READONLY_FLAG,
                                          name));
    }
    if (!stores.front()) return;
    const std::unique_ptr<const CERT_CONTEXT, CertificateFreer> root(
        CertEnumCertificatesInStore(stores.front().get(), nullptr));
    if (!root) return;
    CERT_CHAIN_PARA parameters = {};
    parameters.cbSize = sizeof(parameters);
    const CERT_CHAIN_CONTEXT* chain = nullptr;
    if (CertGetCertificateChain(nullptr, root.get(), nullptr, nullptr, &parameters,
                                CERT_CHAIN_CACHE_ONLY_URL_RETRIEVAL, nullptr, &chain)) {
        CertFreeCertificateChain(chain);
    }
}

ImageReader FileImageReader(void* hFile) {
    return [hFile](std::uint64_t offset, void* buffer, std::size_t size) {
        auto* bytes = static_cast<unsigned char*>(buffer);
        while (size > 0) {
            // A read at an offset of its own leaves nothing to the file pointer's position.
            OVERLAPPED at = {};
            at.Offset = static_cast<DWORD>(offset);
            at.OffsetHigh = static_cast<DWORD>(offset >> 32);
            const DWORD wanted = size > MAXDWORD ? MAXDWORD : static_cast<DWORD>(size);
            DWORD got = 0;
            if (!ReadFile(hFile, bytes, wanted, &got, &at) || got == 0) return false;
            bytes += got;
            offset += got;
            size -= got;
        }
        return true;
    };
}
