// scandor-cli surface --email: the report mailed with the saved settings. The
// program's SMTP port is fixed at 25, so these tests need to bind it (root).
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include "cli/cli_fixture.h"

using clitest::CliProcess;
using clitest::CliResult;
using clitest::Disk;
using clitest::RunCli;
using nlohmann::json;

namespace {

// A listening socket on 127.0.0.1:25, or the reason there is none.
int ListenOnPort25(std::string& why) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        why = std::strerror(errno);
        return -1;
    }
    const int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(25);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fd, 4) != 0) {
        why = std::string("cannot listen on 127.0.0.1:25: ") + std::strerror(errno);
        ::close(fd);
        return -1;
    }
    return fd;
}

// Accepts one session and records what the client sent; no AUTH is offered.
// mailReply: the answer to MAIL FROM.
class FakeSmtpServer {
public:
    explicit FakeSmtpServer(int listenFd, std::string mailReply = "250 fine")
        : fd_(listenFd), mailReply_(std::move(mailReply)), thread_([this] { Serve(); }) {}
    ~FakeSmtpServer() {
        Stop();
        ::close(fd_);
    }
    // Ends the session thread; what it recorded may be read afterwards.
    void Stop() {
        ::shutdown(fd_, SHUT_RDWR);
        if (thread_.joinable()) thread_.join();
    }
    std::vector<std::string> commands;
    std::string data;

private:
    void Serve() {
        const int c = ::accept(fd_, nullptr, nullptr);
        if (c < 0) return;
        Send(c, "220 fake ESMTP\r\n");
        std::string buf;
        bool inData = false;
        char chunk[4096];
        for (;;) {
            const ssize_t n = ::recv(c, chunk, sizeof chunk, 0);
            if (n <= 0) break;
            buf.append(chunk, static_cast<size_t>(n));
            for (size_t eol; (eol = buf.find("\r\n")) != std::string::npos;) {
                std::string line = buf.substr(0, eol);
                buf.erase(0, eol + 2);
                if (inData) {
                    if (line == ".") {
                        inData = false;
                        Send(c, "250 queued\r\n");
                    } else {
                        data += line + "\n";
                    }
                    continue;
                }
                commands.push_back(line);
                if (line.rfind("DATA", 0) == 0) {
                    inData = true;
                    Send(c, "354 go on\r\n");
                } else if (line.rfind("MAIL FROM", 0) == 0) {
                    Send(c, mailReply_ + "\r\n");
                } else if (line.rfind("QUIT", 0) == 0) {
                    Send(c, "221 bye\r\n");
                    ::close(c);
                    return;
                } else {
                    Send(c, "250 fine\r\n");
                }
            }
        }
        ::close(c);
    }
    static void Send(int c, const std::string& s) { (void)!::send(c, s.data(), s.size(), MSG_NOSIGNAL); }

    int fd_;
    std::string mailReply_;
    std::thread thread_;
};

// Accepts one connection and never says a word, until stopped.
class SilentSmtpServer {
public:
    explicit SilentSmtpServer(int listenFd) : fd_(listenFd), thread_([this] {
        client_ = ::accept(fd_, nullptr, nullptr);
        accepted = true;
        char c[256];
        ssize_t n;
        if (client_ >= 0)
            while ((n = ::recv(client_, c, sizeof c, 0)) > 0) received.append(c, static_cast<size_t>(n));
    }) {}
    ~SilentSmtpServer() {
        ::shutdown(fd_, SHUT_RDWR);
        if (client_ >= 0) ::shutdown(client_, SHUT_RDWR);
        if (thread_.joinable()) thread_.join();
        if (client_ >= 0) ::close(client_);
        ::close(fd_);
    }
    std::atomic<bool> accepted{false};
    std::string received;

private:
    int fd_;
    int client_ = -1;
    std::thread thread_;
};

