// The report mailed to real SMTP servers on loopback ports: aiosmtpd (no PIPELINING)
// and Node's smtp-server (PIPELINING), plus a scripted server for the replies a
// real one does not give on demand (silence, refused EHLO, rejections mid-pipeline).
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <atomic>
#include <map>
#include <memory>
#include <thread>

#include "mail/servers.h"
#include "surface/maildelivery.h"
#include "surface/report.h"
#include "surface/smtp.h"

namespace fs = std::filesystem;
using namespace mailtest;

namespace {

enum class ServerKind { Aiosmtpd, NodeSmtpServer };

// Readable test names in ctest's listing.
void PrintTo(ServerKind k, std::ostream* os) {
    *os << (k == ServerKind::Aiosmtpd ? "aiosmtpd" : "smtp-server");
}

std::string KindName(const testing::TestParamInfo<ServerKind>& info) {
    return info.param == ServerKind::Aiosmtpd ? "aiosmtpd" : "smtp_server";
}

std::vector<std::string> SampleReport(int64_t errors) {
    SurfaceReportInput in;
    in.devicePath = "\\\\.\\PhysicalDrive1";
    in.displayName = "VBOX HARDDISK (2.00 GB)";
    in.startSector = 0;
    in.endSector = 4194304;
    in.currentSector = 4194304;
    in.errorCount = errors;
    in.dateTime = "12/08/26 17:08:51";
    in.computerName = "BENCH";
    in.userName = "anna";
    in.ipAddress = "192.168.1.20";
    return BuildSurfaceReport(in);
}

std::string JoinCrLf(const std::vector<std::string>& lines) {
    std::string out;
    for (const auto& l : lines) out += l + "\r\n";
    return out;
}

struct ParsedMessage {
    std::map<std::string, std::string> headers;
    std::string body;
};

ParsedMessage Parse(const std::string& data) {
    ParsedMessage m;
    const size_t split = data.find("\r\n\r\n");
    if (split == std::string::npos) return m;
    std::string head = data.substr(0, split + 2);
    m.body = data.substr(split + 4);
    size_t pos = 0, end;
    while ((end = head.find("\r\n", pos)) != std::string::npos) {
        const std::string line = head.substr(pos, end - pos);
        const size_t colon = line.find(": ");
        if (colon != std::string::npos) m.headers[line.substr(0, colon)] = line.substr(colon + 2);
        pos = end + 2;
    }
    return m;
}

SmtpSettings Quick() {
    SmtpSettings s;
    s.connectTimeoutMs = 5000;
    s.replyTimeoutMs = 5000;
    s.heloName = "scandor-client";
    return s;
}

class RealServer : public testing::TestWithParam<ServerKind> {
protected:
    void SetUp() override {
        dir_ = fs::path(SCANDOR_BINARY_DIR) / "tests" / "mail" / "runs" /
               testing::UnitTest::GetInstance()->current_test_info()->name();
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        out_ = (dir_ / "received.jsonl").string();
        if (GetParam() == ServerKind::Aiosmtpd) {
            if (!fs::exists("/usr/bin/python3")) GTEST_SKIP() << "/usr/bin/python3 is missing";
            const int rc = std::system("/usr/bin/python3 -c 'import aiosmtpd' 2>/dev/null");
            if (rc != 0) GTEST_SKIP() << "python3-aiosmtpd is not installed";
        } else {
            if (!fs::exists(fs::path(SCANDOR_MAIL_MODULES) / "smtp-server"))
                GTEST_SKIP() << "smtp-server is not installed under " << SCANDOR_MAIL_MODULES
                             << " (the mail_server_modules test runs npm ci)";
        }
    }

