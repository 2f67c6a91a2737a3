#include "system/os_description.h"

#include <windows.h>
#include <wbemidl.h>

#include <atomic>
#include <memory>

#include "base/debug_trace.h"
#include "base/scoped_reg_key.h"
#include "system/os_description_com.h"

namespace {

// CoInitializeSecurity succeeds once per process; later calls skip it.
std::atomic<bool> g_bComSecurity{false};

// The properties of one operating-system object, valid as long as the reader lives.
class OsObjectReader {
  public:
    explicit OsObjectReader(IWbemClassObject* pObject) {
        m_properties.szCaption = Text(pObject, L"Caption", m_caption);
        m_properties.szArchitecture = Text(pObject, L"OSArchitecture", m_architecture);
        m_properties.bServicePackMajor =
            Number(pObject, L"ServicePackMajorVersion", &m_properties.nServicePackMajor);
        if (m_properties.bServicePackMajor && m_properties.nServicePackMajor >= 1) {
            m_properties.bServicePackMinor =
                Number(pObject, L"ServicePackMinorVersion", &m_properties.nServicePackMinor);
        }
        m_properties.szVersion = Text(pObject, L"Version", m_version);
    }
    OsObjectReader(const OsObjectReader&) = delete;
    OsObjectReader& operator=(const OsObjectReader&) = delete;
    const OsObjectProperties& properties() const { return m_properties; }

  private:
    static const wchar_t* Text(IWbemClassObject* pObject, const wchar_t* szName,
                               ScopedVariant& value) {
        if (pObject->Get(szName, 0, value.get(), nullptr, nullptr) != S_OK) return nullptr;
        return V_VT(value.get()) == VT_BSTR ? V_BSTR(value.get()) : nullptr;
    }
    // WMI hands its 16-bit counts over as 32-bit integers; the low half is the count.
    static bool Number(IWbemClassObject* pObject, const wchar_t* szName, short* pnValue) {
        ScopedVariant value;
        if (pObject->Get(szName, 0, value.get(), nullptr, nullptr) != S_OK) return false;
        if (FAILED(VariantChangeType(value.get(), value.get(), 0, VT_I4))) return false;
        *pnValue = static_cast<short>(V_I4(value.get()));
        return true;
    }

    ScopedVariant m_caption;
    ScopedVariant m_architecture;
    ScopedVariant m_version;
    OsObjectProperties m_properties;
};

// The operating-system objects of a WMI query and the CurrentVersion key (either may be null).
class WmiOsSource : public OsDescriptionSource {
  public:
    WmiOsSource(IEnumWbemClassObject* pEnumerator, HKEY hKey)
        : m_pEnumerator(pEnumerator), m_hKey(hKey) {}

    bool NextObject(OsObjectProperties* pProperties) override {
        m_reader.reset();
        m_object.reset();
        IWbemClassObject* pObject = nullptr;
        ULONG nReturned = 0;
        m_pEnumerator->Next(WBEM_INFINITE, 1, &pObject, &nReturned);
        m_object.reset(pObject);
        if (nReturned == 0 || !m_object) return false;
        m_reader = std::make_unique<OsObjectReader>(m_object.get());
        *pProperties = m_reader->properties();
        return true;
    }

    OsRegistryValues ReadRegistry() override {
        OsRegistryValues values;
        if (ReadText(L"CurrentBuild", m_szCurrentBuild)) values.szCurrentBuild = m_szCurrentBuild;
        if (ReadText(L"DisplayVersion", m_szDisplayVersion)) {
            values.szDisplayVersion = m_szDisplayVersion;
        }
        DWORD dwType = 0;
        DWORD dwUbr = 0;
        DWORD cbUbr = sizeof(dwUbr);
        values.bUbr = m_hKey &&
                      RegQueryValueExW(m_hKey, L"UBR", nullptr, &dwType,
                                       reinterpret_cast<BYTE*>(&dwUbr), &cbUbr) == ERROR_SUCCESS &&
                      dwType == REG_DWORD && cbUbr == sizeof(dwUbr);
        values.dwUbr = dwUbr;
        return values;
    }

