#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <typeinfo>

#include "platform/linux/wmi.h"
#include "platform/wql.h"
#include "smart/wmiquery.h"
#include "support/sim.h"
#include "support/tempdir.h"

using namespace platform;
using wmiquery::WmiGetProperty;

namespace {

const char* kMachine = R"({
  "drives": [
    {"path": "\\\\.\\PhysicalDrive0",
     "wmi": {"Model": "WDC WD5000AAKS-00V1A0", "InterfaceType": "IDE", "SerialNumber": null,
             "Capabilities": {"cim": 18, "value": [3, 4, 10]}, "Size": {"cim": 21, "value": 500105249280},
             "Removable": false}},
    {"path": "\\\\.\\PhysicalDrive1", "wmi": {"Model": "Generic Flash USB Device", "InterfaceType": "USB"}},
    {"path": "\\\\.\\PhysicalDrive2"}
  ],
  "wmi": {"objects": [{"Name": "\\\\.\\PHYSICALDRIVE1", "Model": "Shadow"}]}
})";

WmiProperty Prop(int32_t cim, WmiValue v) { return {"P", cim, std::move(v)}; }

WmiValue Ints(std::vector<int64_t> xs, bool array = false) {
    WmiValue v;
    v.kind = WmiValue::Int;
    v.ints = std::move(xs);
    v.isArray = array;
    return v;
}

WmiValue Texts(std::vector<std::string> xs, bool array = false) {
    WmiValue v;
    v.kind = WmiValue::Text;
    v.texts = std::move(xs);
    v.isArray = array;
    return v;
}

}  // namespace

TEST(WmiQueryText, IsBuiltExactlyAsTheServiceExpects) {
    EXPECT_EQ(wmiquery::DriveModelQuery(0), R"(SELECT Model FROM Win32_DiskDrive WHERE Name = "\\\\.\\PHYSICALDRIVE0")");
    EXPECT_EQ(wmiquery::InterfaceTypeQuery(12), R"(SELECT * FROM Win32_DiskDrive WHERE Name ="\\\\.\\PHYSICALDRIVE12")");
    auto q = wql::ParseWql(wmiquery::DriveModelQuery(7));
    ASSERT_TRUE(q);
    EXPECT_EQ(q->whereValue, R"(\\.\PHYSICALDRIVE7)");
}

TEST(WmiGetProperty, CountsMatchesAndGivesTextOnlyForExactlyOne) {
    auto m = testsupport::Machine(kMachine);
    std::string text = "stale";
    EXPECT_EQ(WmiGetProperty(*m, wmiquery::DriveModelQuery(0), "Model", text), 1);
    EXPECT_EQ(text, "WDC WD5000AAKS-00V1A0");
    EXPECT_EQ(WmiGetProperty(*m, wmiquery::InterfaceTypeQuery(0), "InterfaceType", text), 1);
    EXPECT_EQ(text, "IDE");
    // The drive and the extra object share a name: two matches, no text.
    EXPECT_EQ(WmiGetProperty(*m, wmiquery::DriveModelQuery(1), "Model", text), 2);
    EXPECT_EQ(text, "");
    text = "stale";
    EXPECT_EQ(WmiGetProperty(*m, wmiquery::DriveModelQuery(2), "Model", text), 0);
    EXPECT_EQ(text, "");
    EXPECT_EQ(wmiquery::GetDriveModel(*m, 2), "");
    EXPECT_EQ(wmiquery::GetDriveModel(*m, 24), "");
    EXPECT_EQ(wmiquery::GetDriveModel(*m, 0), "WDC WD5000AAKS-00V1A0");
    EXPECT_EQ(WmiGetProperty(*m, "SELECT * FROM Win32_DiskDrive", "Model", text), 3);
}

