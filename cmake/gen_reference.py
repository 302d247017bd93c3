#!/usr/bin/env python3
"""Makes every reader's copy of the reference from its one source,
docs/methods.md (the methods) and docs/host.md (the host's commands).

  gen_reference.py METHODS HOST --cc OUT_H OUT_CC
      The texts `quorvel help` and `quorvel VERB --help` print, built into
      the host: each method's entry as plain text, its summary and its
      result codes; each section of the host's reference.
  gen_reference.py METHODS HOST --text OUT [--windows]
      The whole method reference as plain text (--windows: UTF-8 with a
      byte-order mark and CR LF line ends, for Notepad).
  gen_reference.py METHODS HOST --man OUT VERSION
      The man page quorvel(1): the host's reference, then the methods.
  gen_reference.py METHODS HOST --idl IDL OUT
      IDL with each method's summary as its helpstring, for the type library.

A file that breaks the layout rules in its header comment stops the build
with a message naming the line.
"""
import re
import sys
import textwrap
import unicodedata

WIDTH = 78
SECTIONS = ["Parameters", "Actions", "Result codes", "Notes", "Examples"]


class ReferenceError(Exception):
    pass


# ---- Reading ----------------------------------------------------------------

def strip_comments(text):
    return re.sub(r"<!--.*?-->", "", text, flags=re.S)


def split_sections(text, level):
    """[(title, lines)] for each `#`*level heading; the part before the first as title None."""
    mark = "#" * level + " "
    parts = [(None, [])]
    for line in text.split("\n"):
        if line.startswith(mark):
            parts.append((line[len(mark):].strip(), []))
        else:
            parts[-1][1].append(line)
    return parts


def blocks(lines):
    """Paragraphs, bullets, code blocks (indented or fenced) and tables, in order."""
    out = []
    i = 0
    while i < len(lines):
        line = lines[i]
        if not line.strip():
            i += 1
        elif line.startswith("```"):
            j = i + 1
            while j < len(lines) and not lines[j].startswith("```"):
                j += 1
            out.append(("code", lines[i + 1:j]))
            i = j + 1
        elif line.startswith("    "):
            j = i
            while j < len(lines) and (lines[j].startswith("    ") or not lines[j].strip()):
                j += 1
            code = lines[i:j]
            while code and not code[-1].strip():
                code.pop()
            out.append(("code", [c[4:] for c in code]))
            i = j
        elif line.startswith("|"):
            j = i
            while j < len(lines) and lines[j].startswith("|"):
                j += 1
            rows = [cells(r) for r in lines[i:j]]
            if len(rows) < 2 or not all(re.fullmatch(r":?-+:?", c) for c in rows[1]):
                raise ReferenceError(f"a table without its header line: {lines[i]}")
            out.append(("table", rows[0], rows[2:]))
            i = j
        elif line.startswith("### "):
            out.append(("heading", line[4:].strip()))
            i += 1
        elif line.startswith("- "):
            j = i + 1
            while j < len(lines) and lines[j].startswith("  ") and lines[j].strip():
                j += 1
            out.append(("bullet", " ".join(l.strip() for l in lines[i:j])[2:]))
            i = j
        else:
            j = i + 1
            while (j < len(lines) and lines[j].strip() and not lines[j].startswith(("- ", "|", "```", "    "))):
                j += 1
            out.append(("para", " ".join(l.strip() for l in lines[i:j])))
            i = j
    return out


def cells(row):
    row = row.strip()
    if row.startswith("|"):
        row = row[1:]
    if row.endswith("|") and not row.endswith("\\|"):
        row = row[:-1]
    parts = re.split(r"(?<!\\)\|", row)
    return [p.strip().replace("\\|", "|") for p in parts]