  private:
    bool ReadText(const wchar_t* szName, wchar_t (&szValue)[kOsDescriptionChars]) {
        szValue[0] = L'\0';
        if (!m_hKey) return false;
        DWORD dwType = 0;
        DWORD cbValue = sizeof(szValue);
        if (RegQueryValueExW(m_hKey, szName, nullptr, &dwType, reinterpret_cast<BYTE*>(szValue),
                             &cbValue) != ERROR_SUCCESS ||
            dwType != REG_SZ) {
            szValue[0] = L'\0';
            return false;
        }
        // A stored value need not end with its terminator.
        const DWORD nChars = cbValue / sizeof(wchar_t);
        szValue[nChars < kOsDescriptionChars ? nChars : kOsDescriptionChars - 1] = L'\0';
        return true;
    }

    IEnumWbemClassObject* m_pEnumerator;
    HKEY m_hKey;
    ComRef<IWbemClassObject> m_object;
    std::unique_ptr<OsObjectReader> m_reader;
    wchar_t m_szCurrentBuild[kOsDescriptionChars] = {};
    wchar_t m_szDisplayVersion[kOsDescriptionChars] = {};
};

bool InitializeSecurityOnce() {
    if (g_bComSecurity.load()) return true;
    const HRESULT hr =
        CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_DEFAULT,
                             RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE, nullptr);
    if (FAILED(hr) && hr != RPC_E_TOO_LATE) {
        DebugTrace(L"Failed to initialize security. Error code = %d", static_cast<int>(hr));
        return false;
    }
    g_bComSecurity.store(true);
    return true;
}

// Runs the WMI query for the operating-system objects; null after tracing the failed step.
ComRef<IEnumWbemClassObject> QueryOperatingSystems(ComRef<IWbemServices>& services) {
    IWbemLocator* pLocator = nullptr;
    HRESULT hr = CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER,
                                  IID_IWbemLocator, reinterpret_cast<void**>(&pLocator));
    if (FAILED(hr)) {
        DebugTrace(L"Failed to create IWbemLocator object.Err code = %d", static_cast<int>(hr));
        return nullptr;
    }
    const ComRef<IWbemLocator> locator(pLocator);

    IWbemServices* pServices = nullptr;
    const Bstr bstrNamespace(SysAllocString(L"ROOT\\CIMV2"));
    hr = locator->ConnectServer(bstrNamespace.get(), nullptr, nullptr, nullptr, 0, nullptr, nullptr,
                                &pServices);
    if (FAILED(hr)) {
        DebugTrace(L"Could not connect. Error code = %d", static_cast<int>(hr));
        return nullptr;
    }
    services.reset(pServices);

    hr = CoSetProxyBlanket(pServices, RPC_C_AUTHN_WINNT, RPC_C_AUTHZ_NONE, nullptr,
                           RPC_C_AUTHN_LEVEL_CALL, RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE);
    if (FAILED(hr)) {
        DebugTrace(L"Could not set proxy blanket. Error code = %d", static_cast<int>(hr));
        return nullptr;
    }

    IEnumWbemClassObject* pEnumerator = nullptr;
    const Bstr bstrLanguage(SysAllocString(L"WQL"));
    const Bstr bstrQuery(SysAllocString(L"SELECT * FROM Win32_OperatingSystem"));
    hr = pServices->ExecQuery(bstrLanguage.get(), bstrQuery.get(),
                              WBEM_FLAG_FORWARD_ONLY | WBEM_FLAG_RETURN_IMMEDIATELY, nullptr,
                              &pEnumerator);
    if (FAILED(hr)) {
        DebugTrace(L"Query for operating system name failed. Error code = %d",
                   static_cast<int>(hr));
        return nullptr;
    }
    return ComRef<IEnumWbemClassObject>(pEnumerator);
}

}  // namespace

bool GetOSDescription(wchar_t* szDescription) {
    if (!szDescription) return false;
    szDescription[0] = L'\0';

    ScopedRegKey key;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion", 0,
                      KEY_QUERY_VALUE, key.receive()) != ERROR_SUCCESS) {
        *key.receive() = nullptr;
    }

    const ComApartment apartment;
    if (FAILED(apartment.result())) {
        DebugTrace(L"Failed to initialize COM library. Error code = %d",
                   static_cast<int>(apartment.result()));
        return false;
    }
    if (!InitializeSecurityOnce()) return false;

    // Released before COM goes, in reverse order of their making.
    ComRef<IWbemServices> services;
    const ComRef<IEnumWbemClassObject> enumerator = QueryOperatingSystems(services);
    if (!enumerator) return false;

    WmiOsSource source(enumerator.get(), key.get());
    return ComposeOSDescription(source, szDescription);
}
