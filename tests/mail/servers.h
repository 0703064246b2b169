// The SMTP servers the e-mail tests talk to: real ones in child processes, and a
// scripted one in a thread for replies no real server gives on demand.
#pragma once

#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <functional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

namespace mailtest {

// A server program that prints "PORT <n>" on stdout once it listens.
class ServerProcess {
public:
    ServerProcess(const std::vector<std::string>& argv, const std::vector<std::string>& env) {
        int fds[2];
        if (::pipe(fds) != 0) throw std::runtime_error("pipe failed");
        pid_ = ::fork();
        if (pid_ < 0) throw std::runtime_error("fork failed");
        if (pid_ == 0) {
            ::dup2(fds[1], 1);
            ::close(fds[0]);
            ::close(fds[1]);
            for (const auto& e : env) ::putenv(const_cast<char*>(e.c_str()));
            std::vector<char*> args;
            for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
            args.push_back(nullptr);
            ::execv(args[0], args.data());
            ::_exit(127);
        }
        ::close(fds[1]);
        out_ = fds[0];
        port_ = ReadPort();
    }
    ~ServerProcess() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        if (out_ >= 0) ::close(out_);
    }
    ServerProcess(const ServerProcess&) = delete;
    ServerProcess& operator=(const ServerProcess&) = delete;
    uint16_t Port() const { return port_; }

private:
    uint16_t ReadPort() {
        std::string text;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (text.find('\n') == std::string::npos) {
            if (std::chrono::steady_clock::now() > deadline)
                throw std::runtime_error("server did not start: " + text);
            timeval tv{1, 0};
            fd_set set;
            FD_ZERO(&set);
            FD_SET(out_, &set);
            if (::select(out_ + 1, &set, nullptr, nullptr, &tv) <= 0) continue;
            char c[256];
            const ssize_t n = ::read(out_, c, sizeof c);
            if (n <= 0) throw std::runtime_error("server exited before listening: " + text);
            text.append(c, static_cast<size_t>(n));
        }
        if (text.rfind("PORT ", 0) != 0) throw std::runtime_error("unexpected server output: " + text);
        return static_cast<uint16_t>(std::stoi(text.substr(5)));
    }

    pid_t pid_ = -1;
    int out_ = -1;
    uint16_t port_ = 0;
};

struct ReceivedMail {
    std::string mailFrom;
    std::vector<std::string> rcptTos;
    std::string user;  // empty when not logged in
    std::string data;  // as received after DATA, unstuffed
};

inline std::vector<ReceivedMail> ReadReceived(const std::string& path) {
    std::vector<ReceivedMail> mails;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
        const auto j = nlohmann::json::parse(line);
        ReceivedMail m;
        m.mailFrom = j.at("mail_from").get<std::string>();
        m.rcptTos = j.at("rcpt_tos").get<std::vector<std::string>>();
        if (!j.at("user").is_null()) m.user = j.at("user").get<std::string>();
        const std::string hex = j.at("data_hex").get<std::string>();
        for (size_t i = 0; i + 1 < hex.size(); i += 2)
            m.data += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
        mails.push_back(m);
    }
    return mails;
}

// One connection, answered by a script in a thread. Reads wait at most 5 s, so a
// client that stops in the wrong place fails the test instead of hanging it.
class ScriptedServer {
public:
    class Peer {
    public:
        explicit Peer(int fd) : fd_(fd) {}
        void Send(const std::string& text) {
            ::send(fd_, text.data(), text.size(), MSG_NOSIGNAL);
        }
        // One line without its CR LF; throws on time-out or end of stream.
        std::string ReadLine() {
            size_t end;
            while ((end = buffer_.find("\r\n")) == std::string::npos) {
                if (!Fill()) throw std::runtime_error("peer closed; pending: " + buffer_);
            }
            std::string line = buffer_.substr(0, end);
            buffer_.erase(0, end + 2);
            received += line + "\n";
            return line;
        }
        // True when the peer closes before sending anything more.
        bool ClosesWithoutSending() {
            if (!buffer_.empty()) return false;
            return !Fill() && buffer_.empty();
        }
        std::string received;  // every line read, LF-separated

    private:
        bool Fill() {
            char c[4096];
            const ssize_t n = ::recv(fd_, c, sizeof c, 0);
            if (n < 0) throw std::runtime_error("read timed out; pending: " + buffer_);
            if (n == 0) return false;
            buffer_.append(c, static_cast<size_t>(n));
            return true;
        }
        int fd_;
        std::string buffer_;
    };

    // accept: false leaves the connection in the backlog, never answered.
    ScriptedServer(std::function<void(Peer&)> script, bool accept = true) {
        listen_ = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        if (::bind(listen_, reinterpret_cast<sockaddr*>(&a), len) != 0 || ::listen(listen_, 4) != 0)
            throw std::runtime_error(std::strerror(errno));
        ::getsockname(listen_, reinterpret_cast<sockaddr*>(&a), &len);
        port_ = ntohs(a.sin_port);
        if (!accept) return;
        thread_ = std::thread([this, script] {
            const int fd = ::accept(listen_, nullptr, nullptr);
            timeval tv{5, 0};
            ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
            Peer peer(fd);
            try {
                script(peer);
            } catch (const std::exception& e) {
                error_ = e.what();
            }
            transcript_ = peer.received;
            ::close(fd);
        });
    }
    ~ScriptedServer() {
        if (thread_.joinable()) thread_.join();
        ::close(listen_);
    }
    uint16_t Port() const { return port_; }
    // Waits for the script; its failure text, empty when it ran through.
    std::string Finish() {
        if (thread_.joinable()) thread_.join();
        return error_;
    }
    const std::string& Transcript() const { return transcript_; }

private:
    int listen_ = -1;
    uint16_t port_ = 0;
    std::thread thread_;
    std::string error_;
    std::string transcript_;
};

}  // namespace mailtest
