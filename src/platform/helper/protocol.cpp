#include "platform/helper/protocol.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace platform::helper {

namespace {

class Writer {
public:
    void U8(uint8_t v) { bytes_.push_back(v); }
    void U32(uint32_t v) {
        for (int i = 0; i < 4; ++i) bytes_.push_back(static_cast<uint8_t>(v >> (8 * i)));
    }
    void Bytes(const uint8_t* p, size_t n) {
        U32(static_cast<uint32_t>(n));
        bytes_.insert(bytes_.end(), p, p + n);
    }
    void Text(const std::string& s) { Bytes(reinterpret_cast<const uint8_t*>(s.data()), s.size()); }
    std::vector<uint8_t> Take() { return std::move(bytes_); }

private:
    std::vector<uint8_t> bytes_;
};

class Reader {
public:
    Reader(const uint8_t* p, size_t n) : p_(p), n_(n) {}
    bool U8(uint8_t& v) {
        if (n_ - at_ < 1) return false;
        v = p_[at_++];
        return true;
    }
    bool U32(uint32_t& v) {
        if (n_ - at_ < 4) return false;
        v = 0;
        for (int i = 0; i < 4; ++i) v |= static_cast<uint32_t>(p_[at_ + i]) << (8 * i);
        at_ += 4;
        return true;
    }
    bool Bytes(std::vector<uint8_t>& out, uint32_t limit) {
        uint32_t len = 0;
        if (!U32(len) || len > limit || len > n_ - at_) return false;
        out.assign(p_ + at_, p_ + at_ + len);
        at_ += len;
        return true;
    }
    bool Text(std::string& out, uint32_t limit) {
        std::vector<uint8_t> b;
        if (!Bytes(b, limit)) return false;
        out.assign(b.begin(), b.end());
        return true;
    }
    bool AtEnd() const { return at_ == n_; }

private:
    const uint8_t* p_;
    size_t n_;
    size_t at_ = 0;
};

bool KnownOp(uint8_t op) { return op >= 1 && op <= 7; }

}  // namespace

std::vector<uint8_t> EncodeRequest(const Request& r) {
    Writer w;
    w.U8(static_cast<uint8_t>(r.op));
    switch (r.op) {
    case Op::Open:
    case Op::KeyExists:
        w.Text(r.text);
        break;
    case Op::Ioctl:
        w.U32(r.handle);
        w.U32(r.code);
        w.U32(r.outSize);
        w.Bytes(r.data.data(), r.data.size());
        break;
    case Op::Close:
        w.U32(r.handle);
        break;
    case Op::RegRead:
        w.Text(r.text);
        w.Text(r.name);
        break;
    case Op::RegWrite:
        w.Text(r.text);
        w.Text(r.name);
        w.U32(r.valueType);
        w.U32(r.dword);
        w.Bytes(r.data.data(), r.data.size());
        break;
    case Op::SaveRecord:
        w.Text(r.text);
        w.Bytes(r.data.data(), r.data.size());
        break;
    }
    return w.Take();
}

std::optional<Request> DecodeRequest(const uint8_t* data, size_t size) {
    if (size > MaxFrame) return std::nullopt;
    Reader in(data, size);
    uint8_t op = 0;
    if (!in.U8(op) || !KnownOp(op)) return std::nullopt;
    Request r;
    r.op = static_cast<Op>(op);
    bool ok = true;
    switch (r.op) {
    case Op::Open:
    case Op::KeyExists:
        ok = in.Text(r.text, MaxText);
        break;
    case Op::Ioctl:
        ok = in.U32(r.handle) && in.U32(r.code) && in.U32(r.outSize) && r.outSize <= MaxIoctlData &&
             in.Bytes(r.data, MaxIoctlData);
        break;
    case Op::Close:
        ok = in.U32(r.handle);
        break;
    case Op::RegRead:
        ok = in.Text(r.text, MaxText) && in.Text(r.name, MaxText);
        break;
    case Op::RegWrite:
        ok = in.Text(r.text, MaxText) && in.Text(r.name, MaxText) && in.U32(r.valueType) &&
             in.U32(r.dword) && in.Bytes(r.data, MaxText);
        break;
    case Op::SaveRecord:
        ok = in.Text(r.text, MaxText) && in.Bytes(r.data, MaxRecord);
        break;
    }
    if (!ok || !in.AtEnd()) return std::nullopt;
    return r;
}

