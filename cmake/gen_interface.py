#!/usr/bin/env python3
"""Generates the C++ side of the component's interface from its IDL file.

Output: a header declaring the GUIDs, the dual interface (vtable in IDL order)
and the method table that IDispatch serves, and a source file with the table
and one call thunk per method. Usage: gen_interface.py IDL OUT_H OUT_CC
"""
import re
import sys

TYPES = {"BSTR": "String", "long": "Long", "VARIANT_BOOL": "Boolean"}
CTYPES = {"String": "BSTR", "Long": "LONG", "Boolean": "VARIANT_BOOL"}
VFIELD = {"String": "bstrVal", "Long": "lVal", "Boolean": "boolVal"}


def split_top(text, sep=","):
    parts, depth, quote, cur = [], 0, False, ""
    for ch in text:
        if ch == '"':
            quote = not quote
        elif not quote and ch in "([":
            depth += 1
        elif not quote and ch in ")]":
            depth -= 1
        if ch == sep and depth == 0 and not quote:
            parts.append(cur.strip())
            cur = ""
        else:
            cur += ch
    if cur.strip():
        parts.append(cur.strip())
    return parts


def guid_of(block_attrs):
    m = re.search(r"uuid\(([0-9a-fA-F-]{36})\)", block_attrs)
    return m.group(1)


def parse(idl):
    idl = re.sub(r"//[^\n]*", "", idl)
    lib = guid_of(re.search(r"\[([^\]]*)\]\s*library", idl).group(1))
    iface_m = re.search(r"\[([^\]]*)\]\s*interface\s+(\w+)\s*:\s*IDispatch\s*\{(.*?)\};", idl, re.S)
    iid, iname, body = guid_of(iface_m.group(1)), iface_m.group(2), iface_m.group(3)
    cls_m = re.search(r"\[([^\]]*)\]\s*coclass\s+(\w+)", idl)
    clsid, cname = guid_of(cls_m.group(1)), cls_m.group(2)
    libname = re.search(r"library\s+(\w+)", idl).group(1)
    methods = []
    for m in re.finditer(r"\[id\((0x[0-9a-fA-F]+)\)\]\s*HRESULT\s+(\w+)\s*\((.*?)\)\s*;", body, re.S):
        dispid, name, plist = int(m.group(1), 16), m.group(2), m.group(3)
        params, result = [], None
        for p in split_top(" ".join(plist.split())):
            pm = re.match(r"\[(.*?)\]\s*(\w+)\s*(\*?)\s*(\w+)$", p)
            if not pm:
                raise SystemExit(f"cannot parse parameter '{p}' of {name}")
            attrs, ctype, star, pname = pm.groups()
            attrs = split_top(attrs)
            if "retval" in attrs:
                result = TYPES[ctype]
                continue
            params.append({
                "name": pname,
                "type": TYPES[ctype],
                "optional": "optional" in attrs,
            })
        methods.append({"dispid": dispid, "name": name, "params": params, "result": result})
    return {"lib": lib, "libname": libname, "iid": iid, "iname": iname,
            "clsid": clsid, "cname": cname, "methods": methods}


def guid_init(g):
    h = g.replace("-", "")
    d4 = ", ".join("0x" + h[16 + 2 * i:18 + 2 * i] for i in range(8))
    return f"{{0x{h[0:8]}, 0x{h[8:12]}, 0x{h[12:16]}, {{{d4}}}}}"


