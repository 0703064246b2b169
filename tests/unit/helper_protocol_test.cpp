// The privileged helper's protocol and allow-lists: what crosses from the user's
// process into root's must be delimited, bounded and permitted before it is used.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>

#include "platform/helper/protocol.h"
#include "platform/helper/server.h"
#include "platform/records.h"
#include "support/sim.h"
#include "support/tempdir.h"

using namespace platform;
using namespace platform::helper;

namespace {

Request Roundtrip(const Request& q) {
    const auto bytes = EncodeRequest(q);
    auto back = DecodeRequest(bytes.data(), bytes.size());
    EXPECT_TRUE(back.has_value());
    return back.value_or(Request{});
}

std::vector<Request> EveryKind() {
    std::vector<Request> all;
    Request open;
    open.text = "\\\\.\\PhysicalDrive3";
    all.push_back(open);
    Request ioctl;
    ioctl.op = Op::Ioctl;
    ioctl.handle = 7;
    ioctl.code = SMART_RCV_DRIVE_DATA;
    ioctl.outSize = SmartOutBlockSize;
    ioctl.data = {1, 2, 3, 0, 255};
    all.push_back(ioctl);
    Request close;
    close.op = Op::Close;
    close.handle = 9;
    all.push_back(close);
    Request exists;
    exists.op = Op::KeyExists;
    exists.text = SettingsKey;
    all.push_back(exists);
    Request read;
    read.op = Op::RegRead;
    read.text = SettingsKey;
    read.name = "Scandor-email";
    all.push_back(read);
    Request write;
    write.op = Op::RegWrite;
    write.text = SettingsKey;
    write.name = "Scandor-sendbyemail";
    write.valueType = REG_DWORD;
    write.dword = 1;
    all.push_back(write);
    Request record;
    record.op = Op::SaveRecord;
    record.text = "loop0-1234";
    record.data.assign(MaxRecord, '{');
    all.push_back(record);
    return all;
}

}  // namespace

TEST(HelperProtocol, EveryRequestKindSurvivesTheWire) {
    for (const Request& q : EveryKind()) {
        const Request r = Roundtrip(q);
        EXPECT_EQ(r.op, q.op);
        EXPECT_EQ(r.text, q.text);
        EXPECT_EQ(r.name, q.name);
        EXPECT_EQ(r.handle, q.handle);
        EXPECT_EQ(r.code, q.code);
        EXPECT_EQ(r.outSize, q.outSize);
        EXPECT_EQ(r.data, q.data);
        EXPECT_EQ(r.valueType, q.valueType);
        EXPECT_EQ(r.dword, q.dword);
    }
    Reply reply;
    reply.ok = true;
    reply.bytesReturned = 3;
    reply.data = {9, 8, 7, 6};
    reply.message = "x";
    const auto bytes = EncodeReply(reply);
    auto back = DecodeReply(bytes.data(), bytes.size());
    ASSERT_TRUE(back);
    EXPECT_TRUE(back->ok);
    EXPECT_EQ(back->data, reply.data);
    EXPECT_EQ(back->bytesReturned, 3u);
}

TEST(HelperProtocol, MalformedRequestsAreRefusedWhole) {
    for (const Request& q : EveryKind()) {
        const auto bytes = EncodeRequest(q);
        // Cut anywhere: never a request.
        for (size_t n = 0; n < bytes.size(); ++n)
            EXPECT_FALSE(DecodeRequest(bytes.data(), n)) << "op " << int(q.op) << " cut at " << n;
        // A byte left over is not ignored.
        auto longer = bytes;
        longer.push_back(0);
        EXPECT_FALSE(DecodeRequest(longer.data(), longer.size()));
    }
    for (uint8_t op : {uint8_t{0}, uint8_t{8}, uint8_t{255}}) EXPECT_FALSE(DecodeRequest(&op, 1));

    // A length that claims more than the limit or the frame holds allocates nothing.
    Request open;
    open.text = "x";
    auto bytes = EncodeRequest(open);
    bytes[1] = bytes[2] = bytes[3] = bytes[4] = 0xFF;
    EXPECT_FALSE(DecodeRequest(bytes.data(), bytes.size()));

    Request ioctl = EveryKind()[1];
    ioctl.outSize = MaxIoctlData + 1;
    bytes = EncodeRequest(ioctl);
    EXPECT_FALSE(DecodeRequest(bytes.data(), bytes.size()));
    ioctl.outSize = 16;
    ioctl.data.assign(MaxIoctlData + 1, 0);
    bytes = EncodeRequest(ioctl);
    EXPECT_FALSE(DecodeRequest(bytes.data(), bytes.size()));

    Request record = EveryKind()[6];
    record.data.push_back('}');
    bytes = EncodeRequest(record);
    EXPECT_FALSE(DecodeRequest(bytes.data(), bytes.size())) << "a record past its limit";

    Request name = EveryKind()[4];
    name.name.assign(MaxText + 1, 'a');
    bytes = EncodeRequest(name);
    EXPECT_FALSE(DecodeRequest(bytes.data(), bytes.size()));

    // A reply may not claim more output than it carries.
    Reply reply;
    reply.ok = true;
    reply.bytesReturned = 5;
    reply.data = {1, 2};
    bytes = EncodeReply(reply);
    EXPECT_FALSE(DecodeReply(bytes.data(), bytes.size()));
}

