#include "component/dispatch.h"

#include <vector>

#include "automation/com_holders.h"

namespace quorvel::component {
namespace {

char16_t FoldAscii(char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + (u'a' - u'A')) : c; }

// OLECHAR is wchar_t on Windows and char16_t here; both hold UTF-16 units.
bool SameName(const OLECHAR* given, const char16_t* name) {
    std::size_t i = 0;
    for (; given[i] != 0 && name[i] != 0; ++i) {
        if (FoldAscii(static_cast<char16_t>(given[i])) != FoldAscii(name[i])) return false;
    }
    return given[i] == 0 && name[i] == 0;
}

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

const char16_t* DescriptionOf(HRESULT hr) {
    if (hr == E_NOTIMPL) return u"This method is not available in this version of the component.";
    if (hr == E_OUTOFMEMORY) return u"Out of memory.";
    if (hr == E_POINTER || hr == E_INVALIDARG) return u"Invalid argument.";
    return u"Unexpected failure.";
}

void FillException(EXCEPINFO* info, const char16_t* source, HRESULT hr) {
    if (info == nullptr) return;
    *info = EXCEPINFO{};
    info->scode = hr;
    info->bstrSource = platform::ToBstr(source);
    info->bstrDescription = platform::ToBstr(DescriptionOf(hr));
}

}  // namespace

const MethodInfo* FindMethod(const InterfaceTable& table, DISPID id) {
    for (int i = 0; i < table.method_count; ++i) {
        if (table.methods[i].dispid == id) return &table.methods[i];
    }
    return nullptr;
}

HRESULT DispatchGetIDsOfNames(const InterfaceTable& table, REFIID riid, LPOLESTR* rgszNames, UINT cNames, DISPID* rgDispId) {
    if (!IsEqualIID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
    if (cNames == 0) return S_OK;
    if (rgszNames == nullptr || rgDispId == nullptr) return E_POINTER;
    const MethodInfo* method = nullptr;
    if (rgszNames[0] != nullptr) {
        for (int i = 0; i < table.method_count && method == nullptr; ++i) {
            if (SameName(rgszNames[0], table.methods[i].name)) method = &table.methods[i];
        }
    }
    if (method == nullptr) {
        for (UINT i = 0; i < cNames; ++i) rgDispId[i] = DISPID_UNKNOWN;
        return DISP_E_UNKNOWNNAME;
    }
    rgDispId[0] = method->dispid;
    HRESULT hr = S_OK;
    for (UINT i = 1; i < cNames; ++i) {
        rgDispId[i] = DISPID_UNKNOWN;
        for (int p = 0; p < method->param_count && rgszNames[i] != nullptr; ++p) {
            if (SameName(rgszNames[i], method->params[p].name)) {
                rgDispId[i] = p;
                break;
            }
        }
        if (rgDispId[i] == DISPID_UNKNOWN) hr = DISP_E_UNKNOWNNAME;
    }
    return hr;
}

HRESULT DispatchInvoke(const InterfaceTable& table, IDispatch* object, DISPID dispIdMember, REFIID riid, WORD wFlags, DISPPARAMS* pDispParams,
                       VARIANT* pVarResult, EXCEPINFO* pExcepInfo, UINT* puArgErr) {
    if (!IsEqualIID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
    const MethodInfo* method = FindMethod(table, dispIdMember);
    if (method == nullptr) return DISP_E_MEMBERNOTFOUND;
    // VBScript sends METHOD|PROPERTYGET for a call whose result it uses.
    if ((wFlags & DISPATCH_METHOD) == 0 || (wFlags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) != 0) {
        return DISP_E_MEMBERNOTFOUND;
    }
    DISPPARAMS none{};
    const DISPPARAMS& params = pDispParams != nullptr ? *pDispParams : none;
    if ((params.cArgs > 0 && params.rgvarg == nullptr) || params.cNamedArgs > params.cArgs ||
        (params.cNamedArgs > 0 && params.rgdispidNamedArgs == nullptr)) {
        return E_INVALIDARG;
    }
    const int count = method->param_count;
    if (params.cArgs > static_cast<UINT>(count)) return DISP_E_BADPARAMCOUNT;

    // For each parameter, the index of its argument in rgvarg, or -1.
    std::vector<int> source(static_cast<std::size_t>(count), -1);
    const int positional = static_cast<int>(params.cArgs - params.cNamedArgs);
    for (int p = 0; p < positional; ++p) {
        // Positional arguments are stored last to first.
        source[static_cast<std::size_t>(p)] = static_cast<int>(params.cArgs) - 1 - p;
    }
    for (UINT k = 0; k < params.cNamedArgs; ++k) {
        const DISPID p = params.rgdispidNamedArgs[k];
        if (p < 0 || p >= count || source[static_cast<std::size_t>(p)] != -1) {
            if (puArgErr != nullptr) *puArgErr = k;
            return DISP_E_PARAMNOTFOUND;
        }
        source[static_cast<std::size_t>(p)] = static_cast<int>(k);
    }

    int required = 0;
    for (int p = 0; p < count; ++p) {
        if (!method->params[p].optional) ++required;
    }
    if (params.cNamedArgs == 0 && positional < required) return DISP_E_BADPARAMCOUNT;
    for (int p = 0; p < count; ++p) {
        const int from = source[static_cast<std::size_t>(p)];
        if (!method->params[p].optional && (from < 0 || IsMissing(params.rgvarg[from]))) {
            return DISP_E_PARAMNOTOPTIONAL;
        }
    }

    std::vector<platform::Variant> args(static_cast<std::size_t>(count));
    for (int p = 0; p < count; ++p) {
        const ParamInfo& param = method->params[p];
        const int from = source[static_cast<std::size_t>(p)];
        HRESULT hr = S_OK;
        if (from < 0 || IsMissing(params.rgvarg[from])) {
            hr = platform::DefaultValue(param, args[static_cast<std::size_t>(p)].out());
        } else {
            // VariantChangeType follows VT_BYREF, so VBScript's variables
            // (VT_BYREF|VT_VARIANT) arrive by value. A script's True becomes
            // "True" in a string parameter, as VBScript's own CStr gives.
            hr = VariantChangeType(args[static_cast<std::size_t>(p)].out(), &params.rgvarg[from], VARIANT_ALPHABOOL, TypeOf(param.type));
            if (FAILED(hr)) {
                if (hr == E_OUTOFMEMORY) return hr;
                if (puArgErr != nullptr) *puArgErr = static_cast<UINT>(from);
                return hr == DISP_E_OVERFLOW ? DISP_E_OVERFLOW : DISP_E_TYPEMISMATCH;
            }
        }
        if (FAILED(hr)) return hr;
    }

    if (pVarResult != nullptr) VariantInit(pVarResult);
    const HRESULT hr = method->call(object, platform::RawArray(args), pVarResult);
    if (FAILED(hr)) {
        FillException(pExcepInfo, table.source, hr);
        return DISP_E_EXCEPTION;
    }
    return S_OK;
}

}  // namespace quorvel::component
