// HTTP requests the component makes: the WinINet calls on Windows, a real
// HTTP client library on POSIX (direct, no cache, bounded time-outs).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
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

// The size of one read of a response body.
inline constexpr std::size_t kHttpReadSize = 4096;

// Takes one piece of a response body as it was read (at most kHttpReadSize
// bytes); answers false to stop reading.
using HttpBodySink = std::function<bool(std::string_view piece)>;

// One GET of `address` (a full URL, in the system code page), agent "http
// generic", direct (no proxy), always from the server (never from a cache).
// The body, whatever the status of the response, goes to `sink` piece by
// piece until it ends, a read fails or the sink says stop. False when the
// Internet handle or the address could not be opened (nothing was read).
bool HttpGet(std::string_view address, const HttpBodySink& sink);

}  // namespace quorvel::platform
