#!/usr/bin/env python3
"""The method reference (docs/methods.md) and the code cannot drift apart:
every method, parameter (type, optional, default) and action word of the
interface is in the reference and nothing else is; every documented result
code is one the method's source can give and every one it can give is
documented; every fixed log text in the reference is one the source writes,
and every text the source writes is in the reference.

Usage: reference_test.py SOURCE_ROOT"""
import importlib.util
import os
import re
import sys
import unittest

ROOT = None
SOURCES = {
    "PostWebSit": ["web/post_web_sit.cc"],
    "PostFtpSit": ["ftp/post_ftp_sit.cc"],
    "PostEmailDomain": ["mail/post_email_domain.cc"],
    "PostEmail": ["mail/post_email.cc"],
    "GetMailPass": ["mail/get_mail_pass.cc"],
    "PostNTUser": ["accounts/post_nt_user.cc"],
    "PostCACLS": ["permissions/post_cacls.cc"],
    "BackupSit": ["backup/backup_sit.cc"],
    "ExitWindows": ["host/exit_windows.cc"],
    "Supervise": ["host/supervise.cc"],
    "SendMail": ["sendmail/send_mail.cc"],
}
# Where the texts the methods share are defined.
SHARED_TEXTS = ["support/computer_name.h", "component/frame/frame.h"]
RESULT_CODES = {"kDone": 0, "kPreconditionFailed": 1, "kAlreadyExists": 2, "kDoesNotExist": 3, "kStepFailed": 4}
TYPES = {"String": "String", "Long": "Long", "Boolean": "Boolean"}


def load(name, path):
    spec = importlib.util.spec_from_file_location(name, path)
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module


def read(path):
    with open(os.path.join(ROOT, path), encoding="utf-8") as f:
        return f.read()


def source_of(method):
    return "\n".join(read(p) for p in SOURCES[method])


def constants(text):
    """Integer constants a source defines: kName = N (or an enum's kName = N)."""
    found = dict(RESULT_CODES)
    for name, value in re.findall(r"\b(k\w+)\s*=\s*(?:static_cast<[^>]*>\()?(-?(?:0x[0-9A-Fa-f]+|\d+))", text):
        found[name] = int(value, 0)
    return found


def value_of(token, known):
    token = token.strip()
    if re.fullmatch(r"-?\d+", token):
        return int(token)
    if token not in known:
        raise AssertionError(f"cannot tell the value of {token}")
    return known[token]


def log_texts(text):
    """The fixed "，错误源：..." texts a source defines."""
    return set(re.findall(r'u"(，错误源：[^"]*)"', text))


