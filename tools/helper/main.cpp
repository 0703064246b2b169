// scandor-helper: the one privileged piece. Started through pkexec by the window or
// the command line, it talks over its standard input, a Unix socket whose other end
// its parent holds. It opens drives read-only and passes the descriptors back, runs
// the drive commands the program sends, reads and writes the program's own
// settings and stores scan records. Anything else is refused. It trusts no environment and no argument.
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/helper/protocol.h"
#include "platform/helper/server.h"
#include "platform/linux/linux_platform.h"
#include "platform/linux/scanrecords.h"

namespace {

using namespace platform::helper;

constexpr int Channel = 0;

int Fail(const char* why) {
    std::fprintf(stderr, "scandor-helper: %s\n", why);
    return 2;
}

bool IsUnixStreamSocket(int fd) {
    int type = 0, domain = 0;
    socklen_t len = sizeof type;
    if (::getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &len) != 0 || type != SOCK_STREAM) return false;
    len = sizeof domain;
    return ::getsockopt(fd, SOL_SOCKET, SO_DOMAIN, &domain, &len) == 0 && domain == AF_UNIX;
}

// The peer must be the process that started us (pkexec execs in place, so our
// parent is the program), and, under pkexec, the user who authenticated.
bool PeerIsParent(int fd) {
    ucred cred{};
    socklen_t len = sizeof cred;
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) != 0) return false;
    if (cred.pid != ::getppid()) return false;
    if (const char* uid = std::getenv("PKEXEC_UID")) {
        char* end = nullptr;
        const unsigned long want = std::strtoul(uid, &end, 10);
        if (!end || *end != '\0' || static_cast<unsigned long>(cred.uid) != want) return false;
    }
    return true;
}

int DescriptorOf(platform::Platform& machine, platform::Handle h) {
    return static_cast<platform::linuxbe::LinuxPlatform&>(machine).DescriptorOf(h);
}

}  // namespace

int main(int argc, char**) {
    if (argc != 1) return Fail("takes no arguments");
    // No core file of a root process holding a password, no inherited mask.
    ::prctl(PR_SET_DUMPABLE, 0);
    ::umask(077);
    // Ctrl-C in the program's terminal reaches us too; the program decides when to stop.
    ::signal(SIGINT, SIG_IGN);
    ::signal(SIGQUIT, SIG_IGN);
    if (!IsUnixStreamSocket(Channel)) return Fail("standard input is not the program's socket");
    if (!PeerIsParent(Channel)) return Fail("the socket's peer is not the process that started the helper");

    platform::linuxbe::LinuxPlatform machine;
    Server server(machine, DescriptorOf, platform::linuxbe::DefaultScanRecordFolder);
    Serve(Channel, server);  // until the program is gone, or sends a frame we cannot delimit
    return 0;
}
