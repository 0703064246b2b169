#include <gtest/gtest.h>

#include "drive/hostinfo.h"
#include "drive/usersystem.h"
#include "support/sim.h"

TEST(LocalIpAddress, FollowsTheResolver) {
    auto several = testsupport::Machine(
        R"({"hostName": "ws7", "hostAddresses": ["192.0.2.7", "198.51.100.1"]})");
    EXPECT_EQ(GetLocalIpAddress(*several), "192.0.2.7");
    auto unresolved = testsupport::Machine(R"({"hostName": "ws7", "hostAddresses": []})");
    EXPECT_EQ(GetLocalIpAddress(*unresolved), "127.0.0.1");
    auto noSockets = testsupport::Machine(
        R"({"socketsFail": true, "hostAddresses": ["192.0.2.7"], "hostName": "simhost"})");
    EXPECT_EQ(GetLocalIpAddress(*noSockets), "");
}

TEST(ReportNames, AreCutTo255CharactersAndEmptyWhenUnknown) {
    std::string longName(300, 'u');
    auto m = testsupport::Machine("{\"computerName\": \"PC1\", \"userName\": \"" + longName + "\"}");
    EXPECT_EQ(ComputerNameForReport(*m), "PC1");
    EXPECT_EQ(UserNameForReport(*m), std::string(255, 'u'));
    auto none = testsupport::Machine("{}");
    EXPECT_EQ(ComputerNameForReport(*none), "");
    EXPECT_EQ(UserNameForReport(*none), "");
}

TEST(VolumeReadable, OnlyVolumesThatAnswer) {
    auto m = testsupport::Machine(R"({
        "drives": [{"path": "\\\\.\\A:", "size": 1474560}, {"path": "\\\\.\\B:", "size": 1474560}],
        "volumes": {"A:\\": {"label": "DISK1", "fileSystem": "FAT12"}}
    })");
    TUserSystem us(*m);
    EXPECT_TRUE(us.IsVolumeReadable("A:\\"));
    EXPECT_FALSE(us.IsVolumeReadable("B:\\"));  // no medium / unformatted
    EXPECT_FALSE(us.IsVolumeReadable("Q:\\"));
}
