// Base64 of bytes (RFC 4648, with padding, no line breaks).
#pragma once

#include <string>
#include <string_view>

namespace quorvel::platform {

std::string Base64(std::string_view bytes);

}  // namespace quorvel::platform
