// quorvel call: CreateObject("Quorvel.SiteManage") and one late-bound call,
// the way a script engine makes it: ProgID -> CLSID -> InprocServer32 in the
// registry, the library's DllGetClassObject, IClassFactory::CreateInstance,
// IDispatch::GetIDsOfNames and IDispatch::Invoke.
#include <cstdio>
#include <filesystem>
#include <limits>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

#include "automation/objects.h"
#include "platform/utf8.h"
#include "tools/quorvel/cli.h"

namespace quorvel::cli {
namespace {

struct Named {
    std::string name;
    std::string value;
};

struct CallLine {
    std::string method;
    std::vector<std::string> positional;
    std::vector<Named> named;
};

int Usage(const std::string& message) { return CommandUsageError("call", message); }

int Unavailable(const std::string& message) {
    std::fprintf(stderr, "quorvel call: %s\n", message.c_str());
    return kExitUnavailable;
}

// A failed call whose cause is in the command line.
int BadArgument(const std::string& message) {
    std::fprintf(stderr, "quorvel call: %s\n", message.c_str());
    return kExitUsage;
}

std::optional<CallLine> Parse(const Args& args, std::string& error) {
    CallLine line;
    bool only_positional = false;
    for (const std::string& arg : args) {
        if (line.method.empty()) {
            if (arg.rfind("--", 0) == 0) {
                error = "the method comes before its arguments";
                return std::nullopt;
            }
            line.method = arg;
            continue;
        }
        if (!only_positional && arg == "--") {
            only_positional = true;  // what follows may begin with "--"
        } else if (!only_positional && arg.rfind("--", 0) == 0) {
            const std::size_t eq = arg.find('=');
            if (eq == std::string::npos || eq == 2) {
                error = "a named argument is written --PARAM=VALUE, not " + arg;
                return std::nullopt;
            }
            line.named.push_back({arg.substr(2, eq - 2), arg.substr(eq + 1)});
        } else {
            line.positional.push_back(arg);
        }
    }
    if (line.method.empty()) {
        error = "no method given";
        return std::nullopt;
    }
    return line;
}

class ExceptionInfo {
public:
    ExceptionInfo() : info_{} {}
    ~ExceptionInfo() {
        SysFreeString(info_.bstrSource);
        SysFreeString(info_.bstrDescription);
        SysFreeString(info_.bstrHelpFile);
    }
    ExceptionInfo(const ExceptionInfo&) = delete;
    ExceptionInfo& operator=(const ExceptionInfo&) = delete;
    EXCEPINFO* get() { return &info_; }

private:
    EXCEPINFO info_;
};

std::string Text(BSTR text) { return platform::ToUtf8({text == nullptr ? u"" : text, SysStringLen(text)}); }

const MethodInfo* MethodOf(DISPID id) {
    for (const MethodInfo& m : kMethods) {
        if (m.dispid == id) return &m;
    }
    return nullptr;
}

// The component, created as a script creates it (the seam's CreateObject:
// ProgID -> CLSID -> library -> DllGetClassObject -> IClassFactory).
int Activate(automation::Object& out) {
    try {
        out = automation::CreateObject(kProgId);
        return kExitOk;
    } catch (const StepError& error) {
        return Unavailable(error.detail.empty() ? platform::ToUtf8(error.description) : error.detail);
    }
}

// "argument 2 (FtpUser)" or "argument --FtpUser", for the rgvarg index the
// component reported.
std::string DescribeArgument(const CallLine& line, const MethodInfo* method, UINT index, std::string* value) {
    const std::size_t named = line.named.size();
    const std::size_t total = named + line.positional.size();
    if (index < named) {
        if (value != nullptr) *value = line.named[index].value;
        return "argument --" + line.named[index].name;
    }
    if (index >= total) return "an argument";
    const std::size_t position = total - 1 - index;
    if (value != nullptr) *value = line.positional[position];
    std::string text = "argument " + std::to_string(position + 1);
    if (method != nullptr && position < static_cast<std::size_t>(method->param_count)) {
        text += " (" + platform::ToUtf8(method->params[position].name) + ")";
    }
    return text;
}

const ParamInfo* ParamOf(const CallLine& line, const MethodInfo* method, const std::vector<DISPID>& ids,
                         UINT index) {
    if (method == nullptr) return nullptr;
    const std::size_t named = line.named.size();
    DISPID position = -1;
    if (index < named) {
        position = ids[index + 1];
    } else if (index < named + line.positional.size()) {
        position = static_cast<DISPID>(named + line.positional.size() - 1 - index);
    }
    if (position < 0 || position >= method->param_count) return nullptr;
    return &method->params[position];
}

std::string RequiredList(const MethodInfo& method) {
    std::string list;
    int required = 0;
    for (int p = 0; p < method.param_count; ++p) {
        if (method.params[p].optional) continue;
        if (required++ > 0) list += ", ";
        list += platform::ToUtf8(method.params[p].name);
    }
    return std::to_string(required) + " (" + list + ")";
}

// The first required parameter that the call leaves out.
std::string FirstMissing(const CallLine& line, const MethodInfo& method, const std::vector<DISPID>& ids) {
    for (int p = 0; p < method.param_count; ++p) {
        if (method.params[p].optional) continue;
        bool given = static_cast<std::size_t>(p) < line.positional.size();
        for (std::size_t k = 0; k < line.named.size() && !given; ++k) given = ids[k + 1] == p;
        if (!given) return platform::ToUtf8(method.params[p].name);
    }
    return "a required argument";
}

}  // namespace

int RunCall(const Args& args) {
    if (!args.empty() && (args[0] == "--help" || args[0] == "-h")) return PrintCommandHelp("call");
    std::string error;
    const std::optional<CallLine> line = Parse(args, error);
    if (!line) return Usage(error);

    automation::Object component;
    if (const int status = Activate(component); status != kExitOk) return status;

    // The method's and the named arguments' DISPIDs in one request.
    std::vector<std::u16string> names;
    names.push_back(platform::FromUtf8(line->method));
    for (const Named& n : line->named) names.push_back(platform::FromUtf8(n.name));
    std::vector<LPOLESTR> name_ptrs;
    for (std::u16string& n : names) name_ptrs.push_back(n.data());
    std::vector<DISPID> ids(names.size(), DISPID_UNKNOWN);
    HRESULT hr = component.get()->GetIDsOfNames(IID_NULL, name_ptrs.data(), static_cast<UINT>(name_ptrs.size()),
                                                 LOCALE_USER_DEFAULT, ids.data());
    const MethodInfo* method = MethodOf(ids[0]);
    const std::string method_name = method != nullptr ? platform::ToUtf8(method->name) : line->method;
    if (hr == DISP_E_UNKNOWNNAME) {
        if (ids[0] == DISPID_UNKNOWN) {
            return BadArgument("unknown method " + line->method + "; `quorvel methods` lists the methods");
        }
        for (std::size_t k = 0; k < line->named.size(); ++k) {
            if (ids[k + 1] == DISPID_UNKNOWN) {
                return BadArgument(method_name + " has no parameter named " + line->named[k].name +
                                   "; `quorvel methods` lists its parameters");
            }
        }
        return BadArgument("unknown name in the call of " + method_name);
    }
    if (FAILED(hr)) return Unavailable("GetIDsOfNames failed with " + HexCode(hr));

    // rgvarg: the named arguments first, then the positional ones last to first.
    const std::size_t total = line->named.size() + line->positional.size();
    std::vector<automation::Variant> values(total);
    std::vector<DISPID> named_ids(ids.begin() + 1, ids.end());
    for (std::size_t k = 0; k < line->named.size(); ++k) values[k] = automation::Variant(platform::FromUtf8(line->named[k].value));
    for (std::size_t p = 0; p < line->positional.size(); ++p) {
        values[total - 1 - p] = automation::Variant(platform::FromUtf8(line->positional[p]));
    }
    DISPPARAMS params{};
    params.rgvarg = automation::RawArray(values);
    params.cArgs = static_cast<UINT>(total);
    params.rgdispidNamedArgs = named_ids.empty() ? nullptr : named_ids.data();
    params.cNamedArgs = static_cast<UINT>(named_ids.size());

    const LogMark mark = MarkLog();
    automation::Variant result;
    ExceptionInfo exception;
    UINT arg_err = std::numeric_limits<UINT>::max();
    hr = component.get()->Invoke(ids[0], IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, result.out(),
                                  exception.get(), &arg_err);
    if (hr == DISP_E_TYPEMISMATCH || hr == DISP_E_OVERFLOW) {
        std::string value;
        const std::string which = DescribeArgument(*line, method, arg_err, &value);
        const ParamInfo* param = ParamOf(*line, method, ids, arg_err);
        const std::string type = param != nullptr ? TypeName(param->type) : "the parameter's type";
        if (hr == DISP_E_OVERFLOW) {
            return BadArgument(which + " of " + method_name + ": '" + value + "' is out of range for a " + type +
                               (param != nullptr && param->type == ParamType::Long
                                    ? " (-2147483648 to 2147483647)"
                                    : ""));
        }
        std::string hint;
        if (param != nullptr && param->type == ParamType::Long) hint = "; a Long takes a decimal integer";
        if (param != nullptr && param->type == ParamType::Boolean) hint = "; a Boolean takes True, False or a number";
        return BadArgument(which + " of " + method_name + ": '" + value + "' does not convert to " + type + hint);
    }
    if (hr == DISP_E_BADPARAMCOUNT) {
        if (method != nullptr && total > static_cast<std::size_t>(method->param_count)) {
            return BadArgument(method_name + " takes at most " + std::to_string(method->param_count) +
                               " arguments, " + std::to_string(total) + " given");
        }
        return BadArgument(method_name + " needs its required arguments" +
                           (method != nullptr ? ", " + RequiredList(*method) : std::string()) + "; " +
                           std::to_string(total) + " given");
    }
    if (hr == DISP_E_PARAMNOTOPTIONAL) {
        return BadArgument(method_name + ": required argument " +
                           (method != nullptr ? FirstMissing(*line, *method, ids) : std::string("")) +
                           " is missing");
    }
    if (hr == DISP_E_PARAMNOTFOUND) {
        const std::string which = DescribeArgument(*line, method, arg_err, nullptr);
        return BadArgument(which + " of " + method_name + " names a parameter that is already given");
    }
    if (hr == DISP_E_EXCEPTION) {
        const EXCEPINFO& info = *exception.get();
        if (info.scode == E_NOTIMPL) {
            return Unavailable(method_name + " is not built yet in this version of the component");
        }
        return Unavailable(method_name + " failed: " + Text(info.bstrDescription) + " (" + HexCode(info.scode) + ")");
    }
    if (FAILED(hr)) return Unavailable("the call of " + method_name + " failed with " + HexCode(hr));

    std::string output;
    try {
        output = platform::ToUtf8(result.Text());
    } catch (const StepError&) {
        return Unavailable(method_name + " returned a value that cannot be printed");
    }
    std::fwrite(output.data(), 1, output.size(), stdout);
    std::fputc('\n', stdout);
    const bool printed = std::fflush(stdout) == 0;
    CallArguments given{line->positional, {}};
    for (const Named& n : line->named) given.named.emplace_back(n.name, n.value);
    ExplainResult(method_name, output, mark, given);
    return printed ? kExitOk : kExitUnavailable;
}

}  // namespace quorvel::cli
