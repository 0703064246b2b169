// POSIX sockets. A Windows build would put Winsock's equivalents behind the same
// class (WSAPoll, ioctlsocket for non-blocking mode, closesocket).
#include "surface/tcpconnection.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/types.h>
#include <unistd.h>

namespace net {

namespace {

const char* const TimedOutText = "timed out";
const char* const CancelledText = "Cancelled";

using Clock = std::chrono::steady_clock;

// A wait is cut into slices this long, so a cancel check is seen soon.
constexpr int SliceMs = 200;

int RemainingMs(Clock::time_point deadline) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

void ThrowIfCancelled(const std::function<bool()>& cancelled) {
    if (cancelled && cancelled()) throw NetError(CancelledText, false, true);
}

// Waits for the events until the deadline; false when the time ran out.
bool WaitFor(int fd, short events, Clock::time_point deadline, const std::function<bool()>& cancelled) {
    for (;;) {
        ThrowIfCancelled(cancelled);
        const int left = RemainingMs(deadline);
        pollfd p{fd, events, 0};
        const int n = ::poll(&p, 1, std::min(left, SliceMs));
        if (n > 0) return true;
        if (n == 0 && left <= SliceMs) return false;
        if (n < 0 && errno != EINTR) throw NetError(std::strerror(errno), false);
    }
}

// getaddrinfo cannot be interrupted and may wait on a slow resolver for longer than
// the connect deadline: it runs in a thread of its own, which is left behind when
// the deadline passes or the caller cancels, and frees its answer itself.
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
        run();  // no thread to spare: look up in place
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
        ::close(fd_);
        fd_ = -1;
    }
}

void TcpConnection::Connect(const std::string& host, uint16_t port, int timeoutMs) {
    Close();
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);

    const std::shared_ptr<Lookup> lookup = Resolve(host, port, deadline, cancelled_);
    const int rc = lookup->rc;
    addrinfo* const list = lookup->list;
    if (rc != 0 || list == nullptr) {
        throw NetError("Host \"" + host + "\" not found: " + ::gai_strerror(rc), false);
    }

    std::string lastError = "Connection failed";
    bool timedOut = false;
    for (addrinfo* a = list; a != nullptr; a = a->ai_next) {
        const int fd = ::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol);
        if (fd < 0) {
            lastError = std::strerror(errno);
            continue;
        }
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
        int err = 0;
        if (::connect(fd, a->ai_addr, a->ai_addrlen) != 0) {
            err = errno;
            if (err == EINPROGRESS) {
                bool ready = false;
                try {
                    ready = WaitFor(fd, POLLOUT, deadline, cancelled_);
                } catch (const NetError&) {
                    ::close(fd);
                    throw;
                }
                if (!ready) {
                    ::close(fd);
                    lastError = TimedOutText;
                    timedOut = true;
                    break;  // the whole connect shares one deadline
                }
                socklen_t len = sizeof err;
                ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len);
            }
        }
        if (err == 0) {
            fd_ = fd;
            break;
        }
        ::close(fd);
        lastError = std::strerror(err);
    }
    if (fd_ < 0) throw NetError(lastError, timedOut);
}

void TcpConnection::Send(const std::string& data, int timeoutMs) {
    if (fd_ < 0) throw NetError("Not connected", false);
    size_t sent = 0;
    while (sent < data.size()) {
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        const ssize_t n = ::send(fd_, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
        if (n > 0) {
            sent += static_cast<size_t>(n);
        } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (!WaitFor(fd_, POLLOUT, deadline, cancelled_)) throw NetError(TimedOutText, true);
        } else if (n < 0 && errno != EINTR) {
            throw NetError(std::strerror(errno), false);
        }
    }
}

size_t TcpConnection::Receive(char* buffer, size_t size, int timeoutMs) {
    if (fd_ < 0) throw NetError("Not connected", false);
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const ssize_t n = ::recv(fd_, buffer, size, 0);
        if (n >= 0) return static_cast<size_t>(n);
        if (errno == EAGAIN || errno == EWOULDBLOCK) {
            if (!WaitFor(fd_, POLLIN, deadline, cancelled_)) throw NetError(TimedOutText, true);
        } else if (errno != EINTR) {
            throw NetError(std::strerror(errno), false);
        }
    }
}

std::string LocalHostName() {
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') return "localhost";
    return name;
}

}  // namespace net
