// HttpGet over libcurl.
#include <exception>
#include <memory>
#include <string>

#include "platform/http.h"
#include "platform/posix/curl.h"
#include "platform/time_limits.h"

namespace quorvel::platform {
namespace {

struct Transfer {
    const HttpBodySink* sink;
    bool received = false;
    std::exception_ptr failure;
};

// An exception cannot cross libcurl: it is kept and thrown again after.
size_t OnBody(char* data, size_t size, size_t count, void* user) {
    auto* transfer = static_cast<Transfer*>(user);
    const size_t length = size * count;
    transfer->received = true;
    try {
        if (!(*transfer->sink)(std::string_view(data, length))) return 0;
    } catch (...) {
        transfer->failure = std::current_exception();
        return 0;
    }
    return length;
}

// The address as WinINet's URL-open sends it, where libcurl would refuse it
// or send another path: tabs dropped and trailing blanks cut; after the
// host, blanks sent as %20 and backslashes as slashes. A %XX already there
// stays as it is.
std::string AsWinInetSendsIt(std::string_view address) {
    std::string url;
    for (const char c : address)
        if (c != '\t') url += c;
    while (!url.empty() && url.back() == ' ') url.pop_back();
    const size_t scheme = url.find("://");
    const size_t path = url.find_first_of("/?#\\", scheme == std::string::npos ? 0 : scheme + 3);
    if (path == std::string::npos) return url;
    std::string sent = url.substr(0, path);
    for (size_t i = path; i < url.size(); ++i) {
        if (url[i] == ' ') {
            sent += "%20";
        } else {
            sent += url[i] == '\\' ? '/' : url[i];
        }
    }
    return sent;
}

}  // namespace

bool HttpGet(std::string_view address, const HttpBodySink& sink) {
    posix::CurlHandle curl = posix::NewCurl();
    if (!curl) return false;
    const posix::CurlLibrary& lib = *posix::Curl();
    // A reload: caches between us and the server must ask the server.
    posix::CurlList headers(lib.slist_append(nullptr, "Pragma: no-cache"));
    if (!headers) return false;
    if (curl_slist* more = lib.slist_append(headers.get(), "Cache-Control: no-cache")) {
        headers.release();
        headers.reset(more);
    } else {
        return false;
    }

    const platform::TimeLimits limits = CurrentTimeLimits();
    const std::string url = AsWinInetSendsIt(address);
    Transfer transfer{&sink, false, nullptr};
    CURL* c = curl.get();
    bool ok = posix::CurlSet(c, CURLOPT_URL, url.c_str()) == CURLE_OK;
    ok = ok && posix::CurlSet(c, CURLOPT_PROTOCOLS_STR, "http,https") == CURLE_OK;
    ok = ok && posix::CurlSet(c, CURLOPT_REDIR_PROTOCOLS_STR, "http,https") == CURLE_OK;
    // Redirects are followed, as the URL-open call does.
    ok = ok && posix::CurlSet(c, CURLOPT_FOLLOWLOCATION, 1L) == CURLE_OK;
    ok = ok && posix::CurlSet(c, CURLOPT_MAXREDIRS, 10L) == CURLE_OK;
    ok = ok && posix::CurlSet(c, CURLOPT_PROXY, "") == CURLE_OK;
    ok = ok && posix::CurlSet(c, CURLOPT_NOPROXY, "*") == CURLE_OK;
    ok = ok && posix::CurlSet(c, CURLOPT_NOSIGNAL, 1L) == CURLE_OK;
    ok = ok && posix::CurlSet(c, CURLOPT_FORBID_REUSE, 1L) == CURLE_OK;
    ok = ok && posix::CurlSet(c, CURLOPT_USERAGENT, "http generic") == CURLE_OK;
    ok = ok && posix::CurlSet(c, CURLOPT_HTTPHEADER, headers.get()) == CURLE_OK;
    ok = ok && posix::CurlSet(c, CURLOPT_BUFFERSIZE, static_cast<long>(kHttpReadSize)) == CURLE_OK;
    ok = ok && posix::CurlSet(c, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(limits.connect.count())) == CURLE_OK;
    ok = ok && posix::CurlSet(c, CURLOPT_TIMEOUT_MS, static_cast<long>(limits.total.count())) == CURLE_OK;
    ok = ok && posix::CurlSet(c, CURLOPT_WRITEFUNCTION, &OnBody) == CURLE_OK;
    ok = ok && posix::CurlSet(c, CURLOPT_WRITEDATA, &transfer) == CURLE_OK;
    if (!ok) return false;

    const CURLcode code = lib.easy_perform(c);
    if (transfer.failure) std::rethrow_exception(transfer.failure);
    // A failure after the response began (a cut connection, the time-out, the
    // sink's stop) ends the body where it got to, as a failed read does.
    if (code == CURLE_OK || transfer.received) return true;
    long status = 0;
    lib.easy_getinfo(c, CURLINFO_RESPONSE_CODE, &status);
    return status != 0;
}

}  // namespace quorvel::platform
