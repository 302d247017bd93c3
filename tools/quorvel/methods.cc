// quorvel methods: the interface as the generated table describes it.
#include <cstdio>
#include <string>

#include "quorvel_interface.h"
#include "tools/quorvel/cli.h"
#include "platform/utf8.h"

namespace quorvel::cli {
const char* TypeName(ParamType type) {
    switch (type) {
        case ParamType::String: return "String";
        case ParamType::Long: return "Long";
        case ParamType::Boolean: return "Boolean";
        case ParamType::Variant: return "Variant";
    }
    return "?";
}

int RunMethods(const Args& args) {
    if (AsksForHelp(args)) return PrintCommandHelp("methods");
    if (!args.empty()) return CommandUsageError("methods", "takes no arguments");
    for (const MethodInfo& method : kMethods) {
        std::string line = platform::ToUtf8(method.name);
        line += '\t';
        line += HexCode(method.dispid);
        line += '\t';
        for (int p = 0; p < method.param_count; ++p) {
            const ParamInfo& param = method.params[p];
            if (p > 0) line += ", ";
            if (param.optional) line += "Optional ";
            line += platform::ToUtf8(param.name);
            line += " As ";
            line += TypeName(param.type);
        }
        line += " -> ";
        line += TypeName(method.result);
        std::printf("%s\n", line.c_str());
    }
    return kExitOk;
}

}  // namespace quorvel::cli