TEST(HelperProtocol, OnlyExactDrivePathsControlCodesAndSettingsNames) {
    for (const char* ok : {"\\\\.\\PhysicalDrive0", "\\\\.\\PhysicalDrive24", "\\\\.\\PhysicalDrive999",
                           "\\\\.\\A:", "\\\\.\\B:"})
        EXPECT_TRUE(IsDrivePath(ok)) << ok;
    for (const char* no : {"", "/dev/sda", "/etc/shadow", "\\\\.\\PhysicalDrive", "\\\\.\\PhysicalDrive01",
                           "\\\\.\\PhysicalDrive1000", "\\\\.\\PhysicalDrive1/../x", "\\\\.\\PhysicalDrive-1",
                           "\\\\.\\C:", "\\\\.\\a:", "\\\\.\\A:\\", "\\\\.\\PhysicalDrive0 "})
        EXPECT_FALSE(IsDrivePath(no)) << no;

    for (uint32_t code : {IOCTL_DISK_GET_PARTITION_INFO, IOCTL_DISK_GET_DRIVE_GEOMETRY, IOCTL_DISK_GET_DRIVE_LAYOUT,
                          SMART_GET_VERSION, SMART_SEND_DRIVE_COMMAND, SMART_RCV_DRIVE_DATA, IOCTL_SCSI_PASS_THROUGH,
                          IOCTL_STORAGE_QUERY_PROPERTY, IOCTL_STORAGE_GET_DRIVE_IDENTITY})
        EXPECT_TRUE(IsAllowedControl(code));
    // Layout and attribute writes, the SCSI direct pass-through, volume locks.
    for (uint32_t code : {0x0007C010u, 0x0007C054u, 0x0004D014u, 0x00090018u, 0u})
        EXPECT_FALSE(IsAllowedControl(code)) << std::hex << code;

    EXPECT_TRUE(IsSettingsValue("Scandor-x"));
    EXPECT_FALSE(IsSettingsValue("NoHDDs"));
    EXPECT_FALSE(IsSettingsValue("scandor-x"));
}

class HelperServer : public ::testing::Test {
protected:
    void SetUp() override {
        const std::string json = R"({"registry": ")" + dir / "HKLM.reg" + R"(",
            "drives": [{"path": "\\\\.\\PhysicalDrive0", "size": 1048576}]})";
        machine = testsupport::Machine(json, dir.path.string());
    }
    static int NoDescriptor(Platform&, Handle) { return -1; }
    Reply Ask(Request q) {
        int fd = -1;
        return server->Answer(q, &fd);
    }
    testsupport::TempDir dir;
    std::unique_ptr<sim::SimPlatform> machine;
    std::unique_ptr<Server> server;
};

