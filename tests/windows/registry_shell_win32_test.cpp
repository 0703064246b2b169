// The registry, the Startup-folder shortcut and WMI through the real Windows
// calls: settings written and read back, a shortcut read back through
// IShellLink, Win32_DiskDrive through COM.
#include "platform/win32/windows_api.h"
#include <gtest/gtest.h>

#include <objbase.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <cstring>

#include "platform/text.h"
#include "platform/win32/win32_platform.h"
#include "shell/autostart.h"
#include "shell/settings.h"
#include "smart/wmiquery.h"
#include "support/tempdir.h"
#include "windows/win32_support.h"

namespace {

using platform::win32::Win32Platform;
using platform::win32::Wide;

// A key of the test's own under HKLM, removed afterwards, standing for HKLM.
class Win32Registry : public ::testing::Test {
protected:
    void SetUp() override { Clean(); }
    void TearDown() override { Clean(); }
    static std::string Parent() { return "SOFTWARE\\ScandorWinTests"; }
    static std::string Root() { return Parent() + "\\" + std::to_string(::GetCurrentProcessId()); }
    static void Clean() {
        HKEY parent = nullptr;
        if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, Wide(Parent()).c_str(), 0, KEY_ALL_ACCESS | KEY_WOW64_32KEY, &parent) == ERROR_SUCCESS) {
            ::RegDeleteTreeW(parent, nullptr);
            ::RegCloseKey(parent);
        }
    }
    // The value as a program of the other word size would see it.
    static bool ReadRaw(REGSAM view, const std::string& path, const std::wstring& name, DWORD& type, std::vector<uint8_t>& data) {
        HKEY key = nullptr;
        if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, Wide(path).c_str(), 0, KEY_READ | view, &key) != ERROR_SUCCESS) return false;
        data.assign(1024, 0);
        DWORD size = 1024;
        const LONG rc = ::RegQueryValueExW(key, name.c_str(), nullptr, &type, data.data(), &size);
        ::RegCloseKey(key);
        data.resize(size);
        return rc == ERROR_SUCCESS;
    }
    Win32Platform p{Root()};
};

TEST_F(Win32Registry, TheSixSettingsRoundTripInThe32BitView) {
    settings::EmailFields none;
    EXPECT_EQ(settings::ReadSettings(p.GetRegistry(), none), "") << "nothing stored is no failure";
    EXPECT_EQ(none.email, settings::DefaultEmail);

    settings::EmailFields in;
    in.sendByEmail = true;
    in.email = "ann@example.com, bob@example.com";
    in.emailFrom = "scandor@example.com";
    in.smtpHost = "mail.example.com";
    in.username = "J\xC3\xBCrgen";  // ü: one byte in the ANSI page, two in UTF-8
    in.password = "s3cr\xC3\xA9t!";
    ASSERT_EQ(settings::SaveSettings(p.GetRegistry(), in), "");

    settings::EmailFields out;
    ASSERT_EQ(settings::ReadSettings(p.GetRegistry(), out), "");
    EXPECT_TRUE(out.sendByEmail);
    EXPECT_EQ(out.email, in.email);
    EXPECT_EQ(out.emailFrom, in.emailFrom);
    EXPECT_EQ(out.smtpHost, in.smtpHost);
    EXPECT_EQ(out.username, in.username);
    EXPECT_EQ(out.password, in.password);

    // Stored as the types the program uses, the password scrambled, in the 32-bit view.
    const std::string key = Root() + settings::KeyPath;
    DWORD type = 0;
    std::vector<uint8_t> data;
    ASSERT_TRUE(ReadRaw(KEY_WOW64_32KEY, key, L"Scandor-x", type, data));
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    const std::wstring stored(reinterpret_cast<const wchar_t*>(data.data()));
    EXPECT_EQ(stored, Wide(settings::ScramblePassword(in.password)));
    EXPECT_NE(stored, Wide(in.password));
    ASSERT_TRUE(ReadRaw(KEY_WOW64_32KEY, key, L"Scandor-sendbyemail", type, data));
    EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD));
    ASSERT_TRUE(ReadRaw(KEY_WOW64_32KEY, key, L"Scandor-username", type, data));
    EXPECT_EQ(std::wstring(reinterpret_cast<const wchar_t*>(data.data())), L"J\u00fcrgen");
