// scandor-cli surface --email: the report mailed with the saved settings. The
// program's SMTP port is fixed at 25, so these tests need to bind it (root).
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#include <thread>

#include "cli/cli_fixture.h"

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
class FakeSmtpServer {
public:
    explicit FakeSmtpServer(int listenFd) : fd_(listenFd), thread_([this] { Serve(); }) {}
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

}  // namespace
