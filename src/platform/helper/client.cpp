#include "platform/helper/client.h"

#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <thread>

#include "platform/helper/server.h"
#include "platform/linux/linux_platform.h"

extern char** environ;

#ifndef SCANDOR_HELPER_FROM_BINDIR
#define SCANDOR_HELPER_FROM_BINDIR "../libexec/scandor/scandor-helper"
#endif

namespace platform::helper {

const char* const AccessRefusedText =
    "Access to the drives was refused: the authentication was refused or cancelled.";

namespace {

// Waits for a child that is ending, for at most about two seconds: a helper stuck
// in a device command must not hold the program at exit.
bool Reap(pid_t pid, int* status = nullptr) {
    if (pid <= 0) return false;
    for (int i = 0; i < 200; ++i) {
        int s = 0;
        const pid_t r = ::waitpid(pid, &s, WNOHANG);
        if (r == pid) {
            if (status) *status = s;
            return true;
        }
        if (r < 0 && errno != EINTR) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

std::string NormalKey(const std::string& path) {
    return !path.empty() && path.front() == '\\' ? path.substr(1) : path;
}

class HelperKey final : public RegistryKey {
public:
    HelperKey(HelperPlatform& helper, std::string path, std::string& failure)
        : helper_(helper), path_(std::move(path)), failure_(failure) {}

    bool ReadValue(const std::string& name, RegValue& out) override {
        failure_.clear();
        Request q;
        q.op = Op::RegRead;
        q.text = path_;
        q.name = name;
        auto r = helper_.Ask(q);
        if (!r) {
            failure_ = helper_.Failure();
            return false;
        }
        if (!r->ok) return false;  // missing, as the helper sees it
        out = RegValue{};
        out.type = r->valueType;
        out.dword = r->dword;
        if (out.type == REG_SZ) {
            out.text.assign(r->data.begin(), r->data.end());
        } else if (out.type != REG_DWORD) {
            out.raw = r->data;
        }
        return true;
    }

    bool WriteValue(const std::string& name, const RegValue& value) override {
        failure_.clear();
        Request q;
        q.op = Op::RegWrite;
        q.text = path_;
        q.name = name;
        q.valueType = value.type;
        q.dword = value.dword;
        if (value.type == REG_SZ) q.data.assign(value.text.begin(), value.text.end());
        if (q.data.size() > MaxText) {
            failure_ = "the value is too long to be stored";
            return false;
        }
        auto r = helper_.Ask(q);
        if (!r) {
            failure_ = helper_.Failure();
            return false;
        }
        if (!r->ok) failure_ = r->message.empty() ? std::string("the settings cannot be stored") : r->message;
        return r->ok;
    }

private:
    HelperPlatform& helper_;
    std::string path_;
    std::string& failure_;
};

// Only the program's own key and its resume subkey exist as far as the helper goes.
class HelperRegistry final : public Registry {
public:
    explicit HelperRegistry(HelperPlatform& helper) : helper_(helper) {}

    bool KeyExists(const std::string& path) override {
        failure_.clear();
        Request q;
        q.op = Op::KeyExists;
        q.text = NormalKey(path);
        auto r = helper_.Ask(q);
        if (!r) failure_ = helper_.Failure();
        return r && r->ok;
    }

    std::unique_ptr<RegistryKey> OpenKey(const std::string& path, bool create) override {
        failure_.clear();
        const std::string key = NormalKey(path);
        if (key != SettingsKey && key != ResumeKey) return nullptr;
        if (!create || key == ResumeKey) {
            if (!KeyExists(key)) return nullptr;
        } else if (const std::string why = helper_.ObtainDriveAccess(); !why.empty()) {
            failure_ = why;
            return nullptr;
        }
        return std::make_unique<HelperKey>(helper_, key, failure_);
    }

    std::string LastFailure() const override { return failure_; }

private:
    HelperPlatform& helper_;
    std::string failure_;
};

}  // namespace

Channel SpawnHelper(const std::vector<std::string>& command) {
    Channel c;
    if (command.empty() || command[0].empty() || command[0][0] != '/') {
        c.failure = "The helper cannot be started: no program named.";
        return c;
    }
    int sv[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv) != 0) {
        c.failure = std::string("The helper cannot be started: ") + std::strerror(errno);
        return c;
    }
    std::vector<char*> argv;
    for (const std::string& a : command) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, sv[1], 0);
    posix_spawn_file_actions_adddup2(&actions, sv[1], 1);
    pid_t pid = -1;
    const int rc = ::posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(sv[1]);
    if (rc != 0) {
        ::close(sv[0]);
        c.failure = "The helper cannot be started: " + command[0] + ": " + std::strerror(rc);
        return c;
    }
    // The first answer says the helper runs: until then pkexec may be asking the
    // user, for as long as that takes.
    Request hello;
    hello.op = Op::KeyExists;
    hello.text = SettingsKey;
    std::optional<std::vector<uint8_t>> frame;
    if (SendFrame(sv[0], EncodeRequest(hello))) frame = RecvFrame(sv[0]);
    if (frame && DecodeReply(frame->data(), frame->size())) {
        c.socket = sv[0];
        c.pid = pid;
        return c;
    }
    ::close(sv[0]);
    int status = 0;
    if (!Reap(pid, &status)) {
        // It hung up but goes on running: nothing to wait for here.
        c.failure = "The drives cannot be reached: the helper stopped answering.";
        return c;
    }
    const int code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    if (code == 126 || code == 127) {
        c.failure = AccessRefusedText;
    } else if (WIFSIGNALED(status)) {
        c.failure = "The drives cannot be reached: the helper ended by signal " + std::to_string(WTERMSIG(status)) + ".";
    } else {
        c.failure = "The drives cannot be reached: the helper ended before answering (exit status " +
                    std::to_string(code) + ").";
    }
    return c;
}

std::string HelperProgramPath(const std::string& executable) {
    namespace fs = std::filesystem;
    const fs::path folder = fs::path(executable).parent_path();
    const fs::path beside = folder / "scandor-helper";
    struct stat st{};
    if (::stat(beside.c_str(), &st) == 0 && S_ISREG(st.st_mode)) return beside.string();
    // pkexec matches the policy's path as written: no "bin/.." in it.
    return (folder / SCANDOR_HELPER_FROM_BINDIR).lexically_normal().string();
}

HelperPlatform::HelperPlatform(std::unique_ptr<linuxbe::LinuxPlatform> local, Launcher launch)
    : ForwardingPlatform(*local), local_(std::move(local)), launch_(std::move(launch)) {}

HelperPlatform::~HelperPlatform() {
    if (channel_.socket >= 0) ::close(channel_.socket);  // the helper ends at end of stream
    Reap(channel_.pid);
}

bool HelperPlatform::Connect() {
    if (!tried_) {
        tried_ = true;
        channel_ = launch_();
        if (channel_.socket < 0)
            failure_ = channel_.failure.empty() ? std::string("The drives cannot be reached.") : channel_.failure;
    }
    return channel_.socket >= 0;
}

std::optional<Reply> HelperPlatform::Ask(const Request& q, int* fd) {
    if (fd) *fd = -1;
    std::lock_guard lock(mutex_);
    if (!Connect()) return std::nullopt;
    std::optional<std::vector<uint8_t>> frame;
    if (SendFrame(channel_.socket, EncodeRequest(q))) frame = RecvFrame(channel_.socket, fd);
    std::optional<Reply> reply;
    if (frame) reply = DecodeReply(frame->data(), frame->size());
    if (!reply) {
        // A helper that hung up or garbled its answer is not asked again.
        if (fd && *fd >= 0) {
            ::close(*fd);
            *fd = -1;
        }
        ::close(channel_.socket);
        channel_.socket = -1;
        failure_ = "The drives cannot be reached: the helper stopped answering.";
    }
    return reply;
}

std::string HelperPlatform::ObtainDriveAccess() {
    std::lock_guard lock(mutex_);
    Connect();
    return failure_;
}

void HelperPlatform::Fail(uint32_t error) { local_->SetLastError(error); }

Handle HelperPlatform::CreateFile(const std::string& path, uint32_t access, uint32_t share, uint32_t creation,
                                  uint32_t flags) {
    // Image files and nodes named by path are opened with the user's own rights.
    if (!IsDrivePath(path) || creation != OPEN_EXISTING)
        return local_->CreateFile(path, access, share, creation, flags);
    Request q;
    q.op = Op::Open;
    q.text = path;
    int fd = -1;
    auto r = Ask(q, &fd);
    if (!r) {
        Fail(EACCES);
        return InvalidHandle;
    }
    auto closeRemote = [&] {
        Request c;
        c.op = Op::Close;
        c.handle = r->handle;
        Ask(c);
    };
    if (!r->ok) {
        if (fd >= 0) ::close(fd);
        Fail(r->lastError ? r->lastError : EACCES);
        return InvalidHandle;
    }
    if (fd < 0) {
        closeRemote();
        Fail(EIO);
        return InvalidHandle;
    }
    const Handle h = local_->AdoptDescriptor(fd, path, r->message.empty() ? path : r->message);
    if (h == InvalidHandle) {
        const uint32_t error = local_->GetLastError();
        closeRemote();
        Fail(error);
        return InvalidHandle;
    }
    std::lock_guard lock(handlesMutex_);
    remote_[h] = r->handle;
    return h;
}

bool HelperPlatform::DeviceIoControl(Handle h, uint32_t code, const void* in, uint32_t inSize, void* out,
                                     uint32_t outSize, uint32_t* bytesReturned) {
    uint32_t id = 0;
    {
        std::lock_guard lock(handlesMutex_);
        auto it = remote_.find(h);
        if (it != remote_.end()) id = it->second;
    }
    // The identity is read from the descriptor this process reads, not asked for.
    if (id == 0 || code == IOCTL_STORAGE_GET_DRIVE_IDENTITY)
        return local_->DeviceIoControl(h, code, in, inSize, out, outSize, bytesReturned);
    if (bytesReturned) *bytesReturned = 0;
    if (inSize > MaxIoctlData || outSize > MaxIoctlData || (inSize && !in)) {
        Fail(EINVAL);
        return false;
    }
    Request q;
    q.op = Op::Ioctl;
    q.handle = id;
    q.code = code;
    q.outSize = out ? outSize : 0;
    if (inSize) q.data.assign(static_cast<const uint8_t*>(in), static_cast<const uint8_t*>(in) + inSize);
    auto r = Ask(q);
    if (!r) {
        Fail(EIO);
        return false;
    }
    if (out) std::memcpy(out, r->data.data(), std::min<size_t>(r->data.size(), q.outSize));
    if (bytesReturned) *bytesReturned = std::min(r->bytesReturned, q.outSize);
    Fail(r->ok ? 0 : (r->lastError ? r->lastError : EIO));
    return r->ok;
}

bool HelperPlatform::CloseHandle(Handle h) {
    uint32_t id = 0;
    {
        std::lock_guard lock(handlesMutex_);
        auto it = remote_.find(h);
        if (it != remote_.end()) {
            id = it->second;
            remote_.erase(it);
        }
    }
    if (id != 0) {
        Request q;
        q.op = Op::Close;
        q.handle = id;
        Ask(q);
    }
    return local_->CloseHandle(h);
}

bool HelperPlatform::SaveScanRecord(const std::string& key, const std::string& json) {
    if (json.size() > MaxRecord) {
        Fail(EFBIG);
        return false;
    }
    Request q;
    q.op = Op::SaveRecord;
    q.text = key;
    q.data.assign(json.begin(), json.end());
    auto r = Ask(q);
    if (!r) {
        Fail(EACCES);
        return false;
    }
    Fail(r->ok ? 0 : (r->lastError ? r->lastError : EIO));
    return r->ok;
}

Registry& HelperPlatform::GetRegistry() {
    std::lock_guard lock(handlesMutex_);
    if (!registry_) registry_ = std::make_unique<HelperRegistry>(*this);
    return *registry_;
}

}  // namespace platform::helper