TEST(WmiGetProperty, NullValuesArraysAndBooleans) {
    auto m = testsupport::Machine(kMachine);
    const std::string all = wmiquery::InterfaceTypeQuery(0);
    std::string text = "stale";
    EXPECT_EQ(WmiGetProperty(*m, all, "SerialNumber", text), 1);
    EXPECT_EQ(text, "");
    EXPECT_EQ(WmiGetProperty(*m, all, "Capabilities", text), 1);
    EXPECT_EQ(text, "3|4|10");
    EXPECT_EQ(WmiGetProperty(*m, all, "Removable", text), 1);
    EXPECT_EQ(text, "False");
    EXPECT_EQ(WmiGetProperty(*m, all, "Size", text), 1);
    EXPECT_EQ(text, "500105249280");
    EXPECT_EQ(WmiGetProperty(*m, all, "Index", text), 1);
    EXPECT_EQ(text, "0");
}

TEST(WmiGetProperty, FailuresGiveMinusOneAndNoText) {
    auto m = testsupport::Machine(kMachine);
    std::string text;
    // The property set finds "model", but its name is "Model": the walk ends, text stays empty.
    EXPECT_EQ(WmiGetProperty(*m, wmiquery::DriveModelQuery(0), "model", text), 1);
    EXPECT_EQ(text, "");
    // A property the object lacks.
    text = "stale";
    EXPECT_EQ(WmiGetProperty(*m, wmiquery::DriveModelQuery(0), "InterfaceType", text), -1);
    EXPECT_EQ(text, "");
    for (const char* bad : {R"(SELECT Model FROM Win32_DiskDrive WHERE Name = "\\\\.\\PHYSICALDRIVE0)",
                            R"(SELECT Model FROM Win32_DiskDrive WHERE Name = '\\\\.\\PHYSICALDRIVE0")",
                            R"(SELECT Model FROM Win32_DiskDrive WHERE Name = "abc\")",
                            "SELECT Model FROM Win32_DiskDrive WHERE", "SELECT FROM Win32_DiskDrive",
                            "SELECT Model Win32_DiskDrive", "SELECT Model FROM Win32_Process", "",
                            "SELECT Model FROM Win32_DiskDrive WHERE Name = \"x\" junk"}) {
        text = "stale";
        EXPECT_EQ(WmiGetProperty(*m, bad, "Model", text), -1) << bad;
        EXPECT_EQ(text, "");
    }
    auto down = testsupport::Machine(R"({"wmi": {"fail": "RPC server unavailable"},
        "drives": [{"path": "\\\\.\\PhysicalDrive0", "wmi": {"Model": "X"}}]})");
    EXPECT_EQ(WmiGetProperty(*down, wmiquery::DriveModelQuery(0), "Model", text), -1);
    EXPECT_EQ(wmiquery::GetDriveModel(*down, 0), "");
}