    void Start(std::vector<std::string> extra = {}) {
        std::vector<std::string> argv;
        std::vector<std::string> env;
        if (GetParam() == ServerKind::Aiosmtpd) {
            argv = {"/usr/bin/python3", std::string(SCANDOR_MAIL_SCRIPTS) + "/aiosmtpd_server.py"};
        } else {
            argv = {NodePath(), std::string(SCANDOR_MAIL_SCRIPTS) + "/smtp_server.js"};
            env.push_back(std::string("NODE_PATH=") + SCANDOR_MAIL_MODULES);
        }
        argv.push_back("--out");
        argv.push_back(out_);
        argv.insert(argv.end(), extra.begin(), extra.end());
        server_ = std::make_unique<ServerProcess>(argv, env);
    }

    static std::string NodePath() {
        for (const char* p : {"/usr/bin/node", "/usr/local/bin/node", "/usr/bin/nodejs"})
            if (fs::exists(p)) return p;
        return "node";
    }

    std::vector<std::string> Deliver(const MailFields& fields, const std::vector<std::string>& report) {
        std::vector<std::string> log;
        SendReportByEmail(fields, report, [&](const std::string& l) { log.push_back(l); }, sender_,
                          server_->Port(), Quick());
        return log;
    }

    MailFields Fields(const std::string& user, const std::string& password = "secret") {
        return {"127.0.0.1", user, password, "scandor@bench.example",
                " ops@bench.example , ,boss@bench.example "};
    }

    fs::path dir_;
    std::string out_;
    std::unique_ptr<ServerProcess> server_;
    SmtpMailSender sender_;
};

TEST_P(RealServer, TwoRecipientsWithLoginOfferedLogInAndGetTheReportByteForByte) {
    Start();
    const auto report = SampleReport(1);
    EXPECT_EQ(Deliver(Fields("scandor"), report),
              (std::vector<std::string>{"Sending email", "Email send."}));
    EXPECT_FALSE(sender_.Connected());

    const auto mails = ReadReceived(out_);
    ASSERT_EQ(mails.size(), 1u);
    EXPECT_EQ(mails[0].mailFrom, "scandor@bench.example");
    EXPECT_EQ(mails[0].rcptTos, (std::vector<std::string>{"ops@bench.example", "boss@bench.example"}));
    EXPECT_EQ(mails[0].user, "scandor");
    const ParsedMessage m = Parse(mails[0].data);
    EXPECT_EQ(m.headers.at("Subject"), "Drive Error Report");
    EXPECT_EQ(m.headers.at("From"), "scandor@bench.example");
    EXPECT_EQ(m.headers.at("To"), "ops@bench.example, boss@bench.example");
    EXPECT_EQ(m.headers.at("Content-Type"), "text/plain; charset=utf-8");
    EXPECT_EQ(m.headers.at("Content-Transfer-Encoding"), "7bit");
    EXPECT_EQ(m.headers.count("Date"), 1u);
    EXPECT_EQ(m.headers.count("Message-ID"), 1u);
    EXPECT_EQ(m.body, JoinCrLf(report));
}

TEST_P(RealServer, SendsWithoutLoggingInWhenLoginIsNotOfferedOrNoUserIsGiven) {
    Start({"--no-login"});
    const auto report = SampleReport(0);
    EXPECT_EQ(Deliver(Fields("scandor"), report),
              (std::vector<std::string>{"Sending email", "Email send."}));
    server_.reset();
    Start();
    // LOGIN offered, but an empty user name never logs in; a wrong password would
    // fail the mail if it did.
    EXPECT_EQ(Deliver(Fields("", "wrong"), report),
              (std::vector<std::string>{"Sending email", "Email send."}));

    const auto mails = ReadReceived(out_);
    ASSERT_EQ(mails.size(), 2u);
    for (const auto& mail : mails) {
        EXPECT_EQ(mail.user, "");
        const ParsedMessage m = Parse(mail.data);
        EXPECT_EQ(m.headers.at("Subject"), "Drive Error Report");
        EXPECT_EQ(m.body, JoinCrLf(report));
        EXPECT_EQ(mail.rcptTos.size(), 2u);
    }
}

TEST_P(RealServer, RefusedLoginRejectedSenderAndNoRecipientEachGiveOneErrorLineAndNoMail) {
    Start({"--reject-sender", "scandor@bench.example"});
    const auto report = SampleReport(0);

    auto log = Deliver(Fields("scandor", "wrong"), report);
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0], "Sending email");
    EXPECT_EQ(log[1].rfind("Error on sending email: 535", 0), 0u) << log[1];
    EXPECT_FALSE(sender_.Connected());

    log = Deliver(Fields(""), report);
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[1].rfind("Error on sending email: 550", 0), 0u) << log[1];
    EXPECT_NE(log[1].find("Sender rejected"), std::string::npos) << log[1];
    EXPECT_FALSE(sender_.Connected());

    MailFields nobody = Fields("");
    nobody.recipients = " , ";
    EXPECT_EQ(Deliver(nobody, report).back(), "Error on sending email: No recipient address given");

    EXPECT_TRUE(ReadReceived(out_).empty());
}

