// quorvel adsi: the directory stand-ins administered by ADsPath, through the
// same object layer and objects the component reaches.
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "automation/objects.h"
#include "platform/utf8.h"
#include "tools/quorvel/cli.h"

namespace quorvel::cli {
namespace {

constexpr int kExitFailed = 1;

using platform::FromUtf8;
using automation::Object;
using platform::ToUtf8;
using automation::Value;
using automation::Variant;

int Usage(const std::string& message) { return CommandUsageError("adsi", message); }

void PrintLine(const std::u16string& text) {
    const std::string bytes = ToUtf8(text);
    std::fwrite(bytes.data(), 1, bytes.size(), stdout);
    std::fputc('\n', stdout);
}

// A scalar on one line; a list one line per element, an empty list no line.
void PrintValue(const Value& value) {
    if (value.IsArray()) {
        for (const std::u16string& item : value.TextList()) PrintLine(item);
    } else {
        PrintLine(value.Display());
    }
}

std::optional<Variant> Typed(const std::string& type, const std::vector<std::string>& values, std::string& error) {
    if (type == "--list") {
        std::vector<std::u16string> list;
        for (const std::string& v : values) list.push_back(FromUtf8(v));
        return Variant(list);
    }
    if (values.size() != 1) {
        error = "one value, or --list for several";
        return std::nullopt;
    }
    const Variant text(FromUtf8(values[0]));
    try {
        if (type == "--string") return text;
        if (type == "--long") return Variant(text.Long());
        if (type == "--bool") return Variant(text.Bool());
    } catch (const StepError&) {
        error = "'" + values[0] + "' is not a " + (type == "--long" ? "32-bit integer" : "Boolean (True, False or a number)");
        return std::nullopt;
    }
    error = "unknown type " + type;
    return std::nullopt;
}

int Run(const Args& args) {
    const std::string& verb = args[0];
    const std::size_t n = args.size() - 1;
    if (verb == "enum") {
        if (n != 1) return Usage("enum takes PATH");
        for (const Object& child : automation::GetObject(FromUtf8(args[1])).Children()) {
            PrintLine(child.Get(u"Name").Text() + u"\t" + child.Get(u"Class").Text());
        }
        return kExitOk;
    }
    if (verb == "get") {
        if (n != 2) return Usage("get takes PATH PROPERTY");
        PrintValue(automation::GetObject(FromUtf8(args[1])).Get(FromUtf8(args[2])));
        return kExitOk;
    }
    if (verb == "set") {
        if (n < 3) return Usage("set takes PATH PROPERTY [--string|--long|--bool|--list] VALUE...");
        std::string type = "--string";
        std::size_t first = 3;
        if (args[3] == "--string" || args[3] == "--long" || args[3] == "--bool" || args[3] == "--list") {
            type = args[3];
            first = 4;
        } else if (args[3].rfind("--", 0) == 0) {
            return Usage("unknown type " + args[3]);
        }
        std::string error;
        const std::optional<Variant> value =
            Typed(type, std::vector<std::string>(args.begin() + static_cast<std::ptrdiff_t>(first), args.end()), error);
        if (!value) return Usage(error);
        const Object object = automation::GetObject(FromUtf8(args[1]));
        object.Put(FromUtf8(args[2]), *value);
        object.Call(u"SetInfo");
        return kExitOk;
    }
    if (verb == "create" || verb == "delete") {
        if (n != 3) return Usage(verb + " takes PATH CLASS NAME");
        const Object parent = automation::GetObject(FromUtf8(args[1]));
        if (verb == "create") {
            parent.Call(u"Create", {FromUtf8(args[2]), FromUtf8(args[3])}).AsObject().Call(u"SetInfo");
        } else {
            parent.Call(u"Delete", {FromUtf8(args[2]), FromUtf8(args[3])});
        }
        return kExitOk;
    }
    if (verb == "call") {
        if (n < 2) return Usage("call takes PATH METHOD [ARG...]");
        std::vector<Variant> call_args;
        for (std::size_t i = 3; i < args.size(); ++i) call_args.emplace_back(FromUtf8(args[i]));
        const Value result = automation::GetObject(FromUtf8(args[1])).Call(FromUtf8(args[2]), call_args);
        if (!result.empty()) PrintValue(result);
        return kExitOk;
    }
    return Usage("unknown verb " + verb);
}

}  // namespace

int RunAdsi(const Args& args) {
    if (args.empty()) return Usage("no verb given");
    try {
        const int status = Run(args);
        return std::fflush(stdout) == 0 ? status : kExitFailed;
    } catch (const StepError& error) {
        std::fprintf(stderr, "quorvel adsi: error %d (%s), source %s: %s\n", error.number,
                     HexCode(error.number).c_str(), ToUtf8(error.source).c_str(), ToUtf8(error.description).c_str());
        if (!error.detail.empty()) std::fprintf(stderr, "quorvel adsi: %s\n", error.detail.c_str());
        return kExitFailed;
    }
}

}  // namespace quorvel::cli