def main():
    idl_path, out_h, out_cc = sys.argv[1:4]
    with open(idl_path, encoding="utf-8") as f:
        api = parse(f.read())
    ms = api["methods"]
    h = []
    h.append("// Generated from quorvel.idl by gen_interface.py. Do not edit.")
    h.append("#pragma once")
    h.append('#include "platform/com.h"')
    h.append("")
    h.append("namespace quorvel {")
    h.append(f'inline constexpr char16_t kLibraryName[] = u"{api["libname"]}";')
    h.append(f'inline constexpr char16_t kClassName[] = u"{api["cname"]}";')
    h.append(f'inline constexpr char16_t kInterfaceName[] = u"{api["iname"]}";')
    h.append(f'inline constexpr char16_t kProgId[] = u"{api["libname"]}.{api["cname"]}";')
    h.append(f'inline constexpr char kLibraryGuid[] = "{{{api["lib"].upper()}}}";')
    h.append(f'inline constexpr char kClassGuid[] = "{{{api["clsid"].upper()}}}";')
    h.append(f'inline constexpr char kInterfaceGuid[] = "{{{api["iid"].upper()}}}";')
    h.append(f"inline constexpr GUID kLibId = {guid_init(api['lib'])};")
    h.append(f"inline constexpr GUID kClsid = {guid_init(api['clsid'])};")
    h.append(f"inline constexpr GUID kIid = {guid_init(api['iid'])};")
    h.append("")
    h.append(f"struct {api['iname']} : public IDispatch {{")
    for m in ms:
        args = [f"{CTYPES[p['type']]} {p['name']}" for p in m["params"]]
        args.append(f"{CTYPES[m['result']]}* Result")
        h.append(f"    virtual HRESULT STDMETHODCALLTYPE {m['name']}({', '.join(args)}) = 0;")
    h.append("};")
    h.append("")
    h.append("enum class ParamType { String, Long, Boolean };")
    h.append("")
    h.append("struct ParamInfo {")
    h.append("    const char16_t* name;")
    h.append("    ParamType type;")
    h.append("    bool optional;")
    h.append("};")
    h.append("")
    h.append("// Arguments arrive already coerced: VT_BSTR, VT_I4 or VT_BOOL, in order.")
    h.append(f"using MethodThunk = HRESULT (*)({api['iname']}* object, VARIANT* args, VARIANT* result);")
    h.append("")
    h.append("struct MethodInfo {")
    h.append("    const char16_t* name;")
    h.append("    DISPID dispid;")
    h.append("    ParamType result;")
    h.append("    const ParamInfo* params;")
    h.append("    int param_count;")
    h.append("    MethodThunk call;")
    h.append("};")
    h.append("")
    h.append(f"inline constexpr int kMethodCount = {len(ms)};")
    h.append("extern const MethodInfo kMethods[kMethodCount];")
    h.append("}  // namespace quorvel")
    h.append("")

    c = []
    c.append("// Generated from quorvel.idl by gen_interface.py. Do not edit.")
    c.append('#include "quorvel_interface.h"')
    c.append("")
    c.append("namespace quorvel {")
    c.append("namespace {")
    for m in ms:
        c.append(f"constexpr ParamInfo k{m['name']}Params[] = {{")
        for p in m["params"]:
            c.append(f"    {{u\"{p['name']}\", ParamType::{p['type']}, {'true' if p['optional'] else 'false'}}},")
        c.append("};")
        c.append("")
        call_args = [f"args[{i}].{VFIELD[p['type']]}" for i, p in enumerate(m["params"])]
        rt = m["result"]
        c.append(f"HRESULT Call{m['name']}({api['iname']}* object, VARIANT* args, VARIANT* result) {{")
        c.append(f"    {CTYPES[rt]} value{{}};")
        c.append(f"    HRESULT hr = object->{m['name']}({', '.join(call_args + ['&value'])});")
        c.append("    if (SUCCEEDED(hr) && result != nullptr) {")
        vt = {"String": "VT_BSTR", "Long": "VT_I4", "Boolean": "VT_BOOL"}[rt]
        c.append(f"        result->vt = {vt};")
        c.append(f"        result->{VFIELD[rt]} = value;")
        if rt == "String":
            c.append("    } else {")
            c.append("        SysFreeString(value);")
        c.append("    }")
        c.append("    return hr;")
        c.append("}")
        c.append("")
    c.append("}  // namespace")
    c.append("")
    c.append("const MethodInfo kMethods[kMethodCount] = {")
    for m in ms:
        c.append(f"    {{u\"{m['name']}\", 0x{m['dispid']:08X}, ParamType::{m['result']}, k{m['name']}Params, "
                 f"{len(m['params'])}, &Call{m['name']}}},")
    c.append("};")
    c.append("}  // namespace quorvel")
    c.append("")
    for path, lines in ((out_h, h), (out_cc, c)):
        text = "\n".join(lines)
        try:
            with open(path, encoding="utf-8") as f:
                if f.read() == text:
                    continue
        except FileNotFoundError:
            pass
        with open(path, "w", encoding="utf-8") as f:
            f.write(text)


if __name__ == "__main__":
    main()
