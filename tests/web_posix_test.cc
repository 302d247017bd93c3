// PostWebSit against the IIS directory stand-in, read back through the
// object layer as a client would.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "automation/objects.h"
#include "tests/iis_test_machine.h"
#include "web/post_web_sit.h"

namespace quorvel::web {
namespace {

using automation::GetObject;
using automation::Object;
using test::LogWatch;
using test::MessageOf;

constexpr char kExists[] = "错误号：2，错误源：Web站点 ，错误描述：站点已经存在";
constexpr char kMissing[] = "错误号：3，错误源：Web站点 ，错误描述：站点不存在";

std::int32_t Add(const std::u16string& name, std::int32_t width = 100, std::int32_t cpu = 50) {
    return PostWebSit(u"ADD", name, u"D:\\web\\" + name, u"index.htm,default.asp", u".asp,C:\\asp.dll,1,GET|.x,y",
                      u":80:" + name + u".example|:8080:", u"RW", u"D:\\logs", 200, 900, width, cpu, u"IUSR_X",
                      u"pw");
}

std::int32_t Act(const std::u16string& action, const std::u16string& name) {
    return PostWebSit(action, name, u"", u"", u"", u"", u"", u"", 0, 0, 0, 0, u"", u"");
}

Object Site(int number) { return GetObject(u"IIS://localhost/W3SVC/" + std::u16string(1, char16_t(u'0' + number))); }

// A site made directly in the directory, as another tool would.
void MakeSite(const std::u16string& number, const std::u16string& comment) {
    Object site = GetObject(u"IIS://localhost/W3SVC").Call(u"Create", {u"IIsWebServer", number}).AsObject();
    site.Put(u"ServerComment", comment);
    site.Call(u"SetInfo");
}

std::int32_t ErrorNumber(auto&& work) {
    try {
        work();
    } catch (const StepError& error) {
        return error.number;
    }
    return 0;
}

class PostWebSitTest : public testing::Test {
protected:
    test::FreshMachine machine;
};

TEST_F(PostWebSitTest, AddWritesTheSettingsInTheirTypesAndStartsTheSite) {
    LogWatch log;
    EXPECT_EQ(Add(u"alpha"), 0);
    EXPECT_TRUE(log.NewLines().empty());
    const Object site = Site(1);
    EXPECT_EQ(site.Get(u"ServerComment").Text(), u"alpha");
    EXPECT_EQ(site.Get(u"ServerBindings").TextList(), (std::vector<std::u16string>{u":80:alpha.example", u":8080:"}));
    EXPECT_EQ(site.Get(u"ScriptMaps").TextList(), (std::vector<std::u16string>{u".asp,C:\\asp.dll,1,GET", u".x,y"}));
    EXPECT_EQ(site.Get(u"DefaultDoc").Text(), u"index.htm,default.asp");
    EXPECT_EQ(site.Get(u"LogFileDirectory").Text(), u"D:\\logs");
    EXPECT_EQ(site.Get(u"ConnectionTimeout").vt(), VT_I4);
    EXPECT_EQ(site.Get(u"ConnectionTimeout").Long(), 900);
    EXPECT_EQ(site.Get(u"CpuLimitLogEvent").Long(), 50000);
    EXPECT_EQ(site.Get(u"MaxConnections").Long(), 200);
    EXPECT_EQ(site.Get(u"MaxBandwidth").Long(), 102400);
    EXPECT_EQ(site.Get(u"CpuLimitsEnabled").vt(), VT_BOOL);
    EXPECT_EQ(site.Get(u"AnonymousUserName").Text(), u"IUSR_X");
    EXPECT_EQ(site.Get(u"AnonymousUserPass").Text(), u"pw");
    EXPECT_EQ(site.Get(u"ServerState").Long(), 2);

    const Object root = GetObject(u"IIS://WEBHOST/W3SVC/1/ROOT");
    EXPECT_EQ(root.Get(u"Class").Text(), u"IISWebVirtualDir");
    EXPECT_EQ(root.Get(u"Path").Text(), u"D:\\web\\alpha");
    EXPECT_TRUE(root.Get(u"EnableDefaultDoc").Bool());
    EXPECT_TRUE(root.Get(u"AccessWrite").Bool());
    EXPECT_FALSE(root.Get(u"EnableDirBrowsing").Bool());
    EXPECT_TRUE(root.Get(u"AccessRead").Bool());
    EXPECT_TRUE(root.Get(u"AccessScript").Bool());
    EXPECT_FALSE(root.Get(u"AccessExecute").Bool());
    EXPECT_EQ(root.Get(u"AppRoot").Text(), u"/LM/W3SVC/1/root");
    EXPECT_EQ(root.Get(u"AppIsolated").Long(), 2);
    EXPECT_EQ(root.Get(u"AppFriendlyName").Text(), u"应用程序");

    EXPECT_EQ(Add(u"ALPHA"), 2);
    EXPECT_EQ(Add(u"beta"), 0);
    const auto lines = log.NewLines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(MessageOf(lines[0]), kExists);
    EXPECT_NE(lines[0].find("PostWebSit函数"), std::string::npos);
}

TEST_F(PostWebSitTest, ActionsOnFoundAndMissingSites) {
    ASSERT_EQ(Add(u"alpha"), 0);
    LogWatch log;
    EXPECT_EQ(Act(u"stop", u"Alpha"), 0);
    EXPECT_EQ(Site(1).Get(u"ServerState").Long(), 4);
    EXPECT_EQ(Act(u"Start", u"alpha"), 0);
    EXPECT_EQ(Site(1).Get(u"ServerState").Long(), 2);
    EXPECT_EQ(Act(u"ISSEARCH", u"alpha"), 0);
    EXPECT_EQ(Act(u" ADD", u"gamma"), 0);  // no action: nothing made
    EXPECT_EQ(Act(u"whatever", u"gamma"), 0);
    EXPECT_TRUE(log.NewLines().empty());
    for (const char16_t* action : {u"EDIT", u"DEL", u"START", u"STOP", u"ISSEARCH"}) {
        EXPECT_EQ(Act(action, u"gamma"), 3) << platform::ToUtf8(action);
    }
    const auto lines = log.NewLines();
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(MessageOf(lines[4]), kMissing);

    EXPECT_EQ(Act(u"del", u"alpha"), 0);
    EXPECT_EQ(ErrorNumber([] { Site(1); }), static_cast<std::int32_t>(0x80070003u));
    EXPECT_EQ(ErrorNumber([] { GetObject(u"IIS://localhost/W3SVC/1/ROOT"); }), static_cast<std::int32_t>(0x80070003u));
}

// Numbers are the count of children plus one; only sites up to that count
// are searched, the lowest number wins a tie.
TEST_F(PostWebSitTest, NumberingCountsEveryChildAndSearchesOnlyUpToTheCount) {
    ASSERT_EQ(Add(u"one"), 0);
    ASSERT_EQ(Add(u"two"), 0);
    Object service = GetObject(u"IIS://localhost/W3SVC");
    service.Call(u"Create", {u"IIsFilters", u"Filters"}).AsObject().Call(u"SetInfo");
    service.Call(u"Create", {u"IIsWebInfo", u"Info"}).AsObject().Call(u"SetInfo");
    ASSERT_EQ(Add(u"five"), 0);
    EXPECT_EQ(Site(5).Get(u"ServerComment").Text(), u"five");

    MakeSite(u"9", u"far");  // six children now
    EXPECT_EQ(Act(u"ISSEARCH", u"far"), 3);
    EXPECT_EQ(Add(u"far"), 0);
    EXPECT_EQ(Site(7).Get(u"ServerComment").Text(), u"far");
    EXPECT_EQ(Act(u"ISSEARCH", u"far"), 0);

    MakeSite(u"8", u"ONE");  // same name as site 1, higher number
    EXPECT_EQ(Act(u"STOP", u"one"), 0);
    EXPECT_EQ(Site(1).Get(u"ServerState").Long(), 4);
    EXPECT_EQ(Site(8).Get(u"ServerState").Long(), 4);  // never started
    EXPECT_EQ(Act(u"START", u"One"), 0);
    EXPECT_EQ(Site(1).Get(u"ServerState").Long(), 2);
    EXPECT_EQ(Site(8).Get(u"ServerState").Long(), 4);

    // Number count+1 taken by a site that the search never reaches: the
    // creation fails, and nothing else is written.
    MakeSite(u"3", u"squatter");
    service.Call(u"Delete", {u"IIsFilters", u"Filters"});
    service.Call(u"Delete", {u"IIsWebInfo", u"Info"});
    // Children: 1 2 5 9 7 8 3 -> seven; number 8 is taken.
    LogWatch log;
    EXPECT_EQ(Add(u"late"), 4);
    const auto lines = log.NewLines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(MessageOf(lines[0]).rfind("错误号：-2147024713，错误源：", 0), 0u) << lines[0];
    EXPECT_EQ(Site(8).Get(u"ServerComment").Text(), u"ONE");
}

TEST_F(PostWebSitTest, ProductsThatOverflowSkipTheirWriteOnly) {
    LogWatch log;
    EXPECT_EQ(Add(u"wide", 2097151, 2147483), 0);
    EXPECT_EQ(Site(1).Get(u"MaxBandwidth").Long(), 2147482624);
    EXPECT_EQ(Site(1).Get(u"CpuLimitLogEvent").Long(), 2147483000);
    EXPECT_EQ(Add(u"wider", 2097152, 1), 4);
    const auto lines = log.NewLines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(MessageOf(lines[0]).rfind("错误号：6，错误源：", 0), 0u) << lines[0];
    EXPECT_EQ(ErrorNumber([] { Site(2).Get(u"MaxBandwidth"); }), static_cast<std::int32_t>(0x8000500Du));
    EXPECT_EQ(Site(2).Get(u"CpuLimitLogEvent").Long(), 1000);
    EXPECT_EQ(Site(2).Get(u"ServerState").Long(), 2);  // the rest of ADD went on

    // EDIT clears its failures: 0, no line, the old value kept.
    EXPECT_EQ(PostWebSit(u"EDIT", u"wide", u"", u"", u"", u"", u"", u"", 0, 0, 1, 2147484, u"", u""), 0);
    EXPECT_EQ(Site(1).Get(u"CpuLimitLogEvent").Long(), 2147483000);
    EXPECT_EQ(Site(1).Get(u"MaxBandwidth").Long(), 1024);
    EXPECT_EQ(log.NewLines().size(), 1u);
}

TEST_F(PostWebSitTest, EditWithOnlyTheNameRewritesEverySetting) {
    ASSERT_EQ(Add(u"alpha"), 0);
    EXPECT_EQ(Act(u"EDIT", u"ALPHA"), 0);
    const Object site = Site(1);
    EXPECT_EQ(site.Get(u"ServerComment").Text(), u"ALPHA");
    EXPECT_TRUE(site.Get(u"ServerBindings").TextList().empty());
    EXPECT_TRUE(site.Get(u"ScriptMaps").TextList().empty());
    EXPECT_EQ(site.Get(u"DefaultDoc").Text(), u"");
    EXPECT_EQ(site.Get(u"MaxConnections").Long(), 0);
    EXPECT_EQ(site.Get(u"MaxBandwidth").Long(), 0);
    EXPECT_EQ(site.Get(u"ServerState").Long(), 2);  // neither started nor stopped
    const Object root = GetObject(u"IIS://localhost/W3SVC/1/Root");
    EXPECT_EQ(root.Get(u"Path").Text(), u"");
    EXPECT_FALSE(root.Get(u"AccessRead").Bool());
    EXPECT_FALSE(root.Get(u"AccessWrite").Bool());
    EXPECT_TRUE(root.Get(u"AccessScript").Bool());

    // Lower-case letters are not access letters; a missing root fails its
    // writes, which EDIT clears.
    EXPECT_EQ(PostWebSit(u"EDIT", u"alpha", u"", u"", u"", u"", u"rwd", u"", 0, 0, 0, 0, u"", u""), 0);
    EXPECT_FALSE(GetObject(u"IIS://localhost/W3SVC/1/Root").Get(u"AccessRead").Bool());
    Site(1).Call(u"Delete", {u"IIsWebVirtualDir", u"ROOT"});
    LogWatch log;
    EXPECT_EQ(Act(u"EDIT", u"alpha"), 0);
    EXPECT_TRUE(log.NewLines().empty());
}

TEST_F(PostWebSitTest, ComputerNameUnavailableOrDefault) {
    test::WriteBytes(machine.path() / "machine.ini", "[Machine]\r\nComputerName=\r\nCodePage=936\r\n");
    LogWatch log;
    EXPECT_EQ(Add(u"alpha"), 1);
    const auto lines = log.NewLines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(MessageOf(lines[0]), "错误号：1，错误源：计算机 ，错误描述：不能取得计算机名");

    // Without the key the host's name is the computer's, and the directory answers to it.
    test::WriteBytes(machine.path() / "machine.ini", "[Machine]\r\nCodePage=936\r\n");
    EXPECT_EQ(Add(u"alpha"), 0);
    EXPECT_EQ(Act(u"ISSEARCH", u"alpha"), 0);
}

// Concurrent ADDs of different names: each gets a number of its own.
TEST_F(PostWebSitTest, ConcurrentAddsOfDifferentNamesAllSucceed) {
    constexpr int kThreads = 4;
    constexpr int kEach = 3;
    std::vector<std::thread> threads;
    std::vector<int> failures(kThreads, 0);
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t, &failures] {
            for (int k = 0; k < kEach; ++k) {
                const std::string name = "site" + std::to_string(t) + "_" + std::to_string(k);
                if (Add(std::u16string(name.begin(), name.end())) != 0) ++failures[static_cast<size_t>(t)];
            }
        });
    }
    for (auto& thread : threads) thread.join();
    for (int f : failures) EXPECT_EQ(f, 0);
    EXPECT_EQ(GetObject(u"IIS://localhost/W3SVC").Children().size(), static_cast<size_t>(kThreads * kEach));
}

}  // namespace
}  // namespace quorvel::web
