// What the interface generator (cmake/gen_interface.py) writes tables of:
// one ParamInfo per parameter an IDL declares, and for a dual interface one
// MethodInfo per method. The component's IDispatch and the stand-ins'
// AutomationObject both read them, so a parameter's optionality and default
// come from the IDL alone.
//
// Both also bind a call's arguments here, one way for every IDispatch this
// project serves (BindArguments):
//
// - Positional arguments fill the parameters from the first; named ones
//   (rgdispidNamedArgs: a parameter's zero-based position, the DISPID that
//   GetIDsOfNames gives its name) fill any other. A named argument for no
//   parameter, or for one already given, fails DISP_E_PARAMNOTFOUND with
//   *arg_err at it.
// - More arguments than parameters fail DISP_E_BADPARAMCOUNT. So does a call
//   of positional arguments only that gives fewer than the required ones; a
//   required parameter left out any other way (by a call with named
//   arguments, or by the "missing" marker VT_ERROR/DISP_E_PARAMNOTFOUND in its
//   slot) fails DISP_E_PARAMNOTOPTIONAL.
// - A left-out optional parameter takes its declared default (DefaultValue).
// - Every argument reaches the callee converted to its parameter's type, as
//   VariantChangeType converts (references followed, Booleans as "True" and
//   "False"); a VARIANT parameter takes the value as given. One that does not
//   convert fails DISP_E_TYPEMISMATCH or DISP_E_OVERFLOW with *arg_err at it.
// - A property write's value is the named argument DISPID_PROPERTYPUT,
//   converted to the type of the property; without it the write fails
//   DISP_E_PARAMNOTOPTIONAL.
//
// The callee's own failure reaches the caller through EXCEPINFO
// (ExceptionResult).
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "automation/com_holders.h"

namespace quorvel::automation {

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

// A member's name against a caller's, without regard to ASCII case.
bool SameName(std::u16string_view given, const char16_t* name);
// A name as SameName compares it (ASCII letters in lower case), into `out`.
void FoldNameInto(std::u16string_view name, std::u16string& out);

// What GetIDsOfNames finds for a name: the member's DISPID and parameters.
struct NamedMember {
    DISPID id = DISPID_UNKNOWN;
    std::span<const ParamInfo> params;
};

// GetIDsOfNames: names[0] is the member, looked up by `find(name, member)`
// (true when found); the names after it are its parameters, each answered
// with its position. A name that is not found answers DISPID_UNKNOWN and
// the call DISP_E_UNKNOWNNAME (all of them DISPID_UNKNOWN when the member
// is unknown).
template <typename Find>
HRESULT ResolveNames(REFIID riid, LPOLESTR* names, UINT count, DISPID* ids, Find&& find);

// Binds the arguments of an Invoke to `params` (and to `written`, a
// property write's value, when not nullptr; its value goes last): one
// Variant per parameter, in order, or the failure Invoke returns.
HRESULT BindArguments(std::span<const ParamInfo> params, const ParamInfo* written, const DISPPARAMS* args,
                      std::vector<Variant>& values, UINT* arg_err);

// Fills EXCEPINFO when the caller gave one, and returns DISP_E_EXCEPTION:
// how a failure of the callee reaches an IDispatch caller.
HRESULT ExceptionResult(EXCEPINFO* info, HRESULT scode, std::u16string_view source, std::u16string_view description);

// ---- implementation ----------------------------------------------------

namespace detail {
// The parameters' part of GetIDsOfNames: names[1..count).
HRESULT ParameterIds(std::span<const ParamInfo> params, const LPOLESTR* names, UINT count, DISPID* ids);
}  // namespace detail

template <typename Find>
HRESULT ResolveNames(REFIID riid, LPOLESTR* names, UINT count, DISPID* ids, Find&& find) {
    if (!IsEqualIID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
    if (count == 0) return S_OK;
    if (names == nullptr || ids == nullptr) return E_POINTER;
    NamedMember member;
    // OLECHAR is wchar_t on Windows and char16_t here; both hold UTF-16 units.
    if (names[0] == nullptr || !find(std::u16string_view(reinterpret_cast<const char16_t*>(names[0])), member)) {
        for (UINT i = 0; i < count; ++i) ids[i] = DISPID_UNKNOWN;
        return DISP_E_UNKNOWNNAME;
    }
    ids[0] = member.id;
    return detail::ParameterIds(member.params, names, count, ids);
}

}  // namespace quorvel::automation