std::vector<uint8_t> EncodeReply(const Reply& r) {
    Writer w;
    w.U8(r.ok ? 1 : 0);
    w.U32(r.lastError);
    w.U32(r.handle);
    w.U32(r.bytesReturned);
    w.U32(r.valueType);
    w.U32(r.dword);
    w.Bytes(r.data.data(), r.data.size());
    w.Text(r.message);
    return w.Take();
}

std::optional<Reply> DecodeReply(const uint8_t* data, size_t size) {
    if (size > MaxFrame) return std::nullopt;
    Reader in(data, size);
    Reply r;
    uint8_t ok = 0;
    if (!in.U8(ok) || ok > 1 || !in.U32(r.lastError) || !in.U32(r.handle) || !in.U32(r.bytesReturned) ||
        !in.U32(r.valueType) || !in.U32(r.dword) || !in.Bytes(r.data, MaxIoctlData) ||
        !in.Text(r.message, MaxText) || !in.AtEnd())
        return std::nullopt;
    r.ok = ok == 1;
    if (r.bytesReturned > r.data.size()) return std::nullopt;
    return r;
}

bool SendFrame(int socket, const std::vector<uint8_t>& payload, int fd) {
    if (payload.size() > MaxFrame) return false;
    std::vector<uint8_t> frame(4 + payload.size());
    const auto len = static_cast<uint32_t>(payload.size());
    for (int i = 0; i < 4; ++i) frame[static_cast<size_t>(i)] = static_cast<uint8_t>(len >> (8 * i));
    if (!payload.empty()) std::memcpy(frame.data() + 4, payload.data(), payload.size());

    size_t sent = 0;
    bool fdPending = fd >= 0;
    while (sent < frame.size()) {
        iovec iov{frame.data() + sent, frame.size() - sent};
        msghdr msg{};
        msg.msg_iov = &iov;
        msg.msg_iovlen = 1;
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
        if (fdPending) {
            msg.msg_control = control;
            msg.msg_controllen = sizeof control;
            cmsghdr* c = CMSG_FIRSTHDR(&msg);
            c->cmsg_level = SOL_SOCKET;
            c->cmsg_type = SCM_RIGHTS;
            c->cmsg_len = CMSG_LEN(sizeof(int));
            std::memcpy(CMSG_DATA(c), &fd, sizeof(int));
        }
        const ssize_t n = ::sendmsg(socket, &msg, MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        fdPending = false;
        sent += static_cast<size_t>(n);
    }
    return true;
}

std::optional<std::vector<uint8_t>> RecvFrame(int socket, int* fd) {
    if (fd) *fd = -1;
    // Any descriptor that arrives is kept only when the caller asked for one.
    auto readAll = [&](uint8_t* p, size_t n) {
        size_t got = 0;
        while (got < n) {
            iovec iov{p + got, n - got};
            msghdr msg{};
            msg.msg_iov = &iov;
            msg.msg_iovlen = 1;
            alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int) * 4)] = {};
            msg.msg_control = control;
            msg.msg_controllen = sizeof control;
            const ssize_t r = ::recvmsg(socket, &msg, MSG_CMSG_CLOEXEC);
            if (r < 0 && errno == EINTR) continue;
            if (r <= 0) return false;
            for (cmsghdr* c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c)) {
                if (c->cmsg_level != SOL_SOCKET || c->cmsg_type != SCM_RIGHTS) continue;
                const size_t count = (c->cmsg_len - CMSG_LEN(0)) / sizeof(int);
                for (size_t i = 0; i < count; ++i) {
                    int received = -1;
                    std::memcpy(&received, CMSG_DATA(c) + i * sizeof(int), sizeof(int));
                    if (fd && *fd < 0) {
                        *fd = received;
                    } else {
                        ::close(received);
                    }
                }
            }
            got += static_cast<size_t>(r);
        }
        return true;
    };
    auto dropFd = [&] {
        if (fd && *fd >= 0) {
            ::close(*fd);
            *fd = -1;
        }
    };
    uint8_t head[4];
    if (!readAll(head, 4)) {
        dropFd();
        return std::nullopt;
    }
    uint32_t len = 0;
    for (int i = 0; i < 4; ++i) len |= static_cast<uint32_t>(head[i]) << (8 * i);
    if (len > MaxFrame) {
        dropFd();
        return std::nullopt;
    }
    std::vector<uint8_t> payload(len);
    if (len > 0 && !readAll(payload.data(), len)) {
        dropFd();
        return std::nullopt;
    }
    return payload;
}

}  // namespace platform::helper
