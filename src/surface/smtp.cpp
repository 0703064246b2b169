#include "surface/smtp.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <random>

#include "surface/tcpconnection.h"

namespace {

// Guards against a server that streams an endless reply.
constexpr size_t MaxReplyBytes = 64 * 1024;
constexpr size_t MaxLineBytes = 998;

std::string Trim(const std::string& s) {
    const auto first = s.find_first_not_of(" \t");
    if (first == std::string::npos) return {};
    const auto last = s.find_last_not_of(" \t");
    return s.substr(first, last - first + 1);
}

std::string Upper(std::string s) {
    for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

std::string Base64(const std::string& in) {
    static const char* const Alphabet =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    size_t i = 0;
    for (; i + 2 < in.size(); i += 3) {
        const uint32_t v = (static_cast<uint8_t>(in[i]) << 16) |
                           (static_cast<uint8_t>(in[i + 1]) << 8) | static_cast<uint8_t>(in[i + 2]);
        out += Alphabet[(v >> 18) & 63];
        out += Alphabet[(v >> 12) & 63];
        out += Alphabet[(v >> 6) & 63];
        out += Alphabet[v & 63];
    }
    if (i < in.size()) {
        uint32_t v = static_cast<uint8_t>(in[i]) << 16;
        if (i + 1 < in.size()) v |= static_cast<uint8_t>(in[i + 1]) << 8;
        out += Alphabet[(v >> 18) & 63];
        out += Alphabet[(v >> 12) & 63];
        out += i + 1 < in.size() ? Alphabet[(v >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

// Splits on CR LF, lone CR and lone LF alike. A trailing line end adds no line.
std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::string current;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\r' || c == '\n') {
            lines.push_back(current);
            current.clear();
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
        } else {
            current += c;
        }
    }
    if (!current.empty()) lines.push_back(current);
    return lines;
}

bool NeedsEncoding(const std::vector<std::string>& lines) {
    for (const auto& line : lines) {
        if (line.size() > MaxLineBytes) return true;
        for (char c : line) {
            const auto b = static_cast<unsigned char>(c);
            if (b >= 0x80 || b == 0) return true;
        }
    }
    return false;
}

// Quoted-printable of one hard line, soft-wrapped at 76 characters.
std::string QuotedPrintable(const std::string& line) {
    static const char* const Hex = "0123456789ABCDEF";
    std::string out;
    size_t width = 0;
    for (size_t i = 0; i < line.size(); ++i) {
        const auto b = static_cast<unsigned char>(line[i]);
        const bool last = i + 1 == line.size();
        std::string piece;
        if ((b >= 33 && b <= 126 && b != '=') || ((b == ' ' || b == '\t') && !last)) {
            piece = static_cast<char>(b);
        } else {
            piece = {'=', Hex[b >> 4], Hex[b & 15]};
        }
        if (width + piece.size() > 75) {
            out += "=\r\n";
            width = 0;
        }
        out += piece;
        width += piece.size();
    }
    return out;
}

std::string JoinAddresses(const std::vector<std::string>& entries) {
    std::string out;
    for (const auto& e : entries) {
        if (!out.empty()) out += ", ";
        out += e;
    }
    return out;
}

bool HasControl(const std::string& s) {
    for (char c : s) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x20 || b == 0x7F) return true;
    }
    return false;
}

}  // namespace

std::string AddressProblem(const MailMessageData& message) {
    if (HasControl(message.from)) return "The sender address contains a control character";
    for (const auto& r : message.recipients)
        if (HasControl(r)) return "A recipient address contains a control character";
    return {};
}

std::string HostNameProblem(const SmtpSettings& settings) {
    if (HasControl(settings.host)) return "The SMTP host name contains a control character";
    if (HasControl(settings.heloName)) return "The EHLO name contains a control character";
    return {};
}

namespace {

std::string CheckedHeloName(const SmtpSettings& settings) {
    const std::string name = settings.heloName.empty() ? net::LocalHostName() : settings.heloName;
    if (HasControl(name)) throw SmtpError("The local host name contains a control character");
    return name;
}

}  // namespace

ReplyLine AddReplyLine(SmtpReply& reply, const std::string& line) {
    const bool digits = line.size() >= 3 && std::isdigit(static_cast<unsigned char>(line[0])) &&
                        std::isdigit(static_cast<unsigned char>(line[1])) &&
                        std::isdigit(static_cast<unsigned char>(line[2]));
    const char sep = line.size() > 3 ? line[3] : ' ';
    if (!digits || (sep != ' ' && sep != '-')) return ReplyLine::Malformed;
    const int code = std::stoi(line.substr(0, 3));
    if (!reply.lines.empty() && code != reply.code) return ReplyLine::Malformed;
    reply.code = code;
    reply.lines.push_back(line.size() > 4 ? line.substr(4) : std::string());
    return sep == ' ' ? ReplyLine::Last : ReplyLine::More;
}

