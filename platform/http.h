// HTTP requests the component makes: the WinINet calls on Windows, a real
// HTTP client library on POSIX (direct, no cache, bounded time-outs).
#pragma once

#include <cstdint>
#include <string_view>

namespace quorvel::platform {

struct HttpPostResult {
    // The request was sent and a response came back, whatever its status.
    bool sent = false;
    // Why not, when it was not: the Windows error number on Windows, the
    // client library's code on POSIX.
    std::uint32_t error = 0;
};

// One POST of `body` to http://server:port`object`, with the extra header
// lines `headers` (each ended by CR LF, or one line without). The agent
// is "http generic"; nothing of the response is read.
HttpPostResult HttpPost(std::string_view server, std::string_view object, std::uint16_t port,
                        std::string_view headers, std::string_view body);

}  // namespace quorvel::platform
