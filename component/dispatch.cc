#include "component/dispatch.h"

#include <vector>

#include "automation/dispatch_table.h"

namespace quorvel::component {
namespace {

const char16_t* DescriptionOf(HRESULT hr) {
    if (hr == E_NOTIMPL) return u"This method is not available in this version of the component.";
    if (hr == E_OUTOFMEMORY) return u"Out of memory.";
    if (hr == E_POINTER || hr == E_INVALIDARG) return u"Invalid argument.";
    return u"Unexpected failure.";
}

std::span<const automation::ParamInfo> ParamsOf(const MethodInfo& method) {
    return {method.params, static_cast<std::size_t>(method.param_count)};
}

}  // namespace

const MethodInfo* FindMethod(const InterfaceTable& table, DISPID id) {
    for (int i = 0; i < table.method_count; ++i) {
        if (table.methods[i].dispid == id) return &table.methods[i];
    }
    return nullptr;
}

HRESULT DispatchGetIDsOfNames(const InterfaceTable& table, REFIID riid, LPOLESTR* rgszNames, UINT cNames,
                              DISPID* rgDispId) {
    const auto find = [&](std::u16string_view name, automation::NamedMember& found) {
        for (int i = 0; i < table.method_count; ++i) {
            const MethodInfo& method = table.methods[i];
            if (automation::SameName(name, method.name)) {
                found = {method.dispid, ParamsOf(method)};
                return true;
            }
        }
        return false;
    };
    return automation::ResolveNames(riid, rgszNames, cNames, rgDispId, find);
}

HRESULT DispatchInvoke(const InterfaceTable& table, IDispatch* object, DISPID dispIdMember, REFIID riid, WORD wFlags,
                       DISPPARAMS* pDispParams, VARIANT* pVarResult, EXCEPINFO* pExcepInfo, UINT* puArgErr) {
    if (!IsEqualIID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
    const MethodInfo* method = FindMethod(table, dispIdMember);
    if (method == nullptr) return DISP_E_MEMBERNOTFOUND;
    // VBScript sends METHOD|PROPERTYGET for a call whose result it uses.
    if ((wFlags & DISPATCH_METHOD) == 0 || (wFlags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) != 0) {
        return DISP_E_MEMBERNOTFOUND;
    }
    std::vector<automation::Variant> args;
    if (const HRESULT hr = automation::BindArguments(ParamsOf(*method), nullptr, pDispParams, args, puArgErr);
        FAILED(hr)) {
        return hr;
    }

    if (pVarResult != nullptr) VariantInit(pVarResult);
    const HRESULT hr = method->call(object, automation::RawArray(args), pVarResult);
    if (FAILED(hr)) return automation::ExceptionResult(pExcepInfo, hr, table.source, DescriptionOf(hr));
    return S_OK;
}

}  // namespace quorvel::component
