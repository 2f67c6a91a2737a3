#include "system/os_description.h"

#include <cmath>
#include <cwchar>
#include <string>

namespace {

// The version text carries the display version from build 18364 on and the update revision from
// build 17764 on.
constexpr double kFirstBuildWithDisplayVersion = 18364;
constexpr double kFirstBuildWithUbr = 17764;

// The description buffer as an append-only text that never grows past its buffer.
class DescriptionText {
  public:
    // Starts the buffer as the empty text.
    explicit DescriptionText(wchar_t* szBuffer) : m_szBuffer(szBuffer), m_nLength(0) {
        m_szBuffer[0] = L'\0';
    }

    void Append(const wchar_t* szText) {
        while (*szText && m_nLength + 1 < kOsDescriptionChars) m_szBuffer[m_nLength++] = *szText++;
        m_szBuffer[m_nLength] = L'\0';
    }
    void AppendNumber(unsigned long nValue) { Append(std::to_wstring(nValue).c_str()); }
    void Replace(const wchar_t* szText) {
        m_nLength = 0;
        Append(szText);
    }

  private:
    wchar_t* m_szBuffer;
    std::size_t m_nLength;
};

bool IsEmpty(const wchar_t* szText) { return !szText || !*szText; }

void AppendArchitecture(DescriptionText& text, const wchar_t* szArchitecture) {
    if (IsEmpty(szArchitecture)) return;
    text.Append(L" for ");
    if (std::wcsstr(szArchitecture, L"32")) {
        text.Append(L"32-bit");
    } else if (std::wcsstr(szArchitecture, L"64")) {
        text.Append(L"x64");
    } else {
        text.Append(szArchitecture);
    }
}

void AppendServicePack(DescriptionText& text, const OsObjectProperties& properties) {
    if (!properties.bServicePackMajor || properties.nServicePackMajor < 1) return;
    text.Append(L" Service Pack ");
    text.AppendNumber(static_cast<unsigned long>(properties.nServicePackMajor));
    if (properties.bServicePackMinor && properties.nServicePackMinor >= 1) {
        text.Append(L".");
        text.AppendNumber(static_cast<unsigned long>(properties.nServicePackMinor));
    }
}

bool AppendVersion(DescriptionText& text, const wchar_t* szVersion, OsDescriptionSource& source) {
    if (IsEmpty(szVersion)) return true;
    text.Append(L" version ");
    const OsRegistryValues registry = source.ReadRegistry();
    if (IsEmpty(registry.szCurrentBuild)) return false;
    const double dBuild = std::trunc(std::wcstod(registry.szCurrentBuild, nullptr));
    if (dBuild >= kFirstBuildWithDisplayVersion) {
        if (IsEmpty(registry.szDisplayVersion)) return false;
        text.Append(registry.szDisplayVersion);
        text.Append(L"-");
    }
    // A missing update revision stops the text before the version, like the other values do.
    const bool bWithUbr = dBuild >= kFirstBuildWithUbr;
    if (bWithUbr && !registry.bUbr) return false;
    text.Append(szVersion);
    if (bWithUbr) {
        text.Append(L".");
        text.AppendNumber(registry.dwUbr);
    }
    return true;
}

bool AppendObject(DescriptionText& text, const OsObjectProperties& properties,
                  OsDescriptionSource& source) {
    if (IsEmpty(properties.szCaption)) {
        text.Replace(L"Unknown OS version !");
        return true;
    }
    text.Append(properties.szCaption);
    AppendArchitecture(text, properties.szArchitecture);
    AppendServicePack(text, properties);
    return AppendVersion(text, properties.szVersion, source);
}

}  // namespace

bool ComposeOSDescription(OsDescriptionSource& source, wchar_t* szDescription) {
    if (!szDescription) return false;
    DescriptionText text(szDescription);
    OsObjectProperties properties;
    while (source.NextObject(&properties)) {
        if (!AppendObject(text, properties, source)) return false;
        properties = OsObjectProperties();
    }
    return true;
}