#ifdef _WIN64
    // A 64-bit program's own view holds nothing there: both builds share the 32-bit one.
    EXPECT_FALSE(ReadRaw(KEY_WOW64_64KEY, key, L"Scandor-x", type, data));
#endif
}

TEST_F(Win32Registry, AValueOfAnotherTypeIsAFailureThatKeepsTheLaterFields) {
    settings::EmailFields in;
    in.email = "ann@example.com";
    in.emailFrom = "from@example.com";
    in.smtpHost = "mail.example.com";
    in.username = "ann";
    in.password = "pw";
    ASSERT_EQ(settings::SaveSettings(p.GetRegistry(), in), "");
    auto key = p.GetRegistry().OpenKey(settings::KeyPath, false);
    ASSERT_TRUE(key);
    platform::RegValue number;
    number.type = REG_DWORD;
    number.dword = 7;
    ASSERT_TRUE(key->WriteValue("Scandor-smtphost", number));
    platform::RegValue back;
    ASSERT_TRUE(key->ReadValue("Scandor-smtphost", back));
    EXPECT_EQ(back.type, REG_DWORD);
    EXPECT_EQ(back.dword, 7u);

    settings::EmailFields out;
    out.username = "window text";
    EXPECT_EQ(settings::ReadSettings(p.GetRegistry(), out), "Scandor-smtphost is not a text value");
    EXPECT_EQ(out.email, "ann@example.com");
    EXPECT_EQ(out.emailFrom, "from@example.com");
    EXPECT_EQ(out.username, "window text");

    // Bytes of any other type come back as stored; every value is listed once.
    platform::RegValue blob;
    blob.type = 3;  // REG_BINARY
    blob.raw = {0, 1, 2, 0xFF};
    ASSERT_TRUE(key->WriteValue("blob", blob));
    std::vector<std::pair<std::string, platform::RegValue>> all;
    ASSERT_TRUE(key->ReadValues(all));
    int blobs = 0;
    for (const auto& [name, value] : all)
        if (name == "blob") {
            ++blobs;
            EXPECT_EQ(value.type, 3u);
            EXPECT_EQ(value.raw, blob.raw);
        }
    EXPECT_EQ(blobs, 1);
    EXPECT_EQ(all.size(), 7u);
    EXPECT_FALSE(key->ReadValue("no such value", back));
    EXPECT_EQ(p.GetRegistry().LastFailure(), "");
    EXPECT_FALSE(p.GetRegistry().KeyExists("SOFTWARE\\NoSuchKeyHere"));
    EXPECT_EQ(p.GetRegistry().OpenKey("SOFTWARE\\NoSuchKeyHere", false), nullptr);
}

// COM for the test's thread.
struct Com {
    Com() { ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED); }
    ~Com() { ::CoUninitialize(); }
};

TEST(Win32Shortcut, AStartupShortcutReadsBackThroughIShellLink) {
    Win32Platform p;
    const std::string startup = p.SpecialFolderPath(CSIDL_STARTUP);
    ASSERT_FALSE(startup.empty());
    EXPECT_NE(startup.back(), '\\');
    testsupport::TempDir dir;
    const std::string link = dir / "Scandor Autostart.lnk";
    platform::ShortcutSpec shortcut;
    shortcut.target = "C:\\Program Files\\Scandor\\scandor.exe";
    shortcut.arguments = "-scan 2 -log \"C:\\logs\\sc\xC3\xA4n.log\"";
    shortcut.workingDirectory = "C:\\Program Files\\Scandor";
    shortcut.iconPath = "C:\\Program Files\\Scandor\\scandor.exe";
    shortcut.iconIndex = 1;
    ASSERT_TRUE(p.SaveShortcut(link, shortcut)) << p.SystemErrorText(p.GetLastError());
    EXPECT_TRUE(p.FileExists(link));

    Com com;
    IShellLinkW* shell = nullptr;
    ASSERT_TRUE(SUCCEEDED(::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                             reinterpret_cast<void**>(&shell))));
    IPersistFile* file = nullptr;
    ASSERT_TRUE(SUCCEEDED(shell->QueryInterface(IID_IPersistFile, reinterpret_cast<void**>(&file))));
    ASSERT_TRUE(SUCCEEDED(file->Load(Wide(link).c_str(), STGM_READ)));
    wchar_t text[MAX_PATH * 2] = {};
    ASSERT_TRUE(SUCCEEDED(shell->GetPath(text, MAX_PATH, nullptr, SLGP_RAWPATH)));
    EXPECT_EQ(std::wstring(text), Wide(shortcut.target));
    ASSERT_TRUE(SUCCEEDED(shell->GetArguments(text, MAX_PATH * 2)));
    EXPECT_EQ(std::wstring(text), Wide(shortcut.arguments));
    ASSERT_TRUE(SUCCEEDED(shell->GetWorkingDirectory(text, MAX_PATH)));
    EXPECT_EQ(std::wstring(text), Wide(shortcut.workingDirectory));
    int icon = -1;
    ASSERT_TRUE(SUCCEEDED(shell->GetIconLocation(text, MAX_PATH, &icon)));
    EXPECT_EQ(std::wstring(text), Wide(shortcut.iconPath));
    EXPECT_EQ(icon, 1);
    file->Release();
    shell->Release();

    // Into a folder that is not there, nothing is saved and the failure is said.
    EXPECT_FALSE(p.SaveShortcut(dir / "missing\\x.lnk", shortcut));
    EXPECT_NE(p.GetLastError(), 0u);
}

