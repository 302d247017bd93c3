// HttpPost over libcurl. The request carries what WinINet sends for the same
// calls: the header lines given, Host, the agent, Content-Length, and a
// reload's no-cache; curl's own Accept and Expect are left out, so the body
// goes with the headers as WinINet sends it.
#include <string>

#include "platform/http.h"
#include "platform/posix/curl.h"

namespace quorvel::platform {
namespace {

// A host name or an address; anything else would change the URL's meaning.
bool IsPlainHost(std::string_view server) {
    if (server.empty()) return false;
    if (server.front() == '[') return server.back() == ']' && server.find_first_of("/?#@ ") == std::string_view::npos;
    for (const char c : server) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' ||
                        c == '-' || c == '_';
        if (!ok) return false;
    }
    return true;
}

size_t Discard(char*, size_t size, size_t count, void*) { return size * count; }

}  // namespace

HttpPostResult HttpPost(std::string_view server, std::string_view object, std::uint16_t port,
                        std::string_view headers, std::string_view body) {
    if (!IsPlainHost(server) || object.empty() || object.front() != '/' || port == 0)
        return {false, CURLE_URL_MALFORMAT};
    const std::string url = "http://" + std::string(server) + ":" + std::to_string(port) + std::string(object);
    posix::CurlHandle curl = posix::NewHttpRequest(url.c_str());
    if (!curl) return {false, CURLE_FAILED_INIT};

    const posix::CurlLibrary& lib = *posix::Curl();
    // A line that cannot be added fails the request, rather than lose the
    // lines before it.
    posix::CurlList list;
    const auto append = [&](const std::string& line) {
        curl_slist* more = lib.slist_append(list.get(), line.c_str());
        if (more == nullptr) return false;
        list.release();
        list.reset(more);
        return true;
    };
    size_t start = 0;
    while (start < headers.size()) {
        size_t end = headers.find("\r\n", start);
        if (end == std::string_view::npos) end = headers.size();
        if (end > start && !append(std::string(headers.substr(start, end - start)))) return {false, CURLE_OUT_OF_MEMORY};
        start = end + 2;
    }
    for (const char* line : {"Cache-Control: no-cache", "Accept:", "Expect:"})
        if (!append(line)) return {false, CURLE_OUT_OF_MEMORY};

    CURL* c = curl.get();
    bool ok = posix::CurlSet(c, CURLOPT_HTTPHEADER, list.get()) == CURLE_OK;
    ok = ok && posix::CurlSet(c, CURLOPT_POST, 1L) == CURLE_OK;
    ok = ok && posix::CurlSet(c, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size())) == CURLE_OK;
    ok = ok && posix::CurlSet(c, CURLOPT_POSTFIELDS, body.data()) == CURLE_OK;
    ok = ok && posix::CurlSet(c, CURLOPT_WRITEFUNCTION, &Discard) == CURLE_OK;
    if (!ok) return {false, CURLE_FAILED_INIT};
    const CURLcode result = lib.easy_perform(c);
    if (result != CURLE_OK) return {false, static_cast<std::uint32_t>(result)};
    return {true, 0};
}

}  // namespace quorvel::platform