std::string SmtpReply::Text() const {
    std::string out = std::to_string(code);
    for (const auto& line : lines) {
        if (!line.empty()) out += " " + line;
    }
    return out;
}

std::vector<std::string> ParseAddressList(const std::string& text) {
    std::vector<std::string> entries;
    size_t start = 0;
    for (;;) {
        const size_t comma = text.find(',', start);
        const std::string entry =
            Trim(text.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
        if (!entry.empty()) entries.push_back(entry);
        if (comma == std::string::npos) break;
        start = comma + 1;
    }
    return entries;
}

std::string EnvelopeAddress(const std::string& entry) {
    const size_t open = entry.rfind('<');
    if (open != std::string::npos) {
        const size_t close = entry.find('>', open);
        if (close != std::string::npos) return Trim(entry.substr(open + 1, close - open - 1));
    }
    return Trim(entry);
}

std::string RfcDate(std::time_t t) {
    static const char* const Days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static const char* const Months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    std::tm local{}, utc{};
#ifdef _WIN32
    localtime_s(&local, &t);
    gmtime_s(&utc, &t);
#else
    localtime_r(&t, &local);
    gmtime_r(&t, &utc);
#endif
    // The zone offset from the two breakdowns, which differ by less than a day.
    int days = local.tm_yday - utc.tm_yday;
    if (local.tm_year != utc.tm_year) days = local.tm_year > utc.tm_year ? 1 : -1;
    const long offset = (days * 24L + local.tm_hour - utc.tm_hour) * 60 + local.tm_min - utc.tm_min;
    const long absOffset = offset < 0 ? -offset : offset;
    char text[64];
    std::snprintf(text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d %c%02ld%02ld",
                  Days[local.tm_wday % 7], local.tm_mday, Months[local.tm_mon % 12],
                  local.tm_year + 1900, local.tm_hour, local.tm_min, local.tm_sec,
                  offset < 0 ? '-' : '+', absOffset / 60, absOffset % 60);
    return text;
}

std::string BuildMessageText(const MailMessageData& message, std::time_t date,
                             const std::string& messageId) {
    const std::vector<std::string> lines = SplitLines(message.body);
    const bool encode = NeedsEncoding(lines);
    std::string out;
    out += "Date: " + RfcDate(date) + "\r\n";
    out += "From: " + message.from + "\r\n";
    out += "To: " + JoinAddresses(message.recipients) + "\r\n";
    out += "Subject: " + message.subject + "\r\n";
    out += "Message-ID: " + messageId + "\r\n";
    out += "MIME-Version: 1.0\r\n";
    out += "Content-Type: text/plain; charset=utf-8\r\n";
    out += std::string("Content-Transfer-Encoding: ") + (encode ? "quoted-printable" : "7bit") +
           "\r\n";
    out += "\r\n";
    for (const auto& line : lines) out += (encode ? QuotedPrintable(line) : line) + "\r\n";
    return out;
}

std::string DotStuff(const std::string& crlfText) {
    std::string out;
    out.reserve(crlfText.size() + 16);
    bool lineStart = true;
    for (char c : crlfText) {
        if (lineStart && c == '.') out += '.';
        out += c;
        lineStart = c == '\n';
    }
    return out;
}

SmtpClient::SmtpClient() : connection_(std::make_unique<net::TcpConnection>()) {}
SmtpClient::~SmtpClient() { Disconnect(); }

bool SmtpClient::Connected() const { return connection_->IsOpen(); }

void SmtpClient::Fail(const std::string& text, bool broken) {
    if (broken) broken_ = true;
    throw SmtpError(text);
}

void SmtpClient::Fail(const net::NetError& e) {
    broken_ = true;
    if (e.Cancelled()) throw SmtpCancelled(e.what());
    throw SmtpError(e.what());
}

void SmtpClient::Write(const std::string& data) {
    try {
        connection_->Send(data, settings_.replyTimeoutMs);
    } catch (const net::NetError& e) {
        Fail(e);
    }
}

SmtpReply SmtpClient::ReadReply() {
    // One deadline for the whole reply: a server trickling continuation lines must
    // not hold the client for ever.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(settings_.replyTimeoutMs);
    SmtpReply reply;
    size_t total = 0;
    for (;;) {
        size_t end;
        while ((end = buffer_.find('\n')) == std::string::npos) {
            if (buffer_.size() > MaxReplyBytes) Fail("The server's reply is too long", true);
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                                  deadline - std::chrono::steady_clock::now())
                                  .count();
            if (left <= 0) Fail("timed out", true);
            char chunk[4096];
            size_t n = 0;
            try {
                n = connection_->Receive(chunk, sizeof chunk, static_cast<int>(left));
            } catch (const net::NetError& e) {
                Fail(e);
            }
            if (n == 0) Fail("Connection closed by the server", true);
            buffer_.append(chunk, n);
        }
        std::string line = buffer_.substr(0, end);
        buffer_.erase(0, end + 1);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        total += line.size();
        if (total > MaxReplyBytes) Fail("The server's reply is too long", true);

        const ReplyLine step = AddReplyLine(reply, line);
        if (step == ReplyLine::Malformed) Fail("Malformed reply from the server: " + line, true);
        if (step == ReplyLine::Last) return reply;
    }
}

