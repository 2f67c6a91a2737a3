#pragma once

// Seeds the proxy settings that Wine's WinHTTP reads, and puts the previous ones back afterwards:
//   the user's Internet Explorer settings: HKCU\...\Internet Settings\Connections, binary value
//   "DefaultConnectionSettings": a header (magic 0x46, a counter, flags where 2 names a static
//   proxy and 8 automatic discovery), then three length-prefixed ANSI texts: the proxy list, the
//   bypass list and the configuration-script address;
//   WinHTTP's default proxy: HKLM\...\Internet Settings\Connections, binary value
//   "WinHttpSettings": a header (magic 0x18, a zero, flags with 2 for a proxy), then the
//   length-prefixed proxy list and bypass list.
// WinHTTP reads its default proxy through the calling process's own view of HKLM, so it is
// seeded in both views, as an administrator sets it on 64-bit Windows: a 32-bit and a 64-bit test
// process then find the same proxy. The user's hive has one view only.
#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace downloadtest {

constexpr wchar_t kConnectionsKey[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Connections";

// Replaces one binary registry value for the life of the object.
class SeededRegistryValue {
  public:
    SeededRegistryValue(HKEY root, const wchar_t* name, const std::vector<BYTE>& value,
                        REGSAM view = 0)
        : root_(root), name_(name), view_(view) {
        HKEY key = nullptr;
        if (RegCreateKeyExW(root_, kConnectionsKey, 0, nullptr, 0, KEY_READ | KEY_WRITE | view_,
                            nullptr, &key, nullptr) != ERROR_SUCCESS) {
            return;
        }
        DWORD type = 0;
        DWORD size = 0;
        if (RegQueryValueExW(key, name, nullptr, &type, nullptr, &size) == ERROR_SUCCESS) {
            std::vector<BYTE> previous(size);
            if (RegQueryValueExW(key, name, nullptr, &type, previous.data(), &size) ==
                ERROR_SUCCESS) {
                previous_ = previous;
                previousType_ = type;
            }
        }
        seeded_ = RegSetValueExW(key, name, 0, REG_BINARY, value.data(),
                                 static_cast<DWORD>(value.size())) == ERROR_SUCCESS;
        RegCloseKey(key);
    }
    ~SeededRegistryValue() {
        HKEY key = nullptr;
        if (RegOpenKeyExW(root_, kConnectionsKey, 0, KEY_WRITE | view_, &key) != ERROR_SUCCESS) {
            return;
        }
        if (previous_) {
            RegSetValueExW(key, name_.c_str(), 0, previousType_, previous_->data(),
                           static_cast<DWORD>(previous_->size()));
        } else {
            RegDeleteValueW(key, name_.c_str());
        }
        RegCloseKey(key);
    }
    SeededRegistryValue(const SeededRegistryValue&) = delete;
    SeededRegistryValue& operator=(const SeededRegistryValue&) = delete;

    bool seeded() const { return seeded_; }

  private:
    HKEY root_;
    std::wstring name_;
    REGSAM view_;
    std::optional<std::vector<BYTE>> previous_;
    DWORD previousType_ = REG_BINARY;
    bool seeded_ = false;
};

inline void AppendDword(std::vector<BYTE>* blob, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) blob->push_back(static_cast<BYTE>(value >> (8 * i)));
}

inline void AppendText(std::vector<BYTE>* blob, const std::string& text) {
    AppendDword(blob, static_cast<std::uint32_t>(text.size()));
    blob->insert(blob->end(), text.begin(), text.end());
}

constexpr std::uint32_t kDirect = 1;
constexpr std::uint32_t kStaticProxy = 2;

// Internet Explorer settings with a static proxy, no bypass list and no automatic discovery.
class SeededIEProxy : public SeededRegistryValue {
  public:
    explicit SeededIEProxy(const std::string& proxy)
        : SeededRegistryValue(HKEY_CURRENT_USER, L"DefaultConnectionSettings", Blob(proxy)) {}

  private:
    static std::vector<BYTE> Blob(const std::string& proxy) {
        std::vector<BYTE> blob;
        AppendDword(&blob, 0x46);
        AppendDword(&blob, 1);
        AppendDword(&blob, kDirect | kStaticProxy);
        AppendText(&blob, proxy);
        AppendText(&blob, std::string());
        AppendText(&blob, std::string());
        return blob;
    }
};

// WinHTTP's default proxy, without a bypass list, in both views.
class SeededDefaultProxy {
  public:
    explicit SeededDefaultProxy(const std::string& proxy)
        : view32_(HKEY_LOCAL_MACHINE, L"WinHttpSettings", Blob(proxy), KEY_WOW64_32KEY),
          view64_(HKEY_LOCAL_MACHINE, L"WinHttpSettings", Blob(proxy), KEY_WOW64_64KEY) {}

    bool seeded() const { return view32_.seeded() && view64_.seeded(); }

  private:
    SeededRegistryValue view32_;
    SeededRegistryValue view64_;

    static std::vector<BYTE> Blob(const std::string& proxy) {
        std::vector<BYTE> blob;
        AppendDword(&blob, 0x18);
        AppendDword(&blob, 0);
        AppendDword(&blob, kDirect | kStaticProxy);
        AppendText(&blob, proxy);
        AppendText(&blob, std::string());
        return blob;
    }
};

}  // namespace downloadtest