class Method:
    def __init__(self, name, lines):
        self.name = name
        body = list(lines)
        while body and not body[0].strip():
            body.pop(0)
        if not body or not body[0].startswith("Summary: "):
            raise ReferenceError(f"## {name}: the entry must start with 'Summary: '")
        self.summary = body[0][len("Summary: "):].strip()
        if not self.summary.isascii() or len(self.summary) > 100 or '"' in self.summary or "\\" in self.summary:
            raise ReferenceError(f"## {name}: the summary must be plain ASCII of at most 100 characters, "
                                 "without double quotes or backslashes")
        rest = body[1:]
        while rest and not rest[0].strip():
            rest.pop(0)
        if not rest or not rest[0].startswith("    "):
            raise ReferenceError(f"## {name}: the VBScript syntax, indented by four spaces, follows the summary")
        self.syntax = rest[0].strip()
        self.blocks = blocks(rest[1:])
        titles = [b[1] for b in self.blocks if b[0] == "heading"]
        if titles != SECTIONS:
            raise ReferenceError(f"## {name}: sections {titles}, expected {SECTIONS}")
        self.tables = {}
        section = None
        for b in self.blocks:
            if b[0] == "heading":
                section = b[1]
            elif b[0] == "table":
                if section in self.tables:
                    raise ReferenceError(f"## {name}: two tables under ### {section}")
                self.tables[section] = b
        for section, header in (("Parameters", ["Name", "Type", "Optional", "Default", "Meaning"]),
                                ("Actions", ["Word", "What it does"]),
                                ("Result codes", ["Code", "Meaning", "Log text"])):
            table = self.tables.get(section)
            if table is None or table[1] != header:
                raise ReferenceError(f"## {name}: ### {section} needs one table with the columns {header}")
            for row in table[2]:
                if len(row) != len(header):
                    raise ReferenceError(f"## {name}: a row of {section} has {len(row)} cells: {row}")
        for row in self.tables["Result codes"][2]:
            if not re.fullmatch(r"-?\d+", row[0]):
                raise ReferenceError(f"## {name}: result code {row[0]!r} is not a decimal number")

    def results(self):
        return self.tables["Result codes"][2]


def read_text(path):
    with open(path, encoding="utf-8") as f:
        return f.read()


def read_methods(path):
    text = strip_comments(read_text(path))
    parts = split_sections(text, 2)
    head = parts[0][1]
    if not head or head[0] != "# Quorvel methods reference":
        raise ReferenceError(f"{path}: must start with '# Quorvel methods reference'")
    intro = blocks(head[1:])
    methods = [Method(title, lines) for title, lines in parts[1:]]
    if len(methods) != 11:
        raise ReferenceError(f"{path}: {len(methods)} method entries, expected 11")
    return intro, methods


def read_host(path):
    text = strip_comments(read_text(path))
    parts = split_sections(text, 2)
    if not parts[0][1] or parts[0][1][0] != "# quorvel":
        raise ReferenceError(f"{path}: must start with '# quorvel'")
    return [(title, blocks(lines)) for title, lines in parts[1:]]


# ---- Plain text -------------------------------------------------------------

def plain(text):
    """Inline markup dropped: bold, and backticks (code of punctuation alone is quoted, to stay visible)."""
    def code(match):
        inner = match.group(1)
        return inner if any(c.isalnum() for c in inner) else f'"{inner}"'
    return re.sub(r"`([^`]*)`", code, text.replace("**", ""))


def width_of(text):
    return sum(2 if unicodedata.east_asian_width(c) in "WF" else 1 for c in text)


def wrap(text, indent="", hanging=None, width=WIDTH):
    """Wrapped at blanks, counting double-width characters as two columns."""
    hanging = indent if hanging is None else hanging
    words = plain(text).split()
    lines, line, bare = [], indent, True
    for word in words:
        if not bare and width_of(line) + 1 + width_of(word) > width:
            lines.append(line)
            line = hanging + word
        else:
            line = line + ("" if bare else " ") + word
        bare = False
    if not bare:
        lines.append(line)
    return lines


def render_table(header, rows, indent):
    out = []
    if header == ["Name", "Type", "Optional", "Default", "Meaning"]:
        for name, type_, optional, default, meaning in rows:
            kind = f"{type_}, optional, default {default}" if optional == "yes" else f"{type_}, required"
            out.append(f"{indent}{name} ({kind})")
            out += wrap(meaning, indent + "    ")
    elif header == ["Code", "Meaning", "Log text"]:
        for code, meaning, log in rows:
            out += wrap(meaning, f"{indent}{code:<4} ", indent + "     ")
            if log != "(none)":
                out.append(f"{indent}     Log: {plain(log)}")
    else:
        for row in rows:
            out.append(indent + plain(row[0]))
            out += wrap(" ".join(row[1:]), indent + "    ")
    return out


def render_blocks(items, indent=""):
    out = []
    previous = None
    for item in items:
        kind = item[0]
        if out and not (kind == "bullet" and previous == "bullet"):
            out.append("")
        previous = kind
        if kind == "heading":
            out.append(item[1])
        elif kind == "para":
            out += wrap(item[1], indent)
        elif kind == "bullet":
            out += wrap(item[1], indent + "- ", indent + "  ")
        elif kind == "code":
            out += [indent + "    " + l if l else "" for l in item[1]]
        elif kind == "table":
            out += render_table(item[1], item[2], indent + "  ")
    return out


def method_text(m):
    lines = [f"{m.name}: {m.summary}", "", "    " + m.syntax, ""]
    lines += render_blocks(m.blocks)
    return "\n".join(lines) + "\n"