TEST(WmiValueText, CoversEveryCimType) {
    using wmiquery::WmiValueText;
    EXPECT_EQ(WmiValueText(Prop(CIM_STRING, {})), "NULL");
    EXPECT_EQ(WmiValueText(Prop(CIM_UINT32, {})), "NULL");
    for (int32_t cim : {CIM_SINT8, CIM_UINT8, CIM_SINT16, CIM_UINT16, CIM_SINT32, CIM_UINT32, CIM_SINT64})
        EXPECT_EQ(WmiValueText(Prop(cim, Ints({-5}))), "-5") << cim;
    EXPECT_EQ(WmiValueText(Prop(CIM_UINT16, Ints({3, 4, 7}, true))), "3|4|7");
    EXPECT_EQ(WmiValueText(Prop(CIM_UINT16, Ints({}, true))), "");
    // Beyond 32 bits the full value is kept.
    EXPECT_EQ(WmiValueText(Prop(CIM_SINT64, Ints({-9000000000}))), "-9000000000");
    EXPECT_EQ(WmiValueText(Prop(CIM_SINT64, Texts({"4294967296"}))), "4294967296");
    WmiValue big;
    big.kind = WmiValue::UInt;
    big.uints = {18446744073709551615ull};
    EXPECT_EQ(WmiValueText(Prop(CIM_UINT64, big)), "18446744073709551615");
    EXPECT_EQ(WmiValueText(Prop(CIM_UINT32, big)), "18446744073709551615");
    WmiValue r;
    r.kind = WmiValue::Real;
    r.reals = {0.1};
    EXPECT_EQ(WmiValueText(Prop(CIM_REAL64, r)), "0.1");
    r.reals = {static_cast<double>(0.1f)};
    EXPECT_EQ(WmiValueText(Prop(CIM_REAL32, r)), "0.1");
    r.reals = {1.5e20};
    EXPECT_EQ(WmiValueText(Prop(CIM_REAL64, r)), "1.5e+20");
    EXPECT_EQ(WmiValueText(Prop(CIM_STRING, Texts({"a", "b", ""}, true))), "a|b|");
    EXPECT_EQ(WmiValueText(Prop(CIM_STRING, Texts({"Fixed hard disk media"}))), "Fixed hard disk media");
    WmiValue b;
    b.kind = WmiValue::Bool;
    b.ints = {1};
    EXPECT_EQ(WmiValueText(Prop(CIM_BOOLEAN, b)), "True");
    b.ints = {0};
    EXPECT_EQ(WmiValueText(Prop(CIM_BOOLEAN, b)), "False");
    WmiValue obj;
    obj.kind = WmiValue::Object;
    EXPECT_EQ(WmiValueText(Prop(CIM_OBJECT, obj)), "<CIM Object>");
    EXPECT_EQ(WmiValueText(Prop(CIM_DATETIME, Texts({"20240101000000.000000+000"}))), "20240101000000.000000+000");
    EXPECT_EQ(WmiValueText(Prop(CIM_REFERENCE, Texts({"Win32_DiskDrive.DeviceID=\"x\""}))), "Win32_DiskDrive.DeviceID=\"x\"");
    EXPECT_EQ(WmiValueText(Prop(CIM_CHAR16, Ints({65}))), "<16-bit character>");
    EXPECT_EQ(WmiValueText(Prop(999, Texts({"x"}))), "");
    EXPECT_THROW(WmiValueText(Prop(CIM_SINT32, Texts({"twelve"}))), std::runtime_error);
}

// A real given as text that is no number (or out of range) fails as every other
// value that cannot be converted does, not with the standard library's own error.
TEST(WmiValueText, RealTextThatIsNoNumberFailsAsUnconvertible) {
    using wmiquery::WmiValueText;
    for (const char* text : {"abc", "", "1e999", "-1e999"}) {
        for (int32_t cim : {CIM_REAL32, CIM_REAL64}) {
            try {
                (void)WmiValueText(Prop(cim, Texts({text})));
                ADD_FAILURE() << "no error for \"" << text << "\"";
            } catch (const std::runtime_error&) {
            } catch (const std::exception& e) {
                ADD_FAILURE() << "\"" << text << "\" failed with " << typeid(e).name();
            }
        }
    }
    EXPECT_EQ(WmiValueText(Prop(CIM_REAL64, Texts({"0.25"}))), "0.25");
}

TEST(WqlParser, AcceptsTheProgramsQueriesAndRejectsMalformedOnes) {
    auto q = wql::ParseWql("  select Model , InterfaceType from win32_diskdrive where NAME='it\\'s \"x\"'  ");
    ASSERT_TRUE(q);
    EXPECT_EQ(q->properties, (std::vector<std::string>{"Model", "InterfaceType"}));
    EXPECT_EQ(q->className, "win32_diskdrive");
    EXPECT_EQ(*q->whereProperty, "NAME");
    EXPECT_EQ(q->whereValue, "it's \"x\"");
    auto all = wql::ParseWql("SELECT * FROM Win32_DiskDrive");
    ASSERT_TRUE(all);
    EXPECT_TRUE(all->allProperties);
    EXPECT_FALSE(all->whereProperty);
    for (const char* bad : {"SELECT * FROM", "SELECT Model, FROM X", "SELECT * FROM X WHERE Name = \"abc",
                            "SELECT * FROM X WHERE Name = 'abc\\'", "SELECT * FROM X WHERE Name \"a\"",
                            "SELECT * FROM X WHERE Name = 5", "SELECTModel FROM X", "SELECT *, Model FROM X"})
        EXPECT_FALSE(wql::ParseWql(bad)) << bad;
}

namespace {

struct FakeSys {
    testsupport::TempDir dir;
    void Put(const std::string& rel, const std::string& text) {
        auto p = dir.path / rel;
        std::filesystem::create_directories(p.parent_path());
        std::ofstream(p) << text;
    }
};

}  // namespace

