// The one binder of Invoke's arguments (dispatch_table.h), on its own and
// through both dispatchers that use it: the component's table dispatcher
// (over the sample interface) and the stand-ins' (the probe, created as
// method code creates it). The same on both builds.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "automation/dispatch_table.h"
#include "automation/objects.h"
#include "platform/utf8.h"
#include "sample_object.h"

namespace {

using quorvel::automation::BindArguments;
using quorvel::automation::ComPtr;
using quorvel::automation::NamedMember;
using quorvel::automation::ParamInfo;
using quorvel::automation::ParamType;
using quorvel::automation::ResolveNames;
using quorvel::automation::SameName;
using quorvel::automation::Variant;

constexpr ParamInfo kParams[] = {
    {u"Count", ParamType::Long, false, false, u"", 0},
    {u"Name", ParamType::String, false, false, u"", 0},
    {u"Title", ParamType::String, true, true, u"untitled", 0},
    {u"Loud", ParamType::Boolean, true, false, u"", 0},
    {u"Extra", ParamType::Variant, true, false, u"", 0},
};
constexpr ParamInfo kLongValue{u"Value", ParamType::Long, false, false, u"", 0};

std::string U8(std::u16string_view text) { return quorvel::platform::ToUtf8(text); }

std::string Failed(HRESULT hr) {
    char text[40];
    std::snprintf(text, sizeof text, "failed 0x%08X", static_cast<unsigned>(hr));
    return text;
}

// A bound value as "TYPE:value", so that a whole binding reads as one line.
std::string Describe(const Variant& value) {
    const VARIANT& v = *value.get();
    switch (v.vt) {
        case VT_I2: return "I2:" + std::to_string(v.iVal);
        case VT_I4: return "I4:" + std::to_string(v.lVal);
        case VT_BOOL: return "BOOL:" + std::to_string(v.boolVal);
        case VT_BSTR: return "BSTR:" + U8(quorvel::automation::ViewOf(v.bstrVal));
        case VT_ERROR: return v.scode == DISP_E_PARAMNOTFOUND ? "missing" : "error";
        default: return "vt" + std::to_string(v.vt);
    }
}

Variant Missing() { return Variant::Missing(); }

// One Invoke's DISPPARAMS, laid out as a client lays them out: the named
// arguments first, then the positional ones last to first.
class Args {
public:
    Args(std::vector<Variant> positional, std::vector<std::pair<DISPID, Variant>> named = {}) {
        for (auto& [id, value] : named) {
            ids_.push_back(id);
            values_.push_back(std::move(value));
        }
        for (auto it = positional.rbegin(); it != positional.rend(); ++it) values_.push_back(std::move(*it));
        params_.rgvarg = quorvel::automation::RawArray(values_);
        params_.cArgs = static_cast<UINT>(values_.size());
        params_.rgdispidNamedArgs = ids_.empty() ? nullptr : ids_.data();
        params_.cNamedArgs = static_cast<UINT>(ids_.size());
    }
    Args(const Args&) = delete;
    Args& operator=(const Args&) = delete;
    DISPPARAMS* get() { return &params_; }

private:
    std::vector<Variant> values_;
    std::vector<DISPID> ids_;
    DISPPARAMS params_{};
};

// The binding of these arguments to kParams (and `written`): every value
// described, or the failure and the index it names ("failed 0x... at 1").
std::string Bind(std::vector<Variant> positional, std::vector<std::pair<DISPID, Variant>> named = {},
                 const ParamInfo* written = nullptr) {
    Args args(std::move(positional), std::move(named));
    std::vector<Variant> values;
    UINT arg_err = 99;
    const HRESULT hr = BindArguments(kParams, written, args.get(), values, &arg_err);
    if (FAILED(hr)) return arg_err == 99 ? Failed(hr) : Failed(hr) + " at " + std::to_string(arg_err);
    std::string out;
    for (const Variant& v : values) {
        if (!out.empty()) out += '|';
        out += Describe(v);
    }
    return out;
}

TEST(ArgumentBinding, PositionalAndNamedFillTheParametersLeftOutOnesDefault) {
    EXPECT_EQ(Bind({3, u"bob"}), "I4:3|BSTR:bob|BSTR:untitled|BOOL:0|missing");
    EXPECT_EQ(Bind({3, u"bob", u"t", true, std::int16_t{2}}), "I4:3|BSTR:bob|BSTR:t|BOOL:-1|I2:2");
    // Named arguments by position, in any order, around the gaps.
    EXPECT_EQ(Bind({3}, {{4, u"x"}, {1, u"bob"}}), "I4:3|BSTR:bob|BSTR:untitled|BOOL:0|BSTR:x");
    EXPECT_EQ(Bind({}, {{1, u"bob"}, {0, 7}}), "I4:7|BSTR:bob|BSTR:untitled|BOOL:0|missing");
    // The "missing" marker, as VB and VBScript send it for a skipped argument.
    EXPECT_EQ(Bind({3, u"bob", Missing(), false}), "I4:3|BSTR:bob|BSTR:untitled|BOOL:0|missing");
    // No DISPPARAMS at all is a call without arguments.
    std::vector<Variant> values;
    EXPECT_EQ(BindArguments({}, nullptr, nullptr, values, nullptr), S_OK);
    EXPECT_TRUE(values.empty());
}

TEST(ArgumentBinding, CountsAndRequiredParameters) {
    // Too many, or too few given positionally.
    EXPECT_EQ(Bind({1, u"a", u"b", true, 2, 3}), Failed(DISP_E_BADPARAMCOUNT));
    EXPECT_EQ(Bind({1}), Failed(DISP_E_BADPARAMCOUNT));
    EXPECT_EQ(Bind({}), Failed(DISP_E_BADPARAMCOUNT));
    // A required one left out by a call with named arguments, or skipped.
    EXPECT_EQ(Bind({1}, {{2, u"t"}}), Failed(DISP_E_PARAMNOTOPTIONAL));
    EXPECT_EQ(Bind({Missing(), u"bob"}), Failed(DISP_E_PARAMNOTOPTIONAL));
    Variant marker = Missing();
    VARIANT by_ref;
    VariantInit(&by_ref);
    by_ref.vt = VT_BYREF | VT_VARIANT;
    by_ref.pvarVal = marker.get();
    EXPECT_EQ(Bind({1, Variant::Take(by_ref)}), Failed(DISP_E_PARAMNOTOPTIONAL));
}

TEST(ArgumentBinding, NamedArgumentsForNoParameterOrOneGivenTwice) {
    // rgvarg[k] for the k-th named argument.
    EXPECT_EQ(Bind({1, u"bob"}, {{2, u"t"}, {5, u"x"}}), Failed(DISP_E_PARAMNOTFOUND) + " at 1");
    EXPECT_EQ(Bind({1, u"bob"}, {{-1, u"x"}}), Failed(DISP_E_PARAMNOTFOUND) + " at 0");
    EXPECT_EQ(Bind({1, u"bob"}, {{1, u"eve"}}), Failed(DISP_E_PARAMNOTFOUND) + " at 0");
    EXPECT_EQ(Bind({1, u"bob"}, {{3, true}, {3, false}}), Failed(DISP_E_PARAMNOTFOUND) + " at 1");
    // DISPID_PROPERTYPUT names nothing in a call that writes no property.
    EXPECT_EQ(Bind({1, u"bob"}, {{DISPID_PROPERTYPUT, 2}}), Failed(DISP_E_PARAMNOTFOUND) + " at 0");
}

TEST(ArgumentBinding, ArgumentsConvertToTheDeclaredTypes) {
    // Text to a number, a number and a Boolean to text (True as VBScript's
    // CStr writes it); a VARIANT parameter keeps what it was given.
    EXPECT_EQ(Bind({u" 12 ", 42, u"t", u"true", true}), "I4:12|BSTR:42|BSTR:t|BOOL:-1|BOOL:-1");
    EXPECT_EQ(Bind({1, true}), "I4:1|BSTR:True|BSTR:untitled|BOOL:0|missing");
    // A script's variable arrives by reference and is read, not taken.
    Variant variable(u"7");
    VARIANT by_ref;
    VariantInit(&by_ref);
    by_ref.vt = VT_BYREF | VT_VARIANT;
    by_ref.pvarVal = variable.get();
    EXPECT_EQ(Bind({Variant::Take(by_ref), u"bob"}), "I4:7|BSTR:bob|BSTR:untitled|BOOL:0|missing");
    EXPECT_EQ(variable.Text(), u"7");
    // One that does not convert names its place in rgvarg.
    EXPECT_EQ(Bind({u"many", u"bob"}), Failed(DISP_E_TYPEMISMATCH) + " at 1");
    EXPECT_EQ(Bind({1, u"bob"}, {{3, u"perhaps"}}), Failed(DISP_E_TYPEMISMATCH) + " at 0");
    EXPECT_EQ(Bind({u"3000000000", u"bob"}), Failed(DISP_E_OVERFLOW) + " at 1");
    VARIANT null_value;
    VariantInit(&null_value);
    null_value.vt = VT_NULL;
    EXPECT_EQ(Bind({1, Variant::Take(null_value)}), Failed(DISP_E_TYPEMISMATCH) + " at 0");
}

TEST(ArgumentBinding, PropertyWriteTakesItsValueLast) {
    EXPECT_EQ(Bind({1, u"bob"}, {{DISPID_PROPERTYPUT, u"5"}}, &kLongValue),
              "I4:1|BSTR:bob|BSTR:untitled|BOOL:0|missing|I4:5");
    // Named arguments may come with it.
    EXPECT_EQ(Bind({}, {{DISPID_PROPERTYPUT, 5}, {0, 1}, {1, u"b"}}, &kLongValue),
              "I4:1|BSTR:b|BSTR:untitled|BOOL:0|missing|I4:5");
    EXPECT_EQ(Bind({1, u"bob"}, {}, &kLongValue), Failed(DISP_E_PARAMNOTOPTIONAL));
    EXPECT_EQ(Bind({1, u"bob"}, {{DISPID_PROPERTYPUT, u"five"}}, &kLongValue), Failed(DISP_E_TYPEMISMATCH) + " at 0");
}

TEST(ArgumentBinding, MalformedParametersAreRefused) {
    std::vector<Variant> values;
    DISPID id = 0;
    DISPPARAMS no_array{nullptr, nullptr, 1, 0};
    EXPECT_EQ(BindArguments(kParams, nullptr, &no_array, values, nullptr), E_INVALIDARG);
    Variant one(1);
    DISPPARAMS more_named{one.get(), &id, 1, 2};
    EXPECT_EQ(BindArguments(kParams, nullptr, &more_named, values, nullptr), E_INVALIDARG);
    DISPPARAMS no_ids{one.get(), nullptr, 1, 1};
    EXPECT_EQ(BindArguments(kParams, nullptr, &no_ids, values, nullptr), E_INVALIDARG);
}

// GetIDsOfNames over one member with kParams.
HRESULT Resolve(std::vector<std::u16string> names, std::vector<DISPID>& ids, REFIID riid = IID_NULL) {
    std::vector<LPOLESTR> raw;
    for (std::u16string& name : names) raw.push_back(reinterpret_cast<LPOLESTR>(name.data()));
    ids.assign(names.size(), 12345);
    return ResolveNames(riid, raw.data(), static_cast<UINT>(raw.size()), ids.data(),
                        [](std::u16string_view name, NamedMember& found) {
                            if (!SameName(name, u"Greet")) return false;
                            found = {7, kParams};
                            return true;
                        });
}

TEST(ArgumentBinding, NamesResolveWithoutRegardToAsciiCase) {
    std::vector<DISPID> ids;
    EXPECT_EQ(Resolve({u"GREET", u"extra", u"nAmE"}, ids), S_OK);
    EXPECT_EQ(ids, (std::vector<DISPID>{7, 4, 1}));
    // An unknown parameter is the only one unknown.
    EXPECT_EQ(Resolve({u"greet", u"Nope", u"Count"}, ids), DISP_E_UNKNOWNNAME);
    EXPECT_EQ(ids, (std::vector<DISPID>{7, DISPID_UNKNOWN, 0}));
    // An unknown member leaves every name unknown.
    EXPECT_EQ(Resolve({u"Gree", u"Count"}, ids), DISP_E_UNKNOWNNAME);
    EXPECT_EQ(ids, (std::vector<DISPID>{DISPID_UNKNOWN, DISPID_UNKNOWN}));
    EXPECT_EQ(Resolve({u"Greet"}, ids, IID_IDispatch), DISP_E_UNKNOWNINTERFACE);
    // Only ASCII letters fold; a prefix is not the name.
    EXPECT_TRUE(SameName(u"NAME", u"name"));
    EXPECT_FALSE(SameName(u"Nam", u"Name"));
    EXPECT_FALSE(SameName(u"Names", u"Name"));
    EXPECT_FALSE(SameName(u"\u00C9t\u00E9", u"\u00E9t\u00E9"));
}

// ---- both dispatchers bind the same way ------------------------------------

// Calls `method` of `object` by name with these arguments, the named ones
// by their names: its result as text, or the failure.
std::string CallByName(IDispatch* object, std::u16string method, std::vector<Variant> positional,
                       std::vector<std::pair<std::u16string, Variant>> named = {}) {
    std::vector<std::u16string> names{std::move(method)};
    for (auto& [name, value] : named) names.push_back(name);
    std::vector<LPOLESTR> raw;
    for (std::u16string& name : names) raw.push_back(reinterpret_cast<LPOLESTR>(name.data()));
    std::vector<DISPID> ids(names.size());
    HRESULT hr = object->GetIDsOfNames(IID_NULL, raw.data(), static_cast<UINT>(raw.size()), LOCALE_USER_DEFAULT,
                                       ids.data());
    if (FAILED(hr)) return Failed(hr);
    std::vector<std::pair<DISPID, Variant>> by_id;
    for (std::size_t i = 0; i < named.size(); ++i) by_id.emplace_back(ids[i + 1], std::move(named[i].second));
    Args args(std::move(positional), std::move(by_id));
    Variant result;
    EXCEPINFO info{};
    UINT arg_err = 0;
    hr = object->Invoke(ids[0], IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD | DISPATCH_PROPERTYGET, args.get(),
                        result.out(), &info, &arg_err);
    SysFreeString(info.bstrSource);
    SysFreeString(info.bstrDescription);
    SysFreeString(info.bstrHelpFile);
    if (FAILED(hr)) return Failed(hr);
    return U8(result.Text());
}

TEST(ArgumentBinding, BothDispatchersTakeNamedArgumentsAndRefuseTheSameCalls) {
    quorvel::test::SampleObject sample;
    const quorvel::automation::Object probe = quorvel::automation::CreateObject(u"QuorvelStandins.Probe");
    ASSERT_FALSE(probe.IsNothing());
    IDispatch* standin = probe.get();

    // Named arguments, by names in any letter case.
    EXPECT_EQ(CallByName(&sample, u"greet", {}, {{u"COUNT", 3}, {u"name", u"a"}}),
              "a|你好, \"世界\" // \\|3|2147483647|-1|-1||0");
    EXPECT_EQ(CallByName(standin, u"add", {}, {{u"b", 5}, {u"A", 1}}), "6");
    EXPECT_EQ(CallByName(standin, u"Add", {40}, {{u"B", u"2"}}), "42");
    // The same refusals from both.
    EXPECT_EQ(CallByName(&sample, u"Greet", {}, {{u"Count", 3}}), Failed(DISP_E_PARAMNOTOPTIONAL));
    EXPECT_EQ(CallByName(standin, u"Add", {}, {{u"B", 3}}), Failed(DISP_E_PARAMNOTOPTIONAL));
    EXPECT_EQ(CallByName(&sample, u"Greet", {u"a"}, {{u"Nope", 3}}), Failed(DISP_E_UNKNOWNNAME));
    EXPECT_EQ(CallByName(standin, u"Add", {1}, {{u"Nope", 3}}), Failed(DISP_E_UNKNOWNNAME));
    EXPECT_EQ(CallByName(&sample, u"Greet", {u"a"}, {{u"Name", u"b"}}), Failed(DISP_E_PARAMNOTFOUND));
    EXPECT_EQ(CallByName(standin, u"Add", {1}, {{u"A", 2}}), Failed(DISP_E_PARAMNOTFOUND));
    EXPECT_EQ(CallByName(&sample, u"Greet", {u"a", u"b", u"many"}), Failed(DISP_E_TYPEMISMATCH));
    EXPECT_EQ(CallByName(standin, u"Add", {u"many"}), Failed(DISP_E_TYPEMISMATCH));
    EXPECT_EQ(CallByName(standin, u"Add", {1, 2, 3}), Failed(DISP_E_BADPARAMCOUNT));
    EXPECT_EQ(CallByName(standin, u"Echo", {Missing()}), Failed(DISP_E_PARAMNOTOPTIONAL));
}

// Writes `value` to the property `name` of `object`: "ok", or the failure
// and where a refused argument was.
std::string PutByName(IDispatch* object, std::u16string name, Variant value) {
    LPOLESTR raw = reinterpret_cast<LPOLESTR>(name.data());
    DISPID id = DISPID_UNKNOWN;
    HRESULT hr = object->GetIDsOfNames(IID_NULL, &raw, 1, LOCALE_USER_DEFAULT, &id);
    if (FAILED(hr)) return Failed(hr);
    Args args({}, {{DISPID_PROPERTYPUT, std::move(value)}});
    EXCEPINFO info{};
    UINT arg_err = 99;
    hr = object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYPUT, args.get(), nullptr, &info, &arg_err);
    SysFreeString(info.bstrSource);
    SysFreeString(info.bstrDescription);
    SysFreeString(info.bstrHelpFile);
    if (SUCCEEDED(hr)) return "ok";
    return arg_err == 99 ? Failed(hr) : Failed(hr) + " at " + std::to_string(arg_err);
}

TEST(ArgumentBinding, StandInPropertyWritesConvertToTheirDeclaredType) {
    const quorvel::automation::Object probe = quorvel::automation::CreateObject(u"QuorvelStandins.Probe");
    ASSERT_FALSE(probe.IsNothing());
    // Name is a BSTR property: a number written to it reads back as text,
    // and a list, which no text holds, is refused before the member runs.
    probe.Put(u"Name", 42);
    EXPECT_EQ(probe.Get(u"Name").vt(), VT_BSTR);
    EXPECT_EQ(probe.Get(u"Name").Text(), u"42");
    EXPECT_EQ(PutByName(probe.get(), u"Name", Variant(std::vector<std::u16string>{u"a"})),
              Failed(DISP_E_TYPEMISMATCH) + " at 0");
    EXPECT_EQ(probe.Get(u"Name").Text(), u"42");
    // A property by any name keeps the value as given.
    EXPECT_EQ(PutByName(probe.get(), u"Width", std::int16_t{2}), "ok");
    EXPECT_EQ(probe.Get(u"Width").vt(), VT_I2);
}

}  // namespace
