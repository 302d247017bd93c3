#!/usr/bin/env python3
"""The interface generator on small IDL files: the defaults it carries into
the tables, and the build failures for what the dispatchers cannot serve.
Usage: gen_interface_test.py GEN_INTERFACE_PY"""
import os
import subprocess
import sys
import tempfile
import unittest

GENERATOR = None

DUAL = """
[uuid(3f0c1a52-6b7e-4d0e-9a43-0c5e2f7d8b11)] library L {
  [uuid(9d4e6b20-1c3a-4f57-8e2b-5a7c0d9e4f36), dual] interface _I : IDispatch {
    [id(1)] HRESULT M(%s, [out, retval] long* Result);
  };
  [uuid(c81f2e47-0a9d-4b63-b5e1-7d2f4a6c9e08)] coclass C { [default] interface _I; };
};
"""

MEMBERS = """
[uuid(3f0c1a52-6b7e-4d0e-9a43-0c5e2f7d8b11)] library L {
  [uuid(9d4e6b20-1c3a-4f57-8e2b-5a7c0d9e4f36)] interface IThing : IDispatch {
    %s
  };
};
"""


def run(idl, members=False):
    """(exit code, stderr, generated text)."""
    with tempfile.TemporaryDirectory() as tmp:
        src = os.path.join(tmp, "t.idl")
        with open(src, "w", encoding="utf-8") as f:
            f.write(idl)
        outs = [os.path.join(tmp, "t.h")] if members else [os.path.join(tmp, "t.h"), os.path.join(tmp, "t.cc")]
        args = ["--members", "ns"] if members else []
        proc = subprocess.run([sys.executable, GENERATOR, *args, src, *outs], capture_output=True, text=True)
        text = ""
        for out in outs:
            if os.path.exists(out):
                with open(out, encoding="utf-8") as f:
                    text += f.read()
        return proc.returncode, proc.stderr, text


class Defaults(unittest.TestCase):
    def test_each_kind_reaches_the_table(self):
        rc, err, text = run(DUAL % ", ".join([
            '[in, optional, defaultvalue("a\\"b\\\\c")] BSTR S',
            "[in, optional, defaultvalue(-0x10)] long N",
            "[in, defaultvalue(VARIANT_TRUE)] VARIANT_BOOL B",
            "[in, optional] BSTR O"]))
        self.assertEqual(rc, 0, err)
        self.assertIn('{u"S", ParamType::String, true, true, u"a\\"b\\\\c", 0}', text)
        self.assertIn('{u"N", ParamType::Long, true, true, u"", -16}', text)
        self.assertIn('{u"B", ParamType::Boolean, true, true, u"", -1}', text)
        self.assertIn('{u"O", ParamType::String, true, false, u"", 0}', text)

    def test_comment_markers_inside_a_default(self):
        rc, err, text = run(DUAL % '[in, optional, defaultvalue("http://x/*y*/")] BSTR U')
        self.assertEqual(rc, 0, err)
        self.assertIn('u"http://x/*y*/"', text)

    def test_stand_in_members_by_convention(self):
        rc, err, text = run(MEMBERS % """
            [id(1), propget] HRESULT Name([out, retval] BSTR* Value);
            [id(1), propput] HRESULT Name([in] BSTR Value);
            [id(2), propget] HRESULT Class([out, retval] BSTR* Value);
            [id(3)] HRESULT Add([in] long A, [in, optional, defaultvalue(1)] long B, [out, retval] long* Sum);
            [id(DISPID_NEWENUM), propget, restricted] HRESULT _NewEnum([out, retval] IUnknown** Items);
        """, members=True)
        self.assertEqual(rc, 0, err)
        # A write's value converts to the type its propput declares.
        self.assertIn('{u"Name", 1, &T::GetName, &T::PutName, {}, &kIThing_Name_Value}', text)
        self.assertIn('kIThing_Name_Value = {u"Value", automation::ParamType::String, false, false, u"", 0};', text)
        self.assertIn('{u"Class", 2, &T::Class, nullptr, {}}', text)
        self.assertIn('{u"Add", 3, &T::Add, nullptr, kIThing_Add}', text)
        self.assertIn('{u"B", automation::ParamType::Long, true, true, u"", 1}', text)
        self.assertIn('{u"_NewEnum", -4, &T::NewEnum, nullptr, {}}', text)


class Rejected(unittest.TestCase):
    def assertRejected(self, idl, message, members=False):
        rc, err, _ = run(idl, members)
        self.assertNotEqual(rc, 0, "accepted")
        self.assertNotIn("Traceback", err)
        self.assertIn(message, err)

    def test_defaults_the_dispatcher_cannot_give(self):
        cases = {
            '[in, optional, defaultvalue("1")] long N': "is not an integer for a long parameter",
            "[in, optional, defaultvalue(2147483648)] long N": "out of the range of a long",
            "[in, optional, defaultvalue(-2147483649)] long N": "out of the range of a long",
            "[in, optional, defaultvalue(1)] VARIANT_BOOL B": "is not a VARIANT_BOOL",
            "[in, optional, defaultvalue(TRUE)] VARIANT_BOOL B": "is not a VARIANT_BOOL",
            "[in, optional, defaultvalue(0)] BSTR S": "is not a string for a BSTR parameter",
            '[in, optional, defaultvalue("a\\n")] BSTR S': "escape",
            '[in, optional, defaultvalue("a" "b")] BSTR S': "not one string literal",
            "[in, optional, defaultvalue(SOME_CONSTANT)] long N": "is not an integer",
            "[in, optional, defaultvalue(1 + 1)] long N": "is not an integer",
        }
        for param, message in cases.items():
            with self.subTest(param=param):
                self.assertRejected(DUAL % param, "M, parameter")
                self.assertRejected(DUAL % param, message)

    def test_shapes_the_dispatcher_cannot_serve(self):
        self.assertRejected(DUAL % "[in, optional] BSTR A, [in] BSTR B", "required parameter B follows optional A")
        self.assertRejected(DUAL % "[in] VARIANT V", "VARIANT is not supported here")
        self.assertRejected(DUAL % "[in, lcid] long L", "attribute 'lcid' is not supported")
        self.assertRejected(MEMBERS % '[id(1)] HRESULT M([in, optional, defaultvalue("x")] VARIANT V);',
                            "a default for a VARIANT parameter is not supported", members=True)
        self.assertRejected(MEMBERS % "[id(1)] HRESULT A(); [id(1)] HRESULT B();", "id 0x1 is used by both A and B",
                            members=True)
        self.assertRejected(MEMBERS % "[id(0x10000)] HRESULT A();", "outside", members=True)
        self.assertRejected(MEMBERS % "HRESULT A();", "has no id", members=True)
        self.assertRejected(MEMBERS % "[id(2)] HRESULT _NewEnum([out, retval] IUnknown** E);", "DISPID_NEWENUM",
                            members=True)


if __name__ == "__main__":
    GENERATOR = sys.argv.pop(1)
    unittest.main()
