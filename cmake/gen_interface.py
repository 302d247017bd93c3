#!/usr/bin/env python3
"""Generates C++ tables from an IDL file, the one source of the members.

  gen_interface.py [--namespace NS] IDL OUT_H OUT_CC
      The dual interface of the IDL's coclass (the component's): GUIDs, the
      vtable in IDL order, and the method table that IDispatch serves, with
      one call thunk per method.
  gen_interface.py --members NS IDL OUT_H
      Every interface of the IDL as a member table for
      automation::AutomationObject (the stand-ins): a struct per interface whose
      Members<T>() names T's member functions. A method Foo is T::Foo (a
      leading underscore dropped: _NewEnum is T::NewEnum); a read-only
      property Foo is T::Foo; a read-write one is T::GetFoo and T::PutFoo.

Each parameter's `optional` and `defaultvalue(...)` go into the tables. A
default the dispatchers cannot give (one of another type than its parameter,
an integer out of range, a VARIANT_BOOL other than 0 or -1, an expression, a
VARIANT parameter's) stops the build with a message naming it, as do a
required parameter after an optional one and a DISPID used twice.
"""
import os
import re
import sys

TYPES = {"BSTR": "String", "long": "Long", "VARIANT_BOOL": "Boolean", "VARIANT": "Variant"}
RESULT_TYPES = {"BSTR", "long", "VARIANT_BOOL", "VARIANT", "IUnknown", "IDispatch"}
CTYPES = {"String": "BSTR", "Long": "LONG", "Boolean": "VARIANT_BOOL"}
VFIELD = {"String": "bstrVal", "Long": "lVal", "Boolean": "boolVal"}
VTYPE = {"String": "VT_BSTR", "Long": "VT_I4", "Boolean": "VT_BOOL"}
PARAM_ATTRS = {"in", "out", "retval", "optional"}
DISPID_NEWENUM = -4
FIRST_DYNAMIC_ID = 0x10000  # automation/automation.h: properties by any name


class IdlError(Exception):
    pass


def strip_comments(text):
    out, i, n = [], 0, len(text)
    while i < n:
        ch = text[i]
        if ch == '"':
            j = i + 1
            while j < n and text[j] != '"':
                j += 2 if text[j] == "\\" else 1
            out.append(text[i:j + 1])
            i = j + 1
        elif text.startswith("//", i):
            while i < n and text[i] != "\n":
                i += 1
        elif text.startswith("/*", i):
            end = text.find("*/", i + 2)
            if end < 0:
                raise IdlError("unterminated comment")
            out.append("\n" * text.count("\n", i, end))
            i = end + 2
        else:
            out.append(ch)
            i += 1
    return "".join(out)


def unquoted(text, opening, closing, sep=None):
    """(index, character, depth) of each character of `text` outside its
    double-quoted strings (in which a backslash escapes), `depth` counting the
    brackets of `opening` open before it. A `sep` outside them all opens or
    closes nothing."""
    depth, quote, escaped = 0, False, False
    for i, ch in enumerate(text):
        if quote:
            if escaped:
                escaped = False
            elif ch == "\\":
                escaped = True
            elif ch == '"':
                quote = False
            continue
        if ch == '"':
            quote = True
            continue
        yield i, ch, depth
        if ch == sep and depth == 0:
            continue
        if ch in opening:
            depth += 1
        elif ch in closing:
            depth -= 1


def split_top(text, sep=","):
    """Splits at `sep` outside quotes, parentheses and brackets."""
    parts, start = [], 0
    for i, ch, depth in unquoted(text, "([{", ")]}", sep):
        if ch == sep and depth == 0:
            parts.append(text[start:i].strip())
            start = i + 1
    if text[start:].strip():
        parts.append(text[start:].strip())
    return parts


def leading_attrs(text):
    """'[a, b] rest' -> (['a', 'b'], 'rest'); ([], text) without brackets."""
    text = text.strip()
    if not text.startswith("["):
        return [], text
    for i, ch, depth in unquoted(text, "([", ")]"):
        if ch in ")]" and depth == 1:
            return split_top(text[1:i]), text[i + 1:].strip()
    raise IdlError(f"unclosed attribute list in '{text}'")


def attr_value(attrs, name):
    for a in attrs:
        m = re.fullmatch(name + r"\s*\((.*)\)", a, re.S)
        if m:
            return m.group(1).strip()
    return None


