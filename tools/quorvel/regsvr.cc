// quorvel regsvr: what regsvr32 does, on the machine folder's registry.
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>

#include "platform/posix/runtime/machine_folder.h"
#include "platform/posix/runtime/shared_library.h"
#include "tools/quorvel/cli.h"

namespace quorvel::cli {

int RunRegsvr(const Args& args) {
    if (AsksForHelp(args)) return PrintCommandHelp("regsvr");
    bool unregister = false;
    std::string library;
    for (const std::string& arg : args) {
        if (arg == "-u" || arg == "/u") {
            unregister = true;
        } else if (!arg.empty() && arg[0] == '-') {
            return CommandUsageError("regsvr", "unknown option " + arg);
        } else if (library.empty()) {
            library = arg;
        } else {
            return CommandUsageError("regsvr", "one library at a time");
        }
    }
    if (library.empty()) library = DefaultLibrary();
    if (const int status = PrepareMachine("regsvr"); status != kExitOk) return status;

    // Registered by its full path, as the loader will be asked for it later.
    std::error_code ec;
    const std::filesystem::path path = std::filesystem::weakly_canonical(std::filesystem::absolute(library, ec), ec);
    if (ec || !std::filesystem::is_regular_file(path, ec)) {
        std::fprintf(stderr, "quorvel regsvr: library %s does not exist; build it or name the right file\n",
                     library.c_str());
        return kExitUnavailable;
    }
    posix::SharedLibrary module;
    std::string error;
    if (!module.Open(path.string(), error)) {
        std::fprintf(stderr, "quorvel regsvr: cannot load %s: %s\n", path.c_str(), error.c_str());
        return kExitUnavailable;
    }
    const char* entry = unregister ? "DllUnregisterServer" : "DllRegisterServer";
    auto* function = reinterpret_cast<HRESULT (*)()>(module.Symbol(entry));
    if (function == nullptr) {
        std::fprintf(stderr, "quorvel regsvr: %s has no %s entry point; it is not a COM server library\n",
                     path.c_str(), entry);
        return kExitUnavailable;
    }
    const HRESULT hr = function();
    const std::string machine = posix::MachineFolder().string();
    if (FAILED(hr)) {
        std::fprintf(stderr, "quorvel regsvr: %s of %s failed with %s; check that %s is writable\n", entry,
                     path.c_str(), HexCode(hr).c_str(), machine.c_str());
        return kExitUnavailable;
    }
    if (unregister) {
        std::printf("unregistered %s from machine %s\n", path.c_str(), machine.c_str());
    } else {
        std::printf("registered %s on machine %s\n", path.c_str(), machine.c_str());
    }
    return kExitOk;
}

}  // namespace quorvel::cli
