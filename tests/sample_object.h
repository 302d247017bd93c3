// An object of the sample interface (tests/idl/sample.idl) served by the
// component's dispatcher: Greet answers its arguments as one text,
// "Name|Greeting|Count|Most|Loud|Twice|Note|Extra". Lives on the stack.
#pragma once

#include <string>

#include "component/dispatch.h"
#include "sample_interface.h"

namespace quorvel::test {

class SampleObject final : public sample::_Sample {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
    ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID, DISPID* ids) override {
        return component::DispatchGetIDsOfNames(sample::kDispatchTable, riid, names, count, ids);
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID id, REFIID riid, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                                     EXCEPINFO* info, UINT* arg_err) override {
        return component::DispatchInvoke(sample::kDispatchTable, this, id, riid, flags, params, result, info, arg_err);
    }
    HRESULT STDMETHODCALLTYPE Greet(BSTR name, BSTR greeting, LONG count, LONG most, VARIANT_BOOL loud,
                                    VARIANT_BOOL twice, BSTR note, LONG extra, BSTR* result) override {
        *result = platform::ToBstr(platform::FromBstr(name) + u"|" + platform::FromBstr(greeting) + u"|" + Num(count) +
                                   u"|" + Num(most) + u"|" + Num(loud) + u"|" + Num(twice) + u"|" +
                                   platform::FromBstr(note) + u"|" + Num(extra));
        return S_OK;
    }

    static std::u16string Num(long n) {
        const std::string s = std::to_string(n);
        return {s.begin(), s.end()};
    }
};

}  // namespace quorvel::test
