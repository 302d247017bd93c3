// IDispatch of a dual interface, served from its generated method table
// (kDispatchTable of the interface's header) the way a type-library invoker
// serves it. Its arguments bind as every IDispatch here binds them
// (BindArguments, dispatch_table.h): named ones accepted, a left-out optional
// parameter taking the IDL's defaultvalue, each argument converted to its
// parameter's type. A failing method answers DISP_E_EXCEPTION with its
// HRESULT in EXCEPINFO::scode.
#pragma once

#include "platform/com.h"
#include "quorvel_interface.h"

namespace quorvel::component {

// nullptr for a DISPID the interface does not have.
const MethodInfo* FindMethod(const InterfaceTable& table, DISPID id);

// rgszNames[0] is the method, the others its parameters; a parameter's DISPID
// is its zero-based position. Names match without regard to ASCII case.
HRESULT DispatchGetIDsOfNames(const InterfaceTable& table, REFIID riid, LPOLESTR* rgszNames, UINT cNames,
                              DISPID* rgDispId);

// `object` implements the table's interface.
HRESULT DispatchInvoke(const InterfaceTable& table, IDispatch* object, DISPID dispIdMember, REFIID riid, WORD wFlags,
                       DISPPARAMS* pDispParams, VARIANT* pVarResult, EXCEPINFO* pExcepInfo, UINT* puArgErr);

// The component's own interface.
inline const MethodInfo* FindMethod(DISPID id) { return FindMethod(kDispatchTable, id); }
inline HRESULT DispatchGetIDsOfNames(REFIID riid, LPOLESTR* rgszNames, UINT cNames, DISPID* rgDispId) {
    return DispatchGetIDsOfNames(kDispatchTable, riid, rgszNames, cNames, rgDispId);
}
inline HRESULT DispatchInvoke(_SiteManage* object, DISPID dispIdMember, REFIID riid, WORD wFlags,
                              DISPPARAMS* pDispParams, VARIANT* pVarResult, EXCEPINFO* pExcepInfo, UINT* puArgErr) {
    return DispatchInvoke(kDispatchTable, object, dispIdMember, riid, wFlags, pDispParams, pVarResult, pExcepInfo,
                          puArgErr);
}

}  // namespace quorvel::component
