// Winsock behind the connection class, so the mail client is the same code on
// Windows: non-blocking sockets, WSAPoll with the same deadlines and slices.
#include "surface/tcpconnection.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

namespace net {

namespace {

const char* const TimedOutText = "timed out";
const char* const CancelledText = "Cancelled";

using Clock = std::chrono::steady_clock;

constexpr int SliceMs = 200;

// Socket handles are kernel handles, whose values fit 32 bits on every Windows.
SOCKET S(int fd) { return static_cast<SOCKET>(static_cast<intptr_t>(fd)); }

std::string SocketErrorText(int code) {
    wchar_t* text = nullptr;
    const DWORD n = ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                         FORMAT_MESSAGE_IGNORE_INSERTS,
                                     nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<LPWSTR>(&text), 0, nullptr);
    std::string out;
    if (n) {
        const int size = ::WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(n), nullptr, 0, nullptr, nullptr);
        out.resize(static_cast<size_t>(size > 0 ? size : 0));
        if (size > 0) ::WideCharToMultiByte(CP_UTF8, 0, text, static_cast<int>(n), out.data(), size, nullptr, nullptr);
    }
    if (text) ::LocalFree(text);
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r' || out.back() == ' ' || out.back() == '.'))
        out.pop_back();
    return out.empty() ? "socket error " + std::to_string(code) : out;
}

// Winsock for the whole process, started on first use.
void StartWinsock() {
    static const bool started = [] {
        WSADATA data{};
        return ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    if (!started) throw NetError("Winsock cannot be started", false);
}

int RemainingMs(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

void ThrowIfCancelled(const std::function<bool()>& cancelled) {
    if (cancelled && cancelled()) throw NetError(CancelledText, false, true);
}

bool WaitFor(SOCKET s, short events, Clock::time_point deadline, const std::function<bool()>& cancelled) {
    for (;;) {
        ThrowIfCancelled(cancelled);
        const int left = RemainingMs(deadline);
        WSAPOLLFD p{};
        p.fd = s;
        p.events = events;
        const int n = ::WSAPoll(&p, 1, std::min(left, SliceMs));
        if (n > 0) return true;
        if (n == 0 && left <= SliceMs) return false;
        if (n < 0) throw NetError(SocketErrorText(::WSAGetLastError()), false);
    }
}

// getaddrinfo cannot be interrupted: it runs in a thread of its own, left behind
// when the deadline passes or the caller cancels.
struct Lookup {
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    int rc = 0;
    addrinfo* list = nullptr;
    ~Lookup() {
        if (list) ::freeaddrinfo(list);
    }
};

std::shared_ptr<Lookup> Resolve(const std::string& host, uint16_t port, Clock::time_point deadline,
                                const std::function<bool()>& cancelled) {
    auto lookup = std::make_shared<Lookup>();
    auto run = [lookup, host, service = std::to_string(port)] {
        addrinfo hints{};
        hints.ai_family = AF_UNSPEC;
        hints.ai_socktype = SOCK_STREAM;
        addrinfo* list = nullptr;
        const int rc = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &list);
        std::lock_guard<std::mutex> lock(lookup->mutex);
        lookup->rc = rc;
        lookup->list = list;
        lookup->finished = true;
        lookup->done.notify_all();
    };
    try {
        std::thread(run).detach();
    } catch (const std::system_error&) {
        run();
    }
    std::unique_lock<std::mutex> lock(lookup->mutex);
    while (!lookup->finished) {
        ThrowIfCancelled(cancelled);
        const int left = RemainingMs(deadline);
        if (left <= 0) throw NetError(TimedOutText, true);
        lookup->done.wait_for(lock, std::chrono::milliseconds(std::min(left, SliceMs)));
    }
    return lookup;
}

}  // namespace

TcpConnection::~TcpConnection() { Close(); }

void TcpConnection::Close() {
    if (fd_ >= 0) {
        ::closesocket(S(fd_));
        fd_ = -1;
    }
}

void TcpConnection::Connect(const std::string& host, uint16_t port, int timeoutMs) {
    Close();
    StartWinsock();
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    const std::shared_ptr<Lookup> lookup = Resolve(host, port, deadline, cancelled_);
    if (lookup->rc != 0 || lookup->list == nullptr)
        throw NetError("Host \"" + host + "\" not found: " + SocketErrorText(lookup->rc), false);

    std::string lastError = "Connection failed";
    bool timedOut = false;
    for (addrinfo* a = lookup->list; a != nullptr; a = a->ai_next) {
        const SOCKET s = ::socket(a->ai_family, a->ai_socktype, a->ai_protocol);
        if (s == INVALID_SOCKET) {
            lastError = SocketErrorText(::WSAGetLastError());
            continue;
        }
        // Not inherited by any process the program starts.
        ::SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
        u_long nonBlocking = 1;
        ::ioctlsocket(s, static_cast<long>(FIONBIO), &nonBlocking);
        int err = 0;
        if (::connect(s, a->ai_addr, static_cast<int>(a->ai_addrlen)) != 0) {
            err = ::WSAGetLastError();
            if (err == WSAEWOULDBLOCK) {
                bool ready = false;
                try {
                    ready = WaitFor(s, POLLOUT, deadline, cancelled_);
                } catch (const NetError&) {
                    ::closesocket(s);
                    throw;
                }
                if (!ready) {
                    ::closesocket(s);
                    lastError = TimedOutText;
                    timedOut = true;
                    break;  // the whole connect shares one deadline
                }
                int len = sizeof err;
                err = 0;
                ::getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&err), &len);
            }
        }
        if (err == 0) {
            fd_ = static_cast<int>(static_cast<intptr_t>(s));
            break;
        }
        ::closesocket(s);
        lastError = SocketErrorText(err);
    }
    if (fd_ < 0) throw NetError(lastError, timedOut);
}

void TcpConnection::Send(const std::string& data, int timeoutMs) {
    if (fd_ < 0) throw NetError("Not connected", false);
    size_t sent = 0;
    while (sent < data.size()) {
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        const int chunk = static_cast<int>(std::min<size_t>(data.size() - sent, 1 << 20));
        const int n = ::send(S(fd_), data.data() + sent, chunk, 0);
        if (n > 0) {
            sent += static_cast<size_t>(n);
        } else if (n == SOCKET_ERROR && ::WSAGetLastError() == WSAEWOULDBLOCK) {
            if (!WaitFor(S(fd_), POLLOUT, deadline, cancelled_)) throw NetError(TimedOutText, true);
        } else if (n == SOCKET_ERROR && ::WSAGetLastError() != WSAEINTR) {
            throw NetError(SocketErrorText(::WSAGetLastError()), false);
        }
    }
}

size_t TcpConnection::Receive(char* buffer, size_t size, int timeoutMs) {
    if (fd_ < 0) throw NetError("Not connected", false);
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    const int want = static_cast<int>(std::min<size_t>(size, 1 << 20));
    for (;;) {
        const int n = ::recv(S(fd_), buffer, want, 0);
        if (n >= 0) return static_cast<size_t>(n);
        const int err = ::WSAGetLastError();
        if (err == WSAEWOULDBLOCK) {
            if (!WaitFor(S(fd_), POLLIN, deadline, cancelled_)) throw NetError(TimedOutText, true);
        } else if (err != WSAEINTR) {
            throw NetError(SocketErrorText(err), false);
        }
    }
}

std::string LocalHostName() {
    try {
        StartWinsock();
    } catch (const NetError&) {
        return "localhost";
    }
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return "localhost";
    return name;
}

}  // namespace net