def methods_list(methods):
    longest = max(len(m.name) for m in methods)
    return "".join(f"  {m.name:<{longest}}  {m.summary}\n" for m in methods)


def whole_text(intro, methods):
    title = "Quorvel methods reference"
    out = [title, "=" * len(title), ""]
    out += render_blocks(intro)
    out += ["", "", "Methods", "-------", ""]
    out += methods_list(methods).rstrip("\n").split("\n")
    for m in methods:
        out += ["", "", m.name, "-" * len(m.name), ""]
        out += method_text(m).rstrip("\n").split("\n")[2:]
    return "\n".join(out) + "\n"


def host_text(sections, name):
    for title, items in sections:
        if title == name:
            return "\n".join(render_blocks(items)) + "\n"
    raise ReferenceError(f"the host's reference has no section {name}")


# ---- C++ ---------------------------------------------------------------------

def c_string(text):
    data = text.encode("utf-8")
    out, piece = [], ""
    for byte in data:
        c = chr(byte)
        if c == "\\":
            piece += "\\\\"
        elif c == '"':
            piece += '\\"'
        elif c == "\n":
            piece += "\\n"
            out.append(piece)
            piece = ""
        elif 32 <= byte < 127:
            piece += c
        else:
            piece += f"\\{byte:03o}"
    if piece or not out:
        out.append(piece)
    return "\n    ".join(f'"{p}"' for p in out)


def write_cc(intro, methods, host, out_h, out_cc):
    header = """// Generated by cmake/gen_reference.py from docs/methods.md and docs/host.md: do not edit.
// The method reference and the host's usage as `quorvel help` and `--help` print them.
#pragma once

#include <span>
#include <string_view>

namespace quorvel::reference {

struct ResultRow {
    int code;
    std::string_view meaning;  // plain text
    std::string_view log;      // the log line's text after the label, or "(none)"
};

struct MethodEntry {
    std::string_view name;
    std::string_view summary;  // the type library's helpstring too
    std::string_view text;     // the whole entry as plain text
    std::span<const ResultRow> results;
};

struct HostSection {
    std::string_view name;  // "quorvel", a command, "Environment", "Exit status", "Files"
    std::string_view text;
};

std::span<const MethodEntry> Methods();
std::span<const HostSection> HostSections();
// The list of methods, one line each.
std::string_view MethodList();
// The whole method reference as plain text.
std::string_view WholeText();

}  // namespace quorvel::reference
"""
    cc = ["// Generated by cmake/gen_reference.py from docs/methods.md and docs/host.md: do not edit.",
          '#include "quorvel_reference.h"', "", "namespace quorvel::reference {", "namespace {", ""]
    for i, m in enumerate(methods):
        cc.append(f"constexpr ResultRow kResults{i}[] = {{")
        for code, meaning, log in m.results():
            cc.append(f"    {{{int(code)}, {c_string(plain(meaning))},\n     {c_string(plain(log))}}},")
        cc.append("};")
    cc.append("constexpr MethodEntry kMethods[] = {")
    for i, m in enumerate(methods):
        cc.append(f"    {{{c_string(m.name)}, {c_string(m.summary)},\n    {c_string(method_text(m))},\n    kResults{i}}},")
    cc.append("};")
    cc.append("constexpr HostSection kHost[] = {")
    for title, items in host:
        cc.append(f"    {{{c_string(title)},\n    {c_string(host_text(host, title))}}},")
    cc.append("};")
    cc.append(f"constexpr std::string_view kList = {c_string(methods_list(methods))};")
    cc.append(f"constexpr std::string_view kWhole = {c_string(whole_text(intro, methods))};")
    cc += ["", "}  // namespace", "",
           "std::span<const MethodEntry> Methods() { return kMethods; }",
           "std::span<const HostSection> HostSections() { return kHost; }",
           "std::string_view MethodList() { return kList; }",
           "std::string_view WholeText() { return kWhole; }", "",
           "}  // namespace quorvel::reference", ""]
    write(out_h, header)
    write(out_cc, "\n".join(cc))


# ---- Man page ------------------------------------------------------------------

def roff(text):
    text = plain(text).replace("\\", "\\e").replace("-", "\\-")
    return text


def roff_line(text):
    text = roff(text)
    return "\\&" + text if text.startswith((".", "'")) else text


