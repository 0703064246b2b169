// HKEY_LOCAL_MACHINE, always in the 32-bit view: a 32-bit program's settings
// live there on 64-bit Windows, so both builds read the same stored values.
#include "platform/win32/windows_api.h"

#include <cstring>

#include "platform/win32/win32_platform.h"

namespace platform::win32 {
namespace {

constexpr REGSAM View = KEY_WOW64_32KEY;

std::string ErrorText(LONG code) {
    wchar_t* text = nullptr;
    const DWORD n = ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                         FORMAT_MESSAGE_IGNORE_INSERTS,
                                     nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<LPWSTR>(&text), 0, nullptr);
    std::string out = n ? Narrow(text, n) : "error " + std::to_string(code);
    if (text) ::LocalFree(text);
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r' || out.back() == ' ')) out.pop_back();
    return out;
}

// A stored value as the seam carries it: REG_SZ as UTF-8 text, REG_DWORD as a
// number, anything else as its bytes.
RegValue Decode(DWORD type, const std::vector<uint8_t>& data) {
    RegValue v;
    v.type = type;
    if (type == REG_SZ || type == REG_EXPAND_SZ) {
        v.type = REG_SZ;
        std::wstring w(data.size() / sizeof(wchar_t), L'\0');
        std::memcpy(w.data(), data.data(), w.size() * sizeof(wchar_t));
        if (auto end = w.find(L'\0'); end != std::wstring::npos) w.resize(end);
        v.text = Narrow(w);
    } else if (type == REG_DWORD && data.size() == 4) {
        std::memcpy(&v.dword, data.data(), 4);
    } else {
        if (type == REG_DWORD) v.type = 3;  // REG_BINARY: a DWORD of the wrong size is not one
        v.raw = data;
    }
    return v;
}

class Win32Key final : public RegistryKey {
public:
    Win32Key(HKEY key, std::string& failure) : key_(key), failure_(failure) {}
    ~Win32Key() override { ::RegCloseKey(key_); }
    Win32Key(const Win32Key&) = delete;
    Win32Key& operator=(const Win32Key&) = delete;

    bool ReadValue(const std::string& name, RegValue& out) override {
        const std::wstring w = Wide(name);
        std::vector<uint8_t> data(256);
        for (;;) {
            DWORD type = 0;
            DWORD size = static_cast<DWORD>(data.size());
            const LONG rc = ::RegQueryValueExW(key_, w.c_str(), nullptr, &type, data.data(), &size);
            if (rc == ERROR_MORE_DATA && size <= (1u << 20)) {
                data.resize(size);
                continue;
            }
            if (rc != ERROR_SUCCESS) {
                if (rc != ERROR_FILE_NOT_FOUND) failure_ = ErrorText(rc);
                return false;
            }
            data.resize(size);
            out = Decode(type, data);
            failure_.clear();
            return true;
        }
    }

    bool WriteValue(const std::string& name, const RegValue& value) override {
        const std::wstring w = Wide(name);
        LONG rc;
        if (value.type == REG_SZ) {
            const std::wstring text = Wide(value.text);
            rc = ::RegSetValueExW(key_, w.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                                  static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
        } else if (value.type == REG_DWORD) {
            const DWORD d = value.dword;
            rc = ::RegSetValueExW(key_, w.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&d), sizeof d);
        } else {
            rc = ::RegSetValueExW(key_, w.c_str(), 0, value.type, value.raw.data(), static_cast<DWORD>(value.raw.size()));
        }
        if (rc != ERROR_SUCCESS) {
            failure_ = ErrorText(rc);
            return false;
        }
        failure_.clear();
        return true;
    }

    bool ReadValues(std::vector<std::pair<std::string, RegValue>>& out) override {
        out.clear();
        for (DWORD index = 0;; ++index) {
            wchar_t name[16384];
            DWORD nameSize = 16384;
            DWORD type = 0;
            DWORD size = 0;
            LONG rc = ::RegEnumValueW(key_, index, name, &nameSize, nullptr, &type, nullptr, &size);
            if (rc == ERROR_NO_MORE_ITEMS) break;
            if (rc != ERROR_SUCCESS) {
                failure_ = ErrorText(rc);
                return false;
            }
            std::vector<uint8_t> data(size);
            nameSize = 16384;
            rc = ::RegEnumValueW(key_, index, name, &nameSize, nullptr, &type, data.data(), &size);
            if (rc != ERROR_SUCCESS) {
                failure_ = ErrorText(rc);
                return false;
            }
            data.resize(size);
            out.emplace_back(Narrow(name, nameSize), Decode(type, data));
        }
        failure_.clear();
        return true;
    }

private:
    HKEY key_;
    std::string& failure_;
};

class Win32Registry final : public Registry {
public:
    explicit Win32Registry(std::string root) : root_(std::move(root)) {}

    bool KeyExists(const std::string& path) override {
        HKEY key = nullptr;
        const LONG rc = ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, Wide(Full(path)).c_str(), 0, KEY_READ | View, &key);
        if (rc != ERROR_SUCCESS) {
            failure_ = rc == ERROR_FILE_NOT_FOUND ? std::string() : ErrorText(rc);
            return false;
        }
        ::RegCloseKey(key);
        failure_.clear();
        return true;
    }

    // Full access, as the settings are read and written through one key; an
    // account that may not write it gets no key.
    std::unique_ptr<RegistryKey> OpenKey(const std::string& path, bool create) override {
        HKEY key = nullptr;
        const std::wstring w = Wide(Full(path));
        LONG rc;
        if (create)
            rc = ::RegCreateKeyExW(HKEY_LOCAL_MACHINE, w.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                   KEY_READ | KEY_WRITE | View, nullptr, &key, nullptr);
        else
            rc = ::RegOpenKeyExW(HKEY_LOCAL_MACHINE, w.c_str(), 0, KEY_READ | KEY_WRITE | View, &key);
        if (rc != ERROR_SUCCESS) {
            failure_ = rc == ERROR_FILE_NOT_FOUND ? std::string() : ErrorText(rc);
            return nullptr;
        }
        failure_.clear();
        return std::make_unique<Win32Key>(key, failure_);
    }

    std::string LastFailure() const override { return failure_; }

private:
    std::string Full(const std::string& path) const {
        std::string p = path;
        while (!p.empty() && p.front() == '\\') p.erase(p.begin());
        return root_.empty() ? p : root_ + "\\" + p;
    }

    std::string root_;
    std::string failure_;
};

}  // namespace

std::unique_ptr<Registry> CreateRegistry(std::string root) { return std::make_unique<Win32Registry>(std::move(root)); }

Registry& Win32Platform::GetRegistry() {
    if (!registry_) registry_ = CreateRegistry(registryRoot_);
    return *registry_;
}

}  // namespace platform::win32
