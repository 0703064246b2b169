#include "surface/maildelivery.h"

#include <exception>

void SendReportByEmail(const MailFields& fields, const std::vector<std::string>& reportLines,
                       const std::function<void(const std::string&)>& log, MailSender& sender,
                       uint16_t port, const SmtpSettings& base) {
    SmtpSettings settings = base;
    settings.host = fields.host;
    settings.userName = fields.userName;
    settings.password = fields.password;
    log("Sending email");
    settings.port = port;

    MailMessageData message;
    message.from = fields.from;
    message.recipients = ParseAddressList(fields.recipients);
    message.subject = ReportMailSubject;
    for (size_t i = 0; i < reportLines.size(); ++i) {
        if (i > 0) message.body += "\r\n";
        message.body += reportLines[i];
    }

    std::string error = AddressProblem(message);
    if (error.empty()) error = HostNameProblem(settings);
    if (!error.empty()) {
        // Refused before any connection: such a text must never reach the server.
        log("Error on sending email: " + error);
        return;
    }
    bool failed = false;
    try {
        sender.Connect(settings);
        sender.Send(message);
        log("Email send.");
    } catch (const SmtpCancelled&) {
        log(DeliveryAbandonedLine);
    } catch (const std::exception& e) {
        failed = true;
        error = e.what();
    } catch (...) {
        failed = true;  // no text: reported as a time-out, like an empty message
    }
    if (failed) log("Error on sending email: " + (error.empty() ? std::string("timed out") : error));
    try {
        if (sender.Connected()) sender.Disconnect();
    } catch (...) {
        // a failing hang-up changes nothing the user can act on
    }
}