class EmailCli : public clitest::CliTest {
protected:
    std::string MachineWithSettings() {
        const std::string hive = dir_ / "HKLM.reg";
        std::ofstream(hive) << "Windows Registry Editor Version 5.00\r\n\r\n"
                               "[HKEY_LOCAL_MACHINE\\SOFTWARE\\KAVENO_Scandor]\r\n"
                               "\"Scandor-sendbyemail\"=dword:00000000\r\n"
                               "\"Scandor-email\"=\"ops@example.org,disks@example.net\"\r\n"
                               "\"Scandor-emailfrom\"=\"box@example.org\"\r\n"
                               "\"Scandor-smtphost\"=\"127.0.0.1\"\r\n"
                               "\"Scandor-username\"=\"mailer\"\r\n"
                               "\"Scandor-x\"=\"rdbsdu\"\r\n";
        return Machine(json::array({Disk(0, 4 * 1048576)}), {{"registry", hive}});
    }
};

TEST_F(EmailCli, TheReportGoesOutWithTheSavedSettings) {
    std::string why;
    const int fd = ListenOnPort25(why);
    if (fd < 0) GTEST_SKIP() << why;
    const std::string m = MachineWithSettings();
    FakeSmtpServer server(fd);
    // The check box of the saved settings is off: --email is the tick.
    CliResult r = RunCli({"surface", "0", "--email"}, m);
    server.Stop();
    const std::vector<std::string>& commands = server.commands;
    const std::string& data = server.data;
    EXPECT_EQ(r.code, 0) << r.err;
    const auto lines = r.Lines();
    // The report, the delivery lines, then the read times (how, and 7 classes).
    ASSERT_EQ(lines.size(), 21u + 8u) << r.out;
    EXPECT_EQ(lines[18], "http://www.kaveno.de");
    EXPECT_EQ(lines[19], "Sending email");
    EXPECT_EQ(lines[20], "Email send.");
    EXPECT_EQ(lines[21].rfind("Reads: ", 0), 0u) << lines[21];
    EXPECT_NE(std::find(commands.begin(), commands.end(), "MAIL FROM:<box@example.org>"), commands.end());
    EXPECT_NE(std::find(commands.begin(), commands.end(), "RCPT TO:<ops@example.org>"), commands.end());
    EXPECT_NE(std::find(commands.begin(), commands.end(), "RCPT TO:<disks@example.net>"), commands.end());
    EXPECT_NE(data.find("Subject: Drive Error Report"), std::string::npos) << data;
    // The body is the report that was printed.
    std::string body;
    for (size_t i = 0; i < 19; ++i) body += lines[i] + "\n";
    EXPECT_NE(data.find(body), std::string::npos) << data;
}

TEST_F(EmailCli, AFailedDeliveryIsReportedButLeavesTheExitCode) {
    std::string why;
    const int fd = ListenOnPort25(why);
    if (fd < 0) GTEST_SKIP() << why;
    ::close(fd);  // nobody listens now: the connection is refused
    const std::string m = MachineWithSettings();
    CliResult r = RunCli({"--json", "surface", "0", "--email"}, m);
    EXPECT_EQ(r.code, 0) << r.err;
    json j = Parse(r);
    EXPECT_EQ(j["email"]["sent"], false);
    ASSERT_EQ(j["email"]["log"].size(), 2u);
    EXPECT_EQ(j["email"]["log"][0], "Sending email");
    EXPECT_EQ(j["email"]["log"][1], "Error on sending email: Connection refused");
    EXPECT_EQ(j["report"].size(), 19u);
}

// A server's reply reaches the terminal in the error line: its ESC sequences must
// not retitle the terminal or clear the screen.
TEST_F(EmailCli, AServerReplyWithEscapeSequencesIsPrintedEscaped) {
    std::string why;
    const int fd = ListenOnPort25(why);
    if (fd < 0) GTEST_SKIP() << why;
    const std::string m = MachineWithSettings();
    FakeSmtpServer server(fd, "550 \x1b]0;owned\x07\x1b[2J rejected\r550-x");
    CliResult r = RunCli({"surface", "0", "--email"}, m);
    server.Stop();
    EXPECT_EQ(r.code, 0) << r.err;
    const auto lines = r.Lines();
    ASSERT_EQ(lines.size(), 21u + 8u) << r.out;
    EXPECT_EQ(lines[20], "Error on sending email: 550 \\x1b]0;owned\\x07\\x1b[2J rejected\\r550-x");
    EXPECT_EQ(r.out.find('\x1b'), std::string::npos);
}

