// The `quorvel` script host: the commands and what they share.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/com.h"
#include "quorvel_interface.h"

namespace quorvel::cli {

// Exit statuses (sysexits.h values).
inline constexpr int kExitOk = 0;
inline constexpr int kExitUsage = 64;
inline constexpr int kExitUnavailable = 69;
inline constexpr int kExitCannotCreate = 73;

using Args = std::vector<std::string>;

int RunHelp(const Args& args);
int RunInit(const Args& args);
int RunRegsvr(const Args& args);
int RunCall(const Args& args);
int RunMethods(const Args& args);
int RunWebmail(const Args& args);
int RunAdsi(const Args& args);
int RunVersion();

// `quorvel --help`: the host's usage, its environment, exit statuses and
// where the reference is.
int PrintHostHelp();
// `quorvel COMMAND --help`: the command's section of the host's reference, on stdout.
int PrintCommandHelp(std::string_view command);
// Whether args ask for the command's help (--help or -h among them).
bool AsksForHelp(const Args& args);
// "quorvel COMMAND: MESSAGE" and the command's usage lines on stderr; 64.
int CommandUsageError(std::string_view command, const std::string& message);

// The machine folder a command works on, which must exist and be writable:
// a mistyped --machine is an error, not a new empty machine. 0, or the exit
// status after a message naming the folder and the system's reason.
int RequireMachine(std::string_view command);
// The same, made first when it does not exist (regsvr, init).
int PrepareMachine(std::string_view command);

// The arguments of one `quorvel call`, as given.
struct CallArguments {
    std::vector<std::string> positional;
    std::vector<std::pair<std::string, std::string>> named;
    // The one named `name` (any letter case), else the one at `position`, else "".
    std::string Get(std::size_t position, std::string_view name) const;
};

// Where the component's error log is, and how long, before a call.
struct LogMark {
    std::filesystem::path path;  // empty when the class is not registered
    std::uintmax_t size = 0;
};
LogMark MarkLog();
// On stderr, when `result` is a failure: the lines the call added to the
// log, else what the reference says of the result (or, for GetMailPass's
// empty text, what the host finds missing).
void ExplainResult(std::string_view method, const std::string& result, const LogMark& mark,
                   const CallArguments& args);

// The version a quorvel library file carries, empty when it carries none.
std::string LibraryVersion(const std::string& path);

// "0x80020005", as HRESULTs are written in messages.
std::string HexCode(HRESULT hr);

// "String", "Long" or "Boolean", as the interface listing writes them.
const char* TypeName(ParamType type);

// The library built or installed with this host.
std::string DefaultLibrary();
// Where the host keeps what comes with it: in the build tree the source's
// files, installed the prefix's. The example machine, and the folder of the
// reference (methods.md, methods.txt).
std::filesystem::path ExampleMachine();
std::filesystem::path ReferenceFolder();

}  // namespace quorvel::cli
