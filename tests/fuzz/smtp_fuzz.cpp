// libFuzzer target: the SMTP reply reader (line by line, as the client takes them
// off the socket), the recipient field and the message writer. A message body
// survives its transfer encoding, and no dot-stuffed message ends the data early.
#include <fuzzer/FuzzedDataProvider.h>

#include "fuzz_check.h"
#include "surface/smtp.h"

namespace {

// The reader's view of the body: lines on CR LF, CR or LF; a last line end adds none.
std::vector<std::string> BodyLines(const std::string& text) {
    std::vector<std::string> lines;
    std::string current;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' || text[i] == '\n') {
            lines.push_back(current);
            current.clear();
            if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
        } else {
            current += text[i];
        }
    }
    if (!current.empty()) lines.push_back(current);
    return lines;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Body lines of a sent message, decoded.
std::vector<std::string> DecodedBody(const std::string& message) {
    const size_t head = message.find("\r\n\r\n");
    FUZZ_CHECK(head != std::string::npos);
    const bool qp = message.substr(0, head).find("quoted-printable") != std::string::npos;
    std::vector<std::string> lines;
    std::string current;
    std::string_view rest = std::string_view(message).substr(head + 4);
    while (!rest.empty()) {
        const size_t end = rest.find("\r\n");
        FUZZ_CHECK(end != std::string_view::npos);
        std::string_view line = rest.substr(0, end);
        rest.remove_prefix(end + 2);
        FUZZ_CHECK(line.size() <= 998);
        FUZZ_CHECK(line.find_first_of("\r\n") == std::string_view::npos);
        if (!qp) {
            lines.emplace_back(line);
            continue;
        }
        FUZZ_CHECK(line.size() <= 76);
        bool soft = false;
        for (size_t i = 0; i < line.size(); ++i) {
            const auto b = static_cast<unsigned char>(line[i]);
            FUZZ_CHECK(b >= 0x20 || b == '\t');
            FUZZ_CHECK(b < 0x7F);
            if (line[i] != '=') {
                current += line[i];
                continue;
            }
            if (i + 1 == line.size()) {
                soft = true;
                break;
            }
            FUZZ_CHECK(i + 2 < line.size());
            const int hi = HexValue(line[i + 1]), lo = HexValue(line[i + 2]);
            FUZZ_CHECK(hi >= 0 && lo >= 0);
            current += static_cast<char>(hi << 4 | lo);
            i += 2;
        }
        if (!soft) {
            // Blanks at the end of an encoded line would be taken off in transport.
            FUZZ_CHECK(line.empty() || (line.back() != ' ' && line.back() != '\t'));
            lines.push_back(current);
            current.clear();
        }
    }
    FUZZ_CHECK(current.empty());
    return lines;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);

    // Replies, one line at a time; a malformed line ends the exchange.
    const std::string replies = in.ConsumeRandomLengthString(2000);
    SmtpReply reply;
    size_t fed = 0;
    for (std::string line : SplitAt(replies, '\n')) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const ReplyLine step = AddReplyLine(reply, line);
        if (step == ReplyLine::Malformed) break;
        ++fed;
        FUZZ_CHECK(reply.lines.size() == fed);
        FUZZ_CHECK(reply.code >= 0 && reply.code <= 999);
        FUZZ_CHECK(reply.code == std::stoi(line.substr(0, 3)));
        FUZZ_CHECK(reply.Text().rfind(std::to_string(reply.code), 0) == 0);
        if (step == ReplyLine::Last) {
            reply = SmtpReply{};
            fed = 0;
        }
    }

    // The recipient field.
    const std::string field = in.ConsumeRandomLengthString(200);
    for (const std::string& entry : ParseAddressList(field)) {
        FUZZ_CHECK(!entry.empty() && entry.find(',') == std::string::npos);
        FUZZ_CHECK(entry.front() != ' ' && entry.front() != '\t' && entry.back() != ' ' &&
                   entry.back() != '\t');
        const std::string address = EnvelopeAddress(entry);
        FUZZ_CHECK(address.size() <= entry.size());
    }

    // The message: its body comes back from the transfer encoding.
    MailMessageData m;
    m.from = "scandor@example.org";
    m.recipients = {"admin@example.org"};
    m.subject = "Scandor report";
    m.body = in.ConsumeRemainingBytesAsString();
    const std::string text = BuildMessageText(m, 1796742531, "<1@example.org>");
    FUZZ_CHECK(DecodedBody(text) == BodyLines(m.body));
    const std::string stuffed = DotStuff(text);
    FUZZ_CHECK(stuffed.find("\r\n.\r\n") == std::string::npos);
    FUZZ_CHECK(stuffed.size() >= 2 && stuffed.compare(stuffed.size() - 2, 2, "\r\n") == 0);
    return 0;
}
