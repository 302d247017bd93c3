// The Automation runtime of the POSIX build: BSTR layout and the coercions
// the dispatcher relies on.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>

#include "automation/com_holders.h"

namespace {

using quorvel::automation::Variant;

std::u16string TextOf(BSTR b) { return {b, SysStringLen(b)}; }

void SetText(VARIANT* v, std::u16string_view text) {
    VariantClear(v);
    v->vt = VT_BSTR;
    v->bstrVal = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
}

TEST(Bstr, HasWindowsLayout) {
    BSTR b = SysAllocStringLen(u"a\0b", 3);
    ASSERT_NE(b, nullptr);
    std::uint32_t prefix = 0;
    std::memcpy(&prefix, reinterpret_cast<const char*>(b) - 4, 4);
    EXPECT_EQ(prefix, 6u);  // byte length, before the text
    EXPECT_EQ(SysStringLen(b), 3u);
    EXPECT_EQ(SysStringByteLen(b), 6u);
    EXPECT_EQ(b[3], u'\0');  // terminated after the length
    EXPECT_EQ(TextOf(b), std::u16string(u"a\0b", 3));  // embedded NUL kept
    SysFreeString(b);

    EXPECT_EQ(SysStringLen(nullptr), 0u);  // a null BSTR is the empty string
    SysFreeString(nullptr);
    EXPECT_EQ(SysAllocString(nullptr), nullptr);
}

TEST(Bstr, ReallocFromItsOwnText) {
    BSTR b = SysAllocString(u"hello world");
    ASSERT_TRUE(SysReAllocString(&b, b + 6));
    EXPECT_EQ(TextOf(b), u"world");
    ASSERT_TRUE(SysReAllocStringLen(&b, b, 3));
    EXPECT_EQ(TextOf(b), u"wor");
    SysFreeString(b);
}

TEST(Variant, CopyDuplicatesTextAndFollowsReferences) {
    Variant src, dst;
    SetText(src.get(), u"abc");
    ASSERT_EQ(VariantCopy(dst.get(), src.get()), S_OK);
    EXPECT_NE(dst.get()->bstrVal, src.get()->bstrVal);
    EXPECT_EQ(TextOf(dst.get()->bstrVal), u"abc");

    LONG n = 42;
    VARIANT by_ref;
    VariantInit(&by_ref);
    by_ref.vt = VT_BYREF | VT_I4;
    by_ref.plVal = &n;
    ASSERT_EQ(VariantCopyInd(dst.get(), &by_ref), S_OK);  // the old BSTR is freed
    EXPECT_EQ(dst.get()->vt, VT_I4);
    EXPECT_EQ(dst.get()->lVal, 42);
    EXPECT_EQ(VariantClear(&by_ref), S_OK);  // a reference owns nothing
    EXPECT_EQ(n, 42);
}

// One coercion: a source, a target type, and what comes out.
struct Coercion {
    const char* what;
    VARTYPE from;
    std::u16string text;  // for VT_BSTR sources
    double number;        // for numeric and Boolean sources
    VARTYPE to;
    HRESULT hr;
    LONG as_long;
    std::u16string as_text;
};

// Test names show what the case is about, not the bytes of the parameter.
void PrintTo(const Coercion& c, std::ostream* out) { *out << c.what; }

class ChangeType : public testing::TestWithParam<Coercion> {};

TEST_P(ChangeType, FollowsAutomationRules) {
    const Coercion& c = GetParam();
    Variant src, dst;
    src.get()->vt = c.from;
    switch (c.from) {
        case VT_BSTR: SetText(src.get(), c.text); break;
        case VT_I2: src.get()->iVal = static_cast<SHORT>(c.number); break;
        case VT_I4: src.get()->lVal = static_cast<LONG>(c.number); break;
        case VT_R8: src.get()->dblVal = c.number; break;
        case VT_BOOL: src.get()->boolVal = c.number != 0 ? VARIANT_TRUE : VARIANT_FALSE; break;
        default: break;
    }
    const HRESULT hr = VariantChangeType(dst.get(), src.get(), 0, c.to);
    ASSERT_EQ(hr, c.hr) << c.what;
    if (FAILED(hr)) {
        EXPECT_EQ(dst.get()->vt, VT_EMPTY) << c.what;  // untouched on failure
        return;
    }
    ASSERT_EQ(dst.get()->vt, c.to) << c.what;
    if (c.to == VT_I4) {
        EXPECT_EQ(dst.get()->lVal, c.as_long) << c.what;
    }
    if (c.to == VT_I2) {
        EXPECT_EQ(dst.get()->iVal, c.as_long) << c.what;
    }
    if (c.to == VT_BOOL) {
        EXPECT_EQ(dst.get()->boolVal, c.as_long) << c.what;
    }
    if (c.to == VT_BSTR) {
        EXPECT_EQ(TextOf(dst.get()->bstrVal), c.as_text) << c.what;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Oleaut, ChangeType,
    testing::Values(
        Coercion{"decimal with blanks and sign", VT_BSTR, u"  -42 ", 0, VT_I4, S_OK, -42, u""},
        Coercion{"plus sign", VT_BSTR, u"+7", 0, VT_I4, S_OK, 7, u""},
        Coercion{"half rounds to even (down)", VT_BSTR, u"2.5", 0, VT_I4, S_OK, 2, u""},
        Coercion{"half rounds to even (up)", VT_BSTR, u"3.5", 0, VT_I4, S_OK, 4, u""},
        Coercion{"negative half", VT_BSTR, u"-2.5", 0, VT_I4, S_OK, -2, u""},
        Coercion{"largest Long", VT_BSTR, u"2147483647", 0, VT_I4, S_OK, 2147483647, u""},
        Coercion{"smallest Long", VT_BSTR, u"-2147483648", 0, VT_I4, S_OK, -2147483647 - 1, u""},
        Coercion{"one past the largest", VT_BSTR, u"2147483648", 0, VT_I4, DISP_E_OVERFLOW, 0, u""},
        Coercion{"rounds past the largest", VT_BSTR, u"2147483647.5", 0, VT_I4, DISP_E_OVERFLOW, 0, u""},
        Coercion{"huge exponent", VT_BSTR, u"1e400", 0, VT_I4, DISP_E_OVERFLOW, 0, u""},
        Coercion{"I2 range", VT_BSTR, u"40000", 0, VT_I2, DISP_E_OVERFLOW, 0, u""},
        Coercion{"garbage", VT_BSTR, u"12abc", 0, VT_I4, DISP_E_TYPEMISMATCH, 0, u""},
        Coercion{"empty text", VT_BSTR, u"", 0, VT_I4, DISP_E_TYPEMISMATCH, 0, u""},
        Coercion{"lone sign", VT_BSTR, u"-", 0, VT_I4, DISP_E_TYPEMISMATCH, 0, u""},
        Coercion{"true in any case", VT_BSTR, u"tRUe", 0, VT_BOOL, S_OK, VARIANT_TRUE, u""},
        Coercion{"no blanks around the words", VT_BSTR, u" false ", 0, VT_BOOL, DISP_E_TYPEMISMATCH, 0, u""},
        Coercion{"grouped digits", VT_BSTR, u"1,000", 0, VT_I4, S_OK, 1000, u""},
        Coercion{"exponent", VT_BSTR, u"1e3", 0, VT_I4, S_OK, 1000, u""},
        Coercion{"Double with exponent to text", VT_R8, u"", 1e20, VT_BSTR, S_OK, 0, u"1E+20"},
        Coercion{"false", VT_BSTR, u"FALSE", 0, VT_BOOL, S_OK, VARIANT_FALSE, u""},
        Coercion{"number as Boolean", VT_BSTR, u"5", 0, VT_BOOL, S_OK, VARIANT_TRUE, u""},
        Coercion{"zero as Boolean", VT_BSTR, u"0", 0, VT_BOOL, S_OK, VARIANT_FALSE, u""},
        Coercion{"yes is not a Boolean", VT_BSTR, u"yes", 0, VT_BOOL, DISP_E_TYPEMISMATCH, 0, u""},
        Coercion{"Boolean as Long", VT_BOOL, u"", 1, VT_I4, S_OK, -1, u""},
        Coercion{"Long to text", VT_I4, u"", -123, VT_BSTR, S_OK, 0, u"-123"},
        Coercion{"Double to text", VT_R8, u"", 0.1, VT_BSTR, S_OK, 0, u"0.1"},
        Coercion{"Double rounds to even", VT_R8, u"", 0.5, VT_I4, S_OK, 0, u""},
        Coercion{"Boolean to text without flags", VT_BOOL, u"", 1, VT_BSTR, S_OK, 0, u"-1"},
        Coercion{"Empty to Long", VT_EMPTY, u"", 0, VT_I4, S_OK, 0, u""},
        Coercion{"Empty to text", VT_EMPTY, u"", 0, VT_BSTR, S_OK, 0, u""},
        Coercion{"Empty to Boolean", VT_EMPTY, u"", 0, VT_BOOL, S_OK, VARIANT_FALSE, u""},
        Coercion{"Null to Long", VT_NULL, u"", 0, VT_I4, DISP_E_TYPEMISMATCH, 0, u""},
        Coercion{"Null to text", VT_NULL, u"", 0, VT_BSTR, DISP_E_TYPEMISMATCH, 0, u""},
        Coercion{"Long overflows I2", VT_I4, u"", 70000, VT_I2, DISP_E_OVERFLOW, 0, u""}));

TEST(ChangeTypeFlags, AlphaBoolWritesWords) {
    Variant src, dst;
    src.get()->vt = VT_BOOL;
    src.get()->boolVal = VARIANT_TRUE;
    ASSERT_EQ(VariantChangeType(dst.get(), src.get(), VARIANT_ALPHABOOL, VT_BSTR), S_OK);
    EXPECT_EQ(TextOf(dst.get()->bstrVal), u"True");
}

TEST(ChangeTypeReferences, ByRefVariantAndInPlace) {
    // VBScript passes its variables as VT_BYREF|VT_VARIANT.
    VARIANT inner;
    VariantInit(&inner);
    SetText(&inner, u"17");
    VARIANT outer;
    VariantInit(&outer);
    outer.vt = VT_BYREF | VT_VARIANT;
    outer.pvarVal = &inner;
    Variant dst;
    ASSERT_EQ(VariantChangeType(dst.get(), &outer, 0, VT_I4), S_OK);
    EXPECT_EQ(dst.get()->lVal, 17);
    EXPECT_EQ(TextOf(inner.bstrVal), u"17");  // the caller's variable is left alone

    // Converting a variant onto itself frees its old text.
    ASSERT_EQ(VariantChangeType(&inner, &inner, 0, VT_I4), S_OK);
    EXPECT_EQ(inner.vt, VT_I4);
    EXPECT_EQ(inner.lVal, 17);
}

TEST(Guid, TextRoundTrip) {
    CLSID id{};
    ASSERT_EQ(CLSIDFromString(u"{f468ce38-077e-476e-a8c8-651d703a4b65}", &id), S_OK);
    EXPECT_EQ(id.Data1, 0xF468CE38u);
    EXPECT_EQ(id.Data4[7], 0x65);
    OLECHAR text[39];
    ASSERT_EQ(StringFromGUID2(id, text, 39), 39);
    EXPECT_EQ(std::u16string(text), u"{F468CE38-077E-476E-A8C8-651D703A4B65}");
    EXPECT_EQ(CLSIDFromString(u"{F468CE38-077E-476E-A8C8-651D703A4B6}", &id), CO_E_CLASSSTRING);
    EXPECT_EQ(CLSIDFromString(u"Quorvel.SiteManage", &id), CO_E_CLASSSTRING);
}

}  // namespace
