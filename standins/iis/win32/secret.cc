// Secrets of the Windows metabase, sealed with the system's data protection
// in its machine-wide form (any account of this machine may open them, no
// other machine can), base64 in the file.
#include <windows.h>
#include <wincrypt.h>

#include "platform/base64.h"
#include "standins/iis/metabase.h"

namespace quorvel::iis {
namespace {

class LocalBlob {
public:
    LocalBlob() = default;
    ~LocalBlob() {
        if (blob.pbData != nullptr) LocalFree(blob.pbData);
    }
    LocalBlob(const LocalBlob&) = delete;
    LocalBlob& operator=(const LocalBlob&) = delete;
    DATA_BLOB blob{};
};

DATA_BLOB BlobOf(std::string_view bytes) {
    return DATA_BLOB{static_cast<DWORD>(bytes.size()), reinterpret_cast<BYTE*>(const_cast<char*>(bytes.data()))};
}

std::optional<std::string> Unbase64(std::string_view text) {
    DWORD size = 0;
    if (!CryptStringToBinaryA(text.data(), static_cast<DWORD>(text.size()), CRYPT_STRING_BASE64, nullptr, &size,
                              nullptr, nullptr))
        return std::nullopt;
    std::string bytes(size, '\0');
    if (!CryptStringToBinaryA(text.data(), static_cast<DWORD>(text.size()), CRYPT_STRING_BASE64,
                              reinterpret_cast<BYTE*>(bytes.data()), &size, nullptr, nullptr))
        return std::nullopt;
    bytes.resize(size);
    return bytes;
}

}  // namespace

std::optional<std::string> SealSecret(std::string_view plain) {
    DATA_BLOB in = BlobOf(plain);
    LocalBlob out;
    if (!CryptProtectData(&in, L"", nullptr, nullptr, nullptr, CRYPTPROTECT_LOCAL_MACHINE | CRYPTPROTECT_UI_FORBIDDEN,
                          &out.blob))
        return std::nullopt;
    return platform::Base64(std::string_view(reinterpret_cast<const char*>(out.blob.pbData), out.blob.cbData));
}

std::optional<std::string> OpenSecret(std::string_view sealed) {
    const auto bytes = Unbase64(sealed);
    if (!bytes) return std::nullopt;
    DATA_BLOB in = BlobOf(*bytes);
    LocalBlob out;
    if (!CryptUnprotectData(&in, nullptr, nullptr, nullptr, nullptr, CRYPTPROTECT_UI_FORBIDDEN, &out.blob))
        return std::nullopt;
    return std::string(reinterpret_cast<const char*>(out.blob.pbData), out.blob.cbData);
}

}  // namespace quorvel::iis
