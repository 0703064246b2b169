// Mailing the surface test report: the steps the window runs after the report is
// shown, when "Send report via email " is ticked.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "surface/smtp.h"

// The texts of the "Email Option" page at sending time.
struct MailFields {
    std::string host;
    std::string userName;
    std::string password;
    std::string from;
    std::string recipients;  // comma-separated
};

// The client the delivery drives; SmtpClient in the program, a stand-in in tests.
class MailSender {
public:
    virtual ~MailSender() = default;
    virtual void Connect(const SmtpSettings& settings) = 0;
    virtual void Send(const MailMessageData& message) = 0;
    virtual void Disconnect() = 0;
    virtual bool Connected() const = 0;
};

class SmtpMailSender : public MailSender {
public:
    void Connect(const SmtpSettings& settings) override { client_.Connect(settings); }
    void Send(const MailMessageData& message) override { client_.Send(message); }
    void Disconnect() override { client_.Disconnect(); }
    bool Connected() const override { return client_.Connected(); }

private:
    SmtpClient client_;
};

inline constexpr const char* ReportMailSubject = "Drive Error Report";
// Logged instead of the error line when the settings' cancel check stopped delivery.
inline constexpr const char* DeliveryAbandonedLine = "Email delivery abandoned.";

// Logs "Sending email", sends the report lines joined by CR LF with the subject
// above, then logs "Email send." or one "Error on sending email: " line, and
// disconnects in every case (without QUIT when the delivery was abandoned). An
// address or host name with a control character is refused before connecting.
// Never throws. The window passes port 25; time-outs and
// the EHLO name come from `base`, whose host, port, user and password are replaced.
void SendReportByEmail(const MailFields& fields, const std::vector<std::string>& reportLines,
                       const std::function<void(const std::string&)>& log, MailSender& sender,
                       uint16_t port = 25, const SmtpSettings& base = {});