SmtpReply SmtpClient::Command(const std::string& line) {
    Write(line + "\r\n");
    return ReadReply();
}

void SmtpClient::Expect(const SmtpReply& reply, int code) {
    if (reply.code != code) Fail(reply.Text(), false);
}

void SmtpClient::Connect(const SmtpSettings& settings) {
    Disconnect();
    settings_ = settings;
    buffer_.clear();
    broken_ = false;
    pipelining_ = authLogin_ = authenticated_ = false;
    if (const std::string problem = HostNameProblem(settings_); !problem.empty()) throw SmtpError(problem);
    const std::string name = CheckedHeloName(settings_);

    connection_->SetCancelCheck(settings_.cancelled);
    try {
        connection_->Connect(settings_.host, settings_.port, settings_.connectTimeoutMs);
    } catch (const net::NetError& e) {
        if (e.Cancelled()) throw SmtpCancelled(e.what());
        throw SmtpError(e.what());
    }
    Expect(ReadReply(), 220);

    const SmtpReply ehlo = Command("EHLO " + name);
    if (ehlo.code == 250) {
        for (size_t i = 1; i < ehlo.lines.size(); ++i) {
            const std::string ext = Upper(ehlo.lines[i]);
            if (ext == "PIPELINING") pipelining_ = true;
            // "AUTH LOGIN PLAIN", and the old "AUTH=LOGIN" form
            if (ext.rfind("AUTH", 0) == 0 && ext.size() > 4 && (ext[4] == ' ' || ext[4] == '=')) {
                const std::string mechanisms = " " + ext.substr(5) + " ";
                if (mechanisms.find(" LOGIN ") != std::string::npos) authLogin_ = true;
            }
        }
    } else {
        Expect(Command("HELO " + name), 250);
    }

    if (!settings_.userName.empty() && authLogin_) {
        Expect(Command("AUTH LOGIN"), 334);
        Expect(Command(Base64(settings_.userName)), 334);
        Expect(Command(Base64(settings_.password)), 235);
        authenticated_ = true;
    }
}

void SmtpClient::Send(const MailMessageData& message) {
    if (!Connected()) throw SmtpError("Not connected");
    if (message.recipients.empty()) throw SmtpError("No recipient address given");
    if (const std::string problem = AddressProblem(message); !problem.empty()) throw SmtpError(problem);

    std::vector<std::string> commands;
    commands.push_back("MAIL FROM:<" + EnvelopeAddress(message.from) + ">");
    for (const auto& r : message.recipients) commands.push_back("RCPT TO:<" + EnvelopeAddress(r) + ">");
    commands.push_back("DATA");

    auto accepted = [&](size_t i, const SmtpReply& reply) {
        if (i + 1 == commands.size()) return reply.code == 354;
        return reply.code == 250 || (i > 0 && reply.code == 251);
    };

    if (pipelining_) {
        std::string batch;
        for (const auto& c : commands) batch += c + "\r\n";
        Write(batch);
        std::vector<SmtpReply> replies;
        for (size_t i = 0; i < commands.size(); ++i) replies.push_back(ReadReply());
        for (size_t i = 0; i < commands.size(); ++i) {
            if (accepted(i, replies[i])) continue;
            // DATA was accepted although an earlier command failed: the only way
            // out of the data phase without sending a message is to hang up.
            Fail(replies[i].Text(), replies.back().code == 354);
        }
    } else {
        for (size_t i = 0; i < commands.size(); ++i) {
            const SmtpReply reply = Command(commands[i]);
            if (!accepted(i, reply)) Fail(reply.Text(), false);
        }
    }

    static std::atomic<unsigned> counter{0};
    std::random_device random;
    const std::string host = CheckedHeloName(settings_);
    const std::string messageId = "<" + std::to_string(std::time(nullptr)) + "." +
                                  std::to_string(++counter) + "." + std::to_string(random()) +
                                  ".scandor@" + host + ">";
    Write(DotStuff(BuildMessageText(message, std::time(nullptr), messageId)) + ".\r\n");
    Expect(ReadReply(), 250);
}

void SmtpClient::Disconnect() {
    if (!connection_->IsOpen()) return;
    if (!broken_) {
        try {
            Write("QUIT\r\n");
            ReadReply();
        } catch (const SmtpError&) {
            // the server may hang up first; the mail's fate is already known
        }
    }
    connection_->Close();
    buffer_.clear();
}
