// PBKDF2-HMAC-SHA256 through BCrypt, with a random salt:
// "$pbkdf2-sha256$ROUNDS$SALT$HASH", salt and hash in hexadecimal.
#include "platform/password.h"

#include <windows.h>
#include <bcrypt.h>

#include <cstdio>
#include <vector>

#include "platform/utf8.h"

namespace quorvel::platform {
namespace {

constexpr ULONGLONG kRounds = 210000;
constexpr size_t kSaltBytes = 16;
constexpr size_t kHashBytes = 32;
constexpr char kMethod[] = "$pbkdf2-sha256$";

class Algorithm {
public:
    Algorithm() {
        if (BCryptOpenAlgorithmProvider(&handle_, BCRYPT_SHA256_ALGORITHM, nullptr, BCRYPT_ALG_HANDLE_HMAC_FLAG) != 0)
            handle_ = nullptr;
    }
    ~Algorithm() {
        if (handle_ != nullptr) BCryptCloseAlgorithmProvider(handle_, 0);
    }
    Algorithm(const Algorithm&) = delete;
    Algorithm& operator=(const Algorithm&) = delete;
    BCRYPT_ALG_HANDLE get() const { return handle_; }

private:
    BCRYPT_ALG_HANDLE handle_ = nullptr;
};

std::string Hex(const std::vector<unsigned char>& bytes) {
    std::string out;
    char two[3];
    for (unsigned char b : bytes) {
        std::snprintf(two, sizeof two, "%02x", b);
        out += two;
    }
    return out;
}

std::optional<std::vector<unsigned char>> FromHex(std::string_view text) {
    if (text.size() % 2 != 0) return std::nullopt;
    std::vector<unsigned char> out;
    for (size_t i = 0; i < text.size(); i += 2) {
        unsigned value = 0;
        for (size_t j = i; j < i + 2; ++j) {
            const char c = text[j];
            value <<= 4;
            if (c >= '0' && c <= '9') value |= static_cast<unsigned>(c - '0');
            else if (c >= 'a' && c <= 'f') value |= static_cast<unsigned>(c - 'a' + 10);
            else return std::nullopt;
        }
        out.push_back(static_cast<unsigned char>(value));
    }
    return out;
}

std::optional<std::vector<unsigned char>> Derive(std::u16string_view password, std::vector<unsigned char> salt,
                                                 ULONGLONG rounds) {
    const Algorithm algorithm;
    if (algorithm.get() == nullptr) return std::nullopt;
    std::string phrase = ToUtf8(password);
    std::vector<unsigned char> hash(kHashBytes);
    const NTSTATUS status = BCryptDeriveKeyPBKDF2(
        algorithm.get(), reinterpret_cast<PUCHAR>(phrase.data()), static_cast<ULONG>(phrase.size()), salt.data(),
        static_cast<ULONG>(salt.size()), rounds, hash.data(), static_cast<ULONG>(hash.size()), 0);
    SecureZeroMemory(phrase.data(), phrase.size());
    if (status != 0) return std::nullopt;
    return hash;
}

}  // namespace

std::optional<std::string> HashPassword(std::u16string_view password) {
    std::vector<unsigned char> salt(kSaltBytes);
    if (BCryptGenRandom(nullptr, salt.data(), static_cast<ULONG>(salt.size()), BCRYPT_USE_SYSTEM_PREFERRED_RNG) != 0)
        return std::nullopt;
    const auto hash = Derive(password, salt, kRounds);
    if (!hash) return std::nullopt;
    return kMethod + std::to_string(kRounds) + "$" + Hex(salt) + "$" + Hex(*hash);
}

bool PasswordMatches(std::u16string_view password, const std::string& stored) {
    const std::string_view text(stored);
    if (text.substr(0, sizeof kMethod - 1) != kMethod) return false;
    const std::string_view rest = text.substr(sizeof kMethod - 1);
    const size_t first = rest.find('$');
    const size_t second = first == std::string_view::npos ? first : rest.find('$', first + 1);
    if (second == std::string_view::npos) return false;
    ULONGLONG rounds = 0;
    for (char c : rest.substr(0, first)) {
        if (c < '0' || c > '9') return false;
        rounds = rounds * 10 + static_cast<ULONGLONG>(c - '0');
    }
    const auto salt = FromHex(rest.substr(first + 1, second - first - 1));
    const auto expected = FromHex(rest.substr(second + 1));
    if (!salt || !expected || rounds == 0) return false;
    const auto hash = Derive(password, *salt, rounds);
    if (!hash || hash->size() != expected->size()) return false;
    unsigned char difference = 0;
    for (size_t i = 0; i < hash->size(); ++i) difference |= static_cast<unsigned char>((*hash)[i] ^ (*expected)[i]);
    return difference == 0;
}

}  // namespace quorvel::platform