// WMI finds property names regardless of case (Wine spells it "DeviceId").
const platform::WmiProperty* FindIgnoringCase(const platform::WmiObject& o, const std::string& name) {
    for (const auto& p : o.properties)
        if (platform::text::SameIgnoringCase(p.name, name)) return &p;
    return nullptr;
}

TEST(Win32Wmi, DiskDrivesComeThroughComWithTheirTypes) {
    Win32Platform p;
    const auto r = p.WmiExecQuery("root\\CIMV2", "SELECT Model, Index, DeviceID FROM Win32_DiskDrive");
    ASSERT_TRUE(r.ok) << r.error;
    ASSERT_FALSE(r.objects.empty()) << "the system lists no disk drive";
    for (const auto& o : r.objects) {
        const auto* index = FindIgnoringCase(o, "Index");
        ASSERT_NE(index, nullptr);
        EXPECT_EQ(index->cimType, platform::CIM_UINT32);
        ASSERT_FALSE(index->value.isArray);
        // A uint32 travels as VT_I4, as WMI sends it; its CIM type says what it is.
        ASSERT_TRUE(index->value.kind == platform::WmiValue::Int || index->value.kind == platform::WmiValue::UInt);
        const auto* device = FindIgnoringCase(o, "DeviceID");
        ASSERT_NE(device, nullptr);
        EXPECT_EQ(device->cimType, platform::CIM_STRING);
        ASSERT_EQ(device->value.kind, platform::WmiValue::Text);
        ASSERT_EQ(device->value.texts.size(), 1u);
        // The drive's number is the one its device path ends with, as the program reads them.
        const std::string number = wmiquery::WmiValueText(*index);
        EXPECT_FALSE(number.empty());
        EXPECT_EQ(device->value.texts[0].substr(device->value.texts[0].size() - number.size()), number)
            << device->value.texts[0];
        const auto* model = FindIgnoringCase(o, "Model");
        ASSERT_NE(model, nullptr);
        EXPECT_EQ(model->cimType, platform::CIM_STRING);
    }
    // A query about nothing there brings no objects; a failure says why. (Windows
    // refuses both; Wine answers them with nothing.)
    for (const auto& [ns, wql] : {std::pair<const char*, const char*>{"root\\CIMV2", "SELECT Nonsense FROM No_Such_Class"},
                                  {"root\\NoSuchNamespace", "SELECT Model FROM Win32_DiskDrive"}}) {
        const auto bad = p.WmiExecQuery(ns, wql);
        EXPECT_TRUE(bad.objects.empty()) << wql;
        EXPECT_EQ(bad.ok, bad.error.empty()) << wql;
    }
}

TEST(Win32Wmi, TheProgramsNameQueryEndsInTheListsFallback) {
    Win32Platform p;
    // Wine's Win32_DiskDrive has no Name column: no model, no crash, the caption's
    // fallback takes over.
    std::string value = "stale";
    const int32_t count = wmiquery::WmiGetProperty(p, wmiquery::DriveModelQuery(0), "Model", value);
    if (count == 1) GTEST_SKIP() << "this system answers the Name query: " << value;
    EXPECT_TRUE(count == -1 || count == 0) << count;
    EXPECT_EQ(value, "");
    EXPECT_EQ(wmiquery::GetDriveModel(p, 0), "");
}

}  // namespace
