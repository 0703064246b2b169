#include <gtest/gtest.h>

#include <cstdlib>
#include <regex>
#include <stdexcept>

#include "surface/maildelivery.h"
#include "surface/report.h"
#include "surface/smtp.h"

namespace {

SurfaceReportInput FinishedRun(int64_t errors, int64_t stoppedAt) {
    SurfaceReportInput in;
    in.devicePath = "\\\\.\\PhysicalDrive0";
    in.displayName = "ST3500418AS (465.76 GB)";
    in.startSector = 63;
    in.endSector = 1000;
    in.currentSector = stoppedAt;
    in.errorCount = errors;
    in.dateTime = "12/08/26 17:08:51";
    in.computerName = "BENCH";
    in.userName = "anna";
    in.ipAddress = "10.0.0.7";
    return in;
}

TEST(SurfaceReport, NineteenLinesOfACleanRun) {
    const std::vector<std::string> expected = {
        "Drive Test Report",
        "12/08/26 17:08:51",
        "-----------------",
        "Drives IOCTL Name: \\\\.\\PhysicalDrive0",
        "Drives Real Name: ST3500418AS (465.76 GB)",
        "-----------------",
        "Computer: BENCH",
        "User: anna",
        "IP: 10.0.0.7",
        "",
        "Start Sector: 63",
        "End Sector: 1000",
        "Test stops @ sector: 1024",
        "-----------------",
        "Sector Read Errors: 0",
        ":-)",
        "-----------------",
        "This email was generate with \"KAVENO Scandor\"",
        "http://www.kaveno.de",
    };
    EXPECT_EQ(BuildSurfaceReport(FinishedRun(0, 1024)), expected);
}

TEST(SurfaceReport, OneFailedBlockFrownsAndLargeNumbersHaveNoSeparators) {
    SurfaceReportInput in = FinishedRun(1, 0);
    in.endSector = 3907029168;
    in.currentSector = 3907029120;
    in.ipAddress = "";
    const auto lines = BuildSurfaceReport(in);
    ASSERT_EQ(lines.size(), 19u);
    EXPECT_EQ(lines[8], "IP: ");
    EXPECT_EQ(lines[11], "End Sector: 3907029168");
    EXPECT_EQ(lines[12], "Test stops @ sector: 3907029120");
    EXPECT_EQ(lines[14], "Sector Read Errors: 1");
    EXPECT_EQ(lines[15], ":(");
}

// Date and time are two readings: a run ending at midnight may show the old date
// with the new time, never a date from the time reading.
TEST(SurfaceReport, DateFromTheFirstReadingTimeFromTheSecond) {
    int calls = 0;
    auto clock = [&] {
        std::tm t{};
        t.tm_year = 126;
        t.tm_mon = 11;
        t.tm_mday = calls == 0 ? 8 : 9;
        t.tm_hour = calls == 0 ? 23 : 0;
        t.tm_min = calls == 0 ? 59 : 0;
        t.tm_sec = calls == 0 ? 59 : 1;
        ++calls;
        return t;
    };
    EXPECT_EQ(ReportDateTime(clock, std::locale::classic()), "12/08/26 00:00:01");
    EXPECT_EQ(calls, 2);
}

TEST(MailAddresses, CommaListIsTrimmedAndEmptiesDropped) {
    EXPECT_EQ(ParseAddressList(" a@x.example, ,b@x.example ,,\tc@x.example\t"),
              (std::vector<std::string>{"a@x.example", "b@x.example", "c@x.example"}));
    EXPECT_TRUE(ParseAddressList(" , ").empty());
    EXPECT_TRUE(ParseAddressList("").empty());
    EXPECT_EQ(EnvelopeAddress("Ops Desk <ops@x.example>"), "ops@x.example");
    EXPECT_EQ(EnvelopeAddress("ops@x.example"), "ops@x.example");
}

TEST(MailMessage, HeadersThenBodyWithCrLfLineEnds) {
    const std::string text = BuildMessageText(
        {"s@x.example", {"a@x.example", "b@x.example"}, "Drive Error Report", "one\ntwo\r\nthree"},
        0, "<id@host>");
    const std::regex shape(
        "Date: (Mon|Tue|Wed|Thu|Fri|Sat|Sun), \\d\\d (Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) "
        "\\d{4} \\d\\d:\\d\\d:\\d\\d [+-]\\d{4}\r\n"
        "From: s@x\\.example\r\n"
        "To: a@x\\.example, b@x\\.example\r\n"
        "Subject: Drive Error Report\r\n"
        "Message-ID: <id@host>\r\n"
        "MIME-Version: 1\\.0\r\n"
        "Content-Type: text/plain; charset=utf-8\r\n"
        "Content-Transfer-Encoding: 7bit\r\n"
        "\r\n"
        "one\r\ntwo\r\nthree\r\n");
    EXPECT_TRUE(std::regex_match(text, shape)) << text;
}

// A line too long for SMTP would be cut or refused by the server; quoted-printable
// keeps every transmitted line short and the text recoverable.
TEST(MailMessage, OverlongLineGoesQuotedPrintableInShortLines) {
    const std::string longLine(1200, 'x');
    const std::string text =
        BuildMessageText({"s@x.example", {"a@x.example"}, "S", "a=b \n" + longLine}, 0, "<i@h>");
    EXPECT_NE(text.find("Content-Transfer-Encoding: quoted-printable\r\n"), std::string::npos);
    const std::string body = text.substr(text.find("\r\n\r\n") + 4);
    EXPECT_EQ(body.substr(0, 10), "a=3Db=20\r\n");  // '=' and a trailing blank are encoded
    std::string joined;
    size_t pos = 0, end;
    while ((end = body.find("\r\n", pos)) != std::string::npos) {
        const std::string line = body.substr(pos, end - pos);
        EXPECT_LE(line.size(), 76u);
        joined += line.back() == '=' ? line.substr(0, line.size() - 1) : line + "\n";
        pos = end + 2;
    }
    EXPECT_EQ(joined, "a=3Db=20\n" + longLine + "\n");
}

TEST(MailMessage, DotStuffingDoublesOnlyLeadingDots) {
    EXPECT_EQ(DotStuff(".\r\na.b\r\n..c\r\n"), "..\r\na.b\r\n...c\r\n");
    EXPECT_EQ(DotStuff("x\r\n"), "x\r\n");
}

// --- delivery steps with a stand-in client -----------------------------------

class RecordingSender : public MailSender {
public:
    void Connect(const SmtpSettings& s) override {
        settings = s;
        connected = true;
        if (failConnect) throw std::runtime_error(failText);
    }
    void Send(const MailMessageData& m) override {
        message = m;
        if (failSend) throw SmtpError(failText);
    }
    void Disconnect() override {
        ++disconnects;
        connected = false;
    }
    bool Connected() const override { return connected; }