class Reference(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        generator = load("gen_reference", os.path.join(ROOT, "cmake/gen_reference.py"))
        interface = load("gen_interface", os.path.join(ROOT, "cmake/gen_interface.py"))
        cls.intro, methods = generator.read_methods(os.path.join(ROOT, "docs/methods.md"))
        cls.entries = {m.name: m for m in methods}
        cls.order = [m.name for m in methods]
        api = interface.parse(read("component/quorvel.idl"))
        iface = next(i for i in api["interfaces"] if i["name"] == "_SiteManage")
        cls.members = iface["members"]
        cls.runtime = read("automation/step_error.cc")
        cls.shared = "\n".join(read(p) for p in SHARED_TEXTS)

    def test_every_method_has_one_entry_in_interface_order(self):
        self.assertEqual(self.order, [m["name"] for m in self.members])

    def test_parameters_match_the_interface(self):
        for member in self.members:
            entry = self.entries[member["name"]]
            rows = entry.tables["Parameters"][2]
            with self.subTest(method=member["name"]):
                self.assertEqual([r[0] for r in rows], [p["name"] for p in member["params"]])
                for row, param in zip(rows, member["params"]):
                    name, type_, optional, default, _ = row
                    self.assertEqual(type_, TYPES[param["type"]], name)
                    self.assertEqual(optional, "yes" if param["optional"] else "no", name)
                    if not param["optional"]:
                        self.assertEqual(default, "-", name)
                    elif param["type"] == "String":
                        self.assertEqual(default, '"' + param["text"] + '"', name)
                    elif param["type"] == "Long":
                        self.assertEqual(default, str(param["number"]), name)
                    else:
                        self.assertEqual(default, "True" if param["number"] else "False", name)
                syntax_names = re.findall(r"\w+", entry.syntax.split("(", 1)[1])
                self.assertEqual(syntax_names, [p["name"] for p in member["params"]], entry.syntax)

    def test_action_words_match_the_source(self):
        for name, entry in self.entries.items():
            source = source_of(name)
            rows = entry.tables["Actions"][2]
            documented = {r[0].strip("`") for r in rows if r[0].startswith("`")}
            with self.subTest(method=name):
                if name == "SendMail":
                    handled = set(re.findall(r"case (\d+):", source))
                else:
                    handled = set(re.findall(r'(?:==|\{)\s*u"([A-Z]+)"', source))
                    handled -= {"HTTP", "NO", "DOMAINS", "SERVUDAEMON", "USERLIST"}
                    handled = {w for w in handled if not w.endswith(("INI", "DAT"))}
                # A documented word that does nothing is one the source need not name.
                idle = {r[0].strip("`") for r in rows if r[1].startswith("Nothing")}
                self.assertEqual(documented - idle, handled - idle, "documented and handled action words")
                self.assertTrue(handled <= documented, f"undocumented: {handled - documented}")
                other = [r for r in rows if r[0] in ("(other)", "(none)")]
                self.assertEqual(len(other), 1, "one (other) or (none) row")

    def test_result_codes_are_those_the_source_gives(self):
        for name, entry in self.entries.items():
            source = source_of(name)
            known = constants(source)
            documented = {int(r[0]) for r in entry.results()}
            with self.subTest(method=name):
                if name == "SendMail":
                    standins = constants(read("standins/mail.cc"))
                    errors = {v - 2**32 if v >= 2**31 else v for k, v in standins.items() if v >= 0x80000000}
                    # 0, 91 (no component), and every error the bundled components raise.
                    self.assertEqual(documented, errors | {0, 91})
                    continue
                given = {0, 4}
                for call in re.findall(r"frame\.Detected\(([^,]+),", source):
                    given.add(value_of(call, known))
                # The repair of what an interrupted call left logs its own number.
                if re.search(r"\bLogRepair\(frame,", source):
                    given.add(constants(read("component/frame/intent.h"))["kRepairedCode"])
                self.assertEqual(documented, given)

    def test_log_texts_are_the_source_texts(self):
        for name, entry in self.entries.items():
            source = source_of(name)
            defined = log_texts(source)
            whole = "\n".join(" ".join(r) for r in entry.results()) + "\n" + "\n".join(
                b[1] for b in entry.blocks if b[0] in ("para", "bullet"))
            with self.subTest(method=name):
                for code, _, log in entry.results():
                    if log == "(none)" or "<" in log:
                        continue
                    text = log.strip("`")
                    m = re.fullmatch(r"错误号：(-?\d+)(，错误源：(.*)，错误描述：(.*))", text)
                    self.assertIsNotNone(m, text)
                    tail, src, description = m.group(2), m.group(3), m.group(4)
                    if src == "Quorvel":
                        self.assertIn(description, self.runtime, f"{text}: not a run-time error text")
                    elif src == "ExitWindowsEx":
                        continue
                    else:
                        self.assertIn(tail, defined | log_texts(self.shared), text)
                for text in defined:
                    self.assertIn(text, whole, f"{name} writes {text}, which its entry does not quote")

    def test_destructive_calls_are_warned_of(self):
        for name in ("PostWebSit", "PostFtpSit", "PostEmailDomain", "PostEmail", "PostNTUser", "PostCACLS",
                     "BackupSit", "ExitWindows"):
            notes = [b[1] for b in self.entries[name].blocks if b[0] == "para" and b[1].startswith("WARNING:")]
            with self.subTest(method=name):
                self.assertTrue(notes, "no WARNING: line")


if __name__ == "__main__":
    ROOT = sys.argv.pop(1)
    unittest.main()
