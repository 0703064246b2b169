// scandor-helper as a process, started the way pkexec leaves it: its standard input
// and output are one end of a socket pair whose other end its parent holds.
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "devices.h"
#include "platform/helper/protocol.h"
#include "platform/helper/server.h"
#include "platform/linux/devicemap.h"

using namespace platform::helper;

namespace {

// The helper with its standard input and output on our socket; `viaChild` starts it
// from an intermediate process, so its parent is not the socket's owner.
class HelperProcess {
public:
    explicit HelperProcess(bool viaChild = false) {
        int sv[2];
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv) != 0) return;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(sv[1], 0);
            ::dup2(sv[1], 1);
            if (viaChild && ::fork() != 0) {
                int status = 0;
                ::wait(&status);
                ::_exit(WIFEXITED(status) ? WEXITSTATUS(status) : 99);
            }
            ::execl(SCANDOR_HELPER, SCANDOR_HELPER, static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(sv[1]);
        socket_ = sv[0];
    }
    ~HelperProcess() {
        if (socket_ >= 0) ::close(socket_);
        Wait();
    }
    int Wait() {
        if (pid_ <= 0) return status_;
        int status = 0;
        ::waitpid(pid_, &status, 0);
        pid_ = -1;
        status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        return status_;
    }
    std::optional<Reply> Ask(const Request& q, int* fd = nullptr) {
        if (!SendFrame(socket_, EncodeRequest(q))) return std::nullopt;
        auto frame = RecvFrame(socket_, fd);
        if (!frame) return std::nullopt;
        return DecodeReply(frame->data(), frame->size());
    }
    int socket() const { return socket_; }

private:
    pid_t pid_ = -1;
    int socket_ = -1;
    int status_ = -1;
};

}  // namespace

TEST(HelperProcess, PassesAReadOnlyDescriptorOfTheDriveAndNothingElse) {
    REQUIRE_LOOP();
    devtest::TempDir dir;
    const std::string image = dir / "disk.img";
    devtest::MakeImage(image, 4 << 20);
    const auto pattern = devtest::Pattern(65536, 7);
    devtest::WriteAt(image, 1 << 20, pattern);
    devtest::LoopDevice loop(image);
    REQUIRE_ATTACHED(loop);
    const auto disks = platform::linuxbe::WholeDisks();
    const auto at = std::find(disks.begin(), disks.end(), loop.node().substr(5));
    ASSERT_NE(at, disks.end());
    const std::string drive = "\\\\.\\PhysicalDrive" + std::to_string(at - disks.begin());

    HelperProcess helper;
    Request open;
    open.text = drive;
    int fd = -1;
    auto reply = helper.Ask(open, &fd);
    ASSERT_TRUE(reply);
    ASSERT_TRUE(reply->ok) << reply->message;
    ASSERT_GE(fd, 0);
    EXPECT_EQ(::fcntl(fd, F_GETFL) & O_ACCMODE, O_RDONLY);
    EXPECT_NE(::fcntl(fd, F_GETFL) & O_DIRECT, 0);
    EXPECT_NE(::fcntl(fd, F_GETFD) & FD_CLOEXEC, 0);
    void* buffer = nullptr;
    ASSERT_EQ(::posix_memalign(&buffer, 4096, 65536), 0);
    EXPECT_EQ(::pread(fd, buffer, 65536, 1 << 20), 65536);
    EXPECT_EQ(std::memcmp(buffer, pattern.data(), 65536), 0);
    errno = 0;
    EXPECT_EQ(::pwrite(fd, buffer, 512, 0), -1);
    EXPECT_EQ(errno, EBADF);
    std::free(buffer);
    ::close(fd);

    // The geometry through the helper's own handle.
    Request geometry;
    geometry.op = Op::Ioctl;
    geometry.handle = reply->handle;
    geometry.code = platform::IOCTL_DISK_GET_DRIVE_GEOMETRY;
    geometry.outSize = sizeof(platform::DISK_GEOMETRY);
    auto g = helper.Ask(geometry);
    ASSERT_TRUE(g);
    EXPECT_TRUE(g->ok);

    // Not a drive path: the image file itself, a system file.
    for (const std::string& path : {image, std::string("/etc/shadow"), loop.node()}) {
        open.text = path;
        fd = -1;
        reply = helper.Ask(open, &fd);
        ASSERT_TRUE(reply);
        EXPECT_FALSE(reply->ok) << path;
        EXPECT_EQ(reply->lastError, uint32_t{EPERM});
        EXPECT_EQ(fd, -1);
    }
    // A forbidden control code on a good handle.
    geometry.code = 0x0007C010;
    g = helper.Ask(geometry);
    ASSERT_TRUE(g);
    EXPECT_FALSE(g->ok);
}

TEST(HelperProcess, MalformedRequestsAreAnsweredAndOversizedFramesEndIt) {
    HelperProcess helper;
    // A well-delimited frame that is no request: refused, and the helper goes on.
    ASSERT_TRUE(SendFrame(helper.socket(), {42, 1, 2}));
    auto frame = RecvFrame(helper.socket());
    ASSERT_TRUE(frame);
    auto reply = DecodeReply(frame->data(), frame->size());
    ASSERT_TRUE(reply);
    EXPECT_FALSE(reply->ok);
    EXPECT_EQ(reply->message, "malformed request");

    Request exists;
    exists.op = Op::KeyExists;
    exists.text = "SOFTWARE\\Classes";
    reply = helper.Ask(exists);
    ASSERT_TRUE(reply);
    EXPECT_FALSE(reply->ok);

    // A frame longer than any request: the helper stops talking and ends.
    const uint8_t huge[4] = {0xFF, 0xFF, 0xFF, 0xFF};
    ASSERT_EQ(::write(helper.socket(), huge, 4), 4);
    EXPECT_FALSE(RecvFrame(helper.socket()));
    EXPECT_EQ(helper.Wait(), 0);
}

TEST(HelperProcess, RefusesAPeerThatIsNotItsParent) {
    HelperProcess helper(/*viaChild=*/true);
    EXPECT_FALSE(RecvFrame(helper.socket())) << "the helper hung up";
    EXPECT_EQ(helper.Wait(), 2);
}
