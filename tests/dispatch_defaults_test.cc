// The dispatcher over another interface than the component's: a left-out
// optional parameter takes the default its IDL declares (tests/idl/sample.idl).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "component/dispatch.h"
#include "sample_interface.h"
#include "sample_object.h"

namespace {

using quorvel::component::DispatchGetIDsOfNames;
using quorvel::component::DispatchInvoke;
using quorvel::platform::FromBstr;
using quorvel::platform::ToBstr;
using quorvel::sample::kDispatchTable;
using Sample = quorvel::test::SampleObject;

std::u16string Num(long n) { return Sample::Num(n); }

VARIANT Str(std::u16string_view text) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BSTR;
    v.bstrVal = ToBstr(text);
    return v;
}

VARIANT Long(LONG n) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_I4;
    v.lVal = n;
    return v;
}

VARIANT Missing() {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_ERROR;
    v.scode = DISP_E_PARAMNOTFOUND;
    return v;
}

// Greet with these positional arguments (and named ones, by parameter
// position); the text it answers, or the failure.
std::u16string Greet(std::vector<VARIANT> positional, std::vector<std::pair<DISPID, VARIANT>> named = {}) {
    std::vector<VARIANT> args;
    std::vector<DISPID> ids;
    for (auto& [id, value] : named) {
        ids.push_back(id);
        args.push_back(value);
    }
    for (auto it = positional.rbegin(); it != positional.rend(); ++it) args.push_back(*it);
    DISPPARAMS params{args.data(), ids.empty() ? nullptr : ids.data(), static_cast<UINT>(args.size()),
                      static_cast<UINT>(ids.size())};
    VARIANT result;
    VariantInit(&result);
    Sample sample;
    const HRESULT hr = DispatchInvoke(kDispatchTable, &sample, 1, IID_NULL, DISPATCH_METHOD, &params, &result,
                                      nullptr, nullptr);
    for (VARIANT& v : args) VariantClear(&v);
    std::u16string text = hr == S_OK && result.vt == VT_BSTR ? FromBstr(result.bstrVal) : u"failed " + Num(hr);
    VariantClear(&result);
    return text;
}

const std::u16string kDefaults = u"你好, \"世界\" // \\|-7|2147483647|-1|-1||0";

TEST(DispatchDefaults, LeftOutParametersTakeTheDeclaredDefaults) {
    EXPECT_EQ(Greet({Str(u"a")}), u"a|" + kDefaults);
    // A skipped argument is left out as well.
    EXPECT_EQ(Greet({Str(u"a"), Missing(), Missing(), Missing(), Missing(), Missing(), Missing(), Missing()}),
              u"a|" + kDefaults);
    // Given arguments win; the rest still default.
    EXPECT_EQ(Greet({Str(u"a"), Str(u"hi"), Long(3)}), u"a|hi|3|2147483647|-1|-1||0");
    EXPECT_EQ(Greet({Str(u"a"), Missing(), Long(0), Missing(), Long(0)}), u"a|你好, \"世界\" // \\|0|2147483647|0|-1||0");
    // Named arguments leave gaps that default too.
    EXPECT_EQ(Greet({}, {{0, Str(u"b")}, {6, Str(u"n")}}), u"b|你好, \"世界\" // \\|-7|2147483647|-1|-1|n|0");
    // A parameter with a default and without `optional` may be left out too.
    EXPECT_EQ(Greet({Str(u"a"), Str(u"g"), Long(1), Long(2), Long(0)}), u"a|g|1|2|0|-1||0");
}

TEST(DispatchDefaults, RequiredParameterStillRequired) {
    EXPECT_EQ(Greet({}), u"failed " + Num(DISP_E_BADPARAMCOUNT));
    EXPECT_EQ(Greet({Missing()}), u"failed " + Num(DISP_E_PARAMNOTOPTIONAL));
}

TEST(DispatchDefaults, NamesResolveInTheTableGiven) {
    std::vector<BSTR> names{ToBstr(u"greet"), ToBstr(u"LOUD")};
    std::vector<DISPID> ids(2, 0);
    EXPECT_EQ(DispatchGetIDsOfNames(kDispatchTable, IID_NULL, names.data(), 2, ids.data()), S_OK);
    EXPECT_EQ(ids, (std::vector<DISPID>{1, 4}));
    // Not a name of the component's interface.
    EXPECT_EQ(DispatchGetIDsOfNames(IID_NULL, names.data(), 1, ids.data()), DISP_E_UNKNOWNNAME);
    for (BSTR b : names) SysFreeString(b);
}

}  // namespace
