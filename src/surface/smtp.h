// A compact SMTP submission client: plain TCP, EHLO (HELO when refused), AUTH LOGIN
// only when a user name is given and the server offers LOGIN, PIPELINING when
// offered, a deadline on the connect and on every reply (one for the whole reply,
// however slowly it trickles in).
#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace net { class TcpConnection; class NetError; }

// Every failure of a delivery; its text is what the user reads:
// - "timed out": no connection, reply or room to send within the time-out;
// - the system's text of a socket error ("Connection refused");
// - "Host \"name\" not found: " and the resolver's text;
// - a refused command: the server's reply, code and text ("550 5.7.1 Sender rejected");
// - "Connection closed by the server", "Malformed reply from the server: " and the
//   line, "The server's reply is too long", "No recipient address given";
// - an address or host name with a control character, refused before it is sent
//   ("The sender address contains a control character").
class SmtpError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The caller's cancel check stopped the delivery; the connection is closed
// without QUIT, since waiting for the server is what was cancelled.
class SmtpCancelled : public SmtpError {
public:
    using SmtpError::SmtpError;
};

struct SmtpSettings {
    std::string host;
    uint16_t port = 25;
    std::string userName;      // empty: never log in
    std::string password;
    std::string heloName;      // empty: the local host name
    // A silent server must not block the caller for ever; generous enough for a
    // slow server behind a content filter.
    int connectTimeoutMs = 30000;
    int replyTimeoutMs = 30000;
    // Asked while waiting; true abandons the delivery at once (SmtpCancelled).
    std::function<bool()> cancelled;
};

struct MailMessageData {
    std::string from;                     // address only
    std::vector<std::string> recipients;  // entries as typed, see ParseAddressList
    std::string subject;
    std::string body;                     // UTF-8, any line ends
};

struct SmtpReply {
    int code = 0;
    std::vector<std::string> lines;  // the text after "250-" / "250 "
    // "550 first line second line"
    std::string Text() const;
};

// One line of a reply, its line end removed, added to reply: More when a line of
// the same reply follows ("250-"), Last after the final line ("250 "), Malformed
// (reply unchanged) for anything else or a code that differs from the earlier lines'.
enum class ReplyLine { More, Last, Malformed };
ReplyLine AddReplyLine(SmtpReply& reply, const std::string& line);

// The comma-separated recipient field as entries: trimmed, empties dropped.
std::vector<std::string> ParseAddressList(const std::string& text);
// The address of an entry for the envelope: the part in angle brackets when there
// is one ("Ann <ann@x>" -> "ann@x"), else the entry itself.
std::string EnvelopeAddress(const std::string& entry);

// The message as sent after DATA, before dot-stuffing: headers and body with CR LF
// line ends, ending in CR LF. ASCII bodies with lines of at most 998 bytes go as
// 7bit; anything else as quoted-printable, so no server extension is needed.
std::string BuildMessageText(const MailMessageData& message, std::time_t date,
                             const std::string& messageId);
// Doubles the leading dot of every line of a CR LF text.
std::string DotStuff(const std::string& crlfText);
// Why the message's addresses cannot go into SMTP commands or headers: a control
// character (CR LF would start a command of its own). Empty when they can.
std::string AddressProblem(const MailMessageData& message);
// The same for the server's host name and the EHLO name.
std::string HostNameProblem(const SmtpSettings& settings);

// "Tue, 08 Dec 2026 17:08:51 +0100" in local time.
std::string RfcDate(std::time_t t);

class SmtpClient {
public:
    SmtpClient();
    ~SmtpClient();
    SmtpClient(const SmtpClient&) = delete;
    SmtpClient& operator=(const SmtpClient&) = delete;

    // Greeting, EHLO or HELO, and AUTH LOGIN when it applies. Throws SmtpError.
    void Connect(const SmtpSettings& settings);
    // One transaction. Throws SmtpError; a rejected recipient fails the whole mail.
    void Send(const MailMessageData& message);
    // QUIT when the exchange is still in step, then close. Never throws.
    void Disconnect();
    bool Connected() const;

    // What the last EHLO offered (false after HELO).
    bool OffersPipelining() const { return pipelining_; }
    bool OffersLogin() const { return authLogin_; }
    bool Authenticated() const { return authenticated_; }

private:
    void Write(const std::string& data);
    SmtpReply ReadReply();
    SmtpReply Command(const std::string& line);
    void Expect(const SmtpReply& reply, int code);
    void Fail(const std::string& text, bool broken);
    [[noreturn]] void Fail(const net::NetError& e);

    SmtpSettings settings_;
    std::unique_ptr<net::TcpConnection> connection_;
    std::string buffer_;
    bool broken_ = false;  // the exchange lost step: close without QUIT
    bool pipelining_ = false;
    bool authLogin_ = false;
    bool authenticated_ = false;
};