TEST(LinuxDiskDrive, DescribesEachWholeDiskWithItsCimTypes) {
    FakeSys sys;
    sys.Put("sda/size", "976773168\n");
    sys.Put("sda/removable", "0\n");
    sys.Put("sda/device/model", "Samsung SSD 860 \n");
    sys.Put("sda/device/serial", "S3Z9NB0K123\n");
    sys.Put("sdb/size", "62521344\n");
    sys.Put("sdb/removable", "1\n");
    sys.Put("sdb/ro", "1\n");
    sys.Put("sdb/device/model", "Flash Disk");
    sys.Put("loop3/size", "2048\n");
    sys.Put("loop3/loop/backing_file", "/srv/images/disk.img\n");
    sys.Put("sda1/size", "1\n");  // a partition is no drive
    const std::string root = sys.dir.path.string();
    auto objects = linuxbe::DiskDriveObjects(root);
    ASSERT_EQ(objects.size(), 3u);
    auto text = [](const WmiObject& o, const char* name) { return wmiquery::WmiValueText(*o.Find(name)); };
    EXPECT_EQ(text(objects[0], "Name"), "\\\\.\\PHYSICALDRIVE0");
    EXPECT_EQ(text(objects[0], "Model"), "Samsung SSD 860");
    EXPECT_EQ(text(objects[0], "SerialNumber"), "S3Z9NB0K123");
    EXPECT_EQ(text(objects[0], "MediaType"), "Fixed hard disk media");
    EXPECT_EQ(text(objects[0], "Capabilities"), "3|4");
    EXPECT_EQ(objects[0].Find("Capabilities")->cimType, CIM_UINT16);
    EXPECT_EQ(objects[0].Find("Size")->cimType, CIM_UINT64);
    EXPECT_EQ(objects[0].Find("Index")->cimType, CIM_UINT32);
    // 976773168 sectors hold 60801 whole cylinders of 255 x 63 sectors.
    EXPECT_EQ(text(objects[0], "Size"), std::to_string(60801ull * 255 * 63 * 512));
    EXPECT_EQ(text(objects[1], "Index"), "1");
    EXPECT_EQ(text(objects[1], "MediaType"), "Removable Media");
    EXPECT_EQ(text(objects[1], "Capabilities"), "3|7");
    EXPECT_EQ(text(objects[1], "SerialNumber"), "NULL");
    EXPECT_EQ(text(objects[2], "Name"), "\\\\.\\PHYSICALDRIVE2");
    EXPECT_NE(text(objects[2], "Model").find("/srv/images/disk.img"), std::string::npos);
    for (const auto& o : objects) {
        const std::string type = text(o, "InterfaceType");
        EXPECT_TRUE(type == "IDE" || type == "SCSI" || type == "USB" || type == "1394") << type;
    }

    auto r = linuxbe::AnswerWql("root\\cimv2", R"(SELECT Model FROM Win32_DiskDrive WHERE Name = "\\\\.\\physicaldrive1")", root);
    ASSERT_TRUE(r.ok);
    ASSERT_EQ(r.objects.size(), 1u);
    ASSERT_EQ(r.objects[0].properties.size(), 1u);
    EXPECT_EQ(text(r.objects[0], "Model"), "Flash Disk");
    EXPECT_FALSE(linuxbe::AnswerWql("root\\CIMV2", "SELECT Colour FROM Win32_DiskDrive", root).ok);
    EXPECT_FALSE(linuxbe::AnswerWql("root\\CIMV2", "SELECT * FROM Win32_DiskDrive WHERE Size = \"1\"", root).ok);
    EXPECT_FALSE(linuxbe::AnswerWql("root\\default", "SELECT * FROM Win32_DiskDrive", root).ok);
    EXPECT_FALSE(linuxbe::AnswerWql("root\\CIMV2", "SELECT * FROM Win32_DiskDrive WHERE Name = \"\\\\", root).ok);
    EXPECT_EQ(linuxbe::AnswerWql("root\\CIMV2", "SELECT * FROM Win32_DiskDrive", root).objects.size(), 3u);
}