def has_flag(attrs, name):
    return any(a == name for a in attrs)


def guid_of(attrs, what):
    g = attr_value(attrs, "uuid")
    if g is None or not re.fullmatch(r"[0-9a-fA-F]{8}-([0-9a-fA-F]{4}-){3}[0-9a-fA-F]{12}", g):
        raise IdlError(f"{what} has no uuid(...)")
    return g


def parse_integer(text):
    m = re.fullmatch(r"([+-]?)\s*(0[xX][0-9a-fA-F]+|[0-9]+)", text)
    if not m:
        return None
    value = int(m.group(2), 0)
    return -value if m.group(1) == "-" else value


def parse_string(text):
    if len(text) < 2 or text[0] != '"' or text[-1] != '"':
        return None
    out, i, body = [], 0, text[1:-1]
    while i < len(body):
        ch = body[i]
        if ch == "\\":
            if i + 1 >= len(body) or body[i + 1] not in '\\"':
                raise IdlError("only the escapes \\\\ and \\\" are supported")
            out.append(body[i + 1])
            i += 2
            continue
        if ch == '"':
            raise IdlError("not one string literal")
        if ord(ch) < 0x20 or ch == "\x7f":
            raise IdlError("a control character")
        out.append(ch)
        i += 1
    return "".join(out)


def parse_default(text, ptype, where):
    """The declared default as ('text', str) or ('number', int); IdlError when
    it is not one the dispatchers give for that type."""
    if ptype == "Variant":
        raise IdlError(f"{where}: a default for a VARIANT parameter is not supported; "
                       f"declare its type (BSTR, long, VARIANT_BOOL) or drop defaultvalue")
    if ptype == "String":
        try:
            value = parse_string(text)
        except IdlError as error:
            raise IdlError(f"{where}: defaultvalue({text}): {error}") from None
        if value is None:
            raise IdlError(f"{where}: defaultvalue({text}) is not a string for a BSTR parameter")
        return value
    if ptype == "Long":
        value = parse_integer(text)
        if value is None:
            raise IdlError(f"{where}: defaultvalue({text}) is not an integer for a long parameter")
        if not -2**31 <= value < 2**31:
            raise IdlError(f"{where}: defaultvalue({text}) is out of the range of a long")
        return value
    value = {"VARIANT_TRUE": -1, "VARIANT_FALSE": 0}.get(text, parse_integer(text))
    if value not in (0, -1):
        raise IdlError(f"{where}: defaultvalue({text}) is not a VARIANT_BOOL "
                       f"(0, -1, VARIANT_FALSE or VARIANT_TRUE)")
    return value


def parse_param(text, member):
    attrs, rest = leading_attrs(text)
    m = re.fullmatch(r"(\w+)\s*(\**)\s*(\w+)", rest)
    if not m:
        raise IdlError(f"{member}: cannot parse parameter '{text}'")
    ctype, stars, name = m.groups()
    where = f"{member}, parameter {name}"
    default_text = attr_value(attrs, "defaultvalue")
    for a in attrs:
        if a not in PARAM_ATTRS and not a.startswith("defaultvalue"):
            raise IdlError(f"{where}: attribute '{a}' is not supported")
    if has_flag(attrs, "retval"):
        if ctype not in RESULT_TYPES:
            raise IdlError(f"{where}: result type {ctype} is not supported")
        return {"retval": True, "name": name, "type": TYPES.get(ctype, "Object")}
    if has_flag(attrs, "out") or stars:
        raise IdlError(f"{where}: only [in] parameters by value and an [out, retval] result are supported")
    if ctype not in TYPES:
        raise IdlError(f"{where}: type {ctype} is not supported")
    ptype = TYPES[ctype]
    param = {"retval": False, "name": name, "type": ptype,
             "optional": has_flag(attrs, "optional") or default_text is not None,
             "has_default": default_text is not None, "text": "", "number": 0}
    if default_text is not None:
        value = parse_default(default_text, ptype, where)
        param["text" if ptype == "String" else "number"] = value
    return param


