// The object layer against the stand-in library's probe, as method code uses
// it: the same test on both builds (POSIX through the machine's registry,
// Windows through COM with the stand-in library registered).
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "automation/objects.h"
#include "platform/utf8.h"

namespace {

using quorvel::StepError;
using quorvel::automation::CreateObject;
using quorvel::automation::GetObject;
using quorvel::automation::Object;
using quorvel::automation::Value;
using quorvel::automation::Variant;

constexpr char16_t kProbe[] = u"QuorvelStandins.Probe";

// The error a piece of work raises; number 0 when it raises none.
template <typename Work>
StepError ErrorOf(Work&& work) {
    try {
        work();
    } catch (const StepError& error) {
        return error;
    }
    return StepError(0, u"", u"");
}

std::string U8(const std::u16string& text) { return quorvel::platform::ToUtf8(text); }

TEST(Objects, PropertiesAndMethodsKeepTheirTypes) {
    const Object probe = CreateObject(kProbe);
    ASSERT_FALSE(probe.IsNothing());
    EXPECT_EQ(probe.Get(u"Name").Text(), u"probe");
    probe.Put(u"name", u"站点一");  // names match without regard to case
    EXPECT_EQ(probe.Get(u"NAME").Text(), u"站点一");

    const Value text = probe.Call(u"Echo", {u"abc"});
    EXPECT_EQ(text.vt(), VT_BSTR);
    const Value number = probe.Call(u"Echo", {std::int32_t{-7}});
    EXPECT_EQ(number.vt(), VT_I4);
    EXPECT_EQ(number.Long(), -7);
    const Value small = probe.Call(u"Echo", {std::int16_t{2}});
    EXPECT_EQ(small.vt(), VT_I2);
    EXPECT_EQ(small.Short(), 2);
    const Value flag = probe.Call(u"Echo", {true});
    EXPECT_EQ(flag.vt(), VT_BOOL);
    EXPECT_TRUE(flag.Bool());
    EXPECT_EQ(flag.Display(), u"True");
    const std::vector<std::u16string> list{u"a:80:", u"", u"b"};
    const Value echoed = probe.Call(u"Echo", {Variant(list)});
    EXPECT_TRUE(echoed.IsArray());
    EXPECT_EQ(echoed.TextList(), list);
    EXPECT_TRUE(probe.Call(u"Echo", {Variant(std::vector<std::u16string>{})}).TextList().empty());

    EXPECT_EQ(probe.Call(u"Add", {40, 2}).Long(), 42);
    EXPECT_EQ(probe.Call(u"Add", {41}).Long(), 42);  // optional argument left out
    EXPECT_EQ(probe.Call(u"Add", {41, Variant::Missing()}).Long(), 42);
}

TEST(Objects, PropertiesByAnyName) {
    const Object probe = CreateObject(kProbe);
    probe.Put(u"ServerComment", u"www");
    probe.Put(u"MaxBandwidth", 2147482624);
    probe.Put(u"Serverbindings", std::vector<std::u16string>{u":80:a", u":80:b"});
    EXPECT_EQ(probe.Get(u"servercomment").Text(), u"www");
    EXPECT_EQ(probe.Get(u"MaxBandwidth").vt(), VT_I4);
    EXPECT_EQ(probe.Get(u"Serverbindings").TextList(), (std::vector<std::u16string>{u":80:a", u":80:b"}));
    // Never written: the directory's "property not found".
    EXPECT_EQ(ErrorOf([&] { probe.Get(u"AppRoot"); }).number, static_cast<std::int32_t>(0x8000500Du));
}

TEST(Objects, ChildrenInTheirOrder) {
    const Object probe = CreateObject(kProbe);
    EXPECT_TRUE(probe.Children().empty());
    const Object first = probe.Call(u"Create", {u"1"}).AsObject();
    probe.Call(u"Create", {u"2"});
    EXPECT_EQ(first.Get(u"Name").Text(), u"1");
    std::vector<std::u16string> names;
    for (const Object& child : probe.Children()) names.push_back(child.Get(u"Name").Text());
    EXPECT_EQ(names, (std::vector<std::u16string>{u"1", u"2"}));
    // More than one batch of the enumerator.
    for (int i = 3; i <= 150; ++i) probe.Call(u"Create", {std::u16string(u"c")});
    EXPECT_EQ(probe.CountChildren(), 150u);
    EXPECT_EQ(probe.Children().size(), 150u);
}

TEST(Objects, BindByMoniker) {
    const Object bound = GetObject(u"PROBE://alpha/W3SVC");
    EXPECT_EQ(bound.Get(u"Name").Text(), u"alpha/W3SVC");

    const StepError missing = ErrorOf([] { GetObject(u"PROBE://"); });
    EXPECT_EQ(missing.number, static_cast<std::int32_t>(0x80070003u));
    EXPECT_EQ(U8(missing.description), "系统找不到指定的路径。");

    // A prefix that no provider is registered under.
    const StepError unknown = ErrorOf([] { GetObject(u"NOSUCHPROVIDER://x"); });
    EXPECT_LT(unknown.number, 0) << unknown.number;
}

TEST(Objects, FailuresAsAClientSeesThem) {
    const StepError not_registered = ErrorOf([] { CreateObject(u"No.Such.Class"); });
    EXPECT_EQ(not_registered.number, 429);
    EXPECT_EQ(U8(not_registered.description), "ActiveX 部件不能创建对象");

    const Object nothing;
    EXPECT_EQ(ErrorOf([&] { nothing.Get(u"Name"); }).number, 91);
    EXPECT_EQ(ErrorOf([&] { nothing.Children(); }).number, 91);

    const Object probe = CreateObject(kProbe);
    const StepError no_member = ErrorOf([&] { probe.Call(u"NoSuchMethod"); });
    EXPECT_EQ(no_member.number, 438);
    EXPECT_EQ(U8(no_member.description), "对象不支持该属性或方法");
    EXPECT_EQ(ErrorOf([&] { probe.Call(u"Echo"); }).number, 450);
    EXPECT_EQ(ErrorOf([&] { probe.Call(u"Add", {1, 2, 3}); }).number, 450);
    EXPECT_EQ(ErrorOf([&] { probe.Call(u"SomeProperty", {1}); }).number, 450);

    // The object's own number, source and description.
    const StepError own = ErrorOf([&] { probe.Call(u"Raise", {-2147024713, u"IIS", u"对象已存在"}); });
    EXPECT_EQ(own.number, -2147024713);
    EXPECT_EQ(U8(own.source), "IIS");
    EXPECT_EQ(U8(own.description), "对象已存在");
    // A VB number raised by the object comes back as that number.
    const StepError overflow = ErrorOf([&] { probe.Call(u"Add", {2147483647, 1}); });
    EXPECT_EQ(overflow.number, 6);
    EXPECT_EQ(U8(overflow.description), "溢出");
    // A bare HRESULT: the number signed, the system's text.
    const StepError bare = ErrorOf([&] { probe.Call(u"RaiseHresult", {static_cast<std::int32_t>(0x800700B7u)}); });
    EXPECT_EQ(bare.number, -2147024713);
    EXPECT_EQ(U8(bare.description), "当文件已存在时，无法创建该文件。");
    // An argument that does not convert.
    EXPECT_EQ(ErrorOf([&] { probe.Call(u"Add", {u"many"}); }).number, 13);
}

TEST(Objects, VariantReadersCoerceLikeAutomation) {
    EXPECT_EQ(Variant(u"42").Long(), 42);
    EXPECT_EQ(Variant(std::int32_t{1}).Text(), u"1");
    EXPECT_EQ(Variant(false).Text(), u"False");
    EXPECT_EQ(Variant(u"abc").TextList(), std::vector<std::u16string>{u"abc"});
    EXPECT_EQ(Variant().TextList().size(), 0u);
    EXPECT_EQ(ErrorOf([] { Variant(u"abc").Long(); }).number, 13);
    EXPECT_EQ(ErrorOf([] { Variant(70000).Short(); }).number, 6);
    Variant copy(Variant(std::vector<std::u16string>{u"x"}));
    Variant second = copy;
    EXPECT_EQ(second.TextList(), std::vector<std::u16string>{u"x"});
}

}  // namespace
