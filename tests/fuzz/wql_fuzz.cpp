// libFuzzer target: the WQL reader, the evaluation of a query over objects and the
// text form of property values. A parsed query, written out again, parses to the
// same query; the program's own queries name the drive they were built for.
#include <fuzzer/FuzzedDataProvider.h>

#include <stdexcept>

#include "fuzz_check.h"
#include "platform/wql.h"
#include "smart/wmiquery.h"

using namespace platform;

namespace {

std::string Write(const wql::WqlQuery& q) {
    std::string s = "select ";
    if (q.allProperties) {
        s += "*";
    } else {
        for (size_t i = 0; i < q.properties.size(); ++i) s += (i ? " , " : "") + q.properties[i];
    }
    s += " from " + q.className;
    if (q.whereProperty) {
        s += " where " + *q.whereProperty + "='";
        for (char c : q.whereValue) {
            if (c == '\\' || c == '\'') s += '\\';
            s += c;
        }
        s += "'";
    }
    return s;
}

WmiProperty PropertyFrom(FuzzedDataProvider& in) {
    WmiProperty p;
    static const char* const names[] = {"Name", "Model", "InterfaceType", "Size", "Index",
                                        "Capabilities", "SerialNumber"};
    p.name = names[in.ConsumeIntegralInRange<size_t>(0, 6)];
    static const int32_t types[] = {CIM_SINT8, CIM_UINT8, CIM_SINT16, CIM_UINT16, CIM_SINT32,
                                    CIM_UINT32, CIM_SINT64, CIM_UINT64, CIM_REAL32, CIM_REAL64,
                                    CIM_BOOLEAN, CIM_STRING, CIM_DATETIME, CIM_CHAR16, CIM_OBJECT};
    p.cimType = types[in.ConsumeIntegralInRange<size_t>(0, 14)];
    WmiValue& v = p.value;
    v.kind = static_cast<WmiValue::Kind>(in.ConsumeIntegralInRange(0, 6));
    v.isArray = in.ConsumeBool();
    const int count = v.isArray ? in.ConsumeIntegralInRange(0, 3) : 1;
    for (int i = 0; i < count; ++i) {
        switch (v.kind) {
        case WmiValue::Int: v.ints.push_back(in.ConsumeIntegral<int64_t>()); break;
        case WmiValue::Bool: v.ints.push_back(in.ConsumeIntegralInRange(0, 1)); break;
        case WmiValue::UInt: v.uints.push_back(in.ConsumeIntegral<uint64_t>()); break;
        case WmiValue::Real: v.reals.push_back(in.ConsumeFloatingPoint<double>()); break;
        case WmiValue::Text: v.texts.push_back(in.ConsumeRandomLengthString(24)); break;
        default: break;
        }
    }
    return p;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    const std::string text = in.ConsumeRandomLengthString(300);
    if (auto q = wql::ParseWql(text)) {
        FUZZ_CHECK(!q->className.empty());
        FUZZ_CHECK(q->allProperties == q->properties.empty());
        auto again = wql::ParseWql(Write(*q));
        FUZZ_CHECK(again.has_value());
        FUZZ_CHECK(again->allProperties == q->allProperties && again->properties == q->properties &&
                   again->className == q->className && again->whereProperty == q->whereProperty &&
                   again->whereValue == q->whereValue);
    }

    std::vector<WmiObject> objects(in.ConsumeIntegralInRange(0, 3));
    for (auto& o : objects) {
        const int n = in.ConsumeIntegralInRange(0, 4);
        for (int i = 0; i < n; ++i) o.properties.push_back(PropertyFrom(in));
    }
    for (const auto& o : objects) {
        for (const auto& p : o.properties) {
            try {
                (void)wmiquery::WmiValueText(p);
            } catch (const std::runtime_error&) {
            }
        }
    }
    const WmiObject* schema = objects.empty() || in.ConsumeBool() ? nullptr : &objects[0];
    const WmiObject schemaCopy = schema ? *schema : WmiObject{};
    const size_t before = objects.size();
    auto r = wql::Answer("root\\cimv2", text, objects, schema ? &schemaCopy : nullptr);
    FUZZ_CHECK(r.ok != !r.error.empty());
    FUZZ_CHECK(r.objects.size() <= before);

    const int drive = in.ConsumeIntegralInRange(0, 9999);
    for (const std::string& query : {wmiquery::DriveModelQuery(drive), wmiquery::InterfaceTypeQuery(drive)}) {
        auto q = wql::ParseWql(query);
        FUZZ_CHECK(q && q->whereProperty && wql::SameText(*q->whereProperty, "Name"));
        FUZZ_CHECK(q->whereValue == "\\\\.\\PHYSICALDRIVE" + std::to_string(drive));
    }
    return 0;
}