def parse_member(text, iface):
    attrs, rest = leading_attrs(text)
    m = re.fullmatch(r"HRESULT\s+(\w+)\s*\((.*)\)", rest, re.S)
    if not m:
        raise IdlError(f"{iface}: cannot parse member '{' '.join(text.split())}'")
    name, plist = m.group(1), m.group(2)
    where = f"{iface}.{name}"
    id_text = attr_value(attrs, "id")
    if id_text is None:
        raise IdlError(f"{where} has no id(...)")
    dispid = DISPID_NEWENUM if id_text == "DISPID_NEWENUM" else parse_integer(id_text)
    if dispid is None or not -2**31 <= dispid < 2**32:
        raise IdlError(f"{where}: id({id_text}) is not a DISPID")
    if dispid >= 2**31:
        dispid -= 2**32
    kind = "method"
    for flag in ("propget", "propput", "propputref"):
        if has_flag(attrs, flag):
            kind = flag
    if kind == "propputref":
        raise IdlError(f"{where}: propputref is not supported")
    if any(a.startswith("vararg") for a in attrs):
        raise IdlError(f"{where}: vararg is not supported")
    params, result = [], None
    for p in split_top(" ".join(plist.split())):
        if p == "void":
            continue
        param = parse_param(p, where)
        if param["retval"]:
            result = param["type"]
        else:
            if result is not None:
                raise IdlError(f"{where}: the [out, retval] parameter must come last")
            params.append(param)
    seen_optional = None
    for p in params:
        if p["optional"]:
            seen_optional = p["name"]
        elif seen_optional:
            raise IdlError(f"{where}: required parameter {p['name']} follows optional {seen_optional}")
    return {"name": name, "dispid": dispid, "kind": kind, "params": params, "result": result}


def parse(idl):
    idl = strip_comments(idl)
    interfaces = []
    for m in re.finditer(r"\[([^\]]*)\]\s*interface\s+(\w+)\s*:\s*(\w+)\s*\{", idl):
        attrs, name, base = split_top(m.group(1)), m.group(2), m.group(3)
        start = m.end()
        parts = split_top(idl[start:], "}")
        if len(parts) < 2:
            raise IdlError(f"interface {name} is not closed")
        members = [parse_member(s, name) for s in split_top(parts[0], ";")]
        interfaces.append({"name": name, "base": base, "attrs": attrs, "members": members})
    lib = re.search(r"\[([^\]]*)\]\s*library\s+(\w+)", idl)
    cls = re.search(r"\[([^\]]*)\]\s*coclass\s+(\w+)", idl)
    return {"interfaces": interfaces,
            "lib": (split_top(lib.group(1)), lib.group(2)) if lib else None,
            "coclass": (split_top(cls.group(1)), cls.group(2)) if cls else None}


def guid_init(g):
    h = g.replace("-", "")
    d4 = ", ".join("0x" + h[16 + 2 * i:18 + 2 * i] for i in range(8))
    return f"{{0x{h[0:8]}, 0x{h[8:12]}, 0x{h[12:16]}, {{{d4}}}}}"


def cstr(text):
    """A char16_t literal; the source files are UTF-8."""
    return 'u"' + text.replace("\\", "\\\\").replace('"', '\\"') + '"'


def param_init(p):
    return (f"{{{cstr(p['name'])}, ParamType::{p['type']}, {str(p['optional']).lower()}, "
            f"{str(p['has_default']).lower()}, {cstr(p['text'])}, {p['number']}}}")


def qualified_param_init(p):
    return param_init(p).replace("ParamType::", "automation::ParamType::")


def check_unique_ids(iface):
    owner = {}
    for m in iface["members"]:
        if m["dispid"] in owner and owner[m["dispid"]] != m["name"]:
            raise IdlError(f"{iface['name']}: id {m['dispid']:#x} is used by both "
                           f"{owner[m['dispid']]} and {m['name']}")
        owner[m["dispid"]] = m["name"]


