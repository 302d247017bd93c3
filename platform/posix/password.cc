// yescrypt through libcrypt, the hashing of the system's own passwords.
#include "platform/password.h"

#include <crypt.h>

#include <cstring>
#include <memory>

#include "platform/utf8.h"

namespace quorvel::platform {
namespace {

// crypt_rn's work area is large; it lives on the heap.
std::optional<std::string> Crypt(const std::string& phrase, const char* setting) {
    auto data = std::make_unique<crypt_data>();
    const char* hash = crypt_rn(phrase.c_str(), setting, data.get(), sizeof(crypt_data));
    if (hash == nullptr || hash[0] == '*') return std::nullopt;
    return std::string(hash);
}

}  // namespace

std::optional<std::string> HashPassword(std::u16string_view password) {
    char setting[CRYPT_GENSALT_OUTPUT_SIZE];
    if (crypt_gensalt_rn("$y$", 0, nullptr, 0, setting, sizeof setting) == nullptr) return std::nullopt;
    return Crypt(ToUtf8(password), setting);
}

bool PasswordMatches(std::u16string_view password, const std::string& stored) {
    if (stored.empty()) return false;
    const auto hash = Crypt(ToUtf8(password), stored.c_str());
    return hash && hash->size() == stored.size() && std::memcmp(hash->data(), stored.data(), stored.size()) == 0;
}

}  // namespace quorvel::platform
