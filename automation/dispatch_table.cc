#include "automation/dispatch_table.h"

namespace quorvel::platform {

HRESULT DefaultValue(const ParamInfo& param, VARIANT* out) {
    VariantInit(out);
    switch (param.type) {
        case ParamType::String:
            out->bstrVal = ToBstr(param.text != nullptr ? param.text : u"");
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

}  // namespace quorvel::platform
