#include "smart/wmiquery.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <stdexcept>

#include "platform/platform.h"
#include "platform/text.h"

namespace wmiquery {
namespace {

using platform::WmiValue;

bool SameText(const std::string& a, const std::string& b) { return platform::text::SameIgnoringCase(a, b); }

size_t Count(const WmiValue& v) {
    switch (v.kind) {
    case WmiValue::Int:
    case WmiValue::Bool: return v.ints.size();
    case WmiValue::UInt: return v.uints.size();
    case WmiValue::Real: return v.reals.size();
    case WmiValue::Text: return v.texts.size();
    default: return 0;
    }
}

// Element i as an integer in decimal.
std::string IntegerText(const WmiValue& v, size_t i) {
    switch (v.kind) {
    case WmiValue::Int:
    case WmiValue::Bool: return std::to_string(v.ints[i]);
    case WmiValue::UInt: return std::to_string(v.uints[i]);
    case WmiValue::Real: {
        double r = std::nearbyint(v.reals[i]);
        if (!std::isfinite(r) || std::fabs(r) > 9.2e18) throw std::runtime_error("integer overflow");
        return std::to_string(static_cast<long long>(r));
    }
    case WmiValue::Text: {
        // Integers of 64 bits come as text from the service.
        const std::string& t = v.texts[i];
        size_t used = 0;
        long long n;
        try {
            n = std::stoll(t, &used, 10);
        } catch (const std::exception&) {
            throw std::runtime_error("\"" + t + "\" is not an integer");
        }
        if (used != t.size()) throw std::runtime_error("\"" + t + "\" is not an integer");
        return std::to_string(n);
    }
    default: throw std::runtime_error("not an integer");
    }
}

std::string RealText(double r, int digits) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*g", digits, r);
    return buf;
}

std::string PlainText(const WmiValue& v, size_t i, int cimType) {
    switch (v.kind) {
    case WmiValue::Text: return v.texts[i];
    case WmiValue::Int: return std::to_string(v.ints[i]);
    case WmiValue::UInt: return std::to_string(v.uints[i]);
    case WmiValue::Bool: return v.ints[i] ? "True" : "False";
    case WmiValue::Real: return RealText(v.reals[i], cimType == platform::CIM_REAL32 ? 7 : 15);
    default: throw std::runtime_error("no text form");
    }
}

// A real given as text; the standard library's own errors would slip past callers
// that expect an unconvertible value to fail with std::runtime_error.
double RealOf(const std::string& t) {
    try {
        return std::stod(t);
    } catch (const std::exception&) {
        throw std::runtime_error("\"" + t + "\" is not a number");
    }
}

template <class F>
std::string Joined(const WmiValue& v, F element) {
    const size_t n = Count(v);
    if (!v.isArray) {
        if (n == 0) throw std::runtime_error("value without element");
        return element(0);
    }
    std::string out;
    for (size_t i = 0; i < n; ++i) {
        if (i) out += '|';
        out += element(i);
    }
    return out;
}

std::string DriveName(int n) { return "\"\\\\\\\\.\\\\PHYSICALDRIVE" + std::to_string(n) + "\""; }

}  // namespace

std::string WmiValueText(const platform::WmiProperty& p) {
    const WmiValue& v = p.value;
    if (v.kind == WmiValue::Null) return "NULL";
    switch (p.cimType) {
    case platform::CIM_SINT16: case platform::CIM_SINT32: case platform::CIM_SINT8:
    case platform::CIM_UINT8: case platform::CIM_UINT16: case platform::CIM_UINT32:
    case platform::CIM_SINT64:
        return Joined(v, [&](size_t i) { return IntegerText(v, i); });
    case platform::CIM_REAL32:
    case platform::CIM_REAL64:
        return Joined(v, [&](size_t i) {
            if (v.kind != WmiValue::Real) return RealText(RealOf(PlainText(v, i, p.cimType)), 15);
            return PlainText(v, i, p.cimType);
        });
    case platform::CIM_STRING:
    case platform::CIM_UINT64:
        return Joined(v, [&](size_t i) { return PlainText(v, i, p.cimType); });
    case platform::CIM_BOOLEAN:
        return Joined(v, [&](size_t i) {
            if (v.kind == WmiValue::Text) return std::string(SameText(v.texts[i], "true") ? "True" : "False");
            if (v.kind == WmiValue::Real) return std::string(v.reals[i] != 0 ? "True" : "False");
            if (v.kind == WmiValue::UInt) return std::string(v.uints[i] != 0 ? "True" : "False");
            return std::string(v.ints[i] != 0 ? "True" : "False");
        });
    case platform::CIM_OBJECT: return "<CIM Object>";
    case platform::CIM_DATETIME:
    case platform::CIM_REFERENCE:
        return Joined(v, [&](size_t i) { return PlainText(v, i, p.cimType); });
    case platform::CIM_CHAR16: return "<16-bit character>";
    default: return {};
    }
}

int32_t WmiGetProperty(platform::Platform& platform, const std::string& query,
                       const std::string& propertyName, std::string& value) {
    value.clear();
    try {
        platform::WmiQueryResult r = platform.WmiExecQuery("root\\CIMV2", query);
        if (!r.ok) return -1;
        const auto count = static_cast<int32_t>(r.objects.size());
        if (count != 1) return count;
        for (const platform::WmiObject& o : r.objects) {
            // The property set finds a name regardless of case; the name it gives back
            // must match exactly.
            const platform::WmiProperty* p = nullptr;
            for (const auto& candidate : o.properties)
                if (SameText(candidate.name, propertyName)) { p = &candidate; break; }
            if (!p) return -1;
            if (p->name != propertyName) break;
            value = WmiValueText(*p);
            if (value == "NULL") value.clear();
        }
        return count;
    } catch (const std::exception&) {
        value.clear();
        return -1;
    }
}

std::string GetDriveModel(platform::Platform& platform, int driveNumber) {
    std::string model;
    WmiGetProperty(platform, DriveModelQuery(driveNumber), "Model", model);
    return model;
}

std::string DriveModelQuery(int n) { return "SELECT Model FROM Win32_DiskDrive WHERE Name = " + DriveName(n); }

std::string InterfaceTypeQuery(int n) { return "SELECT * FROM Win32_DiskDrive WHERE Name =" + DriveName(n); }

}  // namespace wmiquery
