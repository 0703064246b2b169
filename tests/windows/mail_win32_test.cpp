// The report mailed through Winsock to a real SMTP server on 127.0.0.1 (Debian's
// aiosmtpd, a Linux process Wine starts beside the test).
#include "platform/win32/windows_api.h"
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "platform/win32/win32_platform.h"
#include "surface/maildelivery.h"
#include "windows/win32_support.h"

namespace {

using platform::win32::Wide;

// A Linux path as Wine shows it, on Z:.
std::string OnZ(const std::string& unixPath) {
    std::string path = "Z:" + unixPath;
    for (char& c : path)
        if (c == '/') c = '\\';
    return path;
}

std::string Unhex(const std::string& hex) {
    std::string out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    return out;
}

TEST(Win32Mail, TheReportArrivesWholeThroughWinsock) {
    if (::GetFileAttributesW(L"Z:\\usr\\bin\\python3") == INVALID_FILE_ATTRIBUTES)
        GTEST_SKIP() << "no /usr/bin/python3 beside Wine";
    const std::string base = "/tmp/scandor-wine-mail-" + std::to_string(::GetCurrentProcessId());
    const std::string out = base + ".jsonl", portFile = base + ".port", runFile = base + ".run";
    ::DeleteFileW(Wide(OnZ(out)).c_str());
    ::DeleteFileW(Wide(OnZ(portFile)).c_str());
    wintest::Write(OnZ(runFile), "");
    // The server runs while the run file is there (a minute at most), away from the
    // test's output, which it would otherwise hold open.
    struct Stop {
        std::string file;
        ~Stop() { ::DeleteFileW(Wide(file).c_str()); }
    } stop{OnZ(runFile)};
    const std::string command = "exec </dev/null >/dev/null 2>&1; timeout 60 /usr/bin/python3 " +
                                std::string(SCANDOR_MAIL_SCRIPTS) + "/aiosmtpd_server.py --out " + out + " > " +
                                portFile + " & while [ -e " + runFile + " ]; do sleep 0.1; done; kill $!";
    std::wstring line = L"/bin/sh -c \"" + Wide(command) + L"\"";
    STARTUPINFOW si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    ASSERT_TRUE(::CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        << "Wine cannot start the server: " << ::GetLastError();
    ::CloseHandle(pi.hThread);
    ::CloseHandle(pi.hProcess);
    int port = 0;
    for (int i = 0; i < 200 && port == 0; ++i) {
        const std::string text = wintest::Read(OnZ(portFile));
        if (text.rfind("PORT ", 0) == 0 && text.find('\n') != std::string::npos) port = std::stoi(text.substr(5));
        else ::Sleep(50);
    }
    ASSERT_GT(port, 0) << wintest::Read(OnZ(portFile));

    const std::vector<std::string> report = {"Drive Test Report", "-----------------", "Sector Read Errors: 1",
                                             "Sector Error @: 4096", "", ".leading dot", "J\xC3\xBCrgen's drive"};
    MailFields fields{"127.0.0.1", "scandor", "secret", "scandor@example.com", "ann@example.com, bob@example.com"};
    std::vector<std::string> log;
    SmtpMailSender sender;
    SendReportByEmail(fields, report, [&](const std::string& l) { log.push_back(l); }, sender,
                      static_cast<uint16_t>(port));
    EXPECT_EQ(log, (std::vector<std::string>{"Sending email", "Email send."}));

    std::string received;
    for (int i = 0; i < 100 && received.empty(); ++i) {
        received = wintest::Read(OnZ(out));
        if (received.empty()) ::Sleep(50);
    }
    ASSERT_FALSE(received.empty());
    const auto record = nlohmann::json::parse(received.substr(0, received.find('\n')));
    EXPECT_EQ(record["mail_from"], "scandor@example.com");
    EXPECT_EQ(record["rcpt_tos"], (std::vector<std::string>{"ann@example.com", "bob@example.com"}));
    EXPECT_EQ(record["user"], "scandor");
    const std::string data = Unhex(record["data_hex"]);
    EXPECT_NE(data.find("Subject: " + std::string(ReportMailSubject)), std::string::npos) << data;
    // The report's lines in order, CR LF apart; the server takes the dot-stuffing back.
    EXPECT_TRUE(data.find("Drive Test Report\r\n-----------------\r\nSector Read Errors: 1\r\nSector Error @: 4096\r\n\r\n.leading dot\r\n") !=
                std::string::npos) << data;

    // A server that is not there: one error line, no hang.
    log.clear();
    SmtpMailSender nobody;
    SendReportByEmail(fields, report, [&](const std::string& l) { log.push_back(l); }, nobody, 1);
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[1].rfind("Error on sending email: ", 0), 0u) << log[1];
    ::DeleteFileW(Wide(OnZ(out)).c_str());
    ::DeleteFileW(Wide(OnZ(portFile)).c_str());
}

}  // namespace
