// scandor-cli.exe run as a Windows process on image files: the report, the exit
// code and the JSON document.
#include "platform/win32/windows_api.h"
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <cwchar>

#include "platform/win32/win32_platform.h"
#include "support/tempdir.h"
#include "windows/win32_support.h"

namespace {

using platform::win32::Wide;

// The build tree is on Wine's Z: drive, the root of the Linux file system.
std::wstring CliExe() {
    std::string path = SCANDOR_CLI_EXE;
    for (char& c : path)
        if (c == '/') c = '\\';
    return Wide(path.rfind("\\", 0) == 0 ? "Z:" + path : path);
}

class Win32Cli : public ::testing::Test {
protected:
    wintest::Process Cli(const std::wstring& arguments) {
        return wintest::Run(wintest::Quoted(CliExe()) + L" " + arguments, dir.path);
    }
    testsupport::TempDir dir;
};

TEST_F(Win32Cli, SurfaceOfAnImagePrintsTheWholeReportAndExitsZero) {
    const std::string image = dir / "disk.img";
    wintest::Write(image, wintest::Pattern(512 * 2048));  // 1 MiB, 16 blocks
    auto r = Cli(L"surface " + wintest::Quoted(Wide(image)));
    ASSERT_EQ(r.code, 0u) << r.out << r.err;
    EXPECT_EQ(r.err, "Device node: " + image + "\r\n");  // text mode: Windows line ends

    auto j = Cli(L"surface --json " + wintest::Quoted(Wide(image)));
    ASSERT_EQ(j.code, 0u) << j.err;
    const auto doc = nlohmann::json::parse(j.out);
    EXPECT_EQ(doc["command"], "surface");
    EXPECT_EQ(doc["device"]["path"], image);
    EXPECT_EQ(doc["startSector"], 0);
    EXPECT_EQ(doc["endSector"], 2048);
    EXPECT_EQ(doc["stopSector"], 2048);
    EXPECT_EQ(doc["blocksRead"], 16);
    EXPECT_EQ(doc["errorCount"], 0);
    EXPECT_EQ(doc["aborted"], false);
    EXPECT_EQ(doc["vanished"], false);
    EXPECT_EQ(doc["exitCode"], 0);
    EXPECT_EQ(doc["readMode"], "I/O completion port, 32 reads in flight");
    EXPECT_EQ(doc["readTimes"]["failed"], 0);

    // The report, line for line; what the machine says comes from the system.
    platform::win32::Win32Platform p;
    std::string computer, user;
    ASSERT_TRUE(p.GetComputerName(computer));
    ASSERT_TRUE(p.GetUserName(user));
    const std::vector<std::string> expected = {
        "Drive Test Report",
        doc["dateTime"].get<std::string>(),
        "-----------------",
        "Drives IOCTL Name: " + image,
        "Drives Real Name: " + image + " 1.00 MBytes ",
        "-----------------",
        "Computer: " + computer,
        "User: " + user,
        "IP: " + doc["ip"].get<std::string>(),
        "",
        "Start Sector: 0",
        "End Sector: 2048",
        "Test stops @ sector: 2048",
        "-----------------",
        "Sector Read Errors: 0",
        ":-)",
        "-----------------",
        "This email was generate with \"KAVENO Scandor\"",
        "http://www.kaveno.de",
    };
    EXPECT_EQ(doc["report"].get<std::vector<std::string>>(), expected);
    std::vector<std::string> lines = wintest::Lines(r.out);
    ASSERT_GE(lines.size(), expected.size()) << r.out;
    lines[1] = expected[1];  // the first run read the clock a moment earlier
    EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + static_cast<long>(expected.size())), expected);
    EXPECT_EQ(lines[expected.size()], "Reads: I/O completion port, 32 reads in flight");
    // Every block in one class of read time or another (which one depends on the machine's load).
    EXPECT_EQ(lines[expected.size() + 1].rfind("Blocks read in under 5 ms: ", 0), 0u) << r.out;
    int classified = 0;
    for (const auto& [name, count] : doc["readTimes"].items()) classified += count.get<int>();
    EXPECT_EQ(classified, 16);
}

TEST_F(Win32Cli, SizesUseTheDecimalSeparatorOfTheUsersLocale) {
    const std::string image = dir / "disk.img";
    wintest::Write(image, wintest::Pattern(512 * 3));
    // The user's own choice in the regional settings, as Windows keeps it.
    HKEY key = nullptr;
    ASSERT_EQ(::RegOpenKeyExW(HKEY_CURRENT_USER, L"Control Panel\\International", 0, KEY_READ | KEY_WRITE, &key), ERROR_SUCCESS);
    wchar_t old[16] = {};
    DWORD size = sizeof old;
    const bool had = ::RegQueryValueExW(key, L"sDecimal", nullptr, nullptr, reinterpret_cast<BYTE*>(old), &size) == ERROR_SUCCESS;
    const auto set = [key](const wchar_t* text) {
        ::RegSetValueExW(key, L"sDecimal", 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                         static_cast<DWORD>((std::wcslen(text) + 1) * sizeof(wchar_t)));
    };
    set(L",");
    auto german = Cli(L"surface " + wintest::Quoted(Wide(image)));
    auto json = Cli(L"surface --json " + wintest::Quoted(Wide(image)));
    set(L".");
    auto english = Cli(L"surface " + wintest::Quoted(Wide(image)));
    if (had) set(old);
    else ::RegDeleteValueW(key, L"sDecimal");
    ::RegCloseKey(key);
    ASSERT_EQ(german.code, 0u) << german.err;
    EXPECT_NE(german.out.find("Drives Real Name: " + image + " 1,50 KBytes \r\n"), std::string::npos) << german.out;
    EXPECT_NE(english.out.find("Drives Real Name: " + image + " 1.50 KBytes \r\n"), std::string::npos) << english.out;
    // JSON documents read the same everywhere.
    EXPECT_NE(json.out.find(" 1.50 KBytes "), std::string::npos) << json.out;
}

TEST_F(Win32Cli, WhatCannotBeReadExitsThreeWithTheSystemsText) {
    const std::string missing = dir / "missing.img";
    auto r = Cli(L"surface --json " + wintest::Quoted(Wide(missing)));
    EXPECT_EQ(r.code, 3u) << r.out << r.err;
    const auto doc = nlohmann::json::parse(r.out);
    EXPECT_EQ(doc["exitCode"], 3);
    const std::string error = doc["error"];
    EXPECT_EQ(error.rfind("cannot open " + missing + ": ", 0), 0u) << error;
    EXPECT_FALSE(std::filesystem::exists(missing));

    // A folder is no image, and an empty file has no sector to read.
    EXPECT_EQ(Cli(L"surface " + wintest::Quoted(dir.path.wstring())).code, 3u);
    const std::string empty = dir / "empty.img";
    wintest::Write(empty, "");
    EXPECT_EQ(Cli(L"surface " + wintest::Quoted(Wide(empty))).code, 3u);
    EXPECT_EQ(Cli(L"surface").code, 2u);
    EXPECT_EQ(Cli(L"surface --queue-depth 0 " + wintest::Quoted(Wide(empty))).code, 2u);
}

}  // namespace
