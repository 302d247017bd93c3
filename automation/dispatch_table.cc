#include "automation/dispatch_table.h"

#include "base/ascii.h"

namespace quorvel::automation {
namespace {

VARTYPE TypeOf(ParamType type) {
    switch (type) {
        case ParamType::String: return VT_BSTR;
        case ParamType::Long: return VT_I4;
        case ParamType::Boolean: return VT_BOOL;
        case ParamType::Variant: return VT_VARIANT;
    }
    return VT_EMPTY;
}

// How a caller says "not given" in a slot (VBScript and VB send it for a
// skipped argument).
bool IsMissing(const VARIANT& v) {
    if (v.vt == VT_ERROR) return v.scode == DISP_E_PARAMNOTFOUND;
    if (v.vt == (VT_BYREF | VT_VARIANT) && v.pvarVal != nullptr) return IsMissing(*v.pvarVal);
    return false;
}

// The argument as `param` takes it. VariantChangeType and VariantCopyInd
// follow VT_BYREF, so VBScript's variables (VT_BYREF|VT_VARIANT) arrive by
// value. A script's True becomes "True" in a string parameter, as VBScript's
// own CStr gives.
HRESULT Convert(const ParamInfo& param, VARIANT& given, Variant& out) {
    if (param.type == ParamType::Variant) return VariantCopyInd(out.out(), &given);
    return VariantChangeType(out.out(), &given, VARIANT_ALPHABOOL, TypeOf(param.type));
}

}  // namespace

HRESULT DefaultValue(const ParamInfo& param, VARIANT* out) {
    VariantInit(out);
    switch (param.type) {
        case ParamType::String:
            out->bstrVal = platform::ToBstr(param.text != nullptr ? param.text : u"");
            if (out->bstrVal == nullptr) return E_OUTOFMEMORY;
            out->vt = VT_BSTR;
            break;
        case ParamType::Long:
            out->vt = VT_I4;
            out->lVal = param.number;
            break;
        case ParamType::Boolean:
            out->vt = VT_BOOL;
            out->boolVal = param.number != 0 ? VARIANT_TRUE : VARIANT_FALSE;
            break;
        case ParamType::Variant:
            out->vt = VT_ERROR;
            out->scode = DISP_E_PARAMNOTFOUND;
            break;
    }
    return S_OK;
}

void FoldNameInto(std::u16string_view name, std::u16string& out) {
    out.assign(name);
    for (char16_t& c : out) c = base::ToLowerAscii(c);
}

bool SameName(std::u16string_view given, const char16_t* name) {
    return base::EqualsIgnoringAsciiCase(given, std::u16string_view(name));
}

namespace detail {

HRESULT ParameterIds(std::span<const ParamInfo> params, const LPOLESTR* names, UINT count, DISPID* ids) {
    HRESULT hr = S_OK;
    for (UINT i = 1; i < count; ++i) {
        ids[i] = DISPID_UNKNOWN;
        if (names[i] != nullptr) {
            const std::u16string_view name(reinterpret_cast<const char16_t*>(names[i]));
            for (std::size_t p = 0; p < params.size(); ++p) {
                if (SameName(name, params[p].name)) {
                    ids[i] = static_cast<DISPID>(p);
                    break;
                }
            }
        }
        if (ids[i] == DISPID_UNKNOWN) hr = DISP_E_UNKNOWNNAME;
    }
    return hr;
}

}  // namespace detail

HRESULT BindArguments(std::span<const ParamInfo> params, const ParamInfo* written, const DISPPARAMS* args,
                      std::vector<Variant>& values, UINT* arg_err) {
    static const DISPPARAMS kNone{};
    const DISPPARAMS& given = args != nullptr ? *args : kNone;
    if ((given.cArgs > 0 && given.rgvarg == nullptr) || given.cNamedArgs > given.cArgs ||
        (given.cNamedArgs > 0 && given.rgdispidNamedArgs == nullptr)) {
        return E_INVALIDARG;
    }
    const std::size_t count = params.size();
    const std::size_t slots = count + (written != nullptr ? 1 : 0);
    if (given.cArgs > slots) return DISP_E_BADPARAMCOUNT;
    const auto fail_at = [&](UINT index, HRESULT hr) {
        if (arg_err != nullptr) *arg_err = index;
        return hr;
    };

    // For each parameter, the index of its argument in rgvarg, or -1.
    // Positional arguments are stored last to first, after the named ones.
    std::vector<int> source(slots, -1);
    const std::size_t positional = given.cArgs - given.cNamedArgs;
    if (positional > count) return DISP_E_BADPARAMCOUNT;
    for (std::size_t p = 0; p < positional; ++p) source[p] = static_cast<int>(given.cArgs - 1 - p);
    bool named_parameters = false;
    for (UINT k = 0; k < given.cNamedArgs; ++k) {
        const DISPID id = given.rgdispidNamedArgs[k];
        std::size_t slot = 0;
        if (written != nullptr && id == DISPID_PROPERTYPUT) {
            slot = count;
        } else if (id >= 0 && static_cast<std::size_t>(id) < count) {
            slot = static_cast<std::size_t>(id);
            named_parameters = true;
        } else {
            return fail_at(k, DISP_E_PARAMNOTFOUND);
        }
        if (source[slot] != -1) return fail_at(k, DISP_E_PARAMNOTFOUND);
        source[slot] = static_cast<int>(k);
    }
    if (written != nullptr && source[count] < 0) return DISP_E_PARAMNOTOPTIONAL;

    std::size_t required = 0;
    for (const ParamInfo& param : params) {
        if (!param.optional) ++required;
    }
    if (!named_parameters && positional < required) return DISP_E_BADPARAMCOUNT;
    for (std::size_t p = 0; p < count; ++p) {
        if (!params[p].optional && (source[p] < 0 || IsMissing(given.rgvarg[source[p]]))) {
            return DISP_E_PARAMNOTOPTIONAL;
        }
    }

    values.clear();
    values.resize(slots);
    for (std::size_t p = 0; p < slots; ++p) {
        const ParamInfo& param = p < count ? params[p] : *written;
        const int from = source[p];
        if (from < 0 || (p < count && IsMissing(given.rgvarg[from]))) {
            if (const HRESULT hr = DefaultValue(param, values[p].out()); FAILED(hr)) return hr;
            continue;
        }
        if (const HRESULT hr = Convert(param, given.rgvarg[from], values[p]); FAILED(hr)) {
            if (hr == E_OUTOFMEMORY) return hr;
            return fail_at(static_cast<UINT>(from), hr == DISP_E_OVERFLOW ? DISP_E_OVERFLOW : DISP_E_TYPEMISMATCH);
        }
    }
    return S_OK;
}

HRESULT ExceptionResult(EXCEPINFO* info, HRESULT scode, std::u16string_view source, std::u16string_view description) {
    if (info != nullptr) {
        *info = EXCEPINFO{};
        info->scode = scode;
        info->bstrSource = platform::ToBstr(source);
        info->bstrDescription = platform::ToBstr(description);
    }
    return DISP_E_EXCEPTION;
}

}  // namespace quorvel::automation