    bool failConnect = false, failSend = false, connected = false;
    std::string failText;
    SmtpSettings settings;
    MailMessageData message;
    int disconnects = 0;
};

std::vector<std::string> Deliver(RecordingSender& sender) {
    std::vector<std::string> log;
    SendReportByEmail({"mail.example", "anna", "pw", "scandor@x.example", "a@x.example, b@x.example"},
                      {"Drive Test Report", "", ":-)"},
                      [&](const std::string& line) { log.push_back(line); }, sender);
    return log;
}

TEST(MailDelivery, SendsTheReportToEveryRecipientOnPort25) {
    RecordingSender sender;
    EXPECT_EQ(Deliver(sender), (std::vector<std::string>{"Sending email", "Email send."}));
    EXPECT_EQ(sender.settings.host, "mail.example");
    EXPECT_EQ(sender.settings.port, 25);
    EXPECT_EQ(sender.settings.userName, "anna");
    EXPECT_EQ(sender.settings.password, "pw");
    EXPECT_EQ(sender.message.from, "scandor@x.example");
    EXPECT_EQ(sender.message.recipients, (std::vector<std::string>{"a@x.example", "b@x.example"}));
    EXPECT_EQ(sender.message.subject, "Drive Error Report");
    EXPECT_EQ(sender.message.body, "Drive Test Report\r\n\r\n:-)");
    EXPECT_EQ(sender.disconnects, 1);
}

TEST(MailDelivery, FailuresLogOneLineAndStillHangUp) {
    RecordingSender refused;
    refused.failConnect = true;
    refused.failText = "Connection refused";
    EXPECT_EQ(Deliver(refused),
              (std::vector<std::string>{"Sending email", "Error on sending email: Connection refused"}));
    EXPECT_EQ(refused.disconnects, 1);

    RecordingSender silent;
    silent.failSend = true;  // an error without text
    EXPECT_EQ(Deliver(silent),
              (std::vector<std::string>{"Sending email", "Error on sending email: timed out"}));
    EXPECT_EQ(silent.disconnects, 1);
}

}  // namespace

namespace {

class ZoneSetting {
public:
    explicit ZoneSetting(const char* tz) {
        if (const char* old = std::getenv("TZ")) old_ = old, had_ = true;
        ::setenv("TZ", tz, 1);
        ::tzset();
    }
    ~ZoneSetting() {
        if (had_) ::setenv("TZ", old_.c_str(), 1); else ::unsetenv("TZ");
        ::tzset();
    }

private:
    std::string old_;
    bool had_ = false;
};

// The zone offset must survive a local date on the other side of a year boundary.
TEST(MailMessage, DateHeaderCarriesTheLocalZoneOffset) {
    {
        ZoneSetting z("UTC0");
        EXPECT_EQ(RfcDate(0), "Thu, 01 Jan 1970 00:00:00 +0000");
    }
    {
        ZoneSetting z("<+0530>-5:30");
        EXPECT_EQ(RfcDate(0), "Thu, 01 Jan 1970 05:30:00 +0530");
    }
    {
        ZoneSetting z("<-03>3");
        EXPECT_EQ(RfcDate(0), "Wed, 31 Dec 1969 21:00:00 -0300");
    }
}

}  // namespace
