// Secrets of the POSIX metabase, sealed with AES-256-GCM under a key of the
// machine's own: metabase.key in the machine folder, 32 random bytes made on
// first use and readable by its owner only. A sealed value is base64 of
// nonce, ciphertext and tag; a copy of metabase.db (or of one of its
// backups) shows no password without that key.
#include <fcntl.h>
#include <openssl/evp.h>
#include <openssl/rand.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <memory>
#include <mutex>

#include "platform/base64.h"
#include "platform/posix/atomic_file.h"
#include "platform/posix/runtime/machine_folder.h"
#include "standins/iis/metabase.h"

namespace quorvel::iis {
namespace {

constexpr size_t kKeyBytes = 32;
constexpr size_t kNonceBytes = 12;
constexpr size_t kTagBytes = 16;

using posix::UniqueFd;

std::optional<std::string> ReadKey(const std::string& path) {
    const UniqueFd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd) return std::nullopt;
    std::string key(kKeyBytes, '\0');
    if (read(fd.get(), key.data(), kKeyBytes) != static_cast<ssize_t>(kKeyBytes)) return std::nullopt;
    return key;
}

// Made whole beside and linked into place, so that two first uses at once
// agree on one key.
std::optional<std::string> MakeKey(const std::string& path) {
    std::string key(kKeyBytes, '\0');
    if (RAND_bytes(reinterpret_cast<unsigned char*>(key.data()), static_cast<int>(kKeyBytes)) != 1) return std::nullopt;
    const std::string temp = path + "." + std::to_string(getpid());
    {
        const UniqueFd fd(open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
        if (!fd) return std::nullopt;
        if (write(fd.get(), key.data(), kKeyBytes) != static_cast<ssize_t>(kKeyBytes) || fsync(fd.get()) != 0) {
            unlink(temp.c_str());
            return std::nullopt;
        }
    }
    const bool linked = link(temp.c_str(), path.c_str()) == 0;
    unlink(temp.c_str());
    return linked ? key : ReadKey(path);
}

// The key of the current machine folder, kept once read.
std::optional<std::string> MachineKey() {
    static std::mutex mutex;
    static std::map<std::string, std::string> keys;
    const std::string folder = posix::MachineFolderString();
    if (folder.empty()) return std::nullopt;
    std::lock_guard lock(mutex);
    if (const auto it = keys.find(folder); it != keys.end()) return it->second;
    const std::string path = folder + "/metabase.key";
    auto key = ReadKey(path);
    if (!key) key = MakeKey(path);
    if (key) keys[folder] = *key;
    return key;
}

struct CipherFree {
    void operator()(EVP_CIPHER_CTX* ctx) const { EVP_CIPHER_CTX_free(ctx); }
};
using Cipher = std::unique_ptr<EVP_CIPHER_CTX, CipherFree>;

const unsigned char* Bytes(const std::string& text) { return reinterpret_cast<const unsigned char*>(text.data()); }
unsigned char* Bytes(std::string& text) { return reinterpret_cast<unsigned char*>(text.data()); }

std::optional<std::string> Unbase64(std::string_view text) {
    if (text.size() % 4 != 0) return std::nullopt;
    std::string bytes(text.size() / 4 * 3, '\0');
    const int length = EVP_DecodeBlock(Bytes(bytes), reinterpret_cast<const unsigned char*>(text.data()),
                                       static_cast<int>(text.size()));
    if (length < 0) return std::nullopt;
    size_t padding = 0;
    while (padding < 2 && padding < text.size() && text[text.size() - 1 - padding] == '=') ++padding;
    bytes.resize(static_cast<size_t>(length) - padding);
    return bytes;
}

}  // namespace

std::optional<std::string> SealSecret(std::string_view plain) {
    const auto key = MachineKey();
    if (!key) return std::nullopt;
    std::string nonce(kNonceBytes, '\0');
    if (RAND_bytes(Bytes(nonce), static_cast<int>(kNonceBytes)) != 1) return std::nullopt;
    const Cipher ctx(EVP_CIPHER_CTX_new());
    std::string sealed(plain.size(), '\0');
    std::string tag(kTagBytes, '\0');
    int length = 0;
    int final_length = 0;
    if (!ctx || EVP_EncryptInit_ex(ctx.get(), EVP_aes_256_gcm(), nullptr, Bytes(*key), Bytes(nonce)) != 1 ||
        EVP_EncryptUpdate(ctx.get(), Bytes(sealed), &length, reinterpret_cast<const unsigned char*>(plain.data()),
                          static_cast<int>(plain.size())) != 1 ||
        EVP_EncryptFinal_ex(ctx.get(), Bytes(sealed) + length, &final_length) != 1 ||
        EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_GET_TAG, static_cast<int>(kTagBytes), tag.data()) != 1)
        return std::nullopt;
    sealed.resize(static_cast<size_t>(length + final_length));
    return platform::Base64(nonce + sealed + tag);
}

std::optional<std::string> OpenSecret(std::string_view text) {
    const auto key = MachineKey();
    const auto bytes = Unbase64(text);
    if (!key || !bytes || bytes->size() < kNonceBytes + kTagBytes) return std::nullopt;
    const std::string nonce = bytes->substr(0, kNonceBytes);
    const std::string sealed = bytes->substr(kNonceBytes, bytes->size() - kNonceBytes - kTagBytes);
    std::string tag = bytes->substr(bytes->size() - kTagBytes);
    const Cipher ctx(EVP_CIPHER_CTX_new());
    std::string plain(sealed.size(), '\0');
    int length = 0;
    int final_length = 0;
    if (!ctx || EVP_DecryptInit_ex(ctx.get(), EVP_aes_256_gcm(), nullptr, Bytes(*key), Bytes(nonce)) != 1 ||
        EVP_DecryptUpdate(ctx.get(), Bytes(plain), &length, Bytes(sealed), static_cast<int>(sealed.size())) != 1 ||
        EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_SET_TAG, static_cast<int>(kTagBytes), tag.data()) != 1 ||
        EVP_DecryptFinal_ex(ctx.get(), Bytes(plain) + length, &final_length) != 1)
        return std::nullopt;
    plain.resize(static_cast<size_t>(length + final_length));
    return plain;
}

}  // namespace quorvel::iis
