// A blocking TCP client connection with a deadline on every wait, for the mail
// client. Kept apart from the platform seam: nothing in the simulated machine needs
// sockets, and the tests talk to real servers on loopback ports.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>

namespace net {

// Every failure of the connection; the text is what the user reads.
class NetError : public std::runtime_error {
public:
    NetError(const std::string& text, bool timedOut, bool cancelled = false)
        : std::runtime_error(text), timedOut_(timedOut), cancelled_(cancelled) {}
    bool TimedOut() const { return timedOut_; }
    // The caller's cancel check asked to stop.
    bool Cancelled() const { return cancelled_; }

private:
    bool timedOut_;
    bool cancelled_;
};

class TcpConnection {
public:
    TcpConnection() = default;
    ~TcpConnection();
    TcpConnection(const TcpConnection&) = delete;
    TcpConnection& operator=(const TcpConnection&) = delete;

    // Asked at least every 200 ms while a call waits (name lookup included); when it
    // answers true the call throws a cancelled NetError.
    void SetCancelCheck(std::function<bool()> check) { cancelled_ = std::move(check); }

    // Looks the host up and tries its addresses in resolver order until one
    // accepts, all within timeoutMs. Throws NetError.
    void Connect(const std::string& host, uint16_t port, int timeoutMs);
    // Sends every byte, waiting at most timeoutMs for room each time. Throws NetError.
    void Send(const std::string& data, int timeoutMs);
    // Waits at most timeoutMs for data; returns 0 when the peer has closed.
    // Throws NetError.
    size_t Receive(char* buffer, size_t size, int timeoutMs);
    void Close();
    bool IsOpen() const { return fd_ >= 0; }

private:
    int fd_ = -1;
    std::function<bool()> cancelled_;
};

// The local host name, for EHLO; "localhost" when the system has none.
std::string LocalHostName();

}  // namespace net