// One SIGTERM during delivery (as `timeout` or `systemctl stop` send) abandons it at
// once instead of waiting out the server's 30 s.
TEST_F(EmailCli, ASignalDuringDeliveryAbandonsItAtOnce) {
    std::string why;
    const int fd = ListenOnPort25(why);
    if (fd < 0) GTEST_SKIP() << why;
    const std::string m = MachineWithSettings();
    SilentSmtpServer server(fd);
    CliProcess p({"surface", "0", "--email"}, m);
    ASSERT_TRUE(p.started());
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!server.accepted && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ASSERT_TRUE(server.accepted);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const auto sent = std::chrono::steady_clock::now();
    p.Signal(SIGTERM);
    CliResult r = p.Finish(45000);
    EXPECT_LT(std::chrono::steady_clock::now() - sent, std::chrono::seconds(1));
    // The scan was complete and healthy: the exit code says so.
    EXPECT_EQ(r.code, 0) << r.err;
    const auto lines = r.Lines();
    ASSERT_EQ(lines.size(), 21u + 8u) << r.out;
    EXPECT_EQ(lines[14], "Sector Read Errors: 0");
    EXPECT_EQ(lines[19], "Sending email");
    EXPECT_EQ(lines[20], "Email delivery abandoned.");
    EXPECT_EQ(server.received.find("QUIT"), std::string::npos);
}

// The first signal during the scan stops it after the block; the shortened report is
// printed and still mailed, as the window mails an aborted run.
TEST_F(EmailCli, ASignalDuringTheScanStillMailsTheShortenedReport) {
    std::string why;
    const int fd = ListenOnPort25(why);
    if (fd < 0) GTEST_SKIP() << why;
    const std::string hive = dir_ / "HKLM.reg";
    MachineWithSettings();  // writes the hive
    json disk = Disk(0, 1000LL * 1000 * 1048576);
    disk["unreadable"] = json::array({{{"offset", 128 * 512}, {"length", 512}}});
    const std::string m = Machine(json::array({disk}), {{"registry", hive}});
    FakeSmtpServer server(fd);
    CliProcess p({"--json", "surface", "0", "--email"}, m);
    ASSERT_TRUE(p.started());
    ASSERT_TRUE(p.WaitForErr([](const std::string& e) { return e.find("Sector Error @: 128\n") != std::string::npos; },
                             20000));
    p.Signal(SIGTERM);
    CliResult r = p.Finish(30000);
    server.Stop();
    EXPECT_EQ(r.code, 1) << r.err;
    json j = Parse(r);
    EXPECT_EQ(j["aborted"], true);
    EXPECT_EQ(j["email"]["sent"], true) << j["email"].dump();
    EXPECT_NE(server.data.find("Test stops @ sector: " + std::to_string(j["stopSector"].get<int64_t>())),
              std::string::npos)
        << server.data;
}

TEST_F(EmailCli, StoredSettingsThatCannotBeReadAreSaidOnStderr) {
    std::string why;
    const int fd = ListenOnPort25(why);
    if (fd < 0) GTEST_SKIP() << why;
    ::close(fd);
    const std::string hive = dir_ / "HKLM.reg";
    std::ofstream(hive) << "Windows Registry Editor Version 5.00\r\n\r\n"
                           "[HKEY_LOCAL_MACHINE\\SOFTWARE\\KAVENO_Scandor]\r\n"
                           "\"Scandor-sendbyemail\"=dword:00000000\r\n"
                           "\"Scandor-smtphost\"=\"127.0.0.1\"\r\n"
                           "\"Scandor-username\"=dword:00000001\r\n";
    CliResult r = RunCli({"surface", "0", "--email"}, Machine(json::array({Disk(0, 4 * 1048576)}), {{"registry", hive}}));
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.err.find("scandor-cli: the stored e-mail settings cannot be read: Scandor-username is not a text "
                         "value\n"),
              std::string::npos)
        << r.err;
}

}  // namespace