// Lines starting with a dot survive the trip, and a body the report never ends
// with a line end still arrives as whole lines.
TEST_P(RealServer, BodyLinesStartingWithADotAndBareLineEndsArriveIntact) {
    Start();
    SmtpClient client;
    SmtpSettings s = Quick();
    s.host = "127.0.0.1";
    s.port = server_->Port();
    client.Connect(s);
    EXPECT_EQ(client.OffersPipelining(), GetParam() == ServerKind::NodeSmtpServer);
    EXPECT_TRUE(client.OffersLogin());
    EXPECT_FALSE(client.Authenticated());
    client.Send({"a@x.example", {"b@x.example"}, "Drive Error Report",
                 ".\n..two\r.three\r\nlast"});
    client.Disconnect();

    const auto mails = ReadReceived(out_);
    ASSERT_EQ(mails.size(), 1u);
    EXPECT_EQ(Parse(mails[0].data).body, ".\r\n..two\r\n.three\r\nlast\r\n");
}

TEST_P(RealServer, NonAsciiDriveNameGoesQuotedPrintable) {
    Start();
    auto report = SampleReport(0);
    report[4] = "Drives Real Name: M\xC3\xBCller Disk";
    EXPECT_EQ(Deliver(Fields(""), report).back(), "Email send.");
    const auto mails = ReadReceived(out_);
    ASSERT_EQ(mails.size(), 1u);
    const ParsedMessage m = Parse(mails[0].data);
    EXPECT_EQ(m.headers.at("Content-Transfer-Encoding"), "quoted-printable");
    EXPECT_NE(m.body.find("\r\nDrives Real Name: M=C3=BCller Disk\r\n"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Servers, RealServer,
                         testing::Values(ServerKind::Aiosmtpd, ServerKind::NodeSmtpServer),
                         KindName);

// --- scripted server --------------------------------------------------------

std::vector<std::string> DeliverTo(uint16_t port, SmtpSettings base = Quick()) {
    std::vector<std::string> log;
    SmtpMailSender sender;
    SendReportByEmail({"127.0.0.1", "", "", "s@x.example", "r@x.example, q@x.example"},
                      SampleReport(0), [&](const std::string& l) { log.push_back(l); }, sender, port,
                      base);
    EXPECT_FALSE(sender.Connected());
    return log;
}

void ReadMessage(ScriptedServer::Peer& p) {
    while (p.ReadLine() != ".") {
    }
}

TEST(ScriptedServer, ASilentServerEndsInTheTimedOutLine) {
    ScriptedServer silent([](ScriptedServer::Peer&) {}, /*accept=*/false);
    SmtpSettings s = Quick();
    s.replyTimeoutMs = 300;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(DeliverTo(silent.Port(), s),
              (std::vector<std::string>{"Sending email", "Error on sending email: timed out"}));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
}

TEST(ScriptedServer, ARefusedConnectionNamesTheCause) {
    uint16_t port;
    { ScriptedServer gone([](ScriptedServer::Peer&) {}, false); port = gone.Port(); }
    EXPECT_EQ(DeliverTo(port).back(), "Error on sending email: Connection refused");
}

TEST(ScriptedServer, FallsBackToHeloWhenEhloIsRefusedAndReadsMultiLineReplies) {
    ScriptedServer server([](ScriptedServer::Peer& p) {
        p.Send("220-mail.example greets you\r\n220-second line\r\n220 ready\r\n");
        if (p.ReadLine() != "EHLO scandor-client") throw std::runtime_error("no EHLO");
        p.Send("502 5.5.1 EHLO not implemented\r\n");
        if (p.ReadLine() != "HELO scandor-client") throw std::runtime_error("no HELO");
        p.Send("250 mail.example\r\n");
        if (p.ReadLine() != "MAIL FROM:<s@x.example>") throw std::runtime_error("no MAIL");
        p.Send("250 ok\r\n");
        p.ReadLine();
        p.Send("250 ok\r\n");
        p.ReadLine();
        p.Send("251-forwarded\r\n251 ok\r\n");
        if (p.ReadLine() != "DATA") throw std::runtime_error("no DATA");
        p.Send("354 go ahead\r\n");
        ReadMessage(p);
        p.Send("250 queued\r\n");
        if (p.ReadLine() != "QUIT") throw std::runtime_error("no QUIT");
        p.Send("221 bye\r\n");
    });
    EXPECT_EQ(DeliverTo(server.Port()),
              (std::vector<std::string>{"Sending email", "Email send."}));
    EXPECT_EQ(server.Finish(), "");
}

// The server answers nothing until the whole envelope has arrived: a client that
// waited for each reply would stall here and time out.
TEST(ScriptedServer, PipelinesTheEnvelopeWhenOfferedButLogsInFirst) {
    ScriptedServer server([](ScriptedServer::Peer& p) {
        p.Send("220 ready\r\n");
        p.ReadLine();
        p.Send("250-mail.example\r\n250-PIPELINING\r\n250-SIZE 1000000\r\n250 AUTH=LOGIN\r\n");
        if (p.ReadLine() != "AUTH LOGIN") throw std::runtime_error("no AUTH LOGIN");
        p.Send("334 VXNlcm5hbWU6\r\n");
        if (p.ReadLine() != "c2NhbmRvcg==") throw std::runtime_error("bad user");
        p.Send("334 UGFzc3dvcmQ6\r\n");
        if (p.ReadLine() != "cGFzcw==") throw std::runtime_error("bad password");
        p.Send("235 2.7.0 accepted\r\n");
        for (const char* want : {"MAIL FROM:<s@x.example>", "RCPT TO:<r@x.example>",
                                 "RCPT TO:<q@x.example>", "DATA"})
            if (p.ReadLine() != want) throw std::runtime_error(std::string("expected ") + want);
        p.Send("250 ok\r\n250 ok\r\n250 ok\r\n354 go ahead\r\n");
        ReadMessage(p);
        p.Send("250 queued\r\n");
        p.ReadLine();
        p.Send("221 bye\r\n");
    });
    std::vector<std::string> log;
    SmtpMailSender sender;
    SendReportByEmail({"127.0.0.1", "scandor", "pass", "s@x.example", "r@x.example,q@x.example"},
                      SampleReport(0), [&](const std::string& l) { log.push_back(l); }, sender,
                      server.Port(), Quick());
    EXPECT_EQ(log, (std::vector<std::string>{"Sending email", "Email send."}));
    EXPECT_EQ(server.Finish(), "");
}

// A rejected recipient fails the mail. When the server nevertheless accepted DATA,
// hanging up is the only way not to send the message to the other recipient.
TEST(ScriptedServer, ARecipientRejectedInAPipelineHangsUpBeforeAnyMessage) {
    bool sentNothing = false;
    ScriptedServer server([&](ScriptedServer::Peer& p) {
        p.Send("220 ready\r\n");
        p.ReadLine();
        p.Send("250-mail.example\r\n250 PIPELINING\r\n");
        for (int i = 0; i < 4; ++i) p.ReadLine();
        p.Send("250 ok\r\n550 5.1.1 <r@x.example>: no such user\r\n250 ok\r\n354 go ahead\r\n");
        sentNothing = p.ClosesWithoutSending();
    });
    EXPECT_EQ(DeliverTo(server.Port()),
              (std::vector<std::string>{"Sending email",
                                        "Error on sending email: 550 5.1.1 <r@x.example>: no such user"}));
    EXPECT_EQ(server.Finish(), "");
    EXPECT_TRUE(sentNothing) << server.Transcript();
}

TEST(ScriptedServer, AWrongGreetingOrAHangUpIsAnError) {
    ScriptedServer busy([](ScriptedServer::Peer& p) {
        p.Send("554 5.3.2 too busy\r\n");
        if (p.ReadLine() != "QUIT") throw std::runtime_error("no QUIT");
        p.Send("221 bye\r\n");
    });
    EXPECT_EQ(DeliverTo(busy.Port()).back(), "Error on sending email: 554 5.3.2 too busy");
    EXPECT_EQ(busy.Finish(), "");

    ScriptedServer hangsUp([](ScriptedServer::Peer& p) {
        p.Send("220 ready\r\n");
        p.ReadLine();
    });
    EXPECT_EQ(DeliverTo(hangsUp.Port()).back(), "Error on sending email: Connection closed by the server");

    ScriptedServer garbage([](ScriptedServer::Peer& p) { p.Send("hello there\r\n"); });
    EXPECT_EQ(DeliverTo(garbage.Port()).back(),
              "Error on sending email: Malformed reply from the server: hello there");
}

// A server trickling "220-" lines every half second must not hold the client past
// one reply deadline: the deadline runs from when the reply is awaited, not from
// the last piece received.
TEST(MisbehavingServer, ATrickledReplyTimesOutOnceForTheWholeReply) {
    if (!fs::exists("/usr/bin/python3")) GTEST_SKIP() << "/usr/bin/python3 is missing";
    ServerProcess trickle({"/usr/bin/python3", std::string(SCANDOR_MAIL_SCRIPTS) + "/trickle_server.py",
                           "--interval", "0.5", "--lines", "40"},
                          {});
    SmtpSettings s = Quick();
    s.replyTimeoutMs = 2000;
    std::vector<std::string> log;
    SmtpMailSender sender;
    const auto start = std::chrono::steady_clock::now();
    SendReportByEmail({"127.0.0.1", "", "", "s@x.example", "r@x.example"}, SampleReport(0),
                      [&](const std::string& l) { log.push_back(l); }, sender, trickle.Port(), s);
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(log, (std::vector<std::string>{"Sending email", "Error on sending email: timed out"}));
    EXPECT_GE(took, std::chrono::milliseconds(1900));
    EXPECT_LT(took, std::chrono::milliseconds(4000)) << "the deadline restarted with every line";
}

// The cancel check (the command line's Ctrl-C) ends a wait on a silent server within
// a moment, with its own line, and hangs up without QUIT.
TEST(ScriptedServer, ACancelledDeliveryIsAbandonedAtOnceWithoutQuit) {
    std::atomic<bool> cancel{false};
    bool hungUp = false;
    ScriptedServer server([&](ScriptedServer::Peer& p) {
        p.Send("220-first greeting line\r\n");
        hungUp = p.ClosesWithoutSending();
    });
    SmtpSettings s = Quick();
    s.replyTimeoutMs = 20000;
    s.cancelled = [&] { return cancel.load(); };
    std::thread signaller([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        cancel = true;
    });
    const auto start = std::chrono::steady_clock::now();
    const std::vector<std::string> log = DeliverTo(server.Port(), s);
    const auto took = std::chrono::steady_clock::now() - start;
    signaller.join();
    EXPECT_EQ(log, (std::vector<std::string>{"Sending email", DeliveryAbandonedLine}));
    EXPECT_LT(took, std::chrono::milliseconds(1300));
    EXPECT_EQ(server.Finish(), "");
    EXPECT_TRUE(hungUp) << server.Transcript();
}

// A CR LF in a stored address or host name would start an SMTP command of its own.
TEST(ScriptedServer, AddressesAndHostNamesWithControlCharactersAreRefusedBeforeConnecting) {
    ScriptedServer nobody([](ScriptedServer::Peer&) {}, /*accept=*/false);
    struct Case {
        MailFields fields;
        std::string error;
    };
    const std::vector<Case> cases = {
        {{"127.0.0.1", "", "", "a@b\r\nRSET", "r@x.example"}, "The sender address contains a control character"},
        {{"127.0.0.1", "", "", "s@x.example", "r@x.example, q@x\nDATA"},
         "A recipient address contains a control character"},
        {{"127.0.0.1", "", "", "s@x.example", "Ann\t<r@x.example>"}, "A recipient address contains a control character"},
        {{"127.0.0.1", "", "", "s@x\x1b[2J", "r@x.example"}, "The sender address contains a control character"},
        {{"127.0.0.1\r\nQUIT", "", "", "s@x.example", "r@x.example"},
         "The SMTP host name contains a control character"},
    };
    for (const Case& c : cases) {
        std::vector<std::string> log;
        SmtpMailSender sender;
        SmtpSettings s = Quick();
        s.replyTimeoutMs = 3000;
        const auto start = std::chrono::steady_clock::now();
        SendReportByEmail(c.fields, SampleReport(0), [&](const std::string& l) { log.push_back(l); }, sender,
                          nobody.Port(), s);
        EXPECT_EQ(log, (std::vector<std::string>{"Sending email", "Error on sending email: " + c.error}));
        // No connection was made: the silent server would have let it wait for the greeting.
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1000));
    }
    SmtpSettings helo = Quick();
    helo.heloName = "box\r\nMAIL FROM:<x@y>";
    std::vector<std::string> log;
    SmtpMailSender sender;
    SendReportByEmail({"127.0.0.1", "", "", "s@x.example", "r@x.example"}, SampleReport(0),
                      [&](const std::string& l) { log.push_back(l); }, sender, nobody.Port(), helo);
    EXPECT_EQ(log.back(), "Error on sending email: The EHLO name contains a control character");
}

// The client itself refuses such addresses too, for callers that skip the delivery's check.
TEST(ScriptedServer, TheClientNeverSendsAnAddressWithALineEnd) {
    ScriptedServer server([](ScriptedServer::Peer& p) {
        p.Send("220 ready\r\n");
        p.ReadLine();
        p.Send("250 mail.example\r\n");
        if (p.ReadLine() != "QUIT") throw std::runtime_error("expected QUIT");
        p.Send("221 bye\r\n");
    });
    SmtpClient client;
    client.Connect([&] {
        SmtpSettings s = Quick();
        s.host = "127.0.0.1";
        s.port = server.Port();
        return s;
    }());
    MailMessageData m;
    m.from = "s@x.example";
    m.recipients = {"r@x.example>\r\nRSET\r\nRCPT TO:<victim@y.example"};
    try {
        client.Send(m);
        ADD_FAILURE() << "sent";
    } catch (const SmtpError& e) {
        EXPECT_STREQ(e.what(), "A recipient address contains a control character");
    }
    client.Disconnect();
    EXPECT_EQ(server.Finish(), "");
    EXPECT_EQ(server.Transcript(), "EHLO scandor-client\nQUIT\n");
}

}  // namespace
