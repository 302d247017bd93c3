// MD5 (RFC 1321) in lower-case hexadecimal: the FTP and webmail password
// digests and the salted digests of the intent records.
#pragma once

#include <string>
#include <string_view>

namespace quorvel {

// The digest of `bytes` as 32 lower-case hexadecimal digits.
std::string Md5HexOfBytes(std::string_view bytes);

// The digest of a text taken in the system code page, one byte per
// single-byte character (two for a double-byte one).
std::u16string Md5Hex(std::u16string_view text);

}  // namespace quorvel