def component_files(api, idl_name, out_h, namespace):
    if api["lib"] is None or api["coclass"] is None:
        raise IdlError("the component's IDL needs a library and a coclass")
    lib_attrs, libname = api["lib"]
    cls_attrs, cname = api["coclass"]
    duals = [i for i in api["interfaces"] if i["base"] == "IDispatch"]
    if len(duals) != 1:
        raise IdlError("the component's IDL needs exactly one interface derived from IDispatch")
    iface = duals[0]
    check_unique_ids(iface)
    ms = iface["members"]
    iname = iface["name"]
    for m in ms:
        where = f"{iname}.{m['name']}"
        if m["kind"] != "method":
            raise IdlError(f"{where}: properties are not supported in a dual interface here")
        if m["result"] not in CTYPES:
            raise IdlError(f"{where}: the result must be BSTR, long or VARIANT_BOOL")
        for p in m["params"]:
            if p["type"] not in CTYPES:
                raise IdlError(f"{where}, parameter {p['name']}: VARIANT is not supported here")
    lib, iid = guid_of(lib_attrs, "the library"), guid_of(iface["attrs"], iname)
    clsid = guid_of(cls_attrs, cname)
    banner = f"// Generated from {idl_name} by gen_interface.py. Do not edit."

    h = [banner, "#pragma once", '#include "platform/com.h"', '#include "automation/dispatch_table.h"', "",
         f"namespace {namespace} {{",
         "using automation::InterfaceTable;", "using automation::MethodInfo;", "using automation::MethodThunk;",
         "using automation::ParamInfo;", "using automation::ParamType;", "",
         f"inline constexpr char16_t kLibraryName[] = u\"{libname}\";",
         f"inline constexpr char16_t kClassName[] = u\"{cname}\";",
         f"inline constexpr char16_t kInterfaceName[] = u\"{iname}\";",
         f"inline constexpr char16_t kProgId[] = u\"{libname}.{cname}\";",
         f"inline constexpr char kLibraryGuid[] = \"{{{lib.upper()}}}\";",
         f"inline constexpr char kClassGuid[] = \"{{{clsid.upper()}}}\";",
         f"inline constexpr char kInterfaceGuid[] = \"{{{iid.upper()}}}\";",
         f"inline constexpr GUID kLibId = {guid_init(lib)};",
         f"inline constexpr GUID kClsid = {guid_init(clsid)};",
         f"inline constexpr GUID kIid = {guid_init(iid)};", "",
         f"struct {iname} : public IDispatch {{"]
    for m in ms:
        args = [f"{CTYPES[p['type']]} {p['name']}" for p in m["params"]]
        args.append(f"{CTYPES[m['result']]}* Result")
        h.append(f"    virtual HRESULT STDMETHODCALLTYPE {m['name']}({', '.join(args)}) = 0;")
    h += ["};", "",
          f"inline constexpr int kMethodCount = {len(ms)};",
          "extern const MethodInfo kMethods[kMethodCount];",
          "// The methods of the interface, as the dispatcher serves them.",
          "extern const InterfaceTable kDispatchTable;",
          f"}}  // namespace {namespace}", ""]

    c = [banner, f'#include "{os.path.basename(out_h)}"', "", f"namespace {namespace} {{", "namespace {"]
    for m in ms:
        c.append(f"constexpr ParamInfo k{m['name']}Params[] = {{")
        c += [f"    {param_init(p)}," for p in m["params"]]
        c += ["};", ""]
        call_args = [f"args[{i}].{VFIELD[p['type']]}" for i, p in enumerate(m["params"])]
        rt = m["result"]
        c += [f"HRESULT Call{m['name']}(IDispatch* object, VARIANT* args, VARIANT* result) {{",
              f"    {CTYPES[rt]} value{{}};",
              f"    HRESULT hr = static_cast<{iname}*>(object)->{m['name']}({', '.join(call_args + ['&value'])});",
              "    if (SUCCEEDED(hr) && result != nullptr) {",
              f"        result->vt = {VTYPE[rt]};",
              f"        result->{VFIELD[rt]} = value;"]
        if rt == "String":
            c += ["    } else {", "        SysFreeString(value);"]
        c += ["    }", "    return hr;", "}", ""]
    c += ["}  // namespace", "", "const MethodInfo kMethods[kMethodCount] = {"]
    for m in ms:
        c.append(f"    {{u\"{m['name']}\", static_cast<DISPID>(0x{m['dispid'] & 0xFFFFFFFF:08X}), "
                 f"ParamType::{m['result']}, k{m['name']}Params, {len(m['params'])}, &Call{m['name']}}},")
    c += ["};", "", "const InterfaceTable kDispatchTable = {kProgId, kMethods, kMethodCount};",
          f"}}  // namespace {namespace}", ""]
    return h, c


def cxx_member(name, kind, writable):
    base = name.lstrip("_")
    if kind == "propget" and writable:
        return "Get" + base
    if kind == "propput":
        return "Put" + base
    return base


