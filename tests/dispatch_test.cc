// IDispatch over the method table, driven against a fake that records what
// the vtable receives.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "component/dispatch.h"
#include "platform/com.h"
#include "quorvel_interface.h"

namespace {

using quorvel::_SiteManage;
using quorvel::component::DispatchGetIDsOfNames;
using quorvel::component::DispatchInvoke;
using quorvel::platform::FromBstr;
using quorvel::platform::ToBstr;

constexpr DISPID kPostFtpSit = 0x60030001;
constexpr DISPID kPostEmailDomain = 0x60030002;
constexpr DISPID kGetMailPass = 0x60030004;
constexpr DISPID kExitWindows = 0x60030008;

std::u16string Num(long n) {
    const std::string s = std::to_string(n);
    return {s.begin(), s.end()};
}

// Records the arguments of the last call, each as text; ExitWindows fails.
class RecordingSite final : public _SiteManage {
public:
    std::u16string method;
    std::vector<std::u16string> args;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void**) override { return E_NOINTERFACE; }
    ULONG STDMETHODCALLTYPE AddRef() override { return 1; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override {
        return E_NOTIMPL;
    }

    HRESULT STDMETHODCALLTYPE PostWebSit(BSTR a, BSTR b, BSTR, BSTR, BSTR, BSTR, BSTR, BSTR, LONG, LONG, LONG, LONG,
                                         BSTR, BSTR, LONG* r) override {
        Record(u"PostWebSit", {FromBstr(a), FromBstr(b)});
        *r = 1;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE PostFtpSit(BSTR a, BSTR b, BSTR c, BSTR d, BSTR e, BSTR f, LONG g, LONG h, LONG i,
                                         LONG j, LONG k, LONG* r) override {
        Record(u"PostFtpSit", {FromBstr(a), FromBstr(b), FromBstr(c), FromBstr(d), FromBstr(e), FromBstr(f), Num(g),
                               Num(h), Num(i), Num(j), Num(k)});
        *r = 7;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE PostEmailDomain(BSTR a, BSTR b, BSTR c, BSTR d, VARIANT_BOOL e, LONG f, LONG g, LONG h,
                                              VARIANT_BOOL i, LONG* r) override {
        Record(u"PostEmailDomain",
               {FromBstr(a), FromBstr(b), FromBstr(c), FromBstr(d), Num(e), Num(f), Num(g), Num(h), Num(i)});
        *r = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE PostEmail(BSTR, BSTR, BSTR, BSTR, BSTR, BSTR, BSTR, LONG, LONG, LONG* r) override {
        *r = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetMailPass(BSTR a, BSTR, BSTR, BSTR* r) override {
        Record(u"GetMailPass", {FromBstr(a)});
        *r = ToBstr(u"stored form  ");
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE PostNTUser(BSTR, BSTR, BSTR, BSTR, BSTR, LONG* r) override {
        *r = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE PostCACLS(BSTR, BSTR, BSTR, BSTR, LONG* r) override {
        *r = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE BackupSit(BSTR, LONG, BSTR, BSTR, BSTR, LONG* r) override {
        *r = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE ExitWindows(BSTR, LONG* r) override {
        *r = 0;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Supervise(BSTR, BSTR, LONG* r) override {
        *r = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SendMail(LONG, BSTR, BSTR, BSTR, BSTR, BSTR, BSTR, BSTR, LONG* r) override {
        *r = 0;
        return S_OK;
    }

private:
    void Record(const char16_t* name, std::vector<std::u16string> values) {
        method = name;
        args = std::move(values);
    }
};

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

VARIANT Bool(bool b) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_BOOL;
    v.boolVal = b ? VARIANT_TRUE : VARIANT_FALSE;
    return v;
}

// What VB and VBScript send for a skipped argument.
VARIANT Missing() {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_ERROR;
    v.scode = DISP_E_PARAMNOTFOUND;
    return v;
}

// One Invoke's DISPPARAMS: named arguments first, positional ones reversed.
class Call {
public:
    Call(std::vector<VARIANT> positional, std::vector<std::pair<DISPID, VARIANT>> named = {}) {
        for (auto& [id, value] : named) {
            ids_.push_back(id);
            args_.push_back(value);
        }
        for (auto it = positional.rbegin(); it != positional.rend(); ++it) args_.push_back(*it);
        params_.rgvarg = args_.data();
        params_.cArgs = static_cast<UINT>(args_.size());
        params_.rgdispidNamedArgs = ids_.empty() ? nullptr : ids_.data();
        params_.cNamedArgs = static_cast<UINT>(ids_.size());
        VariantInit(&result);
    }
    ~Call() {
        for (VARIANT& v : args_) VariantClear(&v);
        VariantClear(&result);
        SysFreeString(exception.bstrSource);
        SysFreeString(exception.bstrDescription);
    }
    Call(const Call&) = delete;
    Call& operator=(const Call&) = delete;

    HRESULT Run(_SiteManage* site, DISPID id, WORD flags = DISPATCH_METHOD) {
        return DispatchInvoke(site, id, IID_NULL, flags, &params_, &result, &exception, &arg_err);
    }

    VARIANT result;
    EXCEPINFO exception{};
    UINT arg_err = 999;
    std::vector<VARIANT> args_;

private:
    std::vector<DISPID> ids_;
    DISPPARAMS params_{};
};

class Names {
public:
    Names(std::initializer_list<std::u16string_view> names) {
        for (auto n : names) bstrs_.push_back(ToBstr(n));
        ids.assign(bstrs_.size(), 12345);
    }
    ~Names() {
        for (BSTR b : bstrs_) SysFreeString(b);
    }
    Names(const Names&) = delete;
    Names& operator=(const Names&) = delete;
    HRESULT Resolve() {
        return DispatchGetIDsOfNames(IID_NULL, bstrs_.data(), static_cast<UINT>(bstrs_.size()), ids.data());
    }
    std::vector<DISPID> ids;

private:
    std::vector<BSTR> bstrs_;
};

TEST(GetIDsOfNames, MethodAndParametersIgnoringCase) {
    Names names{u"postftpSIT", u"cfile", u"SPEEDLIMITDOWN"};
    ASSERT_EQ(names.Resolve(), S_OK);
    EXPECT_EQ(names.ids, (std::vector<DISPID>{kPostFtpSit, 2, 10}));
}

TEST(GetIDsOfNames, UnknownNames) {
    Names method{u"PostFtp", u"CFile"};
    EXPECT_EQ(method.Resolve(), DISP_E_UNKNOWNNAME);
    EXPECT_EQ(method.ids, (std::vector<DISPID>{DISPID_UNKNOWN, DISPID_UNKNOWN}));

    Names param{u"PostFtpSit", u"Nope", u"FtpUser"};
    EXPECT_EQ(param.Resolve(), DISP_E_UNKNOWNNAME);
    EXPECT_EQ(param.ids, (std::vector<DISPID>{kPostFtpSit, DISPID_UNKNOWN, 1}));
}

TEST(Invoke, PositionalNamedAndDefaults) {
    RecordingSite site;
    Call call({Str(u"ADD"), Str(u"bob"), Str(u"/srv")}, {{10, Long(5)}, {3, Str(u"pw")}});
    ASSERT_EQ(call.Run(&site, kPostFtpSit), S_OK);
    EXPECT_EQ(site.method, u"PostFtpSit");
    EXPECT_EQ(site.args, (std::vector<std::u16string>{u"ADD", u"bob", u"/srv", u"pw", u"", u"", u"0", u"0", u"0",
                                                      u"0", u"5"}));
    EXPECT_EQ(call.result.vt, VT_I4);
    EXPECT_EQ(call.result.lVal, 7);
}

TEST(Invoke, MissingMarkerTakesTheDefault) {
    RecordingSite site;
    Call call({Str(u"a"), Str(u"b"), Str(u"c"), Missing(), Str(u"home"), Missing(), Missing()});
    ASSERT_EQ(call.Run(&site, kPostFtpSit, DISPATCH_METHOD | DISPATCH_PROPERTYGET), S_OK);
    EXPECT_EQ(site.args[3], u"");
    EXPECT_EQ(site.args[4], u"home");
    EXPECT_EQ(site.args[6], u"0");
}

TEST(Invoke, CoercesScriptValues) {
    RecordingSite site;
    // A script variable arrives by reference; a number where text is expected
    // becomes its decimal text; "true" and a Boolean become VARIANT_TRUE.
    VARIANT variable = Str(u" 12 ");
    VARIANT by_ref;
    VariantInit(&by_ref);
    by_ref.vt = VT_BYREF | VT_VARIANT;
    by_ref.pvarVal = &variable;
    Call call({Str(u"ADD"), Long(42), Str(u"d"), Bool(true), Str(u"true"), by_ref, Str(u"2.5"), Long(-1),
               Bool(true)});
    ASSERT_EQ(call.Run(&site, kPostEmailDomain), S_OK);
    EXPECT_EQ(site.args, (std::vector<std::u16string>{u"ADD", u"42", u"d", u"True", u"-1", u"12", u"2", u"-1",
                                                      u"-1"}));
    EXPECT_EQ(FromBstr(variable.bstrVal), u" 12 ");  // the caller's variable is unchanged
    VariantClear(&variable);
}

TEST(Invoke, ConversionFailuresNameTheArgument) {
    RecordingSite site;
    {
        // MaxNrUsers, the 7th of 7 positional arguments, sits at rgvarg[0].
        Call call({Str(u"a"), Str(u"b"), Str(u"c"), Str(u""), Str(u""), Str(u""), Str(u"many")});
        EXPECT_EQ(call.Run(&site, kPostFtpSit), DISP_E_TYPEMISMATCH);
        EXPECT_EQ(call.arg_err, 0u);
    }
    {
        Call call({Str(u"a"), Str(u"b"), Str(u"c")}, {{4, Str(u"h")}, {8, Str(u"3000000000")}});
        EXPECT_EQ(call.Run(&site, kPostFtpSit), DISP_E_OVERFLOW);
        EXPECT_EQ(call.arg_err, 1u);
    }
    {
        VARIANT null_value;
        VariantInit(&null_value);
        null_value.vt = VT_NULL;
        Call call({null_value, Str(u"b"), Str(u"c")});
        EXPECT_EQ(call.Run(&site, kPostFtpSit), DISP_E_TYPEMISMATCH);
        EXPECT_EQ(call.arg_err, 2u);
    }
    EXPECT_TRUE(site.method.empty());  // the method never ran
}

TEST(Invoke, ArgumentCountAndRequiredParameters) {
    RecordingSite site;
    {
        std::vector<VARIANT> twelve;
        for (int i = 0; i < 12; ++i) twelve.push_back(Str(u"x"));
        Call call(std::move(twelve));
        EXPECT_EQ(call.Run(&site, kPostFtpSit), DISP_E_BADPARAMCOUNT);
    }
    {
        Call call({Str(u"ADD"), Str(u"bob")});
        EXPECT_EQ(call.Run(&site, kPostFtpSit), DISP_E_BADPARAMCOUNT);
    }
    {
        Call call({Str(u"ADD"), Str(u"bob")}, {{4, Str(u"home")}});
        EXPECT_EQ(call.Run(&site, kPostFtpSit), DISP_E_PARAMNOTOPTIONAL);
    }
    {
        Call call({Str(u"ADD"), Missing(), Str(u"/srv")});
        EXPECT_EQ(call.Run(&site, kPostFtpSit), DISP_E_PARAMNOTOPTIONAL);
    }
    EXPECT_TRUE(site.method.empty());
}

TEST(Invoke, NamedArgumentsThatCollideOrDoNotExist) {
    RecordingSite site;
    {
        Call call({Str(u"ADD"), Str(u"bob"), Str(u"/srv")}, {{5, Str(u"R")}, {1, Str(u"eve")}});
        EXPECT_EQ(call.Run(&site, kPostFtpSit), DISP_E_PARAMNOTFOUND);
        EXPECT_EQ(call.arg_err, 1u);
    }
    {
        Call call({Str(u"ADD"), Str(u"bob"), Str(u"/srv")}, {{11, Str(u"x")}});
        EXPECT_EQ(call.Run(&site, kPostFtpSit), DISP_E_PARAMNOTFOUND);
        EXPECT_EQ(call.arg_err, 0u);
    }
    {
        Call call({Str(u"ADD"), Str(u"bob"), Str(u"/srv")}, {{4, Str(u"x")}, {4, Str(u"y")}});
        EXPECT_EQ(call.Run(&site, kPostFtpSit), DISP_E_PARAMNOTFOUND);
        EXPECT_EQ(call.arg_err, 1u);
    }
}

TEST(Invoke, MembersFlagsAndInterface) {
    RecordingSite site;
    Call call({Str(u"x")});
    EXPECT_EQ(call.Run(&site, 0x6003000B), DISP_E_MEMBERNOTFOUND);
    EXPECT_EQ(call.Run(&site, DISPID_VALUE), DISP_E_MEMBERNOTFOUND);
    EXPECT_EQ(call.Run(&site, kExitWindows, DISPATCH_PROPERTYGET), DISP_E_MEMBERNOTFOUND);
    EXPECT_EQ(call.Run(&site, kExitWindows, DISPATCH_PROPERTYPUT), DISP_E_MEMBERNOTFOUND);
    DISPPARAMS none{};
    EXPECT_EQ(DispatchInvoke(&site, kExitWindows, IID_IDispatch, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr),
              DISP_E_UNKNOWNINTERFACE);
}

TEST(Invoke, FailingMethodRaisesAnException) {
    RecordingSite site;
    Call call({Str(u"REBOOT")});
    EXPECT_EQ(call.Run(&site, kExitWindows), DISP_E_EXCEPTION);
    EXPECT_EQ(call.exception.scode, E_NOTIMPL);
    EXPECT_EQ(FromBstr(call.exception.bstrSource), u"Quorvel.SiteManage");
    EXPECT_FALSE(FromBstr(call.exception.bstrDescription).empty());
    EXPECT_EQ(call.result.vt, VT_EMPTY);
}

TEST(Invoke, TextResultAndNoResultWanted) {
    RecordingSite site;
    {
        Call call({Str(u"http://x"), Str(u"d"), Str(u"p")});
        ASSERT_EQ(call.Run(&site, kGetMailPass), S_OK);
        ASSERT_EQ(call.result.vt, VT_BSTR);
        EXPECT_EQ(FromBstr(call.result.bstrVal), u"stored form  ");
    }
    // Without pVarResult the returned text is freed by the dispatcher (a
    // leak here shows under the sanitizer build).
    Call call({Str(u"http://y"), Str(u"d"), Str(u"p")});
    UINT err = 0;
    DISPPARAMS params{call.args_.data(), nullptr, 3, 0};
    EXPECT_EQ(DispatchInvoke(&site, kGetMailPass, IID_NULL, DISPATCH_METHOD, &params, nullptr, nullptr, &err), S_OK);
    EXPECT_EQ(site.args[0], u"http://y");
}

}  // namespace
