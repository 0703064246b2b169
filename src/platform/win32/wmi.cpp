// WMI through COM: the locator, the namespace, the query, each object's
// properties as VARIANTs carried over into the seam's values.
#include "platform/win32/windows_api.h"
#include <objbase.h>
#include <oleauto.h>
#include <wbemidl.h>

#include <cstdio>
#include <cstring>

#include "platform/win32/win32_platform.h"

namespace platform::win32 {
namespace {

template <typename T>
class ComPtr {
public:
    ComPtr() = default;
    ~ComPtr() {
        if (p_) p_->Release();
    }
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;
    T** Out() { return &p_; }
    T* operator->() const { return p_; }
    T* Get() const { return p_; }

private:
    T* p_ = nullptr;
};

class Bstr {
public:
    explicit Bstr(const std::wstring& text) : b_(::SysAllocString(text.c_str())) {}
    ~Bstr() { ::SysFreeString(b_); }
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    BSTR Get() const { return b_; }

private:
    BSTR b_;
};

std::string HresultText(const char* step, HRESULT hr) {
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%08lX", static_cast<unsigned long>(hr));
    return std::string(step) + " failed (" + hex + ")";
}

// One scalar of a VARIANT into the value, by its variant type.
bool AddScalar(VARTYPE vt, const void* data, WmiValue& v) {
    auto as = [data](auto sample) {
        decltype(sample) x;
        std::memcpy(&x, data, sizeof x);
        return x;
    };
    switch (vt) {
    case VT_I1: v.kind = WmiValue::Int; v.ints.push_back(as(int8_t{})); return true;
    case VT_I2: v.kind = WmiValue::Int; v.ints.push_back(as(int16_t{})); return true;
    case VT_I4: case VT_INT: v.kind = WmiValue::Int; v.ints.push_back(as(int32_t{})); return true;
    case VT_I8: v.kind = WmiValue::Int; v.ints.push_back(as(int64_t{})); return true;
    case VT_UI1: v.kind = WmiValue::UInt; v.uints.push_back(as(uint8_t{})); return true;
    case VT_UI2: v.kind = WmiValue::UInt; v.uints.push_back(as(uint16_t{})); return true;
    case VT_UI4: case VT_UINT: v.kind = WmiValue::UInt; v.uints.push_back(as(uint32_t{})); return true;
    case VT_UI8: v.kind = WmiValue::UInt; v.uints.push_back(as(uint64_t{})); return true;
    case VT_R4: v.kind = WmiValue::Real; v.reals.push_back(as(float{})); return true;
    case VT_R8: v.kind = WmiValue::Real; v.reals.push_back(as(double{})); return true;
    case VT_BOOL: v.kind = WmiValue::Bool; v.ints.push_back(as(VARIANT_BOOL{}) ? 1 : 0); return true;
    case VT_BSTR: {
        BSTR b = as(BSTR{});
        v.kind = WmiValue::Text;
        v.texts.push_back(b ? Narrow(b, ::SysStringLen(b)) : std::string());
        return true;
    }
    case VT_UNKNOWN: case VT_DISPATCH: v.kind = WmiValue::Object; return true;
    default: return false;
    }
}

WmiValue FromVariant(const VARIANT& var) {
    WmiValue v;
    const VARTYPE vt = var.vt;
    if (vt == VT_EMPTY || vt == VT_NULL) return v;
    if (vt & VT_ARRAY) {
        SAFEARRAY* a = var.parray;
        LONG lo = 0, hi = -1;
        if (!a || ::SafeArrayGetDim(a) != 1 || FAILED(::SafeArrayGetLBound(a, 1, &lo)) ||
            FAILED(::SafeArrayGetUBound(a, 1, &hi)))
            return v;
        v.isArray = true;
        const VARTYPE element = static_cast<VARTYPE>(vt & ~VT_ARRAY);
        for (LONG i = lo; i <= hi; ++i) {
            alignas(8) unsigned char item[16] = {};
            if (element == VT_BSTR) {
                BSTR b = nullptr;
                if (FAILED(::SafeArrayGetElement(a, &i, &b))) return WmiValue{};
                AddScalar(VT_BSTR, &b, v);
                ::SysFreeString(b);
            } else if (element == VT_UNKNOWN || element == VT_DISPATCH) {
                v.kind = WmiValue::Object;
            } else if (FAILED(::SafeArrayGetElement(a, &i, item)) || !AddScalar(element, item, v)) {
                return WmiValue{};
            }
        }
        return v;
    }
    if (!AddScalar(vt, &var.llVal, v)) {
        // Anything else is read as its text, as the scripting objects do.
        VARIANT text;
        ::VariantInit(&text);
        if (SUCCEEDED(::VariantChangeType(&text, const_cast<VARIANT*>(&var), 0, VT_BSTR))) AddScalar(VT_BSTR, &text.bstrVal, v);
        ::VariantClear(&text);
    }
    return v;
}

}  // namespace

WmiQueryResult Win32Platform::WmiExecQuery(const std::string& nameSpace, const std::string& wql) {
    WmiQueryResult result;
    const HRESULT init = ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    if (FAILED(init) && init != RPC_E_CHANGED_MODE) {
        result.error = HresultText("CoInitializeEx", init);
        return result;
    }
    {
        // Once per process; a second call (or the caller's own) says "too late".
        ::CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_DEFAULT,
                               RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE, nullptr);
        ComPtr<IWbemLocator> locator;
        ComPtr<IWbemServices> services;
        ComPtr<IEnumWbemClassObject> objects;
        HRESULT hr = ::CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER, IID_IWbemLocator,
                                        reinterpret_cast<void**>(locator.Out()));
        const char* step = "CoCreateInstance(WbemLocator)";
        if (SUCCEEDED(hr)) {
            Bstr ns(Wide(nameSpace));
            hr = locator->ConnectServer(ns.Get(), nullptr, nullptr, nullptr, 0, nullptr, nullptr, services.Out());
            step = "ConnectServer";
        }
        if (SUCCEEDED(hr)) {
            ::CoSetProxyBlanket(services.Get(), RPC_C_AUTHN_WINNT, RPC_C_AUTHZ_NONE, nullptr, RPC_C_AUTHN_LEVEL_CALL,
                                RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE);
            Bstr language(L"WQL");
            Bstr query(Wide(wql));
            hr = services->ExecQuery(language.Get(), query.Get(),
                                     WBEM_FLAG_FORWARD_ONLY | WBEM_FLAG_RETURN_IMMEDIATELY, nullptr, objects.Out());
            step = "ExecQuery";
        }
        while (SUCCEEDED(hr)) {
            IWbemClassObject* object = nullptr;
            ULONG returned = 0;
            hr = objects->Next(static_cast<LONG>(WBEM_INFINITE), 1, &object, &returned);
            step = "IEnumWbemClassObject::Next";
            if (FAILED(hr) || returned == 0 || !object) break;
            WmiObject o;
            object->BeginEnumeration(WBEM_FLAG_NONSYSTEM_ONLY);
            for (;;) {
                BSTR name = nullptr;
                VARIANT value;
                ::VariantInit(&value);
                CIMTYPE type = 0;
                if (object->Next(0, &name, &value, &type, nullptr) != WBEM_S_NO_ERROR) break;
                WmiProperty p;
                p.name = name ? Narrow(name, ::SysStringLen(name)) : std::string();
                p.cimType = static_cast<int32_t>(type & ~CIM_FLAG_ARRAY);
                p.value = FromVariant(value);
                ::SysFreeString(name);
                ::VariantClear(&value);
                o.properties.push_back(std::move(p));
            }
            object->EndEnumeration();
            object->Release();
            result.objects.push_back(std::move(o));
        }
        if (FAILED(hr)) {
            result.error = HresultText(step, hr);
            result.objects.clear();
        } else {
            result.ok = true;
        }
    }
    if (SUCCEEDED(init)) ::CoUninitialize();
    return result;
}

}  // namespace platform::win32
