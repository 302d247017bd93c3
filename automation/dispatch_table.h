// What the interface generator (cmake/gen_interface.py) writes tables of:
// one ParamInfo per parameter an IDL declares, and for a dual interface one
// MethodInfo per method. The component's IDispatch and the stand-ins'
// AutomationObject both read them, so a parameter's optionality and default
// come from the IDL alone.
#pragma once

#include <cstdint>

#include "platform/com.h"

namespace quorvel::platform {

enum class ParamType { String, Long, Boolean, Variant };

struct ParamInfo {
    const char16_t* name;
    ParamType type;
    // May be left out: declared `optional` or with a `defaultvalue`.
    bool optional;
    // Declares `defaultvalue(...)`; the value is `text` for a String,
    // `number` for a Long or a Boolean (VARIANT_TRUE is -1).
    bool has_default;
    const char16_t* text;
    std::int32_t number;
};

// The value a left-out parameter takes: its declared default, or the empty
// value of its type when it declares none. VT_ERROR/DISP_E_PARAMNOTFOUND
// (the "missing" marker) for a Variant without a default.
HRESULT DefaultValue(const ParamInfo& param, VARIANT* out);

// Arguments arrive already coerced to the parameters' types, in order.
using MethodThunk = HRESULT (*)(IDispatch* object, VARIANT* args, VARIANT* result);

struct MethodInfo {
    const char16_t* name;
    DISPID dispid;
    ParamType result;
    const ParamInfo* params;
    int param_count;
    MethodThunk call;
};

// A dual interface's methods; `source` names the class in EXCEPINFO.
struct InterfaceTable {
    const char16_t* source;
    const MethodInfo* methods;
    int method_count;
};

}  // namespace quorvel::platform