def roff_blocks(items):
    out = []
    for item in items:
        kind = item[0]
        if kind == "heading":
            out += [".PP", f".B {roff_line(item[1])}"]
        elif kind == "para":
            out += [".PP", roff_line(item[1])]
        elif kind == "bullet":
            out += [".IP \\(bu 2", roff_line(item[1])]
        elif kind == "code":
            out += [".PP", ".RS 4", ".nf"] + [roff_line(l) if l else "" for l in item[1]] + [".fi", ".RE"]
        elif kind == "table":
            header, rows = item[1], item[2]
            for row in rows:
                if header[0] == "Name":
                    name, type_, optional, default, meaning = row
                    kind_ = f"{type_}, optional, default {default}" if optional == "yes" else f"{type_}, required"
                    out += [".TP", f"\\fB{roff(name)}\\fR ({roff(kind_)})", roff_line(meaning)]
                elif header[0] == "Code" and len(header) == 3:
                    out += [".TP", f"\\fB{roff(row[0])}\\fR", roff_line(row[1])]
                    if row[2] != "(none)":
                        out += [".br", "Log: " + roff(row[2])]
                else:
                    out += [".TP", f"\\fB{roff(row[0])}\\fR", roff_line(" ".join(row[1:]))]
    return out


def write_man(intro, methods, host, out, version):
    lines = [f'.TH QUORVEL 1 "" "quorvel {version}" "Quorvel"',
             ".SH NAME", "quorvel \\- register and call the Quorvel component, and run its stand\\-ins",
             ".SH SYNOPSIS", ".nf"]
    for title, items in host:
        if title == "Environment":
            break
        for item in items[:1]:
            if item[0] == "code":
                lines += [roff_line(l) for l in item[1]]
    lines += [".fi"]
    sections = dict(host)
    lines += [".SH DESCRIPTION"] + roff_blocks(sections["quorvel"][1:])
    lines += [".SH COMMANDS"]
    for title, items in host:
        if title in ("quorvel", "Environment", "Exit status", "Files"):
            continue
        lines += [f".SS {roff_line(title)}"] + roff_blocks(items[1:])
    for title, head in (("Environment", "ENVIRONMENT"), ("Exit status", "EXIT STATUS"), ("Files", "FILES")):
        lines += [f".SH {head}"] + roff_blocks(sections[title])
    lines += [".SH METHODS"] + roff_blocks(intro)
    for m in methods:
        lines += [f".SS {m.name}", roff_line(m.summary), ".PP", ".RS 4", ".nf", roff_line(m.syntax), ".fi", ".RE"]
        lines += roff_blocks(m.blocks)
    lines += [".SH SEE ALSO", "The same reference as text: \\fBquorvel help\\fR \\fIMETHOD\\fR, and",
              "methods.md and methods.txt in the documentation folder (share/doc/quorvel)."]
    write(out, "\n".join(lines) + "\n")


# ---- IDL ---------------------------------------------------------------------

def write_idl(methods, idl, out):
    text = read_text(idl)
    summaries = {m.name: m.summary for m in methods}
    found = set()

    def add(match):
        name = match.group(3)
        if name not in summaries:
            raise ReferenceError(f"{idl}: method {name} has no entry in the reference")
        found.add(name)
        return f'{match.group(1)}, helpstring("{summaries[name]}")]{match.group(2)}HRESULT {name}('

    text = re.sub(r"(\[id\(0x[0-9A-Fa-f]+\))\](\s*)HRESULT\s+(\w+)\(", add, text)
    missing = set(summaries) - found
    if missing:
        raise ReferenceError(f"{idl}: no method {sorted(missing)} of the reference")
    text = text.replace("        hidden,\n", '        helpstring("The methods of Quorvel.SiteManage"),\n        hidden,\n', 1)
    text = text.replace("        version(1.0)\n    ]\n    coclass",
                        '        version(1.0),\n        helpstring("Quorvel.SiteManage: web sites, FTP, mail, '
                        'accounts, permissions, backups")\n    ]\n    coclass', 1)
    write(out, "// Generated by cmake/gen_reference.py from component/quorvel.idl and docs/methods.md.\n" + text)


def write(path, text, newline="\n", bom=False):
    with open(path, "w", encoding="utf-8-sig" if bom else "utf-8", newline=newline) as f:
        f.write(text)


def main(argv):
    if len(argv) < 4:
        sys.exit(__doc__)
    methods_path, host_path, mode = argv[1:4]
    try:
        intro, methods = read_methods(methods_path)
        host = read_host(host_path)
        if mode == "--cc":
            write_cc(intro, methods, host, argv[4], argv[5])
        elif mode == "--text":
            windows = "--windows" in argv[5:]
            write(argv[4], whole_text(intro, methods), "\r\n" if windows else "\n", bom=windows)
        elif mode == "--man":
            write_man(intro, methods, host, argv[4], argv[5])
        elif mode == "--idl":
            write_idl(methods, argv[4], argv[5])
        else:
            sys.exit(__doc__)
    except ReferenceError as error:
        sys.exit(f"gen_reference.py: {error}")


if __name__ == "__main__":
    main(sys.argv)
