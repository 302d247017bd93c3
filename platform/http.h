// HTTP requests the component makes: the WinINet calls on Windows, a real
// HTTP client library on POSIX (direct, no cache, bounded time-outs).
#pragma once

#include <cstddef>
#include <functional>
#include <string_view>

namespace quorvel::platform {

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
