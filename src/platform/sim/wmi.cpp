// Win32_DiskDrive answers of the simulated machine: one object per drive that has
// a "wmi" map, then the extra objects of the top-level "wmi" entry.
#include <nlohmann/json.hpp>
#include <stdexcept>

#include "platform/drivepath.h"
#include "platform/sim/sim_platform.h"
#include "platform/wql.h"

namespace platform::sim {
namespace {

// A plain JSON value takes the CIM type its kind suggests; {"cim": n, "value": v}
// gives the type.
WmiProperty Property(const std::string& name, const Json& desc) {
    WmiProperty p{name, CIM_STRING, {}};
    const Json* v = &desc;
    if (desc.is_object()) {
        p.cimType = desc.value("cim", static_cast<int>(CIM_STRING));
        if (!desc.contains("value")) throw std::runtime_error("machine manifest: wmi property \"" + name + "\" needs a \"value\"");
        v = &desc["value"];
    } else if (desc.is_boolean()) {
        p.cimType = CIM_BOOLEAN;
    } else if (desc.is_number_float()) {
        p.cimType = CIM_REAL64;
    } else if (desc.is_number_unsigned()) {
        p.cimType = CIM_UINT32;
    } else if (desc.is_number_integer()) {
        p.cimType = CIM_SINT32;
    } else if (desc.is_array()) {
        p.cimType = !desc.empty() && desc[0].is_string() ? CIM_STRING : CIM_UINT16;
    }
    WmiValue& w = p.value;
    if (v->is_null()) return p;
    w.isArray = v->is_array();
    const Json items = w.isArray ? *v : Json::array({*v});
    for (const Json& e : items) {
        if (e.is_boolean()) {
            w.kind = WmiValue::Bool;
            w.ints.push_back(e.get<bool>() ? 1 : 0);
        } else if (e.is_number_float()) {
            w.kind = WmiValue::Real;
            w.reals.push_back(e.get<double>());
        } else if (e.is_number_unsigned()) {
            w.kind = WmiValue::UInt;
            w.uints.push_back(e.get<uint64_t>());
        } else if (e.is_number_integer()) {
            w.kind = WmiValue::Int;
            w.ints.push_back(e.get<int64_t>());
        } else if (e.is_string()) {
            w.kind = WmiValue::Text;
            w.texts.push_back(e.get<std::string>());
        } else if (e.is_object() && p.cimType == CIM_OBJECT) {
            w.kind = WmiValue::Object;
        } else {
            throw std::runtime_error("machine manifest: wmi property \"" + name + "\" has a value of no known kind");
        }
    }
    if (w.isArray && items.empty()) w.kind = p.cimType == CIM_STRING ? WmiValue::Text : WmiValue::UInt;
    return p;
}

WmiObject Object(const Json& map, WmiObject base = {}) {
    if (!map.is_object()) throw std::runtime_error("machine manifest: a wmi object must be a JSON object");
    for (auto it = map.begin(); it != map.end(); ++it) {
        WmiProperty p = Property(it.key(), it.value());
        bool replaced = false;
        for (auto& old : base.properties)
            if (wql::SameText(old.name, p.name)) { old = p; replaced = true; }
        if (!replaced) base.properties.push_back(std::move(p));
    }
    return base;
}

}  // namespace

WmiQueryResult SimPlatform::WmiExecQuery(const std::string& nameSpace, const std::string& wql) {
    const Json& m = *manifest_;
    const Json* service = m.contains("wmi") ? &m["wmi"] : nullptr;
    if (service && service->contains("fail")) {
        WmiQueryResult r;
        r.error = (*service)["fail"].is_string() ? (*service)["fail"].get<std::string>() : "WMI failed";
        return r;
    }
    std::vector<WmiObject> objects;
    for (const SimDrive& d : drives_) {
        auto n = PhysicalDriveNumber(d.path);
        if (d.gone || !n || !d.desc->contains("wmi")) continue;
        WmiObject base;
        base.properties.push_back(Property("Name", "\\\\.\\PHYSICALDRIVE" + std::to_string(*n)));
        base.properties.push_back(Property("Index", Json{{"cim", CIM_UINT32}, {"value", *n}}));
        objects.push_back(Object((*d.desc)["wmi"], std::move(base)));
    }
    if (service && service->contains("objects"))
        for (const Json& o : (*service)["objects"]) objects.push_back(Object(o));
    return wql::Answer(nameSpace, wql, std::move(objects), nullptr);
}

}  // namespace platform::sim
