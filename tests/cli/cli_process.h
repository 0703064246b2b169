// scandor-cli as a child process: its output, its exit code, and signals sent to it
// while it runs.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

namespace clitest {

struct CliResult {
    int code = -1;   // exit status; 128 + n when killed by signal n
    std::string out, err;
    std::vector<std::string> Lines() const {
        std::vector<std::string> v;
        std::istringstream in(out);
        for (std::string l; std::getline(in, l);) v.push_back(l);
        return v;
    }
};

class CliProcess {
public:
    // machine: the manifest for SCANDOR_MACHINE, or empty for the real machine.
    // With ptyErr, stderr is a terminal. env: "NAME=value" entries set after LC_ALL=C.
    CliProcess(const std::vector<std::string>& args, const std::string& machine, bool ptyErr = false,
               const std::vector<std::string>& env = {}) {
        int out[2], err[2];
        if (::pipe(out) != 0) return;
        int errSlave = -1;
        if (ptyErr) {
            if (::openpty(&err[0], &errSlave, nullptr, nullptr, nullptr) != 0) {
                ::close(out[0]);
                ::close(out[1]);
                noPty_ = true;
                return;
            }
            err[1] = errSlave;
        } else if (::pipe(err) != 0) {
            return;
        }
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(out[1], 1);
            ::dup2(err[1], 2);
            ::close(out[0]);
            ::close(err[0]);
            if (machine.empty())
                ::unsetenv("SCANDOR_MACHINE");
            else
                ::setenv("SCANDOR_MACHINE", machine.c_str(), 1);
            ::setenv("LC_ALL", "C", 1);
            for (const std::string& e : env) {
                const size_t eq = e.find('=');
                ::setenv(e.substr(0, eq).c_str(), e.substr(eq + 1).c_str(), 1);
            }
            std::vector<char*> argv;
            static std::string exe = SCANDOR_CLI;
            argv.push_back(exe.data());
            std::vector<std::string> copy = args;
            for (auto& a : copy) argv.push_back(a.data());
            argv.push_back(nullptr);
            ::execv(exe.c_str(), argv.data());
            ::_exit(127);
        }
        ::close(out[1]);
        ::close(err[1]);
        outFd_ = out[0];
        errFd_ = err[0];
    }
    ~CliProcess() {
        if (pid_ > 0 && !waited_) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        if (outFd_ >= 0) ::close(outFd_);
        if (errFd_ >= 0) ::close(errFd_);
    }
    CliProcess(const CliProcess&) = delete;
    CliProcess& operator=(const CliProcess&) = delete;

    bool started() const { return pid_ > 0; }
    // False once the child has ended (its status is kept for Finish).
    bool Running() {
        if (waited_) return false;
        if (::waitpid(pid_, &status_, WNOHANG) != pid_) return true;
        waited_ = true;
        return false;
    }
    bool noPty() const { return noPty_; }
    void Signal(int sig) { ::kill(pid_, sig); }

    // Reads both streams until stderr satisfies the condition or the time is up.
    bool WaitForErr(const std::function<bool(const std::string&)>& cond, int timeoutMs) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (!cond(result_.err)) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
            if (left.count() <= 0) return false;
            if (!Pump(static_cast<int>(left.count()))) return cond(result_.err);
        }
        return true;
    }

    // Reads to the end and waits; a child still running after the time is killed.
    CliResult Finish(int timeoutMs = 60000) {
        const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        while (outFd_ >= 0 || errFd_ >= 0) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
            if (left.count() <= 0) {
                if (!waited_) ::kill(pid_, SIGKILL);
                break;
            }
            Pump(static_cast<int>(left.count()));
        }
        if (!waited_) ::waitpid(pid_, &status_, 0);
        waited_ = true;
        result_.code = WIFEXITED(status_) ? WEXITSTATUS(status_) : 128 + WTERMSIG(status_);
        return result_;
    }

private:
    // One poll; false once both streams are closed.
    bool Pump(int timeoutMs) {
        pollfd fds[2];
        int n = 0;
        if (outFd_ >= 0) fds[n++] = {outFd_, POLLIN, 0};
        if (errFd_ >= 0) fds[n++] = {errFd_, POLLIN, 0};
        if (n == 0) return false;
        if (::poll(fds, static_cast<nfds_t>(n), timeoutMs) <= 0) return true;
        for (int i = 0; i < n; ++i) {
            if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            char buf[8192];
            const ssize_t got = ::read(fds[i].fd, buf, sizeof buf);
            const bool isOut = fds[i].fd == outFd_;
            if (got > 0) {
                (isOut ? result_.out : result_.err).append(buf, static_cast<size_t>(got));
            } else {
                // A pty master reads EIO once the child is gone.
                ::close(fds[i].fd);
                (isOut ? outFd_ : errFd_) = -1;
            }
        }
        return true;
    }

    pid_t pid_ = -1;
    int outFd_ = -1, errFd_ = -1;
    bool waited_ = false;
    int status_ = 0;
    bool noPty_ = false;
    CliResult result_;
};

inline CliResult RunCli(const std::vector<std::string>& args, const std::string& machine,
                        const std::vector<std::string>& env = {}) {
    CliProcess p(args, machine, false, env);
    return p.Finish();
}

}  // namespace clitest