def members_file(api, idl_name, namespace):
    if not api["interfaces"]:
        raise IdlError("the IDL declares no interface")
    h = [f"// Generated from {idl_name} by gen_interface.py. Do not edit.", "#pragma once", "",
         "#include <span>", "", '#include "automation/automation.h"', "", f"namespace {namespace} {{", ""]
    for iface in api["interfaces"]:
        iname = iface["name"]
        check_unique_ids(iface)
        entries = {}  # name -> entry, in first-declared order
        for m in iface["members"]:
            where = f"{iname}.{m['name']}"
            if m["dispid"] >= FIRST_DYNAMIC_ID or (m["dispid"] <= 0 and m["dispid"] != DISPID_NEWENUM):
                raise IdlError(f"{where}: id {m['dispid']:#x} is outside 1..{FIRST_DYNAMIC_ID - 1:#x}, "
                               f"the ids left to members")
            if (m["dispid"] == DISPID_NEWENUM) != (m["name"] == "_NewEnum"):
                raise IdlError(f"{where}: _NewEnum and only it has id(DISPID_NEWENUM)")
            e = entries.setdefault(m["name"], {"name": m["name"], "dispid": m["dispid"], "get": None,
                                               "put": None, "method": None})
            if e["dispid"] != m["dispid"]:
                raise IdlError(f"{where}: the property's get and put have different ids")
            slot = {"method": "method", "propget": "get", "propput": "put"}[m["kind"]]
            if e[slot] is not None or (slot == "method" and (e["get"] or e["put"])) or \
                    (slot != "method" and e["method"]):
                raise IdlError(f"{where} is declared twice")
            if m["kind"] == "propget" and m["params"]:
                raise IdlError(f"{where}: properties with parameters are not supported")
            if m["kind"] == "propput" and (len(m["params"]) != 1 or m["params"][0]["optional"]):
                raise IdlError(f"{where}: a propput takes exactly one required [in] value")
            e[slot] = m
        lines = []
        for e in entries.values():
            name = e["name"]
            if e["method"]:
                call, params = f"&T::{cxx_member(name, 'method', False)}", e["method"]["params"]
            elif e["get"]:
                call, params = f"&T::{cxx_member(name, 'propget', e['put'] is not None)}", []
            else:
                call, params = "nullptr", []
            put = f"&T::{cxx_member(name, 'propput', True)}" if e["put"] else "nullptr"
            table = "{}"
            if params:
                table = f"k{iname}_{name.lstrip('_')}"
                h.append(f"inline constexpr automation::ParamInfo {table}[] = {{")
                h += [f"    {qualified_param_init(p)}," for p in params]
                h.append("};")
            written = ""
            if e["put"]:
                # The written value converts to the property's type.
                value = f"k{iname}_{name.lstrip('_')}_Value"
                h.append(f"inline constexpr automation::ParamInfo {value} = {qualified_param_init(e['put']['params'][0])};")
                written = f", &{value}"
            lines.append(f"            {{{cstr(name)}, {e['dispid']}, {call}, {put}, {table}{written}}},")
        h += [f"struct {iname} {{",
              "    template <typename T>",
              "    static std::span<const automation::Member<T>> Members() {",
              "        static const automation::Member<T> kMembers[] = {"]
        h += lines
        h += ["        };", "        return kMembers;", "    }", "};", ""]
    h += [f"}}  // namespace {namespace}", ""]
    return h


def write_if_changed(path, lines):
    text = "\n".join(lines)
    try:
        with open(path, encoding="utf-8") as f:
            if f.read() == text:
                return
    except FileNotFoundError:
        pass
    with open(path, "w", encoding="utf-8") as f:
        f.write(text)


def main(argv):
    args = list(argv)
    namespace, members = "quorvel", False
    if args[:1] == ["--members"] and len(args) == 4:
        members, namespace, args = True, args[1], args[2:]
    elif args[:1] == ["--namespace"] and len(args) == 5:
        namespace, args = args[1], args[2:]
    if len(args) != (2 if members else 3):
        sys.stderr.write(__doc__)
        return 2
    idl_path = args[0]
    idl_name = os.path.basename(idl_path)
    try:
        with open(idl_path, encoding="utf-8") as f:
            api = parse(f.read())
        if members:
            write_if_changed(args[1], members_file(api, idl_name, namespace))
        else:
            h, c = component_files(api, idl_name, args[1], namespace)
            write_if_changed(args[1], h)
            write_if_changed(args[2], c)
    except IdlError as error:
        sys.stderr.write(f"{idl_path}: error: {error}\n")
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