TEST_F(HelperServer, OpensDrivesOnlyAndForwardsOnlyAllowedControls) {
    server = std::make_unique<Server>(*machine, NoDescriptor);
    Request open;
    open.text = dir / "some-image";
    Reply r = Ask(open);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.lastError, uint32_t{EPERM});

    open.text = "\\\\.\\PhysicalDrive0";
    r = Ask(open);
    ASSERT_TRUE(r.ok);
    const uint32_t handle = r.handle;

    Request q;
    q.op = Op::Ioctl;
    q.handle = handle;
    q.code = IOCTL_DISK_GET_DRIVE_GEOMETRY;
    q.outSize = sizeof(DISK_GEOMETRY);
    r = Ask(q);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.bytesReturned, sizeof(DISK_GEOMETRY));
    DISK_GEOMETRY g{};
    std::memcpy(&g, r.data.data(), sizeof g);
    EXPECT_EQ(g.BytesPerSector, 512u);

    q.code = 0x0007C010;  // IOCTL_DISK_SET_DRIVE_LAYOUT
    r = Ask(q);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.lastError, uint32_t{EPERM});

    q.code = IOCTL_DISK_GET_DRIVE_GEOMETRY;
    q.handle = handle + 1;
    EXPECT_FALSE(Ask(q).ok);

    Request close;
    close.op = Op::Close;
    close.handle = handle;
    EXPECT_TRUE(Ask(close).ok);
    EXPECT_FALSE(Ask(close).ok);
    q.handle = handle;
    EXPECT_FALSE(Ask(q).ok) << "a closed handle is gone";
}

TEST_F(HelperServer, TouchesOnlyTheProgramsOwnSettings) {
    server = std::make_unique<Server>(*machine, NoDescriptor);
    Request w;
    w.op = Op::RegWrite;
    w.text = std::string("\\") + SettingsKey;
    w.name = "Scandor-email";
    w.valueType = REG_SZ;
    const std::string address = "admin@example.org";
    w.data.assign(address.begin(), address.end());
    ASSERT_TRUE(Ask(w).ok);

    Request r;
    r.op = Op::RegRead;
    r.text = SettingsKey;
    r.name = "Scandor-email";
    Reply got = Ask(r);
    ASSERT_TRUE(got.ok);
    EXPECT_EQ(got.valueType, REG_SZ);
    EXPECT_EQ(std::string(got.data.begin(), got.data.end()), address);

    // Not another key, not the resume values, not another type.
    Request bad = w;
    bad.text = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
    EXPECT_FALSE(Ask(bad).ok);
    bad = w;
    bad.name = "NoHDDs";
    EXPECT_FALSE(Ask(bad).ok);
    bad = w;
    bad.text = ResumeKey;
    bad.name = "actualSector";
    EXPECT_FALSE(Ask(bad).ok);
    bad = w;
    bad.valueType = 3;  // REG_BINARY
    EXPECT_FALSE(Ask(bad).ok);
    Request other = r;
    other.text = "SOFTWARE";
    EXPECT_FALSE(Ask(other).ok);
    const std::string hive = testsupport::ReadFile(dir / "HKLM.reg");
    EXPECT_EQ(hive.find("Run"), std::string::npos);
    EXPECT_EQ(hive.find("NoHDDs"), std::string::npos);
}

TEST(HelperFrames, CarryADescriptorAndRefuseOversizedFrames) {
    int sv[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sv), 0);
    int pipefd[2];
    ASSERT_EQ(::pipe(pipefd), 0);
    ASSERT_TRUE(SendFrame(sv[0], {1, 2, 3}, pipefd[0]));
    int got = -1;
    auto frame = RecvFrame(sv[1], &got);
    ASSERT_TRUE(frame);
    EXPECT_EQ(*frame, (std::vector<uint8_t>{1, 2, 3}));
    ASSERT_GE(got, 0);
    ASSERT_EQ(::write(pipefd[1], "z", 1), 1);
    char c = 0;
    EXPECT_EQ(::read(got, &c, 1), 1);
    EXPECT_EQ(c, 'z');
    ::close(got);

    // A descriptor nobody asked for is closed, not leaked into the process.
    auto openDescriptors = [] {
        size_t n = 0;
        for ([[maybe_unused]] auto& e : std::filesystem::directory_iterator("/proc/self/fd")) ++n;
        return n;
    };
    const size_t before = openDescriptors();
    ASSERT_TRUE(SendFrame(sv[0], {4}, pipefd[0]));
    frame = RecvFrame(sv[1]);
    ASSERT_TRUE(frame);
    EXPECT_EQ(openDescriptors(), before);

    // A header claiming more than a frame may hold ends the exchange.
    const uint8_t huge[4] = {0xFF, 0xFF, 0xFF, 0x7F};
    ASSERT_EQ(::write(sv[0], huge, 4), 4);
    EXPECT_FALSE(RecvFrame(sv[1]));
    ::close(sv[0]);
    EXPECT_FALSE(RecvFrame(sv[1])) << "end of stream";
    for (int fd : {sv[1], pipefd[0], pipefd[1]}) ::close(fd);
}
