// quorvel --version: the host's version and that of the library it would
// register, read from the library file without loading it.
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>

#include "quorvel_version.h"
#include "tools/quorvel/cli.h"

namespace quorvel::cli {

std::string LibraryVersion(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return {};
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    constexpr std::string_view kMark = QUORVEL_VERSION_MARK;
    const std::size_t at = bytes.find(kMark);
    if (at == std::string::npos) return {};
    const std::size_t start = at + kMark.size();
    const std::size_t end = bytes.find('\0', start);
    if (end == std::string::npos || end - start > 64) return {};
    return bytes.substr(start, end - start);
}

int RunVersion() {
    std::printf("quorvel %s\n", QUORVEL_VERSION);
    const std::string library = DefaultLibrary();
    const std::string version = LibraryVersion(library);
    std::printf("library %s: %s\n", library.c_str(),
                version.empty() ? "not found or not a quorvel library" : version.c_str());
    return kExitOk;
}

}  // namespace quorvel::cli
